// What the write commands put on a volume reads back exactly with hfsutils,
// volumes changed in turn by both stay sound for both, and a failing
// command leaves the image byte for byte as it was.
#include <gtest/gtest.h>

#include "support/interop.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

// Runs verrin-cli and expects success.
void cli(const std::vector<std::string>& args)
{
    const CommandResult r = runCli(args);
    ASSERT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
}

// The image with every allocation block that is free in it blanked: file
// data goes straight to free blocks before the command commits, so a failed
// command may leave bytes there, but nothing that the volume refers to.
std::string withoutFreeBlocks(std::string img)
{
    const auto u16 = [&](size_t at) { return static_cast<uint32_t>(static_cast<uint8_t>(img[at]) << 8 | static_cast<uint8_t>(img[at + 1])); };
    const size_t mdb = 1024;
    const uint32_t blocks = u16(mdb + 18), bitmap = u16(mdb + 14), start = u16(mdb + 28);
    const uint32_t size = u16(mdb + 20) << 16 | u16(mdb + 22);
    for (uint32_t b = 0; b < blocks; ++b) {
        const auto byte = static_cast<uint8_t>(img[bitmap * 512 + b / 8]);
        if (byte & (0x80 >> (b % 8))) continue;
        std::fill_n(img.begin() + static_cast<std::ptrdiff_t>(start * 512 + static_cast<size_t>(b) * size), size, '\0');
    }
    return img;
}

void expectSound(const std::string& image)
{
    ASSERT_GE(openImage(image, false), 0);
    ASSERT_TRUE(mountAt(0)) << errorText(lastError);
    EXPECT_EQ(volumeProblems(), "");
    closeAll();
}

}  // namespace

TEST(WriteInterop, CommandsReadBackByHfsutils)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("w.img");
    ASSERT_TRUE(makeHfsImage(dir, image, 1440, "Written"));
    cli({"mkdir", image, "Docs"});
    cli({"mkdir", image, "Docs:Deeper Folder"});
    cli({"mkdir", image, "Empty"});
    std::vector<std::string> put = {"put", "--type", "TEXT", "--creator", "ttxt", image, "Docs"};
    for (int i = 0; i < 6; ++i) {
        // Sizes around sector and block edges, and an empty file.
        const size_t sizes[] = {0, 1, 511, 512, 513, 70001};
        const std::string f = dir.file("doc" + std::to_string(i) + ".txt");
        ASSERT_TRUE(writeFile(f, testPattern(sizes[i], static_cast<unsigned>(i))));
        put.push_back(f);
    }
    cli(put);
    const std::string r = dir.file("Res File");
    ASSERT_TRUE(writeFile(r, testPattern(20000, 77)));
    cli({"put", "--rsrc", "--type", "APPL", "--creator", "Abcd", image, "Docs:Deeper Folder", r});
    cli({"rename", image, "Docs:doc1.txt", "Renamed One"});
    cli({"rename", image, "Docs:Deeper Folder", "Deep"});
    cli({"settype", image, "Docs:doc2.txt", "PICT", "8BIM"});
    cli({"rm", image, "Docs:doc3.txt"});
    expectSound(image);
    expectSameAsHfsutils(dir, image);

    // hfsutils changes the volume we wrote; both still read it the same.
    const std::string extra = dir.file("extra");
    ASSERT_TRUE(writeFile(extra, testPattern(30000, 5)));
    ASSERT_TRUE(runHfs(dir, {"hmount", image}));
    ASSERT_TRUE(runHfs(dir, {"hmkdir", ":Docs:Deep:From hfsutils"}));
    ASSERT_TRUE(runHfs(dir, {"hcopy", "-r", extra, ":Docs:Deep:From hfsutils:extra"}));
    ASSERT_TRUE(runHfs(dir, {"hdel", ":Docs:doc4.txt"}));
    ASSERT_TRUE(runHfs(dir, {"hrename", ":Docs:Renamed One", ":Docs:One Again"}));
    ASSERT_TRUE(runHfs(dir, {"humount"}));
    expectSound(image);
    expectSameAsHfsutils(dir, image);

    // And we change what hfsutils changed.
    const std::string more = dir.file("more");
    ASSERT_TRUE(writeFile(more, testPattern(3000, 6)));
    cli({"put", image, "Docs:Deep:From hfsutils", more});
    cli({"rm", "-r", image, "Docs:Deep"});
    cli({"rm", image, "Empty"});
    expectSound(image);
    expectSameAsHfsutils(dir, image);
}

TEST(WriteInterop, FailedCommandLeavesImageUnchanged)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("f.img");
    ASSERT_TRUE(makeHfsImage(dir, image, 1440, "Full"));
    cli({"mkdir", image, "A"});
    std::string before;
    ASSERT_TRUE(readFile(image, before));

    // A name that exists, a folder that is not empty, a missing path.
    CommandResult r = runCli({"mkdir", image, "a"});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("Name already exists"), std::string::npos) << r.err;
    const std::string small = dir.file("small");
    ASSERT_TRUE(writeFile(small, "x"));
    cli({"put", image, "A", small});
    ASSERT_TRUE(readFile(image, before));
    EXPECT_NE(runCli({"rm", image, "A"}).exitCode, 0);
    EXPECT_NE(runCli({"rename", image, "Nope", "B"}).exitCode, 0);

    std::string after;
    ASSERT_TRUE(readFile(image, after));
    EXPECT_TRUE(withoutFreeBlocks(after) == withoutFreeBlocks(before)) << "a failed command changed the volume";

    // More than the disk holds: several files, the last one too big. As in
    // the window, the volume is written after every file: the one that did
    // not fit is dropped, the one before it stays.
    const std::string a = dir.file("a"), big = dir.file("big");
    ASSERT_TRUE(writeFile(a, testPattern(300000, 1)));
    ASSERT_TRUE(writeFile(big, testPattern(1400000, 2)));
    r = runCli({"put", image, "A", a, big});
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("big: Mac disk ran out of room"), std::string::npos) << r.err;
    const std::string listing = runCli({"ls", image, "A"}).out;
    EXPECT_EQ(listing, "a\nsmall\n");
    expectSound(image);
}

TEST(WriteInterop, RmOfManyPathsGoesInOrderAndStopsAtOneMissing)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("m.img");
    ASSERT_TRUE(makeHfsImage(dir, image, 1440, "Many"));
    cli({"mkdir", image, "D"});
    cli({"mkdir", image, "E"});
    std::vector<std::string> put = {"put", image, "D"};
    for (int i = 1; i <= 5; ++i) {
        put.push_back(dir.file("f" + std::to_string(i)));
        ASSERT_TRUE(writeFile(put.back(), testPattern(700, static_cast<unsigned>(i))));
    }
    cli(put);
    cli({"put", image, "E", dir.file("f1")});

    // Paths in two folders, one given twice in a row: everything before its
    // second mention goes, that mention is not found, nothing after it goes.
    const CommandResult r = runCli({"rm", image, "D:f1", "D:f2", "E:f1", "D:f3", "D:f3", "D:f4"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("D:f3: not found"), std::string::npos) << r.err;
    expectSound(image);
    ASSERT_TRUE(runHfs(dir, {"hmount", image}));
    const CommandResult left = runPeer(dir, {"hls", "-1", ":D"});
    EXPECT_EQ(left.out, "f4\nf5\n");
    EXPECT_EQ(runPeer(dir, {"hls", "-1", ":E"}).out, "");
}
