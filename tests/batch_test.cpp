// The four batch commands through the headless seam: their whole dialogue
// (settings dialog, "No files marked!", the folder warning, the counts and
// byte totals, cancel at each question), trees copied flat or recreated,
// the filters, merges and name clashes, a Cancel or an error in the middle
// of a copy, a failed write of small files whose data went out together, deletion of whole trees, and a tree that goes to the Mac and
// comes back unchanged while hfsutils reads the volume the same way.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "app/batch.h"
#include "base/progress.h"
#include "base/settings.h"
#include "base/ui_headless.h"
#include "hfs/hfs.h"
#include "support/desk.h"
#include "support/faulty_drive.h"
#include "support/interop.h"
#include "support/volumes.h"
#include "transfer/pcfile.h"

using namespace verrin;
using namespace verrin::testsupport;
namespace fs = std::filesystem;

namespace {

// The Mac folder `name` made in the current folder and opened.
void openNewMacFolder(const char* name)
{
    const std::vector<uint8_t> n = macName(name);
    createFolder(n.data());
    flushVolume();
    refreshMacFolder();
    ASSERT_GE(findMacFolderEntry(n.data()), 0);
    openMacFolder();
    ASSERT_EQ(lastError, errNone);
}

// A user-interface table whose pump presses Cancel once the progress has
// passed `cancelAt` units.
uint64_t cancelAt = 0;
UiOps cancellingUi;
void cancelWhenPast()
{
    if (progressShown() && progressDone > cancelAt) lastError = errCancelled;
}

}  // namespace

