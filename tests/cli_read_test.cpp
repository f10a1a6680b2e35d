// verrin-cli's read commands as a user or a script sees them: output forms,
// UTF-8 names, JSON, exit codes and the system's own error texts.
#include <gtest/gtest.h>

#include "support/peers.h"

using namespace verrin::testsupport;

namespace {

void hfs(const ScratchDir& dir, const std::vector<std::string>& argv)
{
    const CommandResult r = runPeer(dir, argv);
    ASSERT_EQ(r.exitCode, 0) << argv[0] << ": " << r.err;
}

}  // namespace

TEST(CliRead, ListsCatsAndDescribesAVolume)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("v.img");
    ASSERT_TRUE(makeHfsImage(dir, image, 1440, "Caf\x8E Disk"));  // Mac Roman é, shown as UTF-8
    ASSERT_TRUE(writeFile(dir.file("note"), "hello, world\n"));
    hfs(dir, {"hmkdir", ":Docs"});
    hfs(dir, {"hcopy", "-r", dir.file("note"), ":Docs:Read Me"});
    hfs(dir, {"hattrib", "-t", "TEXT", "-c", "ttxt", ":Docs:Read Me"});

    CommandResult r = runCli({"volumes", image});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "1\t0\t2880\tCaf\xC3\xA9 Disk\n");

    r = runCli({"volumes", "--json", image});
    EXPECT_EQ(r.out, "[{\"index\": 1, \"start\": 0, \"sectors\": 2880, \"name\": \"Caf\xC3\xA9 Disk\"}]\n");

    r = runCli({"ls", image});
    EXPECT_EQ(r.out, "Docs:\n");
    r = runCli({"ls", "-l", image + "#1", "Docs"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("f  TEXT/ttxt          13           0  "), std::string::npos) << r.out;
    EXPECT_TRUE(r.out.ends_with("  Read Me\n")) << r.out;
    // Folder lines keep the file lines' columns: the date at 38, the name at 56.
    EXPECT_EQ(r.out.find("  Read Me\n"), 54u) << r.out;
    r = runCli({"ls", "-l", image});
    EXPECT_EQ(r.out.find("d             "), 0u) << r.out;
    EXPECT_EQ(r.out.find(" 1 item  "), 22u) << r.out;
    EXPECT_EQ(r.out.find("  Docs\n"), 54u) << r.out;

    r = runCli({"ls", "--json", image, ":Docs"});
    EXPECT_NE(r.out.find("\"name\": \"Read Me\", \"kind\": \"file\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"type\": \"TEXT\", \"creator\": \"ttxt\", \"data\": 13, \"rsrc\": 0"), std::string::npos);
    r = runCli({"ls", "--json", image});
    EXPECT_NE(r.out.find("\"kind\": \"folder\", \"id\": 16, \"items\": 1"), std::string::npos) << r.out;

    r = runCli({"cat", image, "Docs:Read Me"});
    EXPECT_EQ(r.out, "hello, world\n");
    r = runCli({"cat", "--rsrc", image, "Docs:Read Me"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");

    r = runCli({"info", "--json", image});
    EXPECT_NE(r.out.find("\"name\": \"Caf\xC3\xA9 Disk\", \"blockSize\": 512, \"blocks\": 2874"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"files\": 1, \"folders\": 1}"), std::string::npos);
}

TEST(CliRead, ErrorsUseTheSystemsMessagesAndFail)
{
    ScratchDir dir;
    ASSERT_TRUE(makeBlankFile(dir.file("blank.img"), 1474560));
    CommandResult r = runCli({"volumes", dir.file("blank.img")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("No Mac HFS volumes found"), std::string::npos) << r.err;

    r = runCli({"ls", dir.file("missing.img")});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("Could not open PC file"), std::string::npos) << r.err;

    r = runCli({"frobnicate"});
    EXPECT_EQ(r.exitCode, 2);
    for (const char* cmd : {"volumes", "ls", "cat", "info"}) {
        r = runCli({cmd, "--help"});
        EXPECT_EQ(r.exitCode, 0) << cmd;
        EXPECT_NE(r.out.find("usage: verrin-cli"), std::string::npos) << cmd;
    }
    if (corpusDir().empty()) return;
    const std::string disk = corpusFile(dir, "hfs/gryphel__3D-Edit-1.5.dsk");
    r = runCli({"cat", disk, "No Such File"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("not found"), std::string::npos);
    r = runCli({"ls", disk + "#2"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("holds 1 HFS volume, not 2"), std::string::npos) << r.err;
}
