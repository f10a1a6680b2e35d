// The two formatters: the bytes they lay down (checked against the layouts
// they must produce, field by field), their dialogue with the user
// (confirmations, progress, cancel, the error box), media with sectors
// larger than 512 bytes, and media that refuse to be written.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/ui_headless.h"
#include "devices/image_drive.h"
#include "hfs/drive.h"
#include "hfs/format.h"
#include "hfs/hfs.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

// An in-memory medium of `sectors` device sectors; every call to `write`
// is counted, and writes may be made to fail with a chosen error from the
// n-th call on.
struct MemoryMedium {
    std::vector<uint8_t> bytes;
    uint32_t sectorSize = 512;
    int writes = 0;
    int deviceReads = 0;
    int failFromWrite = 0;  // 0: never
    int32_t failWith = errMacWrite;
};
MemoryMedium medium;

int32_t memDeviceRead(DriveEntry&, uint8_t* buffer, uint32_t sectors, uint64_t sector)
{
    const uint64_t at = sector * medium.sectorSize;
    if (at >= medium.bytes.size()) return 0;
    const uint64_t n = std::min<uint64_t>(uint64_t{sectors} * medium.sectorSize, medium.bytes.size() - at);
    ++medium.deviceReads;
    std::memcpy(buffer, medium.bytes.data() + at, n);
    return static_cast<int32_t>(n / medium.sectorSize);
}

int32_t memDeviceWrite(DriveEntry&, const uint8_t* buffer, uint32_t sectors, uint64_t sector)
{
    const uint64_t at = sector * medium.sectorSize;
    if (at >= medium.bytes.size()) return 0;
    const uint64_t n = std::min<uint64_t>(uint64_t{sectors} * medium.sectorSize, medium.bytes.size() - at);
    std::memcpy(medium.bytes.data() + at, buffer, n);
    return static_cast<int32_t>(n / medium.sectorSize);
}

int32_t memRead(DriveEntry& e, uint8_t* buffer, uint32_t count, uint32_t address)
{
    return convertedRead(e, memDeviceRead, buffer, count, address);
}

int32_t memWrite(DriveEntry& e, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    ++medium.writes;
    if (medium.failFromWrite && medium.writes >= medium.failFromWrite) {
        setError(medium.failWith);
        return 0;
    }
    return convertedWrite(e, memDeviceRead, memDeviceWrite, buffer, count, address);
}

uint32_t memSectorSize(DriveEntry&, uint64_t* capacity)
{
    if (capacity) *capacity = medium.bytes.size() / medium.sectorSize;
    return medium.sectorSize;
}

// Fills the medium with a pattern so that bytes the formatter did not
// write can be told from zeros it wrote.
int memoryDrive(uint64_t sectors, uint32_t sectorSize = 512, uint8_t fill = 0xA5)
{
    closeAll();
    medium = MemoryMedium{};
    medium.sectorSize = sectorSize;
    medium.bytes.assign(sectors * sectorSize, fill);
    DriveEntry e{};
    e.kind = DriveKind::imageFile;
    e.sectorRatio = static_cast<uint16_t>(sectorSize / 512);
    e.read = memRead;
    e.write = memWrite;
    e.format = formatPartitionedMedium;
    e.querySectorSize = memSectorSize;
    std::strcpy(e.label, "[MEM]");
    return addDrive(e);
}

void setName(const char* name)
{
    ASSERT_TRUE(setNewVolumeName(reinterpret_cast<const uint8_t*>(name), static_cast<uint32_t>(std::strlen(name))));
}

// Runs a format with the given answers to its questions; its outcome.
int32_t runFormat(int drive, std::vector<int> answers)
{
    headless::reset();
    headless::scriptedAnswers = std::move(answers);
    lastError = errNone;
    return formatDrive(drive);
}

const uint8_t* unitAt(uint32_t unit) { return medium.bytes.data() + uint64_t{unit} * 512; }

std::vector<std::string> captions()
{
    std::vector<std::string> out;
    for (const auto& p : headless::shown) out.push_back(p.caption);
    return out;
}

