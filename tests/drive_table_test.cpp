// The drive enumeration against the stand-in system and ASPI library: the
// order and the cap of 20 with 25 eligible devices, the signature rule for
// fixed disks, the labels, the "SCSIScan" mask, the "Disk Prefs" switches
// on both families, and the operations and flags of every kind of entry.
#include <gtest/gtest.h>

#include <cstring>

#include "devices/enumerate.h"
#include "hfs/format.h"
#include "devices/win/aspi_srb.h"
#include "devices/win/raw_devices.h"
#include "base/errors.h"
#include "hfs/hfs.h"
#include "support/fake_windows.h"
#include "support/peers.h"

using namespace verrin;
using namespace verrin::win;
using namespace verrin::testsupport;

namespace {

constexpr uint64_t megabyte = 1ull << 20;

struct DriveTable : ::testing::Test {
    ScratchDir dir;
    void SetUp() override { reset(0x0101); }
    void TearDown() override
    {
        unloadAspi();
        clearDrives();
        removeFakeWindows();
        lastError = errNone;
    }
    void reset(uint32_t aspiSupport)
    {
        installFakeWindows();
        aspiDouble().reset(aspiSupport);
    }
    // A SCSI device on adapter 0; a medium of `bytes` zeros with the given
    // signature at byte offset 512 (0: none).
    void scsi(uint8_t target, uint8_t type, bool removable, const char* ident, uint16_t signature = 0)
    {
        AspiDoubleDevice d{};
        d.target = target;
        d.deviceType = type;
        d.removable = removable;
        d.blockSize = type == deviceCdrom ? 2048 : 512;
        std::snprintf(d.ident, sizeof d.ident, "%s", ident);
        const std::string path = dir.file("scsi" + std::to_string(target));
        std::string medium(megabyte, '\0');
        medium[512] = static_cast<char>(signature >> 8);
        medium[513] = static_cast<char>(signature);
        EXPECT_TRUE(writeFile(path, medium));
        std::snprintf(d.imagePath, sizeof d.imagePath, "%s", path.c_str());
        aspiDouble().addDevice(&d);
    }
    // "\\.\PhysicalDrive<n>" of `bytes` with a signature at offset 512.
    void physical(int n, uint32_t mediaType, uint64_t bytes, uint16_t signature = 0)
    {
        FakeDevice d;
        d.name = "\\\\.\\PhysicalDrive" + std::to_string(n);
        d.mediaType = mediaType;
        d.bytesPerSector = 512;
        d.cylinders = bytes / 512;
        d.bytes = bytes;
        d.sectors[1][0] = static_cast<uint8_t>(signature >> 8);
        d.sectors[1][1] = static_cast<uint8_t>(signature);
        fakeWindows.devices.push_back(d);
    }
    void floppy(char letter, std::vector<uint32_t> mediaTypes)
    {
        FakeDevice d;
        d.name = std::string("\\\\.\\") + letter + ":";
        d.mediaTypes = std::move(mediaTypes);
        d.bytes = 2880 * 512;
        fakeWindows.devices.push_back(d);
    }
    void dosDrive(int number, uint8_t type, bool removable, uint16_t cylinders, uint16_t sectorsPerTrack,
                  uint16_t sectorSize = 512)
    {
        FakeDosDrive d;
        d.number = number;
        d.deviceType = type;
        d.removable = removable;
        d.cylinders = cylinders;
        d.sectorsPerTrack = sectorsPerTrack;
        d.bytesPerSector = sectorSize;
        d.totalSectors = 100000;
        fakeWindows.dosDrives.push_back(d);
    }
    static std::vector<std::string> labels()
    {
        std::vector<std::string> out;
        for (int i = 0; i < driveCount; ++i) out.push_back(driveTable[i].label);
        return out;
    }
};

Settings prefsWith(int aspi, int bios, int cdrom, int diskettes, int scsiScan = 127)
{
    Settings s;
    s.addAspi = aspi;
    s.addBios = bios;
    s.addCdrom = cdrom;
    s.addFloppy = diskettes;
    s.scsiScan = scsiScan;
    return s;
}

}  // namespace

