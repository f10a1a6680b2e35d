// BinHex 4.0: round trips through our encoder and decoder, the exact text
// layout, run-length and escape rules, and damaged or foreign input.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "support/codecs.h"
#include "transfer/binhex.h"

using namespace verrin;
using namespace verrin::codectest;

namespace {

struct BinHexTest : ::testing::Test {
    void SetUp() override { lastError = errNone; }
    void TearDown() override { lastError = errNone; }
};

}  // namespace

TEST_F(BinHexTest, RoundTripsForkSizesAroundGroupAndLineBoundaries)
{
    // Sizes around the three-byte groups, the 45-byte first line, 48-byte
    // lines and 128-byte blocks, with 0x90 bytes sprinkled in.
    const uint32_t sizes[] = {0, 1, 2, 3, 44, 45, 46, 47, 48, 49, 127, 128, 129, 255, 256, 257, 1000, 4099};
    for (uint32_t dataSize : sizes) {
        for (uint32_t resourceSize : {0u, 1u, 128u, 130u}) {
            MacFileInfo info = makeInfo("Round trip", "TEXT", "ttxt", 0x0100);
            std::vector<uint8_t> data = patternBytes(dataSize, 3);
            std::vector<uint8_t> resource = patternBytes(resourceSize, 7);
            std::string text = encodeBinHex(info, data, resource);
            ASSERT_EQ(lastError, errNone) << dataSize;
            Decoded d = decodeBinHex(text);
            ASSERT_EQ(lastError, errNone) << dataSize << "/" << resourceSize << ": " << errorText(lastError);
            EXPECT_EQ(d.info.name, info.name);
            EXPECT_EQ(0, std::memcmp(d.info.finderInfo.data(), info.finderInfo.data(), 10));
            EXPECT_EQ(d.data, data) << dataSize;
            EXPECT_EQ(d.resource, resource) << resourceSize;
        }
    }
}

TEST_F(BinHexTest, LinesAre64CharactersAndTheTailIsClosed)
{
    for (uint32_t size = 0; size < 200; ++size) {
        MacFileInfo info = makeInfo("L", "TEXT", "ttxt", 0);
        std::vector<uint8_t> data = patternBytes(size, 1);
        std::string text = encodeBinHex(info, data, {});
        ASSERT_EQ(lastError, errNone);
        std::vector<std::string> lines = splitLines(text, '\r');
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[0], binHexIntro);
        EXPECT_EQ(lines[1][0], ':');
        EXPECT_EQ(text.back(), '\r');
        for (size_t i = 1; i + 1 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 64u) << "size " << size << " line " << i;
        const std::string& last = lines.back();
        ASSERT_FALSE(last.empty());
        EXPECT_LE(last.size(), 64u);
        EXPECT_EQ(last.back(), ':');
        EXPECT_EQ(last.find(':'), lines.size() == 2 ? 0 : last.size() - 1);
    }
}

TEST_F(BinHexTest, EscapesTheRunMarkerAndChecksumsTheUnescapedBytes)
{
    // 0x90 0x90 0x41 goes out as 0x90 0x00 0x90 0x00 0x41.
    MacFileInfo info = makeInfo("x", "TEXT", "ttxt", 0);
    std::vector<uint8_t> data = {0x90, 0x90, 0x41};
    std::string text = encodeBinHex(info, data, {});
    std::vector<uint8_t> escaped = rawStream(text);
    std::vector<uint8_t> expected = expectedHeaderBytes(info, 3, 0);
    const uint8_t body[] = {0x90, 0x00, 0x90, 0x00, 0x41};
    expected.insert(expected.end(), body, body + 5);
    uint16_t crc = crc16(data);
    expected.push_back(static_cast<uint8_t>(crc >> 8));
    expected.push_back(static_cast<uint8_t>(crc));
    expected.push_back(0);  // CRC of the empty resource fork
    expected.push_back(0);
    EXPECT_EQ(escaped, expected);
    EXPECT_EQ(decodeBinHex(text).data, data);
}

