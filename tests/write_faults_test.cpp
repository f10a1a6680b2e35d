// Device failures during a copy onto the volume: a batch of new files is
// copied one by one with a flush after each, as the copy to the Mac does,
// and every read and every write of the batch is made to fail in turn. After
// the error path (revert) the cache must equal the medium, the medium must
// pass the consistency checker, and it must hold exactly the files whose
// flush completed before the failure.
#include <gtest/gtest.h>

#include <cstring>

#include "hfs/check.h"
#include "hfs/internal.h"
#include "support/faulty_drive.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

struct NewItem {
    bool folder;
    std::string name;
    std::string data, rsrc;
};

std::string pattern(size_t bytes, unsigned seed)
{
    std::string s(bytes, '\0');
    uint32_t x = seed * 2654435761u + 7;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 23);
    }
    return s;
}

// The batch: a folder, then files of several sizes inside it (one empty,
// one with both forks, two that need many blocks on a fragmented volume).
std::vector<NewItem> batch()
{
    return {
        {true, "Inbox", "", ""},
        {false, "empty", "", ""},
        {false, "both forks", pattern(3000, 1), pattern(700, 2)},
        {false, "medium", pattern(40000, 3), ""},
        {false, "large", pattern(150000, 4), pattern(9000, 5)},
        {false, "last", pattern(513, 6), ""},
    };
}

bool writeFork(FileRef& ref, uint8_t fork, const std::string& bytes)
{
    WriteRequest request{fork, ref, 0, nullptr, 0};
    for (size_t at = 0; at < bytes.size(); at += 32768) {
        request.data = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
        request.length = static_cast<uint32_t>(std::min<size_t>(32768, bytes.size() - at));
        if (appendToFork(request) != request.length || lastError != errNone) return false;
    }
    return true;
}

// Creates one item in the folder; false with lastError set.
bool createItem(uint32_t folderId, const NewItem& item)
{
    if (!enterFolder(folderId)) return false;
    const std::vector<uint8_t> name = macName(item.name);
    if (item.folder) {
        createFolder(name.data());
        return lastError == errNone;
    }
    FileInfo info{};
    std::memcpy(info.name, name.data(), name.size());
    std::memcpy(info.finderInfo, "TEXTttxt", 8);
    createFile(info);
    if (lastError != errNone) return false;
    FileRef ref = openFileRef(folderId, info.name);
    if (lastError != errNone) return false;
    pinBuffer(ref.buffer);
    const bool ok = writeFork(ref, dataFork, item.data) && writeFork(ref, resourceFork, item.rsrc);
    unpinBuffer(ref.buffer);
    return ok;
}

// Runs the batch with a flush after each item; on the first failure reverts
// and stops. Returns how many items were flushed.
size_t runBatch(const std::vector<NewItem>& items)
{
    uint32_t folder = 2;
    for (size_t i = 0; i < items.size(); ++i) {
        if (createItem(folder, items[i])) flushVolume();
        if (lastError != errNone) {
            if (!faultPlan.failed) ADD_FAILURE() << items[i].name << ": " << errorText(lastError);
            lastError = errNone;
            revertVolume();
            EXPECT_EQ(lastError, errNone) << "revert failed";
            lastError = errNone;
            return i;
        }
        if (items[i].folder) {
            CatalogItem made;
            EXPECT_EQ(lookupCatalogItem(2, macName(items[i].name).data(), made), 1);
            folder = made.id;
        }
    }
    return items.size();
}