bool allBytes(const uint8_t* p, size_t n, uint8_t v)
{
    for (size_t i = 0; i < n; ++i)
        if (p[i] != v) return false;
    return true;
}

const std::vector<int> yesToBoth = {uiAnswerOk, uiAnswerYes};

}  // namespace

TEST(FormatPartitioned, LayoutQuantitiesFollowTheMediumSize)
{
    PartitionedLayout l{};
    // 100 MB of 512-byte sectors: 2048-byte allocation blocks.
    ASSERT_TRUE(computePartitionedLayout(512, 204800, l));
    EXPECT_EQ(l.blockUnits, 4u);
    EXPECT_EQ(l.bitmapUnits, 13u);
    EXPECT_EQ(l.allocBlocks, 51194u);
    // A partition of 65535 units keeps 512-byte blocks; one more unit
    // doubles them.
    ASSERT_TRUE(computePartitionedLayout(512, 65535 + 6, l));
    EXPECT_EQ(l.blockUnits, 1u);
    ASSERT_TRUE(computePartitionedLayout(512, 65536 + 6, l));
    EXPECT_EQ(l.blockUnits, 2u);
    // The block count always stays below 65536.
    for (uint64_t n : {100ull, 65541ull, 131078ull, 4194304ull, 8388608ull, 2000000000ull}) {
        ASSERT_TRUE(computePartitionedLayout(512, n, l)) << n;
        EXPECT_LT(l.allocBlocks, 65536u) << n;
        EXPECT_LE(3 + l.bitmapUnits + l.allocBlocks * l.blockUnits, l.partUnits - 2) << n;
    }
    // Unusable geometry.
    EXPECT_FALSE(computePartitionedLayout(512, 99, l));
    EXPECT_FALSE(computePartitionedLayout(256, 1000, l));
    EXPECT_FALSE(computePartitionedLayout(8192, 1000, l));
    EXPECT_FALSE(computePartitionedLayout(1536 + 1, 1000, l));
    // The last unit must stay addressable with 32-bit unit numbers.
    EXPECT_FALSE(computePartitionedLayout(2048, 0x40000000ull + 1, l));
}

