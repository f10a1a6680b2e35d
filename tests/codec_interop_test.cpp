// BinHex and MacBinary against real peers: what we write is read by
// macutils hexbin and macsave, Perl's Convert::BinHex and hfsutils hcopy;
// what macutils binhex and hfsutils write is read by us.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/errors.h"
#include "hfs/hfs.h"
#include "support/codecs.h"
#include "support/peers.h"
#include "transfer/binhex.h"
#include "transfer/macbinary.h"

using namespace verrin;
using namespace verrin::codectest;
using namespace verrin::testsupport;

namespace {

struct CodecInterop : ::testing::Test {
    void SetUp() override { lastError = errNone; }
    void TearDown() override { lastError = errNone; }
};

// Flags the peers keep as they are (hexbin drops 0x0100, "inited").
constexpr uint16_t peerFlags = 0x2040;

std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::string s;
    EXPECT_TRUE(readFile(path, s)) << path;
    return bytesOf(s);
}

// The name, type and creator stored in a MacBinary header written by a peer.
void expectMacBinaryInfo(const std::vector<uint8_t>& header, const MacFileInfo& info)
{
    ASSERT_GE(header.size(), 128u);
    EXPECT_EQ(header[1], info.name[0]);
    EXPECT_EQ(0, std::memcmp(&header[2], &info.name[1], info.name[0]));
    EXPECT_EQ(0, std::memcmp(&header[65], info.finderInfo.data(), 8));
}

const char* perlDecoder = R"(
use Convert::BinHex;
my ($in, $out) = @ARGV;
my $h = Convert::BinHex->open(Expr => "<$in") or die "open";
$h->read_header;
open D, ">$out.data" or die; binmode D;
while (defined(my $x = $h->read_data)) { print D $x } close D;
open R, ">$out.rsrc" or die; binmode R;
while (defined(my $x = $h->read_resource)) { print R $x } close R;
die "corrupt" if $h->{Corrupted};
printf "%s|%s|%s|%04x", $h->filename, $h->type, $h->creator, $h->flags;
)";

}  // namespace

TEST_F(CodecInterop, HexbinDecodesWhatWeWriteAtEveryLineEnding)
{
    VERRIN_REQUIRE_PEER("hexbin");
    ScratchDir dir;
    // 48 data sizes cover every position of the text's end within a line;
    // then runs of 0x90, long runs and a larger file.
    std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> files;
    for (size_t n = 100; n < 148; ++n) {
        std::vector<uint8_t> d(n);
        for (size_t i = 0; i < n; ++i) d[i] = static_cast<uint8_t>(i * 7 + 1) == 0x90 ? 0x91 : static_cast<uint8_t>(i * 7 + 1);
        files.push_back({d, {}});
    }
    files.push_back({{}, {}});
    files.push_back({std::vector<uint8_t>(600, 0x90), std::vector<uint8_t>(300, 0)});
    files.push_back({patternBytes(70000, 11), patternBytes(5000, 12)});
    MacFileInfo info = makeInfo("Test File", "TEXT", "ttxt", peerFlags);
    for (const auto& [data, resource] : files) {
        SCOPED_TRACE(data.size());
        std::string text = encodeBinHex(info, data, resource);
        ASSERT_TRUE(writeFile(dir.file("t.hqx"), text));
        std::remove(dir.file("Test_File.data").c_str());
        CommandOptions here;
        here.workingDir = dir.path;
        CommandResult r = runCommand({"hexbin", "-3", "t.hqx"}, here);
        ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
        EXPECT_EQ(fileBytes(dir.file("Test_File.data")), data);
        EXPECT_EQ(fileBytes(dir.file("Test_File.rsrc")), resource);
        std::vector<uint8_t> header = fileBytes(dir.file("Test_File.info"));
        expectMacBinaryInfo(header, info);
        EXPECT_EQ(read16(&header[73]), peerFlags);
    }
}

TEST_F(CodecInterop, ConvertBinHexDecodesWhatWeWrite)
{
    VERRIN_REQUIRE_PEER("perl");
    if (runCommand({"perl", "-MConvert::BinHex", "-e", "1"}).exitCode != 0) GTEST_SKIP() << "no Convert::BinHex";
    ScratchDir dir;
    MacFileInfo info = makeInfo("Perl \xA5 Test", "APPL", "PeRl", 0x2140);
    const size_t sizes[][2] = {{0, 0}, {1, 0}, {0, 1}, {3000, 129}, {65536, 70001}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(s[0]);
        std::vector<uint8_t> data = patternBytes(s[0], 21), resource = patternBytes(s[1], 22);
        std::string text = replaceAll(encodeBinHex(info, data, resource), "\r", "\n");
        ASSERT_TRUE(writeFile(dir.file("t.hqx"), text));
        CommandResult r = runCommand({"perl", "-e", perlDecoder, dir.file("t.hqx"), dir.file("out")});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, "Perl \xA5 Test|APPL|PeRl|2140");
        EXPECT_EQ(fileBytes(dir.file("out.data")), data);
        EXPECT_EQ(fileBytes(dir.file("out.rsrc")), resource);
    }
}

