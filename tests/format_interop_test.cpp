// Images made by `verrin-cli format`, from a 1.44 MB diskette to a 2 GB
// sparse disk, pass the consistency check, are accepted by hfsutils
// (mounted, written with hcopy, listed) and by the engine (read and
// written); the command's arguments and failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/macroman.h"
#include "hfs/hfs.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

// Mounts the image with hfsutils (partition 1 when partitioned), copies a
// file onto it, and lists it; returns the listing.
std::string hfsutilsRoundTrip(const ScratchDir& dir, const std::string& image, bool partitioned)
{
    std::vector<std::string> mount = {"hmount", image};
    if (partitioned) mount.push_back("1");
    const CommandResult m = runPeer(dir, mount);
    EXPECT_EQ(m.exitCode, 0) << m.err;
    const std::string payload = dir.file("payload.txt");
    EXPECT_TRUE(writeFile(payload, std::string(70000, 'x') + "end\n"));
    const CommandResult c = runPeer(dir, {"hcopy", "-r", payload, ":Payload"});
    EXPECT_EQ(c.exitCode, 0) << c.err;
    const CommandResult l = runPeer(dir, {"hls", "-la"});
    EXPECT_EQ(l.exitCode, 0) << l.err;
    runPeer(dir, {"humount"});
    return l.out;
}

}  // namespace

TEST(FormatInterop, EverySizeMountsInHfsutilsAndTheEngine)
{
    VERRIN_REQUIRE_PEER("hmount");
    ScratchDir dir;
    struct Case {
        const char* size;  // nullptr: the diskette
        uint64_t bytes;
    };
    for (const Case& c : {Case{nullptr, 1474560}, Case{"1440K", 1474560}, Case{"20M", 20u << 20},
                          Case{"300M", 300u << 20}, Case{"1G", 1ull << 30}, Case{"2G", 2ull << 30},
                          // Above 4 GB the B-trees need map nodes.
                          Case{"5G", 5ull << 30}}) {
        SCOPED_TRACE(c.size ? c.size : "diskette");
        const std::string image = dir.file("fmt.img");
        std::filesystem::remove(image);
        std::vector<std::string> args = {"format", image, "--name", "Fresh Volume"};
        if (c.size) {
            args.push_back("--size");
            args.push_back(c.size);
        } else {
            args.push_back("--diskette");
        }
        const CommandResult f = runCli(args);
        ASSERT_EQ(f.exitCode, 0) << f.err;
        ASSERT_EQ(std::filesystem::file_size(image), c.bytes);
        const CommandResult fresh = runCli({"check", image});
        EXPECT_EQ(fresh.exitCode, 0) << fresh.out << fresh.err;
        // Sparse: only the structures were written.
        if (c.bytes >= (1ull << 30)) {
            const CommandResult du = runCommand({"du", "-k", image});
            ASSERT_EQ(du.exitCode, 0);
            EXPECT_LT(std::stoull(du.out), 16384u) << du.out;
        }
        const std::string listing = hfsutilsRoundTrip(dir, image, c.size != nullptr);
        const CommandResult written = runCli({"check", image});
        EXPECT_EQ(written.exitCode, 0) << written.out << written.err;
        EXPECT_NE(listing.find("Payload"), std::string::npos) << listing;
        if (!c.size) {
            EXPECT_NE(listing.find("Desktop"), std::string::npos) << listing;
        }

        // The engine sees the volume and the file hfsutils put there.
        ASSERT_GE(openImage(image, false), 0);
        ASSERT_EQ(volumeCount, 1);
        EXPECT_EQ(macNameToUtf8(volumeList[0].name), "Fresh Volume");
        ASSERT_TRUE(mountAt(0)) << errorText(lastError);
        std::string data;
        ASSERT_TRUE(readWholeFork(2, macName("Payload").data(), dataFork, data)) << errorText(lastError);
        EXPECT_EQ(data.size(), 70004u);
        closeAll();

        // The engine writes to it too: a folder and a file in it, then the
        // volume is still sound and hfsutils reads the file back.
        const std::string local = dir.file("local.bin");
        ASSERT_TRUE(writeFile(local, std::string(300000, 'v')));
        CommandResult w = runCli({"mkdir", image, "Ours"});
        ASSERT_EQ(w.exitCode, 0) << w.err;
        w = runCli({"put", image, "Ours", local});
        ASSERT_EQ(w.exitCode, 0) << w.err;
        w = runCli({"check", image});
        EXPECT_EQ(w.exitCode, 0) << w.out << w.err;
        std::vector<std::string> mount = {"hmount", image};
        if (c.size) mount.push_back("1");
        ASSERT_EQ(runPeer(dir, mount).exitCode, 0);
        const std::string back = dir.file("back.bin");
        const CommandResult h = runPeer(dir, {"hcopy", "-r", ":Ours:local.bin", back});
        EXPECT_EQ(h.exitCode, 0) << h.err;
        runPeer(dir, {"humount"});
        std::string copied;
        ASSERT_TRUE(readFile(back, copied));
        EXPECT_EQ(copied.size(), 300000u);
    }
}