TEST(FormatPartitioned, HundredMegabyteMediumGetsTheExactLayout)
{
    const int d = memoryDrive(204800);
    setName("Work");
    ASSERT_EQ(runFormat(d, yesToBoth), errNone);
    ASSERT_EQ(lastError, errNone);
    ASSERT_EQ(captions(), (std::vector<std::string>{"Ready To Format Disk In Drive [MEM]", "LAST WARNING!"}));
    EXPECT_EQ(headless::shown[0].text, "Size of volume \"Work\" will be 100M bytes.");
    EXPECT_EQ(headless::shown[0].buttons, uiOkCancel);
    EXPECT_EQ(headless::shown[1].text,
              "Formatting will erase all data on disk in drive [MEM]\n\nARE YOU SURE YOU WANT TO CONTINUE?");
    EXPECT_EQ(headless::shown[1].buttons, uiYesNo);
    EXPECT_EQ(headless::progressTitles, (std::vector<std::string>{"Formatting"}));

    // Driver descriptor map and the two map entries.
    const uint8_t* ddm = unitAt(0);
    EXPECT_EQ(read16(ddm), 0x4552);
    EXPECT_EQ(read16(ddm + 2), 512);
    EXPECT_EQ(read32(ddm + 4), 204800u);
    EXPECT_TRUE(allBytes(ddm + 8, 504, 0));
    const uint8_t* pm1 = unitAt(1);
    EXPECT_EQ(read16(pm1), 0x504D);
    EXPECT_EQ(read32(pm1 + 4), 2u);
    EXPECT_EQ(read32(pm1 + 8), 1u);
    EXPECT_EQ(read32(pm1 + 12), 5u);
    EXPECT_STREQ(reinterpret_cast<const char*>(pm1 + 16), "VR");
    EXPECT_STREQ(reinterpret_cast<const char*>(pm1 + 48), "Apple_partition_map");
    const uint8_t* pm2 = unitAt(2);
    EXPECT_EQ(read32(pm2 + 8), 6u);
    EXPECT_EQ(read32(pm2 + 12), 204800u - 6);
    EXPECT_STREQ(reinterpret_cast<const char*>(pm2 + 16), "MacOS");
    EXPECT_STREQ(reinterpret_cast<const char*>(pm2 + 48), "Apple_HFS");
    EXPECT_TRUE(allBytes(pm2 + 80, 432, 0));
    // Rest of the map partition and the boot blocks are zero.
    EXPECT_TRUE(allBytes(unitAt(3), 5 * 512, 0));

    // The master directory block, and its copy at the end.
    const uint8_t* m = unitAt(6 + 2);
    EXPECT_EQ(read16(m), 0x4244);
    const uint32_t date = read32(m + 2);
    EXPECT_NEAR(static_cast<double>(date), static_cast<double>(macNow()), 5.0);
    EXPECT_EQ(read32(m + 6), date);
    EXPECT_EQ(read16(m + 10), 0);      // drAtrb
    EXPECT_EQ(read16(m + 14), 3);      // drVBMSt
    EXPECT_EQ(read16(m + 18), 51194);  // drNmAlBlks
    EXPECT_EQ(read32(m + 20), 2048u);  // drAlBlkSiz
    EXPECT_EQ(read32(m + 24), 8192u);  // drClpSiz
    EXPECT_EQ(read16(m + 28), 16);     // drAlBlSt
    EXPECT_EQ(read32(m + 30), 17u);    // drNxtCNID
    EXPECT_EQ(read16(m + 34), 51162);  // drFreeBks
    EXPECT_EQ(m[36], 4);
    EXPECT_EQ(std::memcmp(m + 37, "Work", 4), 0);
    EXPECT_EQ(read32(m + 74), 32768u);
    EXPECT_EQ(read32(m + 78), 32768u);
    EXPECT_EQ(read32(m + 130), 32768u);
    EXPECT_EQ(read32(m + 134), 16u);          // start 0, count 16
    EXPECT_EQ(read32(m + 146), 32768u);
    EXPECT_EQ(read32(m + 150), 16u << 16 | 16);  // start 16, count 16
    EXPECT_TRUE(allBytes(m + 162, 350, 0));
    EXPECT_EQ(std::memcmp(m, unitAt(204800 - 2), 512), 0);

    // Bitmap: blocks 0-31 in use, nothing else.
    EXPECT_TRUE(allBytes(unitAt(9), 4, 0xFF));
    EXPECT_TRUE(allBytes(unitAt(9) + 4, 13 * 512 - 4, 0));

    // Extents tree at unit 22, catalog at 22 + 64.
    const uint8_t* xh = unitAt(22);
    EXPECT_EQ(xh[8], 1);
    EXPECT_EQ(read16(xh + 10), 3);
    EXPECT_EQ(read16(xh + 14), 0);
    EXPECT_EQ(read16(xh + 32), 512);
    EXPECT_EQ(read16(xh + 34), 7);
    EXPECT_EQ(read32(xh + 36), 64u);
    EXPECT_EQ(read32(xh + 40), 63u);
    EXPECT_EQ(xh[248], 0x80);
    EXPECT_EQ(read16(xh + 510), 14);
    EXPECT_EQ(read16(xh + 508), 120);
    EXPECT_EQ(read16(xh + 506), 248);
    EXPECT_EQ(read16(xh + 504), 504);
    EXPECT_TRUE(allBytes(unitAt(23), 63 * 512, 0));
    const uint8_t* ch = unitAt(86);
    EXPECT_EQ(read16(ch + 14), 1);
    EXPECT_EQ(read32(ch + 16), 1u);
    EXPECT_EQ(read32(ch + 20), 2u);
    EXPECT_EQ(read32(ch + 24), 1u);
    EXPECT_EQ(read32(ch + 28), 1u);
    EXPECT_EQ(read16(ch + 34), 37);
    EXPECT_EQ(read32(ch + 36), 64u);
    EXPECT_EQ(read32(ch + 40), 62u);
    EXPECT_EQ(ch[248], 0xC0);
    EXPECT_TRUE(allBytes(unitAt(88), 62 * 512, 0));
    // Nothing written past the catalog except the alternate MDB.
    EXPECT_TRUE(allBytes(unitAt(150), 512, 0xA5));
    EXPECT_TRUE(allBytes(unitAt(204800 - 1), 512, 0xA5));
    // Progress: opened, advanced four times of five, closed without a box.
    EXPECT_EQ(headless::progressPercents, (std::vector<int>{0, 20, 40, 60, 80}));

    // The engine finds and mounts the new volume, with an empty root.
    ASSERT_EQ(d, 0);
    selectDrive(d);
    ASSERT_EQ(lastError, errNone);
    ASSERT_EQ(volumeCount, 1);
    EXPECT_EQ(volumeList[0].start, 6u);
    EXPECT_EQ(volumeList[0].sectors, 204800u - 6);
    ASSERT_TRUE(mountAt(0)) << errorText(lastError);
    std::vector<CatalogItem> items;
    ASSERT_TRUE(listFolder(2, items));
    EXPECT_TRUE(items.empty());
    closeAll();
}

