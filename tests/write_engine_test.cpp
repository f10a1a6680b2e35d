// The write side of the engine on real volumes made by hformat: B-tree
// splits, shifts into the left sibling and collapse; extents-overflow
// records made and released; catalogs of ten thousand files (which need
// map nodes and clump growth); a full volume and the revert after it.
// Every volume is checked structurally and, where it matters, read back by
// hfsutils.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "hfs/internal.h"
#include "support/interop.h"
#include "support/peers.h"
#include "support/volumes.h"

using namespace verrin;
using namespace verrin::testsupport;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr int scale = 2000;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
constexpr int scale = 2000;
#else
constexpr int scale = 10000;
#endif
#else
constexpr int scale = 10000;
#endif

// A fresh hformat volume, mounted writable.
bool freshVolume(const ScratchDir& dir, const std::string& image, uint32_t kb)
{
    if (!makeHfsImage(dir, image, kb, "Engine")) return false;
    if (openImage(image, true) < 0 || !mountAt(0)) return false;
    return enterFolder(2);
}

uint32_t header32(CacheBuffer* h, uint32_t field) { return read32(h->data + field); }

// A record for the extents tree of `size` bytes whose key is (fileId, data
// fork, FABN 0): the engine moves records by their size, whatever it is.
std::vector<uint8_t> record(uint32_t fileId, uint16_t size)
{
    std::vector<uint8_t> r(size, 0);
    r[0] = 7;
    write32(r.data() + 2, fileId);
    if (size > 8) r[size - 1] = static_cast<uint8_t>(fileId);
    return r;
}
std::vector<uint8_t> key(uint32_t fileId) { return std::vector<uint8_t>(record(fileId, 8)); }

uint32_t firstKeyId(uint32_t node)
{
    CacheBuffer* b = readNode(extentsTree, node);
    return b ? read32(b->data + recordOffset(b, 0) + 2) : 0;
}

FileInfo fileInfo(const std::string& name, const char* type = "TEXT", const char* creator = "ttxt")
{
    FileInfo info{};
    const std::vector<uint8_t> n = macName(name);
    std::memcpy(info.name, n.data(), n.size());
    std::memcpy(info.finderInfo, type, 4);
    std::memcpy(info.finderInfo + 4, creator, 4);
    return info;
}

FileRef openRef(const std::string& name)
{
    const std::vector<uint8_t> n = macName(name);
    FileRef ref = openFileRef(currentFolderId, n.data());
    pinBuffer(ref.buffer);
    return ref;
}

void append(FileRef& ref, uint8_t fork, const std::string& bytes)
{
    WriteRequest w{fork, ref, forkLogicalLength(ref, fork), reinterpret_cast<const uint8_t*>(bytes.data()),
                   static_cast<uint32_t>(bytes.size())};
    appendToFork(w);
}

}  // namespace

