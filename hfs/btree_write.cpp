// Changing the two B-trees: record insertion with the shift into the left
// sibling, node splits, root splits and index-key propagation; record
// deletion with removal of emptied nodes and collapse of levels; node
// allocation from the map records and map nodes; growth of a tree file by
// its clump.
//
// Invariants every operation keeps (and relies on):
//   - Records in a node, and nodes along a level (ndFLink/ndBLink), are in
//     strictly ascending key order; no key appears twice in the leaves.
//   - The key of an index record is the first key of its child, padded to
//     the tree's maximum key length; so a node's first key changing is
//     passed up while the node is its parent's first child.
//   - Every node on a level has at least one record; a node whose last
//     record goes is unlinked and freed. Nodes are never merged.
//   - The root is the only node on its level; bthDepth is its height, leaves
//     have height 1 and bthFNode/bthLNode are the ends of the leaf chain.
//   - bthNRecs counts the leaf records; bthFree counts the clear map bits
//     below bthNNodes; a node is in use exactly when its map bit is set, and
//     the map (header map record, then map nodes along ndFLink) covers at
//     least bthNNodes bits. Freed nodes are written back as zeros.
//   - A node held while another is read is pinned, so the cache never takes
//     it over; the pin is restored to its earlier state afterwards.
// Calls the node accessors and fork mapping of the read side, the cache's
// dirty-marking writes and the allocator (to grow a tree file).
#include <algorithm>
#include <cstring>

#include "hfs/internal.h"

