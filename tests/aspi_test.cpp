// The ASPI transport against the stand-in library: why loading fails, the
// request block of each command, the attempt loop (busy waits, adapter and
// target errors, "buffer too big" reductions and transferCap, completion
// through the event, the time-out with its abort), and a volume on the
// stand-in's disk formatted, written and checked through the engine, with
// the image file checked by verrin-cli afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>

#include "devices/enumerate.h"
#include "devices/win/aspi.h"
#include "devices/win/aspi_srb.h"
#include "base/errors.h"
#include "hfs/hfs.h"
#include "support/fake_windows.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::win;
using namespace verrin::testsupport;

namespace {

constexpr uint32_t oneAdapter = 0x0101;  // manager ready, one host adapter

struct Aspi : ::testing::Test {
    ScratchDir dir;
    void SetUp() override
    {
        installFakeWindows();
        transferCap = 0;
        lastError = errNone;
    }
    void TearDown() override
    {
        unloadAspi();
        closeVolume();
        clearDrives();
        removeFakeWindows();
        transferCap = 0;
        lastError = errNone;
    }
    // A device on adapter 0 whose medium is an image file of `bytes`
    // pattern bytes (none when bytes is 0).
    AspiDoubleDevice attach(uint8_t target, uint8_t type, bool removable, uint64_t bytes, const char* ident = "VERRIN  STANDIN")
    {
        AspiDoubleDevice d{};
        d.target = target;
        d.deviceType = type;
        d.removable = removable;
        d.blockSize = type == deviceCdrom ? 2048 : 512;
        std::snprintf(d.ident, sizeof d.ident, "%s", ident);
        if (bytes) {
            const std::string path = dir.file("target" + std::to_string(target) + ".img");
            std::string content(bytes, '\0');
            for (size_t i = 0; i < bytes; ++i) content[i] = static_cast<char>(i * 31 + i / 512);
            EXPECT_TRUE(writeFile(path, content));
            std::snprintf(d.imagePath, sizeof d.imagePath, "%s", path.c_str());
        }
        for (size_t i = 0; i < sizeof d.toc; ++i) d.toc[i] = static_cast<uint8_t>(255 - i);
        aspiDouble().addDevice(&d);
        return d;
    }
    std::vector<AspiDoubleCall> requests()
    {
        aspiDouble().settle();
        return aspiCalls();
    }
};

const AspiDoubleReply served{aspiDoubleServe, 0, 0, completeNow};
const AspiDoubleReply servedLater{aspiDoubleServe, 0, 0, completeLater};
const AspiDoubleReply never{aspiDoubleServe, 0, 0, completeNever};
const AspiDoubleReply busy{ssAspiIsBusy, 0, 0, completeNow};
const AspiDoubleReply tooBig{ssBufferTooBig, 0, 0, completeNow};
const AspiDoubleReply adapterError{ssComp, 0x11, 0, completeNow};
const AspiDoubleReply checkCondition{ssErr, 0, 2, completeNow};
const AspiDoubleReply errorWithoutTarget{ssErr, 0, 0, completeNow};
const AspiDoubleReply noDevice{ssNoDevice, 0, 0, completeNow};

// Checks every request against the interface (direction flags and CDB
// length by command, 14 bytes of sense, an event to signal) and counts the
// requests of each command.
std::map<uint8_t, int> countAndCheckRequests(const std::vector<AspiDoubleCall>& calls)
{
    struct Shape {
        uint8_t flags, cdbLength;
    };
    const std::map<uint8_t, Shape> shapes{{scsiInquiry, {0x48, 6}}, {scsiReadCapacity, {0x40, 10}},
                                          {scsiRead10, {0x48, 10}}, {scsiWrite10, {0x50, 10}},
                                          {scsiReadToc, {0x40, 10}}, {scsiSynchronizeCache, {0x40, 10}}};
    std::map<uint8_t, int> sent;
    for (const AspiDoubleCall& c : calls) {
        SCOPED_TRACE(static_cast<int>(c.opcode));
        ++sent[c.opcode];
        const auto shape = shapes.find(c.opcode);
        if (shape == shapes.end()) {
            ADD_FAILURE() << "unexpected command";
            continue;
        }
        EXPECT_EQ(c.flags, shape->second.flags);
        EXPECT_EQ(c.cdbLength, shape->second.cdbLength);
        EXPECT_EQ(c.senseLength, senseLength);
        EXPECT_TRUE(c.hasEvent);
    }
    return sent;
}

}  // namespace

