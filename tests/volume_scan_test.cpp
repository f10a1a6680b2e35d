// Volume discovery, mount, the read-only question and the sector cache, on
// images built around real blank diskette volumes.
#include <gtest/gtest.h>

#include <cstring>

#include "base/format.h"
#include "base/macroman.h"
#include "base/ui_headless.h"
#include "devices/image_drive.h"
#include "hfs/drive.h"
#include "hfs/internal.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

std::string blankVolume(const ScratchDir& dir, const char* which)
{
    std::string bytes;
    const std::string path = corpusFile(dir, std::string("hfs/gryphel_blanks__") + which + ".dsk");
    if (path.empty() || !readFile(path, bytes)) return {};
    return bytes;
}

// Renames a bare volume in place (MDB and alternate MDB), so two copies of
// one blank volume can be told apart.
void renameVolume(std::string& v, const std::string& name)
{
    for (size_t at : {size_t{1024}, v.size() - 1024}) {
        std::memset(&v[at + 36], 0, 28);
        v[at + 36] = static_cast<char>(name.size());
        std::memcpy(&v[at + 37], name.data(), name.size());
    }
}

std::vector<std::string> volumeNames()
{
    std::vector<std::string> names;
    for (int i = 0; i < volumeCount; ++i) names.push_back(macNameToUtf8(volumeList[i].name));
    return names;
}

}  // namespace

TEST(VolumeScan, BareDisketteListsOneVolumeEndingAtItsAlternateMdb)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    const std::string v = blankVolume(dir, "800K");
    ASSERT_FALSE(v.empty());
    ASSERT_TRUE(writeFile(dir.file("bare.dsk"), v));
    ASSERT_GE(openImage(dir.file("bare.dsk"), false), 0);
    ASSERT_EQ(volumeCount, 1);
    EXPECT_EQ(volumeList[0].start, 0u);
    // With one sector per block the alternate MDB follows the last block.
    ASSERT_TRUE(mountAt(0));
    const uint8_t* m = volume.mdb->data;
    ASSERT_EQ(volume.spb, 1);
    EXPECT_EQ(read16(m + mdb::alBlSt) + read16(m + mdb::nmAlBlks), volumeList[0].sectors - 2);
    EXPECT_EQ(volumeList[0].sectors, v.size() / 512);
    closeAll();
}

TEST(VolumeScan, PartitionMapsListEveryHfsPartitionInMapOrder)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    std::string a = blankVolume(dir, "800K"), b = blankVolume(dir, "400K");
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    renameVolume(a, "First");
    renameVolume(b, "Second");

    // Two HFS partitions around a free one: both found, in map order, and
    // both mount and list.
    ASSERT_TRUE(writeFile(dir.file("two.img"),
                          buildPartitionedImage(512, {{"Apple_HFS", 0, a, 0}, {"Apple_Free", 0, "", 64},
                                                      {"Apple_HFS", 0, b, 0}})));
    ASSERT_GE(openImage(dir.file("two.img"), false), 0);
    EXPECT_EQ(blockRatio, 1);
    EXPECT_EQ(volumeNames(), (std::vector<std::string>{"First", "Second"}));
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(mountAt(i)) << errorText(lastError);
        std::vector<WalkedItem> items;
        ASSERT_TRUE(walkVolume(items));
        EXPECT_EQ(items.size(), 1u);  // the blank diskettes' Desktop file
    }

    // An HFS entry that starts at block 0 ends the scan: the one after it is
    // never looked at.
    ASSERT_TRUE(writeFile(dir.file("stop.img"), buildPartitionedImage(512, {{"Apple_HFS", 0, a, 0},
                                                                           {"Apple_HFS", 0, "", 0},
                                                                           {"Apple_HFS", 0, b, 0}})));
    {
        std::string img;
        ASSERT_TRUE(readFile(dir.file("stop.img"), img));
        // Entry 3 (the second HFS partition) gets start 0.
        std::memset(&img[3 * 512 + 8], 0, 4);
        ASSERT_TRUE(writeFile(dir.file("stop.img"), img));
    }
    ASSERT_GE(openImage(dir.file("stop.img"), false), 0);
    EXPECT_EQ(volumeNames(), (std::vector<std::string>{"First"}));

    // An old-style map.
    ASSERT_TRUE(writeFile(dir.file("old.img"), buildOldMapImage({b, a})));
    ASSERT_GE(openImage(dir.file("old.img"), false), 0);
    EXPECT_EQ(volumeNames(), (std::vector<std::string>{"Second", "First"}));
    ASSERT_TRUE(mountAt(1));
    closeAll();
}

