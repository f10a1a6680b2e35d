// The consistency checker (see check.h). It walks the mounted volume's
// structures read-only and collects problems as sentences:
//   - the master directory block against the alternate copy near the end
//     of the volume (the fields that describe the layout);
//   - each B-tree: header fields, the node map, every node reached from the
//     root (layout, type, height, key order within and across nodes, index
//     keys equal to their children's first keys), sibling links per level,
//     first and last leaf, leaf record count, free node count;
//   - the catalog: folder threads, parents, valences, the volume's file and
//     folder counts, unique catalog IDs below drNxtCNID;
//   - the allocation: every fork's extents (with extents-overflow records)
//     against its lengths, blocks owned twice, the bitmap against the owned
//     blocks, drFreeBks against the bitmap.
// Every number read from the volume is checked before it is used as an
// index, count or loop bound; engine failures while reading become problems.
// Calls the cache, fork mapping and node checks of the engine, and the Mac
// Roman conversion for names in messages.
#include "hfs/check.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <unordered_map>

#include "base/macroman.h"
#include "hfs/drive.h"
#include "hfs/internal.h"

namespace verrin {

namespace {

// ---------------------------------------------------------------------------
// Problem list.

struct Problems {
    std::vector<std::string> list;
    bool truncated = false;

#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    void add(const char* format, ...)
    {
        if (list.size() >= maxCheckProblems) {
            truncated = true;
            return;
        }
        char text[600];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        list.emplace_back(text);
    }
};

// The pending engine error as text, cleared so the next read can proceed.
const char* takeError()
{
    const int32_t code = lastError;
    lastError = errNone;
    const char* text = errorText(code);
    return *text ? text : "read failed";
}

// A name for messages: quoted, at most 31 characters.
std::string quoted(const uint8_t* name)
{
    const size_t length = name[0] > 31 ? 31 : name[0];
    return "'" + macRomanToUtf8(name + 1, length) + "'";
}

using Key = std::array<uint8_t, 40>;

Key copyKey(const uint8_t* key)
{
    Key k{};
    std::memcpy(k.data(), key, static_cast<size_t>(key[0]) + 1 > k.size() ? k.size() : key[0] + 1u);
    return k;
}

// ---------------------------------------------------------------------------
// Master directory block.

struct MdbField {
    uint32_t offset;
    uint32_t size;
    const char* name;
};

// The fields that describe the volume's layout; the alternate copy is
// refreshed only when one of them changes, so the counts and dates in it
// may lag behind.
constexpr MdbField layoutFields[] = {
    {mdb::sigWord, 2, "drSigWord"},   {mdb::crDate, 4, "drCrDate"},      {mdb::vbmSt, 2, "drVBMSt"},
    {mdb::nmAlBlks, 2, "drNmAlBlks"}, {mdb::alBlkSiz, 4, "drAlBlkSiz"},  {mdb::alBlSt, 2, "drAlBlSt"},
    {mdb::xtFlSize, 4, "drXTFlSize"}, {mdb::xtExtRec, 12, "drXTExtRec"}, {mdb::ctFlSize, 4, "drCTFlSize"},
    {mdb::ctExtRec, 12, "drCTExtRec"},
};

std::string fieldValue(const uint8_t* p, uint32_t size)
{
    char text[64];
    if (size == 2) std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(read16(p)));
    else if (size == 4) std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(read32(p)));
    else
        std::snprintf(text, sizeof text, "(%u,%u) (%u,%u) (%u,%u)", read16(p), read16(p + 2), read16(p + 4),
                      read16(p + 6), read16(p + 8), read16(p + 10));
    return text;
}

// A bare volume keeps its alternate copy in the medium's second-to-last
// sector, which the length estimated from the MDB can miss by a few
// sectors when the medium is not a whole number of allocation blocks:
// that sector when it differs from the estimate's, or 0.
uint32_t mediumAlternateSector()
{
    if (volume.startSector != 0 || currentDrive < 0 || currentDrive >= driveCount) return 0;
    DriveEntry& entry = driveTable[currentDrive];
    if (!entry.querySectorSize) return 0;
    uint64_t capacity = 0;
    const uint32_t size = entry.querySectorSize(entry, &capacity);
    lastError = errNone;
    const uint64_t sectors = capacity * (size / 512);
    if (size < 512 || sectors < 4 || sectors > 0xFFFFFFFFu || sectors == volume.sizeSectors) return 0;
    return static_cast<uint32_t>(sectors - 2);
}

