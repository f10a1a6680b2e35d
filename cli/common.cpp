// Helpers shared by verrin-cli's commands. See commands.h. Calls the
// engine, the drive table, the image drives, Mac Roman conversion and the
// end-of-command report, and the headless seam that answers the mount's
// read-only question.
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/macroman.h"
#include "base/ui.h"
#include "base/ui_headless.h"
#include "cli/commands.h"
#include "devices/image_drive.h"
#include "hfs/drive.h"

namespace verrin::cli {

bool Arguments::has(std::string_view flag) const
{
    return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

Arguments splitArguments(int argc, char** argv, std::initializer_list<std::string_view> knownFlags)
{
    Arguments out;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            out.positional.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (std::find(knownFlags.begin(), knownFlags.end(), a) != knownFlags.end()) {
            out.flags.push_back(a);
        } else if (out.unknown.empty()) {
            out.unknown = a;
        }
    }
    return out;
}

bool splitImageArgument(const std::string& imageArg, std::string& path, int& volumeNumber)
{
    path = imageArg;
    volumeNumber = 1;
    const size_t hash = imageArg.rfind('#');
    if (hash == std::string::npos) return true;
    // A file whose own name has a '#' is taken as it is.
    std::error_code ec;
    if (std::filesystem::exists(imageArg, ec)) return true;
    path = imageArg.substr(0, hash);
    const std::string digits = imageArg.substr(hash + 1);
    if (digits.empty() || digits.size() > 3 || digits.find_first_not_of("0123456789") != std::string::npos) {
        std::fprintf(stderr, "%s: after '#' comes the number of a volume on the image, counted from 1\n",
                     imageArg.c_str());
        return false;
    }
    volumeNumber = std::stoi(digits);
    if (volumeNumber < 1) {
        std::fprintf(stderr, "%s: volumes are counted from 1\n", imageArg.c_str());
        return false;
    }
    return true;
}

// A gzip file starts with the bytes 1F 8B; no HFS medium does (sector 0
// of a bare volume is boot blocks or zeros, of a partitioned one "ER").
static bool isGzipFile(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    unsigned char magic[2] = {};
    const bool gzip = std::fread(magic, 1, sizeof magic, file) == sizeof magic && magic[0] == 0x1F && magic[1] == 0x8B;
    std::fclose(file);
    return gzip;
}

int openImage(const std::string& path, bool writable, uint32_t sectorSize)
{
    const int drive = openImageDrive(path.c_str(), writable, sectorSize);
    if (drive < 0) {
        const char* why = imageOpenProblem();
        std::fprintf(stderr, "%s: %s\n", path.c_str(), *why ? why : errorText(lastError));
        lastError = errNone;
    }
    return drive;
}

bool openDrive(const std::string& path, bool writable)
{
    lastError = errNone;
    clearDrives();
    closeImageDrives();
    // What the file is, in the user's words, before the drive code sees it.
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    const char* problem = nullptr;
    if (!std::filesystem::exists(status))
        problem = "no such file";
    else if (std::filesystem::is_directory(status))
        problem = "is a directory, not a disk image";
    else if (!std::filesystem::is_regular_file(status))
        problem = "not a regular file, so not a disk image";
    else if (std::filesystem::file_size(path, ec) == 0)
        problem = "the file is empty, not a disk image";
    else if (writable && (status.permissions() & (std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                                  std::filesystem::perms::others_write)) == std::filesystem::perms::none)
        problem = "the image file is read-only; nothing was changed";
    if (problem) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), problem);
        return false;
    }
    if (isGzipFile(path)) {
        std::fprintf(stderr, "%s: the file is gzip-compressed; unpack it first (gunzip -k)\n", path.c_str());
        return false;
    }
    const int drive = openImage(path, writable);
    if (drive < 0) return false;
    selectDrive(drive);
    if (lastError == errNoHfsVolume) {
        lastError = errNone;
        std::fprintf(stderr, "%s: holds no HFS volume (not a Mac disk image, or a damaged one)\n", path.c_str());
        return false;
    }
    if (lastError != errNone) {
        failWithError(path.c_str());
        return false;
    }
    return true;
}

