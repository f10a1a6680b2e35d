// The shared corpus of real BinHex and MacBinary files decodes to the
// names, types, creators, flags and forks that independent readers
// (Convert::BinHex, macsave) recorded; the broken ones give their error.
// Fork contents are compared by 64-bit FNV-1a hashes of the peers' output.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/errors.h"
#include "hfs/hfs.h"
#include "support/codecs.h"
#include "support/peers.h"
#include "transfer/macbinary.h"

using namespace verrin;
using namespace verrin::codectest;
using namespace verrin::testsupport;

namespace {

struct CorpusFile {
    const char* path;
    const char* name;
    const char* type;
    const char* creator;
    uint16_t flags;
    uint32_t dataLength;
    uint32_t resourceLength;
    uint64_t dataHash;
    uint64_t resourceHash;
};

struct BinHexCorpusFile : CorpusFile {
    bool broken;
};

struct MacBinaryCorpusFile : CorpusFile {
    int version;  // 0: not MacBinary at all
    uint32_t created;
    uint32_t modified;
};

const BinHexCorpusFile binHexFiles[] = {
{"hqx/nethack__NHrsrc.hqx", "NetHack.rsrc", "RSRC", "RSED", 0x0100, 0, 53732, 0xcbf29ce484222325ull, 0x4c00451dba4d6ffeull, false},
    {"hqx/nethack__machelp.hqx", "machelp.bh", "TEXT", "CWIE", 0x0108, 2651, 428, 0x0e4d96cf712d557aull, 0x189d4f0ff88f9062ull, false},
    {"hqx/nethack__mrecover.hqx", "mrecover.rsrc", "rsrc", "RSED", 0x0000, 0, 3167, 0xcbf29ce484222325ull, 0x2a8330e48770ebb5ull, false},
    {"hqx/minivmac__main.r.hqx", "main.r", "rsrc", "RSED", 0x0100, 0, 8220, 0xcbf29ce484222325ull, 0x2787b3aa2a28e6d9ull, false},
    {"hqx/apprentice94__gdiff_mac_fake_include.hqx", "fake _include.sit", "SIT!", "SIT!", 0x0000, 1977, 0, 0x69390aa5c8c4d8b5ull, 0xcbf29ce484222325ull, false},
    {"hqx/executor__MacHack_96.msw.hqx", "MacHack_96.msw", "WDBN", "MSWD", 0x0000, 88576, 0, 0x7c09eab4030ae011ull, 0xcbf29ce484222325ull, false},
    {"hqx/libxml2__libxml2.mcp.xml.sit.hqx", "libxml2.mcp.xml.sit", "SIT5", "SIT!", 0x0000, 12661, 0, 0xd6e7adcb52c7eeffull, 0xcbf29ce484222325ull, false},
    {"hqx/vim__os_mac.rsr.hqx", "gui_mac.rsrc", "RSRC", "RSED", 0x0100, 0, 31402, 0xcbf29ce484222325ull, 0xb2253a1e8a48228eull, false},
    {"hqx/tk__tkMacProjects.sit.hqx", "Archive.sit", "SITD", "SIT!", 0x0000, 38257, 0, 0x4494c80020de1f9aull, 0xcbf29ce484222325ull, false},
    {"hqx/tk__tkMacProjects.sea.hqx", "Archive.sea", "APPL", "aust", 0x2000, 41549, 23028, 0xa524c9ca13e399bcull, 0x63a60ae166fda977ull, false},
    {"hqx/tk__tkMacProjects.sea_CORRUPT-cvs-keyword.hqx", "Archive.sea", "APPL", "aust", 0x2000, 34993, 23028, 0x0000000000000000ull, 0x0000000000000000ull, true},
    {"hqx/stuffit-test__testfile.stuffit45_dlx.mac9.sit.hqx", "sources.sit", "SITD", "SIT!", 0x0000, 2804, 0, 0x5ecf68f8c8c977e9ull, 0xcbf29ce484222325ull, false},
    {"hqx/stuffit-test__testfile.stuffit45_dlx.mac9.comment.sit.hqx", "sources_with_comment.sit", "SITD", "SIT!", 0x0000, 2804, 368, 0x5ecf68f8c8c977e9ull, 0xde298a30464ed4e1ull, false},
    {"hqx/stuffit-test__testfile.stuffit651_dlx.mac9.sit.hqx", "sources.sit", "SIT5", "SIT!", 0x0100, 2776, 358, 0x3547d76f53e33552ull, 0xa568ac40e2abd7e7ull, false},
    {"hqx/stuffit-test__testfile.stuffit7_dlx.mac9.sit.hqx", "sources.sit", "SIT5", "SIT!", 0x0000, 2514, 0, 0x1a43118c679d4da1ull, 0xcbf29ce484222325ull, false},
    {"hqx/stuffit-test__testfile.stuffit7_dlx.mac9.recoverability.sitx.hqx", "sources.recoverability.sitx", "SITX", "SIT!", 0x0000, 263691, 0, 0x1f3b3f2791893751ull, 0xcbf29ce484222325ull, false},
    {"hqx/diskdoubler-test__sources.dd377.ad.dd.hqx", "sources.dd377.ad.dd", "DDAR", "DDAP", 0x0100, 16848, 0, 0x36b2ef9600a7f7d9ull, 0xcbf29ce484222325ull, false},
    {"hqx/diskdoubler-test__sources.ddpro411.ad1.dd.hqx", "sources.ddpro11.ad1.dd", "DDA2", "DDAP", 0x0100, 15918, 342, 0xafc9bc5d2c80174full, 0x696b1bd295796281ull, false},
    {"hqx/convert-binhex__hands_m.eps.hqx", "Hands_m.eps", "EPSF", "ART5", 0x0000, 49731, 23096, 0x5f132fcd6a773aefull, 0xbc3ec3b66b575559ull, false},
    {"hqx/macperl-cvs__Icon.hqx", "", "icon", "MACS", 0x4000, 0, 486, 0xcbf29ce484222325ull, 0x84798c4bc99cb661ull, false},
    {"hqx/macperl-cvs__README.hqx", "", "ttro", "ttxt", 0x0000, 6489, 1992, 0xf35b7ed3af2ff5b8ull, 0xa1105296dbc9f4d3ull, false},
    {"hqx/macperl-cvs__Scream.rsrc.hqx", "", "rsrc", "RSED", 0x0000, 0, 24945, 0xcbf29ce484222325ull, 0x9288bb163db55feaull, false},
    {"hqx/gryphel__binhex-40.hqx", "binhex.sit", "SIT!", "SIT!", 0x0000, 6147, 0, 0xd8d005e643d3cae1ull, 0xcbf29ce484222325ull, false},
    {"hqx/gryphel__FIT2EPS_1.0.1.hqx", "FIT2EPS 1.01.cpt", "PACT", "CPCT", 0x0000, 10240, 0, 0x86fb45f22d15c176ull, 0xcbf29ce484222325ull, false},
    {"hqx/gryphel__halma-12.hqx", "Halma 1.2.cpt", "PACT", "CPCT", 0x0100, 78408, 0, 0x211a53520d7c98bdull, 0xcbf29ce484222325ull, false},
    {"hqx/gryphel__MacLHA_2.24.sea.hqx", "MacLHA 2.24.sea", "APPL", "aust", 0x0000, 122708, 18928, 0x5bdaa1b7faeb9329ull, 0x1e89060ca40c4fc3ull, false},
    {"hqx/gryphel__Encryptinator.hqx", "Encryptinator", "APPL", "C\250\264\267", 0x2100, 0, 21746, 0xcbf29ce484222325ull, 0xf5c2401eb5942271ull, false},
    {"hqx/gryphel__unpit0.1.hqx", "Unpit", "APPL", "UPIT", 0x2000, 0, 16514, 0xcbf29ce484222325ull, 0x4b904590e497d6cdull, false},
    {"hqx/gryphel__stopwatch1.2.cpt.hqx", "StopWatch12.cpt", "PACT", "CPCT", 0x0000, 16489, 0, 0xbc56400d3abbd965ull, 0xcbf29ce484222325ull, false},
    {"hqx/gryphel__HappyPlusClock_v0.86.sit.hqx", "HappyPlusClock_v0.86.sit", "SITD", "SIT!", 0x0100, 47241, 326, 0x52b26ebee7a591d5ull, 0x79e6fc866d814ce2ull, false},
    {"hqx/gryphel__twisted-16.hqx", "Twisted 1.6.sit", "SITD", "SIT!", 0x0000, 1137737, 378, 0xba13139edb63dddfull, 0x041100ebf2809b49ull, false},
};

const MacBinaryCorpusFile macBinaryFiles[] = {
    {"macbinary/wezm__Text_File_I.Bin", "Text File", "TEXT", "R*ch", 0x0100, 21, 1454, 0x51f9a5f2aaea389full, 0x93b6bf97a284864bull, 1, 3762345192u, 3762347785u},
    {"macbinary/wezm__Text_File_II.bin", "Text File", "TEXT", "R*ch", 0x0100, 21, 1454, 0x51f9a5f2aaea389full, 0x93b6bf97a284864bull, 2, 3762345192u, 3762347785u},
    {"macbinary/wezm__Text_File_III.bin", "Text File", "TEXT", "R*ch", 0x0100, 21, 1454, 0x51f9a5f2aaea389full, 0x7d378b7501dbb5fdull, 3, 3762345192u, 3762345192u},
    {"macbinary/wezm__Date_Test.bin", "Date Test", "TEXT", "MPS ", 0x0100, 34, 0, 0x7f3cc2fc0ec0ce06ull, 0xcbf29ce484222325ull, 3, 3762669652u, 3762669652u},
    {"macbinary/wezm__No_resource_fork.txt.bin", "No resource fork.txt", "TEXT", "ttxt", 0x0100, 17, 0, 0x8b7f3042e090d34cull, 0xcbf29ce484222325ull, 3, 0u, 3762484923u},
    {"macbinary/libmacbinary__fbapp.bin", "Exercise 4.6 App", "APPL", "\077\077\077\077", 0x0100, 0, 40102, 0xcbf29ce484222325ull, 0x48ef62d360c7f574ull, 2, 3710852489u, 3710852489u},
    {"macbinary/stuffit-test__testfile.stuffit45_dlx.mac9.sit.bin", "sources.sit", "SITD", "SIT!", 0x0100, 2804, 460, 0x5ecf68f8c8c977e9ull, 0x228f0ec00a89b09bull, 1, 3758588345u, 3758588621u},
    {"macbinary/stuffit-test__testfile.stuffit651_dlx.mac9.sit.bin", "sources.sit", "SIT5", "SIT!", 0x0100, 2776, 358, 0x3547d76f53e33552ull, 0xa568ac40e2abd7e7ull, 3, 3758592746u, 3758592752u},
    {"macbinary/stuffit-test__testfile.stuffit651_dlx.macx1.sit.bin", "sources.sit", "SIT5", "SIT!", 0x0000, 2776, 310, 0x8215bf53db2a5cb4ull, 0x329517d9a1c1e8a6ull, 3, 3758893620u, 3758893649u},
    {"macbinary/stuffit-test__testfile.stuffit7_dlx.mac9.sitx.bin", "sources.sitx", "SITX", "SIT!", 0x0100, 2074, 0, 0x2c0661aad560c163ull, 0xcbf29ce484222325ull, 3, 3758613433u, 3758613437u},
    {"macbinary/sdl12__MPWmake.sea.bin", "MPWmake.sea", "APPL", "aust", 0x2100, 11110, 18302, 0x4e572f1d5ef6cc17ull, 0x8ea9c617b502ad2aull, 2, 3068479402u, 3068479430u},
    {"macbinary/sdl12__CWprojects.sea_TRAILING-URL.bin", "CWprojects.sea", "APPL", "aust", 0x2100, 136511, 103349, 0x4eacbe4137ba7beeull, 0x613b7d7c32dfeb39ull, 2, 3065558027u, 3065558027u},
    {"macbinary/gryphel__missile-23.bin", "Missile 2.3", "APPL", "RJUN", 0x2100, 0, 8719, 0xcbf29ce484222325ull, 0x5e64b8a014948f43ull, 1, 2779982175u, 3126034130u},
    {"macbinary/gryphel__binhex_2.0.bin", "BinHex 2.0", "APPL", "BNHX", 0x2100, 0, 5589, 0xcbf29ce484222325ull, 0x591af64fca67470full, 1, 2976276069u, 2976276069u},
    {"macbinary/gryphel__disk_rejuvenator_10.bin", "Disk Rejuvenator\252.sea", "APPL", "aust", 0x2100, 13025, 18262, 0x91139da19e39638eull, 0x555479feadd8c868ull, 3, 3043327207u, 3043327208u},
    {"macbinary/gryphel__PlanetEditorDocs.bin", "Planet Editor Docs", "WORD", "MACA", 0x0100, 14722, 823, 0xd44e635308f76e87ull, 0xbfe77eec6380497eull, 2, 48288u, 2714684585u},
    {"macbinary/gryphel__Alias_Dragon_1.3.sit.bin", "Alias_Dragon_1.3.sit", "SITD", "SIT!", 0x0100, 11827, 326, 0x67617f8cafd5f233ull, 0xffb6a380d2c6d8e8ull, 2, 2911832289u, 2911832290u},
    {"macbinary/gryphel__QDvorak.sit.bin", "", "", "", 0, 0, 0, 0, 0, 0, 0, 0},
};

uint64_t fnv1a(const std::vector<uint8_t>& bytes)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes) h = (h ^ b) * 0x100000001b3ull;
    return h;
}