TEST_F(Aspi, LoadingSaysWhyAndLeavesNothingLoaded)
{
    struct Row {
        bool missing, entryMissing;
        uint32_t support;
        int result;
    };
    const Row rows[] = {
        {true, false, oneAdapter, aspiNoLibrary},       {false, true, oneAdapter, aspiNoEntryPoints},
        {false, false, 0x0401, aspiManagerNotReady},    {false, false, 0x0100, aspiNoHostAdapters},
        {false, false, 0x0103, aspiLoaded},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.result);
        installFakeWindows();
        fakeWindows.aspiMissing = row.missing;
        fakeWindows.aspiEntryMissing = row.entryMissing;
        aspiDouble().reset(row.support);
        EXPECT_EQ(loadAspi(), row.result);
        EXPECT_EQ(aspiHostAdapters, row.result == aspiLoaded ? 3 : 0);
        EXPECT_EQ(fakeWindows.librariesFreed, row.result == aspiLoaded ? 0 : fakeWindows.librariesLoaded);
        unloadAspi();
        EXPECT_EQ(fakeWindows.librariesFreed, fakeWindows.librariesLoaded);
    }
}

// Each row scripts the answers to a READ(10) of 64 blocks.
TEST_F(Aspi, ReadAttemptsWaitsAndReductions)
{
    struct Row {
        const char* what;
        std::vector<AspiDoubleReply> script;
        int32_t result;
        std::vector<uint32_t> blocksSent;
        std::vector<uint32_t> sleeps, waits;
        uint32_t cap;
    };
    const Row rows[] = {
        {"served at once", {}, 64, {64}, {}, {}, 0},
        {"completed later through the event", {servedLater}, 64, {64}, {}, {aspiTimeoutMs}, 0},
        {"busy, then served", {busy, served}, 64, {64, 64}, {aspiBusySleepMs}, {}, 0},
        {"adapter errors cost every attempt", {adapterError, adapterError, adapterError, adapterError}, 0,
         {64, 64, 64, 64}, {}, {}, 0},
        {"check conditions until the attempts run out",
         {checkCondition, checkCondition, checkCondition, checkCondition}, 0, {64, 64, 64, 64}, {}, {}, 0},
        {"an error without target status is success", {errorWithoutTarget}, 64, {64}, {}, {}, 0},
        {"no device ends at once", {noDevice}, 0, {64}, {}, {}, 0},
        {"too big, then a quarter fits", {tooBig, served}, 16, {64, 16}, {}, {}, 16},
        {"too big every time", {tooBig, tooBig, tooBig, tooBig}, 0, {64, 16, 4, 1}, {}, {}, 1},
        {"never completes: aborted, no further attempt", {never, served}, 0, {64}, {aspiAbortSleepMs},
         {aspiTimeoutMs}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        installFakeWindows();
        const bool timesOut = !row.script.empty() && row.script[0].completion == completeNever;
        fakeWindows.waitCapMs = timesOut ? 0 : 5000;
        aspiDouble().reset(oneAdapter);
        attach(2, deviceDisk, true, 1 << 20);
        aspiDouble().script(row.script.data(), static_cast<uint32_t>(row.script.size()));
        ASSERT_EQ(loadAspi(), aspiLoaded);
        transferCap = 0;
        std::memset(bounceBuffer, 0xEE, 64 * 512);
        EXPECT_EQ(aspiRead(0, 2, 100, 512, 64, bounceBuffer), row.result);

        std::vector<uint32_t> blocks;
        const void* executed = nullptr;
        const void* aborted = nullptr;
        for (const AspiDoubleCall& c : requests()) {
            if (c.command == scAbortSrb) {
                aborted = c.request;
                continue;
            }
            executed = c.request;
            blocks.push_back(c.blocks);
            EXPECT_EQ(c.bufferLength, c.blocks * 512);
            EXPECT_EQ(c.address, 100u);
        }
        EXPECT_EQ(blocks, row.blocksSent);
        EXPECT_EQ(aborted, timesOut ? executed : nullptr);
        EXPECT_EQ(fakeWindows.sleeps, row.sleeps);
        EXPECT_EQ(fakeWindows.waits, row.waits);
        EXPECT_EQ(transferCap, row.cap);
        // Scripted statuses move no data; served requests do.
        if (row.result > 0 && (row.script.empty() || row.script.back().status == aspiDoubleServe)) {
            EXPECT_EQ(bounceBuffer[0], static_cast<uint8_t>(100 * 512 * 31 + 100));
            EXPECT_EQ(bounceBuffer[row.result * 512 - 1],
                      static_cast<uint8_t>((100 + row.result) * 512 * 31 - 31 + 100 + row.result - 1));
        }
        unloadAspi();
    }
}

// INQUIRY (three attempts), READ CAPACITY and READ TOC answers, and a
// WRITE(10) beyond the medium failing after its four attempts.
TEST_F(Aspi, InquiryCapacityTocAndAttempts)
{
    aspiDouble().reset(oneAdapter);
    attach(0, deviceDisk, false, 64 * 512);
    attach(5, deviceCdrom, true, 8 * 2048);
    ASSERT_EQ(loadAspi(), aspiLoaded);

    EXPECT_EQ(aspiInquiry(0, 5), 0);
    const AspiInquiry q = inquiryFromBounceBuffer();
    EXPECT_EQ(q.deviceType, deviceCdrom);
    EXPECT_TRUE(q.removable);
    EXPECT_EQ(std::string(q.ident), "VERRIN  STANDIN" + std::string(9, ' '));
    const AspiDoubleReply threeChecks[] = {checkCondition, checkCondition, checkCondition};
    aspiDouble().script(threeChecks, 3);
    EXPECT_EQ(aspiInquiry(0, 5), -1);

    uint64_t capacity = 0;
    EXPECT_EQ(aspiReadCapacity(0, 0, &capacity), 512u);
    EXPECT_EQ(capacity, 64u);
    EXPECT_EQ(aspiReadCapacity(0, 5, &capacity), 2048u);
    EXPECT_EQ(capacity, 8u);
    DriveEntry cd{};
    cd.unit = 5;
    uint8_t toc[256];
    EXPECT_EQ(aspiReadToc(cd, toc), 0);
    EXPECT_EQ(toc[0], 255);
    EXPECT_EQ(toc[255], 0);
    uint8_t block[1024] = {};
    EXPECT_EQ(aspiWrite(0, 0, 63, 512, 2, block), 0);

    const std::map<uint8_t, int> sent = countAndCheckRequests(requests());
    const std::map<uint8_t, int> expected{
        {scsiInquiry, 1 + 3}, {scsiReadCapacity, 2}, {scsiReadToc, 1}, {scsiWrite10, 4}};
    EXPECT_EQ(sent, expected);
}

// A removable disk on the stand-in that takes at most 16 blocks a transfer:
// found by the enumeration, then formatted, listed, written, read back and
// checked through the engine; verrin-cli then checks the image file.
TEST_F(Aspi, VolumeOnTheStandInDiskThroughTheEngine)
{
#ifdef _WIN32
    const auto nativeCheckCopy = std::filesystem::path(cliPath()).parent_path() / "aspi-disk.img";
    std::error_code ec;
    std::filesystem::remove(nativeCheckCopy, ec);
#endif
    aspiDouble().reset(oneAdapter);
    AspiDoubleDevice disk{};
    disk.deviceType = deviceDisk;
    disk.removable = 1;
    disk.target = 3;
    disk.blockSize = 512;
    disk.maxBlocks = 16;
    std::snprintf(disk.ident, sizeof disk.ident, "IOMEGA  ZIP 100");
    const std::string image = dir.file("disk.img");
    ASSERT_TRUE(makeBlankFile(image, 8 << 20));
    std::snprintf(disk.imagePath, sizeof disk.imagePath, "%s", image.c_str());
    aspiDouble().addDevice(&disk);

    Settings prefs;
    buildDriveTable(prefs);
    ASSERT_EQ(driveCount, 1);
    EXPECT_STREQ(driveTable[0].label, "[WASPI-DISK 03] IOMEGA ZIP 100");

    const std::vector<std::string> problems = formatAndUseDrive(0, 300000);
    EXPECT_TRUE(problems.empty()) << problems[0];
    EXPECT_EQ(transferCap, 16u);
    const std::map<uint8_t, int> sent = countAndCheckRequests(requests());
    EXPECT_TRUE(sent.count(scsiInquiry) && sent.count(scsiReadCapacity) && sent.count(scsiRead10) &&
                sent.count(scsiWrite10) && sent.count(scsiSynchronizeCache));

    const CommandResult check = runCli({"check", image});
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
#ifdef _WIN32
    // The test script checks this copy with the native verrin-cli as well.
    std::filesystem::copy_file(image, nativeCheckCopy, std::filesystem::copy_options::overwrite_existing, ec);
    EXPECT_FALSE(ec) << ec.message();
#endif
}
