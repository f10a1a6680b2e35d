// The system's raw-device paths on both Windows families, against the
// stand-in system: the result and error code of every kind of failure,
// which transfers lock, data at the right place beyond 2 GB (never at a
// wrapped position), and every handle closed. A 5 GB disk goes through the
// whole engine: formatted, listed, written, read back and checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "devices/enumerate.h"
#include "devices/win/raw_devices.h"
#include "base/errors.h"
#include "base/ui_headless.h"
#include "hfs/hfs.h"
#include "hfs/journal.h"
#include "support/fake_windows.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::win;
using namespace verrin::testsupport;

namespace {

constexpr uint64_t gigabyte = 1ull << 30;

struct RawDevices : ::testing::Test {
    void SetUp() override
    {
        installFakeWindows();
        lastError = errNone;
    }
    void TearDown() override
    {
        closeVolume();
        clearDrives();
        removeFakeWindows();
        lastError = errNone;
    }
};

FakeDevice fakeDisk(const char* name, uint64_t bytes, uint32_t sectorSize, uint32_t mediaType)
{
    FakeDevice d;
    d.name = name;
    d.bytes = bytes;
    d.bytesPerSector = sectorSize;
    d.cylinders = bytes / sectorSize;
    d.mediaType = mediaType;
    return d;
}

std::vector<uint8_t> pattern(uint32_t units, uint8_t seed)
{
    std::vector<uint8_t> p(units * 512);
    for (size_t i = 0; i < p.size(); ++i) p[i] = static_cast<uint8_t>(seed + i * 13 + i / 512);
    return p;
}

enum class Fault { none, missing, lockRefused, wrongPosition, writeProtected, pastEnd };

}  // namespace

// Each row: one transfer through a drive entry's own operation, on a fresh
// stand-in. Positions of the CD-ROM and the physical drive lie beyond
// 2 GB; a system that does not report that position back stops the
// transfer before anything moves.
TEST_F(RawDevices, NtTransfersResultsLocksAndPositions)
{
    enum Device { floppy, cdrom, physical };
    struct Row {
        Device device;
        bool writing;
        Fault fault;
        int32_t error;
    };
    const Row rows[] = {
        {floppy, false, Fault::none, errNone},
        {floppy, true, Fault::none, errNone},
        {cdrom, false, Fault::none, errNone},
        {physical, false, Fault::none, errNone},
        {physical, true, Fault::none, errNone},
        {floppy, false, Fault::missing, errMacRead},
        {physical, true, Fault::missing, errMacWrite},
        {floppy, false, Fault::lockRefused, errMacRead},
        {physical, true, Fault::lockRefused, errMacWrite},
        {physical, false, Fault::wrongPosition, errMacRead},
        {physical, true, Fault::wrongPosition, errMacWrite},
        {cdrom, false, Fault::wrongPosition, errMacRead},
        {floppy, true, Fault::writeProtected, errMacWrite},
        {physical, true, Fault::writeProtected, errMacWrite},
        {cdrom, false, Fault::pastEnd, errMacRead},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "device " << row.device << (row.writing ? " write" : " read") << " fault "
                                        << static_cast<int>(row.fault));
        installFakeWindows();
        lastError = errNone;
        FakeDevice d = row.device == floppy ? fakeDisk("\\\\.\\a:", 2880 * 512, 512, mediaF3_1Pt44)
                       : row.device == cdrom ? fakeDisk("\\\\.\\D:", 5 * gigabyte, 2048, mediaRemovable)
                                             : fakeDisk("\\\\.\\PhysicalDrive0", 5 * gigabyte, 512, mediaFixed);
        DriveEntry e = row.device == floppy ? ntFloppyEntry(0)
                       : row.device == cdrom ? ntCdromEntry(3)
                                             : ntPhysicalEntry(0, DiskGeometry{});
        e.sectorRatio = static_cast<uint16_t>(d.bytesPerSector / 512);
        // 4.5 GB in: beyond 2^31 and 2^32 bytes.
        const uint32_t unit = row.device == floppy ? 6 : static_cast<uint32_t>(9 * gigabyte / 2 / 512);
        const uint32_t count = row.device == cdrom ? 4 : 3;
        const std::vector<uint8_t> data = pattern(count, 7);
        if (!row.writing)
            for (uint32_t i = 0; i < count; ++i) std::memcpy(d.sectors[unit + i].data(), data.data() + i * 512, 512);
        if (row.fault == Fault::missing) d.name = "elsewhere";
        d.lockRefused = row.fault == Fault::lockRefused;
        d.wrongPosition = row.fault == Fault::wrongPosition;
        d.writeProtected = row.fault == Fault::writeProtected;
        if (row.fault == Fault::pastEnd) d.bytes = uint64_t{unit} * 512;
        fakeWindows.devices.push_back(d);

        std::vector<uint8_t> buffer(count * 512);
        const int32_t moved = row.writing ? e.write(e, data.data(), count, unit) : e.read(e, buffer.data(), count, unit);
        const FakeDevice& after = fakeWindows.devices[0];
        EXPECT_EQ(lastError, row.error);
        EXPECT_EQ(moved, row.error ? 0 : static_cast<int32_t>(count));
        EXPECT_EQ(fakeWindows.openHandles, 0);
        EXPECT_EQ(after.locks, after.unlocks);
        EXPECT_EQ(after.locks > 0, row.device != cdrom && row.fault != Fault::missing && !d.lockRefused);
        if (row.fault != Fault::missing && !d.lockRefused) {
            ASSERT_FALSE(after.positions.empty());
            EXPECT_EQ(after.positions[0], uint64_t{unit} * 512);
        }
        if (d.wrongPosition) {
            EXPECT_EQ(after.reads + after.writes, 0);
        }
        if (row.device == cdrom) {
            EXPECT_EQ(after.lastAccess, genericRead);
        }
        if (row.error == errNone && row.writing) {
            for (uint32_t i = 0; i < count; ++i)
                EXPECT_EQ(0, std::memcmp(unitOf(after.sectors, unit + i).data(), data.data() + i * 512, 512));
            EXPECT_EQ(after.sectors.size(), count);
        }
        if (row.error == errNone && !row.writing) {
            EXPECT_EQ(buffer, data);
        }
    }
}