// Every cached sector equals the medium, none is dirty, and the control
// records of the two B-tree files agree with the MDB.
void expectCacheEqualsDisk()
{
    size_t differing = 0, dirty = 0;
    forEachCacheBuffer([&](CacheBuffer* b) {
        uint8_t disk[512];
        if (readPastFaults(disk, 1, b->sector) != 1 || std::memcmp(disk, b->data, 512) != 0) ++differing;
        if (b->flags & bufDirty) ++dirty;
    });
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(dirty, 0u);
    const uint8_t* m = volume.mdb->data;
    EXPECT_EQ(read32(extentsControl.data + fil::pyLen), read32(m + mdb::xtFlSize));
    EXPECT_EQ(std::memcmp(extentsControl.data + fil::extRec, m + mdb::xtExtRec, 12), 0);
    EXPECT_EQ(read32(catalogControl.data + fil::pyLen), read32(m + mdb::ctFlSize));
    EXPECT_EQ(std::memcmp(catalogControl.data + fil::extRec, m + mdb::ctExtRec, 12), 0);
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

// The image holds the volume's earlier items plus exactly the first
// `flushed` items of the batch, with their contents; and checks clean.
void expectImageHolds(const std::string& path, const std::vector<WalkedItem>& before,
                      const std::vector<NewItem>& items, size_t flushed)
{
    ASSERT_GE(openImage(path, false), 0);
    ASSERT_TRUE(mountAt(0));
    const auto problems = checkLines();
    EXPECT_TRUE(problems.empty()) << joined(problems);
    std::vector<WalkedItem> now;
    ASSERT_TRUE(walkVolume(now));
    size_t expectedCount = before.size() + flushed;
    EXPECT_EQ(now.size(), expectedCount);
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string itemPath = i == 0 ? items[0].name : items[0].name + ":" + items[i].name;
        bool present = false;
        for (const WalkedItem& w : now) {
            if (w.path != itemPath) continue;
            present = true;
            if (items[i].folder) continue;
            std::string data, rsrc;
            EXPECT_TRUE(readWholeFork(w.parentId, w.item.name, dataFork, data));
            EXPECT_TRUE(readWholeFork(w.parentId, w.item.name, resourceFork, rsrc));
            EXPECT_TRUE(data == items[i].data) << itemPath;
            EXPECT_TRUE(rsrc == items[i].rsrc) << itemPath;
        }
        EXPECT_EQ(present, i < flushed) << itemPath;
    }
    closeAll();
}

}  // namespace

TEST(WriteFaults, EveryFailedReadOrWriteLeavesTheLastFlushedState)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string pristine = dir.file("pristine.img");
    ASSERT_TRUE(makeHfsImage(dir, pristine, 1440, "Faults"));
    // Earlier files with holes between them, so the large file fragments.
    const CommandResult made = runPeer(
        dir, {"sh", "-c",
              "set -e; cd '" + dir.path +
                  "'; head -c 5000 /dev/urandom > piece;"
                  "for i in $(seq 10 59); do hcopy -r piece :p$i; done;"
                  "free=$(hvol | sed -n 's/Volume has \\([0-9]*\\) bytes free/\\1/p');"
                  "head -c $((free - 120000)) /dev/zero > filler; hcopy -r filler :filler;"
                  "for i in $(seq 10 2 59); do hdel :p$i; done; humount"});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    std::string image;
    ASSERT_TRUE(readFile(pristine, image));
    const std::vector<NewItem> items = batch();
    const std::string path = dir.file("work.img");

    std::vector<WalkedItem> before;
    ASSERT_GE(openImage(pristine, false), 0);
    ASSERT_TRUE(mountAt(0));
    ASSERT_TRUE(walkVolume(before));
    closeAll();

    // A run without faults counts the batch's reads and writes.
    ASSERT_TRUE(writeFile(path, image));
    const int drive = openImage(path, true);
    ASSERT_GE(drive, 0);
    ASSERT_TRUE(mountAt(0));
    wrapDriveWithFaults(drive);
    ASSERT_EQ(runBatch(items), items.size());
    const FaultPlan counted = faultPlan;
    unwrapFaultyDrive();
    closeAll();
    expectImageHolds(path, before, items, items.size());
    ASSERT_GT(counted.reads, 0u);
    ASSERT_GT(counted.writes, items.size());

    for (int kind = 0; kind < 2; ++kind) {
        const uint32_t total = kind == 0 ? counted.reads : counted.writes;
        for (uint32_t k = 1; k <= total; ++k) {
            SCOPED_TRACE(std::string(kind == 0 ? "read " : "write ") + std::to_string(k));
            ASSERT_TRUE(writeFile(path, image));
            const int d = openImage(path, true);
            ASSERT_GE(d, 0);
            ASSERT_TRUE(mountAt(0));
            wrapDriveWithFaults(d);
            armFaults(kind == 0 ? k : 0, kind == 1 ? k : 0);
            const size_t flushed = runBatch(items);
            EXPECT_TRUE(faultPlan.failed);
            EXPECT_LT(flushed, items.size());
            expectCacheEqualsDisk();
            const auto live = checkLines();
            EXPECT_TRUE(live.empty()) << joined(live);
            unwrapFaultyDrive();
            closeAll();
            expectImageHolds(path, before, items, flushed);
            if (HasFailure()) return;
        }
    }
}
