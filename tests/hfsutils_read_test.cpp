// Volumes made by hfsutils read back exactly: every folder lists as hls
// shows it (names, kinds, types, creators, fork sizes, item counts) and
// every fork read equals what hcopy extracts.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "support/peers.h"
#include "support/volumes.h"
#include "transfer/macroman.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

struct Listed {
    char kind;  // 'f' or 'd'
    std::string type, creator;
    uint32_t rsrc = 0, data = 0, items = 0;
};
using Listing = std::map<std::string, Listed>;  // full path -> entry

// Parses `hls -laR` output: the root's entries, then ":Path:" headings.
Listing parseHls(const std::string& text)
{
    Listing out;
    const std::regex file(R"(^[fF][ i]?\s+(.{4})/(.{4})\s+(\d+)\s+(\d+) \w{3} [ \d]\d [ \d:]{5} (.*)$)");
    const std::regex folder(R"(^d[ i]?\s+(\d+) items?\s+\w{3} [ \d]\d [ \d:]{5} (.*)$)");
    std::istringstream in(text);
    std::string line, prefix;
    while (std::getline(in, line)) {
        std::smatch m;
        if (line.size() > 1 && line.front() == ':' && line.back() == ':') {
            prefix = line.substr(1, line.size() - 2);
            continue;
        }
        const auto full = [&](const std::string& name) { return prefix.empty() ? name : prefix + ":" + name; };
        if (std::regex_match(line, m, file)) {
            Listed l{'f', m[1], m[2], static_cast<uint32_t>(std::stoul(m[3])),
                     static_cast<uint32_t>(std::stoul(m[4])), 0};
            out[full(m[5])] = l;
        } else if (std::regex_match(line, m, folder)) {
            Listed l{'d', "", "", 0, 0, static_cast<uint32_t>(std::stoul(m[1]))};
            out[full(m[2])] = l;
        }
    }
    return out;
}

Listing engineListing(const std::vector<WalkedItem>& items)
{
    Listing out;
    for (const WalkedItem& w : items) {
        Listed l;
        l.kind = w.item.kind == cdrFolder ? 'd' : 'f';
        if (l.kind == 'f') {
            l.type = macRomanToUtf8(w.item.finderInfo, 4);
            l.creator = macRomanToUtf8(w.item.finderInfo + 4, 4);
            l.rsrc = w.item.rsrcLength;
            l.data = w.item.dataLength;
        } else {
            l.items = w.item.valence;
        }
        out[w.path] = l;
    }
    return out;
}

std::string describe(const Listing& l)
{
    std::ostringstream s;
    for (const auto& [path, e] : l)
        s << e.kind << ' ' << e.type << '/' << e.creator << ' ' << e.rsrc << ' ' << e.data << ' ' << e.items << ' '
          << path << '\n';
    return s.str();
}

