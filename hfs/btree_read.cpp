// Reading the two B-trees: the checked node fetch, key comparison, index
// descent and the leaf search shared by the catalog and extents lookups.
//
// Invariants checked here before a node's contents are used (see
// internal.h): record offsets rise inside the node, keys fit their records
// and the tree's maximum, a descent only moves to lower levels and never
// takes more than maxTreeDepth steps, and a walk along the leaf chain takes
// at most as many steps as the tree has nodes. A node that breaks one is
// reported as errBadNode.
// Calls fork mapping (nodes are sectors of the tree files) and the cache.
#include <cstring>

#include "hfs/internal.h"

namespace verrin {

const BTree catalogTree = {&volume.catalogFile, &volume.catalogHeader, compareCatalogKeys, 37, 6};
const BTree extentsTree = {&volume.extentsFile, &volume.extentsHeader, compareExtentKeys, 7, 7};

int compareCatalogKeys(const uint8_t* searchKey, const uint8_t* recordKey)
{
    const uint32_t a = read32(searchKey + 2);
    const uint32_t b = read32(recordKey + 2);
    if (a != b) return a < b ? -1 : 1;
    return compareMacNames(searchKey + 6, recordKey + 6);
}

int compareExtentKeys(const uint8_t* searchKey, const uint8_t* recordKey)
{
    const uint32_t fa = read32(searchKey + 2);
    const uint32_t fb = read32(recordKey + 2);
    if (fa != fb) return fa < fb ? -1 : 1;
    if (searchKey[1] != recordKey[1]) return searchKey[1] < recordKey[1] ? -1 : 1;
    const uint16_t a = read16(searchKey + 6);
    const uint16_t b = read16(recordKey + 6);
    if (a != b) return a < b ? -1 : 1;
    return 0;
}

bool nodeLayoutValid(const CacheBuffer* n)
{
    const uint32_t count = nodeRecords(n);
    if (count > 248) return false;
    uint32_t previous = 0;
    for (uint32_t i = 0; i <= count; ++i) {
        const uint32_t off = recordOffset(n, i);
        if (off < 14 || (off & 1) != 0) return false;
        if (i > 0 && off <= previous) return false;
        previous = off;
    }
    return previous <= 512 - 2 * (count + 1);
}

uint32_t indexKeyBytes(const BTree& t) { return paddedKeyBytes(t.maxKeyLength); }

bool nodeKeysValid(const BTree& t, const CacheBuffer* n)
{
    const uint8_t type = nodeType(n);
    if (type != nd::indexNode && type != nd::leafNode) return true;
    const uint16_t count = nodeRecords(n);
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* key = n->data + recordOffset(n, i);
        const uint32_t size = recordSize(n, i);
        const uint32_t k = key[0];
        if (type == nd::indexNode) {
            // The key's own length byte is not needed to read the record.
            if (size < indexKeyBytes(t) + 4u) return false;
        } else {
            // The key with its length byte, padded to even, then at least
            // the record's type.
            if (k < t.minKeyLength || k > t.maxKeyLength) return false;
            if (size < paddedKeyBytes(key[0]) + 1u) return false;
        }
        if (t.maxKeyLength == 37) {
            const uint32_t nameLength = key[6];
            if (nameLength > 31 || (type == nd::leafNode && nameLength + 6 > k)) return false;
        }
    }
    return true;
}

CacheBuffer* readNode(const BTree& t, uint32_t n)
{
    if (!*t.header || n >= treeNodes(t)) {
        setError(errBadNode);
        return nullptr;
    }
    CacheBuffer* b = readForkSector(n, 1, dataFork, *t.file);
    if (!b) return nullptr;
    // Checked once per content: every change to the buffer (markDirty) and
    // every new content read into it forgets the check.
    if (b->checkedAs != &t) {
        if (!nodeLayoutValid(b) || !nodeKeysValid(t, b)) {
            setError(errBadNode);
            return nullptr;
        }
        b->checkedAs = &t;
    }
    return b;
}

bool indexChild(const BTree& t, const CacheBuffer* n, uint16_t i, uint32_t& child)
{
    if (i >= nodeRecords(n)) return false;
    child = read32(n->data + recordOffset(n, i) + indexKeyBytes(t));  // size checked by nodeKeysValid
    return true;
}

uint16_t descentChoice(const CacheBuffer* n, const uint8_t* key, KeyCompare compare, bool exactDescend)
{
    const uint16_t count = nodeRecords(n);
    uint16_t i = 0;
    int c = 0;
    for (; i < count; ++i) {
        c = compare(key, n->data + recordOffset(n, i));
        if (c <= 0) break;
    }
    if (i == count) return static_cast<uint16_t>(count - 1);  // beyond the last key
    if (i == 0 || (c == 0 && exactDescend)) return i;
    return static_cast<uint16_t>(i - 1);
}

