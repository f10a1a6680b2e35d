// Volumes made by hfsutils read back exactly: every folder lists as hls
// shows it (names, kinds, types, creators, fork sizes, item counts) and
// every fork read equals what hcopy extracts.
#include <gtest/gtest.h>

#include "support/interop.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

bool everyFile(const std::string&) { return true; }
bool outsideBigFolder(const std::string& p) { return p.rfind("Many:", 0) != 0 || p.ends_with("00"); }

}  // namespace

TEST(HfsutilsInterop, DiskettesWithNestedFoldersAndResourceForks)
{
    VERRIN_REQUIRE_PEER("hformat");
    for (const uint32_t kb : {1440u, 800u}) {
        SCOPED_TRACE(kb);
        ScratchDir dir;
        const std::string image = dir.file("d.img");
        ASSERT_TRUE(makeHfsImage(dir, image, kb, "Disk " + std::to_string(kb)));
        runHfs(dir, {"hmkdir", ":Outer"});
        runHfs(dir, {"hmkdir", ":Outer:Inner Folder"});
        runHfs(dir, {"hmkdir", ":Outer:Inner Folder:Deepest"});
        for (int i = 0; i < 6; ++i) {
            const std::string f = dir.file("f" + std::to_string(i));
            ASSERT_TRUE(writeFile(f, testPattern(static_cast<size_t>(i) * 7919 + (i == 5 ? 0 : 1), i)));
            const char* where[] = {":", ":Outer:", ":Outer:Inner Folder:", ":Outer:Inner Folder:Deepest:"};
            runHfs(dir, {"hcopy", "-r", f, std::string(where[i % 4]) + "file " + std::to_string(i)});
        }
        runHfs(dir, {"hattrib", "-t", "TEXT", "-c", "ttxt", ":file 0"});
        // Files with resource forks, from real BinHex files.
        if (!corpusDir().empty())
            for (const char* hqx : {"hqx/nethack__mrecover.hqx", "hqx/nethack__machelp.hqx"}) {
                const std::string src = corpusFile(dir, hqx);
                runHfs(dir, {"hcopy", "-b", src, ":Outer:"});
            }
        expectSameAsHfsutils(dir, image, everyFile);
    }
}

TEST(HfsutilsInterop, HardDiskImagesWithAThousandsFileFolderAndFragmentedFiles)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("hd.img");
    ASSERT_TRUE(makeHfsImage(dir, image, 20 * 1024, "Twenty"));

    // 3,000 files in one folder give the catalog index levels.
    runHfs(dir, {"hmkdir", ":Many"});
    const std::string src = dir.file("small");
    std::vector<std::string> batch;
    for (int i = 0; i < 3000; ++i) {
        const std::string f = dir.file("m" + std::to_string(i));
        ASSERT_TRUE(writeFile(f, testPattern(static_cast<size_t>(i % 37), i)));
        batch.push_back(f);
        if (batch.size() == 500) {
            batch.insert(batch.begin(), {"hcopy", "-r"});
            batch.push_back(":Many:");
            runHfs(dir, batch);
            batch.clear();
        }
    }
    // Fragmented files: fill the volume with small files, delete every other
    // one, then copy files larger than any gap, so their forks need
    // extents-overflow records.
    runHfs(dir, {"hmkdir", ":Frag"});
    const std::string chunk = dir.file("chunk");
    ASSERT_TRUE(writeFile(chunk, testPattern(3000, 7)));
    std::vector<std::string> fill = {"hcopy", "-r"};
    std::vector<std::string> names;
    for (int i = 0; i < 400; ++i) {
        const std::string f = dir.file("c" + std::to_string(i));
        ASSERT_TRUE(writeFile(f, testPattern(3000, static_cast<unsigned>(i))));
        fill.push_back(f);
        names.push_back(":Frag:c" + std::to_string(i));
    }
    fill.push_back(":Frag:");
    runHfs(dir, fill);
    std::vector<std::string> del = {"hdel"};
    for (size_t i = 0; i < names.size(); i += 2) del.push_back(names[i]);
    runHfs(dir, del);
    for (int i = 0; i < 3; ++i) {
        const std::string big = dir.file("big" + std::to_string(i));
        ASSERT_TRUE(writeFile(big, testPattern(120000 + static_cast<size_t>(i) * 5000, 99 + static_cast<unsigned>(i))));
        runHfs(dir, {"hcopy", "-r", big, ":Frag:"});
    }
    expectSameAsHfsutils(dir, image, outsideBigFolder);
    // The fragmented forks really do live partly in the extents-overflow tree.
    ASSERT_GE(openImage(image, false), 0);
    ASSERT_TRUE(mountAt(0));
    EXPECT_GT(read32(volume.extentsHeader->data + 20), 0u);
    closeAll();
}

TEST(HfsutilsInterop, TwoHundredMegabyteVolume)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("big.img");
    ASSERT_TRUE(makeHfsImage(dir, image, 200 * 1024, "Big Volume"));
    const std::string f = dir.file("payload");
    ASSERT_TRUE(writeFile(f, testPattern(3 * 1024 * 1024 + 17, 5)));
    runHfs(dir, {"hmkdir", ":Data"});
    runHfs(dir, {"hcopy", "-r", f, ":Data:payload"});
    runHfs(dir, {"hcopy", "-r", f, ":copy"});
    expectSameAsHfsutils(dir, image, everyFile);
}
