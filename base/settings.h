// The program's preferences: the Settings record, read once from KVOL.INI
// at start-up and written back once at exit.
//
// The record holds every preference with its default; the paths of the two
// companion files (the type map KVOL.FTM and the help file VERRIN.HLP) sit
// beside the settings file. Keys the menus and dialogs cannot change are
// only read, so hand edits of them survive. Calls the profile file
// functions only: the caller derives the drive table's transfer limit from
// maxIOBufSzK, and hands saveSettings the translation defaults to store.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/profile.h"

namespace verrin {

// The translations, in the order of the translation table and of the
// dialogs' lists; "MacTrans" and "PCTrans" store a row of it, and each
// name is also the key of that translation's defaults in "Main Prefs".
enum TranslationMode : int { DataFile = 0, TextFile = 1, ResourceFile = 2, MacBinary = 3, BinHex = 4 };

inline constexpr int translationSlots = 5;
inline constexpr const char* translationNames[translationSlots] = {"Data File", "Text File", "Resource File",
                                                                    "MacBinary", "BinHex (HQX)"};

// The member defaults are the defaults of a missing settings file.
struct Settings {
    std::string macFilterType;  // "MacFilterType", up to 4 characters
    std::string macFilterCrtr;  // "MacFilterCrtr", up to 4
    std::string macFilterExt;   // "MacFilterExt", up to 5
    std::string pcFilterExt;    // "PCFilterExt", up to 3
    int copyPrefs = 1;              // switches: 0 off, non-zero on
    int savePrefs = 0;
    int autoRename = 0;
    int allowUpper = 0;
    int macUseMap = 1;
    int pcUseMap = 1;
    int macCopyDir = 0;
    int pcCopyDir = 0;
    int macCopyFilter = 0;
    int pcCopyFilter = 0;
    int macTrans = 0;  // initial translation rows, 0..4
    int pcTrans = 0;
    int macSort = 0;  // initial sort orders (0: the default order)
    int pcSort = 0;
    int hideInvisible = 1;  // "Misc Prefs"
    int keepDate = 1;
    int maxIOBufSzK = 64;  // 0..99, transfer size in KB
    int scsiScan = 127;     // bit n: scan SCSI target n; 0..255
    int addFloppy = 1;    // "Disk Prefs": 0..2
    int addCdrom = 1;
    int addBios = 1;
    int addAspi = 1;  // 0..3
    std::string iniPath;
    std::string ftmPath;
    std::string helpPath;
};

extern Settings settings;

inline constexpr const char* mainPrefs = "Main Prefs";
inline constexpr const char* diskPrefs = "Disk Prefs";
inline constexpr const char* miscPrefs = "Misc Prefs";

// The path of a companion file beside `path`: the part after the last
// backslash (or slash) replaced by `fileName`; the bare name when the path
// holds no separator.
std::string companionPath(std::string_view path, std::string_view fileName);

// Reads every preference from the settings file at iniPath (KVOL.INI beside
// the program); the type map and help file paths are taken beside it.
// Applies "WorkingDir" to the current directory. A missing or unreadable
// file gives every default. The caller then derives the transfer limit
// (setTransferLimit(settings.maxIOBufSzK)), as program start does.
void loadSettings(const std::string& iniPath);

// The choices in force when the main window closes; they are saved instead
// of the values read at start-up.
struct CurrentChoices {
    int macTrans;
    int pcTrans;
    int macSort;
    int pcSort;
};

// Writes the preferences the program can change (when savePrefs is on),
// among them the translation defaults (the translation table's entries, see
// translationTableEntries), and in every case "SavePrefs" itself. Failures
// are not reported.
void saveSettings(const CurrentChoices& choices, const std::vector<profile::Entry>& translationDefaults);

// Reads a switch: "no"/"off" give 0; a first character Y, "on" or "auto"
// give 1; "old"/"bios" give 1/2 for "AddFloppy", "dos"/"win" give 2/3 for
// "AddASPI"; anything else gives def.
int readSwitch(const char* section, const char* key, int def);

}  // namespace verrin