void checkAlternateMdb(Problems& p)
{
    if (volume.sizeSectors < 4) {
        p.add("The volume is too short to hold an alternate master directory block.");
        return;
    }
    const uint32_t at = volume.sizeSectors - 2;
    CacheBuffer* alt = getVolumeSector(at, 1);
    const char* readError = alt ? nullptr : takeError();
    if (!alt || read16(alt->data) != sigHfs) {
        const uint32_t other = mediumAlternateSector();
        CacheBuffer* b = other ? getVolumeSector(other, 1) : nullptr;
        lastError = errNone;
        if (!b || read16(b->data) != sigHfs) {
            if (readError)
                p.add("The alternate master directory block (volume sector %u) cannot be read: %s.", at, readError);
            else
                p.add("The alternate master directory block (volume sector %u) is missing: it has no HFS "
                      "signature.",
                      at);
            return;
        }
        alt = b;
    }
    const uint8_t* m = volume.mdb->data;
    for (const MdbField& f : layoutFields) {
        if (std::memcmp(m + f.offset, alt->data + f.offset, f.size) == 0) continue;
        p.add("The alternate master directory block differs in %s: %s in the master directory block, %s in the "
              "alternate.",
              f.name, fieldValue(m + f.offset, f.size).c_str(), fieldValue(alt->data + f.offset, f.size).c_str());
    }
}

// ---------------------------------------------------------------------------
// B-tree walk.

struct TreeWalk {
    const BTree& tree;
    const char* name;  // "catalog" or "extents"
    Problems& p;
    uint32_t nodes = 0;             // bthNNodes, bounded by the file's length
    std::vector<uint8_t> inTree;    // 1 for nodes reached from the root
    std::vector<uint8_t> isMap;     // 1 for the header and map nodes
    std::vector<std::vector<uint32_t>> levels;  // nodes per height, in key order
    std::vector<std::pair<uint32_t, uint32_t>> links;  // per node in levels: fLink, bLink
    std::unordered_map<uint32_t, std::pair<uint32_t, uint32_t>> nodeLinks;
    std::vector<Key> lastKey;       // per height: the last key seen
    std::vector<uint8_t> haveLastKey;
    uint64_t leafRecords = 0;
    bool complete = true;           // every node of the tree could be read
    std::function<void(const uint8_t* record, uint32_t size, uint32_t node)> onLeafRecord;

    TreeWalk(const BTree& t, const char* n, Problems& problems) : tree(t), name(n), p(problems) {}
};

// Reads node n into `out` through the cache; a problem and false when it
// cannot be read.
bool fetchNode(TreeWalk& w, uint32_t n, CacheBuffer& out)
{
    uint32_t sector = 0, run = 0;
    if (!mapForkSector(*w.tree.file, dataFork, n, sector, run)) {
        w.p.add("The %s B-tree's node %u cannot be located in its file: %s.", w.name, n, takeError());
        return false;
    }
    CacheBuffer* b = getVolumeSector(sector, 1);
    if (!b) {
        w.p.add("The %s B-tree's node %u cannot be read: %s.", w.name, n, takeError());
        return false;
    }
    out = *b;
    return true;
}

// Visits node n at the expected height; firstKey receives its first key.
bool visitNode(TreeWalk& w, uint32_t n, uint32_t height, uint32_t parent, Key& firstKey)
{
    const char* t = w.name;
    if (n == 0 || n >= w.nodes) {
        w.p.add("The %s B-tree's index node %u points to node %u, which is outside the tree (%u nodes).", t, parent,
                n, w.nodes);
        w.complete = false;
        return false;
    }
    if (w.inTree[n] || w.isMap[n]) {
        w.p.add("The %s B-tree's node %u is reached a second time (from index node %u).", t, n, parent);
        w.complete = false;
        return false;
    }
    w.inTree[n] = 1;
    CacheBuffer node;
    if (!fetchNode(w, n, node)) {
        w.complete = false;
        return false;
    }
    if (!nodeLayoutValid(&node)) {
        w.p.add("The %s B-tree's node %u has a broken record layout (record count %u).", t, n, nodeRecords(&node));
        w.complete = false;
        return false;
    }
    const uint8_t type = nodeType(&node);
    const uint8_t expectedType = height == 1 ? nd::leafNode : nd::indexNode;
    if (type != expectedType) {
        w.p.add("The %s B-tree's node %u has type %d where %s node of height %u belongs.", t, n,
                static_cast<int8_t>(type), height == 1 ? "a leaf" : "an index", height);
        w.complete = false;
        return false;
    }
    if (nodeHeight(&node) != height) {
        w.p.add("The %s B-tree's node %u has height %u, but its place in the tree gives %u.", t, n,
                nodeHeight(&node), height);
    }
    if (!nodeKeysValid(w.tree, &node)) {
        w.p.add("The %s B-tree's node %u holds a record whose key length does not fit.", t, n);
        w.complete = false;
        return false;
    }
    const uint16_t count = nodeRecords(&node);
    if (count == 0) {
        w.p.add("The %s B-tree's node %u is in the tree but holds no records.", t, n);
        w.complete = false;
        return false;
    }
    w.levels[height].push_back(n);
    w.nodeLinks[n] = {nodeFLink(&node), nodeBLink(&node)};

    // Key order: within the node, and after the last key of the level.
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* key = node.data + recordOffset(&node, i);
        if (i > 0) {
            const uint8_t* previous = node.data + recordOffset(&node, i - 1u);
            if (w.tree.compare(previous, key) >= 0)
                w.p.add("The %s B-tree's keys are out of order in node %u: record %u does not sort after record %u.",
                        t, n, i, i - 1u);
        } else if (w.haveLastKey[height] && w.tree.compare(w.lastKey[height].data(), key) >= 0) {
            w.p.add("The %s B-tree's keys are out of order across nodes: the first key of node %u does not sort "
                    "after the last key of the node before it at height %u.",
                    t, n, height);
        }
    }
    firstKey = copyKey(node.data + recordOffset(&node, 0));
    w.lastKey[height] = copyKey(node.data + recordOffset(&node, count - 1u));
    w.haveLastKey[height] = 1;

    if (type == nd::leafNode) {
        w.leafRecords += count;
        if (w.onLeafRecord)
            for (uint16_t i = 0; i < count; ++i)
                w.onLeafRecord(node.data + recordOffset(&node, i), recordSize(&node, i), n);
        return true;
    }
    for (uint16_t i = 0; i < count; ++i) {
        uint32_t child = 0;
        if (!indexChild(w.tree, &node, i, child)) continue;
        Key childKey{};
        if (!visitNode(w, child, height - 1, n, childKey)) continue;
        const uint8_t* key = node.data + recordOffset(&node, i);
        if (w.tree.compare(key, childKey.data()) != 0)
            w.p.add("The %s B-tree's index record %u in node %u does not equal the first key of its child node %u.",
                    t, i, n, child);
    }
    return true;
}