TEST(FormatPartitioned, TreesBeyondTheHeaderMapGetChainedMapNodes)
{
    // Up to 2048 nodes the header's map record covers the tree; beyond,
    // one map node per 3936 nodes, chained from the header, in use.
    EXPECT_EQ(mapNodeCount(2048), 0u);
    EXPECT_EQ(mapNodeCount(2049), 1u);
    const uint32_t nodes = 2048 + 3936 * 2 + 1;
    ASSERT_EQ(mapNodeCount(nodes), 3u);
    uint8_t n[512];
    buildBTreeHeader(true, nodes, n);
    EXPECT_EQ(read32(n), 2u);  // the chain starts after the catalog's leaf
    EXPECT_EQ(n[248], 0xF8);   // header, leaf and three map nodes in use
    EXPECT_EQ(read32(n + 40), nodes - 5);
    const uint32_t next[] = {3, 4, 0};
    for (uint32_t k = 0; k < 3; ++k) {
        buildMapNode(true, nodes, k, n);
        EXPECT_EQ(read32(n), next[k]);
        EXPECT_EQ(n[8], 2);
        EXPECT_EQ(read16(n + 508), 506);
    }
}

TEST(FormatPartitioned, RootRecordDataFollowsTheNameLength)
{
    const uint32_t date = 0x12345678;
    for (const char* name : {"A", "AB", "Untitled", "Odd", "123456789012345678901234567"}) {
        SCOPED_TRACE(name);
        setName(name);
        const uint32_t n = static_cast<uint32_t>(std::strlen(name));
        uint8_t node[512];
        buildRootLeaf(date, node);
        const uint32_t d0 = n % 2 ? 21 + n : 22 + n;
        EXPECT_EQ(node[8], 0xFF);
        EXPECT_EQ(node[9], 1);
        EXPECT_EQ(read16(node + 10), 2);
        // Root folder key and record.
        EXPECT_EQ(node[14], n + 6);
        EXPECT_EQ(read32(node + 16), 1u);
        EXPECT_EQ(node[20], n);
        EXPECT_EQ(std::memcmp(node + 21, name, n), 0);
        EXPECT_EQ(node[d0], 1);
        EXPECT_EQ(read16(node + d0 + 4), 0);   // empty root
        EXPECT_EQ(read32(node + d0 + 6), 2u);
        EXPECT_EQ(read32(node + d0 + 10), date);
        EXPECT_EQ(read32(node + d0 + 14), date);
        // Root thread: key length 7, then the record naming the volume.
        const uint8_t* t = node + d0 + 70;
        EXPECT_EQ(t[0], 7);
        EXPECT_EQ(read32(t + 2), 2u);
        EXPECT_EQ(t[6], 0);
        EXPECT_EQ(t[8], 3);
        EXPECT_EQ(read32(t + 18), 1u);
        EXPECT_EQ(t[22], n);
        EXPECT_EQ(std::memcmp(t + 23, name, n), 0);
        EXPECT_EQ(read16(node + 510), 14);
        EXPECT_EQ(read16(node + 508), d0 + 70);
        EXPECT_EQ(read16(node + 506), d0 + 124);
        EXPECT_TRUE(allBytes(node + d0 + 124, 506 - (d0 + 124), 0));
    }
}