TEST(VolumeScan, MapOf2048ByteBlocksOnBothSectorSizes)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    std::string a = blankVolume(dir, "800K");
    ASSERT_FALSE(a.empty());
    renameVolume(a, "Optical");
    ASSERT_TRUE(writeFile(dir.file("cd.img"), buildPartitionedImage(2048, {{"Apple_HFS", 0, a, 0}})));
    // The map sits at byte 2048: block ratio 4 and partition starts × 4,
    // whether the drive reports 512- or 2048-byte sectors.
    for (uint32_t sectorSize : {512u, 2048u}) {
        SCOPED_TRACE(sectorSize);
        ASSERT_GE(openImage(dir.file("cd.img"), true, sectorSize), 0);
        EXPECT_EQ(blockRatio, 4);
        EXPECT_EQ(driveTable[currentDrive].sectorRatio, sectorSize / 512);
        ASSERT_EQ(volumeCount, 1);
        EXPECT_EQ(volumeList[0].start % 4, 0u);
        ASSERT_TRUE(mountAt(0)) << errorText(lastError);
        std::vector<WalkedItem> items;
        ASSERT_TRUE(walkVolume(items));
        EXPECT_EQ(items.size(), 1u);
    }
    closeAll();
}

TEST(VolumeScan, UnitConversionOnLargeSectors)
{
    ScratchDir dir;
    std::string img(4 * 2048, '\0');
    for (size_t i = 0; i < img.size(); ++i) img[i] = static_cast<char>(i / 512);  // unit number in every byte
    ASSERT_TRUE(writeFile(dir.file("big.img"), img));
    closeAll();
    const int d = openImageDrive(dir.file("big.img").c_str(), true, 2048);
    ASSERT_GE(d, 0);
    DriveEntry& e = driveTable[d];
    uint8_t buf[16 * 512];

    // A read that does not start on a device sector stops at its end.
    EXPECT_EQ(e.read(e, buf, 3, 1), 3);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(buf[2 * 512], 3);
    EXPECT_EQ(e.read(e, buf, 8, 1), 7);
    EXPECT_EQ(buf[6 * 512], 7);
    EXPECT_EQ(e.read(e, buf, 2, 6), 2);

    // A one-unit write rewrites its device sector around it.
    std::memset(buf, 0xAB, 512);
    EXPECT_EQ(e.write(e, buf, 1, 5), 1);
    std::string after;
    ASSERT_TRUE(readFile(dir.file("big.img"), after));
    img.replace(5 * 512, 512, std::string(512, '\xAB'));
    EXPECT_EQ(after, img);

    // Reads past the end of the medium fail with the read error.
    lastError = errNone;
    EXPECT_EQ(e.read(e, buf, 1, 16), 0);
    EXPECT_EQ(lastError, errMacRead);
    closeAll();

    // The transfer limit follows the setting in whole kilobytes.
    setTransferLimit(64);
    EXPECT_EQ(transferLimitBytes, 32768u);
    setTransferLimit(2);
    EXPECT_EQ(transferLimitBytes, 4096u);
    setTransferLimit(16);
    EXPECT_EQ(transferLimitBytes, 16384u);
    setTransferLimit(64);
}

TEST(VolumeMount, MissingAlternateMdbAsksAboutReadOnly)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    std::string v = blankVolume(dir, "800K");
    ASSERT_FALSE(v.empty());
    std::memset(&v[v.size() - 1024], 0, 512);
    ASSERT_TRUE(writeFile(dir.file("noalt.dsk"), v));
    for (int answer : {uiAnswerYes, uiAnswerNo}) {
        headless::reset();
        headless::scriptedAnswers = {answer};
        const int d = openImage(dir.file("noalt.dsk"), true);
        ASSERT_GE(d, 0);
        setVolumePosition(volumeList[0]);
        askReadOnly();
        ASSERT_EQ(headless::shown.size(), 1u);
        EXPECT_EQ(headless::shown[0].text, "Mount volume read only?");
        EXPECT_EQ(headless::shown[0].caption, "Can't find backup VIB");
        EXPECT_EQ((driveTable[d].flags & driveReadOnly) != 0, answer == uiAnswerYes);
        mountVolume();
        EXPECT_EQ(lastError, errNone);
    }
    // A volume whose alternate MDB is in place asks nothing.
    headless::reset();
    ASSERT_GE(openImage(corpusFile(dir, "hfs/gryphel_blanks__800K.dsk"), false), 0);
    setVolumePosition(volumeList[0]);
    askReadOnly();
    EXPECT_TRUE(headless::shown.empty());
    closeAll();
}

