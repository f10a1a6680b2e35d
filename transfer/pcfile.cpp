// The PC file seam (see pcfile.h): Win32 calls on Windows, POSIX calls
// elsewhere. Handles are the system's own (a HANDLE or a descriptor) held in
// an intptr_t.
// Calls only the operating system.
#include "transfer/pcfile.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace verrin {

#ifdef _WIN32

namespace {

HANDLE toHandle(PcHandle h) { return reinterpret_cast<HANDLE>(h); }

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t fileTimeEpoch = 116444736000000000LL;

}  // namespace

PcHandle pcOpenRead(const char* name)
{
    HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    return h == INVALID_HANDLE_VALUE ? noPcFile : reinterpret_cast<PcHandle>(h);
}

PcHandle pcCreate(const char* name)
{
    HANDLE h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    return h == INVALID_HANDLE_VALUE ? noPcFile : reinterpret_cast<PcHandle>(h);
}

int32_t pcRead(PcHandle file, void* buffer, uint32_t count)
{
    DWORD got = 0;
    if (!ReadFile(toHandle(file), buffer, count, &got, nullptr)) return -1;
    return static_cast<int32_t>(got);
}

int32_t pcWrite(PcHandle file, const void* buffer, uint32_t count)
{
    DWORD put = 0;
    if (!WriteFile(toHandle(file), buffer, count, &put, nullptr)) {
        const DWORD e = GetLastError();
        return e == ERROR_DISK_FULL || e == ERROR_HANDLE_DISK_FULL ? static_cast<int32_t>(put) : -1;
    }
    return static_cast<int32_t>(put);
}

bool pcClose(PcHandle file) { return file != noPcFile && CloseHandle(toHandle(file)) != 0; }

bool pcDelete(const char* name) { return DeleteFileA(name) != 0; }

bool pcRename(const char* from, const char* to) { return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0; }

bool pcFileTaken(const char* name)
{
    HANDLE h = CreateFileA(name, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

bool pcExists(const char* name) { return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES; }

bool pcIsDirectory(const char* name)
{
    const DWORD a = GetFileAttributesA(name);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool pcFileSize(const char* name, uint64_t& bytes)
{
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &d)) return false;
    bytes = static_cast<uint64_t>(d.nFileSizeHigh) << 32 | d.nFileSizeLow;
    return true;
}

bool pcGetModTime(const char* name, int64_t& seconds)
{
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &d)) return false;
    const int64_t t = static_cast<int64_t>(static_cast<uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32 |
                                           d.ftLastWriteTime.dwLowDateTime);
    seconds = (t - fileTimeEpoch) / 10000000;
    return true;
}

bool pcSetModTime(const char* name, int64_t seconds)
{
    HANDLE h = CreateFileA(name, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const uint64_t t = static_cast<uint64_t>(seconds * 10000000 + fileTimeEpoch);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    const bool ok = SetFileTime(h, nullptr, &ft, &ft) != 0;
    CloseHandle(h);
    return ok;
}

bool pcChangeDirectory(const char* path) { return SetCurrentDirectoryA(path) != 0; }

bool pcCurrentDirectory(char* buffer, uint32_t size)
{
    const DWORD n = GetCurrentDirectoryA(size, buffer);
    return n > 0 && n < size;
}

bool pcListDirectory(std::vector<PcDirEntry>& entries)
{
    entries.clear();
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA("*.*", &found);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        PcDirEntry e;
        e.name = found.cFileName;
        e.isDirectory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        e.isLink = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        e.size = static_cast<uint64_t>(found.nFileSizeHigh) << 32 | found.nFileSizeLow;
        e.modified = static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32 |
                     found.ftLastWriteTime.dwLowDateTime;
        entries.push_back(std::move(e));
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return true;
}

bool pcMakeDirectory(const char* name) { return CreateDirectoryA(name, nullptr) != 0; }

bool pcRemoveDirectory(const char* name) { return RemoveDirectoryA(name) != 0; }

bool pcMove(const char* from, const char* to) { return MoveFileA(from, to) != 0; }

std::vector<PcDrive> pcDrives()
{
    std::vector<PcDrive> drives;
    char roots[257] = {};
    const DWORD n = GetLogicalDriveStringsA(256, roots);
    if (n == 0 || n > 256) return drives;
    for (const char* root = roots; *root; root += std::strlen(root) + 1)
        drives.push_back({root, static_cast<int>(GetDriveTypeA(root))});
    return drives;
}

bool pcChangeDrive(char letter)
{
    const char drive[3] = {letter, ':', '\0'};
    return SetCurrentDirectoryA(drive) != 0 && SetCurrentDirectoryA(".") != 0;
}

bool pcFreeSpace(double& freeBytes, double& totalBytes)
{
    ULARGE_INTEGER available, total, free;
    if (!GetDiskFreeSpaceExA(nullptr, &available, &total, &free)) return false;
    freeBytes = static_cast<double>(available.QuadPart);
    totalBytes = static_cast<double>(total.QuadPart);
    return true;
}

#else

namespace {

int toFd(PcHandle h) { return static_cast<int>(h); }

}  // namespace

PcHandle pcOpenRead(const char* name)
{
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return noPcFile;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return noPcFile;
    }
    return fd;
}