TEST(BTreeWrite, SplitShiftAndCollapseOfTheExtentsTree)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    ASSERT_TRUE(freshVolume(dir, dir.file("b.img"), 1440));
    CacheBuffer* h = volume.extentsHeader;
    ASSERT_EQ(header32(h, bth::root), 0u);

    // The first record makes a single root leaf.
    std::vector<uint8_t> r = record(10, 66);
    treeInsert(extentsTree, r.data(), 66);
    ASSERT_EQ(lastError, errNone);
    const uint32_t firstLeaf = header32(h, bth::root);
    EXPECT_NE(firstLeaf, 0u);
    EXPECT_EQ(read16(h->data + bth::depth), 1);
    EXPECT_EQ(header32(h, bth::fNode), firstLeaf);
    EXPECT_EQ(header32(h, bth::lNode), firstLeaf);
    EXPECT_EQ(header32(h, bth::nRecs), 1u);

    // Seven 66-byte records fill the leaf; the eighth, at index 2, splits it
    // into a new left leaf of 4 (three old and the new one) and the old of 4.
    for (uint32_t id : {20u, 30u, 40u, 50u, 60u, 70u}) treeInsert(extentsTree, record(id, 66).data(), 66);
    ASSERT_EQ(header32(h, bth::root), firstLeaf);
    treeInsert(extentsTree, record(25, 66).data(), 66);
    ASSERT_EQ(lastError, errNone);
    const uint32_t root = header32(h, bth::root);
    EXPECT_EQ(read16(h->data + bth::depth), 2);
    const uint32_t newLeaf = header32(h, bth::fNode);
    EXPECT_NE(newLeaf, firstLeaf);
    EXPECT_EQ(header32(h, bth::lNode), firstLeaf);
    CacheBuffer* left = readNode(extentsTree, newLeaf);
    ASSERT_NE(left, nullptr);
    EXPECT_EQ(nodeRecords(left), 4);
    EXPECT_EQ(read32(left->data + recordOffset(left, 2) + 2), 25u);
    EXPECT_EQ(nodeRecords(readNode(extentsTree, firstLeaf)), 4);
    CacheBuffer* rootNode = readNode(extentsTree, root);
    ASSERT_NE(rootNode, nullptr);
    EXPECT_EQ(nodeRecords(rootNode), 2);
    EXPECT_EQ(nodeHeight(rootNode), 2);
    EXPECT_EQ(verifyTree(false), "");

    // Fill the right leaf, then one more: its first record moves to the end
    // of the left sibling instead of a split, and the root's key follows.
    for (uint32_t id : {80u, 90u, 100u}) treeInsert(extentsTree, record(id, 66).data(), 66);
    const uint32_t nodesInUse = header32(h, bth::nNodes) - header32(h, bth::freeNodes);
    treeInsert(extentsTree, record(110, 66).data(), 66);
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(header32(h, bth::nNodes) - header32(h, bth::freeNodes), nodesInUse) << "a node was split";
    EXPECT_EQ(nodeRecords(readNode(extentsTree, newLeaf)), 5);
    EXPECT_EQ(firstKeyId(firstLeaf), 50u);
    rootNode = readNode(extentsTree, root);
    EXPECT_EQ(read32(rootNode->data + recordOffset(rootNode, 1) + 2), 50u);
    EXPECT_EQ(verifyTree(false), "");

    // A key that exists is refused and changes nothing.
    treeInsert(extentsTree, record(50, 66).data(), 66);
    EXPECT_EQ(lastError, errNameExists);
    lastError = errNone;
    EXPECT_EQ(header32(h, bth::nRecs), 12u);

    // Deleting a leaf's first record updates its key in the root; deleting
    // every record empties the tree and frees all its nodes.
    treeDelete(extentsTree, key(50).data());
    EXPECT_EQ(read32(rootNode->data + recordOffset(rootNode, 1) + 2), 60u);
    EXPECT_EQ(verifyTree(false), "");
    for (uint32_t id : {10u, 20u, 25u, 30u, 40u}) treeDelete(extentsTree, key(id).data());
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(read16(h->data + bth::depth), 1) << "the level above a single leaf collapses";
    EXPECT_EQ(header32(h, bth::root), firstLeaf);
    EXPECT_EQ(verifyTree(false), "");
    for (uint32_t id : {60u, 70u, 80u, 90u, 100u, 110u}) treeDelete(extentsTree, key(id).data());
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(header32(h, bth::root), 0u);
    EXPECT_EQ(read16(h->data + bth::depth), 0);
    EXPECT_EQ(header32(h, bth::fNode), 0u);
    EXPECT_EQ(header32(h, bth::lNode), 0u);
    EXPECT_EQ(header32(h, bth::nRecs), 0u);
    EXPECT_EQ(header32(h, bth::freeNodes), header32(h, bth::nNodes) - 1);
    EXPECT_EQ(verifyTree(false), "");

    // Deleting a key that is not there is a corrupt-path error.
    treeInsert(extentsTree, record(5, 66).data(), 66);
    treeDelete(extentsTree, key(6).data());
    EXPECT_EQ(lastError, errBadNode);
    closeAll();
}

