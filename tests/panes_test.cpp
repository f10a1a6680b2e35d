// The two panes' models: sort orders and list lines against worked
// examples (long names, extensions, 4 GiB files, dates around 2000, Mac
// names with NUL and high characters), the PC pane read from a real
// directory, and the Mac pane's moves between drive, volume and folders
// with its folder box.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "app/panes.h"
#include "base/format.h"
#include "base/settings.h"
#include "hfs/hfs.h"
#include "support/desk.h"
#include "support/volumes.h"
#include "transfer/pcfile.h"

using namespace verrin;
using namespace verrin::testsupport;
namespace fs = std::filesystem;

namespace {

const uint32_t lastDay1999 = packDosDateTime(1999, 12, 31, 23, 0, 0);
const uint32_t firstDay2000 = packDosDateTime(2000, 1, 1, 0, 0, 0);

PcEntry pcFileEntry(const std::string& name, uint32_t size = 0, uint32_t date = lastDay1999)
{
    return PcEntry{size, date, pcFile, false, name};
}

std::vector<std::string> pcOrder(std::vector<PcEntry> entries, int sort)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [sort](const PcEntry& a, const PcEntry& b) { return comparePcEntries(a, b, sort) < 0; });
    std::vector<std::string> names;
    for (const PcEntry& e : entries) names.push_back(e.name);
    return names;
}

MacEntry macEntry(uint16_t kind, const std::string& name, uint32_t data = 0, uint32_t rsrc = 0,
                  const char* type = "TEXT")
{
    MacEntry e{};
    e.kind = kind;
    e.name[0] = static_cast<uint8_t>(name.size());
    std::memcpy(e.name + 1, name.data(), name.size());
    e.firstSize = data;
    e.secondSize = rsrc;
    e.dateTime = lastDay1999;
    std::memcpy(e.type, type, 4);
    std::memcpy(e.creator, "ttxt", 4);
    return e;
}

std::vector<std::string> macOrder(std::vector<MacEntry> entries, int sort)
{
    std::stable_sort(entries.begin(), entries.end(),
                     [sort](const MacEntry& a, const MacEntry& b) { return compareMacEntries(a, b, sort) < 0; });
    std::vector<std::string> names;
    for (const MacEntry& e : entries) names.emplace_back(reinterpret_cast<const char*>(e.name + 1), e.name[0]);
    return names;
}

std::string column(const std::string& text, size_t width) { return text + std::string(width - text.size(), ' '); }

}  // namespace