PcHandle pcCreate(const char* name)
{
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? noPcFile : fd;
}

int32_t pcRead(PcHandle file, void* buffer, uint32_t count)
{
    for (;;) {
        const ssize_t n = ::read(toFd(file), buffer, count);
        if (n >= 0) return static_cast<int32_t>(n);
        if (errno != EINTR) return -1;
    }
}

int32_t pcWrite(PcHandle file, const void* buffer, uint32_t count)
{
    const auto* p = static_cast<const uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(toFd(file), p + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == ENOSPC || errno == EDQUOT) return static_cast<int32_t>(done);
            return -1;
        }
        if (n == 0) break;
        done += static_cast<uint32_t>(n);
    }
    return static_cast<int32_t>(done);
}

bool pcClose(PcHandle file) { return file != noPcFile && ::close(toFd(file)) == 0; }

bool pcDelete(const char* name) { return ::unlink(name) == 0; }

bool pcRename(const char* from, const char* to) { return ::rename(from, to) == 0; }

bool pcFileTaken(const char* name)
{
    const PcHandle h = pcOpenRead(name);
    if (h == noPcFile) return false;
    pcClose(h);
    return true;
}

bool pcExists(const char* name)
{
    struct stat st;
    return ::stat(name, &st) == 0;
}

bool pcIsDirectory(const char* name)
{
    struct stat st;
    return ::stat(name, &st) == 0 && S_ISDIR(st.st_mode);
}

bool pcFileSize(const char* name, uint64_t& bytes)
{
    struct stat st;
    if (::stat(name, &st) != 0) return false;
    bytes = static_cast<uint64_t>(st.st_size);
    return true;
}

bool pcGetModTime(const char* name, int64_t& seconds)
{
    struct stat st;
    if (::stat(name, &st) != 0) return false;
    seconds = static_cast<int64_t>(st.st_mtime);
    return true;
}

bool pcSetModTime(const char* name, int64_t seconds)
{
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, name, times, 0) == 0;
}

bool pcChangeDirectory(const char* path) { return ::chdir(path) == 0; }

bool pcCurrentDirectory(char* buffer, uint32_t size) { return ::getcwd(buffer, size) != nullptr; }

namespace {

// 100-ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t fileTimeEpoch = 116444736000000000LL;

uint64_t fileTimeOf(const struct timespec& t)
{
    const int64_t ticks = static_cast<int64_t>(t.tv_sec) * 10000000 + t.tv_nsec / 100 + fileTimeEpoch;
    return ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
}

}  // namespace

bool pcListDirectory(std::vector<PcDirEntry>& entries)
{
    entries.clear();
    DIR* d = ::opendir(".");
    if (!d) return false;
    while (const dirent* de = ::readdir(d)) {
        PcDirEntry e{de->d_name, false, false, 0, 0};
        struct stat st;
        if (::lstat(de->d_name, &st) != 0) continue;  // gone meanwhile
        if (S_ISLNK(st.st_mode)) {
            e.isLink = true;
            struct stat target;
            if (::stat(de->d_name, &target) == 0 && S_ISDIR(target.st_mode)) e.isDirectory = true;
        }
        e.isDirectory = e.isDirectory || S_ISDIR(st.st_mode);
        if (!e.isDirectory) e.size = static_cast<uint64_t>(st.st_size);
        e.modified = fileTimeOf(st.st_mtim);
        entries.push_back(std::move(e));
    }
    ::closedir(d);
    return true;
}

bool pcMakeDirectory(const char* name) { return ::mkdir(name, 0777) == 0; }

bool pcRemoveDirectory(const char* name)
{
    struct stat st;
    if (::lstat(name, &st) == 0 && S_ISLNK(st.st_mode)) return ::unlink(name) == 0;
    return ::rmdir(name) == 0;
}

bool pcMove(const char* from, const char* to)
{
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace flag: test first.
    struct stat st;
    if (::lstat(to, &st) == 0) return false;
    return ::rename(from, to) == 0;
}

std::vector<PcDrive> pcDrives() { return {{"/", pcDriveFixed}}; }

bool pcChangeDrive(char letter) { return letter == '/'; }

bool pcFreeSpace(double& freeBytes, double& totalBytes)
{
    struct statvfs fs;
    if (::statvfs(".", &fs) != 0) return false;
    freeBytes = static_cast<double>(fs.f_bavail) * static_cast<double>(fs.f_frsize);
    totalBytes = static_cast<double>(fs.f_blocks) * static_cast<double>(fs.f_frsize);
    return true;
}

#endif

std::string pcCurrentDirectory()
{
    std::vector<char> buffer(4096);
    for (int tries = 0; tries < 4; ++tries) {
        if (pcCurrentDirectory(buffer.data(), static_cast<uint32_t>(buffer.size()))) return buffer.data();
        buffer.resize(buffer.size() * 4);
    }
    return {};
}

}  // namespace verrin