TEST(BTreeWrite, RandomInsertsAndDeletesKeepTheTreeSound)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    ASSERT_TRUE(freshVolume(dir, dir.file("r.img"), 4096));
    std::mt19937 rng(7);
    std::vector<uint32_t> ids(3000);
    for (size_t i = 0; i < ids.size(); ++i) ids[i] = static_cast<uint32_t>(i * 3 + 100);
    std::shuffle(ids.begin(), ids.end(), rng);
    // Mixed sizes, so shifts and splits meet records of every length.
    for (uint32_t id : ids) treeInsert(extentsTree, record(id, static_cast<uint16_t>(20 + 2 * (id % 30))).data(),
                                       static_cast<uint16_t>(20 + 2 * (id % 30)));
    ASSERT_EQ(lastError, errNone) << errorText(lastError);
    EXPECT_EQ(verifyTree(false), "");
    EXPECT_GE(read16(volume.extentsHeader->data + bth::depth), 3);
    std::shuffle(ids.begin(), ids.end(), rng);
    for (size_t i = 0; i < ids.size(); ++i) {
        treeDelete(extentsTree, key(ids[i]).data());
        ASSERT_EQ(lastError, errNone) << i;
        if (i % 500 == 0) {
            ASSERT_EQ(verifyTree(false), "") << i;
        }
    }
    EXPECT_EQ(header32(volume.extentsHeader, bth::root), 0u);
    EXPECT_EQ(verifyTree(false), "");
    closeAll();
}

TEST(ExtentsWrite, FragmentedForksGetOverflowRecordsAndReleaseThem)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("x.img");
    ASSERT_TRUE(freshVolume(dir, image, 1440));
    const uint32_t blockBytes = volume.spb * 512u;
    createFile(fileInfo("Alpha"));
    createFile(fileInfo("Beta", "APPL", "BETA"));
    ASSERT_EQ(lastError, errNone);
    FileRef a = openRef("Alpha"), b = openRef("Beta");

    // One piece written in several appends grows in place: one extent.
    const std::string piece = testPattern(blockBytes * 3 + 100, 1);
    append(b, dataFork, piece.substr(0, blockBytes));
    append(b, dataFork, piece.substr(blockBytes, blockBytes));
    const uint8_t* bRec = b.buffer->data + b.offset + fil::extRec;
    EXPECT_EQ(read16(bRec + 2), 2);
    EXPECT_EQ(read16(bRec + 6), 0);

    // Alternating appends: the block after each fork's end is taken, so
    // every append starts a new extent; the fourth goes to an overflow
    // record at FABN 3, and so on.
    std::string aData, aRsrc;
    for (int i = 0; i < 60; ++i) {
        const std::string d = testPattern(blockBytes, 100 + static_cast<unsigned>(i));
        const std::string r = testPattern(blockBytes / 2 + 7, 300 + static_cast<unsigned>(i));
        append(a, dataFork, d);
        aData += d;
        append(b, dataFork, testPattern(blockBytes, 9));
        if (i % 2 == 0) {
            // A resource fork written in pieces that do not end on a sector.
            const std::string rs = aRsrc.size() % 512 ? r : r;
            append(a, resourceFork, rs);
            aRsrc += rs;
        }
        ASSERT_EQ(lastError, errNone) << i << ": " << errorText(lastError);
    }
    const uint8_t* aRec = a.buffer->data + a.offset + fil::extRec;
    EXPECT_NE(read16(aRec + 10), 0) << "three extents in the catalog record";
    EXPECT_GT(header32(volume.extentsHeader, bth::nRecs), 20u);
    const RecordPosition first = searchExtents(a.fileId, dataFork, 3);
    ASSERT_TRUE(first.found);
    EXPECT_EQ(read16(first.buffer->data + first.offset + 6), 3) << "the fourth extent starts at FABN 3";
    EXPECT_EQ(forkLogicalLength(a, dataFork), aData.size());
    EXPECT_EQ(forkLogicalLength(a, resourceFork), aRsrc.size());
    unpinBuffer(a.buffer);
    EXPECT_EQ(volumeProblems(), "");
    flushVolume();
    ASSERT_EQ(lastError, errNone);

    // The engine reads back what it wrote, and so does hfsutils.
    std::string back;
    ASSERT_TRUE(readWholeFork(2, macName("Alpha").data(), dataFork, back));
    EXPECT_TRUE(back == aData);
    ASSERT_TRUE(readWholeFork(2, macName("Alpha").data(), resourceFork, back));
    EXPECT_TRUE(back == aRsrc);
    closeAll();
    expectSameAsHfsutils(dir, image);

    // Deleting the file frees exactly its blocks and all its overflow records.
    ASSERT_GE(openImage(image, true), 0);
    ASSERT_TRUE(mountAt(0));
    ASSERT_TRUE(enterFolder(2));
    const uint32_t freeBefore = read16(volume.mdb->data + mdb::freeBks);
    FileRef again = openRef("Alpha");
    const uint32_t owned = (forkPhysicalLength(again, dataFork) + forkPhysicalLength(again, resourceFork)) / blockBytes;
    unpinBuffer(again.buffer);
    deleteFile(macName("Alpha").data());
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(read16(volume.mdb->data + mdb::freeBks), freeBefore + owned);
    EXPECT_FALSE(searchExtents(again.fileId, dataFork, 3).found);
    EXPECT_FALSE(searchExtents(again.fileId, resourceFork, 3).found);
    EXPECT_EQ(volumeProblems(), "");
    flushVolume();
    closeAll();
    expectSameAsHfsutils(dir, image);
}

