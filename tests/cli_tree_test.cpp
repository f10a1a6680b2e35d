// Folder trees both ways with verrin-cli, as users of such tools work: a
// whole real volume out and back in with its forks kept, a tree of UTF-8
// names, and Ctrl-C in the middle of a copy.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/peers.h"

using namespace verrin::testsupport;
namespace fs = std::filesystem;

namespace {

// Every file of a PC tree by its path below the tree's top.
std::map<std::string, std::string> treeFiles(const std::string& top)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(top)) {
        if (!e.is_regular_file()) continue;
        std::string bytes;
        EXPECT_TRUE(readFile(e.path().string(), bytes));
        files[fs::relative(e.path(), top).generic_string()] = bytes;
    }
    return files;
}

// The JSON lines of `ls -R --json` for files, without catalog IDs (a new
// volume numbers its items afresh).
std::vector<std::string> fileLines(const std::string& json)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < json.size()) {
        size_t end = json.find('\n', start);
        if (end == std::string::npos) end = json.size();
        std::string line = json.substr(start, end - start);
        start = end + 1;
        if (line.find("\"kind\": \"file\"") == std::string::npos) continue;
        const size_t id = line.find("\"id\": ");
        line.erase(id, line.find(", ", id) + 2 - id);
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

// The Mac OS 9 volume of the corpus out as MacBinary files and into a new
// volume: every file with its forks, type, creator, Finder flags and dates,
// the folders around them, a sound volume, and the same listing in hfsutils.
TEST(CliTree, WholeVolumeOutAndBackWithForksKept)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    const std::string original = corpusFile(dir, "hfs/behierarchic__complex.img.gz");
    if (original.empty()) GTEST_SKIP() << "the compressed corpus image cannot be unpacked here";
    const std::string copy = dir.file("copy.img"), out = dir.file("out"), again = dir.file("again");
    fs::create_directory(out);
    fs::create_directory(again);
    CommandResult r = runCli({"get", "-r", "-y", "-m", "macbinary", original, ":", out});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_EQ(runCli({"format", copy, "--name", "Macintosh HD", "--size", "300M"}).exitCode, 0);
    std::vector<std::string> put{"put", "-r", "-y", "-m", "macbinary", copy, ":"};
    for (const auto& e : fs::directory_iterator(out)) put.push_back(e.path().string());
    r = runCli(put);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runCli({"check", copy});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("2082 files, 257 folders"), std::string::npos) << r.out;

    // Out again: the MacBinary files hold forks, type, creator, flags and
    // dates. One file of the original has no dates (0); a copy made of it
    // is stamped with the time it was made, as every new file without one.
    r = runCli({"get", "-r", "-y", "-m", "macbinary", copy, ":", again});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto first = treeFiles(out), second = treeFiles(again);
    ASSERT_EQ(first.size(), 2082u);
    ASSERT_EQ(second.size(), first.size());
    int undated = 0;
    for (const auto& [path, bytes] : first) {
        const auto other = second.find(path);
        ASSERT_NE(other, second.end()) << path;
        if (bytes.compare(91, 8, std::string(8, '\0')) == 0) {
            ++undated;
            EXPECT_EQ(bytes.substr(128), other->second.substr(128)) << path;
            continue;
        }
        EXPECT_TRUE(bytes == other->second) << path;
    }
    EXPECT_EQ(undated, 1);
    const auto before = fileLines(runCli({"ls", "-R", "--json", original}).out);
    const auto after = fileLines(runCli({"ls", "-R", "--json", copy}).out);
    ASSERT_EQ(before.size(), after.size());
    int differing = 0;
    for (size_t i = 0; i < before.size(); ++i) differing += before[i] != after[i];
    EXPECT_EQ(differing, undated);
    if (!havePeer("hls")) return;
    const auto peerFiles = [&](const std::string& image, const char* partition) {
        std::vector<std::string> mount{"hmount", image};
        if (*partition) mount.push_back(partition);
        EXPECT_EQ(runPeer(dir, mount).exitCode, 0);
        std::string files;
        const std::string listing = runPeer(dir, {"hls", "-laRc"}).out;
        for (size_t at = 0; at < listing.size();) {
            const size_t end = listing.find('\n', at);
            const std::string line = listing.substr(at, end - at);
            if (!line.empty() && line[0] != 'd' && line.find("Stickies file") == std::string::npos) files += line + "\n";
            at = end == std::string::npos ? listing.size() : end + 1;
        }
        return files;
    };
    EXPECT_EQ(peerFiles(original, ""), peerFiles(copy, "1"));
}