namespace verrin {

namespace {

// Node whose first key changed last, handed from a level to the one above.
uint32_t insertChanged = 0;
uint32_t deleteChanged = 0;
// Where the last inserted leaf record landed; the levels above change only
// index nodes, so it still holds when the insertion returns.
LeafPlace insertedLeaf{};

// Pins a buffer and remembers whether it was pinned already.
struct Hold {
    CacheBuffer* buffer;
    bool wasPinned;
};
Hold hold(CacheBuffer* b)
{
    const Hold h{b, b && (b->flags & bufPinned) != 0};
    pinBuffer(b);
    return h;
}
void release(const Hold& h)
{
    if (!h.wasPinned) unpinBuffer(h.buffer);
}

CacheBuffer* header(const BTree& t) { return *t.header; }
void putHeader32(const BTree& t, uint32_t field, uint32_t value) { put32(value, header(t), field); }
uint32_t header32(const BTree& t, uint32_t field) { return read32(header(t)->data + field); }

uint32_t nodeFreeSpace(const CacheBuffer* n)
{
    const uint32_t count = nodeRecords(n);
    return 512 - 2 * (count + 1) - recordOffset(n, count);
}

// insertNodeRecord and deleteNodeRecord on a cached node, marked dirty
// before its bytes change (the cache keeps its before-image then).
bool insertRecordAt(CacheBuffer* n, uint32_t index, const uint8_t* bytes, uint32_t length)
{
    markDirty(n);
    return insertNodeRecord(n->data, index, bytes, length);
}

void deleteRecordAt(CacheBuffer* n, uint32_t index)
{
    markDirty(n);
    deleteNodeRecord(n->data, index);
}

void initNode(CacheBuffer* n, uint32_t fLink, uint32_t bLink, uint8_t type, uint8_t height)
{
    fillBytes(0, n, 0, 512);
    put32(fLink, n, nd::fLink);
    put32(bLink, n, nd::bLink);
    putByte(type, n, nd::type);
    putByte(height, n, nd::height);
    put16(14, n, 510);
}

// A node about to be built whole: a cache buffer assigned without reading.
CacheBuffer* nodeForBuilding(const BTree& t, uint32_t n) { return readForkSector(n, 0, dataFork, *t.file); }

// The index record for a child: its first key padded to the maximum key
// length, then the child's number. Returns the record's length.
uint16_t makeIndexRecord(const BTree& t, uint8_t* out, const CacheBuffer* child, uint32_t childNumber)
{
    const uint32_t keyBytes = indexKeyBytes(t);
    std::memset(out, 0, keyBytes + 4);
    const uint8_t* key = child->data + recordOffset(child, 0);
    const uint32_t length = std::min<uint32_t>(key[0], t.maxKeyLength);
    out[0] = t.maxKeyLength;
    std::memcpy(out + 1, key + 1, length);
    write32(out + keyBytes, childNumber);
    return static_cast<uint16_t>(keyBytes + 4);
}

// Copies a child's first key over the key of index record `index` of the
// parent. Returns 1 when that was the parent's first record, 0 otherwise,
// -1 on an error.
int replaceIndexKey(const BTree& t, CacheBuffer* parent, uint32_t index, uint32_t childNumber)
{
    const Hold h = hold(parent);
    CacheBuffer* child = readNode(t, childNumber);
    release(h);
    if (!child) return -1;
    if (nodeRecords(child) == 0 || index >= nodeRecords(parent)) {
        setError(errBadNode);
        return -1;
    }
    // Index keys have the tree's fixed length, whatever the record's length
    // byte says; a damaged one is put right.
    const uint8_t* key = child->data + recordOffset(child, 0);
    const uint32_t at = recordOffset(parent, index);
    const uint32_t parentLength = t.maxKeyLength;
    const uint32_t length = std::min<uint32_t>(key[0], parentLength);
    if (parent->data[at] != parentLength) putByte(static_cast<uint8_t>(parentLength), parent, at);
    putBytes(parent, at + 1, key + 1, length);
    fillBytes(0, parent, at + 1 + length, parentLength - length);
    return index == 0 ? 1 : 0;
}

// The child the descent rule (descentChoice) leads to, and its record's
// position in the node.
bool chooseChild(const BTree& t, const CacheBuffer* n, const uint8_t* key, uint32_t& child, uint32_t& position)
{
    if (nodeRecords(n) == 0) return false;
    position = descentChoice(n, key, t.compare, true);
    return indexChild(t, n, static_cast<uint16_t>(position), child);
}

// Reads a child met in an index node and checks that it lies one level
// lower and is an index or leaf node.
CacheBuffer* readChild(const BTree& t, const CacheBuffer* parent, uint32_t child)
{
    const Hold h = hold(const_cast<CacheBuffer*>(parent));
    CacheBuffer* c = readNode(t, child);
    release(h);
    if (!c) return nullptr;
    if (nodeHeight(c) + 1 != nodeHeight(parent) || (nodeType(c) != nd::indexNode && nodeType(c) != nd::leafNode)) {
        setError(errBadNode);
        return nullptr;
    }
    return c;
}

// Moves the first record of `from` to the end of `to`.
bool moveFirstRecord(CacheBuffer* from, CacheBuffer* to)
{
    if (!insertRecordAt(to, nodeRecords(to), from->data + recordOffset(from, 0), recordSize(from, 0))) return false;
    deleteRecordAt(from, 0);
    return true;
}

int badNode()
{
    setError(errBadNode);
    return -1;
}

// Inserts record r (length L) at index n of node a; see the file comment for
// the results. On a split r receives the index record of the new node.
int nodeInsert(const BTree& t, uint32_t a, CacheBuffer* node, uint32_t n, uint8_t* r, uint16_t& L)
{
    // An empty tree: the record becomes the single root leaf.
    if (a == 0) {
        const uint32_t x = btAllocNode(t);
        if (x == 0) return -1;
        CacheBuffer* leaf = nodeForBuilding(t, x);
        if (!leaf) return -1;
        initNode(leaf, 0, 0, nd::leafNode, 1);
        if (!insertRecordAt(leaf, 0, r, L)) return badNode();
        insertedLeaf = {x, 0};
        putHeader32(t, bth::root, x);
        putHeader32(t, bth::fNode, x);
        putHeader32(t, bth::lNode, x);
        put16(1, header(t), bth::depth);
        return 0;
    }
    const bool atLeaf = nodeType(node) == nd::leafNode;
    const auto landed = [atLeaf](uint32_t nodeNumber, uint32_t index) {
        if (atLeaf) insertedLeaf = {nodeNumber, static_cast<uint16_t>(index)};
    };
    if (nodeFreeSpace(node) >= L + 2u) {
        if (!insertRecordAt(node, n, r, L)) return badNode();
        landed(a, n);
        return n == 0 ? 1 : 0;
    }

    // Make room by moving leading records into the left sibling.
    const uint32_t left = nodeBLink(node);
    if (left != 0) {
        const Hold ha = hold(node);
        CacheBuffer* sib = readNode(t, left);
        release(ha);
        if (!sib) return -1;
        if (nodeType(sib) != nodeType(node) || nodeHeight(sib) != nodeHeight(node)) return badNode();
        uint32_t sibFree = nodeFreeSpace(sib);
        uint32_t nodeFree = nodeFreeSpace(node);
        const uint32_t count = nodeRecords(node);
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t size = i < n ? recordSize(node, i) + 2u : L + 2u;
            if (size > sibFree) break;
            sibFree -= size;
            nodeFree += size;
            if (nodeFree < L + 2u && i != n) continue;
            const uint32_t moving = std::min(n, i + 1);
            for (uint32_t k = 0; k < moving; ++k)
                if (!moveFirstRecord(node, sib)) return badNode();
            if (i == n) {
                if (!insertRecordAt(sib, nodeRecords(sib), r, L)) return badNode();
                landed(left, nodeRecords(sib) - 1u);
            } else if (!insertRecordAt(node, n - moving, r, L)) {
                return badNode();
            } else {
                landed(a, n - moving);
            }
            return (i == 0 && n == 0) ? 0 : 1;
        }
    }