TEST(ExtentsWrite, FullVolumeRunsOutOfRoomAndRevertsToTheLastFlush)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("full.img");
    ASSERT_TRUE(freshVolume(dir, image, 800));
    createFolder(macName("Kept").data());
    createFile(fileInfo("kept file"));
    FileRef k = openRef("kept file");
    append(k, dataFork, testPattern(5000, 3));
    unpinBuffer(k.buffer);
    flushVolume();
    ASSERT_EQ(lastError, errNone);
    std::vector<uint8_t> mdbBefore(volume.mdb->data, volume.mdb->data + 512);

    // Many files until the volume is full.
    int made = 0;
    for (; made < 1000 && lastError == errNone; ++made) {
        const std::string name = "filler " + std::to_string(made);
        createFile(fileInfo(name));
        if (lastError != errNone) break;
        FileRef f = openRef(name);
        append(f, made % 2 ? resourceFork : dataFork, testPattern(40000, static_cast<unsigned>(made)));
        unpinBuffer(f.buffer);
    }
    EXPECT_EQ(lastError, errMacDiskFull);
    EXPECT_STREQ(errorText(lastError), "Mac disk ran out of room");
    lastError = errNone;
    revertVolume();
    ASSERT_EQ(lastError, errNone);
    EXPECT_TRUE(std::equal(mdbBefore.begin(), mdbBefore.end(), volume.mdb->data));
    std::vector<WalkedItem> items;
    ASSERT_TRUE(walkVolume(items));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(volumeProblems(), "");

    // After the revert the volume takes changes again.
    createFile(fileInfo("after revert"));
    flushVolume();
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(volumeProblems(), "");
    closeAll();
    expectSameAsHfsutils(dir, image);
}