// Reports runs of nodes [first, last] with a message per run.
void reportNodeRuns(Problems& p, const std::vector<uint32_t>& nodes, const char* tree, const char* what)
{
    for (size_t i = 0; i < nodes.size();) {
        size_t j = i;
        while (j + 1 < nodes.size() && nodes[j + 1] == nodes[j] + 1) ++j;
        if (i == j) p.add("The %s B-tree's node %u %s.", tree, nodes[i], what);
        else p.add("The %s B-tree's nodes %u to %u %s.", tree, nodes[i], nodes[j], what);
        i = j + 1;
    }
}

// Collects the node map's bits: the header node's map record, then the map
// nodes along the header's forward link.
void readNodeMap(TreeWalk& w, const CacheBuffer* header, std::vector<uint8_t>& bits, uint32_t& covered)
{
    covered = 0;
    bits.assign(w.nodes, 0);
    auto take = [&](const uint8_t* bytes, uint32_t length) {
        for (uint32_t i = 0; i < length; ++i)
            for (uint32_t b = 0; b < 8; ++b, ++covered)
                if (covered < w.nodes && (bytes[i] & (0x80u >> b))) bits[covered] = 1;
    };
    const uint16_t start = recordOffset(header, 2);
    const uint16_t end = recordOffset(header, 3);
    take(header->data + start, end - start);  // the layout checked at mount keeps start < end ≤ 510

    uint32_t next = nodeFLink(header);
    uint32_t from = 0;
    for (uint32_t steps = 0; next != 0; ++steps) {
        if (steps > w.nodes || next >= w.nodes || w.isMap[next]) {
            w.p.add("The %s B-tree's map node chain is broken: node %u links to node %u.", w.name, from, next);
            return;
        }
        w.isMap[next] = 1;
        CacheBuffer node;
        if (!fetchNode(w, next, node)) return;
        if (nodeType(&node) != nd::mapNode || !nodeLayoutValid(&node) || nodeRecords(&node) < 1) {
            w.p.add("The %s B-tree's node %u is linked as a map node but is not one.", w.name, next);
            return;
        }
        const uint16_t s = recordOffset(&node, 0);
        const uint16_t e = recordOffset(&node, 1);
        take(node.data + s, e - s);
        from = next;
        next = nodeFLink(&node);
    }
}