TEST(FormatPartitioned, LargeSectorsGoThroughReadModifyWrite)
{
    const uint32_t sectors = 40000;  // 2048-byte sectors: 80 MB
    const int d = memoryDrive(sectors, 2048);
    driveTable[d].sectorRatio = 1;  // the formatter sets it from the medium
    setName("Optical");
    runFormat(d, yesToBoth);
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(driveTable[d].sectorRatio, 4);
    EXPECT_EQ(read16(unitAt(0)), 0x4552);
    EXPECT_EQ(read16(unitAt(0) + 2), 2048);
    EXPECT_EQ(read32(unitAt(0) + 4), sectors);
    EXPECT_TRUE(allBytes(unitAt(1), 3 * 512, 0));  // rest of device sector 0
    EXPECT_EQ(read16(unitAt(4)), 0x504D);
    EXPECT_EQ(read16(unitAt(8)), 0x504D);
    EXPECT_EQ(read32(unitAt(8) + 8), 6u);
    EXPECT_EQ(read32(unitAt(8) + 12), sectors - 6);
    EXPECT_EQ(read16(unitAt(24 + 2)), 0x4244);
    // The alternate MDB shares its device sector with three units the
    // formatter does not own: they keep what they held.
    const uint32_t last = sectors * 4;
    EXPECT_EQ(std::memcmp(unitAt(last - 2), unitAt(26), 512), 0);
    EXPECT_TRUE(allBytes(unitAt(last - 4), 2 * 512, 0xA5));
    EXPECT_TRUE(allBytes(unitAt(last - 1), 512, 0xA5));
    EXPECT_GT(medium.deviceReads, 0);

    // The engine reads the map in 2048-byte blocks and mounts the volume.
    selectDrive(d);
    ASSERT_EQ(lastError, errNone) << errorText(lastError);
    EXPECT_EQ(blockRatio, 4);
    ASSERT_EQ(volumeCount, 1);
    EXPECT_EQ(volumeList[0].start, 24u);
    EXPECT_EQ(volumeList[0].sectors, (sectors - 6) * 4);
    ASSERT_TRUE(mountAt(0)) << errorText(lastError);
    closeAll();
}

TEST(FormatPartitioned, CancelAtEitherQuestionWritesNothing)
{
    const int d = memoryDrive(1000);
    setName("Nope");
    EXPECT_EQ(runFormat(d, {uiAnswerCancel}), errCancelled);
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(medium.writes, 0);
    EXPECT_EQ(captions(), (std::vector<std::string>{"Ready To Format Disk In Drive [MEM]"}));
    EXPECT_EQ(runFormat(d, {uiAnswerOk, uiAnswerNo}), errCancelled);
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(medium.writes, 0);
    EXPECT_EQ(captions().size(), 2u);
    EXPECT_TRUE(headless::progressTitles.empty());
    EXPECT_TRUE(allBytes(medium.bytes.data(), medium.bytes.size(), 0xA5));
    closeAll();
}

TEST(FormatPartitioned, CancelDuringProgressStopsAtOnceWithoutMessage)
{
    for (int pumps : {1, 3, 8, 12}) {
        SCOPED_TRACE(pumps);
        const int d = memoryDrive(4000);
        setName("Stop");
        headless::reset();
        headless::scriptedAnswers = yesToBoth;
        headless::cancelAfterPumps = pumps;
        EXPECT_EQ(formatDrive(d), errCancelled);
        // A format reaches the medium whole or not at all: a cancel leaves
        // it untouched.
        EXPECT_EQ(medium.writes, 0);
        EXPECT_TRUE(allBytes(medium.bytes.data(), medium.bytes.size(), 0xA5));
        EXPECT_EQ(lastError, errNone);
        EXPECT_EQ(captions().size(), 2u);  // the two questions, no error box
    }
    closeAll();
}

