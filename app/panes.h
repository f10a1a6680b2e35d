// The two panes' models: what the PC pane and the Mac pane hold and show,
// everything but the drawing.
//
// The PC pane is the process's current directory: its sorted entries, the
// directory box (the path, deepest name first), the drive box and the
// free-space label. The Mac pane is the engine's current folder
// (currentFolderId, parentFolderId, currentFolderName in hfs/hfs.h): the
// volume list of the chosen drive or one folder of the mounted volume, the
// folder box (the folder shown, its ancestors up to the root, the drive's
// label last) and the drive label. The window's list boxes hold indexes
// into the entry arrays and draw each line with formatPcLine or
// formatMacLine; every change of a record is announced through the
// user-interface seam's paneChanged so the window shows it. The batch
// operations reuse the same rebuilds, with the listings frozen
// (listingVisible cleared), to walk directory and folder trees.
// Calls the PC file seam, the volume engine, the drive table, the name
// mapping, the settings, size and date formatting, the error report and
// the user-interface seam.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hfs/hfs.h"
#include "transfer/pcfile.h"

namespace verrin {

// The Sort By commands. 251 sorts by extension on the PC side and by type
// on the Mac side; 252 exists only on the Mac side.
enum SortCommand : int {
    sortName = 250,
    sortExtension = 251,
    sortType = 251,
    sortCreator = 252,
    sortSize = 253,
    sortDate = 254,
};
// The sort command for a "PCSort"/"MacSort" setting: 250 for 0 or any
// value outside 250..254.
int sortFromSetting(int value);

// When cleared, rebuilds and listings leave the on-screen lists, the drive
// labels and the ".." buttons alone (their list lines keep drawing from the
// arrays); the PC directory box and the Mac folder box still follow. The
// batch operations clear it while they walk below the top level.
extern bool listingVisible;

// ---------------------------------------------------------------------------
// The PC pane.

enum PcEntryKind : uint16_t { pcDirectory = 1, pcFile = 2 };

struct PcEntry {
    uint32_t size;      // files: bytes, 0xFFFFFFFF for 4 GiB and more; directories 0
    uint32_t dateTime;  // last write, packed DOS date (high 16 bits) and time, local
    uint16_t kind;      // PcEntryKind
    bool link;          // a link to a directory: shown as one, never walked into
    std::string name;   // as the system gives it
};

struct PcPane {
    std::vector<PcEntry> entries;  // sorted; list line i shows entries[i]
    int sort = sortName;           // pcSort, a SortCommand
    int32_t overflow = 0;          // how far the longest name passes 44 characters (the scroll range)
    int32_t hScrollPos = 0;        // first name character shown, 0..overflow
    // The directory box: entry 0 the current directory's name, then its
    // ancestors, last a lone separator standing for the root.
    std::vector<std::string> directoryBox;
    bool upEnabled = false;  // the ".." button
    std::string driveLabel = "PC Drive:";
};
extern PcPane pcPane;

// Re-reads the current directory: directory box, drive label, entries
// sorted by pcPane.sort, scroll range (hScrollPos back to 0).
void rebuildPcPane();
// The same from a listing of the current directory that the caller has just
// made with pcListDirectory (put lists its source directory once, to check
// its arguments and to fill the pane).
void rebuildPcPaneFrom(std::vector<PcDirEntry> listed);
// The same, keeping the list's first visible line (after Sort By and after
// commands that change the directory's contents).
void refreshPcPane();
// Rebuilds only the directory box (and the ".." button while the listing
// is visible).
void fillPcDirectoryBox();
// "PC Drive: <free> of <total> free", sizes through formatSize; zeros when
// the system cannot tell.
void updatePcDriveLabel();

// The drive box: one text per drive, such as "C:(Fixed)", and the index of
// the current directory's drive (-1 when none matches).
struct PcDriveBox {
    std::vector<std::string> entries;
    int selected;
};
PcDriveBox pcDriveBox();

// Sort order: directories before files, then by `sort`. Negative, 0 or
// positive.
int comparePcEntries(const PcEntry& a, const PcEntry& b, int sort);
// One list line of 65 characters: the name from character firstChar on in
// 44 columns, the extension in 3, the size or "[DIR]", and mm/dd/yy.
std::string formatPcLine(const PcEntry& entry, int32_t firstChar);

// The window's PC commands. Each rebuilds the pane.
// The ".." button (1 level) and choosing entry k of the directory box (k levels).
void pcGoUp(int levels);
// A double click on a directory entry: it becomes the current directory.
void pcOpenDirectory(int index);
// Choosing an entry of the drive box: its first character names the drive.
// false when the change failed: the previous directory is current again,
// "Could not change to that drive." was shown, and the caller reselects
// the drive box's previous entry.
bool pcSelectDrive(const std::string& entryText);
// The index of the entry with exactly this name, or -1.
int findPcEntry(const std::string& name);

// ---------------------------------------------------------------------------
// The Mac pane.

enum MacEntryKind : uint16_t { macFolder = 1, macFile = 2, macVolume = 3 };

struct MacEntry {
    uint32_t id;          // folder ID or file number; volumes: unused
    uint32_t firstSize;   // folder: items inside; file: data fork; volume: start sector
    uint32_t secondSize;  // file: resource fork; volume: length in 512-byte sectors
    uint32_t dateTime;    // modification date, packed DOS date and time, local; volumes: 0
    uint16_t kind;        // MacEntryKind
    uint8_t type[4];      // files
    uint8_t creator[4];
    uint8_t name[32];  // length-prefixed Mac Roman
};

struct MacPane {
    std::vector<MacEntry> entries;  // sorted (volumes: in the order found); line i shows entries[i]
    int sort = sortName;            // macSort, a SortCommand
    int selected = 0;               // selectedMacIndex: the entry openMacFolder opens
    // The folder box: entry 0 the folder shown, then its ancestors up to the
    // root (named after the volume), last the drive's label. The drive's
    // label alone while the volume list is shown; empty with no drive.
    std::vector<std::string> folderBox;
    bool upEnabled = false;  // the ".." button
    std::string driveLabel = "Mac Drive:";
};
extern MacPane macPane;

// The drive box's texts: the drive table's labels in table order. An empty
// table shows "Can't find any Mac compatible drives.".
std::vector<std::string> macDriveBox();

// Opens a drive of the drive table and lists its HFS volumes (at most 20,
// in the order found), releasing any mounted volume. The folder box then
// holds the drive's label, or nothing when the scan failed (lastError set).
void selectMacDrive(int driveIndex);
// After a mount: lists the volume level and opens the root folder.
void showVolumeRoot();
// Opens the folder entry macPane.selected; other kinds are ignored. Its
// name goes on top of the folder box.
void openMacFolder();
// The same for a folder entry of the shown folder given by its record.
void openMacFolder(const MacEntry& folder);
// Goes up `levels` folders, taking one folder box entry off per level;
// above the root the drive's volume list comes back (the volume is
// released).
void goUpMacFolders(int levels);
// Re-reads the shown folder after its contents changed, keeping the list's
// first visible line.
void refreshMacFolder();
// Lists the shown folder again (after Sort By or an item's change),
// keeping the list's first visible line.
void relistMacFolder();
// Lists the shown folder (currentFolderId) into macPane.entries.
void listMacFolder();
// The entry for a catalog item; false for a file left out because it is
// invisible and HideInvisible is on.
bool makeMacEntry(const CatalogItem& item, MacEntry& entry);
// The shown folder's items as entries in the pane's order, invisible files
// included when asked, without changing the pane (the deletion walks must
// see everything a folder holds).
std::vector<MacEntry> macFolderItems(bool includeInvisible);
// Folders before files before volumes, then by `sort`, then by name in
// the catalog's order.
int compareMacEntries(const MacEntry& a, const MacEntry& b, int sort);
// One list line: the name, "[FOLDER]" or type and creator with both fork
// sizes, and mm/dd/yy; a volume line is its name and "[VOLUME]".
std::string formatMacLine(const MacEntry& entry);
// The first folder entry whose name has exactly these bytes: it becomes
// macPane.selected and its index is returned; -1 when there is none.
int findMacFolderEntry(const uint8_t* name);
// The first entry of any kind with exactly this name, or -1.
int findMacEntry(const uint8_t* name);
// "Mac Drive: <free> of <total> free" for the mounted volume, else
// "Mac Drive:".
void updateMacDriveLabel();
// Makes any folder of the mounted volume the one shown, with its whole
// path in the folder box; false with lastError set when it is not a folder.
bool showMacFolder(uint32_t folderId);
// The same without listing the folder (macPane.entries stays as it was):
// for a copy into the folder, which needs only its place.
bool enterMacFolderById(uint32_t folderId);

// The no-drive state: the volume released without writing, the pane
// emptied, the drive box without a selection.
void closeMacPane();

// The window's Mac commands; each reports a failure itself (reportLastError)
// and then closes the Mac side.
// A double click (or Enter) on entry `index`: a folder opens, a volume is
// mounted (after the read-only question when its backup MDB is missing)
// and its root shown. True when the entry is a file: the caller opens the
// file's information dialog.
bool openMacEntry(int index);
// Choosing entry k of the folder box (k levels up) and the ".." button
// (1 level, nothing at the volume list).
void macFolderBoxChosen(int index);
void macGoUp();
// Choosing drive `index` in the drive box. false when it failed (the error
// was shown): the drive box shows no selection.
bool chooseMacDrive(int index);

}  // namespace verrin
