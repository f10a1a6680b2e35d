// Name mapping: the character tables, Mac <-> PC name conversion, PC file
// name repair with extensions, automatic rename candidates and the typing
// filter of PC name fields.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "base/macroman.h"
#include "transfer/names.h"

using namespace verrin;

namespace {

// Windows-1252 0x80..0x9F as Unicode (0 where the code page has no
// character); 0xA0..0xFF are Latin-1 and equal their Unicode values.
constexpr uint32_t cp1252Low[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint32_t cp1252ToUnicode(uint8_t b) { return b < 0xA0 ? cp1252Low[b - 0x80] : b; }

uint32_t macRomanToUnicode(uint8_t b)
{
    const std::string s = macRomanToUtf8(&b, 1);
    const auto* u = reinterpret_cast<const unsigned char*>(s.data());
    if (s.size() == 2) return (u[0] & 0x1Fu) << 6 | (u[1] & 0x3Fu);
    if (s.size() == 3) return (u[0] & 0x0Fu) << 12 | (u[1] & 0x3Fu) << 6 | (u[2] & 0x3Fu);
    return u[0];
}

std::string pcName(std::string_view text, std::string_view ext, bool allowUpper = false)
{
    return makePcFileName(text, ext, allowUpper);
}

}  // namespace

// The table must pair every character the two sets share with itself, stay
// a bijection, and carry every Mac name through a round trip.
TEST(NameMapping, TablesPairSharedCharactersAndInvert)
{
    int shared = 0;
    std::set<uint8_t> targets;
    for (int m = 0x80; m <= 0xFF; ++m) {
        const uint8_t pc = macToPcChars[m - 0x80];
        targets.insert(pc);
        EXPECT_EQ(pcToMacChars[pc - 0x80], m);
        // 0xDB is the currency sign in the character set these names use
        // (later Mac systems put the euro there).
        const uint32_t u = m == 0xDB ? 0x00A4 : macRomanToUnicode(static_cast<uint8_t>(m));
        // Where the ANSI set holds the same character, the table must use it.
        for (int a = 0x80; a <= 0xFF; ++a)
            if (cp1252ToUnicode(static_cast<uint8_t>(a)) == u) {
                EXPECT_EQ(pc, a) << "Mac byte " << std::hex << m;
                ++shared;
            }
    }
    EXPECT_EQ(targets.size(), 128u);
    EXPECT_GE(shared, 102);
    EXPECT_EQ(macCharToPc(0x80), 0xC4);
    EXPECT_EQ(macCharToPc(0xA5), 0x95);
    EXPECT_EQ(macCharToPc(0x00), 0x02);
    EXPECT_EQ(pcCharToMac(0x02), 0x00);
    EXPECT_EQ(macCharToPc('A'), 'A');
}

TEST(NameMapping, EveryMacByteSurvivesARoundTrip)
{
    for (int b = 0; b < 256; ++b) {
        uint8_t mac[32] = {3, 'a', static_cast<uint8_t>(b), 'z'};
        char pc[33];
        macNameToPc(pc, mac, true);
        EXPECT_EQ(std::strlen(pc), 3u) << b;  // a Mac NUL never ends the PC text
        uint8_t back[32];
        ASSERT_EQ(pcNameToMac(back, pc), 3);
        // 0x02 comes back as 0x00: the PC side uses it to carry a Mac NUL.
        EXPECT_EQ(back[2], b == 0x02 ? 0x00 : b) << b;
        EXPECT_EQ(back[1], 'a');
        EXPECT_EQ(back[3], 'z');
    }
}

TEST(NameMapping, InPlaceConversionAndLengthLimit)
{
    // Mac to PC in the name's own buffer: the length byte is overwritten.
    uint8_t buf[40] = {5, 'R', 0x8E, 's', 'u', 'm'};
    macNameToPc(reinterpret_cast<char*>(buf), buf, true);
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "R\xE9sum");

    // PC to Mac in place, copying from the end.
    char text[64] = "Caf\xE9 au lait";
    auto* out = reinterpret_cast<uint8_t*>(text);
    EXPECT_EQ(pcNameToMac(out, text), 12);
    EXPECT_EQ(out[0], 12);
    EXPECT_EQ(out[4], 0x8E);
    EXPECT_EQ(std::memcmp(out + 5, " au lait", 8), 0);

    // A 40-character PC name is cut to its first 31.
    uint8_t mac[32];
    EXPECT_EQ(pcNameToMac(mac, (std::string(31, 'a') + std::string(9, 'b')).c_str()), 31);
    EXPECT_EQ(macNameToPc(mac), std::string(31, 'a'));
    // A damaged length byte never reads or writes past 31 characters.
    uint8_t damaged[33] = {200};
    std::memset(damaged + 1, 'd', 32);
    char shown[33];
    macNameToPc(shown, damaged, true);
    EXPECT_EQ(std::strlen(shown), 31u);
}

