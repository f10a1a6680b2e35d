// The Mac pane's model (see panes.h): the drive's volume list or one
// folder of the mounted volume, its sort orders and list lines, the folder
// box, the drive box and the free-space label, and the moves between
// folders that the window and the batch operations make.
// Calls the volume engine and its checks before changes, the drive table,
// the name mapping, the settings, size and date formatting, the error
// report and the user-interface seam.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "app/panes.h"
#include "hfs/check.h"
#include "hfs/drive.h"
#include "hfs/layout.h"
#include "base/format.h"
#include "base/settings.h"
#include "base/ui.h"
#include "transfer/names.h"
#include "app/report.h"

namespace verrin {

MacPane macPane;

namespace {

// Columns of a Mac list line.
constexpr size_t macLineWidth = 80, macTypeColumn = 33, macMarkColumn = 34, macCreatorColumn = 39,
                 macDataColumn = 45, macRsrcColumn = 51, macDateColumn = 57;
// Folders deeper than this are taken for a loop in a damaged catalog.
constexpr int maxFolderDepth = 1000;

constexpr unsigned allMacParts = paneMacList | paneMacFolderBox | paneMacDriveLabel;

// Announces changed parts; a frozen listing announces only the folder box.
void announce(unsigned parts)
{
    if (!listingVisible) parts &= paneMacFolderBox;
    if (parts) ui->paneChanged(parts);
}

std::string driveLabelText(int drive)
{
    if (drive < 0 || drive >= driveCount) return {};
    const char* label = driveTable[drive].label;
    return std::string(label, strnlen(label, sizeof driveTable[drive].label));
}

bool toMacEntry(const CatalogItem& item, MacEntry& entry, bool includeInvisible)
{
    entry = MacEntry{};
    entry.kind = static_cast<uint16_t>(item.kind & 7);
    entry.id = item.id;
    entry.dateTime = macDateToDos(item.modifyDate);
    std::memcpy(entry.name, item.name, sizeof entry.name);
    if (entry.kind == macFolder) {
        entry.firstSize = item.valence;
        return true;
    }
    const uint16_t flags = read16(item.finderInfo + finder::flags);
    if (!includeInvisible && (flags & finder::isInvisible)) return false;
    entry.firstSize = item.dataLength;
    entry.secondSize = item.rsrcLength;
    std::memcpy(entry.type, item.finderInfo + finder::type, 4);
    std::memcpy(entry.creator, item.finderInfo + finder::creator, 4);
    return true;
}

void list(unsigned parts)
{
    if (listingVisible) {
        macPane.upEnabled = true;
        updateMacDriveLabel();
    }
    macPane.entries = macFolderItems(!settings.hideInvisible);
    announce(parts | paneMacFolderBox);
}

int compareCodes(const uint8_t* a, const uint8_t* b)
{
    uint8_t x[5] = {4}, y[5] = {4};
    std::memcpy(x + 1, a, 4);
    std::memcpy(y + 1, b, 4);
    return compareMacNames(x, y);
}

template <typename T> int compareDescending(T a, T b) { return a == b ? 0 : (a > b ? -1 : 1); }

// Writes Mac Roman characters into a line as PC characters.
void putMacChars(std::string& line, size_t column, const uint8_t* chars, size_t length)
{
    for (size_t i = 0; i < length && column + i < line.size(); ++i) line[column + i] = static_cast<char>(macCharToPc(chars[i]));
}

void putSize(std::string& line, size_t column, uint32_t bytes)
{
    const std::string size = formatSize(static_cast<double>(bytes));
    line.replace(column, 4, size.substr(0, 4));
}

}  // namespace

std::vector<std::string> macDriveBox()
{
    std::vector<std::string> entries;
    if (driveCount == 0) messageBox("Can't find any Mac compatible drives.", nullptr, uiOk, uiNoIcon);
    for (int i = 0; i < driveCount; ++i) entries.push_back(driveLabelText(i));
    return entries;
}

void selectMacDrive(int driveIndex)
{
    parentFolderId = 0;
    macPane.upEnabled = false;
    macPane.entries.clear();
    macPane.folderBox.clear();
    macPane.driveLabel = "Mac Drive:";
    selectDrive(driveIndex);
    if (lastError == errNone) {
        for (int i = 0; i < volumeCount && i < maxVolumes; ++i) {
            MacEntry entry{};
            entry.kind = macVolume;
            entry.firstSize = volumeList[i].start;
            entry.secondSize = volumeList[i].sectors;
            std::memcpy(entry.name, volumeList[i].name, sizeof entry.name);
            entry.name[0] = std::min<uint8_t>(entry.name[0], 31);
            macPane.entries.push_back(entry);
        }
        macPane.folderBox.push_back(driveLabelText(driveIndex));
    }
    ui->paneChanged(allMacParts);
}

void showVolumeRoot()
{
    macPane.entries.clear();
    currentFolderId = 1;
    parentFolderId = 0;
    listMacFolder();
    if (lastError != errNone) return;
    macPane.selected = 0;
    openMacFolder();
}

void openMacFolder()
{
    if (macPane.selected < 0 || static_cast<size_t>(macPane.selected) >= macPane.entries.size()) return;
    openMacFolder(macPane.entries[static_cast<size_t>(macPane.selected)]);
}

void openMacFolder(const MacEntry& folder)
{
    const MacEntry entry = folder;  // the pane's array is about to be refilled
    if (entry.kind != macFolder || !enterFolder(entry.id)) return;
    macPane.folderBox.insert(macPane.folderBox.begin(), macNameToPc(entry.name));
    listMacFolder();
}

void goUpMacFolders(int levels)
{
    if (levels <= 0 || parentFolderId == 0) return;
    for (int i = 0; i < levels; ++i) {
        if (lastError != errNone) return;
        if (parentFolderId == 1) {
            // Above the root: the drive's volume list, the volume released.
            selectMacDrive(currentDrive);
            return;
        }
        if (!enterFolder(parentFolderId)) return;
        if (!macPane.folderBox.empty()) macPane.folderBox.erase(macPane.folderBox.begin());
    }
    listMacFolder();
}

void refreshMacFolder()
{
    if (parentFolderId == 0) return;
    CatalogItem item;
    uint32_t parent = 0;
    if (folderById(currentFolderId, item, parent) == 0) setError(errBadNode);
    if (lastError != errNone) return;
    relistMacFolder();
}

void relistMacFolder()
{
    if (parentFolderId == 0) return;
    list(paneMacList | paneKeepTopLine);
}

void listMacFolder() { list(paneMacList); }

bool makeMacEntry(const CatalogItem& item, MacEntry& entry)
{
    return toMacEntry(item, entry, !settings.hideInvisible);
}

std::vector<MacEntry> macFolderItems(bool includeInvisible)
{
    std::vector<MacEntry> entries;
    std::vector<CatalogItem> items;
    if (listFolder(currentFolderId, items)) {
        for (const CatalogItem& item : items) {
            MacEntry entry;
            if (toMacEntry(item, entry, includeInvisible)) entries.push_back(entry);
        }
    }
    const int sort = macPane.sort;
    const auto inOrder = [sort](const MacEntry& a, const MacEntry& b) { return compareMacEntries(a, b, sort) < 0; };
    // A folder lists in catalog order, which is name order: sorted by name,
    // a folder of files only is in order already, and one with folders too
    // once its folders are moved before its files, each kind keeping its
    // order.
    if (std::is_sorted(entries.begin(), entries.end(), inOrder)) return entries;
    const auto firstFile = std::stable_partition(entries.begin(), entries.end(),
                                                 [](const MacEntry& e) { return e.kind == macFolder; });
    std::stable_partition(firstFile, entries.end(), [](const MacEntry& e) { return e.kind == macFile; });
    if (!std::is_sorted(entries.begin(), entries.end(), inOrder))
        std::stable_sort(entries.begin(), entries.end(), inOrder);
    return entries;
}

int compareMacEntries(const MacEntry& a, const MacEntry& b, int sort)
{
    // Kind 4 (a record of no listed kind) goes after everything else.
    const int rankA = a.kind == 4 ? 1000 : a.kind;
    const int rankB = b.kind == 4 ? 1000 : b.kind;
    if (rankA != rankB) return rankA < rankB ? -1 : 1;
    int order = 0;
    if (a.kind == macFile) {
        if (sort == sortType) order = compareCodes(a.type, b.type);
        if (sort == sortCreator) order = compareCodes(a.creator, b.creator);
        if (sort == sortSize) order = compareDescending(a.firstSize, b.firstSize);
    }
    if (sort == sortDate) order = compareDescending(a.dateTime, b.dateTime);
    return order != 0 ? order : compareMacNames(a.name, b.name);
}

std::string formatMacLine(const MacEntry& entry)
{
    std::string line(macLineWidth, ' ');
    putMacChars(line, 0, entry.name + 1, std::min<uint8_t>(entry.name[0], 31));
    if (entry.kind == macVolume) {
        line.replace(macMarkColumn, 8, "[VOLUME]");
        return line.substr(0, macMarkColumn + 8);
    }
    if (entry.kind == macFolder) {
        line.replace(macMarkColumn, 8, "[FOLDER]");
    } else {
        putMacChars(line, macTypeColumn, entry.type, 4);
        putMacChars(line, macCreatorColumn, entry.creator, 4);
        putSize(line, macDataColumn, entry.firstSize);
        putSize(line, macRsrcColumn, entry.secondSize);
    }
    const uint32_t date = entry.dateTime >> 16;
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d", static_cast<int>(date >> 5 & 15), static_cast<int>(date & 31),
                  static_cast<int>(((date >> 9) + 80) % 128 % 100));
    line.replace(macDateColumn, 8, text);
    return line.substr(0, macDateColumn + 8);
}

