// verrin-cli get and put -m as a user sees them: each translation both
// ways against hfsutils, the collision flags, settings from --ini with the
// type map beside it, and failures that leave nothing behind.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>

#include "support/peers.h"
#include "support/timezone.h"

using namespace verrin::testsupport;

namespace {

struct CliWorld {
    ScratchDir dir;
    std::string image;
    std::string pcDir;
    std::string ini;
    CliWorld()
    {
        image = dir.file("v.img");
        pcDir = dir.file("pc");
        std::filesystem::create_directory(pcDir);
        ini = dir.file("KVOL.INI");
        writeFile(ini, "[Main Prefs]\nText File=<TEXTttxttxt>\nMacBinary=<    \?\?\?\?bin>\nBinHex (HQX)=<    \?\?\?\?hqx>\n"
                       "Resource File=<rsrcRSEDrsr>\nData File=<BINA\?\?\?\?>\n");
    }
    void hfs(const std::vector<std::string>& argv)
    {
        const CommandResult r = runPeer(dir, argv);
        ASSERT_EQ(r.exitCode, 0) << argv[0] << ": " << r.err;
    }
    CommandResult cli(std::vector<std::string> args)
    {
        args.insert(args.begin() + 1, {"--ini", ini});
        return runCli(args);
    }
    std::string pc(const std::string& name) const { return pcDir + "/" + name; }
    std::string read(const std::string& path) const
    {
        std::string s;
        EXPECT_TRUE(readFile(path, s)) << path;
        return s;
    }
};

}  // namespace

