// verrin-cli's read commands as a user or a script sees them: output forms,
// UTF-8 names, JSON, exit codes and the system's own error texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

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
    EXPECT_NE(r.out.find("\"name\": \"Read Me\", \"path\": \"Docs:Read Me\", \"kind\": \"file\""), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"type\": \"TEXT\", \"creator\": \"ttxt\", \"data\": 13, \"rsrc\": 0"), std::string::npos);
    r = runCli({"ls", "--json", image});
    EXPECT_NE(r.out.find("\"kind\": \"folder\", \"id\": 16, \"flags\": 0, \"invisible\": false, \"locked\": false, "
                         "\"items\": 1"),
              std::string::npos)
        << r.out;

    r = runCli({"cat", image, "Docs:Read Me"});
    EXPECT_EQ(r.out, "hello, world\n");
    r = runCli({"cat", "--rsrc", image, "Docs:Read Me"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");

    r = runCli({"info", "--json", image});
    EXPECT_NE(r.out.find("\"name\": \"Caf\xC3\xA9 Disk\", \"blockSize\": 512, \"blocks\": 2874"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"files\": 1, \"folders\": 1, \"created\": \""), std::string::npos);

    // Quotes and backslashes escaped in names and in the folder part of paths.
    ASSERT_EQ(runCli({"mkdir", "-p", image, "Docs:Say \"hi\" \\ now:In"}).exitCode, 0);
    r = runCli({"ls", "-R", "--json", image});
    EXPECT_NE(r.out.find(R"({"name": "In", "path": "Docs:Say \"hi\" \\ now:In", "kind": "folder")"), std::string::npos)
        << r.out;
    EXPECT_TRUE(r.out.starts_with("[{") && r.out.ends_with("}]\n")) << r.out;
}

// Every mistake a user makes on the command line: a message that says what
// is wrong, exit status 1, and the images exactly as they were.
TEST(CliErrors, EachSaysWhatIsWrongAndChangesNothing)
{
    ScratchDir dir;
    const std::string image = dir.file("disk.img"), readOnly = dir.file("ro.img");
    ASSERT_EQ(runCli({"format", image, "--name", "Disk", "--size", "1M"}).exitCode, 0);
    ASSERT_EQ(runCli({"mkdir", image, "Docs"}).exitCode, 0);
    std::filesystem::copy_file(image, readOnly);
    std::filesystem::permissions(readOnly, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                               std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    ASSERT_TRUE(writeFile(dir.file("junk.img"), std::string(100000, 'j')));
    ASSERT_TRUE(writeFile(dir.file("empty.img"), ""));
    ASSERT_TRUE(writeFile(dir.file("packed.img.gz"), std::string("\x1F\x8B\x08\0", 4) + std::string(600, 'z')));
    ASSERT_TRUE(writeFile(dir.file("ini"), "[Main Prefs]\n"));
    ASSERT_TRUE(writeFile(dir.file("note"), "note"));
    std::filesystem::create_directory(dir.file("folder"));
    std::string before, roBefore;
    ASSERT_TRUE(readFile(image, before));
    ASSERT_TRUE(readFile(readOnly, roBefore));

    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{"mkdir", image, "A folder name of forty characters, too long"}, "has 43 characters; a Mac name holds at most 31"},
        {{"rename", image, "Docs", "a:b"}, "contains ':', which the Mac uses between folder names"},
        {{"mkdir", image, "\xE4\xB8\xAD"}, "has no Mac Roman form"},
        {{"ls", dir.file("junk.img")}, "holds no HFS volume"},
        {{"ls", dir.file("empty.img")}, "the file is empty, not a disk image"},
        {{"ls", dir.file("packed.img.gz")}, "gzip-compressed; unpack it first"},
        {{"ls", dir.file("folder")}, "is a directory, not a disk image"},
        {{"ls", dir.file("missing.img")}, "no such file"},
        {{"ls", image + "#2"}, "the image holds 1 HFS volume, not 2"},
        {{"ls", image + "#two"}, "after '#' comes the number of a volume"},
        {{"mkdir", readOnly, "New"}, "the image file is read-only"},
        {{"put", "--ini", dir.file("missing.ini"), image, ":", dir.file("note")}, "no such settings file"},
        {{"put", image, ":", dir.file("folder")}, "is a directory, not a file"},
        {{"get", "--ini", dir.file("ini"), image, "Docs", dir.file("note")}, "not a directory"},
        {{"rm", image, "Nothing"}, "not found"},
    };
    for (const Case& c : cases) {
        const CommandResult r = runCli(c.args);
        EXPECT_EQ(r.exitCode, 1) << c.args[0] << " " << c.args.back() << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    std::string after, roAfter;
    ASSERT_TRUE(readFile(image, after));
    ASSERT_TRUE(readFile(readOnly, roAfter));
    EXPECT_TRUE(after == before) << "a failed command changed the image";
    EXPECT_TRUE(roAfter == roBefore);

    EXPECT_EQ(runCli({"frobnicate"}).exitCode, 2);
    for (const char* cmd : {"volumes", "ls", "cat", "info", "mv", "attrib"}) {
        const CommandResult r = runCli({cmd, "--help"});
        EXPECT_EQ(r.exitCode, 0) << cmd;
        EXPECT_NE(r.out.find("usage: verrin-cli"), std::string::npos) << cmd;
    }
}

// Opening a volume for a change may tell something (an interrupted change
// it undid) and may ask whether a volume without its alternate master
// directory block is used read-only: only that answer stops the change.
TEST(CliErrors, OnlyTheReadOnlyAnswerStopsAChange)
{
    VERRIN_REQUIRE_PEER("strace");
    ScratchDir dir;
    const std::string image = dir.file("v.img");
    ASSERT_EQ(runCli({"format", image, "--name", "V", "--size", "1M", "--bare"}).exitCode, 0);
    // Killed at its second write (the image's, after the journal's).
    runCommand({"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-o", "/dev/null", "-e",
                "inject=pwrite64:signal=KILL:when=2", cliPath(), "mkdir", image, "Lost"});
    ASSERT_TRUE(fileExists(image + "-journal"));
    CommandResult r = runCli({"mkdir", image, "Kept"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Undid an interrupted change"), std::string::npos) << r.err;

    std::string bytes;
    ASSERT_TRUE(readFile(image, bytes));
    std::fill(bytes.end() - 1024, bytes.end() - 512, '\0');  // the alternate MDB
    ASSERT_TRUE(writeFile(image, bytes));
    r = runCli({"mkdir", image, "Refused"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("not changed: the volume has no alternate master directory block"), std::string::npos)
        << r.err;
    EXPECT_EQ(runCli({"mkdir", "--force", image, "Forced"}).exitCode, 0);
    r = runCli({"ls", image});
    EXPECT_EQ(r.out, "Forced:\nKept:\n");
}

// The tree commands as a user of hfsutils expects them, checked against
// hls: mkdir -p, mv between folders, attrib, paths that start with the
// volume's name, ls -R with its markers, and the JSON forms.
TEST(CliCommands, TreeEditsAsHfsutilsSeesThem)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("tree.img");
    ASSERT_EQ(runCli({"format", image, "--name", "Macintosh HD", "--size", "2M"}).exitCode, 0);
    ASSERT_TRUE(writeFile(dir.file("note"), "note"));
    const auto ok = [](const std::vector<std::string>& args) {
        const CommandResult r = runCli(args);
        EXPECT_EQ(r.exitCode, 0) << args[0] << ": " << r.err;
    };
    ok({"mkdir", "-p", image, "Macintosh HD:System Folder:Extensions", "Apps:Games"});
    ok({"mkdir", "-p", image, "Apps"});  // there already: no error with -p
    EXPECT_EQ(runCli({"mkdir", image, "Apps:Tools:Deep"}).exitCode, 1);
    ok({"put", image, "Apps:Games", dir.file("note")});
    ok({"mv", image, "Apps:Games:note", "Apps:Games", "Macintosh HD:System Folder"});
    EXPECT_EQ(runCli({"mv", image, "System Folder", "System Folder:Games"}).exitCode, 1);
    ok({"attrib", "+i", "+l", image, "System Folder:note"});
    ok({"attrib", "+i", image, "System Folder:Games"});
    EXPECT_EQ(runCli({"attrib", "+l", image, "Apps"}).exitCode, 1);

    CommandResult r = runCli({"ls", "-R", "-l", image, "Macintosh HD:"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("\nSystem Folder:Games:\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nFi "), std::string::npos) << r.out;  // locked, invisible file
    EXPECT_NE(r.out.find("\ndi "), std::string::npos) << r.out;  // invisible folder
    ASSERT_EQ(runPeer(dir, {"hmount", image, "1"}).exitCode, 0);
    const std::string peer = runPeer(dir, {"hls", "-laR", ":System Folder"}).out;
    EXPECT_NE(peer.find("Fi "), std::string::npos) << peer;
    EXPECT_NE(peer.find("di "), std::string::npos) << peer;
    EXPECT_NE(peer.find("Extensions"), std::string::npos) << peer;
    EXPECT_EQ(runPeer(dir, {"hls", ":Apps"}).out, "");

    r = runCli({"ls", "--json", image, "System Folder:note"});
    EXPECT_NE(r.out.find("\"path\": \"System Folder:note\", \"kind\": \"file\", \"id\": "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"flags\": 16384, \"invisible\": true, \"locked\": true"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"created\": \"20"), std::string::npos) << r.out;
    r = runCli({"check", "--json", image});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("\"sound\": true, \"files\": 1, \"folders\": 4"), std::string::npos) << r.out;
    EXPECT_NE(runCli({"info", "--json", image}).out.find("\"modified\": \"20"), std::string::npos);
    EXPECT_EQ(runCli({"--version"}).out.rfind("verrin-cli ", 0), 0u);
}