// Walks one B-tree; calls w.onLeafRecord for every leaf record in order.
void walkTree(TreeWalk& w)
{
    const char* t = w.name;
    const CacheBuffer* header = *w.tree.header;
    const uint8_t* h = header->data;
    const uint32_t fileBytes = forkPhysicalLength(*w.tree.file, dataFork);
    const uint32_t fileNodes = fileBytes / 512;
    const uint32_t nNodes = read32(h + bth::nNodes);
    const uint32_t depth = read16(h + bth::depth);
    const uint32_t root = read32(h + bth::root);
    const uint32_t expectedKeyLength = w.tree.maxKeyLength;

    if (read16(h + bth::nodeSize) != 512)
        w.p.add("The %s B-tree's node size (bthNodeSize) is %u, not 512.", t, read16(h + bth::nodeSize));
    if (read16(h + bth::keyLen) != expectedKeyLength)
        w.p.add("The %s B-tree's maximum key length (bthKeyLen) is %u, not %u.", t, read16(h + bth::keyLen),
                expectedKeyLength);
    if (nNodes != fileNodes)
        w.p.add("The %s B-tree's node count (bthNNodes) is %u, but its file holds %u nodes.", t, nNodes, fileNodes);
    w.nodes = nNodes < fileNodes ? nNodes : fileNodes;
    if (w.nodes == 0) {
        w.p.add("The %s B-tree has no nodes.", t);
        w.complete = false;
        return;
    }
    w.inTree.assign(w.nodes, 0);
    w.isMap.assign(w.nodes, 0);
    w.isMap[0] = 1;
    w.levels.assign(maxTreeDepth + 1, {});
    w.lastKey.assign(maxTreeDepth + 1, Key{});
    w.haveLastKey.assign(maxTreeDepth + 1, 0);

    std::vector<uint8_t> bits;
    uint32_t covered = 0;
    readNodeMap(w, header, bits, covered);
    if (covered < w.nodes)
        w.p.add("The %s B-tree's node map covers %u nodes, fewer than the tree's %u.", t, covered, w.nodes);

    // The tree itself.
    if (root == 0) {
        if (depth != 0) w.p.add("The %s B-tree is empty (bthRoot 0) but bthDepth is %u.", t, depth);
    } else if (root >= w.nodes) {
        w.p.add("The %s B-tree's root node (bthRoot) %u lies outside the tree (%u nodes).", t, root, w.nodes);
        w.complete = false;
    } else {
        uint32_t height = depth;
        if (depth == 0 || depth > static_cast<uint32_t>(maxTreeDepth)) {
            // Take the root node's own height when the header's is unusable.
            CacheBuffer node;
            height = fetchNode(w, root, node) ? nodeHeight(&node) : 0;
            w.p.add("The %s B-tree's depth (bthDepth) is %u, which does not fit its root node.", t, depth);
        }
        if (height >= 1 && height <= static_cast<uint32_t>(maxTreeDepth)) {
            Key first{};
            visitNode(w, root, height, 0, first);
        } else {
            w.complete = false;
        }
    }

    // Header values that follow from the tree.
    const uint32_t nRecs = read32(h + bth::nRecs);
    if (w.leafRecords != nRecs)
        w.p.add("The %s B-tree's record count (bthNRecs) is %u, but its leaves hold %llu records.", t, nRecs,
                static_cast<unsigned long long>(w.leafRecords));
    const std::vector<uint32_t>& leaves = w.levels[1];
    const uint32_t firstLeaf = leaves.empty() ? 0 : leaves.front();
    const uint32_t lastLeaf = leaves.empty() ? 0 : leaves.back();
    if (w.complete) {
        if (read32(h + bth::fNode) != firstLeaf)
            w.p.add("The %s B-tree's first leaf (bthFNode) is %u, but the leftmost leaf is node %u.", t,
                    read32(h + bth::fNode), firstLeaf);
        if (read32(h + bth::lNode) != lastLeaf)
            w.p.add("The %s B-tree's last leaf (bthLNode) is %u, but the rightmost leaf is node %u.", t,
                    read32(h + bth::lNode), lastLeaf);
        // Sibling links: each level is one chain in key order.
        for (uint32_t level = 1; level < w.levels.size(); ++level) {
            const std::vector<uint32_t>& nodes = w.levels[level];
            for (size_t i = 0; i < nodes.size(); ++i) {
                const auto [fLink, bLink] = w.nodeLinks[nodes[i]];
                const uint32_t wantF = i + 1 < nodes.size() ? nodes[i + 1] : 0;
                const uint32_t wantB = i > 0 ? nodes[i - 1] : 0;
                if (fLink != wantF)
                    w.p.add("The %s B-tree's %s node %u has forward link %u; the next node at its level is %u.", t,
                            level == 1 ? "leaf" : "index", nodes[i], fLink, wantF);
                if (bLink != wantB)
                    w.p.add("The %s B-tree's %s node %u has backward link %u; the previous node at its level is %u.",
                            t, level == 1 ? "leaf" : "index", nodes[i], bLink, wantB);
            }
        }
    }

    // The node map against the nodes in use.
    std::vector<uint32_t> usedButFree, freeButUsed;
    uint32_t setBits = 0;
    for (uint32_t n = 0; n < w.nodes; ++n) {
        const bool used = w.inTree[n] || w.isMap[n];
        setBits += bits[n];
        if (used && !bits[n]) usedButFree.push_back(n);
        if (!used && bits[n] && w.complete) freeButUsed.push_back(n);
    }
    reportNodeRuns(w.p, usedButFree, t, "is in use but marked free in the node map");
    reportNodeRuns(w.p, freeButUsed, t, "is marked in use in the node map but belongs to no part of the tree");
    const uint32_t freeNodes = read32(h + bth::freeNodes);
    if (freeNodes != w.nodes - setBits)
        w.p.add("The %s B-tree's free node count (bthFree) is %u, but its node map leaves %u nodes free.", t,
                freeNodes, w.nodes - setBits);
}

// ---------------------------------------------------------------------------
// Catalog contents.

// filFlags: the file has a thread record.
constexpr uint8_t fileThreadFlag = 0x02;

struct CatalogEntry {
    uint8_t kind;  // cdrFolder, cdrFile, cdrFolderThread, cdrFileThread
    uint32_t parent;  // the key's parent ID (for threads: the item's own ID)
    uint8_t name[32];
    uint32_t id;  // folders and files
    uint8_t flags;  // files: filFlags
    uint16_t valence;
    uint32_t threadParent;  // threads: thdParID
    uint8_t threadName[32];
    // Files: logical and physical lengths and first extent records, data
    // fork then resource fork.
    uint32_t logical[2];
    uint32_t physical[2];
    uint8_t extents[2][12];
};