bool mountImageArgument(const std::string& imageArg, MountUse use)
{
    std::string path;
    int number;
    if (!splitImageArgument(imageArg, path, number)) return false;
    if (!openDrive(path, use != MountUse::reading)) return false;
    if (number > volumeCount) {
        std::fprintf(stderr, "%s: the image holds %d HFS volume%s, not %d\n", path.c_str(), volumeCount,
                     volumeCount == 1 ? "" : "s", number);
        return false;
    }
    setVolumePosition(volumeList[number - 1]);
    // Only the question is silenced and answered: what opening the drive
    // told (an interrupted change undone) was shown as it came.
    headless::scriptedAnswers = {use == MountUse::forcedWriting ? uiAnswerNo : uiAnswerYes};
    const bool echo = headless::echo;
    headless::echo = false;
    askReadOnly();
    headless::echo = echo;
    headless::scriptedAnswers.clear();
    mountVolume();
    if (lastError != errNone) {
        // The engine's message, and which structure is at fault when it knows.
        if (*mountProblem()) {
            std::fprintf(stderr, "%s: %s %s\n", path.c_str(), errorText(lastError), mountProblem());
            lastError = errNone;
        } else {
            failWithError(path.c_str());
        }
        closeVolume();
        return false;
    }
    return true;
}

std::string macNameProblem(std::string_view text, size_t maxLength)
{
    const std::string quoted = "\"" + std::string(text) + "\"";
    if (text.empty()) return "a Mac name cannot be empty";
    std::vector<uint8_t> chars;
    if (!utf8ToMacRoman(text, chars)) {
        // Name the first character the Mac cannot hold.
        for (size_t at = 0; at < text.size();) {
            const size_t start = at;
            uint32_t u = 0;
            std::vector<uint8_t> one;
            if (!nextUtf8(text, at, u))
                return quoted + " is not valid UTF-8 text";
            if (!utf8ToMacRoman(text.substr(start, at - start), one))
                return quoted + " contains \"" + std::string(text.substr(start, at - start)) +
                       "\", which has no Mac Roman form";
        }
    }
    if (std::find(chars.begin(), chars.end(), uint8_t{':'}) != chars.end())
        return quoted + " contains ':', which the Mac uses between folder names";
    if (chars.size() > maxLength)
        return quoted + " has " + std::to_string(chars.size()) + " characters; a Mac " +
               (maxLength == 31 ? "name" : "volume name") + " holds at most " + std::to_string(maxLength);
    return {};
}

bool parseMacPath(const std::string& path, std::vector<std::vector<uint8_t>>& names, std::string& problem)
{
    names.clear();
    problem.clear();
    size_t start = 0;
    if (!path.empty() && path[0] == ':') start = 1;
    while (start < path.size()) {
        size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) {
            const std::string_view text = std::string_view(path).substr(start, end - start);
            problem = macNameProblem(text);
            if (!problem.empty()) return false;
            uint8_t name[32];
            macNameFromText(std::string(text), name);
            names.emplace_back(name, name + name[0] + 1);
        }
        start = end + 1;
    }
    return true;
}

bool volumePathNames(const std::string& path, std::vector<std::vector<uint8_t>>& names)
{
    std::string problem;
    if (!parseMacPath(path, names, problem)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), problem.c_str());
        return false;
    }
    if (names.empty() || (!path.empty() && path[0] == ':')) return true;
    const VolumeInfo v = volumeInfo();
    if (compareMacNames(names[0].data(), v.name) != 0) return true;
    CatalogItem item;
    const int r = lookupCatalogItem(2, names[0].data(), item);
    if (r < 0) {
        failWithError(path.c_str());
        return false;
    }
    if (r == 0) names.erase(names.begin());
    return true;
}

