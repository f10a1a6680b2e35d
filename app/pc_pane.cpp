// The PC pane's model (see panes.h): the current directory's entries, its
// sort orders and list lines, the directory box, the drive box and the
// free-space label.
// Calls the PC file seam, size and date formatting and the user-interface
// seam.
#include <algorithm>
#include <cstdio>
#include <cctype>
#include <cstring>
#include <iterator>
#include <utility>

#include "app/panes.h"
#include "base/format.h"
#include "base/ui.h"
#include "transfer/pcfile.h"

namespace verrin {

PcPane pcPane;
bool listingVisible = true;

namespace {

// Names longer than this scroll in the name column.
constexpr size_t nameColumnWidth = 44;
// Columns of a PC list line.
constexpr size_t pcSizeColumn = 51, pcLineLength = 65;

unsigned char foldCase(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

// Case-blind order of the ASCII letters, bytes compared unsigned.
int compareFolded(const std::string& a, const std::string& b)
{
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] == b[i]) continue;
        const unsigned char x = foldCase(static_cast<unsigned char>(a[i]));
        const unsigned char y = foldCase(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The text from the last "." on, or the whole name when it has none.
std::string sortExtensionOf(const std::string& name, bool& has)
{
    const size_t dot = name.rfind('.');
    has = dot != std::string::npos;
    return has ? name.substr(dot) : name;
}

template <typename T> int compareDescending(T a, T b) { return a == b ? 0 : (a > b ? -1 : 1); }

uint32_t clampSize(uint64_t bytes) { return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes); }

void rebuildFrom(unsigned listParts, std::vector<PcDirEntry> listed)
{
    pcPane.overflow = 0;
    fillPcDirectoryBox();
    if (listingVisible) updatePcDriveLabel();
    pcPane.entries.clear();
    for (PcDirEntry& e : listed) {
        if (e.name == "." || e.name == "..") continue;
        if (e.name.size() > nameColumnWidth)
            pcPane.overflow = std::max(pcPane.overflow, static_cast<int32_t>(e.name.size() - nameColumnWidth));
        PcEntry entry{};
        entry.kind = e.isDirectory ? pcDirectory : pcFile;
        entry.link = e.isLink && e.isDirectory;
        entry.size = e.isDirectory ? 0 : clampSize(e.size);
        entry.dateTime = fileTimeToDos(e.modified);
        entry.name = std::move(e.name);
        pcPane.entries.push_back(std::move(entry));
    }
    const int sort = pcPane.sort;
    std::stable_sort(pcPane.entries.begin(), pcPane.entries.end(),
                     [sort](const PcEntry& a, const PcEntry& b) { return comparePcEntries(a, b, sort) < 0; });
    if (!listingVisible) return;
    pcPane.hScrollPos = 0;
    ui->paneChanged(listParts);
}

void rebuild(unsigned listParts)
{
    std::vector<PcDirEntry> listed;
    pcListDirectory(listed);
    rebuildFrom(listParts, std::move(listed));
}

}  // namespace

int sortFromSetting(int value) { return value >= sortName && value <= sortDate ? value : sortName; }

void rebuildPcPane() { rebuild(panePcList); }

void rebuildPcPaneFrom(std::vector<PcDirEntry> listed) { rebuildFrom(panePcList, std::move(listed)); }

void refreshPcPane() { rebuild(panePcList | paneKeepTopLine); }

void fillPcDirectoryBox()
{
    pcPane.directoryBox.assign(1, std::string(1, pcPathSeparator));
    const std::string current = pcCurrentDirectory();
    const size_t first = current.find(pcPathSeparator);
    if (!current.empty() && first != std::string::npos) {
        const std::string path = current.substr(first + 1);
        if (listingVisible) pcPane.upEnabled = !path.empty();
        size_t start = 0;
        while (start < path.size()) {
            const size_t end = std::min(path.find(pcPathSeparator, start), path.size());
            if (end == start) break;  // a trailing separator ends the path
            pcPane.directoryBox.insert(pcPane.directoryBox.begin(), path.substr(start, end - start));
            start = end + 1;
        }
    }
    ui->paneChanged(panePcDirectoryBox);
}

void updatePcDriveLabel()
{
    double freeBytes = 0, totalBytes = 0;
    if (!pcFreeSpace(freeBytes, totalBytes)) freeBytes = totalBytes = 0;
    pcPane.driveLabel = "PC Drive: " + formatSize(freeBytes) + " of " + formatSize(totalBytes) + " free";
    ui->paneChanged(panePcDriveLabel);
}

PcDriveBox pcDriveBox()
{
    PcDriveBox box{{}, -1};
    const std::string current = pcCurrentDirectory();
    const char letter = current.empty() ? '\0' : current[0];
    static constexpr const char* typeLabels[] = {"", "", "(Removable)", "(Fixed)", "(Remote)", "(CDROM)", "(Ram Disk)"};
    for (const PcDrive& drive : pcDrives()) {
        if (drive.type <= pcDriveUnknown) continue;
        std::string text = drive.root;
        if (text.size() > 1 && text.back() == pcPathSeparator) text.pop_back();
        for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (drive.type < static_cast<int>(std::size(typeLabels))) text += typeLabels[drive.type];
        box.entries.push_back(std::move(text));
    }
    for (size_t i = 0; i < box.entries.size() && letter; ++i)
        if (std::toupper(static_cast<unsigned char>(box.entries[i][0])) == std::toupper(static_cast<unsigned char>(letter))) {
            box.selected = static_cast<int>(i);
            break;
        }
    return box;
}

int comparePcEntries(const PcEntry& a, const PcEntry& b, int sort)
{
    if (a.kind != b.kind) return a.kind < b.kind ? -1 : 1;
    int order = 0;
    switch (sort) {
    case sortExtension: {
        bool hasA = false, hasB = false;
        const std::string extA = sortExtensionOf(a.name, hasA);
        const std::string extB = sortExtensionOf(b.name, hasB);
        if (hasA != hasB) return hasA ? 1 : -1;
        order = compareFolded(extA, extB);
        break;
    }
    case sortSize:
        if (a.kind == pcFile) order = compareDescending(a.size, b.size);
        break;
    case sortDate:
        order = compareDescending(a.dateTime, b.dateTime);
        break;
    default:
        break;
    }
    return order != 0 ? order : compareFolded(a.name, b.name);
}

std::string formatPcLine(const PcEntry& entry, int32_t firstChar)
{
    const size_t skip = firstChar > 0 ? static_cast<size_t>(firstChar) : 0;
    const std::string name = skip < entry.name.size() ? entry.name.substr(skip) : std::string();
    std::string extension;
    const size_t dot = entry.name.rfind('.');
    if (entry.kind == pcFile && dot != std::string::npos && entry.name.size() - dot <= 5) {
        extension = entry.name.substr(dot + 1, 4);
        for (char& c : extension) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const uint32_t date = entry.dateTime >> 16;
    const int month = static_cast<int>(date >> 5 & 15);
    const int day = static_cast<int>(date & 31);
    const int year = static_cast<int>(((date >> 9) + 80) % 128 % 100);
    char line[pcLineLength + 80];
    std::snprintf(line, sizeof line, "%-44.44s  %-3.3s        %02d/%02d/%02d", name.c_str(), extension.c_str(), month,
                  day, year);
    if (entry.kind == pcDirectory) {
        std::memcpy(line + pcSizeColumn, "[DIR]", 5);
    } else {
        const std::string size = formatSize(static_cast<double>(entry.size));
        std::memcpy(line + pcSizeColumn, size.c_str(), std::min<size_t>(size.size(), 4));
        line[pcSizeColumn + 4] = ' ';
    }
    return std::string(line, pcLineLength);
}

void pcGoUp(int levels)
{
    for (int i = 0; i < levels; ++i) pcChangeDirectory("..");
    rebuildPcPane();
}

void pcOpenDirectory(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= pcPane.entries.size()) return;
    const PcEntry& entry = pcPane.entries[static_cast<size_t>(index)];
    if (entry.kind != pcDirectory) return;
    pcChangeDirectory(entry.name.c_str());
    rebuildPcPane();
}

bool pcSelectDrive(const std::string& entryText)
{
    const std::string before = pcCurrentDirectory();
    if (!entryText.empty() && pcChangeDrive(entryText[0])) {
        refreshPcPane();
        return true;
    }
    if (!before.empty()) pcChangeDirectory(before.c_str());
    messageBox("Could not change to that drive.", nullptr, uiOk, uiIconWarning);
    return false;
}

int findPcEntry(const std::string& name)
{
    for (size_t i = 0; i < pcPane.entries.size(); ++i)
        if (pcPane.entries[i].name == name) return static_cast<int>(i);
    return -1;
}

}  // namespace verrin