// Cache invariant: dirty buffers reach the drive only on flush, and a revert
// brings every dirty buffer back to what the drive holds.
TEST(SectorCache, RevertDropsUnflushedChangesAndFlushWritesThem)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    std::string v = blankVolume(dir, "800K");
    ASSERT_TRUE(writeFile(dir.file("c.dsk"), v));
    ASSERT_GE(openImage(dir.file("c.dsk"), true), 0);
    ASSERT_TRUE(mountAt(0));
    CacheBuffer* b = getVolumeSector(100);
    ASSERT_NE(b, nullptr);
    const std::string before(reinterpret_cast<char*>(b->data), 512);
    fillBytes(0x5A, b, 0, 512);
    EXPECT_TRUE(b->flags & bufDirty);
    revertVolume();
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(b->data), 512), before);
    EXPECT_FALSE(b->flags & bufDirty);
    EXPECT_TRUE(volume.mdb->flags & bufPinned);  // the MDB stays pinned

    fillBytes(0x5A, b, 0, 512);
    flushVolume();
    EXPECT_EQ(lastError, errNone);
    std::string after;
    ASSERT_TRUE(readFile(dir.file("c.dsk"), after));
    EXPECT_EQ(after.substr(100 * 512, 512), std::string(512, 'Z'));
    closeAll();

    // A failed read never leaves a buffer behind that could be served later.
    ASSERT_GE(openImage(dir.file("c.dsk"), false), 0);
    const size_t cached = cacheSize();
    EXPECT_EQ(getSector(5000), nullptr);
    EXPECT_EQ(lastError, errMacRead);
    EXPECT_EQ(cacheSize(), cached);
    closeAll();
}

TEST(CatalogNames, OrderIgnoresCaseAndPlacesAccentsAfterTheirLetter)
{
    auto cmp = [](const std::string& a, const std::string& b) {
        const auto na = macName(a), nb = macName(b);
        return compareMacNames(na.data(), nb.data());
    };
    EXPECT_EQ(cmp("abc", "ABC"), 0);
    EXPECT_LT(cmp("ab", "abc"), 0);
    EXPECT_GT(cmp("Zebra", "apple"), 0);          // 'Z' is below 'a' as a code
    EXPECT_LT(cmp("a", "\x87"), 0);               // á after a
    EXPECT_LT(cmp("\x87", "b"), 0);               // ... and before b
    EXPECT_EQ(cmp("a b", "a\xCA" "b"), 0);        // non-breaking space equals space
    const auto before = static_cast<uint32_t>(time(nullptr));
    const auto now = static_cast<uint32_t>(macDateToUnix(macNow()));
    EXPECT_GE(now, before);
    EXPECT_LE(now, static_cast<uint32_t>(time(nullptr)));
}

// A bare volume on a medium that is not a whole number of allocation blocks
// keeps its alternate MDB in the medium's second-to-last sector, past the
// slack after the last block: the volume must span the whole medium, or the
// engine would ask about a missing backup and refresh the wrong sector.
// Without an alternate there, the estimate from the MDB stands.
TEST(VolumeScan, BareVolumeSpansTheMediumWhenItsAlternateMdbIsAtTheEnd)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    const std::string big = corpusFile(dir, "hfs/gryphel_blanks__080M.dsk.gz");
    ASSERT_FALSE(big.empty());
    std::string bytes;
    ASSERT_TRUE(readFile(big, bytes));
    headless::reset();
    ASSERT_GE(openImage(big, true), 0);
    ASSERT_EQ(volumeCount, 1);
    EXPECT_EQ(volumeList[0].sectors, bytes.size() / 512);
    setVolumePosition(volumeList[0]);
    askReadOnly();
    EXPECT_TRUE(headless::shown.empty());
    closeAll();

    std::string v = blankVolume(dir, "800K");
    ASSERT_FALSE(v.empty());
    v.append(64 * 1024, '\0');
    ASSERT_TRUE(writeFile(dir.file("padded.dsk"), v));
    ASSERT_GE(openImage(dir.file("padded.dsk"), false), 0);
    ASSERT_EQ(volumeCount, 1);
    EXPECT_EQ(volumeList[0].sectors, 1600u);
    closeAll();
}