TEST(CatalogWrite, CountsValencesAndNamesFollowEveryChange)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    ASSERT_TRUE(freshVolume(dir, dir.file("c.img"), 1440));
    const uint8_t* m = volume.mdb->data;
    createFolder(macName("Folder").data());
    EXPECT_EQ(read32(m + mdb::dirCnt), 1u);
    EXPECT_EQ(read16(m + mdb::nmRtDirs), 1);
    CatalogItem root;
    uint32_t rootParent;
    ASSERT_EQ(folderById(2, root, rootParent), 1);
    EXPECT_EQ(root.valence, 1);

    // Names differing only in case collide.
    createFile(fileInfo("README"));
    createFile(fileInfo("readme"));
    EXPECT_EQ(lastError, errNameExists);
    lastError = errNone;
    createFolder(macName("folder").data());
    EXPECT_EQ(lastError, errNameExists);
    lastError = errNone;
    createFile(fileInfo(""));
    EXPECT_NE(lastError, errNone) << "an empty name";
    lastError = errNone;
    createFile(fileInfo("a:b"));
    EXPECT_NE(lastError, errNone) << "a name with the path separator";
    lastError = errNone;

    // A folder with items stays; its thread follows a rename.
    CatalogItem folder;
    ASSERT_EQ(lookupCatalogItem(2, macName("Folder").data(), folder), 1);
    ASSERT_TRUE(enterFolder(folder.id));
    createFile(fileInfo("inside"));
    ASSERT_TRUE(enterFolder(2));
    deleteFolder(macName("Folder").data());
    EXPECT_EQ(lastError, errNone);
    ASSERT_EQ(lookupCatalogItem(2, macName("Folder").data(), folder), 1) << "a folder with items is kept";
    renameItem(macName("Folder").data(), macName("Renamed Folder").data());
    ASSERT_EQ(lastError, errNone);
    CatalogItem renamed;
    uint32_t parent = 0;
    ASSERT_EQ(folderById(folder.id, renamed, parent), 1);
    EXPECT_EQ(parent, 2u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(renamed.name + 1), renamed.name[0]), "Renamed Folder");
    EXPECT_EQ(renamed.valence, 1);
    EXPECT_EQ(renamed.createDate, folder.createDate);
    // Renaming onto an existing name changes nothing.
    renameItem(macName("README").data(), macName("renamed folder").data());
    EXPECT_EQ(lastError, errNameExists);
    lastError = errNone;
    setTypeCreator(macName("Renamed Folder").data(), reinterpret_cast<const uint8_t*>("ABCD"),
                   reinterpret_cast<const uint8_t*>("EFGH"));
    EXPECT_EQ(lastError, errBadNode) << "a folder has no type";
    lastError = errNone;
    EXPECT_EQ(volumeProblems(), "");

    // Emptied and deleted, all counts come back.
    ASSERT_TRUE(enterFolder(folder.id));
    deleteFile(macName("inside").data());
    ASSERT_TRUE(enterFolder(2));
    deleteFolder(macName("Renamed Folder").data());
    deleteFile(macName("README").data());
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(read32(m + mdb::dirCnt), 0u);
    EXPECT_EQ(read32(m + mdb::filCnt), 0u);
    EXPECT_EQ(read16(m + mdb::nmRtDirs), 0);
    EXPECT_EQ(read16(m + mdb::nmFls), 0);
    ASSERT_EQ(folderById(2, root, rootParent), 1);
    EXPECT_EQ(root.valence, 0);
    EXPECT_EQ(volumeProblems(), "");

    // A folder whose contents cannot be listed (its thread record is gone)
    // is not deleted: the listing's error stays and so does the folder.
    createFolder(macName("Lost").data());
    CatalogItem lost;
    ASSERT_EQ(lookupCatalogItem(2, macName("Lost").data(), lost), 1);
    uint8_t threadKey[40];
    buildCatalogKey(threadKey, lost.id, nullptr);
    treeDelete(catalogTree, threadKey);
    ASSERT_EQ(lastError, errNone);
    deleteFolder(macName("Lost").data());
    EXPECT_NE(lastError, errNone);
    lastError = errNone;
    EXPECT_EQ(lookupCatalogItem(2, macName("Lost").data(), lost), 1);
    closeAll();
}

TEST(CatalogWrite, ReadOnlyDrivesAndLockedVolumesRefuseChanges)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("ro.img");
    ASSERT_TRUE(makeHfsImage(dir, image, 800, "Locked"));
    ASSERT_GE(openImage(image, false), 0);
    ASSERT_TRUE(mountAt(0));
    createFolder(macName("No").data());
    EXPECT_EQ(lastError, errVolumeReadOnly);
    EXPECT_STREQ(errorText(lastError), "Mac volume is read only");
    closeAll();

    // The software-lock bit of the volume attributes.
    ASSERT_GE(openImage(image, true), 0);
    ASSERT_TRUE(mountAt(0));
    put16(static_cast<uint16_t>(read16(volume.mdb->data + mdb::atrb) | 0x8000), volume.mdb, mdb::atrb);
    createFolder(macName("No").data());
    EXPECT_EQ(lastError, errVolumeReadOnly);
    closeAll();
}

