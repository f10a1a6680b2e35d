// Files at byte offsets (see rawfile.h): Win32 calls on Windows, POSIX calls
// elsewhere. Calls only the operating system.
#include "base/rawfile.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace verrin {

#ifdef _WIN32

namespace {

HANDLE toHandle(RawFile f) { return reinterpret_cast<HANDLE>(f); }

OVERLAPPED at(uint64_t offset)
{
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(offset);
    o.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return o;
}

// One Win32 call moves at most this much.
constexpr size_t maxCall = 1u << 30;

}  // namespace

RawFile openRawFile(const char* path, RawOpen mode)
{
    const DWORD access = mode == RawOpen::read ? GENERIC_READ
                         : mode == RawOpen::update ? GENERIC_READ | GENERIC_WRITE
                                                   : GENERIC_WRITE;
    const DWORD disposition = mode == RawOpen::replace ? CREATE_ALWAYS : OPEN_EXISTING;
    HANDLE h = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? noRawFile : reinterpret_cast<RawFile>(h);
}

void closeRawFile(RawFile file)
{
    if (file != noRawFile) CloseHandle(toHandle(file));
}

int64_t readRawAt(RawFile file, void* buffer, size_t bytes, uint64_t offset)
{
    size_t done = 0;
    while (done < bytes) {
        OVERLAPPED o = at(offset + done);
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(bytes - done < maxCall ? bytes - done : maxCall);
        if (!ReadFile(toHandle(file), static_cast<uint8_t*>(buffer) + done, want, &got, &o)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<int64_t>(done);
}

bool writeRawAt(RawFile file, const void* buffer, size_t bytes, uint64_t offset)
{
    size_t done = 0;
    while (done < bytes) {
        OVERLAPPED o = at(offset + done);
        DWORD put = 0;
        const DWORD want = static_cast<DWORD>(bytes - done < maxCall ? bytes - done : maxCall);
        if (!WriteFile(toHandle(file), static_cast<const uint8_t*>(buffer) + done, want, &put, &o) || put == 0)
            return false;
        done += put;
    }
    return true;
}

uint64_t rawFileLength(RawFile file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(toHandle(file), &size) || size.QuadPart < 0) return 0;
    return static_cast<uint64_t>(size.QuadPart);
}

bool syncRawFile(RawFile file) { return FlushFileBuffers(toHandle(file)) != 0; }

bool rawFileExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool removeRawFile(const char* path) { return DeleteFileA(path) != 0; }

// NTFS logs the folder entries with the file's own flush.
bool syncFolderOf(const char*) { return true; }

bool rawFileStamp(RawFile file, FileStamp& stamp)
{
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!GetFileInformationByHandle(toHandle(file), &info) ||
        !GetFileInformationByHandleEx(toHandle(file), FileBasicInfo, &basic, sizeof basic))
        return false;
    stamp.device = info.dwVolumeSerialNumber;
    stamp.file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    stamp.bytes = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    stamp.modified = basic.LastWriteTime.QuadPart;
    stamp.changed = basic.ChangeTime.QuadPart;
    return true;
}

bool rawPathStamp(const char* path, FileStamp& stamp)
{
    // Asking for the attributes only is never refused by another
    // program's sharing mode.
    HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool told = rawFileStamp(reinterpret_cast<RawFile>(h), stamp);
    CloseHandle(h);
    return told;
}

bool sealRawFileStamp(RawFile file, FileStamp& stamp)
{
    FileStamp before;
    if (!rawFileStamp(file, before)) return false;
    const int64_t sealedTime = before.modified - 1;
    FILETIME written;
    written.dwLowDateTime = static_cast<DWORD>(static_cast<uint64_t>(sealedTime));
    written.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(sealedTime) >> 32);
    return SetFileTime(toHandle(file), nullptr, nullptr, &written) && rawFileStamp(file, stamp) &&
           stamp.modified == sealedTime && stamp.modified < stamp.changed;
}

namespace {

// File times count 100-nanosecond steps, taken from the system time.
constexpr int64_t timeStepsPerMillisecond = 10000;

int64_t fileClockNow()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return static_cast<int64_t>((uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime);
}

void pauseOneMillisecond() { Sleep(1); }

}  // namespace

std::string userCacheFolder()
{
    const char* local = std::getenv("LOCALAPPDATA");
    return local && *local ? std::string(local) + "\\Verrin" : std::string();
}

#else

