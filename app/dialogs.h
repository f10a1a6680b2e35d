// The logic of the program's dialogs other than the name collisions and
// Format: the six item dialogs (PC file and directory information, Mac
// file and folder information, creating a Mac folder or a PC directory)
// and the two copy settings dialogs. The window's dialog procedures show
// the fields these functions give, and hand them what the user typed.
//
// Item dialogs. The window opens one on the pane's caret entry, fills its
// fields from itemInfo, asks the *OkEnabled functions after every change of
// a field, and on OK calls the dialog's *Ok function with the texts typed;
// its result is the dialog's result (1: something changed, the caller
// re-reads the pane with refreshPcPane or relistMacFolder; 0: nothing
// changed). Questions and failures inside a dialog are shown through the
// user-interface seam with the texts below; errors of the volume engine and
// errPcCreate stay in lastError for the caller's reportLastError. After
// "Create Mac Folder" ended with 1 the caller flushes the volume, reports,
// re-reads the folder (refreshMacFolder) and reports again. Mac names,
// types and creators are shown through macNameToPc and stored back through
// pcNameToMac.
//
// Copy settings dialogs ("Mac to PC Copy Settings", "PC to Mac Copy
// Settings"). The window fills the dialog from openCopySettings, calls
// chooseCopyTranslation when the user picks another translation (nothing is
// stored yet: an unconfirmed edit of a default is lost), and on OK hands
// the form with everything typed and checked to storeCopySettings. Cancel
// stores nothing. The values live in the Settings record and the
// translation table.
// Calls the pane models, the volume engine, the PC file seam, the name
// mapping, the settings, the translation table, size and date formatting
// and the user-interface seam.
#pragma once

#include <string>

#include "app/panes.h"

namespace verrin {

// Longest texts the fields take.
inline constexpr int pcNameFieldLength = 255;
inline constexpr int macNameFieldLength = 31;
inline constexpr int macCodeFieldLength = 4;       // types and creators
inline constexpr int pcExtensionFieldLength = 3;   // "PC Extension:" (typed in capitals)
inline constexpr int macFilterExtFieldLength = 5;  // Mac to PC "Extension:"

// ---------------------------------------------------------------------------
// Item dialogs.

// What an information dialog shows when it opens.
struct ItemInfo {
    const char* title;  // "PC File Information", "PC Directory Information",
                        // "Mac File Information" or "Mac Folder Information"
    std::string name;   // the editable name field
    std::string type;   // Mac files: the editable type and creator fields
    std::string creator;
    std::string size;      // PC files ("File Size:"), Mac files ("Data Fork Size:"): "1,234 bytes"
    std::string rsrcSize;  // Mac files ("Rsrc Fork Size:")
    std::string modified;  // "Last Modified:", through formatDosDateTime
};
ItemInfo itemInfo(const PcEntry& entry);
ItemInfo itemInfo(const MacEntry& entry);

// OK is enabled while the name is not empty (every dialog but Mac file
// information).
bool nameOkEnabled(const std::string& name);
// Mac file information: a name, and exactly 4 characters of type and of
// creator.
bool macFileOkEnabled(const std::string& name, const std::string& type, const std::string& creator);

// "PC File Information" / "PC Directory Information": renames the entry
// (in the current directory) to the typed name after "Rename this file?" /
// "Rename directory?". A failure shows "Could not rename this file." /
// "Could not rename directory." and leaves no error; so does a name the
// PC-name rules refuse, or one that exists already.
int pcItemInfoOk(const PcEntry& entry, const std::string& name);
// "Mac File Information": asks about each part that differs ("Rename this
// file?", "\nChange file type?", "\nChange file creator?"), sets type and
// creator first (under the old name), then renames, then flushes. A
// failure shows "Could not change file info" and stays in lastError.
int macFileInfoOk(const MacEntry& entry, const std::string& name, const std::string& type,
                  const std::string& creator);
// "Mac Folder Information": renames the folder after "Rename folder?"; a
// failure shows "Could not rename folder." and stays in lastError.
int macFolderInfoOk(const MacEntry& entry, const std::string& name);
// "Create Mac Folder": creates the folder in the current Mac folder; 1
// whether or not that worked (a failure stays in lastError).
int createMacFolderOk(const std::string& name);
// "Create PC Directory": creates the directory in the current directory;
// a failure sets errPcCreate. Always 1.
int createPcDirectoryOk(const std::string& name);

// ---------------------------------------------------------------------------
// Copy settings dialogs.

// The dialog's controls. Fields of the other direction stay unused.
struct CopySettingsForm {
    int translation;  // the "File Translation:" list's selection, a TranslationMode
    bool useMap;      // "Add a filename extension from file type map table." (MacUseMap) /
                      // "Get type and creator from file type map table." (PCUseMap)
    bool mapEnabled;  // that check box is enabled: Data File or Text File is selected
    // The selected translation's defaults.
    std::string extension;  // Mac to PC: "PC Extension:"
    std::string type;       // PC to Mac: "Type:" and "Creator:"
    std::string creator;
    bool copyDir;  // "Copy Entire Directory Tree." (MacCopyDir / PCCopyDir)
    bool filter;   // "Just copy Mac files with this type, creator and extension:" /
                   // "Just copy PC files with this extension:" (MacCopyFilter / PCCopyFilter)
    std::string filterType;     // Mac to PC: MacFilterType
    std::string filterCreator;  // Mac to PC: MacFilterCrtr
    std::string filterExt;      // MacFilterExt / PCFilterExt
    bool autoRename;  // Mac to PC: "Automatically rename duplicate file names."
    bool allowUpper;  // Mac to PC: "Allow upper (accented) characters in filenames."
};

// The form as the dialog opens: the direction's translation in force and
// the current values.
CopySettingsForm openCopySettings(bool macToPc);
// Another translation picked in the list: its defaults are shown and the
// map check box enabled or disabled (keeping its check mark).
void chooseCopyTranslation(CopySettingsForm& form, bool macToPc, int translation);
// OK: stores the translation, the check boxes, the defaults into the table
// entry of the selected translation (PC to Mac type and creator padded
// with spaces to 4 characters), then the filter fields as typed.
void storeCopySettings(const CopySettingsForm& form, bool macToPc);

}  // namespace verrin