// UTF-8 names through a tree both ways: the characters both sets share
// come back byte for byte; the others arrive as "_", a long name cut to
// 31 characters, and ':' (the Mac's separator) as "_".
TEST(CliTree, Utf8NamesThroughATree)
{
#ifdef _WIN32
    GTEST_SKIP() << "Windows names are ANSI already";
#endif
    ScratchDir dir;
    const std::string image = dir.file("names.img"), tree = dir.file("tree"), back = dir.file("back");
    fs::create_directories(tree + "/\xC3\x9C" "ber dir");
    fs::create_directory(back);
    const std::vector<std::string> names = {
        "caf\xC3\xA9.txt", "\xC3\xBC" "ber.txt", "\xC6\x92unction.c", "\xCF\x80.txt", "\xE4\xB8\xAD\xE6\x96\x87.txt",
        "A forty character long file name here.txt", "\xC3\x9C" "ber dir/na\xC3\xAF" "ve.txt"};
    for (const std::string& n : names) ASSERT_TRUE(writeFile(tree + "/" + n, n));
#ifndef _WIN32
    ASSERT_TRUE(writeFile(tree + "/a:b.txt", "colon"));
#endif
    ASSERT_EQ(runCli({"format", image, "--name", "Names", "--size", "4M"}).exitCode, 0);
    CommandResult r = runCli({"put", "-r", "-y", image, ":", tree});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    r = runCli({"get", "-r", "-y", image, "tree", back});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const auto files = treeFiles(back + "/tree");
    for (const char* same : {"caf\xC3\xA9.txt", "\xC3\xBC" "ber.txt", "\xC6\x92unction.c",
                             "\xC3\x9C" "ber dir/na\xC3\xAF" "ve.txt"})
        EXPECT_EQ(files.count(same), 1u) << same;
    EXPECT_EQ(files.at("_.txt"), "\xCF\x80.txt");
    EXPECT_EQ(files.at("__.txt"), "\xE4\xB8\xAD\xE6\x96\x87.txt");
    EXPECT_EQ(files.count("A forty character long file nam.txt"), 1u);  // 31, then the type's extension
#ifndef _WIN32
    EXPECT_EQ(files.at("a_b.txt"), "colon");
#endif
}

// A tree copy on a terminal shows its progress line; Ctrl-C in the middle
// (a SIGINT at a chosen pwrite of the image, for a fixed moment) stops it
// as the progress window's Cancel does: the file being written is dropped,
// the ones before it stay, the volume is sound and the status says so.
TEST(CliTree, ProgressLineAndCtrlC)
{
    VERRIN_REQUIRE_PEER("strace");
    VERRIN_REQUIRE_PEER("script");
    ScratchDir dir;
    const std::string image = dir.file("c.img"), tree = dir.file("tree");
    fs::create_directory(tree);
    for (int i = 1; i <= 6; ++i) ASSERT_TRUE(writeFile(tree + "/f" + std::to_string(i), std::string(300000, static_cast<char>('a' + i))));
    ASSERT_EQ(runCli({"format", image, "--name", "C", "--size", "8M"}).exitCode, 0);
    const std::string command = "'" + cliPath() + "' put -r -y '" + image + "' : '" + tree + "'";
    CommandResult r = runCommand({"script", "-qec", command, "/dev/null"});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("\rCopying from PC to Mac: 6 files, 1.7M of 1.7M bytes, 100%"), std::string::npos) << r.out;
    ASSERT_EQ(runCli({"format", image, "--name", "C", "--size", "8M"}).exitCode, 0);
    EXPECT_EQ(runCli({"put", "-r", "-y", image, ":", tree}).err, "");  // no terminal, no line

    ASSERT_EQ(runCli({"format", image, "--name", "C", "--size", "8M"}).exitCode, 0);
    r = runCommand({"strace", "-f", "-o", "/dev/null", "-e", "trace=pwrite64", "-e", "inject=pwrite64:signal=INT:when=8",
                    "env", "ASAN_OPTIONS=detect_leaks=0",  // the leak checker cannot run under ptrace
                    cliPath(), "put", "-r", "-y", image, ":", tree});
    EXPECT_EQ(r.exitCode, 130) << r.err;
    r = runCli({"ls", "-l", image, "tree"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("f1"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("f6"), std::string::npos) << r.out;
    size_t lines = 0, whole = 0;
    for (size_t at = 0; (at = r.out.find('\n', at)) != std::string::npos; ++at) ++lines;
    for (size_t at = 0; (at = r.out.find("  300000  ", at)) != std::string::npos; ++at) ++whole;
    EXPECT_EQ(whole, lines) << "every file there is whole: " << r.out;
    EXPECT_EQ(runCli({"check", image}).exitCode, 0);
}
