// MacBinary: the header as we write it, the padding rules, and reading
// MacBinary I, II and III headers with their checks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "hfs/hfs.h"
#include "support/codecs.h"
#include "transfer/binhex.h"
#include "transfer/macbinary.h"

using namespace verrin;
using namespace verrin::codectest;

namespace {

struct MacBinaryTest : ::testing::Test {
    void SetUp() override { lastError = errNone; }
    void TearDown() override { lastError = errNone; }
};

// A valid MacBinary II header for a file with the given fork lengths.
std::vector<uint8_t> headerII(uint32_t dataLength, uint32_t resourceLength)
{
    std::vector<uint8_t> h(128, 0);
    h[1] = 4;
    std::memcpy(&h[2], "Two!", 4);
    std::memcpy(&h[65], "TEXTttxt", 8);
    h[73] = 0x21;  // flags high byte
    h[101] = 0x40;  // flags low byte
    write32(&h[83], dataLength);
    write32(&h[87], resourceLength);
    h[122] = 129;
    h[123] = 129;
    write16(&h[124], crc16(std::span<const uint8_t>(h).first(124)));
    return h;
}

void resign(std::vector<uint8_t>& h) { write16(&h[124], crc16(std::span<const uint8_t>(h).first(124))); }

Decoded parse(const std::vector<uint8_t>& file) { return decodeMacBinary(stringOf(file)); }

}  // namespace

TEST_F(MacBinaryTest, HeaderLayoutAndPadding)
{
    MacFileInfo info = makeInfo(std::string(31, 'N'), "APPL", "CrEa", 0x2143);
    info.created = 0x11223344;
    info.modified = 0x55667788;
    std::vector<uint8_t> data = patternBytes(130, 1), resource = patternBytes(5, 2);
    std::vector<uint8_t> file = bytesOf(encodeMacBinary(info, data, resource));
    ASSERT_EQ(lastError, errNone);
    ASSERT_EQ(file.size(), 128u + 256u + 128u);
    EXPECT_EQ(file[0], 0);
    EXPECT_EQ(file[1], 31);
    EXPECT_EQ(std::string(file.begin() + 2, file.begin() + 33), std::string(31, 'N'));
    for (size_t i = 33; i < 65; ++i) EXPECT_EQ(file[i], 0) << i;
    EXPECT_EQ(std::string(file.begin() + 65, file.begin() + 73), "APPLCrEa");
    // MacBinary II: flags high byte at 73, byte 74 zero (every reader
    // insists), low byte at 101, versions 129 and the header CRC.
    EXPECT_EQ(file[73], 0x21);
    for (size_t i = 74; i < 83; ++i) EXPECT_EQ(file[i], 0) << i;
    EXPECT_EQ(read32(&file[83]), 130u);
    EXPECT_EQ(read32(&file[87]), 5u);
    EXPECT_EQ(read32(&file[91]), 0x11223344u);
    EXPECT_EQ(read32(&file[95]), 0x55667788u);
    EXPECT_EQ(file[101], 0x43);
    EXPECT_EQ(file[122], 129);
    EXPECT_EQ(file[123], 129);
    EXPECT_EQ(read16(&file[124]), crc16(std::span<const uint8_t>(file).first(124)));
    for (size_t i = 99; i < 128; ++i)
        if (i != 101 && (i < 122 || i > 125)) {
            EXPECT_EQ(file[i], 0) << i;
        }
    EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + 128));
    for (size_t i = 128 + 130; i < 384; ++i) EXPECT_EQ(file[i], 0) << i;
    EXPECT_TRUE(std::equal(resource.begin(), resource.end(), file.begin() + 384));

    // An empty data fork: the resource fork follows the header at once; a
    // fork of exactly 128 bytes gets no padding.
    EXPECT_EQ(encodeMacBinary(info, {}, resource).substr(128, 5), stringOf(resource));
    EXPECT_EQ(encodeMacBinary(info, patternBytes(128, 3), {}).size(), 256u);
    EXPECT_EQ(encodeMacBinary(info, {}, {}).size(), 128u);
    EXPECT_EQ(macBinaryPadding(0), 0u);
    EXPECT_EQ(macBinaryPadding(1), 127u);
    EXPECT_EQ(macBinaryPadding(256), 0u);
}

TEST_F(MacBinaryTest, RoundTripsForkSizesAroundBlockBoundaries)
{
    MacFileInfo info = makeInfo("Round", "TEXT", "ttxt", 0x0100);
    info.created = 1;
    info.modified = 2;
    for (uint32_t dataSize : {0u, 1u, 127u, 128u, 129u, 300u, 70000u}) {
        for (uint32_t resourceSize : {0u, 1u, 128u, 255u}) {
            std::vector<uint8_t> data = patternBytes(dataSize, 5), resource = patternBytes(resourceSize, 6);
            Decoded d = decodeMacBinary(encodeMacBinary(info, data, resource));
            ASSERT_TRUE(d.ok) << dataSize << "/" << resourceSize << ": " << errorText(lastError);
            EXPECT_EQ(d.info.name, info.name);
            EXPECT_EQ(d.info.finderInfo, info.finderInfo);
            EXPECT_EQ(d.info.created, 1u);
            EXPECT_EQ(d.info.modified, 2u);
            EXPECT_EQ(d.data, data);
            EXPECT_EQ(d.resource, resource);
        }
    }
}