int findMacFolderEntry(const uint8_t* name)
{
    for (size_t i = 0; i < macPane.entries.size(); ++i) {
        const MacEntry& e = macPane.entries[i];
        if (e.kind == macFolder && e.name[0] == name[0] && std::memcmp(e.name + 1, name + 1, name[0]) == 0) {
            macPane.selected = static_cast<int>(i);
            return static_cast<int>(i);
        }
    }
    return -1;
}

int findMacEntry(const uint8_t* name)
{
    for (size_t i = 0; i < macPane.entries.size(); ++i) {
        const MacEntry& e = macPane.entries[i];
        if (e.name[0] == name[0] && std::memcmp(e.name + 1, name + 1, name[0]) == 0) return static_cast<int>(i);
    }
    return -1;
}

void updateMacDriveLabel()
{
    if (!volume.mounted) {
        macPane.driveLabel = "Mac Drive:";
    } else {
        const VolumeInfo info = volumeInfo();
        const double blockBytes = info.blockSize;
        macPane.driveLabel = "Mac Drive: " + formatSize(info.freeBlocks * blockBytes) + " of " +
                             formatSize(info.blocks * blockBytes) + " free";
    }
    ui->paneChanged(paneMacDriveLabel);
}

namespace {

// Makes a folder the current one with its path in the folder box, without
// announcing it.
bool placeMacFolder(uint32_t folderId)
{
    if (!enterFolder(folderId)) return false;
    std::vector<std::string> box;
    uint32_t id = folderId;
    for (int depth = 0;; ++depth) {
        CatalogItem item;
        uint32_t parent = 0;
        if (depth > maxFolderDepth || folderById(id, item, parent) != 1) {
            setError(errBadNode);
            return false;
        }
        box.push_back(macNameToPc(item.name));
        if (parent <= 1) break;
        id = parent;
    }
    box.push_back(driveLabelText(currentDrive));
    macPane.folderBox = std::move(box);
    return true;
}

}  // namespace

