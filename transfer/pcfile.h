// The PC file seam: the few file-system calls the transfer layer makes on
// the PC side. Names are relative to the process's current directory (ANSI
// names on Windows, UTF-8 paths elsewhere) and are passed through as they
// are. Each call reports success or failure only; the callers choose the
// error code. One implementation serves POSIX systems, a twin the Win32 API.
// Calls only the operating system.
#pragma once

#include <cstdint>

namespace verrin {

// An open PC file; noPcFile when none.
using PcHandle = intptr_t;
constexpr PcHandle noPcFile = -1;

// Opens an existing file for reading, others may read it meanwhile.
PcHandle pcOpenRead(const char* name);
// Creates a file for writing, replacing one that exists, others may read it.
PcHandle pcCreate(const char* name);
// Reads up to `count` bytes; the bytes read (0 at the end), -1 on failure.
int32_t pcRead(PcHandle file, void* buffer, uint32_t count);
// Writes `count` bytes; the bytes written (0 when the disk is full), -1 on
// another failure.
int32_t pcWrite(PcHandle file, const void* buffer, uint32_t count);
// Closes the file; false when the last data could not be written.
bool pcClose(PcHandle file);
bool pcDelete(const char* name);
// Renames a file, replacing a file that has the new name.
bool pcRename(const char* from, const char* to);

// True when a regular file of that name exists and could be opened for
// reading with no sharing: a directory, or a file another program holds
// locked, counts as absent.
bool pcFileTaken(const char* name);
// True when anything (file or directory) of that name exists.
bool pcExists(const char* name);
bool pcIsDirectory(const char* name);
// Length of a file in bytes; false when it cannot be read.
bool pcFileSize(const char* name, uint64_t& bytes);

// Last-write time in seconds since 1970-01-01 UTC; false when it cannot be
// read.
bool pcGetModTime(const char* name, int64_t& seconds);
// Sets both the last-access and the last-write time.
bool pcSetModTime(const char* name, int64_t seconds);

// The current directory and changing it (the PC pane's position).
bool pcChangeDirectory(const char* path);
bool pcCurrentDirectory(char* buffer, uint32_t size);

}  // namespace verrin