TEST(CliTransfer, GetAndPutThroughEveryTranslation)
{
    VERRIN_REQUIRE_PEER("hformat");
    CliWorld w;
    ASSERT_TRUE(makeHfsImage(w.dir, w.image, 1440, "Cli"));
    ASSERT_TRUE(writeFile(w.dir.file("body"), "one\rtwo\r"));
    w.hfs({"hcopy", "-r", w.dir.file("body"), ":Note"});
    w.hfs({"hattrib", "-t", "TEXT", "-c", "ttxt", ":Note"});

    CommandResult r = w.cli({"get", w.image, "Note", w.pcDir});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(w.read(w.pc("Note")), "one\rtwo\r");
    r = w.cli({"get", "-m", "text", w.image, "Note", w.pcDir});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(w.read(w.pc("Note.txt")), "one\r\ntwo\r\n");
    r = w.cli({"get", "-m", "macbinary", w.image, "Note", w.pcDir});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(w.read(w.pc("Note.bin")).size(), 256u);
    r = w.cli({"get", "-m", "binhex", w.image, "Note", w.pcDir});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(w.read(w.pc("Note.hqx")).rfind("(This file must be converted with BinHex 4.0)\r:", 0), 0u);

    // Back again under other names, each through its own reader.
    w.hfs({"hmkdir", ":Back"});
    std::filesystem::rename(w.pc("Note.txt"), w.pc("text.txt"));
    r = w.cli({"put", "-m", "text", w.image, "Back", w.pc("text.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = w.cli({"put", "-m", "macbinary", w.image, "Back", w.pc("Note.bin")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::filesystem::copy_file(w.pc("Note"), w.pc("fork"));
    r = w.cli({"put", "-m", "rsrc", w.image, "Back", w.pc("fork")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string listing = runPeer(w.dir, {"hls", "-l", ":Back"}).out;
    EXPECT_NE(listing.find("TEXT/ttxt"), std::string::npos) << listing;
    EXPECT_NE(listing.find("rsrc/RSED"), std::string::npos) << listing;

    ASSERT_EQ(runPeer(w.dir, {"hcopy", "-r", ":Back:text.txt", w.dir.file("t")}).exitCode, 0);
    EXPECT_EQ(w.read(w.dir.file("t")), "one\rtwo\r");
    ASSERT_EQ(runPeer(w.dir, {"hcopy", "-r", ":Back:Note", w.dir.file("n")}).exitCode, 0);
    EXPECT_EQ(w.read(w.dir.file("n")), "one\rtwo\r");  // the MacBinary copy keeps its Mac name

    // BinHex back onto the volume: the name clashes with Note in the root.
    r = w.cli({"put", "-m", "binhex", w.image, ":", w.pc("Note.hqx")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("exists"), std::string::npos) << r.err;
    r = w.cli({"put", "-m", "binhex", "--rename", w.image, ":", w.pc("Note.hqx")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(runPeer(w.dir, {"hls"}).out.find("Note0"), std::string::npos);
}

TEST(CliTransfer, CollisionFlagsOnThePc)
{
    VERRIN_REQUIRE_PEER("hformat");
    CliWorld w;
    ASSERT_TRUE(makeHfsImage(w.dir, w.image, 1440, "Cli"));
    ASSERT_TRUE(writeFile(w.dir.file("body"), "mac"));
    w.hfs({"hcopy", "-r", w.dir.file("body"), ":a"});
    ASSERT_TRUE(writeFile(w.pc("a"), "pc"));

    CommandResult r = w.cli({"get", w.image, "a", w.pcDir});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("--rename"), std::string::npos) << r.err;
    EXPECT_EQ(w.read(w.pc("a")), "pc");
    r = w.cli({"get", "--skip", w.image, "a", w.pcDir});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(w.read(w.pc("a")), "pc");
    r = w.cli({"get", "--rename", w.image, "a", w.pcDir});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(w.read(w.pc("a0")), "mac");
    r = w.cli({"get", "--overwrite", w.image, "a", w.pcDir});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(w.read(w.pc("a")), "mac");
    EXPECT_EQ(w.cli({"get", "--skip", "--overwrite", w.image, "a", w.pcDir}).exitCode, 2);
    EXPECT_EQ(w.cli({"get", "-m", "zip", w.image, "a", w.pcDir}).exitCode, 2);
}

TEST(CliTransfer, TypeMapBesideTheIniFile)
{
    VERRIN_REQUIRE_PEER("hformat");
    CliWorld w;
    ASSERT_TRUE(makeHfsImage(w.dir, w.image, 1440, "Cli"));
    ASSERT_TRUE(writeFile(w.dir.file("KVOL.FTM"), "[Mac Type Map]\nTEXT=doc\n[PC Type Map]\nwp=WPD0WPC2\n"));
    ASSERT_TRUE(writeFile(w.dir.file("body"), "x"));
    w.hfs({"hcopy", "-r", w.dir.file("body"), ":m"});
    w.hfs({"hattrib", "-t", "TEXT", "-c", "ttxt", ":m"});
    ASSERT_TRUE(writeFile(w.pc("p.wp"), "wp"));
    ASSERT_EQ(w.cli({"get", w.image, "m", w.pcDir}).exitCode, 0);
    EXPECT_TRUE(fileExists(w.pc("m.doc")));
    ASSERT_EQ(w.cli({"put", "-m", "data", w.image, ":", w.pc("p.wp")}).exitCode, 0);
    EXPECT_NE(runPeer(w.dir, {"hls", "-l"}).out.find("WPD0/WPC2"), std::string::npos);
}

TEST(CliTransfer, DamagedInputLeavesTheVolumeAlone)
{
    VERRIN_REQUIRE_PEER("hformat");
    CliWorld w;
    ASSERT_TRUE(makeHfsImage(w.dir, w.image, 1440, "Cli"));
    ASSERT_TRUE(writeFile(w.dir.file("body"), std::string(5000, 'q')));
    w.hfs({"hcopy", "-r", w.dir.file("body"), ":q"});
    ASSERT_EQ(w.cli({"get", "-m", "macbinary", w.image, "q", w.pcDir}).exitCode, 0);
    w.hfs({"hdel", ":q"});
    const std::string before = runPeer(w.dir, {"hls", "-la"}).out;
    const std::string bin = w.read(w.pc("q.bin"));
    ASSERT_TRUE(writeFile(w.pc("cut.bin"), bin.substr(0, 1000)));
    const CommandResult r = w.cli({"put", "-m", "macbinary", w.image, ":", w.pc("cut.bin")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(runPeer(w.dir, {"hls", "-la"}).out, before);
}

// A Linux user's names: UTF-8 on the PC, Mac Roman on the volume, the same
// characters back again; whatever the flags, one route gives a PC file its
// Mac name, type and creator.
TEST(CliTransfer, Utf8NamesBothWays)
{
    VERRIN_REQUIRE_PEER("hformat");
    CliWorld w;
    ASSERT_TRUE(makeHfsImage(w.dir, w.image, 1440, "Cli"));
    const std::string cafe = "caf\xC3\xA9.txt";
    ASSERT_TRUE(writeFile(w.pc(cafe), "one\ntwo\n"));
    ASSERT_TRUE(writeFile(w.pc("\xCF\x80 r:s.txt"), "pi"));  // pi has no ANSI form; ':' no Mac one
    ASSERT_EQ(w.cli({"put", w.image, ":", w.pc(cafe)}).exitCode, 0);
    ASSERT_EQ(w.cli({"put", "-m", "text", "--overwrite", w.image, ":", w.pc(cafe)}).exitCode, 0);
    ASSERT_EQ(w.cli({"put", "-m", "data", w.image, ":", w.pc("\xCF\x80 r:s.txt")}).exitCode, 0);
    // One caf\x8E.txt (replaced as text), type and creator from the settings.
    const std::string listing = runPeer(w.dir, {"hls", "-l"}).out;
    EXPECT_NE(listing.find("TEXT/ttxt"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("caf"), listing.rfind("caf")) << listing;
    EXPECT_NE(listing.find("caf\x8E.txt"), std::string::npos) << listing;
    EXPECT_NE(listing.find("_ r_s.txt"), std::string::npos) << listing;
    EXPECT_EQ(runPeer(w.dir, {"hcopy", "-r", ":caf\x8E.txt", w.dir.file("back")}).exitCode, 0);
    EXPECT_EQ(w.read(w.dir.file("back")), "one\rtwo\r");

    // Back to the PC: accented letters become "_" unless AllowUpper is on.
    std::filesystem::remove(w.pc(cafe));
    ASSERT_EQ(w.cli({"get", w.image, cafe, w.pcDir}).exitCode, 0);
    EXPECT_TRUE(fileExists(w.pc("caf_.txt")));
    writeFile(w.ini, w.read(w.ini) + "AllowUpper=YES\n");
    ASSERT_EQ(w.cli({"get", w.image, cafe, w.pcDir}).exitCode, 0);
    EXPECT_EQ(w.read(w.pc(cafe)), "one\rtwo\r");
}

// HFS dates are local wall-clock times: in each zone, hfsutils (run in the
// same zone) shows the time the PC shows, for a new volume and for a file
// copied with its date, and the file copied back has its PC time again.
TEST(CliTransfer, DatesAreLocalTimeInEveryZone)
{
    VERRIN_REQUIRE_PEER("hformat");
    const auto wallClock = [](int64_t t, const char* form) {
        const std::time_t at = static_cast<std::time_t>(t);
        std::tm local{};
        local = *std::localtime(&at);
        char text[64];
        std::strftime(text, sizeof text, form, &local);
        return std::string(text);
    };
    for (const char* zone : {"Europe/London", "America/Los_Angeles", "Asia/Tokyo"}) {
        SCOPED_TRACE(zone);
        ScopedTimeZone inZone(zone);
        CliWorld w;
        const int64_t before = std::time(nullptr);
        ASSERT_EQ(runCli({"format", w.image, "--name", "Zones", "--size", "1M"}).exitCode, 0);
        const std::string created = runPeer(w.dir, {"hmount", w.image, "1"}).out;
        const bool sameMinute = created.find(wallClock(before, "%b %e %H:%M")) != std::string::npos ||
                                created.find(wallClock(std::time(nullptr), "%b %e %H:%M")) != std::string::npos;
        EXPECT_TRUE(sameMinute) << created;

        const int64_t fileTime = before - 3 * 86400 - 3723;  // recent: hls shows the time of day
        ASSERT_TRUE(writeFile(w.pc("dated"), "d"));
        std::filesystem::last_write_time(w.pc("dated"), std::filesystem::file_time_type::clock::from_sys(
                                                             std::chrono::sys_seconds(std::chrono::seconds(fileTime))));
        ASSERT_EQ(w.cli({"put", w.image, ":", w.pc("dated")}).exitCode, 0);
        const std::string listing = runPeer(w.dir, {"hls", "-l"}).out;
        EXPECT_NE(listing.find(wallClock(fileTime, "%b %e %H:%M")), std::string::npos) << listing;
        std::filesystem::remove(w.pc("dated"));
        ASSERT_EQ(w.cli({"get", w.image, "dated", w.pcDir}).exitCode, 0);
        const auto back = std::filesystem::last_write_time(w.pc("dated"));
        EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(
                      std::filesystem::file_time_type::clock::to_sys(back).time_since_epoch())
                      .count(),
                  fileTime);
    }
}

// Name clashes found in the catalog alone: a folder of 600 files (a catalog
// B-tree of several levels) takes PC files and a directory whose names
// differ from files in it only in case.
TEST(CliTransfer, ClashesInALargeFolderIgnoreCase)
{
    VERRIN_REQUIRE_PEER("hformat");
    CliWorld w;
    ASSERT_TRUE(makeHfsImage(w.dir, w.image, 4096, "Cli"));
    w.hfs({"hmkdir", ":Many"});
    const std::string many = w.dir.file("many");
    std::filesystem::create_directory(many);
    for (int i = 0; i < 600; ++i) ASSERT_TRUE(writeFile(many + "/f" + std::to_string(1000 + i), "old"));
    ASSERT_EQ(w.cli({"put", "-r", "--flat", "-y", w.image, "Many", many}).exitCode, 0);
    ASSERT_TRUE(writeFile(w.pc("F1100"), "new"));
    std::filesystem::create_directory(w.pc("F1200"));
    ASSERT_TRUE(writeFile(w.pc("F1200/inner"), "in"));
    const auto macFile = [&](const std::string& name) {
        return runPeer(w.dir, {"hcopy", "-r", ":Many:" + name, w.dir.file("out")}).exitCode == 0
                   ? w.read(w.dir.file("out"))
                   : std::string("(none)");
    };
    const auto count = [&] { return runPeer(w.dir, {"hls", "-1", ":Many"}).out.size(); };
    const size_t before = count();

    CommandResult r = w.cli({"put", w.image, "Many", w.pc("F1100")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "F1100: exists (use --rename, --overwrite or --skip)\n");
    r = w.cli({"put", "--skip", w.image, "Many", w.pc("F1100")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "F1100: exists, skipped\n");
    EXPECT_EQ(macFile("f1100"), "old");
    EXPECT_EQ(count(), before);
    r = w.cli({"put", "-r", "-y", w.image, "Many", w.pc("F1200")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Name already exists"), std::string::npos) << r.err;
    EXPECT_EQ(count(), before);

    r = w.cli({"put", "--rename", w.image, "Many", w.pc("F1100")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(macFile("F11000"), "new");
    EXPECT_EQ(macFile("f1100"), "old");
    r = w.cli({"put", "--overwrite", w.image, "Many", w.pc("F1100")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(macFile("F1100"), "new");
    EXPECT_NE(runPeer(w.dir, {"hls", "-1", ":Many"}).out.find("F1100\n"), std::string::npos);
    EXPECT_EQ(runCli({"check", w.image}).exitCode, 0);
}