    // Split: a new node b to the left of a takes the first half.
    const uint8_t type = nodeType(node);
    const uint8_t height = nodeHeight(node);
    const Hold ha = hold(node);
    const uint32_t b = btAllocNode(t);
    CacheBuffer* nb = b ? nodeForBuilding(t, b) : nullptr;
    release(ha);
    if (!nb) return -1;
    const Hold hb = hold(nb);
    const Hold ha2 = hold(node);
    initNode(nb, a, left, type, height);
    if (left != 0) {
        CacheBuffer* sib = readNode(t, left);
        if (!sib) {
            release(ha2);
            release(hb);
            return -1;
        }
        put32(b, sib, nd::fLink);
    }
    put32(b, node, nd::bLink);
    const uint32_t half = (nodeRecords(node) + 1u) / 2u;
    bool ok = true;
    for (uint32_t k = 0; k < half && ok; ++k) {
        if (k == n) ok = insertRecordAt(nb, nodeRecords(nb), r, L);
        else ok = moveFirstRecord(node, nb);
    }
    if (ok && n >= half) ok = insertRecordAt(node, n - half, r, L);
    if (n < half) landed(b, n);
    else landed(a, n - half);
    if (!ok || nodeRecords(node) == 0) {
        release(ha2);
        release(hb);
        return badNode();
    }
    L = makeIndexRecord(t, r, nb, b);
    if (type == nd::leafNode && left == 0) putHeader32(t, bth::fNode, b);
    if (height != treeDepth(t)) {
        release(ha2);
        release(hb);
        return 2;
    }