namespace {

// Creates `count` files spread over `folders` (folder f holds files
// i with i % folders == f); every tenth file gets a small data fork.
void makeManyFiles(const std::vector<uint32_t>& folders, int count)
{
    for (int i = 0; i < count && lastError == errNone; ++i) {
        ASSERT_TRUE(enterFolder(folders[static_cast<size_t>(i) % folders.size()]));
        char name[32];
        std::snprintf(name, sizeof name, "File %05d of many", (i * 7919) % count);
        // The record handed back (pinned, as a stream holds it) is the one a
        // lookup finds, through splits, shifts into the left sibling and
        // growths of the catalog file (which insert into the extents tree).
        FileRef f = createFile(fileInfo(name));
        ASSERT_TRUE(f.buffer) << name;
        pinBuffer(f.buffer);
        const FileRef found = openFileRef(currentFolderId, macName(name).data());
        ASSERT_TRUE(found.buffer == f.buffer && found.offset == f.offset && found.fileId == f.fileId) << name;
        if (i % 10 == 0) append(f, dataFork, testPattern(static_cast<size_t>(i % 700), static_cast<unsigned>(i)));
        unpinBuffer(f.buffer);
    }
    ASSERT_EQ(lastError, errNone) << errorText(lastError);
}

bool sampleOneInFifty(const std::string& path) { return path.find("00 of") != std::string::npos && path.find("File 00") != std::string::npos; }

}  // namespace

TEST(ScaleWrite, TenThousandFilesInOneFolderThenAllDeleted)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("many.img");
    ASSERT_TRUE(freshVolume(dir, image, 16 * 1024));
    const uint32_t catalogBytes = read32(catalogControl.data + fil::pyLen);
    createFolder(macName("Many").data());
    CatalogItem many;
    ASSERT_EQ(lookupCatalogItem(2, macName("Many").data(), many), 1);
    makeManyFiles({many.id}, scale);
    flushVolume();
    ASSERT_EQ(lastError, errNone);
    EXPECT_GT(read32(catalogControl.data + fil::pyLen), catalogBytes) << "the catalog grew by clumps";
    if (scale >= 10000) {
        EXPECT_NE(nodeFLink(volume.catalogHeader), 0u) << "the map needed a map node";
        // Files take the blocks after the catalog, so its growth needed
        // extents-overflow records of its own.
        EXPECT_NE(read16(catalogControl.data + fil::extRec + 10), 0);
        EXPECT_TRUE(searchExtents(4, dataFork, extentRecordBlocks(catalogControl.data + fil::extRec)).found);
    }
    EXPECT_EQ(volumeProblems(), "");
    closeAll();
    expectSameAsHfsutils(dir, image, sampleOneInFifty);

    // Deleting every file, in another order, brings the catalog back to a
    // folder with no items; emptied nodes are freed.
    ASSERT_GE(openImage(image, true), 0);
    ASSERT_TRUE(mountAt(0));
    std::vector<CatalogItem> items;
    ASSERT_TRUE(listFolder(many.id, items));
    ASSERT_EQ(items.size(), static_cast<size_t>(scale));
    std::mt19937 rng(3);
    std::shuffle(items.begin(), items.end(), rng);
    ASSERT_TRUE(enterFolder(many.id));
    for (const CatalogItem& it : items) deleteFile(it.name);
    ASSERT_EQ(lastError, errNone) << errorText(lastError);
    flushVolume();
    EXPECT_EQ(read32(volume.mdb->data + mdb::filCnt), 0u);
    EXPECT_EQ(volumeProblems(), "");
    closeAll();
    expectSameAsHfsutils(dir, image);
}