void expectFile(const CorpusFile& f, const Decoded& d)
{
    SCOPED_TRACE(f.path);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&d.info.name[1]), d.info.name[0]), f.name);
    EXPECT_EQ(0, std::memcmp(&d.info.finderInfo[0], f.type, 4));
    EXPECT_EQ(0, std::memcmp(&d.info.finderInfo[4], f.creator, 4));
    EXPECT_EQ(read16(&d.info.finderInfo[8]), f.flags);
    EXPECT_EQ(d.info.dataLength, f.dataLength);
    EXPECT_EQ(d.info.resourceLength, f.resourceLength);
    EXPECT_EQ(fnv1a(d.data), f.dataHash);
    EXPECT_EQ(fnv1a(d.resource), f.resourceHash);
}

struct CodecCorpus : ::testing::Test {
    void SetUp() override { lastError = errNone; }
    void TearDown() override { lastError = errNone; }
};

}  // namespace

TEST_F(CodecCorpus, BinHexFilesDecodeToTheRecordedFiles)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    for (const BinHexCorpusFile& f : binHexFiles) {
        std::string text;
        ASSERT_TRUE(readFile(corpusFile(dir, f.path), text)) << f.path;
        lastError = errNone;
        Decoded d = decodeBinHex(text);
        if (f.broken) {
            EXPECT_EQ(lastError, errDamagedFile) << f.path;
            EXPECT_FALSE(d.ok) << f.path;
            continue;
        }
        ASSERT_EQ(lastError, errNone) << f.path << ": " << errorText(lastError);
        EXPECT_TRUE(d.ok);
        expectFile(f, d);
    }
}

TEST_F(CodecCorpus, MacBinaryFilesDecodeToTheRecordedFiles)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    for (const MacBinaryCorpusFile& f : macBinaryFiles) {
        std::string bytes;
        ASSERT_TRUE(readFile(corpusFile(dir, f.path), bytes)) << f.path;
        lastError = errNone;
        std::vector<uint8_t> v = bytesOf(bytes);
        MemorySource source{v, {}};
        ByteSource in = memorySource(source);
        MacBinaryHeader header;
        bool headerOk = readMacBinaryHeader(in, v.size(), header);
        if (f.version == 0) {
            EXPECT_FALSE(headerOk) << f.path;
            EXPECT_EQ(lastError, errWrongFileType) << f.path;
            continue;
        }
        ASSERT_TRUE(headerOk) << f.path << ": " << errorText(lastError);
        EXPECT_EQ(header.version, f.version) << f.path;
        EXPECT_EQ(header.info.created, f.created) << f.path;
        EXPECT_EQ(header.info.modified, f.modified) << f.path;
        Decoded d = decodeMacBinary(bytes);
        ASSERT_TRUE(d.ok) << f.path << ": " << errorText(lastError);
        expectFile(f, d);
    }
}