    // The root split: a new root above a and b.
    const uint32_t root = btAllocNode(t);
    CacheBuffer* nr = root ? nodeForBuilding(t, root) : nullptr;
    if (!nr) {
        release(ha2);
        release(hb);
        return -1;
    }
    initNode(nr, 0, 0, nd::indexNode, static_cast<uint8_t>(height + 1));
    ok = insertRecordAt(nr, 0, r, L);
    L = makeIndexRecord(t, r, node, a);
    ok = ok && insertRecordAt(nr, 1, r, L);
    release(ha2);
    release(hb);
    if (!ok) return badNode();
    putHeader32(t, bth::root, root);
    put16(static_cast<uint16_t>(height + 1), header(t), bth::depth);
    return 2;
}

int insertBelow(const BTree& t, uint32_t a, uint8_t* r, uint16_t& L, int level)
{
    if (a == 0) {
        const int res = nodeInsert(t, 0, nullptr, 0, r, L);
        if (res >= 0) putHeader32(t, bth::nRecs, header32(t, bth::nRecs) + 1);
        return res;
    }
    if (level > maxTreeDepth) return badNode();
    CacheBuffer* node = readNode(t, a);
    if (!node) return -1;
    const uint16_t count = nodeRecords(node);
    if (count == 0) return badNode();
    if (nodeType(node) == nd::leafNode) {
        uint32_t i = 0;
        for (; i < count; ++i) {
            const int c = t.compare(r, node->data + recordOffset(node, i));
            if (c == 0) {
                setError(errNameExists);
                return 0;
            }
            if (c < 0) break;
        }
        const int res = nodeInsert(t, a, node, i, r, L);
        if (res < 0) return -1;
        putHeader32(t, bth::nRecs, header32(t, bth::nRecs) + 1);
        if (res != 0) insertChanged = a;
        return res;
    }
    if (nodeType(node) != nd::indexNode) return badNode();

    uint32_t child, p;
    if (!chooseChild(t, node, r, child, p)) return badNode();
    if (!readChild(t, node, child)) return -1;
    const Hold h = hold(node);
    const int res = insertBelow(t, child, r, L, level + 1);
    release(h);
    if (res == 1) {
        const int k = replaceIndexKey(t, node, p, insertChanged);
        if (k == 1) insertChanged = a;
        return k;
    }
    if (res == 2) {
        const int k = replaceIndexKey(t, node, p, insertChanged);
        if (k < 0) return -1;
        const int s = nodeInsert(t, a, node, p, r, L);
        if (s < 0) return -1;
        if (k != 0 || s != 0) insertChanged = a;
        return s != 0 ? s : k;
    }
    return res;
}

// Removes record i of node a; an emptied node is unlinked and freed.
int nodeDelete(const BTree& t, uint32_t a, CacheBuffer* node, uint32_t i)
{
    if (nodeRecords(node) > 1) {
        deleteRecordAt(node, i);
        return i == 0 ? 1 : 0;
    }
    const Hold h = hold(node);
    const uint32_t f = nodeFLink(node);
    const uint32_t b = nodeBLink(node);
    const bool leaf = nodeType(node) == nd::leafNode;
    int res = 2;
    // A level left with one node makes that node the root.
    const auto becomeRoot = [&](uint32_t single, const CacheBuffer* sn) {
        put16(nodeHeight(sn), header(t), bth::depth);
        putHeader32(t, bth::root, single);
        if (leaf) {
            putHeader32(t, bth::fNode, single);
            putHeader32(t, bth::lNode, single);
        }
        res = 3;
    };
    if (f != 0) {
        CacheBuffer* fn = readNode(t, f);
        if (!fn) {
            release(h);
            return -1;
        }
        put32(b, fn, nd::bLink);
        if (b == 0 && nodeFLink(fn) == 0) becomeRoot(f, fn);
    }
    if (b != 0) {
        CacheBuffer* bn = readNode(t, b);
        if (!bn) {
            release(h);
            return -1;
        }
        put32(f, bn, nd::fLink);
        if (f == 0 && nodeBLink(bn) == 0) becomeRoot(b, bn);
    }
    if (leaf) {
        if (f == 0) putHeader32(t, bth::lNode, b);
        if (b == 0) putHeader32(t, bth::fNode, f);
        if (f == 0 && b == 0) {
            put16(0, header(t), bth::depth);
            putHeader32(t, bth::root, 0);
        }
    }
    btFreeNode(t, a);
    release(h);
    return lastError == errNone ? res : -1;
}

int deleteBelow(const BTree& t, uint32_t a, const uint8_t* key, int level)
{
    if (level > maxTreeDepth) return badNode();
    CacheBuffer* node = readNode(t, a);
    if (!node) return -1;
    const uint16_t count = nodeRecords(node);
    if (count == 0) return badNode();
    if (nodeType(node) == nd::leafNode) {
        uint32_t i = 0;
        int c = 1;
        for (; i < count; ++i) {
            c = t.compare(key, node->data + recordOffset(node, i));
            if (c <= 0) break;
        }
        if (i == count || c != 0) return badNode();
        const int res = nodeDelete(t, a, node, i);
        if (res < 0) return -1;
        if (res == 1) deleteChanged = a;
        const uint32_t records = header32(t, bth::nRecs);
        putHeader32(t, bth::nRecs, records > 0 ? records - 1 : 0);
        return res;
    }
    if (nodeType(node) != nd::indexNode) return badNode();

    uint32_t child, p;
    if (!chooseChild(t, node, key, child, p)) return badNode();
    if (!readChild(t, node, child)) return -1;
    const Hold h = hold(node);
    const int res = deleteBelow(t, child, key, level + 1);
    release(h);
    if (res == 1) {
        const int k = replaceIndexKey(t, node, p, deleteChanged);
        if (k == 1) deleteChanged = a;
        return k;
    }
    if (res == 2) {
        const int k = nodeDelete(t, a, node, p);
        if (k == 1) deleteChanged = a;
        return k;
    }
    if (res == 3) {
        // The level below is a single node, now the root: this level and
        // every one above it goes.
        const Hold h2 = hold(node);
        const uint32_t f = nodeFLink(node);
        const uint32_t b = nodeBLink(node);
        if (f != 0) btFreeNode(t, f);
        if (b != 0) btFreeNode(t, b);
        release(h2);
        btFreeNode(t, a);
        return lastError == errNone ? 3 : -1;
    }
    return res;
}

// One stretch of the map: a buffer and the byte range of its map record.
struct MapPart {
    CacheBuffer* buffer;
    uint32_t begin, end;
};

// The map stretch after `previous` (the header's when previous is null);
// buffer null at the end of the chain. Map nodes are checked before use.
bool nextMapPart(const BTree& t, const MapPart* previous, MapPart& part)
{
    part = MapPart{};
    if (!previous) {
        CacheBuffer* h = header(t);
        if (nodeRecords(h) < 3) return false;
        part = {h, recordOffset(h, 2), recordOffset(h, 3)};
        return true;
    }
    const uint32_t next = nodeFLink(previous->buffer);
    if (next == 0) return true;
    CacheBuffer* m = readNode(t, next);
    if (!m) return false;
    if (nodeType(m) != nd::mapNode || nodeRecords(m) < 1) {
        setError(errBadNode);
        return false;
    }
    part = {m, recordOffset(m, 0), recordOffset(m, 1)};
    return true;
}

// Number of nodes the whole map covers, and its last part.
bool mapCoverage(const BTree& t, uint64_t& nodes, MapPart& last)
{
    nodes = 0;
    MapPart part;
    if (!nextMapPart(t, nullptr, part)) return false;
    // A chain longer than the tree has nodes loops.
    for (uint32_t steps = 0; part.buffer; ++steps) {
        if (steps > treeNodes(t)) {
            setError(errBadNode);
            return false;
        }
        nodes += 8ull * (part.end - part.begin);
        last = part;
        MapPart next;
        if (!nextMapPart(t, &part, next)) return false;
        part = next;
    }
    return true;
}

// Grows a tree file by its clump and extends the map to cover it.
void growTree(const BTree& t)
{
    CacheBuffer* control = t.file->buffer;
    const bool extents = t.file->fileId == 3;
    if (extents && read16(control->data + fil::extRec + 10) != 0) {
        setError(errMacDiskFull);
        return;
    }
    const uint32_t blockBytes = volume.spb * 512u;
    const uint32_t clump = read32(volume.mdb->data + (extents ? mdb::xtClpSiz : mdb::ctClpSiz));
    uint32_t blocks = std::max<uint32_t>(clump / blockBytes, 1);
    extendFork(*t.file, dataFork, blocks);
    if (lastError != errNone) return;
    if (blocks == 0) {
        setError(errMacDiskFull);
        return;
    }
    put32(read32(control->data + fil::pyLen), control, fil::lgLen);
    const uint32_t added = blocks * volume.spb;
    const uint32_t nodes = treeNodes(t) + added;
    putHeader32(t, bth::nNodes, nodes);
    putHeader32(t, bth::freeNodes, header32(t, bth::freeNodes) + added);

    uint64_t covered;
    MapPart last{};
    if (!mapCoverage(t, covered, last)) return;
    while (covered < nodes) {
        // The first node the map does not cover becomes a map node.
        const uint32_t m = static_cast<uint32_t>(covered);
        CacheBuffer* mn = nodeForBuilding(t, m);
        if (!mn) return;
        put32(m, last.buffer, nd::fLink);
        initNode(mn, 0, 0, nd::mapNode, 0);
        put16(1, mn, nd::nRecs);
        put16(506, mn, 508);
        putByte(0x80, mn, 14);
        putHeader32(t, bth::freeNodes, header32(t, bth::freeNodes) - 1);
        last = {mn, 14, 506};
        covered += 8u * 492u;
    }
}

}  // namespace

