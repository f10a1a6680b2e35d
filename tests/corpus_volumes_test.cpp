// Real volumes made by classic Mac software: every image of the corpus (raw
// or DiskCopy 4.2) is scanned, mounted and walked, every fork is read, and the counts and
// byte totals agree with what the corpus records for it.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "base/macroman.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

struct Expected {
    std::string file;
    std::string name;
    uint32_t files, folders;
    uint64_t dataBytes, rsrcBytes;
};

// Reads the "independent" catalog walk recorded for each HFS image.
std::vector<Expected> expectedVolumes()
{
    std::vector<Expected> out;
    std::ifstream in(corpusDir() + "/manifest.json");
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string text = ss.str();
    const std::regex walk(
        R"re(name='([^']*)'.*?catalog\(files=(\d+),dirs_incl_root=(\d+)\) data_bytes=(\d+) rsrc_bytes=(\d+))re");
    const std::regex dest(R"re("dest": "([^"]+)")re");
    // One object per corpus file; each starts with its "sub" folder.
    const std::string marker = "\"sub\": \"";
    for (size_t at = text.find(marker); at != std::string::npos;) {
        const size_t next = text.find(marker, at + 1);
        const std::string body = text.substr(at, next == std::string::npos ? std::string::npos : next - at);
        at = next;
        std::smatch d, m;
        if (body.compare(marker.size(), 4, "hfs\"") != 0 || !std::regex_search(body, d, dest)) continue;
        const std::string file = d[1];
        if (!std::regex_search(body, m, walk)) continue;
        out.push_back({"hfs/" + file, m[1], static_cast<uint32_t>(std::stoul(m[2])),
                       static_cast<uint32_t>(std::stoul(m[3])) - 1, std::stoull(m[4]), std::stoull(m[5])});
    }
    return out;
}

}  // namespace

TEST(CorpusVolumes, EveryImageMountsListsAndReadsAsRecorded)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    const std::vector<Expected> volumes = expectedVolumes();
    ASSERT_GE(volumes.size(), 10u);
    for (const Expected& e : volumes) {
        SCOPED_TRACE(e.file);
        const std::string path = corpusFile(dir, e.file);
        if (path.empty()) continue;  // a .gz file where gzip is unavailable
        ASSERT_GE(openImage(path, false), 0);
        ASSERT_EQ(lastError, errNone) << errorText(lastError);
        ASSERT_EQ(volumeCount, 1);
        EXPECT_EQ(macNameToUtf8(volumeList[0].name), e.name);
        ASSERT_TRUE(mountAt(0)) << errorText(lastError);
        std::vector<WalkedItem> items;
        ASSERT_TRUE(walkVolume(items)) << errorText(lastError);
        uint32_t files = 0, folders = 0;
        uint64_t dataBytes = 0, rsrcBytes = 0;
        for (const WalkedItem& w : items) {
            if (w.item.kind == cdrFolder) {
                ++folders;
                continue;
            }
            ++files;
            std::string data, rsrc;
            ASSERT_TRUE(readWholeFork(w.parentId, w.item.name, dataFork, data)) << w.path;
            ASSERT_TRUE(readWholeFork(w.parentId, w.item.name, resourceFork, rsrc)) << w.path;
            EXPECT_EQ(data.size(), w.item.dataLength) << w.path;
            EXPECT_EQ(rsrc.size(), w.item.rsrcLength) << w.path;
            dataBytes += data.size();
            rsrcBytes += rsrc.size();
        }
        EXPECT_EQ(files, e.files);
        EXPECT_EQ(folders, e.folders);
        EXPECT_EQ(dataBytes, e.dataBytes);
        EXPECT_EQ(rsrcBytes, e.rsrcBytes);
        closeAll();
    }
}

TEST(CorpusVolumes, PartitionMapHeadsWithoutVolumeDataFailCleanly)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    struct Case {
        const char* file;
        uint16_t ratio;
    };
    // The first has a map of 512-byte blocks, the second one of 2048-byte
    // blocks; neither holds the volumes the map points at.
    for (const Case& c : {Case{"hfs/node-apm__mac-os-disk-utility.apm-head.bin", 1},
                          Case{"hfs/node-apm__mac-osx-snow-leopard.apm-head.bin", 4}}) {
        SCOPED_TRACE(c.file);
        const std::string path = corpusFile(dir, c.file);
        ASSERT_FALSE(path.empty());
        ASSERT_GE(openImage(path, false), 0);
        EXPECT_EQ(blockRatio, c.ratio);
        EXPECT_TRUE(lastError == errMacRead || lastError == errNoHfsVolume) << lastError;
        closeAll();
    }
}