struct OverflowRecord {
    uint32_t fileId;
    uint8_t forkType;
    uint16_t fabn;
    uint8_t extents[12];
    bool used;
};

std::string describe(const CatalogEntry& e)
{
    char text[64];
    std::snprintf(text, sizeof text, " (ID %u)", e.id);
    return std::string(e.kind == cdrFolder ? "folder " : "file ") + quoted(e.name) + text;
}

void collectCatalogRecord(Problems& p, std::vector<CatalogEntry>& out, const uint8_t* rec, uint32_t size,
                          uint32_t node)
{
    // nodeKeysValid has checked the key length and the name length.
    const uint32_t dataOff = (rec[0] + 2u) & ~1u;
    CatalogEntry e{};
    e.parent = read32(rec + 2);
    std::memcpy(e.name, rec + 6, static_cast<size_t>(rec[6]) + 1);
    if (dataOff >= size) {
        p.add("The catalog record for %s in node %u has no data.", quoted(e.name).c_str(), node);
        return;
    }
    const uint8_t* d = rec + dataOff;
    const uint32_t dataSize = size - dataOff;
    e.kind = d[0];
    auto tooShort = [&](uint32_t need) {
        if (dataSize >= need) return false;
        p.add("The catalog record for %s (parent %u) in node %u is %u bytes, too short for its type %u.",
              quoted(e.name).c_str(), e.parent, node, dataSize, e.kind);
        return true;
    };
    switch (e.kind) {
    case cdrFolder:
        if (tooShort(dir::recordSize)) return;
        e.id = read32(d + dir::dirId);
        e.valence = read16(d + dir::val);
        break;
    case cdrFile:
        if (tooShort(fil::recordSize)) return;
        e.id = read32(d + fil::flNum);
        e.flags = d[2];
        e.logical[0] = read32(d + fil::lgLen);
        e.physical[0] = read32(d + fil::pyLen);
        e.logical[1] = read32(d + fil::rLgLen);
        e.physical[1] = read32(d + fil::rPyLen);
        std::memcpy(e.extents[0], d + fil::extRec, 12);
        std::memcpy(e.extents[1], d + fil::rExtRec, 12);
        break;
    case cdrFolderThread:
    case cdrFileThread:
        if (tooShort(thd::recordSize)) return;
        e.threadParent = read32(d + thd::parId);
        if (d[thd::cName] > 31) {
            p.add("The thread record of ID %u in node %u carries a name of %u characters.", e.parent, node,
                  d[thd::cName]);
            return;
        }
        std::memcpy(e.threadName, d + thd::cName, static_cast<size_t>(d[thd::cName]) + 1);
        break;
    default:
        p.add("The catalog record for %s (parent %u) in node %u has the unknown type %u.", quoted(e.name).c_str(),
              e.parent, node, e.kind);
        return;
    }
    out.push_back(e);
}

// "1 file", "3 files": a count with its noun, in a static buffer that
// lives until the next call of the same kind.
const char* counted(uint32_t n, const char* noun)
{
    static char text[4][48];
    static int next = 0;
    char* out = text[next];
    next = (next + 1) % 4;
    std::snprintf(out, sizeof text[0], "%u %s%s", n, noun, n == 1 ? "" : "s");
    return out;
}

bool sameName(const uint8_t* a, const uint8_t* b) { return a[0] == b[0] && std::memcmp(a + 1, b + 1, a[0]) == 0; }