// The Windows 95 paths: DOS error codes become the specific error codes, a
// refused lock writes nothing, every lock is undone, diskettes are never
// locked, and the vwin32 handle is closed each time.
TEST_F(RawDevices, Win95TransfersTurnDosErrorsIntoTheirCodes)
{
    struct Row {
        bool diskette;
        bool writing;
        int readError, writeError, lockError;
        int32_t error;
    };
    const Row rows[] = {
        {false, false, -1, -1, -1, errNone},
        {false, true, -1, -1, -1, errNone},
        {false, false, 2, -1, -1, errDriveNotReady},
        {false, false, 0x1F, -1, -1, errMacRead},
        {false, true, -1, 0, -1, errVolumeReadOnly},
        {false, true, -1, 2, -1, errDriveNotReady},
        {false, true, -1, 0x1F, -1, errMacWrite},
        {false, true, -1, -1, 0x15, errDriveNotReady},
        {false, true, -1, -1, 5, errLockFailed},
        {true, false, -1, -1, -1, errNone},
        {true, true, -1, -1, -1, errNone},
        {true, true, -1, 0, -1, errMacWrite},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.diskette ? "diskette" : "DOS drive") << (row.writing ? " write" : " read")
                                        << " errors " << row.readError << "/" << row.writeError << "/" << row.lockError);
        installFakeWindows();
        fakeWindows.version = 0xC0000A04;  // Windows 95 family
        lastError = errNone;
        FakeDosDrive d;
        d.number = row.diskette ? 1 : 4;
        d.readError = row.readError;
        d.writeError = row.writeError;
        d.lockError = row.lockError;
        const std::vector<uint8_t> data = pattern(2, 3);
        for (uint32_t i = 0; i < 2 && !row.writing; ++i) std::memcpy(d.sectors[10 + i].data(), data.data() + i * 512, 512);
        fakeWindows.dosDrives.push_back(d);
        DosDeviceParameters p{};
        p.bytesPerSector = 512;
        DriveEntry e = row.diskette ? win95FloppyEntry(0) : biosDriveEntry(4, p);

        std::vector<uint8_t> buffer(1024);
        const int32_t moved = row.writing ? e.write(e, data.data(), 2, 10) : e.read(e, buffer.data(), 2, 10);
        const FakeDosDrive& after = fakeWindows.dosDrives[0];
        EXPECT_EQ(lastError, row.error);
        EXPECT_EQ(moved, row.error ? 0 : 2);
        EXPECT_EQ(fakeWindows.openHandles, 0);
        EXPECT_EQ(after.locks, row.writing && !row.diskette ? 1 : 0);
        EXPECT_EQ(after.unlocks, row.writing && !row.diskette && row.lockError < 0 ? 1 : 0);
        EXPECT_EQ(after.writes, row.writing && row.lockError < 0 ? 1 : 0);
        if (!row.error && row.writing) {
            EXPECT_EQ(0, std::memcmp(unitOf(after.sectors, 11).data(), data.data() + 512, 512));
        }
        if (!row.error && !row.writing) {
            EXPECT_EQ(buffer, data);
        }
    }
}

