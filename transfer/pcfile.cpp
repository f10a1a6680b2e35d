// The PC file seam (see pcfile.h): Win32 calls on Windows, POSIX calls
// elsewhere, where ANSI names are converted to and from the system's UTF-8.
// Handles are the system's own (a HANDLE or a descriptor) held in an
// intptr_t.
// Calls the operating system and the UTF-8 encoding of base/macroman.h.
#include "transfer/pcfile.h"

#include <cstring>

#include "base/format.h"
#include "base/macroman.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <vector>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace verrin {

// Times cross the seam as FILETIME values: 100-ns intervals since
// 1601-01-01 (fileTimeOf1970 of base/format.h lies at 1970-01-01).

#ifdef _WIN32

namespace {

HANDLE toHandle(PcHandle h) { return reinterpret_cast<HANDLE>(h); }

int64_t secondsOfFileTime(const FILETIME& time)
{
    const int64_t t = static_cast<int64_t>(static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime);
    return (t - fileTimeOf1970) / fileTimeUnitsPerSecond;
}

PcHandle createForWriting(const char* name, DWORD disposition)
{
    HANDLE h = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? noPcFile : reinterpret_cast<PcHandle>(h);
}

}  // namespace

PcHandle pcOpenRead(const char* name, PcFileFacts* facts)
{
    HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return noPcFile;
    if (facts) {
        BY_HANDLE_FILE_INFORMATION info;
        *facts = PcFileFacts{};
        if (GetFileInformationByHandle(h, &info)) {
            facts->known = true;
            facts->size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
            facts->modified = secondsOfFileTime(info.ftLastWriteTime);
        }
    }
    return reinterpret_cast<PcHandle>(h);
}

PcHandle pcCreate(const char* name) { return createForWriting(name, CREATE_ALWAYS); }

PcHandle pcCreateNew(const char* name) { return createForWriting(name, CREATE_NEW); }

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
    seconds = secondsOfFileTime(d.ftLastWriteTime);
    return true;
}

