// Plain files read and written at byte offsets, for the disk-image drives,
// the rollback journal and the remembered verdicts of the checks, and the
// stamps that tell one version of a file from another (also for the
// profile reader):
// positioned reads and writes (no stream buffer, no file position shared
// between calls), the length, a sync that puts what was written on stable
// storage, the sync of a folder that makes a file's creation or removal
// stable, a file's stamp (what any write to it changes), and the folder for
// the user's cached data. POSIX calls, or Win32 calls on Windows. Handles are the system's own (a descriptor or a HANDLE) held in
// an intptr_t. Calls only the operating system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

// What a file's metadata says about its present contents: any write to the
// file, by any program, changes the times (and a copy or a replacement the
// identity). Times are in the system's own units and epoch.
struct FileStamp {
    uint64_t device;   // the file system that holds the file
    uint64_t file;     // the file's number on it
    uint64_t bytes;
    int64_t modified;  // last write
    int64_t changed;   // last change of contents or attributes
    bool operator==(const FileStamp&) const = default;
};
bool rawFileStamp(RawFile file, FileStamp& stamp);
// The same record for the file at `path`, taken without opening it for
// reading (another program's lock does not stop it); false when there is
// no such file.
bool rawPathStamp(const char* path, FileStamp& stamp);
// True when the next write to the file is sure to change its times: they
// are finer than a millisecond (a file system that keeps whole seconds or
// coarser steps could give the next write the same time), and the clock the
// system stamps files with has moved a millisecond past them. Waits up to
// `maxPauseMilliseconds` for that clock.
bool rawFileStampSettled(const FileStamp& stamp, int maxPauseMilliseconds);
// Makes the next write to the file sure to change its stamp, without
// waiting for the clock: sets its modification time one step (a
// nanosecond; 100 ns on Windows) before the one it has, which moves its
// change time to the present, and gives the stamp after. A write takes
// its modification time from the system's clock, at or after that change
// time, so it cannot leave a modification time earlier than the change
// time as it is, even within the clock's tick. True only when the file
// then has exactly the time set and it is earlier than its change time;
// false when the time could not be set (a file of another owner), was
// rounded (a file system with coarser times) or the change time is not
// later (a clock set back): the file's times may then have changed, and
// nothing is vouched for.
bool sealRawFileStamp(RawFile file, FileStamp& stamp);

// The program's folder for the user's cached data: $XDG_CACHE_HOME/verrin
// or ~/.cache/verrin on POSIX, %LOCALAPPDATA%\\Verrin on Windows. Empty when
// the environment names none.
std::string userCacheFolder();

}  // namespace verrin
