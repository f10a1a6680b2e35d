// The interop helpers themselves: output capture, input, exit codes,
// time-outs, the private HOME of the peers and the scratch folders. A fault
// here would make every interop test pass or fail for the wrong reason.
#include <gtest/gtest.h>

#include "support/peers.h"

using namespace verrin::testsupport;

TEST(TestSupport, ScratchFolderLifetime)
{
    std::string kept;
    {
        ScratchDir dir;
        ASSERT_FALSE(dir.path.empty());
        kept = dir.path;
        ASSERT_TRUE(writeFile(dir.file("a.bin"), std::string("x\0y", 3)));
        std::string back;
        ASSERT_TRUE(readFile(dir.file("a.bin"), back));
        EXPECT_EQ(back, std::string("x\0y", 3));
        ASSERT_TRUE(makeBlankFile(dir.file("blank"), 70000));
        ASSERT_TRUE(readFile(dir.file("blank"), back));
        EXPECT_EQ(back, std::string(70000, '\0'));
        ScratchDir other;
        EXPECT_NE(other.path, dir.path);
    }
    EXPECT_FALSE(fileExists(kept));
}

TEST(TestSupport, RunCommandCapturesBothStreamsInputAndExitCode)
{
    if (!havePeer("sh")) GTEST_SKIP() << "no POSIX shell";
    CommandOptions options;
    // More input than a pipe buffer holds, so feeding and reading interleave.
    options.input = std::string(200000, 'z');
    const CommandResult r = runCommand({"sh", "-c", "wc -c; echo oops >&2; exit 3"}, options);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "200000\n");
    EXPECT_EQ(r.err, "oops\n");
    EXPECT_FALSE(r.timedOut);

    const CommandResult missing = runCommand({"verrin-no-such-program-here"});
    EXPECT_EQ(missing.exitCode, 127);

    CommandOptions quick;
    quick.timeoutSeconds = 1;
    const CommandResult slow = runCommand({"sleep", "30"}, quick);
    EXPECT_TRUE(slow.timedOut);
    EXPECT_EQ(slow.exitCode, -1);
}

TEST(TestSupport, PeersGetPrivateHome)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    ASSERT_TRUE(makeHfsImage(dir, dir.file("disk.img"), 800, "Scratch"));
    // hformat leaves the new volume current in $HOME/.hcwd, so hls needs no
    // path; the real HOME is untouched.
    const CommandResult home = runPeer(dir, {"sh", "-c", "echo $HOME"});
    EXPECT_EQ(home.out, dir.file("home") + "\n");
    EXPECT_TRUE(fileExists(dir.file("home/.hcwd")));
    const CommandResult vol = runPeer(dir, {"hvol"});
    EXPECT_EQ(vol.exitCode, 0) << vol.err;
    EXPECT_NE(vol.out.find("Scratch"), std::string::npos) << vol.out;
}

TEST(TestSupport, CorpusAndCommandLineToolAreReachable)
{
    // The tool is started by absolute path, under Wine too.
    ASSERT_TRUE(fileExists(cliPath())) << cliPath();
    const CommandResult cli = runCli({});
    EXPECT_GE(cli.exitCode, 0) << cli.err;

    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    std::string bytes;
    const std::string plain = corpusFile(dir, "hfs/gryphel_blanks__800K.dsk");
    ASSERT_TRUE(readFile(plain, bytes)) << plain;
    EXPECT_EQ(bytes.size(), 819200u);
    if (!havePeer("gzip")) return;
    // A packed image is unpacked into the scratch folder.
    const std::string unpacked = corpusFile(dir, "hfs/behierarchic__manyExtents.img.gz");
    ASSERT_FALSE(unpacked.empty());
    EXPECT_EQ(unpacked.rfind(dir.path, 0), 0u);
    ASSERT_TRUE(readFile(unpacked, bytes));
    EXPECT_GT(bytes.size(), 33687u);
    EXPECT_TRUE(corpusFile(dir, "hfs/no-such-file.dsk").empty());
}