bool insertNodeRecord(uint8_t* node, uint32_t index, const uint8_t* record, uint32_t length)
{
    const uint32_t count = read16(node + nd::nRecs);
    if (index > count || count >= 248) return false;
    const uint32_t start = recordOffset(node, index);
    const uint32_t freeStart = recordOffset(node, count);
    // The record and one more offset slot must fit between the records and
    // the offset table.
    if (start > freeStart || freeStart + length + 2 > 512 - 2 * (count + 1)) return false;
    std::memmove(node + start + length, node + start, freeStart - start);
    std::memcpy(node + start, record, length);
    for (uint32_t j = count + 1; j > index; --j)
        write16(node + 510 - 2 * j, static_cast<uint16_t>(recordOffset(node, j - 1) + length));
    write16(node + nd::nRecs, static_cast<uint16_t>(count + 1));
    return true;
}

bool deleteNodeRecord(uint8_t* node, uint32_t index)
{
    const uint32_t count = read16(node + nd::nRecs);
    if (index >= count) return false;
    const uint32_t start = recordOffset(node, index);
    const uint32_t end = recordOffset(node, index + 1);
    const uint32_t freeStart = recordOffset(node, count);
    if (start > end || end > freeStart || freeStart > 512 - 2 * (count + 1)) return false;
    const uint32_t length = end - start;
    std::memmove(node + start, node + end, freeStart - end);
    std::memset(node + freeStart - length, 0, length);
    for (uint32_t j = index; j < count; ++j)
        write16(node + 510 - 2 * j, static_cast<uint16_t>(recordOffset(node, j + 1) - length));
    write16(node + 510 - 2 * count, 0);
    write16(node + nd::nRecs, static_cast<uint16_t>(count - 1));
    return true;
}