TEST_F(MacBinaryTest, ReadsMacBinaryIIAndIII)
{
    std::vector<uint8_t> file = headerII(3, 2);
    const uint8_t forks[] = {'a', 'b', 'c'};
    file.insert(file.end(), forks, forks + 3);
    file.resize(256, 0);
    file.push_back('R');
    file.push_back('S');
    Decoded d = parse(file);
    ASSERT_TRUE(d.ok) << errorText(lastError);
    EXPECT_EQ(read16(&d.info.finderInfo[8]), 0x2140);  // low byte from offset 101
    EXPECT_EQ(stringOf(d.data), "abc");
    EXPECT_EQ(stringOf(d.resource), "RS");

    // Missing final padding and bytes after the forks are both fine.
    std::vector<uint8_t> trailing = file;
    trailing.insert(trailing.end(), 300, 'z');
    EXPECT_TRUE(parse(trailing).ok);

    // The original form, as this program once wrote it: no CRC, versions 0,
    // the whole flags word at 73-74.
    std::vector<uint8_t> one = file;
    one[74] = 0x43;
    one[101] = one[122] = one[123] = one[124] = one[125] = 0;
    d = parse(one);
    ASSERT_TRUE(d.ok) << errorText(lastError);
    EXPECT_EQ(read16(&d.info.finderInfo[8]), 0x2143);
    EXPECT_EQ(stringOf(d.resource), "RS");

    // MacBinary III: the signature at 102.
    std::vector<uint8_t> three = file;
    std::memcpy(&three[102], "mBIN", 4);
    three[122] = 130;
    resign(three);
    MemorySource source{three, {}};
    MacBinaryHeader header;
    ASSERT_TRUE(readMacBinaryHeader(memorySource(source), three.size(), header));
    EXPECT_EQ(header.version, 3);

    // A secondary header is skipped, padded to 128.
    std::vector<uint8_t> secondary = headerII(3, 0);
    write16(&secondary[120], 10);
    resign(secondary);
    secondary.insert(secondary.end(), 128, 'S');
    secondary.insert(secondary.end(), forks, forks + 3);
    d = parse(secondary);
    ASSERT_TRUE(d.ok) << errorText(lastError);
    EXPECT_EQ(stringOf(d.data), "abc");
}

TEST_F(MacBinaryTest, BadHeadersGiveAClearError)
{
    std::vector<uint8_t> good = headerII(3, 0);
    good.insert(good.end(), {'a', 'b', 'c'});
    ASSERT_TRUE(parse(good).ok);

    struct Case {
        const char* what;
        std::vector<uint8_t> file;
        int32_t error;
    };
    std::vector<Case> cases;
    auto variant = [&](const char* what, int32_t error, auto change) {
        std::vector<uint8_t> f = good;
        change(f);
        cases.push_back({what, f, error});
    };
    variant("byte 82 set", errWrongFileType, [](auto& f) { f[82] = 1; resign(f); });
    variant("name length 0", errWrongFileType, [](auto& f) { f[1] = 0; resign(f); });
    variant("name length 32", errWrongFileType, [](auto& f) { f[1] = 32; resign(f); });
    variant("ends before byte 82", errWrongFileType, [](auto& f) { f.resize(80); });
    variant("shorter than a header", errWrongFileType, [](auto& f) { f.resize(127); });
    variant("data fork beyond the file", errDamagedFile, [](auto& f) { write32(&f[83], 4); resign(f); });
    variant("resource fork beyond the file", errDamagedFile, [](auto& f) { write32(&f[87], 1); resign(f); });
    variant("fork too large for HFS", errDamagedFile, [](auto& f) { write32(&f[83], 0x80000000u); resign(f); });
    variant("MacBinary II header CRC wrong", errDamagedFile, [](auto& f) { f[70] ^= 1; });
    variant("secondary header beyond the file", errDamagedFile, [](auto& f) { write16(&f[120], 200); resign(f); });
    for (const Case& c : cases) {
        lastError = errNone;
        Decoded d = parse(c.file);
        EXPECT_FALSE(d.ok) << c.what;
        EXPECT_EQ(lastError, c.error) << c.what;
    }

    // The data fork ends early when the file's size is not known beforehand.
    lastError = errNone;
    std::vector<uint8_t> shortFile = good;
    write32(&shortFile[83], 10);
    resign(shortFile);
    MemorySource source{shortFile, {}};
    ByteSource in = memorySource(source);
    MacBinaryHeader header;
    ASSERT_TRUE(readMacBinaryHeader(in, macBinaryUnknownSize, header));
    MemorySink sink;
    EXPECT_FALSE(readMacBinaryForks(in, header, memorySink(sink)));
    EXPECT_EQ(lastError, errDamagedFile);
}

TEST_F(MacBinaryTest, WriterRefusesBadNamesAndShortSources)
{
    encodeMacBinary(makeInfo(std::string(32, 'x'), "TEXT", "ttxt", 0), {}, {});
    EXPECT_EQ(lastError, errWrongFileType);

    lastError = errNone;
    MacFileInfo info = makeInfo("short", "TEXT", "ttxt", 0);
    info.resourceLength = 50;
    std::vector<uint8_t> resource(20, 1);
    MemorySource source{{}, resource};
    MemorySink sink;
    writeMacBinary(info, memorySource(source), memorySink(sink));
    EXPECT_EQ(lastError, errDamagedFile);
}
