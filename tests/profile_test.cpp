// The initialisation-file reader and writer: Windows profile semantics on
// every platform, and writes that keep every other line of the user's file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/profile.h"
#include "support/peers.h"

using namespace verrin;
using testsupport::readFile;
using testsupport::ScratchDir;
using testsupport::writeFile;

TEST(ProfileFile, LookupRules)
{
    ScratchDir dir;
    const std::string ini = dir.file("a.ini");
    ASSERT_TRUE(writeFile(ini, "orphan=1\r\n"
                               "[Main Prefs]\r\n"
                               "  SavePrefs  =   YES  \r\n"
                               "savePREFS=NO\r\n"
                               "Quoted=\"  x  \"\r\n"
                               "Empty=\r\n"
                               "; comment line\r\n"
                               "Long=abcdefghijklmnop\r\n"
                               "[Other]\r\n"
                               "Only=other\r\n"
                               "[main prefs]\r\n"
                               "Later=second section\r\n"
                               "[Last]\n"
                               "NoNewline=z"));
    auto read = [&](const char* s, const char* k) { return profile::readString(ini, s, k, "DEF", 255); };
    EXPECT_EQ(read("MAIN PREFS", "saveprefs"), "YES");  // case-insensitive, first key wins, blanks trimmed
    EXPECT_EQ(read("Main Prefs", "Quoted"), "  x  ");   // matching quotes go, as in the system call
    EXPECT_EQ(read("Main Prefs", "Empty"), "");         // present but empty is not the default
    EXPECT_EQ(read("Main Prefs", "Only"), "DEF");       // keys do not leak from the next section
    EXPECT_EQ(read("Main Prefs", "Later"), "DEF");      // only the first section of a name counts
    EXPECT_EQ(read("Main Prefs", "orphan"), "DEF");     // keys before any section belong nowhere
    EXPECT_EQ(read("Last", "NoNewline"), "z");
    EXPECT_EQ(read("Missing", "x"), "DEF");
    EXPECT_EQ(profile::readString(ini, "Main Prefs", "Long", "", 5), "abcde");
    EXPECT_EQ(profile::readString(ini, "Main Prefs", "Absent", "default-long", 7), "default");
    EXPECT_EQ(profile::readString(dir.file("none.ini"), "Main Prefs", "SavePrefs", "d", 9), "d");
    EXPECT_TRUE(profile::hasKey(ini, "main prefs", "empty"));
    EXPECT_FALSE(profile::hasKey(ini, "main prefs", "comment line"));
}

// The reader keeps the files it parsed: every change to one, by hand or by
// the writer, and a read of another file in between, must still be seen.
TEST(ProfileFile, ReadsSeeEveryChange)
{
    ScratchDir dir;
    const std::string ftm = dir.file("map.ftm"), other = dir.file("other.ini");
    auto read = [&](const std::string& path) { return profile::readString(path, "S", "k", "DEF", 255); };
    ASSERT_TRUE(writeFile(ftm, "[S]\nk=one\n"));
    ASSERT_TRUE(writeFile(other, "[S]\nk=other\n"));
    EXPECT_EQ(read(ftm), "one");
    ASSERT_TRUE(writeFile(ftm, "[S]\nk=three\n"));  // edited by hand
    EXPECT_EQ(read(ftm), "three");
    EXPECT_EQ(read(other), "other");
    ASSERT_TRUE(profile::writeString(ftm, "S", "k", "four!"));  // same length as before
    EXPECT_EQ(read(ftm), "four!");
    // Inside a read batch the file is checked at its first read only: a
    // hand edit waits for the next batch, the writer's changes do not.
    {
        const profile::ReadBatch reads;
        EXPECT_EQ(read(ftm), "four!");
        ASSERT_TRUE(writeFile(ftm, "[S]\nk=by hand\n"));
        EXPECT_EQ(read(other), "other");
        EXPECT_EQ(read(ftm), "four!");
        ASSERT_TRUE(profile::writeString(ftm, "S", "k", "written"));
        EXPECT_EQ(read(ftm), "written");
        ASSERT_TRUE(writeFile(ftm, "[S]\nk=by hand again\n"));
    }
    {
        const profile::ReadBatch reads;
        EXPECT_EQ(read(ftm), "by hand again");
        std::filesystem::remove(ftm);
    }
    EXPECT_EQ(read(ftm), "DEF");
}

