// Corrupt images: damaging the sectors the engine reads (MDB, B-tree nodes,
// extent records) must give an error or a listing, never a crash, a hang or
// an access outside a buffer (the sanitizer build checks the last).
#include <gtest/gtest.h>

#include <random>
#include <set>

#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

// Scans, mounts, walks and reads everything it can; returns whether the
// whole volume could be read.
bool readEverything(const std::string& path)
{
    if (openImage(path, false) < 0 || lastError != errNone || volumeCount == 0) return false;
    if (!mountAt(0)) return false;
    std::vector<WalkedItem> items;
    const bool walked = walkVolume(items, 5000);
    lastError = errNone;
    for (const WalkedItem& w : items) {
        if (w.item.kind != cdrFile) continue;
        std::string fork;
        readWholeFork(w.parentId, w.item.name, dataFork, fork);
        lastError = errNone;
        readWholeFork(w.parentId, w.item.name, resourceFork, fork);
        lastError = errNone;
    }
    return walked;
}

}  // namespace

TEST(CorruptImages, DamagedMetadataNeverCrashesTheEngine)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    for (const char* name : {"hfs/gryphel__3D-Edit-1.5.dsk", "hfs/gryphel__jotto-ii-12-c.dsk",
                             "hfs/gryphel__stopwatch1.2.dsk"}) {
        SCOPED_TRACE(name);
        std::string image;
        ASSERT_TRUE(readFile(corpusFile(dir, name), image));
        const std::string path = dir.file("damaged.img");
        ASSERT_TRUE(writeFile(path, image));
        // The sectors a clean read touches are the ones worth damaging.
        ASSERT_TRUE(readEverything(path));
        std::vector<uint32_t> sectors;
        forEachCacheBuffer([&](CacheBuffer* b) { sectors.push_back(b->sector); });
        closeAll();
        ASSERT_FALSE(sectors.empty());

        std::mt19937 rng(20261207);
        int failures = 0;
        for (int round = 0; round < 150; ++round) {
            std::string damaged = image;
            const int flips = 1 + static_cast<int>(rng() % 6);
            for (int k = 0; k < flips; ++k) {
                const uint32_t sector = sectors[rng() % sectors.size()];
                const size_t at = static_cast<size_t>(sector) * 512 + rng() % 512;
                damaged[at] = static_cast<char>(rng() % 3 == 0 ? 0xFF : rng());
            }
            ASSERT_TRUE(writeFile(path, damaged));
            if (!readEverything(path)) ++failures;
            closeAll();
        }
        // Some damage must have been noticed; none may have crashed.
        EXPECT_GT(failures, 0);
    }
}

TEST(CorruptImages, LoopingLeafChainAndHugeCountsAreReported)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    std::string image;
    ASSERT_TRUE(readFile(corpusFile(dir, "hfs/gryphel__jotto-ii-12-c.dsk"), image));
    const std::string path = dir.file("loop.img");
    ASSERT_TRUE(writeFile(path, image));
    ASSERT_GE(openImage(path, false), 0);
    ASSERT_TRUE(mountAt(0));
    // Make the first leaf's forward link point at itself.
    const uint8_t* h = volume.catalogHeader->data;
    const uint32_t firstLeaf = read32(h + 24);
    uint32_t sector, run;
    ASSERT_TRUE(mapForkSector(volume.catalogFile, dataFork, firstLeaf, sector, run));
    const size_t at = static_cast<size_t>(volume.startSector + sector) * 512;
    closeAll();
    std::string looped = image;
    looped[at + 0] = static_cast<char>(firstLeaf >> 24);
    looped[at + 1] = static_cast<char>(firstLeaf >> 16);
    looped[at + 2] = static_cast<char>(firstLeaf >> 8);
    looped[at + 3] = static_cast<char>(firstLeaf);
    ASSERT_TRUE(writeFile(path, looped));
    ASSERT_GE(openImage(path, false), 0);
    ASSERT_TRUE(mountAt(0));
    std::vector<WalkedItem> items;
    EXPECT_FALSE(walkVolume(items));
    EXPECT_EQ(lastError, errBadNode);
    closeAll();

    // A record count far beyond what a node can hold.
    std::string counted = image;
    counted[at + 10] = '\x7F';
    ASSERT_TRUE(writeFile(path, counted));
    ASSERT_GE(openImage(path, false), 0);
    ASSERT_TRUE(mountAt(0));
    EXPECT_FALSE(walkVolume(items));
    EXPECT_EQ(lastError, errBadNode);
    closeAll();
}