bool pcSetModTime(const char* name, int64_t seconds)
{
    HANDLE h = CreateFileA(name, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const uint64_t t = static_cast<uint64_t>(seconds * fileTimeUnitsPerSecond + fileTimeOf1970);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    const bool ok = SetFileTime(h, nullptr, &ft, &ft) != 0;
    CloseHandle(h);
    return ok;
}

std::string pcNameFromHost(std::string_view hostName) { return std::string(hostName); }
std::string pcHostName(std::string_view pcName) { return std::string(pcName); }

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
        e.isFile = !e.isDirectory;
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

// The Unicode characters of ANSI bytes 0x80..0x9F (Windows-1252); 0xA0 and
// above are the Latin-1 characters of the same code. The five bytes that
// Windows leaves undefined map to the control characters of their code.
constexpr uint16_t ansiHighChars[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t unicodeOfAnsi(uint8_t c) { return c >= 0x80 && c < 0xA0 ? ansiHighChars[c - 0x80] : c; }

// The ANSI byte of a Unicode character; false when the set lacks it.
bool ansiOfUnicode(uint32_t u, uint8_t& c)
{
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
        c = static_cast<uint8_t>(u);
        return true;
    }
    for (uint8_t i = 0; i < 32; ++i)
        if (ansiHighChars[i] == u) {
            c = static_cast<uint8_t>(0x80 + i);
            return true;
        }
    return false;
}

// Characters that a Windows file name cannot hold.
bool refusedByWindows(uint8_t c)
{
    return c < 0x20 || std::string_view("\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos;
}

// One name as the system spells it, in ANSI; `exact` is cleared when a
// character had to become "_".
std::string ansiOfHostName(std::string_view host, bool& exact)
{
    std::string out;
    exact = true;
    for (size_t at = 0; at < host.size();) {
        uint32_t u = 0;
        uint8_t c = 0;
        if (nextUtf8(host, at, u) && ansiOfUnicode(u, c) && !refusedByWindows(c)) {
            out += static_cast<char>(c);
        } else {
            out += '_';
            exact = false;
        }
    }
    return out;
}

std::string hostOfAnsiName(std::string_view ansi)
{
    std::string out;
    for (const char ch : ansi) appendUtf8(out, unicodeOfAnsi(static_cast<uint8_t>(ch)));
    return out;
}

// The real names behind ANSI names that had to change: the system path of
// the directory that holds the file, its ANSI name and its real name.
struct Alias {
    std::string directory;
    std::string ansi;
    std::string host;
};
std::vector<Alias> aliases;

const Alias* findAlias(const std::string& directory, std::string_view ansi)
{
    for (const Alias& a : aliases)
        if (a.ansi == ansi && a.directory == directory) return &a;
    return nullptr;
}

std::string currentHostDirectory()
{
    char buffer[4096];
    return ::getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

// Calls `each(directory, name, last)` for the names of a path in order,
// with the system path of the directory that holds each; `each` returns the
// name as the system spells it.
template <typename Each>
void walkPath(std::string_view path, Each each)
{
    std::string directory = !path.empty() && path[0] == '/' ? std::string("/") : currentHostDirectory();
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        const std::string host = each(directory, path.substr(start, end - start), end == path.size());
        if (!host.empty()) {
            if (directory.empty() || directory.back() != '/') directory += '/';
            directory += host;
        }
        start = end + 1;
    }
}

// The system's spelling of an ANSI name or path.
std::string hostPath(const char* name)
{
    const std::string_view ansi(name);
    if (aliases.empty()) return hostOfAnsiName(ansi);
    std::string out;
    walkPath(ansi, [&](const std::string& directory, std::string_view part, bool last) {
        const Alias* alias = part.empty() ? nullptr : findAlias(directory, part);
        std::string host = alias ? alias->host : hostOfAnsiName(part);
        out += host;
        if (!last) out += '/';
        return host;
    });
    return out;
}

}  // namespace

std::string pcNameFromHost(std::string_view hostName)
{
    // A single name the ANSI set spells exactly stands for itself: no alias,
    // so no need for the directory that holds it.
    if (hostName.find('/') == std::string_view::npos) {
        bool exact = true;
        std::string ansi = ansiOfHostName(hostName, exact);
        if (exact) return ansi;
    }
    std::string out;
    walkPath(hostName, [&](const std::string& directory, std::string_view part, bool last) {
        bool exact = true;
        std::string ansi = ansiOfHostName(part, exact);
        if (!exact) {
            // The ANSI name stands for this file alone: another file of the
            // directory whose name turned into the same one gets "~2", "~3"
            // and so on before its extension.
            const std::string base = ansi;
            for (int n = 2;; ++n) {
                const Alias* alias = findAlias(directory, ansi);
                if (!alias) {
                    aliases.push_back({directory, ansi, std::string(part)});
                    break;
                }
                if (alias->host == part) break;
                const size_t dot = base.rfind('.');
                const size_t cut = dot == std::string::npos || dot == 0 ? base.size() : dot;
                ansi = base.substr(0, cut) + "~" + std::to_string(n) + base.substr(cut);
            }
        }
        out += ansi;
        if (!last) out += '/';
        return std::string(part);
    });
    return out;
}

std::string pcHostName(std::string_view pcName) { return hostPath(std::string(pcName).c_str()); }

PcHandle pcOpenRead(const char* name, PcFileFacts* facts)
{
    const int fd = ::open(hostPath(name).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return noPcFile;
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return noPcFile;
    }
    if (facts) *facts = PcFileFacts{true, static_cast<uint64_t>(st.st_size), static_cast<int64_t>(st.st_mtime)};
    return fd;
}

PcHandle pcCreate(const char* name)
{
    const int fd = ::open(hostPath(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? noPcFile : fd;
}

PcHandle pcCreateNew(const char* name)
{
    const int fd = ::open(hostPath(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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

bool pcDelete(const char* name) { return ::unlink(hostPath(name).c_str()) == 0; }

bool pcRename(const char* from, const char* to) { return ::rename(hostPath(from).c_str(), hostPath(to).c_str()) == 0; }

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
    return ::stat(hostPath(name).c_str(), &st) == 0;
}

bool pcIsDirectory(const char* name)
{
    struct stat st;
    return ::stat(hostPath(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool pcFileSize(const char* name, uint64_t& bytes)
{
    struct stat st;
    if (::stat(hostPath(name).c_str(), &st) != 0) return false;
    bytes = static_cast<uint64_t>(st.st_size);
    return true;
}

bool pcGetModTime(const char* name, int64_t& seconds)
{
    struct stat st;
    if (::stat(hostPath(name).c_str(), &st) != 0) return false;
    seconds = static_cast<int64_t>(st.st_mtime);
    return true;
}

bool pcSetModTime(const char* name, int64_t seconds)
{
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return ::utimensat(AT_FDCWD, hostPath(name).c_str(), times, 0) == 0;
}

bool pcChangeDirectory(const char* path) { return ::chdir(hostPath(path).c_str()) == 0; }

bool pcCurrentDirectory(char* buffer, uint32_t size)
{
    const std::string ansi = pcNameFromHost(currentHostDirectory());
    if (ansi.empty() || ansi.size() >= size) return false;
    std::memcpy(buffer, ansi.c_str(), ansi.size() + 1);
    return true;
}

namespace {

uint64_t fileTimeOf(const struct timespec& t)
{
    const int64_t ticks = static_cast<int64_t>(t.tv_sec) * fileTimeUnitsPerSecond + t.tv_nsec / 100 + fileTimeOf1970;
    return ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
}

}  // namespace

bool pcListDirectory(std::vector<PcDirEntry>& entries)
{
    entries.clear();
    DIR* d = ::opendir(".");
    if (!d) return false;
    while (const dirent* de = ::readdir(d)) {
        PcDirEntry e{pcNameFromHost(de->d_name), false, false, false, 0, 0};
        struct stat st;
        if (::lstat(de->d_name, &st) != 0) continue;  // gone meanwhile
        e.isFile = S_ISREG(st.st_mode);
        if (S_ISLNK(st.st_mode)) {
            e.isLink = true;
            struct stat target;
            if (::stat(de->d_name, &target) == 0) {
                e.isDirectory = S_ISDIR(target.st_mode);
                e.isFile = S_ISREG(target.st_mode);
            }
        }
        e.isDirectory = e.isDirectory || S_ISDIR(st.st_mode);
        if (!e.isDirectory) e.size = static_cast<uint64_t>(st.st_size);
        e.modified = fileTimeOf(st.st_mtim);
        entries.push_back(std::move(e));
    }
    ::closedir(d);
    return true;
}

bool pcMakeDirectory(const char* name) { return ::mkdir(hostPath(name).c_str(), 0777) == 0; }

bool pcRemoveDirectory(const char* name)
{
    const std::string host = hostPath(name);
    struct stat st;
    if (::lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return ::unlink(host.c_str()) == 0;
    return ::rmdir(host.c_str()) == 0;
}

bool pcMove(const char* from, const char* to)
{
    const std::string source = hostPath(from), target = hostPath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without the no-replace flag: test first.
    struct stat st;
    if (::lstat(target.c_str(), &st) == 0) return false;
    return ::rename(source.c_str(), target.c_str()) == 0;
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