bool findItem(const std::string& path, uint32_t& parentId, CatalogItem& item)
{
    std::vector<std::vector<uint8_t>> names;
    return volumePathNames(path, names) && findNames(names, path, parentId, item);
}

bool findNames(const std::vector<std::vector<uint8_t>>& names, const std::string& shown, uint32_t& parentId,
               CatalogItem& item)
{
    const int r = resolvePath(2, names, parentId, item);
    if (r == 1) return true;
    if (r == 0) {
        std::fprintf(stderr, "%s: not found\n", shown.c_str());
        return false;
    }
    failWithError(shown.c_str());
    return false;
}

std::string joinPath(const std::string& folderPath, const std::string& name)
{
    return folderPath.empty() ? name : folderPath + ":" + name;
}

int failUsage(const char* command, const char* message)
{
    std::fprintf(stderr, "verrin-cli %s: %s (see 'verrin-cli %s --help')\n", command, message, command);
    return 2;
}

std::string itemName(const uint8_t* name) { return macNameToUtf8(name); }

std::string fourChars(const uint8_t* p) { return macRomanToUtf8(p, 4); }

void appendItemName(std::string& out, const uint8_t* name) { appendMacRoman(out, name + 1, name[0]); }

void appendFourChars(std::string& out, const uint8_t* p) { appendMacRoman(out, p, 4); }

void appendNumber(std::string& out, uint32_t value, size_t width)
{
    char digits[10];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    const auto length = static_cast<size_t>(end - digits);
    if (width > length) out.append(width - length, ' ');
    out.append(digits, length);
}

void appendIsoDate(std::string& out, uint32_t hfsDate, char separator, bool seconds)
{
    // Seconds since 1904-01-01 read as wall-clock time: civil date from days.
    const int64_t days1904 = hfsDate / 86400;
    const uint32_t secs = hfsDate % 86400;
    // Days from 1970-01-01: 1904-01-01 is 24107 days earlier.
    int64_t z = days1904 - 24107 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t y = yoe + era * 400;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t d = doy - (153 * mp + 2) / 5 + 1;
    const int64_t m = mp < 10 ? mp + 3 : mp - 9;
    if (m <= 2) ++y;
    // Years 1904..2040: four digits; the fields below two.
    const auto twoDigits = [](char* at, uint32_t value) {
        at[0] = static_cast<char>('0' + value / 10);
        at[1] = static_cast<char>('0' + value % 10);
    };
    char text[19];
    twoDigits(text, static_cast<uint32_t>(y / 100));
    twoDigits(text + 2, static_cast<uint32_t>(y % 100));
    text[4] = '-';
    twoDigits(text + 5, static_cast<uint32_t>(m));
    text[7] = '-';
    twoDigits(text + 8, static_cast<uint32_t>(d));
    text[10] = separator;
    twoDigits(text + 11, secs / 3600);
    text[13] = ':';
    twoDigits(text + 14, secs / 60 % 60);
    text[16] = ':';
    twoDigits(text + 17, secs % 60);
    out.append(text, seconds ? sizeof text : 16);
}

std::string isoDate(uint32_t hfsDate)
{
    std::string text;
    appendIsoDate(text, hfsDate);
    return text;
}

void appendJsonString(std::string& out, std::string_view s)
{
    out += '"';
    size_t plain = 0;  // start of the run of characters that need no escape
    for (size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\') continue;
        out.append(s, plain, i - plain);
        plain = i + 1;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            constexpr char hex[] = "0123456789abcdef";
            const char escape[] = {'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]};
            out.append(escape, sizeof escape);
        }
        }
    }
    out.append(s, plain, s.size() - plain);
    out += '"';
}

std::string jsonString(const std::string& s)
{
    std::string out;
    appendJsonString(out, s);
    return out;
}

bool wantsHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
    return false;
}

}  // namespace verrin::cli