int btInsert(const BTree& t, uint32_t node, uint8_t* record, uint16_t& length)
{
    if (lastError != errNone) return -1;
    return insertBelow(t, node, record, length, 0);
}

int btDelete(const BTree& t, uint32_t node, const uint8_t* key)
{
    if (lastError != errNone) return -1;
    if (node == 0) return badNode();
    return deleteBelow(t, node, key, 0);
}

LeafPlace treeInsert(const BTree& t, const uint8_t* record, uint16_t length)
{
    // The record buffer also carries index records up the tree.
    uint8_t buffer[512];
    if (length < 2 || length > 512 - 14 - 4) {
        setError(errBadNode);
        return {};
    }
    std::memcpy(buffer, record, length);
    // Growing the catalog file may insert into the extents tree on the way:
    // that insertion's place is its own, and the outer one's is kept.
    const LeafPlace outer = insertedLeaf;
    insertedLeaf = {};
    btInsert(t, treeRoot(t), buffer, length);
    const LeafPlace placed = insertedLeaf;
    insertedLeaf = outer;
    return lastError == errNone ? placed : LeafPlace{};
}

void treeDelete(const BTree& t, const uint8_t* key) { btDelete(t, treeRoot(t), key); }

namespace {

uint32_t treeSlot(const BTree& t) { return t.file->fileId == 3 ? 0 : 1; }

bool nodeClaimed(const BTree& t, uint32_t n)
{
    const std::vector<uint8_t>& claimed = allocation.claimedNodes[treeSlot(t)];
    return n / 8 < claimed.size() && (claimed[n / 8] & (0x80u >> (n % 8)));
}

}  // namespace