void checkCatalog(Problems& p, const std::vector<CatalogEntry>& entries)
{
    const uint8_t* m = volume.mdb->data;
    const uint32_t nextId = read32(m + mdb::nxtCNID);
    std::unordered_map<uint32_t, size_t> byId;     // files and folders
    std::unordered_map<uint32_t, size_t> threads;  // by the thread's own ID
    std::unordered_map<uint32_t, uint32_t> children;
    uint32_t files = 0, folders = 0, rootFiles = 0, rootFolders = 0;
    bool haveRoot = false;

    for (size_t i = 0; i < entries.size(); ++i) {
        const CatalogEntry& e = entries[i];
        if (e.kind == cdrFolderThread || e.kind == cdrFileThread) {
            if (e.name[0] != 0)
                p.add("The thread record of ID %u is filed under the name %s instead of an empty one.", e.parent,
                      quoted(e.name).c_str());
            if (!threads.emplace(e.parent, i).second)
                p.add("ID %u has more than one thread record.", e.parent);
            continue;
        }
        if (e.name[0] == 0) p.add("The catalog holds a %s with an empty name (ID %u, parent %u).",
                                  e.kind == cdrFolder ? "folder" : "file", e.id, e.parent);
        const auto [it, fresh] = byId.emplace(e.id, i);
        if (!fresh)
            p.add("Catalog ID %u is used by both %s and %s.", e.id, describe(entries[it->second]).c_str(),
                  describe(e).c_str());
        if (e.id >= nextId)
            p.add("The %s has an ID not below the next free ID (drNxtCNID %u).", describe(e).c_str(), nextId);
        const bool isRoot = e.kind == cdrFolder && e.parent == 1;
        if (isRoot) {
            if (e.id != 2) p.add("The folder %s at the top level has ID %u instead of 2.", quoted(e.name).c_str(), e.id);
            if (haveRoot) p.add("The catalog holds more than one root folder.");
            haveRoot = true;
        } else if (e.id < 16) {
            p.add("The %s has a reserved ID.", describe(e).c_str());
        }
        if (e.kind == cdrFile) {
            ++files;
            if (e.parent == 2) ++rootFiles;
        } else if (!isRoot) {
            ++folders;
            if (e.parent == 2) ++rootFolders;
        }
        ++children[e.parent];
    }
    if (!haveRoot) p.add("The catalog has no root folder (a folder record under parent 1).");

    // Parents, valences, threads.
    for (size_t i = 0; i < entries.size(); ++i) {
        const CatalogEntry& e = entries[i];
        if (e.kind == cdrFolderThread || e.kind == cdrFileThread) {
            const auto it = byId.find(e.parent);
            const char* kind = e.kind == cdrFolderThread ? "folder" : "file";
            if (it == byId.end()) {
                p.add("The %s thread record of ID %u belongs to no item.", kind, e.parent);
                continue;
            }
            const CatalogEntry& item = entries[it->second];
            if (item.kind != (e.kind == cdrFolderThread ? cdrFolder : cdrFile))
                p.add("The %s thread record of ID %u belongs to the %s.", kind, e.parent, describe(item).c_str());
            else if (e.threadParent != item.parent || !sameName(e.threadName, item.name))
                p.add("The thread record of the %s names parent %u and %s instead of parent %u and %s.",
                      describe(item).c_str(), e.threadParent, quoted(e.threadName).c_str(), item.parent,
                      quoted(item.name).c_str());
            continue;
        }
        if (!(e.kind == cdrFolder && e.parent == 1)) {
            const auto parent = byId.find(e.parent);
            if (parent == byId.end())
                p.add("The %s lies in folder %u, which does not exist.", describe(e).c_str(), e.parent);
            else if (entries[parent->second].kind != cdrFolder)
                p.add("The %s lies in %s, which is not a folder.", describe(e).c_str(),
                      describe(entries[parent->second]).c_str());
        }
        if (e.kind == cdrFolder) {
            const auto c = children.find(e.id);
            const uint32_t held = c == children.end() ? 0 : c->second;
            if (held != e.valence)
                p.add("The %s has valence %u but holds %s.", describe(e).c_str(), e.valence, counted(held, "item"));
            if (threads.find(e.id) == threads.end()) p.add("The %s has no thread record.", describe(e).c_str());
        } else if ((e.flags & fileThreadFlag) && threads.find(e.id) == threads.end()) {
            p.add("The %s is flagged as having a thread record, but has none.", describe(e).c_str());
        }
    }

    // Every folder leads up to the root (no loops among parents).
    const size_t bound = byId.size() + 1;
    for (const CatalogEntry& e : entries) {
        if (e.kind != cdrFolder || e.parent == 1) continue;
        uint32_t at = e.parent;
        size_t steps = 0;
        while (at != 2 && steps++ < bound) {
            const auto it = byId.find(at);
            if (it == byId.end() || entries[it->second].kind != cdrFolder) break;  // reported above
            at = entries[it->second].parent;
        }
        if (steps >= bound) p.add("The %s does not lead up to the root folder: its parents form a loop.",
                                  describe(e).c_str());
    }

    // The volume's counts.
    const uint32_t filCnt = read32(m + mdb::filCnt);
    const uint32_t dirCnt = read32(m + mdb::dirCnt);
    const uint32_t nmFls = read16(m + mdb::nmFls);
    const uint32_t nmRtDirs = read16(m + mdb::nmRtDirs);
    if (filCnt != files)
        p.add("The volume's file count (drFilCnt) is %u, but the catalog holds %s.", filCnt, counted(files, "file"));
    if (dirCnt != folders)
        p.add("The volume's folder count (drDirCnt) is %u, but the catalog holds %s besides the root.", dirCnt,
              counted(folders, "folder"));
    if (nmFls != rootFiles)
        p.add("The root file count (drNmFls) is %u, but the root folder holds %s.", nmFls, counted(rootFiles, "file"));
    if (nmRtDirs != rootFolders)
        p.add("The root folder count (drNmRtDirs) is %u, but the root folder holds %s.", nmRtDirs,
              counted(rootFolders, "folder"));
}

// ---------------------------------------------------------------------------
// Allocation.

struct Allocation {
    Problems& p;
    uint32_t numBlocks;
    uint32_t blockSize;
    std::vector<uint32_t> owner;  // 0 free, else index + 1 into owners
    std::vector<std::string> owners;
    // First block and block count of each pair of owners claiming a block.
    std::map<std::pair<uint32_t, uint32_t>, std::pair<uint32_t, uint32_t>> conflicts;
};