TEST(ProfileFile, ReadInt)
{
    ScratchDir dir;
    const std::string ini = dir.file("a.ini");
    ASSERT_TRUE(writeFile(ini, "[S]\nA=255\nB=0x1F\nC=-3\nD=abc\nE=\nF=12abc\nG=0b101\n"));
    EXPECT_EQ(profile::readInt(ini, "S", "A", 7), 255);
    EXPECT_EQ(profile::readInt(ini, "S", "B", 7), 31);
    EXPECT_EQ(profile::readInt(ini, "S", "C", 7), -3);
    EXPECT_EQ(profile::readInt(ini, "S", "D", 7), 0);
    EXPECT_EQ(profile::readInt(ini, "S", "E", 7), 7);
    EXPECT_EQ(profile::readInt(ini, "S", "F", 7), 12);
    EXPECT_EQ(profile::readInt(ini, "S", "G", 7), 5);
    EXPECT_EQ(profile::readInt(ini, "S", "Missing", 7), 7);
}

TEST(ProfileFile, WritingKeepsEveryOtherLine)
{
    ScratchDir dir;
    const std::string ini = dir.file("kvol.ini");
    const std::string original = "; my settings\r\n"
                                 "[Main Prefs]\r\n"
                                 "SavePrefs = NO   ; trailing note\r\n"
                                 "Unknown=keep me\r\n"
                                 "\r\n"
                                 "[Disk Prefs]\r\n"
                                 "AddASPI=win\r\n"
                                 "\r\n"
                                 "[Mine]\r\n"
                                 "x=1\r\n";
    ASSERT_TRUE(writeFile(ini, original));

    // An existing key: only the text after "=" changes.
    ASSERT_TRUE(profile::writeString(ini, "main prefs", "saveprefs", "YES"));
    // A new key: after the last line of its section, before the blank line.
    ASSERT_TRUE(profile::writeString(ini, "Main Prefs", "CopyPrefs", "NO"));
    // A new section: at the end of the file.
    ASSERT_TRUE(profile::writeString(ini, "Misc Prefs", "KeepDate", "YES"));
    // A value with a line break cannot split the line.
    ASSERT_TRUE(profile::writeString(ini, "Mine", "x", "2\r\n[Evil]\r\ny=3"));

    std::string now;
    ASSERT_TRUE(readFile(ini, now));
    EXPECT_EQ(now, "; my settings\r\n"
                   "[Main Prefs]\r\n"
                   "SavePrefs = YES\r\n"
                   "Unknown=keep me\r\n"
                   "CopyPrefs=NO\r\n"
                   "\r\n"
                   "[Disk Prefs]\r\n"
                   "AddASPI=win\r\n"
                   "\r\n"
                   "[Mine]\r\n"
                   "x=2\r\n"
                   "\r\n"
                   "[Misc Prefs]\r\n"
                   "KeepDate=YES\r\n");
    EXPECT_EQ(profile::readString(ini, "Main Prefs", "SavePrefs", "", 9), "YES");
    EXPECT_FALSE(testsupport::fileExists(ini + ".new"));
}

TEST(ProfileFile, WritingNewFilesAndOddEndings)
{
    ScratchDir dir;
    // A missing file is created.
    const std::string fresh = dir.file("fresh.ini");
    ASSERT_TRUE(profile::writeString(fresh, "Main Prefs", "SavePrefs", "NO"));
    std::string text;
    ASSERT_TRUE(readFile(fresh, text));
    EXPECT_EQ(text, "[Main Prefs]\r\nSavePrefs=NO\r\n");

    // LF files stay LF; a last line without an ending gets one before the
    // new key.
    const std::string lf = dir.file("lf.ini");
    ASSERT_TRUE(writeFile(lf, "[A]\nk=1"));
    ASSERT_TRUE(profile::writeString(lf, "a", "j", "2"));
    ASSERT_TRUE(readFile(lf, text));
    EXPECT_EQ(text, "[A]\nk=1\nj=2\n");

    // Several keys in one replacement, applied in order.
    const std::vector<profile::Entry> batch = {{"A", "k", "3"}, {"B", "m", "4"}, {"a", "K", "5"}};
    ASSERT_TRUE(profile::writeStrings(lf, batch));
    ASSERT_TRUE(readFile(lf, text));
    EXPECT_EQ(text, "[A]\nk=5\nj=2\n\n[B]\nm=4\n");

    // A file that cannot be written is reported and the old one kept.
    EXPECT_FALSE(profile::writeString(dir.file("no/such/dir/x.ini"), "A", "k", "v"));
    // Something there that cannot be read is not replaced by a new file.
    std::filesystem::create_directory(dir.file("adir.ini"));
    EXPECT_FALSE(profile::writeString(dir.file("adir.ini"), "A", "k", "v"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("adir.ini")));
}