void holdClaimedNode(const BTree& t, uint32_t node)
{
    std::vector<uint8_t>& claimed = allocation.claimedNodes[treeSlot(t)];
    if (claimed.size() <= node / 8) claimed.resize(node / 8 + 1, 0);
    claimed[node / 8] |= static_cast<uint8_t>(0x80u >> (node % 8));
}

uint32_t btAllocNode(const BTree& t)
{
    // No node below the hint is free, so the walk skips the map bytes that
    // cover only nodes below it. At most two rounds: the second one follows
    // a growth of the file.
    uint32_t& lowestFree = allocation.lowestFreeNode[treeSlot(t)];
    for (int round = 0; round < 2 && lastError == errNone; ++round) {
        const uint32_t nodes = treeNodes(t);
        uint32_t base = 0;
        MapPart part;
        if (!nextMapPart(t, nullptr, part)) return 0;
        for (uint32_t steps = 0; part.buffer && base < nodes; ++steps) {
            if (steps > nodes) {
                setError(errBadNode);
                return 0;
            }
            const uint32_t partNodes = 8 * (part.end - part.begin);
            const uint32_t skip = lowestFree > base ? std::min(lowestFree - base, partNodes) / 8 : 0;
            base += 8 * skip;
            for (uint32_t at = part.begin + skip; at < part.end && base < nodes; ++at, base += 8) {
                const uint8_t byte = part.buffer->data[at];
                if (byte == 0xFF) continue;
                for (uint32_t bit = 0; bit < 8 && base + bit < nodes; ++bit) {
                    const uint8_t mask = static_cast<uint8_t>(0x80u >> bit);
                    if ((byte & mask) || nodeClaimed(t, base + bit)) continue;
                    putByte(static_cast<uint8_t>(byte | mask), part.buffer, at);
                    const uint32_t free = header32(t, bth::freeNodes);
                    putHeader32(t, bth::freeNodes, free > 0 ? free - 1 : 0);
                    lowestFree = base + bit + 1;
                    return base + bit;
                }
            }
            MapPart next;
            if (!nextMapPart(t, &part, next)) return 0;
            part = next;
        }
        lowestFree = std::max(lowestFree, nodes);
        if (round == 0) growTree(t);
    }
    setError(errMacDiskFull);
    return 0;
}

void btFreeNode(const BTree& t, uint32_t n)
{
    const uint32_t nodes = treeNodes(t);
    if (n == 0 || n >= nodes) return;
    CacheBuffer* node = nodeForBuilding(t, n);
    if (!node) return;
    fillBytes(0, node, 0, 512);
    uint32_t base = 0;
    MapPart part;
    if (!nextMapPart(t, nullptr, part)) return;
    for (uint32_t steps = 0; part.buffer && steps <= nodes; ++steps) {
        const uint32_t bytes = part.end - part.begin;
        if (n < base + 8 * bytes) {
            const uint32_t at = part.begin + (n - base) / 8;
            const uint8_t mask = static_cast<uint8_t>(0x80u >> ((n - base) % 8));
            const uint8_t byte = part.buffer->data[at];
            if (byte & mask) {
                putByte(static_cast<uint8_t>(byte & ~mask), part.buffer, at);
                putHeader32(t, bth::freeNodes, header32(t, bth::freeNodes) + 1);
                uint32_t& lowestFree = allocation.lowestFreeNode[treeSlot(t)];
                lowestFree = std::min(lowestFree, n);
            }
            return;
        }
        base += 8 * bytes;
        MapPart next;
        if (!nextMapPart(t, &part, next)) return;
        part = next;
    }
}

}  // namespace verrin