TEST(FormatPartitioned, FailuresShowTheirMessages)
{
    struct Case {
        int32_t error;
        const char* text;
    };
    for (const Case& c : {Case{errVolumeReadOnly, "Disk is write protected!"}, Case{errDriveNotReady, "No disk in drive!"},
                          Case{errMacWrite, "Can not format disk!"}, Case{errLockFailed, "Can not format disk!"}}) {
        SCOPED_TRACE(c.text);
        const int d = memoryDrive(1000);
        medium.failFromWrite = 2;
        medium.failWith = c.error;
        setName("Bad");
        EXPECT_EQ(runFormat(d, yesToBoth), c.error);  // the caller learns what the box said
        ASSERT_EQ(headless::shown.size(), 3u);
        EXPECT_EQ(headless::shown[2].caption, "Formatting Error");
        EXPECT_EQ(headless::shown[2].text, c.text);
        EXPECT_EQ(headless::shown[2].icon, uiIconStop);
        EXPECT_EQ(lastError, errNone);
    }
    // Too small a medium is refused before any question.
    const int d = memoryDrive(99);
    EXPECT_EQ(runFormat(d, yesToBoth), errFormat);
    EXPECT_EQ(medium.writes, 0);
    ASSERT_EQ(headless::shown.size(), 1u);
    EXPECT_EQ(headless::shown[0].text, "Can not format disk!");
    EXPECT_EQ(headless::shown[0].caption, "Formatting Error");
    closeAll();
}

TEST(FormatPartitioned, ReadOnlyImagesAreRefusedByTheDispatch)
{
    ScratchDir dir;
    const std::string path = dir.file("ro.img");
    ASSERT_TRUE(makeBlankFile(path, 1 << 20));
    closeAll();
    const int d = openImageDrive(path.c_str(), false);
    ASSERT_GE(d, 0);
    runFormat(d, yesToBoth);
    EXPECT_EQ(lastError, errVolumeReadOnly);
    EXPECT_TRUE(headless::shown.empty());
    closeAll();
}

// ---------------------------------------------------------------------------

TEST(FormatDiskette, TemplatesUnpackToTheirLayouts)
{
    // The formatted diskette is checked whole elsewhere; here the values a
    // check of the volume would not notice.
    uint8_t s[512];
    EXPECT_FALSE(unpackDisketteTemplate(7, s));
    EXPECT_FALSE(unpackDisketteTemplate(-1, s));
    ASSERT_TRUE(unpackDisketteTemplate(0, s));
    EXPECT_EQ(read16(s + 10), 0x0100);
    EXPECT_EQ(read16(s + 16), 44);
    EXPECT_EQ(read32(s + 70), 0xC0448096u);
    // The alternate MDB is the one of the volume before the Desktop file.
    ASSERT_TRUE(unpackDisketteTemplate(6, s));
    EXPECT_EQ(read16(s + 10), 0);
    EXPECT_EQ(read16(s + 12), 0);
    EXPECT_EQ(read16(s + 16), 0);
    EXPECT_EQ(read32(s + 30), 16u);
    EXPECT_EQ(read16(s + 34), 2830);
    EXPECT_EQ(read32(s + 70), 2u);
    EXPECT_EQ(read32(s + 84), 0u);
    EXPECT_EQ(read32(s + 150), 22u << 16 | 22);
    // The empty resource file.
    ASSERT_TRUE(unpackDisketteTemplate(5, s));
    EXPECT_EQ(read32(s), 256u);
    EXPECT_EQ(read32(s + 4), 256u);
    EXPECT_EQ(read32(s + 12), 30u);
    EXPECT_EQ(std::memcmp(s, s + 256, 16), 0);
    EXPECT_EQ(read16(s + 256 + 24), 28);
    EXPECT_EQ(read16(s + 256 + 26), 30);
    EXPECT_EQ(read16(s + 256 + 28), 0xFFFF);
}