RawFile openRawFile(const char* path, RawOpen mode)
{
    const int flags = mode == RawOpen::read     ? O_RDONLY
                      : mode == RawOpen::update ? O_RDWR
                                                : O_WRONLY | O_CREAT | O_TRUNC;
    int fd;
    do {
        fd = ::open(path, flags | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? noRawFile : static_cast<RawFile>(fd);
}

void closeRawFile(RawFile file)
{
    if (file != noRawFile) ::close(static_cast<int>(file));
}

int64_t readRawAt(RawFile file, void* buffer, size_t bytes, uint64_t offset)
{
    size_t done = 0;
    while (done < bytes) {
        const ssize_t got =
            ::pread(static_cast<int>(file), static_cast<uint8_t*>(buffer) + done, bytes - done,
                    static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool writeRawAt(RawFile file, const void* buffer, size_t bytes, uint64_t offset)
{
    size_t done = 0;
    while (done < bytes) {
        const ssize_t put =
            ::pwrite(static_cast<int>(file), static_cast<const uint8_t*>(buffer) + done, bytes - done,
                     static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (put == 0) return false;
        done += static_cast<size_t>(put);
    }
    return true;
}

uint64_t rawFileLength(RawFile file)
{
    struct stat st;
    if (::fstat(static_cast<int>(file), &st) != 0 || st.st_size < 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

bool syncRawFile(RawFile file)
{
    int r;
    do {
        r = ::fdatasync(static_cast<int>(file));
    } while (r != 0 && errno == EINTR);
    return r == 0;
}

bool rawFileExists(const char* path)
{
    struct stat st;
    return ::stat(path, &st) == 0;
}

bool removeRawFile(const char* path) { return ::unlink(path) == 0; }

bool syncFolderOf(const char* path)
{
    std::string folder = path;
    const size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    int r;
    do {
        r = ::fsync(fd);
    } while (r != 0 && errno == EINTR);
    ::close(fd);
    return r == 0;
}

namespace {

void stampFrom(const struct stat& st, FileStamp& stamp)
{
    stamp.device = static_cast<uint64_t>(st.st_dev);
    stamp.file = static_cast<uint64_t>(st.st_ino);
    stamp.bytes = static_cast<uint64_t>(st.st_size);
    stamp.modified = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changed = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
}

}  // namespace

bool rawFileStamp(RawFile file, FileStamp& stamp)
{
    struct stat st;
    if (::fstat(static_cast<int>(file), &st) != 0) return false;
    stampFrom(st, stamp);
    return true;
}

bool rawPathStamp(const char* path, FileStamp& stamp)
{
    struct stat st;
    if (::stat(path, &st) != 0) return false;
    stampFrom(st, stamp);
    return true;
}

bool sealRawFileStamp(RawFile file, FileStamp& stamp)
{
    constexpr int64_t nanosecondsPerSecond = 1000000000;
    FileStamp before;
    if (!rawFileStamp(file, before)) return false;
    const int64_t sealedTime = before.modified - 1;
    timespec times[2]{};
    times[0].tv_nsec = UTIME_OMIT;  // the access time stays
    times[1].tv_sec = static_cast<time_t>(sealedTime / nanosecondsPerSecond);
    times[1].tv_nsec = static_cast<long>(sealedTime % nanosecondsPerSecond);
    if (times[1].tv_nsec < 0) {
        times[1].tv_nsec += nanosecondsPerSecond;
        --times[1].tv_sec;
    }
    return ::futimens(static_cast<int>(file), times) == 0 && rawFileStamp(file, stamp) &&
           stamp.modified == sealedTime && stamp.modified < stamp.changed;
}

namespace {

// File times count nanoseconds; Linux takes them from its coarse clock
// (a later write may get the time an earlier one got within one tick).
constexpr int64_t timeStepsPerMillisecond = 1000000;

int64_t fileClockNow()
{
#ifdef CLOCK_REALTIME_COARSE
    constexpr clockid_t fileClock = CLOCK_REALTIME_COARSE;
#else
    constexpr clockid_t fileClock = CLOCK_REALTIME;
#endif
    timespec now{};
    ::clock_gettime(fileClock, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void pauseOneMillisecond()
{
    const timespec pause{0, 1000000};
    ::nanosleep(&pause, nullptr);
}

}  // namespace

std::string userCacheFolder()
{
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && *cache == '/') return std::string(cache) + "/verrin";
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.cache/verrin" : std::string();
}

#endif

bool rawFileStampSettled(const FileStamp& stamp, int maxPauseMilliseconds)
{
    if (stamp.modified % timeStepsPerMillisecond == 0 || stamp.changed % timeStepsPerMillisecond == 0) return false;
    const int64_t settled = std::max(stamp.modified, stamp.changed) + timeStepsPerMillisecond;
    for (int paused = 0; fileClockNow() < settled; ++paused) {
        if (paused >= maxPauseMilliseconds) return false;
        pauseOneMillisecond();
    }
    return true;
}

}  // namespace verrin
