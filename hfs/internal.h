// Names shared inside the engine only: the two B-tree descriptors and the
// checked node and record accessors that every tree walk goes through (the
// field offsets themselves are public, in hfs/layout.h).
//
// Node invariants that readNode establishes before any caller looks inside
// a node (a node that breaks one is reported as errBadNode, never used):
//   - ndNRecs ≤ 248 (a record needs at least 2 bytes plus its offset slot);
//   - the offsets of records 0..ndNRecs (the last one is the free-space
//     offset) rise strictly, start at 14, are even, and the free-space
//     offset ends before the offset table (≤ 512 − 2 × (ndNRecs + 1));
//   - so record i occupies [offset(i), offset(i + 1)) inside the node.
#pragma once

#include <cstdint>
#include <vector>

#include "hfs/hfs.h"
#include "hfs/layout.h"

namespace verrin {

// The deepest tree the engine walks; real HFS trees are far shallower.
constexpr int maxTreeDepth = 16;

// One of the two B-trees.
struct BTree {
    FileRef* file;                 // the tree file's control record
    CacheBuffer** header;          // its pinned header node
    int (*compare)(const uint8_t* searchKey, const uint8_t* recordKey);
    uint8_t maxKeyLength;          // 37 catalog, 7 extents
    uint8_t minKeyLength;          // smallest valid key length byte
};

extern const BTree catalogTree;
extern const BTree extentsTree;

int compareCatalogKeys(const uint8_t* searchKey, const uint8_t* recordKey);
int compareExtentKeys(const uint8_t* searchKey, const uint8_t* recordKey);

// Sectors of a volume bitmap covering `blocks` allocation blocks.
inline uint32_t bitmapSectorCount(uint32_t blocks) { return (blocks + 4095) / 4096; }

// Header record values of a tree.
inline uint32_t treeRoot(const BTree& t) { return read32((*t.header)->data + bth::root); }
inline uint32_t treeNodes(const BTree& t) { return read32((*t.header)->data + bth::nNodes); }
inline uint16_t treeDepth(const BTree& t) { return read16((*t.header)->data + bth::depth); }

// Node access.
inline uint16_t nodeRecords(const CacheBuffer* n) { return read16(n->data + nd::nRecs); }
inline uint8_t nodeType(const CacheBuffer* n) { return n->data[nd::type]; }
inline uint8_t nodeHeight(const CacheBuffer* n) { return n->data[nd::height]; }
inline uint32_t nodeFLink(const CacheBuffer* n) { return read32(n->data + nd::fLink); }
inline uint32_t nodeBLink(const CacheBuffer* n) { return read32(n->data + nd::bLink); }
inline uint16_t recordOffset(const uint8_t* node, uint32_t i) { return read16(node + 510 - 2 * i); }
inline uint16_t recordOffset(const CacheBuffer* n, uint32_t i) { return recordOffset(n->data, i); }
inline uint16_t recordSize(const CacheBuffer* n, uint32_t i) { return static_cast<uint16_t>(recordOffset(n, i + 1) - recordOffset(n, i)); }

// True when the node's record layout keeps the invariants above.
bool nodeLayoutValid(const CacheBuffer* n);
// Index records carry keys of the tree's fixed length, whatever their key
// length byte says (as Mac OS reads them): the child number follows this
// many bytes.
uint32_t indexKeyBytes(const BTree& t);
// True when every record's key fits the tree and the record: a leaf key's
// length byte within the tree's limits, an index record long enough for
// the fixed key and the child number, a catalog name of at most 31.
bool nodeKeysValid(const BTree& t, const CacheBuffer* n);

// Reads node n of a tree through the cache (count 1) and checks it; nullptr
// with errBadNode for a node number outside the tree or a broken layout.
CacheBuffer* readNode(const BTree& t, uint32_t n);

// The child node number stored in index record i (after its key).
bool indexChild(const BTree& t, const CacheBuffer* n, uint16_t i, uint32_t& child);

// The index descent rule every search and change of a tree follows: in an
// index node (which must hold records), the first record whose key is not
// less than the search key, or the last record when every key is less; the
// record before it unless there is none, the key lies beyond the last
// record, or the keys are equal and `exactDescend` is set. Returns the
// index of the record whose child to follow.
using KeyCompare = int (*)(const uint8_t* searchKey, const uint8_t* recordKey);
uint16_t descentChoice(const CacheBuffer* n, const uint8_t* key, KeyCompare compare, bool exactDescend);

// Searches a tree from node `start` for a key (see findCatalogRecord for the
// rule). Returns the leaf node and record index of the first record whose
// key is not less than the search key; found=false with errBadNode when the
// leaves run out. `exactDescend` selects the descent rule for equal keys
// (true for searches that name a record exactly).
// The comparison is given separately so that a catalog search by parent ID
// alone can compare parent IDs only.
RecordPosition searchTree(const BTree& t, uint32_t start, const uint8_t* key, KeyCompare compare,
                          bool exactDescend);

// The extents-tree search of findExtentRecord.
RecordPosition searchExtents(uint32_t fileId, uint8_t forkType, uint32_t fabn);

// Record insertion and removal in the 512 bytes of a node, keeping its
// offset table right (records after `index` move up or down; a removed
// record's bytes become zeros). The B-tree writer uses them on cached nodes,
// the diskette formatter on its template leaf. False, with the node
// unchanged, when the index lies beyond the records, the offsets are out of
// order, or the record and its offset slot do not fit the free space.
bool insertNodeRecord(uint8_t* node, uint32_t index, const uint8_t* record, uint32_t length);
bool deleteNodeRecord(uint8_t* node, uint32_t index);

// Size of an extent record's blocks.
inline uint32_t extentRecordBlocks(const uint8_t* rec)
{
    return static_cast<uint32_t>(read16(rec + 2)) + read16(rec + 6) + read16(rec + 10);
}

// B-tree changes (btree_write.cpp). A record to insert is its bytes with
// their length; after a split the buffer receives the index record of the
// new node, so it must hold at least maxIndexRecord bytes.
constexpr uint32_t maxIndexRecord = 42;
// Results: 0 done, 1 the node's first key changed, 2 split (insert) or
// emptied (delete), 3 the tree collapsed to a new root (delete), -1 error.
int btInsert(const BTree& t, uint32_t node, uint8_t* record, uint16_t& length);
int btDelete(const BTree& t, uint32_t node, const uint8_t* key);
uint32_t btAllocNode(const BTree& t);
void btFreeNode(const BTree& t, uint32_t node);
// Inserts a leaf record at the root, or removes the one with a key; both
// keep the header record in step. Errors through lastError. An insertion
// returns the leaf node and record index the record landed at (node 0 after
// an error): a number, not a buffer, valid until the tree next changes.
struct LeafPlace {
    uint32_t node;
    uint16_t index;
};
LeafPlace treeInsert(const BTree& t, const uint8_t* record, uint16_t length);
void treeDelete(const BTree& t, const uint8_t* key);

// What the allocators remember about the mounted volume between calls:
// where searches may start, and what they must not hand out.
//   - No block below lowestFreeBlock is free, and no free run of at least
//     `length` blocks starts below the `start` of a runHints entry; so a
//     first-fit search may begin at the larger of the two and still find
//     the run a search from block 0 would find.
//   - Blocks freed since the last flush stay held (freedUncommitted) until
//     that flush commits: fork data goes straight to free blocks before the
//     flush, and must never land in blocks the volume on the medium still
//     gives to a file.
//   - claimedBlocks and claimedNodes hold what the extents and the trees of
//     a damaged volume use although its bitmap or node map shows it free
//     (set when a change is forced onto such a volume); idFloor is above
//     every catalog ID in use there. These last until the volume is closed.
//   - No node of tree t below lowestFreeNode[t] is free (0 extents, 1
//     catalog).
//   - `changes` records what the checks before the first change decided
//     (guardChanges, hfs/check.h); a refused volume is used read-only.
//   - `verifiedSound`: the checks (or a remembered verdict, hfs/verdict.h)
//     found nothing a change could spread in the volume as the medium
//     holds it; closing it then remembers it as sound.
// The bit vectors use the bitmap's layout and are empty when nothing is held.
enum class ChangePermission : uint8_t { unchecked, allowed, refused };

struct AllocationState {
    ChangePermission changes = ChangePermission::unchecked;
    uint32_t lowestFreeBlock = 0;
    struct RunHint {
        uint32_t length;
        uint32_t start;
    };
    std::vector<RunHint> runHints;
    std::vector<uint8_t> freedUncommitted;
    std::vector<uint8_t> claimedBlocks;
    uint32_t lowestFreeNode[2] = {0, 0};
    std::vector<uint8_t> claimedNodes[2];
    uint32_t idFloor = 0;
    bool verifiedSound = false;
};
extern AllocationState allocation;

// The drive and the volume's attributes allow changes (the part of
// volumeWritable that does not depend on the checks); errVolumeReadOnly or
// errNoHfsVolume otherwise.
bool volumeAcceptsChanges();

// The cache holds changes not yet committed to the medium (gathered file
// data counts).
bool volumeHasUnwrittenChanges();

// Gathered data writes (the cache's invariants): the `count` sectors from
// `sector` on belong to the fork just written and hold nothing read; a
// gathered run ending at `sector` may fill them with zeros to join a write
// that follows them.
void offerSlackAfter(uint32_t sector, uint32_t count);

// A volume was mounted or closed: forget everything.
void forgetAllocationState();
// The cache was reverted: blocks and nodes given out since the last flush
// are free again, and those freed since then are in use again.
void allocationReverted();
// A flush completed: the blocks freed before it may be given out.
void allocationCommitted();
// Marks blocks or nodes of a damaged volume that must never be given out.
void holdClaimedBlocks(uint32_t first, uint32_t count);
void holdClaimedNode(const BTree& t, uint32_t node);
// The catalog ID the next item gets: drNxtCNID, or idFloor when higher.
uint32_t pendingCatalogID();

// Builds a catalog key (length byte, reserved, parent, name) into 38 bytes.
void buildCatalogKey(uint8_t* key, uint32_t parentId, const uint8_t* name);

// Fills a control record for a B-tree file from the MDB (ID 3 or 4).
void buildControlRecord(CacheBuffer& control, FileRef& ref, uint32_t fileId);

}  // namespace verrin