TEST(FormatDiskette, UnpackBitsRefusesOverrunsAndTruncation)
{
    uint8_t out[8];
    const uint8_t literal[] = {0x02, 'a', 'b', 'c', 0xFE, 'z', 0x80};
    ASSERT_EQ(unpackBits(literal, sizeof literal, out, sizeof out), 6);
    EXPECT_EQ(std::memcmp(out, "abczzz", 6), 0);
    const uint8_t truncated[] = {0x05, 'a', 'b'};
    EXPECT_EQ(unpackBits(truncated, sizeof truncated, out, sizeof out), -1);
    const uint8_t repeatNoByte[] = {0xFE};
    EXPECT_EQ(unpackBits(repeatNoByte, sizeof repeatNoByte, out, sizeof out), -1);
    const uint8_t tooLong[] = {0x81, 'x'};  // 128 bytes
    EXPECT_EQ(unpackBits(tooLong, sizeof tooLong, out, sizeof out), -1);
}

TEST(FormatDiskette, LeafRecordsMoveWithTheNameLength)
{
    struct Case {
        const char* name;
        uint16_t thread, desktop, free;
    };
    // The root record is floor(n / 2) * 2 + 78 bytes long.
    for (const Case& c : {Case{"Untitled", 100, 154, 270}, Case{"123456789012345678901234567", 118, 172, 288},
                          Case{"X", 92, 146, 262}}) {
        SCOPED_TRACE(c.name);
        setName(c.name);
        uint8_t node[512];
        ASSERT_TRUE(buildDisketteLeaf(0x01020304, node));
        EXPECT_EQ(read16(node + 10), 3);
        EXPECT_EQ(read16(node + 510), 14);
        EXPECT_EQ(read16(node + 508), c.thread);
        EXPECT_EQ(read16(node + 506), c.desktop);
        EXPECT_EQ(read16(node + 504), c.free);
        const uint32_t n = static_cast<uint32_t>(std::strlen(c.name));
        EXPECT_EQ(node[14], n + 6);
        EXPECT_EQ(std::memcmp(node + 21, c.name, n), 0);
        const uint8_t* root = node + 14 + ((n + 8) & ~1u);
        EXPECT_EQ(root[0], 1);
        EXPECT_EQ(read16(root + 4), 1);  // holds the Desktop file
        EXPECT_EQ(read32(root + 6), 2u);
        EXPECT_EQ(read32(root + 10), 0x01020304u);
        EXPECT_EQ(read32(root + 14), 0x01020304u);
        const uint8_t* thread = node + c.thread;
        EXPECT_EQ(thread[0], 7);
        EXPECT_EQ(thread[8], 3);
        EXPECT_EQ(thread[22], n);
        EXPECT_EQ(std::memcmp(thread + 23, c.name, n), 0);
        const uint8_t* desktop = node + c.desktop;
        EXPECT_EQ(desktop[0], 13);
        EXPECT_EQ(std::memcmp(desktop + 7, "Desktop", 7), 0);
        const uint8_t* file = desktop + 14;
        EXPECT_EQ(file[0], 2);
        EXPECT_EQ(std::memcmp(file + 4, "FNDRERIK", 8), 0);
        EXPECT_EQ(read16(file + 12), 0x4000);
        EXPECT_EQ(read32(file + 20), 16u);
        EXPECT_EQ(read32(file + 36), 286u);
        EXPECT_EQ(read32(file + 40), 512u);
        EXPECT_EQ(read32(file + 44), 0x01020304u);
        EXPECT_EQ(read32(file + 48), 0x01020304u);
        EXPECT_EQ(read32(file + 86), 44u << 16 | 1);
        EXPECT_TRUE(allBytes(node + c.free, 504 - c.free, 0));
    }
}