// A 5 GB physical disk, listed by the enumeration, formatted, written and
// checked through the engine: the alternate MDB and the volume's last
// blocks lie far beyond 2 GB and are reached where they are.
TEST_F(RawDevices, FiveGigabyteDiskWorksThroughTheEngine)
{
    fakeWindows.devices.push_back(fakeDisk("\\\\.\\PhysicalDrive0", 5 * gigabyte, 512, mediaRemovable));
    Settings prefs;
    buildDriveTable(prefs);
    ASSERT_EQ(driveCount, 1);
    EXPECT_STREQ(driveTable[0].label, "[DRIVE 0] (5.0G)");

    const std::vector<std::string> problems = formatAndUseDrive(0, 200000);
    EXPECT_TRUE(problems.empty()) << problems[0];
    const FakeDevice& disk = fakeWindows.devices[0];
    const uint64_t alternate = 5 * gigabyte / 512 - 2;
    EXPECT_EQ(read16(unitOf(disk.sectors, alternate).data()), 0x4244);
    EXPECT_GT(*std::max_element(disk.positions.begin(), disk.positions.end()), 4 * gigabyte);
    EXPECT_LT(disk.sectors.rbegin()->first, 5 * gigabyte / 512);
    EXPECT_EQ(fakeWindows.openHandles, 0);
}

namespace {

// The disk's write, wrapped to keep the journal as it stands at the first
// write of a commit and to lose that write, as a stop before it reached
// the medium would.
DriveWriteOp diskWrite = nullptr;
std::string journalPath, journalAtWrite;
int32_t writeKeepingJournal(DriveEntry& entry, const uint8_t* buffer, uint32_t count, uint32_t address)
{
    if (!journalAtWrite.empty()) return diskWrite(entry, buffer, count, address);
    readFile(journalPath, journalAtWrite);
    return static_cast<int32_t>(count);
}

}  // namespace

// Changes to a disk of 2048-byte sectors are journaled in the program's
// journal folder under the disk's name, whole sectors at a time, and
// flushed to the medium; a journal left by a stop after the disk was
// written in part is undone when the drive is next selected.
TEST_F(RawDevices, DiskChangesAreJournaledFlushedAndUndoneAfterAStop)
{
    ScratchDir dir;
    journalFolder = dir.file("Journals");
    fakeWindows.devices.push_back(fakeDisk("\\\\.\\PhysicalDrive0", 64 << 20, 2048, mediaRemovable));
    Settings prefs;
    buildDriveTable(prefs);
    ASSERT_EQ(driveCount, 1);
    const std::vector<std::string> problems = formatAndUseDrive(0, 5000);
    ASSERT_TRUE(problems.empty()) << problems[0];
    EXPECT_GE(fakeWindows.flushes, 2);  // the format and the file
    ASSERT_TRUE(journalPathOf(driveTable[0], journalPath));
    EXPECT_EQ(journalPath, (std::filesystem::path(journalFolder) / "PhysicalDrive0-67108864.journal").string());

    ASSERT_TRUE(mountAt(0) && enterFolder(2));
    diskWrite = driveTable[0].write;
    driveTable[0].write = writeKeepingJournal;
    journalAtWrite.clear();
    createFolder(macName("Stopped").data());
    flushVolume();
    driveTable[0].write = diskWrite;
    ASSERT_EQ(lastError, errNone);
    EXPECT_FALSE(fileExists(journalPath));
    // Header, then per unit its address and two images, then the checksum.
    const size_t units = (journalAtWrite.size() - 96 - 8) / 1028;
    EXPECT_EQ(units % 4, 0u);

    closeVolume();
    ASSERT_TRUE(writeFile(journalPath, journalAtWrite));
    headless::reset();
    selectDrive(0);
    ASSERT_TRUE(mountAt(0));
    CatalogItem item;
    EXPECT_EQ(lookupCatalogItem(2, macName("Stopped").data(), item), 0);
    EXPECT_EQ(lookupCatalogItem(2, macName("Written").data(), item), 1);
    EXPECT_FALSE(fileExists(journalPath));
    ASSERT_EQ(headless::shown.size(), 1u);
    EXPECT_EQ(headless::shown[0].caption, "Interrupted Change");
    journalFolder.clear();
}
