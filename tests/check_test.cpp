// The consistency checker: volumes made by hfsutils and by classic Mac
// software check clean; each kind of damage done to a clean volume is
// reported by the matching problem; random damage never crashes it; and
// verrin-cli check prints the problems and sets its exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <random>

#include "app/panes.h"
#include "base/rawfile.h"
#include "base/ui_headless.h"
#include "hfs/check.h"
#include "hfs/drive.h"
#include "hfs/internal.h"
#include "hfs/verdict.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

std::string joined(const std::vector<std::string>& lines)
{
    std::string s;
    for (const std::string& l : lines) s += l + "\n";
    return s;
}

// Mounts the image's first volume read-only and checks it.
std::vector<std::string> checkImage(const std::string& path, bool& mounted)
{
    mounted = openImage(path, false) >= 0 && mountAt(0);
    std::vector<std::string> problems;
    if (mounted) problems = checkLines();
    closeAll();
    return problems;
}

// Runs a shell script with hfsutils against the image made current by
// makeHfsImage (the same private HOME).
void hfsScript(const ScratchDir& dir, const std::string& script)
{
    const CommandResult r = runPeer(dir, {"sh", "-c", "set -e; cd '" + dir.path + "'; " + script});
    ASSERT_EQ(r.exitCode, 0) << r.err << r.out;
}

// A volume with folders, many files (several catalog leaves and an index
// level) and a fragmented file whose extents spill into the overflow tree.
void buildBusyVolume(const ScratchDir& dir, const std::string& image, uint32_t kilobytes)
{
    ASSERT_TRUE(makeHfsImage(dir, image, kilobytes, "Busy"));
    hfsScript(dir, "head -c 9000 /dev/urandom > piece; head -c 150000 /dev/urandom > big; echo hello > small;"
                   "hmkdir :Docs; hmkdir :Docs:Deep; hcopy -r small :Docs:Deep:note;"
                   "for i in $(seq 10 69); do hcopy -r small :file$i; done;"
                   "for i in $(seq 10 49); do hcopy -r piece :Docs:p$i; done;"
                   "free=$(hvol | sed -n 's/Volume has \\([0-9]*\\) bytes free/\\1/p');"
                   "head -c $((free - 1024)) /dev/zero > filler; hcopy -r filler :Docs:filler;"
                   "for i in $(seq 10 2 49); do hdel :Docs:p$i; done;"
                   "hcopy -r big :Docs:fragmented; "
                   "hattrib -t TEXT -c ttxt :file10; humount");
}

}  // namespace

TEST(CheckVolume, HfsutilsVolumesOfEverySizeCheckClean)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    // 200003K: the volume length estimated from the MDB ends two sectors
    // beyond the medium, whose own second-to-last sector holds the
    // alternate MDB.
    for (uint32_t kb : {800u, 1440u, 20000u, 200003u}) {
        SCOPED_TRACE(kb);
        const std::string image = dir.file("busy.img");
        buildBusyVolume(dir, image, kb);
        bool mounted = false;
        const auto problems = checkImage(image, mounted);
        ASSERT_TRUE(mounted);
        EXPECT_TRUE(problems.empty()) << joined(problems);
    }
    // The fragmented file really uses the extents-overflow tree.
    ASSERT_GE(openImage(dir.file("busy.img"), false), 0);
    ASSERT_TRUE(mountAt(0));
    EXPECT_GT(read32(volume.extentsHeader->data + bth::nRecs), 0u);
    closeAll();
}

TEST(CheckVolume, CorpusVolumesCheckClean)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    for (const char* name :
         {"hfs/gryphel__3D-Edit-1.5.dsk", "hfs/gryphel__MacGzip_1.1.3_src_c.dsk", "hfs/gryphel__halma-12-c.dsk",
          "hfs/gryphel__jotto-ii-12-c.dsk", "hfs/gryphel__stopwatch1.2.dsk", "hfs/gryphel_blanks__1440K.dsk",
          "hfs/gryphel_blanks__400K.dsk", "hfs/gryphel_blanks__800K.dsk", "hfs/opf__JW_disk9_hfstest_9.img",
          "hfs/gryphel_blanks__080M.dsk.gz", "hfs/behierarchic__manyExtents.img.gz"}) {
        SCOPED_TRACE(name);
        const std::string path = corpusFile(dir, name);
        ASSERT_FALSE(path.empty());
        bool mounted = false;
        const auto problems = checkImage(path, mounted);
        ASSERT_TRUE(mounted);
        EXPECT_TRUE(problems.empty()) << joined(problems);
    }
}