TEST(ScaleWrite, TenThousandFilesInADeepTree)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    const std::string image = dir.file("deep.img");
    ASSERT_TRUE(freshVolume(dir, image, 16 * 1024));
    // A chain of 60 nested folders, each with a sibling folder.
    std::vector<uint32_t> folders;
    uint32_t at = 2;
    for (int depth = 0; depth < 60; ++depth) {
        ASSERT_TRUE(enterFolder(at));
        createFolder(macName("Level " + std::to_string(depth)).data());
        createFolder(macName("Side " + std::to_string(depth)).data());
        CatalogItem next, side;
        ASSERT_EQ(lookupCatalogItem(at, macName("Level " + std::to_string(depth)).data(), next), 1);
        ASSERT_EQ(lookupCatalogItem(at, macName("Side " + std::to_string(depth)).data(), side), 1);
        folders.push_back(next.id);
        folders.push_back(side.id);
        at = next.id;
    }
    makeManyFiles(folders, scale);
    flushVolume();
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(volumeProblems(), "");
    closeAll();
    expectSameAsHfsutils(dir, image, sampleOneInFifty);

    // verrin-cli rm -r takes the whole tree away, innermost first.
    const CommandResult r = runCli({"rm", "-r", image, "Level 0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    ASSERT_GE(openImage(image, false), 0);
    ASSERT_TRUE(mountAt(0));
    EXPECT_EQ(volumeProblems(), "");
    std::vector<WalkedItem> left;
    ASSERT_TRUE(walkVolume(left));
    EXPECT_EQ(left.size(), 1u + (scale % 120 ? 0 : 0) + static_cast<size_t>((scale + 119) / 120)) << "Side 0 and its files";
    closeAll();
}

TEST(CatalogWrite, FileThreadsMadeElsewhereFollowRenameAndDelete)
{
    VERRIN_REQUIRE_PEER("hformat");
    ScratchDir dir;
    ASSERT_TRUE(freshVolume(dir, dir.file("t.img"), 800));
    createFile(fileInfo("Threaded"));
    FileRef ref = openRef("Threaded");
    ASSERT_EQ(lastError, errNone);
    const uint32_t id = ref.fileId;
    putByte(static_cast<uint8_t>(ref.buffer->data[ref.offset + 2] | 0x02), ref.buffer, ref.offset + 2);
    unpinBuffer(ref.buffer);
    // The thread another system would have made: key (file ID, no name).
    uint8_t thread[8 + thd::recordSize] = {6, 0};
    write32(thread + 2, id);
    thread[8] = cdrFileThread;
    write32(thread + 8 + thd::parId, 2);
    const std::vector<uint8_t> name = macName("Threaded");
    std::memcpy(thread + 8 + thd::cName, name.data(), name.size());
    treeInsert(catalogTree, thread, sizeof thread);
    ASSERT_EQ(lastError, errNone);
    EXPECT_EQ(volumeProblems(), "");

    renameItem(name.data(), macName("New Name").data());
    ASSERT_EQ(lastError, errNone);
    uint8_t key[40];
    buildCatalogKey(key, id, nullptr);
    RecordPosition pos = searchTree(catalogTree, catalogRoot(), key, compareCatalogKeys, true);
    ASSERT_TRUE(pos.found);
    const uint8_t* d = pos.buffer->data + recordDataOffset(pos.buffer, pos.offset);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(d + thd::cName + 1), d[thd::cName]), "New Name");
    EXPECT_EQ(volumeProblems(), "");

    deleteFile(macName("New Name").data());
    ASSERT_EQ(lastError, errNone);
    pos = searchTree(catalogTree, catalogRoot(), key, compareCatalogKeys, true);
    EXPECT_FALSE(pos.found && compareCatalogKeys(key, pos.buffer->data + pos.offset) == 0) << "the thread stayed";
    lastError = errNone;
    EXPECT_EQ(volumeProblems(), "");
    closeAll();
}