TEST(NameMapping, MakePcFileNameRepairsCharacters)
{
    EXPECT_EQ(pcName("   ", ""), "!!!");
    EXPECT_EQ(pcName("  a b ", ""), "!!a b ");  // only leading spaces change
    EXPECT_EQ(pcName("R\xE9sum\xE9", ""), "R_sum_");
    EXPECT_EQ(pcName("R\xE9sum\xE9", "", true), "R\xE9sum\xE9");
    EXPECT_EQ(pcName("a/b\\c:d*e?f\"g<h>i|j", ""), "a_b_c_d_e_f_g_h_i_j");
    EXPECT_EQ(pcName("x\x02y\x01z", "", true), "x_y_z");  // control bytes and the Mac NUL
    EXPECT_EQ(pcName("$%'-_@~`!(){}^#&.+,;=[]", ""), "$%'-_@~`!(){}^#&.+,;=[]");
    EXPECT_EQ(pcName("", "txt"), "");  // empty: nothing at all, no extension
}

TEST(NameMapping, MakePcFileNameExtensions)
{
    EXPECT_EQ(pcName("Report", "txt"), "Report.txt");
    EXPECT_EQ(pcName("notes.TXT", "txt"), "notes.TXT");
    EXPECT_EQ(pcName("a.text", "txt"), "a.text.txt");
    EXPECT_EQ(pcName("x.txt", "txt"), "x.txt");
    EXPECT_EQ(pcName("x.toolong", "txt"), "x.toolong.txt");
    EXPECT_EQ(pcName("x.txtab", "txt"), "x.txtab");  // dot and five more still match
    EXPECT_EQ(pcName("archive.tar.gz", "hqx"), "archive.tar.gz.hqx");
    EXPECT_EQ(pcName("prog.cpp", "c"), "prog.cpp.c");  // a shorter string ends the comparison
    EXPECT_EQ(pcName("prog.c", "cpp"), "prog.c.cpp");
    EXPECT_EQ(pcName("Folder", ""), "Folder");
    // An extension from the hand-edited map never brings a path separator.
    EXPECT_EQ(pcName("a", "..\\x"), "a..._x");

    // Device names would open the device instead of a file.
    EXPECT_EQ(pcName("CON", ""), "CON_");
    EXPECT_EQ(pcName("nul", "txt"), "nul_.txt");
    EXPECT_EQ(pcName("Com1.txt", "txt"), "Com1_.txt");
    EXPECT_EQ(pcName("CONSOLE", ""), "CONSOLE");

    // The in-place form refuses an extension that does not fit.
    char small[8] = "Report";
    EXPECT_FALSE(makePcFileName(small, sizeof small, "txt", false));
    EXPECT_STREQ(small, "Report");
    char room[12] = " Report";
    EXPECT_TRUE(makePcFileName(room, sizeof room, "txt", false));
    EXPECT_STREQ(room, "!Report.txt");
}

TEST(NameMapping, AutoRenameCandidates)
{
    auto c = autoRenameCandidates("REPORT.TXT");
    ASSERT_EQ(c.size(), 36u);
    EXPECT_EQ(c[0], "REPORT0.TXT");
    EXPECT_EQ(c[9], "REPORT9.TXT");
    EXPECT_EQ(c[10], "REPORTA.TXT");
    EXPECT_EQ(c[35], "REPORTZ.TXT");
    EXPECT_EQ(std::set<std::string>(c.begin(), c.end()).size(), 36u);

    c = autoRenameCandidates("Quarterly figures.xls");
    EXPECT_EQ(c[0], "Quarterly figure0.xls");
    EXPECT_EQ(c[35], "Quarterly figureZ.xls");

    c = autoRenameCandidates("photo.jpeg2");  // a suffix of 6 is no suffix
    EXPECT_EQ(c[1], "photo.jpeg1");
    c = autoRenameCandidates("page.html");  // dot and four: a suffix
    EXPECT_EQ(c[2], "page2.html");
    c = autoRenameCandidates("abcdefgh");  // eight: the last character goes
    EXPECT_EQ(c[3], "abcdefg3");
    c = autoRenameCandidates(".cfg");
    EXPECT_EQ(c[0], "0.cfg");
}

TEST(NameMapping, EditFilterCharacterRule)
{
    for (uint32_t ch = 0; ch < 0x20; ++ch) EXPECT_TRUE(pcNameEditAccepts(ch, false)) << ch;
    for (char ch : std::string(" !#$%&'()+,-.=@[]^_{}~`azAZ09")) EXPECT_TRUE(pcNameEditAccepts(static_cast<uint8_t>(ch), false)) << ch;
    for (char ch : std::string("\"*/:;<>?\\|\x7F")) EXPECT_FALSE(pcNameEditAccepts(static_cast<uint8_t>(ch), true)) << ch;
    EXPECT_FALSE(pcNameEditAccepts(0xE9, false));
    EXPECT_TRUE(pcNameEditAccepts(0xE9, true));
    // Every printable ASCII character: exactly 23 punctuation marks and the
    // 62 letters and digits pass.
    int passed = 0;
    for (uint32_t ch = 0x20; ch < 0x80; ++ch) passed += pcNameEditAccepts(ch, false);
    EXPECT_EQ(passed, 62 + 23);
}