TEST(FormatInterop, LargeSectorImagesMountInTheEngine)
{
    ScratchDir dir;
    const std::string image = dir.file("cd.img");
    const CommandResult f = runCli({"format", image, "--name", "Disc", "--size", "64M", "--sector-size", "2048"});
    ASSERT_EQ(f.exitCode, 0) << f.err;
    std::string head;
    ASSERT_TRUE(readFile(image, head));
    EXPECT_EQ(static_cast<uint8_t>(head[2]), 0x08);  // sbBlkSize 2048
    EXPECT_EQ(head.substr(2048, 2), "PM");
    EXPECT_EQ(head.substr(4096, 2), "PM");
    EXPECT_EQ(head.substr(12288 + 1024, 2), "BD");
    ASSERT_GE(openImage(image, false, 2048), 0);
    ASSERT_EQ(volumeCount, 1);
    EXPECT_EQ(volumeList[0].start, 24u);
    ASSERT_TRUE(mountAt(0)) << errorText(lastError);
    closeAll();
}

TEST(FormatInterop, CommandArgumentsAndFailures)
{
    ScratchDir dir;
    const std::string image = dir.file("a.img");
    // Argument errors: exit status 2, nothing created; a name the Mac
    // cannot take is the user's error, exit status 1.
    for (const std::string name : {"", "1234567890123456789012345678", "a:b"})
        EXPECT_EQ(runCli({"format", image, "--name", name, "--size", "1M"}).exitCode, 1) << name;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"format", image, "--size", "1M"},
          std::vector<std::string>{"format", image, "--name", "A", "--size", "12Q"},
          std::vector<std::string>{"format", image, "--name", "A", "--size", "1000"},
          std::vector<std::string>{"format", image, "--name", "A", "--diskette", "--size", "1M"},
          std::vector<std::string>{"format", image, "--name", "A", "--sector-size", "1000", "--size", "1M"},
          std::vector<std::string>{"format", image, "--name", "A", "--bogus"}}) {
        const CommandResult r = runCli(args);
        EXPECT_EQ(r.exitCode, 2) << args[2] << " " << r.err;
        EXPECT_FALSE(fileExists(image));
    }
    // A missing image without --size, and one too small to format.
    CommandResult r = runCli({"format", image, "--name", "A"});
    EXPECT_EQ(r.exitCode, 1);
    r = runCli({"format", image, "--name", "A", "--size", "40K"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Can not format disk!"), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(image)) << "a failed format removes the file it made";
    // A file that was there before stays, whatever the outcome.
    const std::string small = dir.file("small.img");
    ASSERT_TRUE(writeFile(small, std::string(1024, 'x')));
    r = runCli({"format", small, "--name", "A", "--size", "1K"});
    EXPECT_EQ(r.exitCode, 1);
    ASSERT_TRUE(fileExists(small));
    // A 27-character name in Mac Roman from UTF-8.
    r = runCli({"format", image, "--name", "Caf\xC3\xA9 1234567890123456789012", "--size", "2M"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = runCli({"volumes", image});
    EXPECT_NE(r.out.find("Caf\xC3\xA9 1234567890123456789012"), std::string::npos) << r.out;
    // Formatting an existing image keeps its size; --diskette resizes an
    // image of another size to 1.44 MB.
    r = runCli({"format", image, "--name", "Again"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::filesystem::file_size(image), 2u << 20);
    r = runCli({"format", image, "--name", "Floppy", "--diskette"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(std::filesystem::file_size(image), 1474560u);
    r = runCli({"ls", image});
    EXPECT_NE(r.out.find("Desktop"), std::string::npos);
}

// Volumes without a partition map, down to the 400K of the first Mac
// diskettes: sound by our check, and mounted by hfsutils from 800K up (its
// own lower limit), with a file put in by us read back there.
TEST(FormatInterop, BareVolumesDownTo400K)
{
    ScratchDir dir;
    const std::string image = dir.file("bare.img");
    ASSERT_TRUE(writeFile(dir.file("note"), "bare note"));
    for (const uint32_t kilobytes : {400u, 800u, 20480u}) {
        SCOPED_TRACE(kilobytes);
        std::filesystem::remove(image);
        const std::string size = std::to_string(kilobytes) + "K";
        CommandResult r = runCli({"format", image, "--name", "Bare", "--bare", "--size", size});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(runCli({"volumes", image}).out.rfind("1\t0\t" + std::to_string(kilobytes * 2) + "\tBare", 0), 0u);
        ASSERT_EQ(runCli({"put", image, ":", dir.file("note")}).exitCode, 0);
        r = runCli({"check", image});
        EXPECT_EQ(r.exitCode, 0) << r.out;
        if (kilobytes < 800 || !havePeer("hmount")) continue;
        ASSERT_EQ(runPeer(dir, {"hmount", image}).exitCode, 0);
        ASSERT_EQ(runPeer(dir, {"hcopy", "-r", ":note", dir.file("back")}).exitCode, 0);
        std::string back;
        ASSERT_TRUE(readFile(dir.file("back"), back));
        EXPECT_EQ(back, "bare note");
    }
    std::filesystem::remove(image);
    EXPECT_EQ(runCli({"format", image, "--name", "Bare", "--bare", "--size", "300K"}).exitCode, 1);
    EXPECT_FALSE(fileExists(image));
}