TEST(BatchCopy, PcToMacDialogue)
{
    struct Row {
        const char* what;
        int copyPrefs;
        std::vector<std::string> selection;
        std::vector<int> answers;
        int ran;
        std::vector<std::string> captions;  // of everything shown
        std::vector<std::string> titles;    // of the progress windows
        Tree mac;
    };
    const std::string big(12345, 'a');
    const Row rows[] = {
        {"settings dialog cancelled", 1, {"a.txt"}, {uiAnswerCancel}, 0, {"PC to Mac Copy Settings"}, {}, {}},
        {"nothing to copy", 0, {"empty"}, {}, 0, {"Error"}, {"Searching PC disk for files"}, {}},
        {"confirmation cancelled", 0, {"a.txt", "docs"}, {uiAnswerCancel}, 0, {"Ready to copy from PC to Mac"},
         {"Searching PC disk for files"}, {}},
        {"copied", 1, {"a.txt", "docs"}, {uiAnswerOk, uiAnswerOk}, 1,
         {"PC to Mac Copy Settings", "Ready to copy from PC to Mac"},
         {"Searching PC disk for files", "Copying from PC to Mac"},
         {{"a.txt", big}, {"b.txt", std::string(100, 'b')}, {"c.txt", "ccccc"}}},
        {"only empty files: no copying window", 0, {"e0"}, {uiAnswerOk}, 1, {"Ready to copy from PC to Mac"},
         {"Searching PC disk for files"}, {{"e0", ""}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Desk desk;
        ASSERT_TRUE(desk.mountNew(2048));
        ASSERT_TRUE(writeTree(desk.pc, {{"a.txt", big},
                                        {"e0", ""},
                                        {"empty/", ""},
                                        {"docs/b.txt", std::string(100, 'b')},
                                        {"docs/inner/c.txt", "ccccc"}}));
        rebuildPcPane();
        settings.copyPrefs = row.copyPrefs;
        headless::scriptedAnswers = row.answers;
        const BatchResult r = copyPcToMac(pcSelection(row.selection));
        EXPECT_EQ(r.ran, row.ran);
        EXPECT_EQ(r.error, errNone);
        EXPECT_EQ(shownCaptions(), row.captions);
        EXPECT_EQ(headless::progressTitles, row.titles);
        EXPECT_EQ(macTree(), row.mac);
        EXPECT_EQ(fs::current_path(), fs::path(desk.pc));
        if (row.selection.size() == 2) {
            // The count and the byte total, and the search's running count.
            EXPECT_EQ(headless::shown.back().text, "Files to copy:\t3\nBytes to copy:\t12,450");
            ASSERT_FALSE(headless::progressNames.empty());
            EXPECT_EQ(headless::progressNames[0], "Files found: 1\nTotal bytes:  12K");
        }
        if (row.titles.size() == 2) {
            EXPECT_EQ(headless::progressPercents.back(), 100);
        }
        if (row.captions == std::vector<std::string>{"Error"}) {
            EXPECT_EQ(headless::shown[0].text, "No files marked!");
            EXPECT_EQ(headless::shown[0].icon, uiIconWarning);
        }
    }
}

TEST(BatchCopy, TreesFlatRecreatedFilteredAndClashing)
{
    Desk desk;
    ASSERT_TRUE(desk.mountNew(2048));
    ASSERT_TRUE(writeTree(desk.pc, {{"top/a.TXT", "A"},
                                    {"top/b.text", "B"},
                                    {"top/sub/c.txt", "C"},
                                    {"top/sub/e.doc", "E"},
                                    {"top/sub/deeper/d.txt", "D"}}));
    rebuildPcPane();
    settings.pcCopyFilter = 1;
    settings.pcFilterExt = "txt";

    // Flat: every passing file of the tree in the one folder.
    openNewMacFolder("Flat");
    headless::scriptedAnswers = {uiAnswerOk};
    BatchResult r = copyPcToMac(pcSelection({"top"}));
    EXPECT_EQ(r.error, errNone);
    EXPECT_EQ(r.files, 3u);
    EXPECT_EQ(macTree(currentFolderId), (Tree{{"a.TXT", "A"}, {"c.txt", "C"}, {"d.txt", "D"}}));

    // Recreated: the folders of the tree, empty ones included.
    goUpMacFolders(1);
    openNewMacFolder("Tree");
    const uint32_t treeFolder = currentFolderId;
    settings.pcCopyDir = 1;
    headless::reset();
    headless::scriptedAnswers = {uiAnswerOk};
    r = copyPcToMac(pcSelection({"top"}));
    EXPECT_EQ(r.error, errNone);
    EXPECT_EQ(macTree(treeFolder), (Tree{{"top/", ""},
                                         {"top/a.TXT", "A"},
                                         {"top/sub/", ""},
                                         {"top/sub/c.txt", "C"},
                                         {"top/sub/deeper/", ""},
                                         {"top/sub/deeper/d.txt", "D"}}));
    // The walk came back to where it started, on both sides.
    EXPECT_EQ(currentFolderId, treeFolder);
    EXPECT_EQ(macPane.folderBox.front(), "Tree");
    EXPECT_EQ(fs::current_path(), fs::path(desk.pc));
    EXPECT_EQ(pcPane.directoryBox.front(), "pc");

    // A Mac folder of that name exists: the copy stops, nothing is merged.
    headless::reset();
    headless::scriptedAnswers = {uiAnswerOk};
    r = copyPcToMac(pcSelection({"top"}));
    EXPECT_EQ(r.ran, 1);
    EXPECT_EQ(r.error, errNameExists);
    EXPECT_EQ(shownTexts().back(), "Name already exists");
    EXPECT_EQ(macTree(treeFolder).size(), 6u);
    EXPECT_EQ(currentFolderId, treeFolder);
}

TEST(BatchCopy, CancelAndErrorInTheMiddle)
{
    Desk desk;
    ASSERT_TRUE(desk.mountNew(2048));
    ASSERT_TRUE(writeTree(desk.pc, {{"one.bin", testPattern(40000, 1)}, {"two.bin", testPattern(200000, 2)}}));
    rebuildPcPane();

    // Cancel while two.bin is being written: one.bin stays (flushed), the
    // volume drops what two.bin had, and no message follows.
    cancellingUi = headless::ops;
    cancellingUi.pumpMessages = cancelWhenPast;
    cancelAt = 40000 + 65536;
    installUi(&cancellingUi);
    headless::scriptedAnswers = {uiAnswerOk};
    BatchResult r = copyPcToMac(pcSelection({"one.bin", "two.bin"}));
    EXPECT_EQ(r.error, errCancelled);
    EXPECT_EQ(shownCaptions(), std::vector<std::string>{"Ready to copy from PC to Mac"});
    EXPECT_EQ(macTree(), (Tree{{"one.bin", testPattern(40000, 1)}}));
    EXPECT_EQ(volumeProblems(), "");

    // The other way: no partial PC file.
    headless::reset();
    installUi(nullptr);
    headless::scriptedAnswers = {uiAnswerOk};
    copyPcToMac(pcSelection({"two.bin"}));
    fs::create_directory(desk.pc + "/back");
    rebuildPcPane();
    pcOpenDirectory(findPcEntry("back"));
    relistMacFolder();
    installUi(&cancellingUi);
    cancelAt = 40000 + 32768;
    headless::reset();
    headless::scriptedAnswers = {uiAnswerOk};
    r = copyMacToPc(macSelection({"one.bin", "two.bin"}));
    installUi(nullptr);
    EXPECT_EQ(r.error, errCancelled);
    EXPECT_EQ(readTree(desk.pc + "/back"), (Tree{{"one.bin", testPattern(40000, 1)}}));

    // An error: the volume fills up at the third file of a recreated tree.
    Desk small;
    ASSERT_TRUE(small.mountNew(400));
    ASSERT_TRUE(writeTree(small.pc, {{"src/f1", testPattern(60000, 3)},
                                     {"src/f2", testPattern(60000, 4)},
                                     {"src/f3", testPattern(300000, 5)}}));
    rebuildPcPane();
    settings.pcCopyDir = 1;
    headless::scriptedAnswers = {uiAnswerOk};
    r = copyPcToMac(pcSelection({"src"}));
    EXPECT_EQ(r.error, errMacDiskFull);
    EXPECT_EQ(shownTexts().back(), "Mac disk ran out of room");
    EXPECT_EQ(macTree(), (Tree{{"src/", ""}, {"src/f1", testPattern(60000, 3)}, {"src/f2", testPattern(60000, 4)}}));
    EXPECT_EQ(currentFolderId, 2u);
    EXPECT_EQ(macPane.folderBox.size(), 2u);
    EXPECT_EQ(fs::current_path(), fs::path(small.pc));
    EXPECT_EQ(volumeProblems(), "");
}

// Small files' data goes to the drive gathered, several files to a write,
// and a commit syncs it before any catalog change is written. Whichever
// write fails, no file reaches the volume without its data.
TEST(BatchCopy, AFailedWriteOfGatheredFilesLeavesNoFileWithoutItsData)
{
    // 1 KB blocks; sizes that end mid-sector, mid-block and on a block.
    Tree source;
    std::vector<std::string> names;
    for (unsigned i = 0; i < 40; ++i) {
        names.push_back("f" + std::to_string(100 + i));
        source[names.back()] = testPattern(300 + 700 * i, i);
    }
    uint32_t writes = 0;
    for (uint32_t failing = 0; failing <= writes; ++failing) {
        SCOPED_TRACE("write " + std::to_string(failing));
        Desk desk;
        ASSERT_TRUE(desk.mountNew(40000));
        ASSERT_TRUE(writeTree(desk.pc, source));
        rebuildPcPane();
        wrapDriveWithFaults(desk.drive);
        armFaults(0, failing);
        headless::scriptedAnswers = {uiAnswerOk};
        const BatchResult r = copyPcToMac(pcSelection(names));
        unwrapFaultyDrive();
        const Tree copied = macTree();
        if (failing == 0) {
            ASSERT_EQ(r.error, errNone);
            EXPECT_EQ(copied, source);
            writes = faultPlan.writes;
            EXPECT_LT(writes, names.size() / 4);
            // The commit's writes start with the master directory block: it
            // comes after the data, with a sync between.
            const std::vector<uint32_t>& trail = faultPlan.trail;
            const auto mdbWrite = std::find(trail.begin(), trail.end(), volume.startSector + 2);
            ASSERT_NE(mdbWrite, trail.end());
            ASSERT_GT(mdbWrite - trail.begin(), 1);
            EXPECT_EQ(*(mdbWrite - 1), syncMark);
            EXPECT_NE(*(mdbWrite - 2), syncMark);
        } else {
            EXPECT_EQ(r.error, errMacWrite);
            for (const auto& [name, contents] : copied) EXPECT_EQ(contents, source.at(name)) << name;
        }
        EXPECT_EQ(volumeProblems(), "");
    }
}

TEST(BatchCopy, MacToPcMergesFiltersAndCountsByTranslation)
{
    Desk desk;
    ASSERT_TRUE(desk.mountNew(2048));
    // The Mac side: Docs with three files, and a file with only a resource
    // fork, both made through the copy to the Mac.
    ASSERT_TRUE(writeTree(desk.pc, {{"Docs/x.txt", "xx"}, {"Docs/y.dat", "yyy"}, {"Docs/z.TXT", "zzzz"}}));
    ASSERT_TRUE(writeTree(desk.pc, {{"r.rsrc", std::string(300, 'r')}}));
    rebuildPcPane();
    settings.pcCopyDir = 1;
    headless::scriptedAnswers = {uiAnswerOk};
    copyPcToMac(pcSelection({"Docs"}));
    settings.pcTrans = ResourceFile;
    headless::scriptedAnswers = {uiAnswerOk};
    copyPcToMac(pcSelection({"r.rsrc"}));
    ASSERT_EQ(lastError, errNone);
    fs::remove_all(desk.pc + "/Docs");
    ASSERT_TRUE(writeTree(desk.pc, {{"Docs/old.txt", "old"}}));
    relistMacFolder();

    // An existing directory of the folder's name takes the copies.
    settings.macCopyDir = 1;
    settings.macCopyFilter = 1;
    settings.macFilterExt = "txt";
    headless::reset();
    headless::scriptedAnswers = {uiAnswerOk};
    BatchResult r = copyMacToPc(macSelection({"Docs"}));
    EXPECT_EQ(r.error, errNone);
    EXPECT_EQ(r.files, 2u);
    EXPECT_EQ(readTree(desk.pc + "/Docs"), (Tree{{"old.txt", "old"}, {"x.txt", "xx"}, {"z.TXT", "zzzz"}}));
    EXPECT_EQ(fs::current_path(), fs::path(desk.pc));

    // The resource fork translation counts resource bytes only.
    settings.macCopyFilter = 0;
    settings.macTrans = ResourceFile;
    headless::reset();
    headless::scriptedAnswers = {uiAnswerCancel};
    r = copyMacToPc(macSelection({"r.rsrc"}));
    EXPECT_EQ(r.ran, 0);
    EXPECT_EQ(shownTexts(), std::vector<std::string>{"Files to copy:\t1\nBytes to copy:\t300"});
}

TEST(BatchDelete, MacTreeWithInvisibleFilesInnermostFirst)
{
    for (const bool cancelAtWarning : {true, false}) {
        SCOPED_TRACE(cancelAtWarning);
        Desk desk;
        ASSERT_TRUE(desk.mountNew(2048));
        ASSERT_TRUE(writeTree(desk.pc, {{"T/S/f1", "11"}, {"T/S/f2", "222"}, {"T/f3", "3"}, {"loose", "4444"}}));
        rebuildPcPane();
        settings.pcCopyDir = 1;
        headless::scriptedAnswers = {uiAnswerOk};
        copyPcToMac(pcSelection({"T", "loose"}));
        // An invisible file in T, which the listing hides.
        openMacFolder(macPane.entries[static_cast<size_t>(macSelection({"T"})[0])]);
        FileInfo hidden{};
        std::memcpy(hidden.name, "\x06hidden", 7);
        hidden.finderInfo[8] = 0x40;
        createFile(hidden);
        flushVolume();
        goUpMacFolders(1);
        ASSERT_EQ(lastError, errNone);

        headless::reset();
        headless::scriptedAnswers = {cancelAtWarning ? uiAnswerCancel : uiAnswerOk, uiAnswerOk};
        const BatchResult r = deleteMacItems(macSelection({"T", "loose"}));
        EXPECT_EQ(r.files, 5u);
        EXPECT_EQ(r.bytes, 10u);
        ASSERT_GE(headless::shown.size(), 1u);
        EXPECT_EQ(headless::shown[0].caption, "WARNING");
        EXPECT_EQ(headless::shown[0].text, "You have selected folders for deletion. All files and\n"
                                           "subfolders under these folders will also be deleted.");
        if (cancelAtWarning) {
            EXPECT_EQ(r.ran, 0);
            EXPECT_EQ(macTree().size(), 7u);
            continue;
        }
        EXPECT_EQ(r.ran, 1);
        EXPECT_EQ(r.error, errNone);
        EXPECT_EQ(headless::shown[1].text, "Files to delete:\t5\nBytes to delete:\t10");
        EXPECT_EQ(headless::shown[1].caption, "Ready to delete files from Mac disk");
        EXPECT_EQ(macTree(), Tree{});
        // Every removed item moves the bar, folders too, against a total of
        // files: it reaches 100 before the end and stays there.
        EXPECT_EQ(headless::progressTitles.back(), "Deleting Mac files");
        const auto full = std::count(headless::progressPercents.begin(), headless::progressPercents.end(), 100);
        EXPECT_EQ(full, 3);
        EXPECT_TRUE(macPane.entries.empty());
        EXPECT_EQ(volumeProblems(), "");
    }
}

TEST(BatchDelete, PcTreeNeverFollowsLinks)
{
    Desk desk;
    ASSERT_TRUE(writeTree(desk.pc, {{"gone/f1", "1"}, {"gone/sub/f2", "22"}, {"keep/precious", "p"}, {"file", "abc"}}));
#ifndef _WIN32
    fs::create_directory_symlink(desk.pc + "/keep", desk.pc + "/gone/link");
#endif
    rebuildPcPane();
    headless::scriptedAnswers = {uiAnswerOk, uiAnswerOk};
    const BatchResult r = deletePcItems(pcSelection({"gone", "file"}));
    EXPECT_EQ(r.error, errNone);
    EXPECT_EQ(shownTexts().at(1), "Files to delete:\t3\nBytes to delete:\t6");
    EXPECT_EQ(shownCaptions().at(1), "Ready to delete files from PC disk");
    EXPECT_EQ(readTree(desk.pc), (Tree{{"keep/", ""}, {"keep/precious", "p"}}));
    EXPECT_EQ(pcPane.entries.size(), 1u);
}

TEST(BatchTree, RoundTripReadsTheSameInHfsutils)
{
    Desk desk;
    ASSERT_TRUE(desk.mountNew(4096, "Round Trip"));
    Tree tree;
    for (int i = 0; i < 12; ++i) {
        const std::string folder = i < 4 ? "tree/" : i < 8 ? "tree/Level One/" : "tree/Level One/Level Two/";
        tree[folder + "file " + std::to_string(i) + ".dat"] = testPattern(static_cast<size_t>(i) * 9001 % 70000, static_cast<unsigned>(i));
    }
    tree["tree/Empty Dir/"] = "";
    ASSERT_TRUE(writeTree(desk.pc, tree));
    rebuildPcPane();
    settings.pcCopyDir = 1;
    headless::scriptedAnswers = {uiAnswerOk};
    ASSERT_EQ(copyPcToMac(pcSelection({"tree"})).error, errNone);

    fs::create_directory(desk.pc + "/back");
    rebuildPcPane();
    pcOpenDirectory(findPcEntry("back"));
    settings.macCopyDir = 1;
    headless::scriptedAnswers = {uiAnswerOk};
    ASSERT_EQ(copyMacToPc(macSelection({"tree"})).error, errNone);
    Tree expected;
    for (const auto& [path, bytes] : tree) expected[path] = bytes;
    for (const std::string dir : {"tree/", "tree/Level One/", "tree/Level One/Level Two/"}) expected[dir] = "";
    EXPECT_EQ(readTree(desk.pc + "/back"), expected);
    EXPECT_EQ(volumeProblems(), "");
    closeAll();
    if (havePeer("hmount")) expectSameAsHfsutils(desk.dir, desk.image);
}
