// Loading and saving the preferences. See settings.h. Calls the profile
// file functions.
#include "base/settings.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "base/profile.h"

#ifdef _WIN32
#include <direct.h>
#include <windows.h>
#endif

namespace verrin {

Settings settings;

namespace {

// Decimal digits at the start of text; `none` when there are none.
int leadingNumber(std::string_view text, int none)
{
    size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i >= text.size() || text[i] < '0' || text[i] > '9') return none;
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && value < 100000000; ++i)
        value = value * 10 + (text[i] - '0');
    return static_cast<int>(negative ? -value : value);
}

std::string readText(const char* section, const char* key, size_t maxChars)
{
    return profile::readString(settings.iniPath, section, key, "", maxChars);
}

// "WorkingDir": a drive letter and colon change the drive first, then the
// directory to the rest; otherwise the whole text is the directory.
// Failures are ignored.
void applyWorkingDir(const std::string& dir)
{
    if (dir.empty()) return;
    std::error_code ec;
    if (dir.size() >= 2 && dir[1] == ':') {
#ifdef _WIN32
        const char letter = dir[0];
        int drive = 0;
        if (letter >= 'a' && letter <= 'z') drive = letter - 'a' + 1;
        if (letter >= 'A' && letter <= 'Z') drive = letter - 'A' + 1;
        if (drive == 0 || _chdrive(drive) != 0) return;
        if (dir.size() > 2) std::filesystem::current_path(std::filesystem::path(dir.substr(2)), ec);
#endif
        // Other systems have no drive letters: the drive change fails.
        return;
    }
    std::filesystem::current_path(std::filesystem::path(dir), ec);
}

bool currentDirectory(std::string& out)
{
#ifdef _WIN32
    char buffer[MAX_PATH + 1];
    const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
    if (n == 0 || n >= sizeof buffer) return false;
    out.assign(buffer, n);
    return true;
#else
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::current_path(ec);
    if (ec) return false;
    out = p.string();
    return true;
#endif
}

}  // namespace

std::string companionPath(std::string_view path, std::string_view fileName)
{
    size_t cut = path.find_last_of('\\');
#ifndef _WIN32
    if (cut == std::string_view::npos) cut = path.find_last_of('/');
#else
    const size_t slash = path.find_last_of('/');
    if (slash != std::string_view::npos && (cut == std::string_view::npos || slash > cut)) cut = slash;
#endif
    if (cut == std::string_view::npos) return std::string(fileName);
    return std::string(path.substr(0, cut + 1)) + std::string(fileName);
}

int readSwitch(const char* section, const char* key, int def)
{
    const std::string text = readText(section, key, 9);
    if (profile::equalsIgnoringCase(text, "no") || profile::equalsIgnoringCase(text, "off")) return 0;
    if ((!text.empty() && (text[0] == 'Y' || text[0] == 'y')) || profile::equalsIgnoringCase(text, "on") ||
        profile::equalsIgnoringCase(text, "auto"))
        return 1;
    if (profile::equalsIgnoringCase(key, "AddFloppy")) {
        if (profile::equalsIgnoringCase(text, "old")) return 1;
        if (profile::equalsIgnoringCase(text, "bios")) return 2;
    }
    if (profile::equalsIgnoringCase(key, "AddASPI")) {
        if (profile::equalsIgnoringCase(text, "dos")) return 2;
        if (profile::equalsIgnoringCase(text, "win")) return 3;
    }
    return def;
}