TEST(CheckVolume, CorpusVolumesWithRealFlawsReportExactlyThose)
{
    VERRIN_REQUIRE_CORPUS();
    ScratchDir dir;
    bool mounted = false;
    // The Mac OS 9 volume's "Drive Setup" folder has a thread record whose
    // name differs from the folder's own in its last character.
    auto problems = checkImage(corpusFile(dir, "hfs/behierarchic__complex.img.gz"), mounted);
    ASSERT_TRUE(mounted);
    ASSERT_EQ(problems.size(), 1u) << joined(problems);
    EXPECT_NE(problems[0].find("thread record of the folder 'Drive Setup f' (ID 119)"), std::string::npos);

    // A hybrid ISO 9660 / HFS disc made by genisoimage: the ISO structures
    // occupy allocation blocks that no HFS fork owns, and there is no
    // alternate MDB at the end of the HFS volume.
    problems = checkImage(corpusFile(dir, "hfs/cca__iso9660_hfs.iso"), mounted);
    ASSERT_TRUE(mounted);
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems[0].find("alternate master directory block"), std::string::npos);
    for (size_t i = 1; i < problems.size(); ++i)
        EXPECT_NE(problems[i].find("marked in use in the bitmap but belong"), std::string::npos) << problems[i];
}

namespace {

// Byte positions inside the image of the mounted volume's structures.
size_t volumeByte(uint32_t volumeSector) { return (static_cast<size_t>(volume.startSector) + volumeSector) * 512; }

size_t nodeByte(const BTree& tree, uint32_t node)
{
    uint32_t sector = 0, run = 0;
    EXPECT_TRUE(mapForkSector(*tree.file, dataFork, node, sector, run));
    return volumeByte(sector);
}

// Position of a catalog record's key and data in the image.
struct RecordAt {
    size_t key;
    size_t data;
    uint32_t node;
    uint16_t index;
};

RecordAt catalogRecord(uint32_t parent, const std::string& name)
{
    const std::vector<uint8_t> n = macName(name);
    const RecordPosition pos = findCatalogRecord(catalogRoot(), parent, name.empty() ? nullptr : n.data());
    EXPECT_TRUE(pos.found) << name;
    if (!pos.found) return {};
    const size_t base = nodeByte(catalogTree, pos.node);
    return {base + pos.offset, base + recordDataOffset(pos.buffer, pos.offset), pos.node, pos.index};
}

uint16_t get16(const std::string& s, size_t at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) << 8 | static_cast<uint8_t>(s[at + 1]));
}
uint32_t get32(const std::string& s, size_t at) { return static_cast<uint32_t>(get16(s, at)) << 16 | get16(s, at + 2); }
void set16(std::string& s, size_t at, uint32_t v)
{
    s[at] = static_cast<char>(v >> 8);
    s[at + 1] = static_cast<char>(v);
}
void set32(std::string& s, size_t at, uint32_t v)
{
    set16(s, at, v >> 16);
    set16(s, at + 2, v & 0xFFFF);
}

struct Damage {
    const char* what;
    const char* expected;  // a piece of the matching problem
    // Changes the image bytes; runs while the clean image is mounted.
    std::function<void(std::string& image)> apply;
    const char* absent = nullptr;  // a piece no problem may contain
};

// Byte position of record i's key in a node, from the node's offset table.
size_t recordByte(const std::string& img, size_t node, uint32_t i) { return node + get16(img, node + 510 - 2 * i); }

