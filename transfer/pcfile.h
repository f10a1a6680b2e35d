// The PC file seam: the few file-system calls the transfer layer makes on
// the PC side. Names are Windows ANSI strings relative to the process's
// current directory, on every system. On Windows they go to the system as
// they are; elsewhere the system's names are UTF-8, and the seam converts:
// each of the 256 ANSI bytes has its own Unicode character (the five that
// Windows leaves undefined take the control characters of the same code),
// so an ANSI name always reaches the file it names. A system name with a
// character the ANSI set lacks, or one that Windows names cannot hold, has
// that character as "_" in its ANSI form; the seam remembers the real name
// beside it, so the calls below still reach the file.
// Each call reports success or failure only; the callers choose the error
// code. One implementation serves POSIX systems, a twin the Win32 API.
// Calls the operating system and the UTF-8 encoding of base/macroman.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace verrin {

// An open PC file; noPcFile when none.
using PcHandle = intptr_t;
constexpr PcHandle noPcFile = -1;

// What opening a file for reading learns about it, as the system had it at
// the open; `known` is false when the system could not tell.
struct PcFileFacts {
    bool known;
    uint64_t size;     // bytes
    int64_t modified;  // last-write time in seconds since 1970-01-01 UTC
};
// Opens an existing file for reading, others may read it meanwhile; fills
// `facts` when given.
PcHandle pcOpenRead(const char* name, PcFileFacts* facts = nullptr);
// Creates a file for writing, replacing one that exists, others may read it.
PcHandle pcCreate(const char* name);
// Creates a file for writing only when nothing has that name yet; noPcFile
// otherwise.
PcHandle pcCreateNew(const char* name);
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

// The ANSI name of a name or path as the system spells it (a command-line
// argument, a directory entry), and back: the name the system sees for an
// ANSI name or path. Both are the identity on Windows.
std::string pcNameFromHost(std::string_view hostName);
std::string pcHostName(std::string_view pcName);

// The current directory and changing it (the PC pane's position).
bool pcChangeDirectory(const char* path);
bool pcCurrentDirectory(char* buffer, uint32_t size);
// The same as a string; empty when it cannot be read.
std::string pcCurrentDirectory();

// Separates the names of a path; a full path starts with its drive's root
// ("C:\" on Windows, "/" elsewhere).
#ifdef _WIN32
inline constexpr char pcPathSeparator = '\\';
#else
inline constexpr char pcPathSeparator = '/';
#endif

// One entry of a directory as the system lists it.
struct PcDirEntry {
    std::string name;
    bool isDirectory;  // a directory, or a link to one
    bool isLink;       // a symbolic link or junction: tree walks do not follow it
    bool isFile;       // a regular file, or a link to one
    uint64_t size;     // files: bytes
    uint64_t modified; // last-write time as a system file time (100 ns since 1601, UTC)
};
// Lists the current directory, "." and ".." included when the system gives
// them; false when it cannot be read.
bool pcListDirectory(std::vector<PcDirEntry>& entries);

bool pcMakeDirectory(const char* name);
// Removes an empty directory, or a link to a directory (the link itself,
// never what it points to).
bool pcRemoveDirectory(const char* name);
// Renames a file or directory; fails, changing nothing, when the new name
// exists already.
bool pcMove(const char* from, const char* to);

// The system's drive types.
enum PcDriveType : int {
    pcDriveUnknown = 0,
    pcDriveNoRoot = 1,
    pcDriveRemovable = 2,
    pcDriveFixed = 3,
    pcDriveRemote = 4,
    pcDriveCdrom = 5,
    pcDriveRamDisk = 6,
};
struct PcDrive {
    std::string root;  // "C:\"; "/" on systems without drive letters
    int type;          // PcDriveType
};
// Every logical drive in the system's order.
std::vector<PcDrive> pcDrives();
// Makes the drive whose root starts with `letter` current, in the directory
// the system remembers for it. Systems with one root ("/") stay where they are.
bool pcChangeDrive(char letter);
// Free and total bytes of the current directory's drive; false when the
// system cannot tell.
bool pcFreeSpace(double& freeBytes, double& totalBytes);

}  // namespace verrin