void loadSettings(const std::string& iniPath)
{
    // Fixed before "WorkingDir" moves the current directory, so that a
    // relative path keeps naming the file it named at start.
    std::error_code ec;
    std::string path = iniPath;
    if (!path.empty()) {
        const std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(iniPath), ec);
        if (!ec) path = absolute.string();
    }
    const profile::ReadBatch reads;
    settings.iniPath = path;
    applyWorkingDir(readText(mainPrefs, "WorkingDir", 255));

    settings = Settings{};
    settings.iniPath = path;
    settings.ftmPath = companionPath(path, "KVOL.FTM");
    settings.helpPath = companionPath(path, "VERRIN.HLP");

    settings.addFloppy = readSwitch(diskPrefs, "AddFloppy", 1);
    settings.addCdrom = readSwitch(diskPrefs, "AddCDROM", 1);
    settings.addBios = readSwitch(diskPrefs, "AddBIOS", 1);
    settings.addAspi = readSwitch(diskPrefs, "AddASPI", 1);

    settings.hideInvisible = readSwitch(miscPrefs, "HideInvisible", 1);
    settings.keepDate = readSwitch(miscPrefs, "KeepDate", 1);
    // Two characters only: a value of 128 is read as 12.
    settings.maxIOBufSzK = leadingNumber(readText(miscPrefs, "MaxIOBufSzK", 2), 64);
    if (settings.maxIOBufSzK < 0) settings.maxIOBufSzK = 64;
    settings.scsiScan = profile::readInt(path, miscPrefs, "SCSIScan", 127) & 0xFF;

    settings.savePrefs = readSwitch(mainPrefs, "SavePrefs", 0);
    settings.copyPrefs = readSwitch(mainPrefs, "CopyPrefs", 1);
    settings.autoRename = readSwitch(mainPrefs, "AutoRename", 0);
    settings.allowUpper = readSwitch(mainPrefs, "AllowUpper", 0);
    settings.macUseMap = readSwitch(mainPrefs, "MacUseMap", 1);
    settings.pcUseMap = readSwitch(mainPrefs, "PCUseMap", 1);
    settings.macCopyDir = readSwitch(mainPrefs, "MacCopyDir", 0);
    settings.pcCopyDir = readSwitch(mainPrefs, "PCCopyDir", 0);
    settings.macCopyFilter = readSwitch(mainPrefs, "MacCopyFilter", 0);
    settings.pcCopyFilter = readSwitch(mainPrefs, "PCCopyFilter", 0);

    auto readNumber = [&](const char* key) {
        return leadingNumber(profile::readString(path, mainPrefs, key, "0", 5), 0);
    };
    settings.macTrans = readNumber("MacTrans");
    settings.pcTrans = readNumber("PCTrans");
    settings.macSort = readNumber("MacSort");
    settings.pcSort = readNumber("PCSort");
    // The translation rows index the five-slot table: a hand-edited value
    // outside it falls back to the first row.
    if (settings.macTrans < 0 || settings.macTrans >= translationSlots) settings.macTrans = 0;
    if (settings.pcTrans < 0 || settings.pcTrans >= translationSlots) settings.pcTrans = 0;

    settings.macFilterType = readText(mainPrefs, "MacFilterType", 4);
    settings.macFilterCrtr = readText(mainPrefs, "MacFilterCrtr", 4);
    settings.macFilterExt = readText(mainPrefs, "MacFilterExt", 5);
    settings.pcFilterExt = readText(mainPrefs, "PCFilterExt", 3);
}

void saveSettings(const CurrentChoices& choices, const std::vector<profile::Entry>& translationDefaults)
{
    // Everything goes to the file in one replacement.
    std::vector<profile::Entry> entries;
    auto text = [&](const char* section, const char* key, std::string value) {
        entries.push_back({section, key, std::move(value)});
    };
    auto yesNo = [&](const char* section, const char* key, int value) { text(section, key, value ? "YES" : "NO"); };
    auto number = [&](const char* key, int value) { text(mainPrefs, key, std::to_string(value)); };
    if (settings.savePrefs) {
        yesNo(mainPrefs, "CopyPrefs", settings.copyPrefs);
        yesNo(mainPrefs, "AutoRename", settings.autoRename);
        yesNo(mainPrefs, "AllowUpper", settings.allowUpper);
        yesNo(mainPrefs, "MacUseMap", settings.macUseMap);
        yesNo(mainPrefs, "PCUseMap", settings.pcUseMap);
        yesNo(mainPrefs, "MacCopyDir", settings.macCopyDir);
        yesNo(mainPrefs, "PCCopyDir", settings.pcCopyDir);
        yesNo(mainPrefs, "MacCopyFilter", settings.macCopyFilter);
        yesNo(mainPrefs, "PCCopyFilter", settings.pcCopyFilter);
        yesNo(miscPrefs, "KeepDate", settings.keepDate);

        number("MacTrans", choices.macTrans);
        number("PCTrans", choices.pcTrans);
        number("MacSort", choices.macSort);
        number("PCSort", choices.pcSort);

        text(mainPrefs, "MacFilterType", settings.macFilterType);
        text(mainPrefs, "MacFilterCrtr", settings.macFilterCrtr);
        text(mainPrefs, "MacFilterExt", settings.macFilterExt);
        text(mainPrefs, "PCFilterExt", settings.pcFilterExt);

        entries.insert(entries.end(), translationDefaults.begin(), translationDefaults.end());

        std::string dir;
        if (currentDirectory(dir)) text(mainPrefs, "WorkingDir", dir);
    }
    yesNo(mainPrefs, "SavePrefs", settings.savePrefs);
    profile::writeStrings(settings.iniPath, entries);
}

}  // namespace verrin
