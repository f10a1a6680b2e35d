// The file type map: precedence of type-and-creator over type-only entries,
// defaults, and how PC extensions give type and creator bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/peers.h"
#include "transfer/typemap.h"

using namespace verrin;
using testsupport::ScratchDir;
using testsupport::writeFile;

namespace {

const uint8_t* code(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

}  // namespace

TEST(TypeMap, MacLookupPrecedence)
{
    ScratchDir dir;
    const std::string both = dir.file("both.ftm");
    ASSERT_TRUE(writeFile(both, "[Mac Type Map]\r\nTEXTttxt=doc\r\nTEXT=asc\r\nPICT=pictures\r\n"));
    const std::string typeOnly = dir.file("type.ftm");
    ASSERT_TRUE(writeFile(typeOnly, "[mac type map]\r\ntext = asc\r\n"));
    const std::string sameAsDefault = dir.file("same.ftm");
    ASSERT_TRUE(writeFile(sameAsDefault, "[Mac Type Map]\r\nTEXT=asc\r\nTEXTttxt=txt\r\nGIFfttxt=TXT\r\n"));

    EXPECT_EQ(lookupMacTypeMap(both, code("TEXT"), code("ttxt"), "txt"), "doc");
    EXPECT_EQ(lookupMacTypeMap(both, code("TEXT"), code("R*ch"), "txt"), "asc");
    EXPECT_EQ(lookupMacTypeMap(both, code("PICT"), code("8BIM"), "txt"), "pictu");  // cut to 5
    EXPECT_EQ(lookupMacTypeMap(typeOnly, code("TEXT"), code("ttxt"), "txt"), "asc");
    EXPECT_EQ(lookupMacTypeMap(typeOnly, code("APPL"), code("ttxt"), "txt"), "txt");
    // A type-and-creator entry equal to the default falls through...
    EXPECT_EQ(lookupMacTypeMap(sameAsDefault, code("TEXT"), code("ttxt"), "txt"), "asc");
    // ...but the comparison is exact, so a different case is an answer.
    EXPECT_EQ(lookupMacTypeMap(sameAsDefault, code("GIFf"), code("ttxt"), "txt"), "TXT");
    EXPECT_EQ(lookupMacTypeMap(dir.file("missing.ftm"), code("TEXT"), code("ttxt"), "bin"), "bin");
}

TEST(TypeMap, MacCodesAreWrittenInPcCharacters)
{
    ScratchDir dir;
    const std::string ftm = dir.file("k.ftm");
    // Mac 0x8E (e acute) is written as ANSI 0xE9; a Mac NUL as 0x02.
    ASSERT_TRUE(writeFile(ftm, "[Mac Type Map]\r\nCaf\xE9\x02\x02\x02\x02=caf\r\n"));
    const uint8_t type[4] = {'C', 'a', 'f', 0x8E};
    const uint8_t creator[4] = {0, 0, 0, 0};
    EXPECT_EQ(lookupMacTypeMap(ftm, type, creator, ""), "caf");
}

TEST(TypeMap, PcLookup)
{
    ScratchDir dir;
    const std::string ftm = dir.file("k.ftm");
    ASSERT_TRUE(writeFile(ftm, "[PC Type Map]\r\n"
                               "=EMPTKEY1\r\n"
                               "txt=TEXTttxt\r\n"
                               "gz=Gzip\r\n"
                               "jpeg=JPEGogle+more\r\n"
                               "caf=Caf\xE9R*ch\r\n"));
    uint8_t tc[8];
    auto run = [&](const char* name) {
        std::memset(tc, 0, sizeof tc);
        return lookupPcTypeMap(ftm, name, "TXT ", "ttx ", tc);
    };
    auto is = [&](const char* expected) { return std::memcmp(tc, expected, 8) == 0; };

    EXPECT_FALSE(run("README"));  // no dot: untouched, even with an empty-key entry
    EXPECT_TRUE(is("\0\0\0\0\0\0\0\0"));
    EXPECT_TRUE(run("README."));  // a dot and nothing after it: the empty key
    EXPECT_TRUE(is("EMPTKEY1"));
    EXPECT_TRUE(run("notes.TXT"));  // keys match regardless of case
    EXPECT_TRUE(is("TEXTttxt"));
    EXPECT_TRUE(run("backup.tar.gz"));  // only the text after the last dot
    EXPECT_TRUE(is("Gzip\0\0\0\0"));    // four characters leave the creator as it was
    EXPECT_TRUE(run("photo.jpeg"));
    EXPECT_TRUE(is("JPEGogle"));  // cut to 8
    EXPECT_TRUE(run("x.caf"));
    EXPECT_TRUE(is("Caf\x8ER*ch"));  // back to Mac Roman
    EXPECT_TRUE(run("x.unknown"));
    EXPECT_TRUE(is("TXT ttx "));  // the default, trailing spaces included

    // A missing map behaves like an empty one.
    std::memset(tc, 0, sizeof tc);
    EXPECT_TRUE(lookupPcTypeMap(dir.file("none.ftm"), "a.txt", "BINA", "hDmp", tc));
    EXPECT_TRUE(is("BINAhDmp"));
}