namespace {

// Descends from node `start` through the index levels to the leaf the
// descent rule leads to; nullptr with errBadNode for an index node without
// records, a child that is not one level lower, or a tree deeper than
// maxTreeDepth.
CacheBuffer* descendToLeaf(const BTree& t, uint32_t start, const uint8_t* key, KeyCompare compare,
                           bool exactDescend, uint32_t& nodeNumber)
{
    nodeNumber = start;
    CacheBuffer* node = readNode(t, nodeNumber);
    if (!node) return nullptr;
    for (int level = 0; nodeType(node) == nd::indexNode; ++level) {
        uint32_t child;
        if (nodeRecords(node) == 0 || level >= maxTreeDepth ||
            !indexChild(t, node, descentChoice(node, key, compare, exactDescend), child)) {
            setError(errBadNode);
            return nullptr;
        }
        const uint8_t height = nodeHeight(node);
        CacheBuffer* next = readNode(t, child);
        if (!next) return nullptr;
        if (nodeHeight(next) >= height || (nodeType(next) != nd::indexNode && nodeType(next) != nd::leafNode)) {
            setError(errBadNode);
            return nullptr;
        }
        node = next;
        nodeNumber = child;
    }
    if (nodeType(node) != nd::leafNode) {
        setError(errBadNode);
        return nullptr;
    }
    return node;
}

}  // namespace

RecordPosition searchTree(const BTree& t, uint32_t start, const uint8_t* key, KeyCompare compare,
                          bool exactDescend)
{
    RecordPosition pos{};
    if (start == 0) {
        setError(errBadNode);
        return pos;
    }
    uint32_t nodeNumber = 0;
    CacheBuffer* node = descendToLeaf(t, start, key, compare, exactDescend, nodeNumber);
    if (!node) return pos;
    // Leaf level: the first record not less than the key, along the chain.
    const uint32_t maxSteps = treeNodes(t);
    for (uint32_t step = 0; step <= maxSteps; ++step) {
        const uint16_t count = nodeRecords(node);
        for (uint16_t i = 0; i < count; ++i) {
            const uint16_t off = recordOffset(node, i);
            if (compare(key, node->data + off) <= 0) {
                pos.node = nodeNumber;
                pos.buffer = node;
                pos.offset = off;
                pos.index = i;
                pos.found = true;
                return pos;
            }
        }
        const uint32_t next = nodeFLink(node);
        if (next == 0) return pos;  // ran past the last leaf: not found
        node = readNode(t, next);
        if (!node) return pos;
        if (nodeType(node) != nd::leafNode) {
            setError(errBadNode);
            return pos;
        }
        nodeNumber = next;
    }
    setError(errBadNode);  // the leaf chain loops
    return pos;
}

RecordPosition searchExtents(uint32_t fileId, uint8_t forkType, uint32_t fabn)
{
    RecordPosition pos{};
    const uint32_t root = treeRoot(extentsTree);
    if (root == 0) return pos;
    uint8_t key[8] = {7, forkType, 0, 0, 0, 0, 0, 0};
    write32(key + 2, fileId);
    write16(key + 6, static_cast<uint16_t>(fabn > 0xFFFF ? 0xFFFF : fabn));

    uint32_t nodeNumber = 0;
    CacheBuffer* node = descendToLeaf(extentsTree, root, key, compareExtentKeys, true, nodeNumber);
    if (!node) return pos;
    const uint16_t count = nodeRecords(node);
    if (count == 0) return pos;
    uint16_t i = 0;
    for (; i < count; ++i) {
        const uint8_t* rec = node->data + recordOffset(node, i);
        if (recordSize(node, i) < 20) {
            setError(errBadNode);
            return pos;
        }
        const uint32_t recFile = read32(rec + 2);
        if (recFile != fileId) {
            if (recFile > fileId) break;
            continue;
        }
        if (rec[1] != forkType) {
            if (rec[1] > forkType) break;
            continue;
        }
        // Same file and fork: the record reaches the block or lies beyond it.
        if (fabn < read16(rec + 6) + extentRecordBlocks(rec + 8)) break;
    }
    if (i == count) i = static_cast<uint16_t>(count - 1);
    const uint8_t* rec = node->data + recordOffset(node, i);
    if (recordSize(node, i) < 20 || read32(rec + 2) != fileId || rec[1] != forkType || fabn < read16(rec + 6) ||
        fabn >= read16(rec + 6) + extentRecordBlocks(rec + 8))
        return pos;
    pos.node = nodeNumber;
    pos.buffer = node;
    pos.offset = recordOffset(node, i);
    pos.index = i;
    pos.found = true;
    return pos;
}

}  // namespace verrin