bool enterMacFolderById(uint32_t folderId)
{
    if (!placeMacFolder(folderId)) return false;
    announce(paneMacFolderBox);
    return true;
}

bool showMacFolder(uint32_t folderId)
{
    if (!placeMacFolder(folderId)) return false;
    listMacFolder();
    return lastError == errNone;
}

void closeMacPane()
{
    closeVolume();
    macPane.entries.clear();
    macPane.folderBox.clear();
    macPane.upEnabled = false;
    macPane.driveLabel = "Mac Drive:";
    ui->paneChanged(allMacParts | paneMacDriveBox);
}

namespace {

// A failed navigation step: its message, then the no-drive state.
void reportAndClose()
{
    if (lastError == errNone) return;
    reportLastError();
    closeMacPane();
}

}  // namespace

bool openMacEntry(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= macPane.entries.size()) return false;
    const MacEntry entry = macPane.entries[static_cast<size_t>(index)];
    if (entry.kind == macFile) return true;
    if (entry.kind == macFolder) {
        macPane.selected = index;
        openMacFolder();
    } else if (entry.kind == macVolume) {
        VolumeEntry position{};
        position.start = entry.firstSize;
        position.sectors = entry.secondSize;
        std::memcpy(position.name, entry.name, sizeof position.name);
        setVolumePosition(position);
        askReadOnly();
        if (lastError == errNone) mountVolume();
        if (lastError == errNone) {
            // Checked now, while the user is there to answer: a damaged
            // volume is changed only after the question. A volume that is
            // read-only anyway is browsed as it is.
            guardChanges(DamagedVolumeAnswer::ask);
            if (lastError == errVolumeReadOnly) lastError = errNone;
        }
        if (lastError == errNone) showVolumeRoot();
    }
    reportAndClose();
    return false;
}

void macFolderBoxChosen(int index)
{
    if (index <= 0) return;
    goUpMacFolders(index);
    reportAndClose();
}

void macGoUp()
{
    if (macPane.folderBox.size() < 2) return;
    goUpMacFolders(1);
    reportAndClose();
}

bool chooseMacDrive(int index)
{
    if (index < 0) return false;
    selectMacDrive(index);
    if (lastError == errNone) return true;
    reportLastError();
    ui->paneChanged(paneMacDriveBox);
    return false;
}

}  // namespace verrin