const Damage damages[] = {
    {"two keys swapped", "keys are out of order",
     [](std::string& img) {
         const RecordAt a = catalogRecord(2, "file20");
         const RecordAt b = catalogRecord(2, "file21");
         ASSERT_EQ(a.node, b.node);
         for (size_t i = 0; i < 6; ++i) std::swap(img[a.key + 7 + i], img[b.key + 7 + i]);
     }},
    {"a leaf's forward link broken", "has forward link",
     [](std::string& img) {
         const uint32_t first = read32(volume.catalogHeader->data + bth::fNode);
         set32(img, nodeByte(catalogTree, first), 0);
     }},
    {"a leaf's backward link broken", "has backward link",
     [](std::string& img) {
         const uint32_t last = read32(volume.catalogHeader->data + bth::lNode);
         set32(img, nodeByte(catalogTree, last) + 4, last);
     }},
    {"an index key differing from its child's first key", "does not equal the first key of its child",
     [](std::string& img) {
         const uint32_t root = read32(volume.catalogHeader->data + bth::root);
         ASSERT_GT(read16(volume.catalogHeader->data + bth::depth), 1u);
         const size_t at = nodeByte(catalogTree, root);
         const size_t second = at + get16(img, at + 510 - 2);  // record 1's key
         img[second + 7] = static_cast<char>(img[second + 7] + 1);
     }},
    {"a wrong folder valence", "has valence",
     [](std::string& img) {
         const RecordAt docs = catalogRecord(2, "Docs");
         set16(img, docs.data + 4, get16(img, docs.data + 4) + 1);
     }},
    {"a thread naming another folder", "thread record of the folder 'Deep'",
     [](std::string& img) {
         CatalogItem item;
         uint32_t parent = 0;
         std::vector<std::vector<uint8_t>> names = {macName("Docs"), macName("Deep")};
         ASSERT_EQ(resolvePath(2, names, parent, item), 1);
         const RecordAt thread = catalogRecord(item.id, "");
         img[thread.data + 14 + 1] = 'K';  // "Keep"
     }},
    {"a folder thread turned into a file thread", "belongs to the folder 'Docs'",
     [](std::string& img) {
         const RecordAt docs = catalogRecord(2, "Docs");
         const RecordAt thread = catalogRecord(get32(img, docs.data + 6), "");
         img[thread.data] = 4;
     }},
    {"a file flagged with a thread it does not have", "flagged as having a thread record",
     [](std::string& img) {
         const RecordAt a = catalogRecord(2, "file12");
         img[a.data + 2] = static_cast<char>(img[a.data + 2] | 0x02);
     }},
    {"a wrong free block count", "drFreeBks",
     [](std::string& img) { set16(img, volumeByte(2) + 34, get16(img, volumeByte(2) + 34) - 1); }},
    {"a wrong file count", "drFilCnt",
     [](std::string& img) { set32(img, volumeByte(2) + 84, get32(img, volumeByte(2) + 84) + 1); }},
    {"a wrong root folder count", "drNmRtDirs",
     [](std::string& img) { set16(img, volumeByte(2) + 82, 0); }},
    {"a block owned twice", "owned by both",
     [](std::string& img) {
         const RecordAt a = catalogRecord(2, "file30");
         const RecordAt b = catalogRecord(2, "file31");
         // file31's data fork now starts where file30's does.
         set16(img, b.data + 74, get16(img, a.data + 74));
     }},
    {"a bitmap bit cleared", "marked free in the bitmap but in use",
     [](std::string& img) {
         const RecordAt a = catalogRecord(2, "file40");
         const uint32_t block = get16(img, a.data + 74);
         const size_t at = volumeByte(volume.bitmapStart + block / 4096) + (block / 8) % 512;
         img[at] = static_cast<char>(img[at] & ~(0x80 >> (block % 8)));
         set16(img, volumeByte(2) + 34, get16(img, volumeByte(2) + 34) + 1);
     }},
    {"a bitmap bit set for a free block", "warning: Allocation block",
     [](std::string& img) {
         const uint32_t block = volume.numBlocks - 1;
         const size_t at = volumeByte(volume.bitmapStart + block / 4096) + (block / 8) % 512;
         img[at] = static_cast<char>(img[at] | (0x80 >> (block % 8)));
         set16(img, volumeByte(2) + 34, get16(img, volumeByte(2) + 34) - 1);
     }},
    {"the MDB and its alternate disagreeing only in the creation date",
     "note: The alternate master directory block differs in drCrDate",
     [](std::string& img) {
         const size_t alt = volumeByte(volume.sizeSectors - 2);
         set32(img, alt + 2, get32(img, alt + 2) + 1);
     }},
    {"the alternate differing only in an unused extent descriptor",
     "note: The alternate master directory block differs in drXTExtRec (only in unused extent descriptors)",
     [](std::string& img) { set16(img, volumeByte(volume.sizeSectors - 2) + 134 + 8, 77); }},
    {"the volume's name differing from the root folder's", "differs from the root folder's name",
     [](std::string& img) { img[volumeByte(2) + 37] = 'X'; }},
    {"a volume name of 28 characters", "is 28 characters long", [](std::string& img) { img[volumeByte(2) + 36] = 28; }},
    {"a header node with a backward link", "header node has the backward link 5 instead of 0",
     [](std::string& img) { set32(img, nodeByte(catalogTree, 0) + 4, 5); }},
    {"a header node with a height", "header node has the height 1 instead of 0",
     [](std::string& img) { img[nodeByte(extentsTree, 0) + 9] = 1; }},
    {"an index record's damaged key length", "has the key length 20 instead of 37",
     [](std::string& img) {
         const size_t root = nodeByte(catalogTree, read32(volume.catalogHeader->data + bth::root));
         img[recordByte(img, root, 1)] = 20;
     },
     "could not be read completely"},
    {"the image one sector short of its last block", "but the volume's last allocation block ends at sector",
     [](std::string& img) {
         img.resize((volume.startSector + volume.allocStart + size_t{volume.numBlocks} * volume.spb - 1) * 512);
     }},
    {"the alternate MDB missing", "alternate master directory block (volume sector",
     [](std::string& img) { set16(img, volumeByte(volume.sizeSectors - 2), 0); }},
    {"a record count off by one", "bthNRecs",
     [](std::string& img) {
         const size_t h = nodeByte(catalogTree, 0);
         set32(img, h + 20, get32(img, h + 20) + 1);
     }},
    {"a free node count off by one", "bthFree",
     [](std::string& img) {
         const size_t h = nodeByte(catalogTree, 0);
         set32(img, h + 40, get32(img, h + 40) - 1);
     }},
    {"a used node marked free in the node map", "marked free in the node map",
     [](std::string& img) {
         const uint32_t leaf = read32(volume.catalogHeader->data + bth::lNode);
         const size_t map = nodeByte(catalogTree, 0) + 248;
         img[map + leaf / 8] = static_cast<char>(img[map + leaf / 8] & ~(0x80 >> (leaf % 8)));
         const size_t h = nodeByte(catalogTree, 0);
         set32(img, h + 40, get32(img, h + 40) + 1);
     }},
    {"a logical length beyond the physical one", "beyond its physical length",
     [](std::string& img) {
         const RecordAt a = catalogRecord(2, "file50");
         set32(img, a.data + 26, get32(img, a.data + 30) + 1);
     }},
    {"a physical length that does not match the extents", "but its extents hold",
     [](std::string& img) {
         const RecordAt a = catalogRecord(2, "file51");
         set32(img, a.data + 30, get32(img, a.data + 30) + read32(volume.mdb->data + mdb::alBlkSiz));
     }},
    {"an ID beyond drNxtCNID", "next free ID",
     [](std::string& img) { set32(img, volumeByte(2) + 30, 20); }},
    {"two items sharing an ID", "is used by both",
     [](std::string& img) {
         const RecordAt a = catalogRecord(2, "file60");
         const RecordAt b = catalogRecord(2, "file61");
         set32(img, b.data + 20, get32(img, a.data + 20));
     }},
    {"a file in a folder that does not exist", "which does not exist",
     [](std::string& img) {
         // The catalog's last record moves to a parent ID beyond every
         // folder's, so that it still sorts last.
         const uint32_t last = read32(volume.catalogHeader->data + bth::lNode);
         const size_t at = nodeByte(catalogTree, last);
         const uint16_t n = get16(img, at + 10);
         const size_t key = at + get16(img, at + 510 - 2 * (n - 1));
         set32(img, key + 2, 0x7FFFFFF0);
     }},
    {"an overflow record out of step", "extents-overflow record starting at block",
     [](std::string& img) {
         const uint32_t first = read32(volume.extentsHeader->data + bth::fNode);
         const size_t rec = nodeByte(extentsTree, first) + 14;
         set16(img, rec + 6, get16(img, rec + 6) + 1);
     }},
};

}  // namespace