// 25 eligible devices, and a few that are not: a tape, fixed disks without
// a Mac signature, an unknown media type, a failed geometry query, a target
// outside the mask. The first 20 eligible ones are listed in discovery
// order and nothing after them.
TEST_F(DriveTable, DiscoveryOrderCapAndLabels)
{
    scsi(0, deviceDisk, true, "QUANTUM   FIREBALL  1080S");
    scsi(1, deviceCdrom, true, "TOSHIBA CD-ROM XM-3701");
    scsi(2, deviceOptical, true, "FUJITSU M2513A");
    scsi(3, deviceWorm, true, "PIONEER DD-U5001");
    scsi(4, deviceTape, true, "ARCHIVE VIPER 2150");
    scsi(5, deviceDisk, false, "SEAGATE ST1480N");
    scsi(6, deviceDisk, false, "MICROPLS 1624", 0x504D);  // "PM"
    scsi(7, deviceDisk, true, "OUTSIDE THE MASK");
    physical(0, mediaFixed, 20 * megabyte);
    physical(1, mediaFixed, 20 * megabyte, 0x5453);  // "TS"
    physical(2, 0, 20 * megabyte);
    FakeDevice noGeometry;
    noGeometry.name = "\\\\.\\PhysicalDrive3";
    fakeWindows.devices.push_back(noGeometry);
    for (int n = 4; n < 14; ++n) physical(n, mediaRemovable, 100 * megabyte);
    for (int letter = 3; letter < 10; ++letter) fakeWindows.cdromLetters.push_back(letter);
    floppy('a', {mediaF3_1Pt44});
    floppy('b', {mediaF3_1Pt44});

    buildDriveTable(prefsWith(1, 1, 1, 1));
    std::vector<std::string> expected = {
        "[WASPI-DISK 00] QUANTUM FIREBA", "[WASPI-CDRM 01] TOSHIBA CD-ROM", "[WASPI-OPTI 02] FUJITSU M2513A",
        "[WASPI-WORM 03] PIONEER DD-U50", "[WASPI-DISK 06] MICROPLS 1624 ", "[DRIVE 1] ( 20M)",
    };
    for (int n = 4; n < 14; ++n) expected.push_back("[DRIVE " + std::to_string(n) + "] (100M)");
    for (char letter : {'D', 'E', 'F', 'G'}) expected.push_back(std::string("[CDROM ") + letter + "]");
    EXPECT_EQ(labels(), expected);
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(transferCap, 0u);
    EXPECT_EQ(fakeWindows.openHandles, 0);
}

// Bit n of "SCSIScan" asks target n; only the low 8 bits count.
TEST_F(DriveTable, ScsiScanMaskPicksTheTargetsAsked)
{
    const std::pair<int, std::vector<uint8_t>> rows[] = {
        {127, {0, 1, 2, 3, 4, 5, 6}}, {255, {0, 1, 2, 3, 4, 5, 6, 7}}, {0x81, {0, 7}}, {256, {}}};
    for (const auto& [mask, targets] : rows) {
        SCOPED_TRACE(mask);
        reset(0x0102);  // two adapters
        buildDriveTable(prefsWith(1, 0, 0, 0, mask));
        std::vector<uint8_t> asked[2];
        for (const AspiDoubleCall& c : aspiCalls())
            if (c.opcode == scsiInquiry) asked[c.hostAdapter].push_back(c.target);
        EXPECT_EQ(asked[0], targets);
        EXPECT_EQ(asked[1], targets);
    }
}