void claim(Allocation& a, uint32_t ownerIndex, uint32_t start, uint32_t count)
{
    for (uint32_t b = start; b < start + count; ++b) {
        if (a.owner[b] == 0) {
            a.owner[b] = ownerIndex;
            continue;
        }
        auto [it, fresh] = a.conflicts.try_emplace({a.owner[b], ownerIndex}, b, 0);
        (void)fresh;
        ++it->second.second;
    }
}

// Checks one fork: its first extent record, its overflow records, its
// lengths, and claims its blocks.
void checkFork(Allocation& a, const std::string& ownerName, uint32_t fileId, uint8_t forkType, const uint8_t* first,
               uint32_t logical, uint32_t physical, std::multimap<std::pair<uint32_t, uint8_t>, OverflowRecord*>& ovf)
{
    a.owners.push_back(ownerName);
    const uint32_t ownerIndex = static_cast<uint32_t>(a.owners.size());
    const char* who = a.owners.back().c_str();
    uint64_t blocks = 0;
    auto takeRecord = [&](const uint8_t* rec, const char* where) {
        bool ended = false;
        for (int i = 0; i < 3; ++i) {
            const uint32_t start = read16(rec + 4 * i);
            const uint32_t count = read16(rec + 4 * i + 2);
            if (count == 0) {
                ended = true;
                continue;
            }
            if (ended) a.p.add("The %s has a used extent after an empty one in %s.", who, where);
            if (start + count > a.numBlocks) {
                a.p.add("The %s has the extent %u+%u beyond the volume's %u allocation blocks.", who, start, count,
                        a.numBlocks);
            } else {
                claim(a, ownerIndex, start, count);
            }
            blocks += count;
        }
    };
    takeRecord(first, "its first extent record");
    const auto range = ovf.equal_range({fileId, forkType});
    if (range.first != range.second && read16(first + 10) == 0)
        a.p.add("The %s has extents-overflow records although its first extent record is not full.", who);
    for (auto it = range.first; it != range.second; ++it) {
        OverflowRecord& r = *it->second;
        r.used = true;
        if (r.fabn != blocks)
            a.p.add("The %s has an extents-overflow record starting at block %u of the fork where block %llu "
                    "follows.",
                    who, r.fabn, static_cast<unsigned long long>(blocks));
        takeRecord(r.extents, "an extents-overflow record");
    }
    if (physical % a.blockSize != 0)
        a.p.add("The %s has the physical length %u, not a multiple of the allocation block size %u.", who, physical,
                a.blockSize);
    if (blocks * a.blockSize != physical)
        a.p.add("The %s has the physical length %u, but its extents hold %llu blocks (%llu bytes).", who, physical,
                static_cast<unsigned long long>(blocks), static_cast<unsigned long long>(blocks * a.blockSize));
    if (logical > physical)
        a.p.add("The %s has the logical length %u, beyond its physical length %u.", who, logical, physical);
}

void reportBlockRuns(Allocation& a, const std::vector<uint32_t>& blocks, const char* one, const char* many,
                     bool withOwner)
{
    for (size_t i = 0; i < blocks.size();) {
        size_t j = i;
        while (j + 1 < blocks.size() && blocks[j + 1] == blocks[j] + 1 &&
               (!withOwner || a.owner[blocks[j + 1]] == a.owner[blocks[i]]))
            ++j;
        const std::string owner = withOwner ? " (owned by the " + a.owners[a.owner[blocks[i]] - 1] + ")" : "";
        if (i == j) a.p.add("Allocation block %u %s%s.", blocks[i], one, owner.c_str());
        else a.p.add("Allocation blocks %u to %u %s%s.", blocks[i], blocks[j], many, owner.c_str());
        i = j + 1;
    }
}