TEST(CheckVolume, EachKindOfDamageGivesItsProblem)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string clean = dir.file("clean.img");
    buildBusyVolume(dir, clean, 1440);
    std::string image;
    ASSERT_TRUE(readFile(clean, image));
    const std::string path = dir.file("damaged.img");
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::string damaged = image;
        ASSERT_GE(openImage(clean, false), 0);
        ASSERT_TRUE(mountAt(0));
        d.apply(damaged);
        closeAll();
        if (HasFatalFailure()) return;
        ASSERT_NE(damaged, image);
        ASSERT_TRUE(writeFile(path, damaged));
        bool mounted = false;
        const auto problems = checkImage(path, mounted);
        ASSERT_TRUE(mounted);
        bool matched = false;
        for (const std::string& p : problems) {
            matched = matched || p.find(d.expected) != std::string::npos;
            if (d.absent) {
                EXPECT_EQ(p.find(d.absent), std::string::npos) << p;
            }
        }
        EXPECT_TRUE(matched) << "expected \"" << d.expected << "\" among:\n" << joined(problems);
    }
}

TEST(CheckVolume, RandomDamageIsReportedNeverCrashes)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string clean = dir.file("clean.img");
    buildBusyVolume(dir, clean, 1440);
    std::string image;
    ASSERT_TRUE(readFile(clean, image));
    // The metadata sectors: everything a clean check reads.
    ASSERT_GE(openImage(clean, false), 0);
    ASSERT_TRUE(mountAt(0));
    ASSERT_TRUE(checkLines().empty());
    std::vector<uint32_t> sectors;
    forEachCacheBuffer([&](CacheBuffer* b) { sectors.push_back(b->sector); });
    closeAll();

    const std::string path = dir.file("damaged.img");
    std::mt19937 rng(7);
    int reported = 0, rounds = 0;
    for (int round = 0; round < 200; ++round) {
        std::string damaged = image;
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < flips; ++k) {
            const size_t at = static_cast<size_t>(sectors[rng() % sectors.size()]) * 512 + rng() % 512;
            damaged[at] = static_cast<char>(damaged[at] ^ (1 << (rng() % 8)));
        }
        ASSERT_TRUE(writeFile(path, damaged));
        bool mounted = false;
        const auto problems = checkImage(path, mounted);
        if (!mounted) continue;  // the mount itself refused the damage
        ++rounds;
        if (!problems.empty()) ++reported;
        EXPECT_LE(problems.size(), maxCheckProblems + 1);
    }
    // Many flipped bits land in dates, Finder information or unused bytes,
    // which no check covers; a good share lands in checked fields.
    EXPECT_GT(reported, rounds / 4) << reported << " of " << rounds;
}