TEST_F(CodecInterop, WeDecodeWhatMacutilsBinhexWrites)
{
    VERRIN_REQUIRE_PEER("binhex");
    ScratchDir dir;
    // binhex reads MacBinary (ours) and compresses runs, so its text has the
    // run-length forms our writer never makes.
    MacFileInfo info = makeInfo("From binhex", "TEXT", "R*ch", peerFlags);
    std::vector<uint8_t> data = patternBytes(20000, 31), resource = patternBytes(777, 32);
    data.insert(data.end(), 1000, 0x90);
    data.insert(data.end(), 1000, 'x');
    info.dataLength = static_cast<uint32_t>(data.size());
    ASSERT_TRUE(writeFile(dir.file("in.bin"), encodeMacBinary(info, data, resource)));
    CommandResult r = runCommand({"binhex", dir.file("in.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_LT(r.out.size(), data.size() * 4 / 3) << "binhex did not compress the runs";
    Decoded d = decodeBinHex(r.out);
    ASSERT_TRUE(d.ok) << errorText(lastError);
    EXPECT_EQ(d.info.name, info.name);
    // binhex reads the Finder flags as MacBinary I keeps them: the high
    // byte only (the low byte is a MacBinary II field).
    EXPECT_EQ(0, std::memcmp(d.info.finderInfo.data(), info.finderInfo.data(), 9));
    EXPECT_EQ(d.data, data);
    EXPECT_EQ(d.resource, resource);
}

TEST_F(CodecInterop, HfsutilsReadsOursAndWeReadItsBinHexAndMacBinary)
{
    VERRIN_REQUIRE_PEER("hcopy");
    ScratchDir dir;
    std::string image = dir.file("disk.img");
    ASSERT_TRUE(makeHfsImage(dir, image, 1440, "Codecs"));
    MacFileInfo info = makeInfo("Both Forks", "APPL", "BoFo", 0x2000);
    std::vector<uint8_t> data = patternBytes(40000, 41), resource = patternBytes(3000, 42);
    ASSERT_TRUE(writeFile(dir.file("in.hqx"), encodeBinHex(info, data, resource)));
    // Our MacBinary, with a low Finder flags byte that the original layout
    // would have put at offset 74, where readers demand a zero.
    MacFileInfo flagged = makeInfo("Flagged", "APPL", "BoFo", 0x2040);
    ASSERT_TRUE(writeFile(dir.file("in.bin"), encodeMacBinary(flagged, data, resource)));

    ASSERT_EQ(runPeer(dir, {"hmount", image}).exitCode, 0);
    CommandResult in = runPeer(dir, {"hcopy", "-b", dir.file("in.hqx"), ":"});
    ASSERT_EQ(in.exitCode, 0) << in.err;
    in = runPeer(dir, {"hcopy", "-m", dir.file("in.bin"), ":"});
    ASSERT_EQ(in.exitCode, 0) << in.err;
    ASSERT_EQ(runPeer(dir, {"hcopy", "-m", ":Flagged", dir.file("flagged.bin")}).exitCode, 0);
    std::string back;
    ASSERT_TRUE(readFile(dir.file("flagged.bin"), back));
    const Decoded again = decodeMacBinary(back);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.resource, resource);
    ASSERT_EQ(runPeer(dir, {"hcopy", "-b", ":Both Forks", dir.file("out.hqx")}).exitCode, 0);
    ASSERT_EQ(runPeer(dir, {"hcopy", "-m", ":Both Forks", dir.file("out.bin")}).exitCode, 0);
    runPeer(dir, {"humount"});

    std::string text, mac;
    ASSERT_TRUE(readFile(dir.file("out.hqx"), text));
    ASSERT_TRUE(readFile(dir.file("out.bin"), mac));
    for (const Decoded& d : {decodeBinHex(text), decodeMacBinary(mac)}) {
        ASSERT_TRUE(d.ok) << errorText(lastError);
        EXPECT_EQ(d.info.name, info.name);
        EXPECT_EQ(0, std::memcmp(d.info.finderInfo.data(), info.finderInfo.data(), 10));
        EXPECT_EQ(d.data, data);
        EXPECT_EQ(d.resource, resource);
    }
}

TEST_F(CodecInterop, MacsaveReadsOurMacBinary)
{
    VERRIN_REQUIRE_PEER("macsave");
    ScratchDir dir;
    MacFileInfo info = makeInfo("Saved File", "TEXT", "ttxt", peerFlags);
    info.created = 0xB0000000;
    info.modified = 0xB0001000;
    const size_t sizes[][2] = {{0, 0}, {0, 300}, {128, 0}, {128, 128}, {129, 1}, {5000, 70000}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(s[0]);
        std::vector<uint8_t> data = patternBytes(s[0], 51), resource = patternBytes(s[1], 52);
        std::string bytes = encodeMacBinary(info, data, resource);
        ASSERT_TRUE(writeFile(dir.file("t.bin"), bytes));
        std::remove(dir.file("Saved_File.data").c_str());
        CommandOptions here;
        here.workingDir = dir.path;
        CommandResult r = runCommand({"sh", "-c", "macsave -3 < t.bin"}, here);
        ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
        EXPECT_EQ(fileBytes(dir.file("Saved_File.data")), data);
        EXPECT_EQ(fileBytes(dir.file("Saved_File.rsrc")), resource);
        std::vector<uint8_t> header = fileBytes(dir.file("Saved_File.info"));
        expectMacBinaryInfo(header, info);
        EXPECT_EQ(read32(&header[91]), info.created);
        EXPECT_EQ(read32(&header[95]), info.modified);
    }
}