TEST(PcPane, LinesAndSortOrders)
{
    // Name column 44, extension 3 (from up to 4 after the last dot), size or
    // [DIR] at 51, date at 57: 65 characters.
    struct Line {
        PcEntry entry;
        int32_t scroll;
        std::string expected;
    };
    const std::string fifty = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMN";
    const Line lines[] = {
        {pcFileEntry("page.html", 1474560), 0, column("page.html", 44) + "  HTM  1.4M  12/31/99"},
        {pcFileEntry("archive.tar.gz", 10000, firstDay2000), 0, column("archive.tar.gz", 44) + "  GZ    10K  01/01/00"},
        {pcFileEntry("data.backup", 9999), 0, column("data.backup", 44) + "       9999  12/31/99"},
        {pcFileEntry("README", 0xFFFFFFFF), 0, column("README", 44) + "       4.0G  12/31/99"},
        {PcEntry{0, firstDay2000, pcDirectory, false, "Dir.ext"}, 0, column("Dir.ext", 44) + "       [DIR] 01/01/00"},
        {pcFileEntry(fifty, 1), 6, column(fifty.substr(6), 44) + "          1  12/31/99"},
        {pcFileEntry("short", 1), 6, column("", 44) + "          1  12/31/99"},
    };
    for (const Line& l : lines) {
        SCOPED_TRACE(l.entry.name);
        EXPECT_EQ(formatPcLine(l.entry, l.scroll), l.expected);
        EXPECT_EQ(formatPcLine(l.entry, l.scroll).size(), 65u);
    }

    const std::vector<PcEntry> entries = {
        pcFileEntry("b.TXT", 10, firstDay2000), pcFileEntry("archive.tar.gz", 10, lastDay1999),
        pcFileEntry("a.txt", 5, lastDay1999),   pcFileEntry("README", 0xFFFFFFFF, lastDay1999 - 1),
        PcEntry{0, lastDay1999, pcDirectory, false, "zdir"},
        PcEntry{0, firstDay2000, pcDirectory, false, "Adir"},
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(pcOrder(entries, sortName), (Names{"Adir", "zdir", "a.txt", "archive.tar.gz", "b.TXT", "README"}));
    EXPECT_EQ(pcOrder(entries, sortExtension), (Names{"Adir", "zdir", "README", "archive.tar.gz", "a.txt", "b.TXT"}));
    EXPECT_EQ(pcOrder(entries, sortSize), (Names{"Adir", "zdir", "README", "archive.tar.gz", "b.TXT", "a.txt"}));
    EXPECT_EQ(pcOrder(entries, sortDate), (Names{"Adir", "zdir", "b.TXT", "a.txt", "archive.tar.gz", "README"}));
}

TEST(PcPane, ReadsTheCurrentDirectory)
{
    Desk desk;
    const std::string fifty(50, 'n');
    ASSERT_TRUE(writeTree(desk.pc, {{"sub/inner.txt", "x"}, {fifty, "long"}, {".hidden", "h"}}));
    rebuildPcPane();
    ASSERT_EQ(pcPane.entries.size(), 3u);
    EXPECT_EQ(pcPane.entries[0].name, "sub");
    EXPECT_EQ(pcPane.entries[0].kind, pcDirectory);
    EXPECT_EQ(pcPane.entries[2].size, 4u);
    EXPECT_EQ(pcPane.overflow, 6);
    EXPECT_EQ(pcPane.directoryBox.front(), "pc");
    EXPECT_EQ(pcPane.directoryBox.back(), std::string(1, pcPathSeparator));
    EXPECT_TRUE(pcPane.upEnabled);
    EXPECT_EQ(pcPane.driveLabel.rfind("PC Drive: ", 0), 0u);
    EXPECT_EQ(pcPane.driveLabel.substr(pcPane.driveLabel.size() - 5), " free");

    const size_t depth = pcPane.directoryBox.size();
    pcOpenDirectory(0);
    EXPECT_EQ(pcPane.directoryBox.size(), depth + 1);
    EXPECT_EQ(pcPane.directoryBox[0], "sub");
    EXPECT_EQ(pcPane.directoryBox[1], "pc");
    ASSERT_EQ(pcPane.entries.size(), 1u);
    pcGoUp(1);
    EXPECT_EQ(fs::current_path(), fs::path(desk.pc));

    const PcDriveBox drives = pcDriveBox();
    ASSERT_GE(drives.selected, 0);
    EXPECT_EQ(std::toupper(drives.entries[static_cast<size_t>(drives.selected)][0]),
              std::toupper(pcCurrentDirectory()[0]));
    EXPECT_NE(drives.entries[static_cast<size_t>(drives.selected)].find("(Fixed)"), std::string::npos);
}

TEST(MacPane, LinesAndSortOrders)
{
    // A NUL shows as 0x02, Mac Roman 0x8E as the PC's é.
    MacEntry file = macEntry(macFile, std::string("a\0b\x8E" "c", 5), 1474560, 10000);
    const std::string expected = std::string("a\x02" "b\xE9" "c", 5) + std::string(28, ' ') +
                                 "TEXT  ttxt  1.4M   10K  12/31/99";
    EXPECT_EQ(formatMacLine(file), expected);
    EXPECT_EQ(formatMacLine(macEntry(macFolder, "Stuff")), column("Stuff", 34) + "[FOLDER]" + std::string(15, ' ') + "12/31/99");
    EXPECT_EQ(formatMacLine(macEntry(macVolume, "Disk")), column("Disk", 34) + "[VOLUME]");

    const std::vector<MacEntry> entries = {
        macEntry(macFile, "y", 10, 0, "text"), macEntry(macFile, "x", 10, 5, "TEXT"),
        macEntry(macFile, "z", 20, 0, "APPL"), macEntry(macFolder, "B"), macEntry(macFolder, "a"),
    };
    using Names = std::vector<std::string>;
    EXPECT_EQ(macOrder(entries, sortSize), (Names{"a", "B", "z", "x", "y"}));
    EXPECT_EQ(macOrder(entries, sortType), (Names{"a", "B", "z", "x", "y"}));  // TEXT = text: by name
    EXPECT_EQ(macOrder(entries, sortName), (Names{"a", "B", "x", "y", "z"}));
}

TEST(MacPane, MovesBetweenDriveVolumeAndFolders)
{
    Desk desk;
    ASSERT_TRUE(desk.mountNew(1024, "Desk"));
    const std::string label = macDriveBox().at(static_cast<size_t>(desk.drive));
    EXPECT_EQ(macPane.folderBox, (std::vector<std::string>{"Desk", label}));
    EXPECT_EQ(macPane.driveLabel.rfind("Mac Drive: ", 0), 0u);

    // A folder A holding B and an invisible file.
    createFolder(macName("A").data());
    flushVolume();
    relistMacFolder();
    EXPECT_FALSE(openMacEntry(findMacEntry(macName("A").data())));
    createFolder(macName("B").data());
    FileInfo hidden{};
    std::memcpy(hidden.name, "\x06hidden", 7);
    hidden.finderInfo[8] = 0x40;
    createFile(hidden);
    flushVolume();
    relistMacFolder();
    EXPECT_EQ(macPane.entries.size(), 1u);
    settings.hideInvisible = 0;
    relistMacFolder();
    EXPECT_EQ(macPane.entries.size(), 2u);
    EXPECT_TRUE(openMacEntry(findMacEntry(macName("hidden").data())));  // a file: the caller's info dialog
    EXPECT_EQ(macPane.folderBox, (std::vector<std::string>{"A", "Desk", label}));
    const uint32_t folderB = macPane.entries[static_cast<size_t>(findMacEntry(macName("B").data()))].id;

    // Up to the root, then past it to the drive's volume list.
    macGoUp();
    EXPECT_EQ(macPane.folderBox, (std::vector<std::string>{"Desk", label}));
    EXPECT_EQ(currentFolderId, 2u);
    macGoUp();
    EXPECT_EQ(macPane.folderBox, std::vector<std::string>{label});
    ASSERT_EQ(macPane.entries.size(), 1u);
    EXPECT_EQ(macPane.entries[0].kind, macVolume);
    EXPECT_EQ(formatMacLine(macPane.entries[0]), column("Desk", 34) + "[VOLUME]");
    EXPECT_EQ(parentFolderId, 0u);
    EXPECT_FALSE(volume.mounted);

    // Mount again and jump to a deep folder; choosing the drive's label in
    // the folder box climbs all the way out.
    openMacEntry(0);
    ASSERT_TRUE(showMacFolder(folderB));
    EXPECT_EQ(macPane.folderBox, (std::vector<std::string>{"B", "A", "Desk", label}));
    macFolderBoxChosen(3);
    EXPECT_EQ(macPane.folderBox, std::vector<std::string>{label});
    EXPECT_EQ(lastError, errNone);
}

// A listing whose folders and files interleave by name comes out folders
// first, each kind in name order.
TEST(MacPane, FoldersAndFilesInterleavedByName)
{
    Desk desk;
    ASSERT_TRUE(desk.mountNew(1024, "Desk"));
    for (const char* name : {"a", "C", "e"}) {
        FileInfo file{};
        const std::vector<uint8_t> n = macName(name);
        std::memcpy(file.name, n.data(), n.size());
        createFile(file);
    }
    for (const char* name : {"B", "d"}) createFolder(macName(name).data());
    flushVolume();
    relistMacFolder();
    std::vector<std::string> names;
    for (const MacEntry& e : macPane.entries) names.emplace_back(reinterpret_cast<const char*>(e.name + 1), e.name[0]);
    EXPECT_EQ(names, (std::vector<std::string>{"B", "d", "a", "C", "e"}));
}