TEST(CheckVolume, NothingMountedIsAProblemAndErrorsAreKept)
{
    closeAll();
    const auto problems = checkVolume().findings;
    ASSERT_EQ(problems.size(), 1u);
    lastError = errNameExists;
    checkVolume();
    EXPECT_EQ(lastError, errNameExists);
    lastError = errNone;
}

TEST(CheckCommand, PrintsProblemsAndSetsTheExitCode)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("v.img");
    buildBusyVolume(dir, image, 800);

    CommandResult r = runCli({"check", image});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(": OK: 83 files, 2 folders"), std::string::npos) << r.out;

    std::string clean, bytes;
    ASSERT_TRUE(readFile(image, clean));
    bytes = clean;
    set32(bytes, 1024 + 84, 99);  // drFilCnt
    set16(bytes, 1024 + 82, 7);   // drNmRtDirs
    ASSERT_TRUE(writeFile(image, bytes));
    r = runCli({"check", image + "#1"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out,
              "The volume's file count (drFilCnt) is 99, but the catalog holds 83 files.\n"
              "The root folder count (drNmRtDirs) is 7, but the root folder holds 1 folder.\n");
    EXPECT_NE(r.err.find("2 problems found"), std::string::npos);

    // Space marked in use that no fork owns is a warning: sound unless --strict.
    bytes = clean;
    const uint32_t last = get16(bytes, 1024 + 18) - 1u;
    const size_t bit = get16(bytes, 1024 + 14) * 512u + last / 8;
    bytes[bit] = static_cast<char>(bytes[bit] | (0x80 >> (last % 8)));
    set16(bytes, 1024 + 34, get16(bytes, 1024 + 34) - 1u);
    ASSERT_TRUE(writeFile(image, bytes));
    r = runCli({"check", image});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_NE(r.out.find("warning: Allocation block " + std::to_string(last) + " is marked in use in the bitmap but "
                         "belongs to no fork.\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(": OK: 83 files"), std::string::npos);
    EXPECT_EQ(runCli({"check", "--strict", image}).exitCode, 1);

    // A volume that cannot be mounted: which structure and node.
    bytes = clean;
    const size_t catalogHeader =
        (get16(bytes, 1024 + 28) + get16(bytes, 1024 + 150) * (get32(bytes, 1024 + 20) / 512)) * 512u;
    bytes[catalogHeader + 8] = 0;
    ASSERT_TRUE(writeFile(image, bytes));
    r = runCli({"check", image});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Disk may be corrupt. (Use a disk diagnostic on the Mac.) The catalog B-tree's header node "
                         "(node 0) has the node type 0 instead of 1."),
              std::string::npos)
        << r.err;

    r = runCli({"check", "--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("usage: verrin-cli check [--strict] [--json] IMAGE[#N]"), std::string::npos);
    r = runCli({"check"});
    EXPECT_EQ(r.exitCode, 2);
    r = runCli({"check", dir.file("missing.img")});
    EXPECT_EQ(r.exitCode, 1);
}

TEST(ChangeGuard, DamagedVolumesRefuseEveryChangeAndForcedChangesLeaveWhatIsInUseAlone)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string clean = dir.file("clean.img");
    buildBusyVolume(dir, clean, 1440);
    std::string image;
    ASSERT_TRUE(readFile(clean, image));
    std::vector<WalkedItem> files;
    ASSERT_GE(openImage(clean, false), 0);
    ASSERT_TRUE(mountAt(0));
    ASSERT_TRUE(walkVolume(files));
    std::vector<std::string> contents;
    for (const WalkedItem& f : files) {
        contents.emplace_back();
        if (f.item.kind == cdrFile) {
            ASSERT_TRUE(readWholeFork(f.parentId, f.item.name, dataFork, contents.back()));
        }
    }
    closeAll();
    const std::string pcFile = dir.file("new.txt");
    ASSERT_TRUE(writeFile(pcFile, std::string(20000, 'n')));

    const Damage damages[] = {
        {"bitmap bits cleared under a file", "marked free in the bitmap but in use",
         [](std::string& img) {
             const RecordAt a = catalogRecord(2, "file10");
             for (uint32_t i = 0; i < get16(img, a.data + 76); ++i) {
                 const uint32_t block = get16(img, a.data + 74) + i;
                 const size_t at = volumeByte(volume.bitmapStart + block / 4096) + (block / 8) % 512;
                 img[at] = static_cast<char>(img[at] & ~(0x80 >> (block % 8)));
                 set16(img, volumeByte(2) + 34, get16(img, volumeByte(2) + 34) + 1);
             }
         }},
        {"drNxtCNID below an ID in use", "next free ID", [](std::string& img) { set32(img, volumeByte(2) + 30, 20); }},
        {"a damaged extent record", "owned by both",
         [](std::string& img) {
             const RecordAt a = catalogRecord(2, "file30");
             set16(img, catalogRecord(2, "file31").data + 74, get16(img, a.data + 74));
         }},
        {"a sibling-link loop", "has forward link",
         [](std::string& img) {
             const uint32_t first = read32(volume.catalogHeader->data + bth::fNode);
             set32(img, nodeByte(catalogTree, read32(volume.catalogHeader->data + bth::lNode)), first);
         }},
    };
    const std::string path = dir.file("damaged.img");
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        std::string damaged = image;
        ASSERT_GE(openImage(clean, false), 0);
        ASSERT_TRUE(mountAt(0));
        d.apply(damaged);
        closeAll();
        ASSERT_TRUE(writeFile(path, damaged));

        // Every changing command refuses in one line and writes nothing.
        for (const std::vector<std::string>& command :
             std::vector<std::vector<std::string>>{{"mkdir", path, "Docs:New"},
                                                   {"put", path, ":", pcFile},
                                                   {"rm", path, "file12"},
                                                   {"rename", path, "file13", "renamed"},
                                                   {"settype", path, "file14", "ABCD", "EFGH"}}) {
            const CommandResult r = runCli(command);
            EXPECT_EQ(r.exitCode, 1) << command[0];
            EXPECT_NE(r.err.find(": not changed: the volume is damaged"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(d.expected), std::string::npos) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
            std::string now;
            ASSERT_TRUE(readFile(path, now));
            EXPECT_TRUE(now == damaged) << command[0];
        }

        // Forced, a put and a mkdir take no block, node or ID in use, and
        // every file there was still reads as it did.
        ASSERT_EQ(openImage(path, false), 0);
        ASSERT_TRUE(mountAt(0));
        const std::vector<std::string> before = checkLines();
        closeAll();
        CommandResult r = runCli({"put", "--force", path, "Docs", pcFile});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        r = runCli({"mkdir", "--force", path, "Docs:Newer"});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        ASSERT_EQ(openImage(path, false), 0);
        ASSERT_TRUE(mountAt(0));
        for (size_t i = 0; i < files.size(); ++i) {
            std::string data;
            if (files[i].item.kind != cdrFile) continue;
            EXPECT_TRUE(readWholeFork(files[i].parentId, files[i].item.name, dataFork, data)) << files[i].path;
            EXPECT_TRUE(data == contents[i]) << files[i].path;
        }
        for (const std::string& line : checkLines()) {
            if (std::find(before.begin(), before.end(), line) != before.end()) continue;
            for (const char* harm : {"owned by both", "used by both", "free in the bitmap but in use", "next free ID",
                                     "reached a second time", "marked free in the node map"}) {
                EXPECT_EQ(line.find(harm), std::string::npos) << line;
            }
        }
        closeAll();
    }

    // The window asks when it opens the volume: No keeps it read-only (and
    // still shown), Yes lets it be changed.
    for (const int answer : {uiAnswerNo, uiAnswerYes}) {
        const int drive = openImage(path, true);
        ASSERT_GE(drive, 0);
        ASSERT_TRUE(chooseMacDrive(drive));
        headless::reset();
        headless::scriptedAnswers = {answer};
        openMacEntry(0);
        ASSERT_TRUE(volume.mounted);
        ASSERT_EQ(headless::shown.size(), 1u);
        EXPECT_EQ(headless::shown[0].caption, damagedVolumeCaption);
        EXPECT_NE(headless::shown[0].text.find("has forward link"), std::string::npos) << headless::shown[0].text;
        createFolder(macName("Asked").data());
        EXPECT_EQ(lastError, answer == uiAnswerNo ? errVolumeReadOnly : errNone);
        lastError = errNone;
        closeMacPane();
        closeAll();
    }
}

// A volume found sound is remembered until something else writes to it:
// changed by this program it is not checked again; changed by hfsutils,
// or rewritten in place by another program right after our change, it
// is; with a byte of its catalog changed in place right after, it is
// checked and refused, and a change forced onto it leaves nothing that
// vouches for it.
TEST(ChangeGuard, RemembersASoundVolumeUntilSomethingElseWritesToIt)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string path = dir.file("vol.img");
    buildBusyVolume(dir, path, 1440);
    verdictFolder = dir.file("verdicts");
    // Opens the volume for writing and returns what the guard decided.
    const auto guarded = [&](DamagedVolumeAnswer answer) {
        EXPECT_EQ(openImage(path, true), 0);
        EXPECT_TRUE(mountAt(0));
        return guardChanges(answer);
    };
    const auto changeAndClose = [](const char* folder) {
        createFolder(macName(folder).data());
        flushVolume();
        EXPECT_EQ(lastError, errNone);
        closeAll();
    };

    ChangeGuard g = guarded(DamagedVolumeAnswer::refuse);
    EXPECT_TRUE(g.checked && g.writable);
    changeAndClose("First");
    g = guarded(DamagedVolumeAnswer::refuse);
    EXPECT_TRUE(!g.checked && g.writable);
    changeAndClose("Second");

    // Another program's write that changes no byte, at once: within the
    // same tick of the file system's clock as our last write (the image's
    // sync is off, so nothing waits between them), only the stamp tells
    // it. Each close leaves one that any write changes: sealed (a
    // modification time before the change time, which no write sets) or
    // already passed by the clock. (Rounds: a close slowed by a busy
    // machine lets the clock pass the stamp by itself.)
    g = guarded(DamagedVolumeAnswer::refuse);
    EXPECT_TRUE(!g.checked && g.writable);
    for (int round = 0; round < 5; ++round) {
        driveTable[0].sync = nullptr;
        changeAndClose(("Unsynced " + std::to_string(round)).c_str());
        FileStamp stamp{};
        const RawFile imageFile = openRawFile(path.c_str(), RawOpen::read);
        ASSERT_TRUE(rawFileStamp(imageFile, stamp));
        closeRawFile(imageFile);
        EXPECT_TRUE(stamp.modified < stamp.changed || rawFileStampSettled(stamp, 0));
        {
            std::fstream other(path, std::ios::in | std::ios::out | std::ios::binary);
            char first = 0;
            other.get(first);
            other.seekp(0);
            other.put(first);
        }
        g = guarded(DamagedVolumeAnswer::refuse);
        EXPECT_TRUE(g.checked && g.writable);
    }
    closeAll();

    // hfsutils' change is checked; the read-only checker's verdict counts.
    hfsScript(dir, "hmount vol.img >/dev/null; hcopy -r small :copied; humount");
    g = guarded(DamagedVolumeAnswer::refuse);
    EXPECT_TRUE(g.checked && g.writable);
    closeAll();
    ASSERT_EQ(openImage(path, false), 0);
    ASSERT_TRUE(mountAt(0));
    EXPECT_TRUE(checkLines().empty());
    closeAll();
    g = guarded(DamagedVolumeAnswer::refuse);
    EXPECT_TRUE(!g.checked && g.writable);

    // The last leaf's forward link turned back to the first leaf, at once.
    std::string image;
    ASSERT_TRUE(readFile(path, image));
    set32(image, nodeByte(catalogTree, read32(volume.catalogHeader->data + bth::lNode)),
          read32(volume.catalogHeader->data + bth::fNode));
    closeAll();
    ASSERT_TRUE(writeFile(path, image));
    g = guarded(DamagedVolumeAnswer::refuse);
    EXPECT_TRUE(g.checked && g.damaged && !g.writable);
    closeAll();

    g = guarded(DamagedVolumeAnswer::force);
    EXPECT_TRUE(g.checked && g.writable);
    changeAndClose("Forced");
    g = guarded(DamagedVolumeAnswer::refuse);
    EXPECT_TRUE(g.checked && !g.writable);
    closeAll();
    verdictFolder.clear();
}