TEST(FormatDiskette, WritesTheImageInOrderWithTwentyFourSteps)
{
    const int d = memoryDrive(disketteSectors, 512, 0x5A);
    driveTable[d].format = formatDiskette;
    setName("Floppy");
    runFormat(d, {uiAnswerOk});
    ASSERT_EQ(lastError, errNone);
    ASSERT_EQ(headless::shown.size(), 1u);
    EXPECT_EQ(headless::shown[0].text, "Formatting will erase all data on diskette!");
    EXPECT_EQ(headless::shown[0].caption, "WARNING!");
    EXPECT_EQ(headless::progressPercents.size(), 25u);
    EXPECT_EQ(headless::progressPercents.back(), 100);
    // Units 0-48 in one run, then the alternate MDB.
    EXPECT_EQ(medium.writes, 2);
    EXPECT_TRUE(allBytes(unitAt(0), 1024, 0xF6));
    EXPECT_TRUE(allBytes(unitAt(5), 21 * 512, 0));
    EXPECT_TRUE(allBytes(unitAt(28), 20 * 512, 0));
    // Untouched: sectors 49-2877 and 2879.
    EXPECT_TRUE(allBytes(unitAt(49), (2878 - 49) * 512, 0x5A));
    EXPECT_TRUE(allBytes(unitAt(2879), 512, 0x5A));
    const uint8_t* m = unitAt(2);
    const uint32_t date = read32(m + 2);
    EXPECT_NEAR(static_cast<double>(date), static_cast<double>(macNow()), 5.0);
    EXPECT_EQ(m[36], 6);
    EXPECT_EQ(std::memcmp(m + 37, "Floppy", 6), 0);
    EXPECT_TRUE(allBytes(m + 43, 21, 0));
    const uint8_t* alt = unitAt(2878);
    EXPECT_EQ(read32(alt + 2), date);
    EXPECT_EQ(std::memcmp(alt + 36, m + 36, 28), 0);
    EXPECT_EQ(read32(unitAt(48) + 114), date);
    uint8_t leaf[512];
    ASSERT_TRUE(buildDisketteLeaf(date, leaf));
    EXPECT_EQ(std::memcmp(unitAt(27), leaf, 512), 0);

    // The engine mounts it and lists the invisible Desktop file.
    selectDrive(d);
    ASSERT_EQ(volumeCount, 1);
    EXPECT_EQ(volumeList[0].sectors, disketteSectors);
    ASSERT_TRUE(mountAt(0)) << errorText(lastError);
    std::vector<CatalogItem> items;
    ASSERT_TRUE(listFolder(2, items));
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].rsrcLength, 286u);
    EXPECT_EQ(std::memcmp(items[0].finderInfo, "FNDRERIK", 8), 0);
    closeAll();
}

TEST(FormatDiskette, CancelAndFailures)
{
    int d = memoryDrive(disketteSectors);
    driveTable[d].format = formatDiskette;
    setName("X");
    runFormat(d, {uiAnswerCancel});
    EXPECT_EQ(medium.writes, 0);
    EXPECT_TRUE(headless::progressTitles.empty());

    headless::reset();
    headless::scriptedAnswers = {uiAnswerOk};
    headless::cancelAfterPumps = 10;
    formatDrive(d);
    EXPECT_EQ(medium.writes, 0);
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(headless::shown.size(), 1u);

    // A write-protected diskette: the write reports errMacWrite.
    d = memoryDrive(disketteSectors);
    driveTable[d].format = formatDiskette;
    medium.failFromWrite = 1;
    runFormat(d, {uiAnswerOk});
    ASSERT_EQ(headless::shown.size(), 2u);
    EXPECT_EQ(headless::shown[1].text, "Can not format disk!");

    // A short diskette has no room for the alternate MDB: nothing is
    // written.
    d = memoryDrive(2000, 512, 0x11);
    driveTable[d].format = formatDiskette;
    runFormat(d, {uiAnswerOk});
    ASSERT_EQ(headless::shown.size(), 2u);
    EXPECT_EQ(headless::shown[1].text, "Can not format disk!");
    EXPECT_TRUE(allBytes(medium.bytes.data(), medium.bytes.size(), 0x11));
    EXPECT_EQ(lastError, errNone);
    closeAll();
}