TEST_F(BinHexTest, ExpandsRunsIncludingRunsLongerThan255)
{
    // A, 0x90 255, 0x90 10 -> 264 copies; then 0x90 0 is a literal 0x90,
    // 0x90 1 adds nothing, and a run of 0x90 itself.
    std::vector<uint8_t> data(264, 'A');
    data.push_back(0x90);
    data.push_back('B');
    data.insert(data.end(), 5, 0x90);
    std::vector<uint8_t> escaped = {'A', 0x90, 255, 0x90, 10, 0x90, 0, 'B', 0x90, 1, 0x90, 0, 0x90, 5};
    std::string text = textFromEscaped(makeInfo("runs", "TEXT", "ttxt", 0), data, escaped, {});
    Decoded d = decodeBinHex(text);
    ASSERT_EQ(lastError, errNone) << errorText(lastError);
    EXPECT_EQ(d.data, data);
}

TEST_F(BinHexTest, AcceptsAnyLineEndsLeadingTextAndTrailingBytes)
{
    MacFileInfo info = makeInfo("Lines", "APPL", "????", 0x2100);
    std::vector<uint8_t> data = patternBytes(700, 5), resource = patternBytes(300, 9);
    std::string text = encodeBinHex(info, data, resource);
    std::string lf = replaceAll(text, "\r", "\n");
    std::string crlf = replaceAll(text, "\r", "\r\n");
    std::string mail = "From: someone\r\nSubject: a file: here\r\n:-) smile\r\n\r\n" + crlf + "\r\n-- \r\nsignature\r\n";
    std::string rewrapped = "(This file must be converted with BinHex 4.0)\n" + rewrap(text, 20);
    for (const std::string& t : {lf, crlf, mail, rewrapped, text.substr(text.find(':'))}) {
        lastError = errNone;
        Decoded d = decodeBinHex(t);
        ASSERT_EQ(lastError, errNone) << errorText(lastError) << "\n" << t.substr(0, 200);
        EXPECT_EQ(d.data, data);
        EXPECT_EQ(d.resource, resource);
    }
}

TEST_F(BinHexTest, DamagedInputGivesAClearError)
{
    MacFileInfo info = makeInfo("Damaged", "TEXT", "ttxt", 0);
    std::vector<uint8_t> data = patternBytes(500, 2), resource = patternBytes(200, 4);
    std::string text = encodeBinHex(info, data, resource);
    size_t start = text.find(':');

    struct Case {
        const char* what;
        std::string text;
        int32_t error;
    };
    std::string flippedHeader = text, flippedData = text, flippedResource = text;
    flipCharacter(flippedHeader, start + 5);
    flipCharacter(flippedData, start + 200);
    flipCharacter(flippedResource, text.size() - 10);
    std::string midLine = "a line with a : in it\r\nand " + text.substr(start);
    std::string colonInside = text;
    colonInside[start + 300] = ':';
    const Case cases[] = {
        {"flipped header byte", flippedHeader, errDamagedFile},
        {"flipped data byte", flippedData, errDamagedFile},
        {"flipped resource byte", flippedResource, errDamagedFile},
        {"truncated in the data", text.substr(0, start + 300), errDamagedFile},
        {"truncated before the last CRC", text.substr(0, text.size() - 4), errDamagedFile},
        {"colon in the middle of the data", colonInside, errDamagedFile},
        {"no start line", "just some text\r\nwithout any colon\r\n", errWrongFileType},
        {"start only in the middle of a line", midLine, errWrongFileType},
        {"nothing after the colon", "(This file must be converted with BinHex 4.0)\r\n:", errWrongFileType},
        {"empty file", "", errWrongFileType},
    };
    for (const Case& c : cases) {
        lastError = errNone;
        Decoded d = decodeBinHex(c.text);
        EXPECT_EQ(lastError, c.error) << c.what;
        EXPECT_FALSE(d.ok) << c.what;
    }
}