// Each source follows its switch; the family decides which sources exist.
TEST_F(DriveTable, SwitchesAndFamilies)
{
    constexpr uint32_t nt = 0x0A, win95 = 0xC0000A04;
    struct Row {
        uint32_t version;
        int aspi, bios, cdrom, diskettes;
        std::vector<std::string> labels;
    };
    const std::string scsiDisk = "[WASPI-DISK 00] IOMEGA ZIP 100";
    const Row rows[] = {
        {nt, 1, 1, 1, 1, {scsiDisk, "[DRIVE 0] (100M)", "[CDROM D]", "[DISKETTE A]"}},
        {nt, 0, 0, 0, 0, {}},
        {nt, 0, 1, 0, 2, {"[DRIVE 0] (100M)", "[DISKETTE A]"}},
        {nt, 3, 0, 1, 0, {scsiDisk, "[CDROM D]"}},
        {win95, 1, 1, 1, 1, {scsiDisk, "[BIOS_DRV D]", "[BIOS_DRV G]", "[DISKETTE A]"}},
        {win95, 0, 0, 1, 1, {"[DISKETTE A]"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.version << " " << row.aspi << row.bios << row.cdrom << row.diskettes);
        reset(0x0101);
        fakeWindows.version = row.version;
        scsi(0, deviceDisk, true, "IOMEGA  ZIP 100");
        physical(0, mediaRemovable, 100 * megabyte);
        fakeWindows.cdromLetters = {3};
        floppy('a', {mediaF3_1Pt44});
        floppy('b', {5, 6});  // 5.25-inch media only
        dosDrive(1, 2, true, 80, 18);
        dosDrive(2, 2, true, 40, 9);
        dosDrive(4, 5, true, 0, 0);
        dosDrive(5, 5, false, 0, 0);
        dosDrive(6, 3, true, 0, 0);
        dosDrive(7, 6, true, 0, 0, 2048);
        buildDriveTable(prefsWith(row.aspi, row.bios, row.cdrom, row.diskettes));
        EXPECT_EQ(labels(), row.labels);
        EXPECT_EQ(fakeWindows.openHandles, 0);
    }
}

// What each kind of entry can do: the Format dialog and the Mac pane rely
// on these operations and flags, and the sizes come from each device.
TEST_F(DriveTable, EveryKindHasItsOperationsAndFlags)
{
    struct Expected {
        const char* label;
        DriveKind kind;
        bool write, diskette, partitioned, toc;
        uint8_t flags;
        uint16_t ratio;
        uint32_t sectorSize;  // from querySectorSize; 0: the kind has none
    };
    const Expected nt[] = {
        {"[WASPI-DISK 00] VERRIN DISK ", DriveKind::aspiDevice, true, false, true, false, 0, 1, 512},
        {"[WASPI-WORM 01] VERRIN WORM ", DriveKind::aspiDevice, false, false, false, false, 0, 1, 512},
        {"[WASPI-CDRM 02] VERRIN CD ", DriveKind::aspiDevice, false, false, false, true, driveMultisession, 1, 2048},
        {"[WASPI-OPTI 03] VERRIN MO ", DriveKind::aspiDevice, true, false, true, false, 0, 1, 512},
        {"[DRIVE 0] (100M)", DriveKind::ntPhysical, true, false, true, false, 0, 1, 512},
        {"[CDROM D]", DriveKind::ntCdrom, false, false, false, false, driveMultisession, 4, 2048},
        {"[DISKETTE A]", DriveKind::floppy, true, true, false, false, 0, 1, 0},
    };
    const Expected win95[] = {
        {"[BIOS_DRV G]", DriveKind::biosDrive, true, false, true, false, driveRemovable, 4, 2048},
        {"[DISKETTE A]", DriveKind::floppy, true, true, false, false, 0, 1, 0},
    };
    for (const bool family95 : {false, true}) {
        reset(0x0101);
        fakeWindows.version = family95 ? 0xC0000A04 : 0x0A;
        scsi(0, deviceDisk, true, "VERRIN  DISK");
        scsi(1, deviceWorm, true, "VERRIN  WORM");
        scsi(2, deviceCdrom, true, "VERRIN  CD");
        scsi(3, deviceOptical, true, "VERRIN  MO");
        physical(0, mediaRemovable, 100 * megabyte);
        FakeDevice cd;
        cd.name = "\\\\.\\D:";
        cd.bytesPerSector = 2048;
        cd.cylinders = 1000;
        fakeWindows.devices.push_back(cd);
        fakeWindows.cdromLetters = {3};
        floppy('a', {mediaF3_1Pt44});
        dosDrive(1, 2, true, 80, 18);
        dosDrive(7, 6, true, 0, 0, 2048);
        buildDriveTable(prefsWith(family95 ? 0 : 1, 1, 1, 1));
        const auto& expected = family95 ? std::vector<Expected>(std::begin(win95), std::end(win95))
                                        : std::vector<Expected>(std::begin(nt), std::end(nt));
        ASSERT_EQ(driveCount, static_cast<int>(expected.size()));
        for (int i = 0; i < driveCount; ++i) {
            DriveEntry& e = driveTable[i];
            const Expected& x = expected[static_cast<size_t>(i)];
            SCOPED_TRACE(x.label);
            EXPECT_STREQ(e.label, x.label);
            EXPECT_EQ(e.kind, x.kind);
            EXPECT_NE(e.read, nullptr);
            EXPECT_EQ(e.write != nullptr, x.write);
            EXPECT_EQ(e.format == formatDiskette, x.diskette);
            EXPECT_EQ(e.format == formatPartitionedMedium, x.partitioned);
            EXPECT_EQ(e.readToc != nullptr, x.toc);
            EXPECT_EQ(e.flags, x.flags);
            EXPECT_EQ(e.sectorRatio, x.ratio);
            uint64_t capacity = 0;
            EXPECT_EQ(e.querySectorSize ? e.querySectorSize(e, &capacity) : 0u, x.sectorSize);
            if (x.sectorSize) {
                EXPECT_GT(capacity, 0u);
            }
            uint8_t toc[256];
            if (x.toc) {
                EXPECT_EQ(e.readToc(e, toc), 0);
            }
        }
        EXPECT_EQ(fakeWindows.openHandles, 0);
    }
}

// With the host system and no ASPI adapters, building the table ends
// without an error and leaves only well-formed entries (none off Windows).
TEST_F(DriveTable, HostSystemWithoutDevices)
{
    removeFakeWindows();
    aspiDouble().reset(0);
    buildDriveTable(Settings{});
    EXPECT_EQ(lastError, errNone);
#ifndef _WIN32
    EXPECT_EQ(driveCount, 0);
#endif
    for (int i = 0; i < driveCount; ++i) EXPECT_NE(driveTable[i].read, nullptr) << driveTable[i].label;
}