std::string pattern(size_t bytes, unsigned seed)
{
    std::string s(bytes, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

// Runs an hfsutils command and fails the test when it does not succeed.
void hfs(const ScratchDir& dir, const std::vector<std::string>& argv)
{
    const CommandResult r = runPeer(dir, argv);
    ASSERT_EQ(r.exitCode, 0) << argv[0] << " " << (argv.size() > 1 ? argv[1] : "") << ": " << r.err;
}

// Compares the engine's view of the whole volume with hls, and the forks of
// the files whose paths satisfy `sample` with what hcopy extracts.
void compareWithHfsutils(const ScratchDir& dir, const std::string& image, bool (*sample)(const std::string&))
{
    const CommandResult ls = runPeer(dir, {"hls", "-laR"});
    ASSERT_EQ(ls.exitCode, 0) << ls.err;
    const Listing expected = parseHls(ls.out);

    ASSERT_GE(openImage(image, false), 0) << errorText(lastError);
    ASSERT_TRUE(mountAt(0)) << errorText(lastError);
    std::vector<WalkedItem> items;
    ASSERT_TRUE(walkVolume(items)) << errorText(lastError);
    const Listing actual = engineListing(items);
    ASSERT_EQ(describe(actual), describe(expected));

    int compared = 0;
    for (const WalkedItem& w : items) {
        if (w.item.kind != cdrFile || !sample(w.path)) continue;
        SCOPED_TRACE(w.path);
        std::string data, rsrc, want;
        ASSERT_TRUE(readWholeFork(w.parentId, w.item.name, dataFork, data));
        ASSERT_TRUE(readWholeFork(w.parentId, w.item.name, resourceFork, rsrc));
        const std::string out = dir.file("fork.out");
        hfs(dir, {"hcopy", "-r", ":" + w.path, out});
        ASSERT_TRUE(readFile(out, want));
        EXPECT_TRUE(data == want) << "data fork differs";
        if (w.item.rsrcLength > 0) {
            // MacBinary: 128-byte header, data padded to 128, then the resource fork.
            hfs(dir, {"hcopy", "-m", ":" + w.path, out});
            ASSERT_TRUE(readFile(out, want));
            const size_t at = 128 + (w.item.dataLength + 127) / 128 * 128;
            ASSERT_GE(want.size(), at + rsrc.size());
            EXPECT_TRUE(want.compare(at, rsrc.size(), rsrc) == 0) << "resource fork differs";
        }
        ++compared;
    }
    EXPECT_GT(compared, 0);
    closeAll();
}

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
        hfs(dir, {"hmkdir", ":Outer"});
        hfs(dir, {"hmkdir", ":Outer:Inner Folder"});
        hfs(dir, {"hmkdir", ":Outer:Inner Folder:Deepest"});
        for (int i = 0; i < 6; ++i) {
            const std::string f = dir.file("f" + std::to_string(i));
            ASSERT_TRUE(writeFile(f, pattern(static_cast<size_t>(i) * 7919 + (i == 5 ? 0 : 1), i)));
            const char* where[] = {":", ":Outer:", ":Outer:Inner Folder:", ":Outer:Inner Folder:Deepest:"};
            hfs(dir, {"hcopy", "-r", f, std::string(where[i % 4]) + "file " + std::to_string(i)});
        }
        hfs(dir, {"hattrib", "-t", "TEXT", "-c", "ttxt", ":file 0"});
        // Files with resource forks, from real BinHex files.
        if (!corpusDir().empty())
            for (const char* hqx : {"hqx/nethack__mrecover.hqx", "hqx/nethack__machelp.hqx"}) {
                const std::string src = corpusFile(dir, hqx);
                hfs(dir, {"hcopy", "-b", src, ":Outer:"});
            }
        compareWithHfsutils(dir, image, everyFile);
    }
}

TEST(HfsutilsInterop, HardDiskImagesWithAThousandsFileFolderAndFragmentedFiles)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("hd.img");
    ASSERT_TRUE(makeHfsImage(dir, image, 20 * 1024, "Twenty"));

    // 3,000 files in one folder give the catalog index levels.
    hfs(dir, {"hmkdir", ":Many"});
    const std::string src = dir.file("small");
    std::vector<std::string> batch;
    for (int i = 0; i < 3000; ++i) {
        const std::string f = dir.file("m" + std::to_string(i));
        ASSERT_TRUE(writeFile(f, pattern(static_cast<size_t>(i % 37), i)));
        batch.push_back(f);
        if (batch.size() == 500) {
            batch.insert(batch.begin(), {"hcopy", "-r"});
            batch.push_back(":Many:");
            hfs(dir, batch);
            batch.clear();
        }
    }
    // Fragmented files: fill the volume with small files, delete every other
    // one, then copy files larger than any gap, so their forks need
    // extents-overflow records.
    hfs(dir, {"hmkdir", ":Frag"});
    const std::string chunk = dir.file("chunk");
    ASSERT_TRUE(writeFile(chunk, pattern(3000, 7)));
    std::vector<std::string> fill = {"hcopy", "-r"};
    std::vector<std::string> names;
    for (int i = 0; i < 400; ++i) {
        const std::string f = dir.file("c" + std::to_string(i));
        ASSERT_TRUE(writeFile(f, pattern(3000, static_cast<unsigned>(i))));
        fill.push_back(f);
        names.push_back(":Frag:c" + std::to_string(i));
    }
    fill.push_back(":Frag:");
    hfs(dir, fill);
    std::vector<std::string> del = {"hdel"};
    for (size_t i = 0; i < names.size(); i += 2) del.push_back(names[i]);
    hfs(dir, del);
    for (int i = 0; i < 3; ++i) {
        const std::string big = dir.file("big" + std::to_string(i));
        ASSERT_TRUE(writeFile(big, pattern(120000 + static_cast<size_t>(i) * 5000, 99 + static_cast<unsigned>(i))));
        hfs(dir, {"hcopy", "-r", big, ":Frag:"});
    }
    compareWithHfsutils(dir, image, outsideBigFolder);
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
    ASSERT_TRUE(writeFile(f, pattern(3 * 1024 * 1024 + 17, 5)));
    hfs(dir, {"hmkdir", ":Data"});
    hfs(dir, {"hcopy", "-r", f, ":Data:payload"});
    hfs(dir, {"hcopy", "-r", f, ":copy"});
    compareWithHfsutils(dir, image, everyFile);
}