TEST_F(BinHexTest, HeaderChecks)
{
    // An empty name with correct checksums is reported, not refused.
    MacFileInfo noName = makeInfo("", "TEXT", "ttxt", 0);
    std::vector<uint8_t> data = {'h', 'i'};
    std::string text = textFromEscaped(noName, data, {'h', 'i'}, {});
    Decoded d = decodeBinHex(text);
    EXPECT_EQ(lastError, errNone);
    EXPECT_TRUE(d.ok);
    EXPECT_EQ(d.info.name[0], 0);
    EXPECT_EQ(d.data, data);

    // Names up to the format's 63 bytes are read whole; 64 is refused.
    MacFileInfo longName = makeInfo(std::string(63, 'n'), "TEXT", "ttxt", 0);
    d = decodeBinHex(textFromEscaped(longName, {}, {}, {}));
    EXPECT_EQ(lastError, errNone);
    EXPECT_EQ(d.info.name[0], 63);
    lastError = errNone;
    std::vector<uint8_t> tooLong(1, 64);
    tooLong.resize(200, 'n');
    decodeBinHex(textFromRaw(tooLong));
    EXPECT_EQ(lastError, errWrongFileType);

    // Fork lengths above the caller's limit are refused.
    lastError = errNone;
    MacFileInfo big = makeInfo("big", "TEXT", "ttxt", 0);
    decodeBinHex(textFromRaw(expectedHeaderBytes(big, 5000, 0)), 4999);
    EXPECT_EQ(lastError, errWrongFileType);

    // The encoder refuses names it cannot store.
    lastError = errNone;
    encodeBinHex(makeInfo("", "TEXT", "ttxt", 0), {}, {});
    EXPECT_EQ(lastError, errWrongFileType);
}

TEST_F(BinHexTest, ShortSourceIsReported)
{
    MacFileInfo info = makeInfo("short", "TEXT", "ttxt", 0);
    info.dataLength = 100;
    std::vector<uint8_t> data = patternBytes(40, 1);
    MemorySource source{data, {}};
    MemorySink sink;
    writeBinHex(info, memorySource(source), memorySink(sink));
    EXPECT_EQ(lastError, errDamagedFile);
}

TEST_F(BinHexTest, EndlessInputEndsWithAnError)
{
    // A source that never ends: its prefix, then one character forever (the
    // test gives up after 8 MB so a fault shows as a failure, not a hang).
    struct Endless {
        std::string prefix;
        char fill;
        size_t reads = 0;
    };
    const auto read = [](void* context) -> int {
        auto& e = *static_cast<Endless*>(context);
        if (++e.reads > (8u << 20)) return -1;
        return static_cast<uint8_t>(e.reads <= e.prefix.size() ? e.prefix[e.reads - 1] : e.fill);
    };
    const std::string text = encodeBinHex(makeInfo("Endless", "TEXT", "ttxt", 0), patternBytes(5000, 3), {});
    const std::string header = text.substr(0, text.find(':') + 40);  // the header and a little data
    const struct {
        Endless source;
        int32_t error;
    } cases[] = {
        {{"", 'x'}, errWrongFileType},                     // text that never starts
        {{"", '\r'}, errWrongFileType},                    // empty lines forever
        {{header, ' '}, errDamagedFile},                   // the data stops, the input does not
        {{header, '!'}, errDamagedFile},                   // encoded characters past the declared length
    };
    for (auto c : cases) {
        lastError = errNone;
        BinHexReader reader;
        MacFileInfo info;
        MemorySink sink;
        if (readBinHexHeader(reader, ByteSource{read, nullptr, &c.source}, info, 0x7FFFFFFF))
            readBinHexForks(reader, info, memorySink(sink));
        EXPECT_EQ(lastError, c.error) << c.source.fill;
        EXPECT_LT(c.source.reads, 8u << 20) << c.source.fill;
    }
}
