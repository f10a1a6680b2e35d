// The PC file seam: create, write, read back, sizes, the "taken" test that
// name resolution relies on, file times and deletion.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/peers.h"
#include "transfer/pcfile.h"

using namespace verrin;
using namespace verrin::testsupport;

TEST(PcFile, WritesReadsAndDeletes)
{
    ScratchDir dir;
    const std::string name = dir.file("a.bin");
    EXPECT_FALSE(pcFileTaken(name.c_str()));
    EXPECT_EQ(pcOpenRead(name.c_str()), noPcFile);

    PcHandle f = pcCreate(name.c_str());
    ASSERT_NE(f, noPcFile);
    std::string bytes(70000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7);
    EXPECT_EQ(pcWrite(f, bytes.data(), static_cast<uint32_t>(bytes.size())), 70000);
    EXPECT_TRUE(pcClose(f));
    EXPECT_TRUE(pcFileTaken(name.c_str()));
    uint64_t size = 0;
    ASSERT_TRUE(pcFileSize(name.c_str(), size));
    EXPECT_EQ(size, 70000u);

    f = pcOpenRead(name.c_str());
    ASSERT_NE(f, noPcFile);
    std::string back(70000 + 32768, '\0');
    int32_t total = 0, n;
    while ((n = pcRead(f, back.data() + total, 32768)) > 0) total += n;
    EXPECT_EQ(n, 0);
    EXPECT_EQ(total, 70000);
    back.resize(static_cast<size_t>(total));
    EXPECT_EQ(back, bytes);
    pcClose(f);

    // Creating again replaces the contents.
    f = pcCreate(name.c_str());
    ASSERT_NE(f, noPcFile);
    EXPECT_EQ(pcWrite(f, "xy", 2), 2);
    pcClose(f);
    ASSERT_TRUE(pcFileSize(name.c_str(), size));
    EXPECT_EQ(size, 2u);

    EXPECT_TRUE(pcDelete(name.c_str()));
    EXPECT_FALSE(pcExists(name.c_str()));
    EXPECT_FALSE(pcDelete(name.c_str()));
}

TEST(PcFile, DirectoriesAreNotTakenFileNames)
{
    ScratchDir dir;
    const std::string sub = dir.file("sub");
    std::filesystem::create_directory(sub);
    EXPECT_TRUE(pcExists(sub.c_str()));
    EXPECT_TRUE(pcIsDirectory(sub.c_str()));
    EXPECT_FALSE(pcFileTaken(sub.c_str()));
    EXPECT_EQ(pcOpenRead(sub.c_str()), noPcFile);
    EXPECT_EQ(pcCreate(sub.c_str()), noPcFile);
}

TEST(PcFile, ModificationTimesRoundTrip)
{
    ScratchDir dir;
    const std::string name = dir.file("t");
    ASSERT_TRUE(writeFile(name, "x"));
    // 1995-04-06 16:25:30 UTC, and a date before 1970.
    for (const int64_t when : {int64_t{797185530}, int64_t{-86400 * 365}}) {
        ASSERT_TRUE(pcSetModTime(name.c_str(), when));
        int64_t back = 0;
        ASSERT_TRUE(pcGetModTime(name.c_str(), back));
        EXPECT_EQ(back, when);
    }
    int64_t none = 0;
    EXPECT_FALSE(pcGetModTime(dir.file("missing").c_str(), none));
    EXPECT_FALSE(pcSetModTime(dir.file("missing").c_str(), 1));
}

#ifndef _WIN32
// Names on a UTF-8 system: ANSI names reach their files, and a name with
// characters the ANSI set lacks gets "_" for them while the calls still
// reach the real file, two such names of one directory kept apart.
TEST(PcFile, SystemNamesInTheAnsiSet)
{
    ScratchDir dir;
    const std::string folder = pcNameFromHost(dir.path);
    // "café" in ANSI is E9; the file on disk has the UTF-8 name.
    ASSERT_TRUE(writeFile(dir.file("caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D"), "latin"));
    const std::string cafe = folder + "/caf\xE9 \x93q\x94";
    EXPECT_EQ(pcNameFromHost(dir.file("caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D")), cafe);
    EXPECT_TRUE(pcFileTaken(cafe.c_str()));
    // Created from ANSI, named in UTF-8 on disk (0x81, undefined in
    // Windows, included).
    const PcHandle f = pcCreate((folder + "/\x81\xFF").c_str());
    ASSERT_NE(f, noPcFile);
    pcClose(f);
    EXPECT_TRUE(std::filesystem::exists(dir.file("\xC2\x81\xC3\xBF")));

    ASSERT_TRUE(writeFile(dir.file("\xCF\x80.txt"), "pi"));
    ASSERT_TRUE(writeFile(dir.file("\xCF\x83.txt"), "sigma"));
    ASSERT_TRUE(writeFile(dir.file("a:b\xFF"), "bad byte"));
    const std::string pi = pcNameFromHost(dir.file("\xCF\x80.txt"));
    const std::string sigma = pcNameFromHost(dir.file("\xCF\x83.txt"));
    EXPECT_EQ(pi, folder + "/_.txt");
    EXPECT_EQ(sigma, folder + "/_~2.txt");
    EXPECT_EQ(pcNameFromHost(dir.file("\xCF\x80.txt")), pi);  // the same file, the same name
    EXPECT_EQ(pcNameFromHost(dir.file("a:b\xFF")), folder + "/a_b_");
    uint64_t size = 0;
    ASSERT_TRUE(pcFileSize(sigma.c_str(), size));
    EXPECT_EQ(size, 5u);
    ASSERT_TRUE(pcFileSize((folder + "/a_b_").c_str(), size));
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(pcHostName(pi), dir.file("\xCF\x80.txt"));
}
#endif