void checkAllocation(Problems& p, const std::vector<CatalogEntry>& entries, std::vector<OverflowRecord>& overflow,
                     bool forksKnown)
{
    const uint8_t* m = volume.mdb->data;
    Allocation a{p, volume.numBlocks, read32(m + mdb::alBlkSiz), {}, {}, {}};
    a.owner.assign(a.numBlocks, 0);

    // The bitmap, sector by sector.
    std::vector<uint8_t> bits(a.numBlocks, 0);
    const uint32_t bitmapSectors = (a.numBlocks + 4095) / 4096;
    for (uint32_t s = 0; s < bitmapSectors; ++s) {
        CacheBuffer* b = getVolumeSector(volume.bitmapStart + s, 1);
        if (!b) {
            p.add("The volume bitmap's sector %u cannot be read: %s.", s, takeError());
            return;
        }
        for (uint32_t i = 0; i < 4096 && s * 4096 + i < a.numBlocks; ++i)
            bits[s * 4096 + i] = (b->data[i / 8] >> (7 - i % 8)) & 1;
    }
    uint32_t freeBits = 0;
    for (uint8_t bit : bits) freeBits += bit ? 0 : 1;
    const uint32_t freeBks = read16(m + mdb::freeBks);
    if (freeBks != freeBits)
        p.add("The volume's free block count (drFreeBks) is %u, but the bitmap has %u free blocks.", freeBks,
              freeBits);
    if (!forksKnown) return;

    std::multimap<std::pair<uint32_t, uint8_t>, OverflowRecord*> ovf;
    for (OverflowRecord& r : overflow) ovf.emplace(std::make_pair(r.fileId, r.forkType), &r);

    const uint32_t xtSize = read32(extentsControl.data + fil::pyLen);
    const uint32_t ctSize = read32(catalogControl.data + fil::pyLen);
    checkFork(a, "extents file", 3, dataFork, extentsControl.data + fil::extRec, xtSize, xtSize, ovf);
    checkFork(a, "catalog file", 4, dataFork, catalogControl.data + fil::extRec, ctSize, ctSize, ovf);
    for (const CatalogEntry& e : entries) {
        if (e.kind != cdrFile) continue;
        const std::string name = "file " + quoted(e.name);
        char id[32];
        std::snprintf(id, sizeof id, " (ID %u)", e.id);
        checkFork(a, name + id + " data fork", e.id, dataFork, e.extents[0], e.logical[0], e.physical[0], ovf);
        checkFork(a, name + id + " resource fork", e.id, resourceFork, e.extents[1], e.logical[1], e.physical[1],
                  ovf);
    }
    // Records of the bad-block file (ID 5) own their blocks; others must
    // belong to a fork.
    a.owners.push_back("bad-block file");
    const uint32_t badBlocks = static_cast<uint32_t>(a.owners.size());
    for (OverflowRecord& r : overflow) {
        if (r.used) continue;
        if (r.fileId == 5) {
            for (int i = 0; i < 3; ++i) {
                const uint32_t start = read16(r.extents + 4 * i);
                const uint32_t count = read16(r.extents + 4 * i + 2);
                if (count != 0 && start + count <= a.numBlocks) claim(a, badBlocks, start, count);
            }
            continue;
        }
        p.add("The extents-overflow record for file %u (%s fork, block %u) belongs to no fork of the catalog.",
              r.fileId, r.forkType == dataFork ? "data" : "resource", r.fabn);
    }

    for (const auto& [pair, where] : a.conflicts) {
        if (where.second == 1)
            p.add("Allocation block %u is owned by both the %s and the %s.", where.first,
                  a.owners[pair.first - 1].c_str(), a.owners[pair.second - 1].c_str());
        else
            p.add("%u allocation blocks, the first at %u, are owned by both the %s and the %s.", where.second,
                  where.first, a.owners[pair.first - 1].c_str(), a.owners[pair.second - 1].c_str());
    }

    std::vector<uint32_t> ownedButFree, markedButFree;
    for (uint32_t b = 0; b < a.numBlocks; ++b) {
        if (a.owner[b] && !bits[b]) ownedButFree.push_back(b);
        if (!a.owner[b] && bits[b]) markedButFree.push_back(b);
    }
    reportBlockRuns(a, ownedButFree, "is marked free in the bitmap but in use", "are marked free in the bitmap but in use",
                    true);
    reportBlockRuns(a, markedButFree, "is marked in use in the bitmap but belongs to no fork",
                    "are marked in use in the bitmap but belong to no fork", false);
}

}  // namespace

std::vector<std::string> checkVolume()
{
    Problems p;
    const int32_t pending = lastError;
    lastError = errNone;
    if (!volume.mounted || !volume.mdb || !volume.extentsHeader || !volume.catalogHeader) {
        p.add("No volume is mounted.");
        lastError = pending;
        return p.list;
    }

    checkAlternateMdb(p);

    // The extents tree first: the catalog's own extents may depend on it.
    std::vector<OverflowRecord> overflow;
    TreeWalk extents(extentsTree, "extents", p);
    extents.onLeafRecord = [&](const uint8_t* rec, uint32_t size, uint32_t node) {
        if (size < 20) {
            p.add("The extents B-tree's record in node %u is %u bytes, too short for an extent record.", node, size);
            return;
        }
        if (rec[1] != dataFork && rec[1] != resourceFork)
            p.add("The extents B-tree's record in node %u names the fork type %u.", node, rec[1]);
        OverflowRecord r{};
        r.fileId = read32(rec + 2);
        r.forkType = rec[1];
        r.fabn = read16(rec + 6);
        std::memcpy(r.extents, rec + 8, 12);
        overflow.push_back(r);
    };
    walkTree(extents);

    std::vector<CatalogEntry> entries;
    TreeWalk catalog(catalogTree, "catalog", p);
    catalog.onLeafRecord = [&](const uint8_t* rec, uint32_t size, uint32_t node) {
        collectCatalogRecord(p, entries, rec, size, node);
    };
    walkTree(catalog);

    if (catalog.complete) checkCatalog(p, entries);
    else p.add("The catalog's contents were not checked because its B-tree could not be read completely.");
    const bool forksKnown = catalog.complete && extents.complete;
    checkAllocation(p, entries, overflow, forksKnown);
    if (!forksKnown)
        p.add("The blocks owned by each fork were not checked because a B-tree could not be read completely.");

    if (p.truncated) p.list.emplace_back("Further problems were found but are not listed.");
    lastError = pending;
    return p.list;
}

}  // namespace verrin
