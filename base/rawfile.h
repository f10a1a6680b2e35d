// Plain files read and written at byte offsets, for the disk-image drives
// and the rollback journal: positioned reads and writes (no stream buffer,
// no file position shared between calls), the length, a sync that puts
// what was written on stable storage, and the sync of a folder that makes
// a file's creation or removal stable. POSIX calls, or Win32 calls on
// Windows. Handles are the system's own (a descriptor or a HANDLE) held in
// an intptr_t. Calls only the operating system.
#pragma once

#include <cstddef>
#include <cstdint>

namespace verrin {

using RawFile = intptr_t;
constexpr RawFile noRawFile = -1;

enum class RawOpen : uint8_t {
    read,       // an existing file, for reading
    update,     // an existing file, for reading and writing
    replace,    // created, or emptied when it exists, for writing
};

RawFile openRawFile(const char* path, RawOpen mode);
void closeRawFile(RawFile file);

// Reads up to `bytes` bytes at `offset`; returns how many were read (fewer
// only at the end of the file), or -1 on an error.
int64_t readRawAt(RawFile file, void* buffer, size_t bytes, uint64_t offset);
// Writes all `bytes` bytes at `offset`; false on an error.
bool writeRawAt(RawFile file, const void* buffer, size_t bytes, uint64_t offset);

// Length in bytes (0 when it cannot be told).
uint64_t rawFileLength(RawFile file);
// Puts everything written to the file on stable storage.
bool syncRawFile(RawFile file);

bool rawFileExists(const char* path);
bool removeRawFile(const char* path);
// Makes the creation or removal of files in the folder that holds `path`
// stable (a no-op where the file system keeps that in order itself).
bool syncFolderOf(const char* path);

}  // namespace verrin
