// The consistency checker and the checks before the first change (see
// check.h). It walks the mounted volume's structures read-only and collects
// findings as sentences, each with its weight and the structure it concerns:
//   - the medium's length against the volume's last allocation block;
//   - the master directory block: its name against the root folder's and
//     its length, and the alternate copy near the end of the volume (the
//     fields that describe the layout; a different creation date or unused
//     extent descriptors are only noted);
//   - each B-tree: header node and header fields, the node map, every node
//     reached from the root (layout, type, height, key order within and
//     across nodes, index keys equal to their children's first keys),
//     sibling links per level, first and last leaf, leaf record count, free
//     node count. Index records are read as Mac OS reads them, with keys of
//     the tree's fixed length, so a damaged key length byte costs nothing
//     below it;
//   - the catalog: folder threads, parents, valences, the volume's file and
//     folder counts, unique catalog IDs below drNxtCNID;
//   - the allocation: every fork's extents (with extents-overflow records)
//     against its lengths, blocks owned twice, the bitmap against the owned
//     blocks (blocks marked in use that no fork owns are a warning: wasted
//     space), drFreeBks against the bitmap.
// Names for messages are built only when a finding needs them. Every number
// read from the volume is checked before it is used as an index, count or
// loop bound; engine failures while reading become findings.
// Calls the cache, fork mapping, node checks and allocators' memory of the
// engine, the remembered verdicts, the user-interface seam (the question
// before changing a damaged volume) and the Mac Roman conversion for names
// in messages.
#include "hfs/check.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdarg>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>

#include "base/macroman.h"
#include "base/ui.h"
#include "hfs/drive.h"
#include "hfs/internal.h"
#include "hfs/verdict.h"

namespace verrin {

namespace {

// ---------------------------------------------------------------------------
// Findings.

struct Weight {
    CheckSeverity severity;
    bool spreads;
};
// Damage a change could make worse, damage it cannot, wasted space, and a
// difference worth a note.
constexpr Weight spreading{CheckSeverity::damage, true};
constexpr Weight contained{CheckSeverity::damage, false};
constexpr Weight wasted{CheckSeverity::warning, false};
constexpr Weight noted{CheckSeverity::note, false};

struct Problems {
    CheckReport& report;
    CheckArea area = CheckArea::masterBlock;
    int32_t readError = errNone;  // the first device error met while reading

#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    void add(Weight weight, const char* format, ...)
    {
        if (report.findings.size() >= maxCheckProblems) {
            report.truncated = true;
            return;
        }
        char text[600];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
        report.findings.push_back({weight.severity, area, weight.spreads, text});
    }
};

// What the walk found in use, for a change forced onto a damaged volume.
struct VolumeUse {
    std::vector<uint8_t> blocks;    // 1 for a block some extent claims
    std::vector<uint8_t> nodes[2];  // 1 for a node of the extents (0) or catalog (1) tree in use
    uint32_t highestId = 0;         // the highest catalog ID named anywhere
    bool complete = false;          // both trees were read completely
};

// The pending engine error as text, cleared so the next read can proceed
// (a device error is remembered: the checks before a change stop on it).
const char* takeError(Problems& p)
{
    const int32_t code = lastError;
    lastError = errNone;
    if (code != errBadNode && p.readError == errNone) p.readError = code;
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

// A key of `bytes` bytes (its length byte included).
Key copyKey(const uint8_t* key, uint32_t bytes)
{
    Key k{};
    std::memcpy(k.data(), key, bytes > k.size() ? k.size() : bytes);
    return k;
}

// ---------------------------------------------------------------------------
// The medium and the master directory block.

// The medium's length in 512-byte sectors, or 0 when the drive cannot say.
uint64_t mediumSectors()
{
    if (currentDrive < 0 || currentDrive >= driveCount) return 0;
    return mediumUnits(driveTable[currentDrive]);
}

void checkMediumLength(Problems& p)
{
    const uint64_t sectors = mediumSectors();
    const uint64_t end = volume.startSector + volume.allocStart + uint64_t{volume.numBlocks} * volume.spb;
    p.area = CheckArea::medium;
    if (sectors != 0 && sectors < end)
        p.add(spreading, "The medium holds %llu sectors, but the volume's last allocation block ends at sector %llu.",
              static_cast<unsigned long long>(sectors), static_cast<unsigned long long>(end));
}

struct MdbField {
    uint32_t offset;
    uint32_t size;
    const char* name;
};

// The fields that describe the volume's layout; the alternate copy is
// refreshed only when one of them changes, so the counts and dates in it
// may lag behind.
constexpr MdbField layoutFields[] = {
    {mdb::sigWord, 2, "drSigWord"},   {mdb::vbmSt, 2, "drVBMSt"},        {mdb::nmAlBlks, 2, "drNmAlBlks"},
    {mdb::alBlkSiz, 4, "drAlBlkSiz"}, {mdb::alBlSt, 2, "drAlBlSt"},      {mdb::xtFlSize, 4, "drXTFlSize"},
    {mdb::xtExtRec, 12, "drXTExtRec"}, {mdb::ctFlSize, 4, "drCTFlSize"}, {mdb::ctExtRec, 12, "drCTExtRec"},
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

// Two extent records differ where either uses a descriptor (count not 0);
// descriptors both leave unused may hold anything.
bool usedExtentsDiffer(const uint8_t* a, const uint8_t* b)
{
    for (int i = 0; i < 3; ++i) {
        const bool used = read16(a + 4 * i + 2) != 0 || read16(b + 4 * i + 2) != 0;
        if (used && std::memcmp(a + 4 * i, b + 4 * i, 4) != 0) return true;
    }
    return false;
}

// A bare volume keeps its alternate copy in the medium's second-to-last
// sector, which the length estimated from the MDB can miss by a few
// sectors when the medium is not a whole number of allocation blocks:
// that sector when it differs from the estimate's, or 0.
uint32_t mediumAlternateSector()
{
    if (volume.startSector != 0) return 0;
    const uint64_t sectors = mediumSectors();
    if (sectors < 4 || sectors > 0xFFFFFFFFu || sectors == volume.sizeSectors) return 0;
    return static_cast<uint32_t>(sectors - 2);
}

void checkAlternateMdb(Problems& p)
{
    p.area = CheckArea::masterBlock;
    if (volume.sizeSectors < 4) {
        p.add(contained, "The volume is too short to hold an alternate master directory block.");
        return;
    }
    const uint32_t at = volume.sizeSectors - 2;
    CacheBuffer* alt = getVolumeSector(at, 1);
    const int32_t failure = lastError;
    lastError = errNone;
    const char* readError = nullptr;
    if (!alt) {
        // An alternate beyond the end of the medium is missing, not unreadable.
        const uint64_t medium = mediumSectors();
        lastError = failure;
        if (medium != 0 && volume.startSector + uint64_t{at} >= medium) lastError = errNone;
        readError = lastError == errNone ? "it lies beyond the end of the medium" : takeError(p);
    }
    if (!alt || read16(alt->data) != sigHfs) {
        const uint32_t other = mediumAlternateSector();
        CacheBuffer* b = other ? getVolumeSector(other, 1) : nullptr;
        lastError = errNone;
        if (!b || read16(b->data) != sigHfs) {
            if (readError)
                p.add(contained, "The alternate master directory block (volume sector %u) cannot be read: %s.", at,
                      readError);
            else
                p.add(contained,
                      "The alternate master directory block (volume sector %u) is missing: it has no HFS signature.",
                      at);
            return;
        }
        alt = b;
    }
    const uint8_t* m = volume.mdb->data;
    for (const MdbField& f : layoutFields) {
        if (std::memcmp(m + f.offset, alt->data + f.offset, f.size) == 0) continue;
        const bool unusedOnly = f.size == 12 && !usedExtentsDiffer(m + f.offset, alt->data + f.offset);
        p.add(unusedOnly ? noted : contained,
              "The alternate master directory block differs in %s%s: %s in the master directory block, %s in the "
              "alternate.",
              f.name, unusedOnly ? " (only in unused extent descriptors)" : "",
              fieldValue(m + f.offset, f.size).c_str(), fieldValue(alt->data + f.offset, f.size).c_str());
    }
    if (read32(m + mdb::crDate) != read32(alt->data + mdb::crDate))
        p.add(noted, "The alternate master directory block differs in drCrDate: %u in the master directory block, %u "
                     "in the alternate.",
              read32(m + mdb::crDate), read32(alt->data + mdb::crDate));
}

// ---------------------------------------------------------------------------
// B-tree walk.

struct TreeWalk {
    const BTree& tree;
    const char* name;  // "catalog" or "extents"
    CheckArea area;
    Problems& p;
    uint32_t nodes = 0;             // bthNNodes, bounded by the file's length
    std::vector<uint8_t> inTree;    // 1 for nodes reached from the root
    std::vector<uint8_t> isMap;     // 1 for the header and map nodes
    std::vector<std::vector<uint32_t>> levels;  // nodes per height, in key order
    std::vector<std::pair<uint32_t, uint32_t>> nodeLinks;  // per node: fLink, bLink
    std::vector<Key> lastKey;       // per height: the last key seen
    std::vector<uint8_t> haveLastKey;
    uint64_t leafRecords = 0;
    bool complete = true;           // every node of the tree could be read
    std::function<void(const uint8_t* record, uint32_t size, uint32_t node)> onLeafRecord;

    TreeWalk(const BTree& t, const char* n, CheckArea a, Problems& problems) : tree(t), name(n), area(a), p(problems)
    {
    }
};

// Reads node n into `out` through the cache; a finding and false when it
// cannot be read.
bool fetchNode(TreeWalk& w, uint32_t n, CacheBuffer& out)
{
    uint32_t sector = 0, run = 0;
    if (!mapForkSector(*w.tree.file, dataFork, n, sector, run)) {
        w.p.add(spreading, "The %s B-tree's node %u cannot be located in its file: %s.", w.name, n, takeError(w.p));
        return false;
    }
    CacheBuffer* b = getVolumeSectorReadingAhead(sector, run);
    if (!b) {
        w.p.add(spreading, "The %s B-tree's node %u cannot be read: %s.", w.name, n, takeError(w.p));
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
        w.p.add(spreading, "The %s B-tree's index node %u points to node %u, which is outside the tree (%u nodes).",
                t, parent, n, w.nodes);
        w.complete = false;
        return false;
    }
    if (w.inTree[n] || w.isMap[n]) {
        w.p.add(spreading, "The %s B-tree's node %u is reached a second time (from index node %u).", t, n, parent);
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
        w.p.add(spreading, "The %s B-tree's node %u has a broken record layout (record count %u).", t, n,
                nodeRecords(&node));
        w.complete = false;
        return false;
    }
    const uint8_t type = nodeType(&node);
    const uint8_t expectedType = height == 1 ? nd::leafNode : nd::indexNode;
    if (type != expectedType) {
        w.p.add(spreading, "The %s B-tree's node %u has type %d where %s node of height %u belongs.", t, n,
                static_cast<int8_t>(type), height == 1 ? "a leaf" : "an index", height);
        w.complete = false;
        return false;
    }
    if (nodeHeight(&node) != height)
        w.p.add(spreading, "The %s B-tree's node %u has height %u, but its place in the tree gives %u.", t, n,
                nodeHeight(&node), height);
    if (!nodeKeysValid(w.tree, &node)) {
        w.p.add(spreading, "The %s B-tree's node %u holds a record whose key does not fit.", t, n);
        w.complete = false;
        return false;
    }
    const uint16_t count = nodeRecords(&node);
    if (count == 0) {
        w.p.add(spreading, "The %s B-tree's node %u is in the tree but holds no records.", t, n);
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
                w.p.add(spreading,
                        "The %s B-tree's keys are out of order in node %u: record %u does not sort after record %u.",
                        t, n, i, i - 1u);
        } else if (w.haveLastKey[height] && w.tree.compare(w.lastKey[height].data(), key) >= 0) {
            w.p.add(spreading,
                    "The %s B-tree's keys are out of order across nodes: the first key of node %u does not sort "
                    "after the last key of the node before it at height %u.",
                    t, n, height);
        }
    }
    const auto keyBytes = [&](uint16_t i) {
        const uint8_t* key = node.data + recordOffset(&node, i);
        return type == nd::indexNode ? indexKeyBytes(w.tree) : key[0] + 1u;
    };
    firstKey = copyKey(node.data + recordOffset(&node, 0), keyBytes(0));
    w.lastKey[height] = copyKey(node.data + recordOffset(&node, count - 1u), keyBytes(static_cast<uint16_t>(count - 1)));
    w.haveLastKey[height] = 1;

    if (type == nd::leafNode) {
        w.leafRecords += count;
        if (w.onLeafRecord)
            for (uint16_t i = 0; i < count; ++i)
                w.onLeafRecord(node.data + recordOffset(&node, i), recordSize(&node, i), n);
        return true;
    }
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t* key = node.data + recordOffset(&node, i);
        if (key[0] != w.tree.maxKeyLength)
            w.p.add(contained, "The %s B-tree's index record %u in node %u has the key length %u instead of %u.", t, i,
                    n, key[0], w.tree.maxKeyLength);
        uint32_t child = 0;
        if (!indexChild(w.tree, &node, i, child)) continue;
        Key childKey{};
        if (!visitNode(w, child, height - 1, n, childKey)) continue;
        if (w.tree.compare(key, childKey.data()) != 0)
            w.p.add(spreading,
                    "The %s B-tree's index record %u in node %u does not equal the first key of its child node %u.",
                    t, i, n, child);
    }
    return true;
}

// Reports runs of nodes [first, last] with a finding per run.
void reportNodeRuns(Problems& p, Weight weight, const std::vector<uint32_t>& nodes, const char* tree,
                    const char* what)
{
    for (size_t i = 0; i < nodes.size();) {
        size_t j = i;
        while (j + 1 < nodes.size() && nodes[j + 1] == nodes[j] + 1) ++j;
        if (i == j) p.add(weight, "The %s B-tree's node %u %s.", tree, nodes[i], what);
        else p.add(weight, "The %s B-tree's nodes %u to %u %s.", tree, nodes[i], nodes[j], what);
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
            w.p.add(spreading, "The %s B-tree's map node chain is broken: node %u links to node %u.", w.name, from,
                    next);
            return;
        }
        w.isMap[next] = 1;
        CacheBuffer node;
        if (!fetchNode(w, next, node)) return;
        if (nodeType(&node) != nd::mapNode || !nodeLayoutValid(&node) || nodeRecords(&node) < 1) {
            w.p.add(spreading, "The %s B-tree's node %u is linked as a map node but is not one.", w.name, next);
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
    w.p.area = w.area;
    const char* t = w.name;
    const CacheBuffer* header = *w.tree.header;
    const uint8_t* h = header->data;
    const uint32_t fileBytes = forkPhysicalLength(*w.tree.file, dataFork);
    const uint32_t fileNodes = fileBytes / 512;
    const uint32_t nNodes = read32(h + bth::nNodes);
    const uint32_t depth = read16(h + bth::depth);
    const uint32_t root = read32(h + bth::root);
    const uint32_t expectedKeyLength = w.tree.maxKeyLength;

    if (nodeBLink(header) != 0)
        w.p.add(contained, "The %s B-tree's header node has the backward link %u instead of 0.", t, nodeBLink(header));
    if (nodeHeight(header) != 0)
        w.p.add(contained, "The %s B-tree's header node has the height %u instead of 0.", t, nodeHeight(header));
    if (read16(h + bth::nodeSize) != 512)
        w.p.add(spreading, "The %s B-tree's node size (bthNodeSize) is %u, not 512.", t, read16(h + bth::nodeSize));
    if (read16(h + bth::keyLen) != expectedKeyLength)
        w.p.add(spreading, "The %s B-tree's maximum key length (bthKeyLen) is %u, not %u.", t, read16(h + bth::keyLen),
                expectedKeyLength);
    if (nNodes != fileNodes)
        w.p.add(spreading, "The %s B-tree's node count (bthNNodes) is %u, but its file holds %u nodes.", t, nNodes,
                fileNodes);
    w.nodes = nNodes < fileNodes ? nNodes : fileNodes;
    if (w.nodes == 0) {
        w.p.add(spreading, "The %s B-tree has no nodes.", t);
        w.complete = false;
        return;
    }
    w.inTree.assign(w.nodes, 0);
    w.isMap.assign(w.nodes, 0);
    w.nodeLinks.assign(w.nodes, {0, 0});
    w.isMap[0] = 1;
    w.levels.assign(maxTreeDepth + 1, {});
    w.lastKey.assign(maxTreeDepth + 1, Key{});
    w.haveLastKey.assign(maxTreeDepth + 1, 0);

    std::vector<uint8_t> bits;
    uint32_t covered = 0;
    readNodeMap(w, header, bits, covered);
    if (covered < w.nodes)
        w.p.add(spreading, "The %s B-tree's node map covers %u nodes, fewer than the tree's %u.", t, covered, w.nodes);

    // The tree itself.
    if (root == 0) {
        if (depth != 0) w.p.add(spreading, "The %s B-tree is empty (bthRoot 0) but bthDepth is %u.", t, depth);
    } else if (root >= w.nodes) {
        w.p.add(spreading, "The %s B-tree's root node (bthRoot) %u lies outside the tree (%u nodes).", t, root,
                w.nodes);
        w.complete = false;
    } else {
        uint32_t height = depth;
        if (depth == 0 || depth > static_cast<uint32_t>(maxTreeDepth)) {
            // Take the root node's own height when the header's is unusable.
            CacheBuffer node;
            height = fetchNode(w, root, node) ? nodeHeight(&node) : 0;
            w.p.add(spreading, "The %s B-tree's depth (bthDepth) is %u, which does not fit its root node.", t, depth);
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
        w.p.add(spreading, "The %s B-tree's record count (bthNRecs) is %u, but its leaves hold %llu records.", t,
                nRecs, static_cast<unsigned long long>(w.leafRecords));
    const std::vector<uint32_t>& leaves = w.levels[1];
    const uint32_t firstLeaf = leaves.empty() ? 0 : leaves.front();
    const uint32_t lastLeaf = leaves.empty() ? 0 : leaves.back();
    if (w.complete) {
        if (read32(h + bth::fNode) != firstLeaf)
            w.p.add(spreading, "The %s B-tree's first leaf (bthFNode) is %u, but the leftmost leaf is node %u.", t,
                    read32(h + bth::fNode), firstLeaf);
        if (read32(h + bth::lNode) != lastLeaf)
            w.p.add(spreading, "The %s B-tree's last leaf (bthLNode) is %u, but the rightmost leaf is node %u.", t,
                    read32(h + bth::lNode), lastLeaf);
        // Sibling links: each level is one chain in key order.
        for (uint32_t level = 1; level < w.levels.size(); ++level) {
            const std::vector<uint32_t>& nodes = w.levels[level];
            for (size_t i = 0; i < nodes.size(); ++i) {
                const auto [fLink, bLink] = w.nodeLinks[nodes[i]];
                const uint32_t wantF = i + 1 < nodes.size() ? nodes[i + 1] : 0;
                const uint32_t wantB = i > 0 ? nodes[i - 1] : 0;
                if (fLink != wantF)
                    w.p.add(spreading,
                            "The %s B-tree's %s node %u has forward link %u; the next node at its level is %u.", t,
                            level == 1 ? "leaf" : "index", nodes[i], fLink, wantF);
                if (bLink != wantB)
                    w.p.add(spreading,
                            "The %s B-tree's %s node %u has backward link %u; the previous node at its level is %u.",
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
    reportNodeRuns(w.p, spreading, usedButFree, t, "is in use but marked free in the node map");
    reportNodeRuns(w.p, wasted, freeButUsed, t, "is marked in use in the node map but belongs to no part of the tree");
    const uint32_t freeNodes = read32(h + bth::freeNodes);
    if (freeNodes != w.nodes - setBits)
        w.p.add(spreading, "The %s B-tree's free node count (bthFree) is %u, but its node map leaves %u nodes free.", t,
                freeNodes, w.nodes - setBits);
}

// ---------------------------------------------------------------------------
// Catalog contents.

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
    const uint32_t dataOff = paddedKeyBytes(rec[ckr::keyLen]);
    CatalogEntry e{};
    e.parent = read32(rec + ckr::parId);
    std::memcpy(e.name, rec + ckr::nodeName, static_cast<size_t>(rec[ckr::nodeName]) + 1);
    if (dataOff >= size) {
        p.add(spreading, "The catalog record for %s in node %u has no data.", quoted(e.name).c_str(), node);
        return;
    }
    const uint8_t* d = rec + dataOff;
    const uint32_t dataSize = size - dataOff;
    e.kind = d[0];
    auto tooShort = [&](uint32_t need) {
        if (dataSize >= need) return false;
        p.add(spreading, "The catalog record for %s (parent %u) in node %u is %u bytes, too short for its type %u.",
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
        e.flags = d[fil::flags];
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
            p.add(contained, "The thread record of ID %u in node %u carries a name of %u characters.", e.parent, node,
                  d[thd::cName]);
            return;
        }
        std::memcpy(e.threadName, d + thd::cName, static_cast<size_t>(d[thd::cName]) + 1);
        break;
    default:
        p.add(spreading, "The catalog record for %s (parent %u) in node %u has the unknown type %u.",
              quoted(e.name).c_str(), e.parent, node, e.kind);
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

// The volume's name in the master directory block against the root
// folder's own, which Mac OS keeps equal.
void checkVolumeName(Problems& p, const CatalogEntry* root)
{
    const uint8_t* vn = volume.mdb->data + mdb::vn;
    p.area = CheckArea::masterBlock;
    if (vn[0] > 27)
        p.add(contained, "The volume's name (drVN) is %u characters long; a volume name has at most 27.", vn[0]);
    if (root && !sameName(vn, root->name))
        p.add(contained, "The volume's name (drVN) %s differs from the root folder's name %s.", quoted(vn).c_str(),
              quoted(root->name).c_str());
    p.area = CheckArea::catalog;
}

// Values found by a number (a catalog ID): an open-addressing table with
// linear probing, so that a catalog of many thousand records costs no
// allocation per record.
class NumberIndex {
public:
    static constexpr uint32_t none = UINT32_MAX;

    explicit NumberIndex(size_t expected) : slots(std::bit_ceil(expected * 2 + 16)) {}

    // The value kept for `number`; a number met for the first time gets
    // `value`.
    uint32_t& at(uint32_t number, uint32_t value)
    {
        if (used * 2 >= slots.size()) grow();
        Slot& s = slotOf(number);
        if (!s.used) {
            s = {number, value, true};
            ++used;
        }
        return s.value;
    }
    uint32_t find(uint32_t number) const
    {
        const Slot& s = const_cast<NumberIndex*>(this)->slotOf(number);
        return s.used ? s.value : none;
    }
    size_t size() const { return used; }

private:
    struct Slot {
        uint32_t number;
        uint32_t value;
        bool used;
    };
    std::vector<Slot> slots;  // a power of two, at most half used
    size_t used = 0;

    // The slot holding `number`, or the empty one where it would go.
    Slot& slotOf(uint32_t number)
    {
        const size_t mask = slots.size() - 1;
        size_t i = (number * 0x9E3779B1u) & mask;
        while (slots[i].used && slots[i].number != number) i = (i + 1) & mask;
        return slots[i];
    }
    void grow()
    {
        std::vector<Slot> old(slots.size() * 2);
        old.swap(slots);
        used = 0;
        for (const Slot& s : old)
            if (s.used) at(s.number, s.value);
    }
};

void checkCatalog(Problems& p, const std::vector<CatalogEntry>& entries, VolumeUse* use)
{
    p.area = CheckArea::catalog;
    const uint8_t* m = volume.mdb->data;
    const uint32_t nextId = read32(m + mdb::nxtCNID);
    NumberIndex byId(entries.size());      // entry of each file and folder
    NumberIndex threads(entries.size());   // entry of each thread, by the thread's own ID
    NumberIndex children(entries.size());  // items directly inside, by parent
    uint32_t files = 0, folders = 0, rootFiles = 0, rootFolders = 0;
    const CatalogEntry* root = nullptr;

    for (size_t i = 0; i < entries.size(); ++i) {
        const CatalogEntry& e = entries[i];
        if (use) use->highestId = std::max({use->highestId, e.id, e.parent, e.threadParent});
        if (e.kind == cdrFolderThread || e.kind == cdrFileThread) {
            if (e.name[0] != 0)
                p.add(contained, "The thread record of ID %u is filed under the name %s instead of an empty one.",
                      e.parent, quoted(e.name).c_str());
            if (threads.at(e.parent, static_cast<uint32_t>(i)) != i)
                p.add(contained, "ID %u has more than one thread record.", e.parent);
            continue;
        }
        if (e.name[0] == 0)
            p.add(contained, "The catalog holds a %s with an empty name (ID %u, parent %u).",
                  e.kind == cdrFolder ? "folder" : "file", e.id, e.parent);
        const uint32_t first = byId.at(e.id, static_cast<uint32_t>(i));
        if (first != i)
            p.add(spreading, "Catalog ID %u is used by both %s and %s.", e.id, describe(entries[first]).c_str(),
                  describe(e).c_str());
        ++children.at(e.parent, 0);
        if (e.id >= nextId)
            p.add(spreading, "The %s has an ID not below the next free ID (drNxtCNID %u).", describe(e).c_str(),
                  nextId);
        const bool isRoot = e.kind == cdrFolder && e.parent == 1;
        if (isRoot) {
            if (e.id != 2)
                p.add(spreading, "The folder %s at the top level has ID %u instead of 2.", quoted(e.name).c_str(), e.id);
            if (root) p.add(spreading, "The catalog holds more than one root folder.");
            root = &e;
        } else if (e.id < 16) {
            p.add(contained, "The %s has a reserved ID.", describe(e).c_str());
        }
        if (e.kind == cdrFile) {
            ++files;
            if (e.parent == 2) ++rootFiles;
        } else if (!isRoot) {
            ++folders;
            if (e.parent == 2) ++rootFolders;
        }
    }
    if (!root) p.add(spreading, "The catalog has no root folder (a folder record under parent 1).");
    checkVolumeName(p, root);

    // Parents, valences, threads.
    for (size_t i = 0; i < entries.size(); ++i) {
        const CatalogEntry& e = entries[i];
        if (e.kind == cdrFolderThread || e.kind == cdrFileThread) {
            const uint32_t it = byId.find(e.parent);
            const char* kind = e.kind == cdrFolderThread ? "folder" : "file";
            if (it == NumberIndex::none) {
                p.add(contained, "The %s thread record of ID %u belongs to no item.", kind, e.parent);
                continue;
            }
            const CatalogEntry& item = entries[it];
            if (item.kind != (e.kind == cdrFolderThread ? cdrFolder : cdrFile))
                p.add(contained, "The %s thread record of ID %u belongs to the %s.", kind, e.parent,
                      describe(item).c_str());
            else if (e.threadParent != item.parent || !sameName(e.threadName, item.name))
                p.add(contained, "The thread record of the %s names parent %u and %s instead of parent %u and %s.",
                      describe(item).c_str(), e.threadParent, quoted(e.threadName).c_str(), item.parent,
                      quoted(item.name).c_str());
            continue;
        }
        if (!(e.kind == cdrFolder && e.parent == 1)) {
            const uint32_t parent = byId.find(e.parent);
            if (parent == NumberIndex::none)
                p.add(contained, "The %s lies in folder %u, which does not exist.", describe(e).c_str(), e.parent);
            else if (entries[parent].kind != cdrFolder)
                p.add(contained, "The %s lies in %s, which is not a folder.", describe(e).c_str(),
                      describe(entries[parent]).c_str());
        }
        if (e.kind == cdrFolder) {
            const uint32_t c = children.find(e.id);
            const uint32_t held = c == NumberIndex::none ? 0 : c;
            if (held != e.valence)
                p.add(contained, "The %s has valence %u but holds %s.", describe(e).c_str(), e.valence,
                      counted(held, "item"));
            if (threads.find(e.id) == NumberIndex::none)
                p.add(contained, "The %s has no thread record.", describe(e).c_str());
        } else if ((e.flags & fil::threadExists) && threads.find(e.id) == NumberIndex::none) {
            p.add(contained, "The %s is flagged as having a thread record, but has none.", describe(e).c_str());
        }
    }

    // Every folder leads up to the root (no loops among parents).
    const size_t bound = byId.size() + 1;
    for (const CatalogEntry& e : entries) {
        if (e.kind != cdrFolder || e.parent == 1) continue;
        uint32_t at = e.parent;
        size_t steps = 0;
        while (at != 2 && steps++ < bound) {
            const uint32_t it = byId.find(at);
            if (it == NumberIndex::none || entries[it].kind != cdrFolder) break;  // reported above
            at = entries[it].parent;
        }
        if (steps >= bound)
            p.add(contained, "The %s does not lead up to the root folder: its parents form a loop.",
                  describe(e).c_str());
    }

    // The volume's counts.
    const uint32_t filCnt = read32(m + mdb::filCnt);
    const uint32_t dirCnt = read32(m + mdb::dirCnt);
    const uint32_t nmFls = read16(m + mdb::nmFls);
    const uint32_t nmRtDirs = read16(m + mdb::nmRtDirs);
    if (filCnt != files)
        p.add(spreading, "The volume's file count (drFilCnt) is %u, but the catalog holds %s.", filCnt,
              counted(files, "file"));
    if (dirCnt != folders)
        p.add(spreading, "The volume's folder count (drDirCnt) is %u, but the catalog holds %s besides the root.",
              dirCnt, counted(folders, "folder"));
    if (nmFls != rootFiles)
        p.add(spreading, "The root file count (drNmFls) is %u, but the root folder holds %s.", nmFls,
              counted(rootFiles, "file"));
    if (nmRtDirs != rootFolders)
        p.add(spreading, "The root folder count (drNmRtDirs) is %u, but the root folder holds %s.", nmRtDirs,
              counted(rootFolders, "folder"));
}

// ---------------------------------------------------------------------------
// Allocation.

// Who owns blocks: a fork of a catalog file record, or a named structure.
struct Owner {
    const CatalogEntry* file;  // null for a structure
    const char* structure;     // "extents file", "catalog file", "bad-block file"
    uint8_t fork;
};

std::string ownerName(const Owner& o)
{
    if (!o.file) return o.structure;
    char id[32];
    std::snprintf(id, sizeof id, " (ID %u) ", o.file->id);
    return "file " + quoted(o.file->name) + id + (o.fork == dataFork ? "data fork" : "resource fork");
}

struct Allocation {
    Problems& p;
    uint32_t numBlocks;
    uint32_t blockSize;
    std::vector<uint32_t> owner;  // 0 free, else index + 1 into owners
    std::vector<Owner> owners;
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
void checkFork(Allocation& a, const Owner& owner, uint32_t fileId, uint8_t forkType, const uint8_t* first,
               uint32_t logical, uint32_t physical, std::multimap<std::pair<uint32_t, uint8_t>, OverflowRecord*>& ovf)
{
    a.owners.push_back(owner);
    const uint32_t ownerIndex = static_cast<uint32_t>(a.owners.size());
    const auto who = [&] { return ownerName(owner); };
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
            if (ended) a.p.add(spreading, "The %s has a used extent after an empty one in %s.", who().c_str(), where);
            if (start + count > a.numBlocks) {
                a.p.add(spreading, "The %s has the extent %u+%u beyond the volume's %u allocation blocks.",
                        who().c_str(), start, count, a.numBlocks);
            } else {
                claim(a, ownerIndex, start, count);
            }
            blocks += count;
        }
    };
    takeRecord(first, "its first extent record");
    const auto range = ovf.equal_range({fileId, forkType});
    if (range.first != range.second && read16(first + 10) == 0)
        a.p.add(spreading, "The %s has extents-overflow records although its first extent record is not full.",
                who().c_str());
    for (auto it = range.first; it != range.second; ++it) {
        OverflowRecord& r = *it->second;
        r.used = true;
        if (r.fabn != blocks)
            a.p.add(spreading,
                    "The %s has an extents-overflow record starting at block %u of the fork where block %llu follows.",
                    who().c_str(), r.fabn, static_cast<unsigned long long>(blocks));
        takeRecord(r.extents, "an extents-overflow record");
    }
    if (physical % a.blockSize != 0)
        a.p.add(spreading, "The %s has the physical length %u, not a multiple of the allocation block size %u.",
                who().c_str(), physical, a.blockSize);
    if (blocks * a.blockSize != physical)
        a.p.add(spreading, "The %s has the physical length %u, but its extents hold %llu blocks (%llu bytes).",
                who().c_str(), physical, static_cast<unsigned long long>(blocks),
                static_cast<unsigned long long>(blocks * a.blockSize));
    if (logical > physical)
        a.p.add(spreading, "The %s has the logical length %u, beyond its physical length %u.", who().c_str(), logical,
                physical);
}

void reportBlockRuns(Allocation& a, Weight weight, const std::vector<uint32_t>& blocks, const char* one,
                     const char* many, bool withOwner)
{
    for (size_t i = 0; i < blocks.size();) {
        size_t j = i;
        while (j + 1 < blocks.size() && blocks[j + 1] == blocks[j] + 1 &&
               (!withOwner || a.owner[blocks[j + 1]] == a.owner[blocks[i]]))
            ++j;
        const std::string owner =
            withOwner ? " (owned by the " + ownerName(a.owners[a.owner[blocks[i]] - 1]) + ")" : "";
        if (i == j) a.p.add(weight, "Allocation block %u %s%s.", blocks[i], one, owner.c_str());
        else a.p.add(weight, "Allocation blocks %u to %u %s%s.", blocks[i], blocks[j], many, owner.c_str());
        i = j + 1;
    }
}

void checkAllocation(Problems& p, const std::vector<CatalogEntry>& entries, std::vector<OverflowRecord>& overflow,
                     bool forksKnown, VolumeUse* use)
{
    p.area = CheckArea::allocation;
    const uint8_t* m = volume.mdb->data;
    Allocation a{p, volume.numBlocks, read32(m + mdb::alBlkSiz), {}, {}, {}};
    a.owner.assign(a.numBlocks, 0);

    // The bitmap, sector by sector.
    std::vector<uint8_t> bits(a.numBlocks, 0);
    const uint32_t bitmapSectors = bitmapSectorCount(a.numBlocks);
    for (uint32_t s = 0; s < bitmapSectors; ++s) {
        CacheBuffer* b = getVolumeSectorReadingAhead(volume.bitmapStart + s, bitmapSectors - s);
        if (!b) {
            p.add(spreading, "The volume bitmap's sector %u cannot be read: %s.", s, takeError(p));
            return;
        }
        for (uint32_t i = 0; i < 4096 && s * 4096 + i < a.numBlocks; ++i)
            bits[s * 4096 + i] = (b->data[i / 8] >> (7 - i % 8)) & 1;
    }
    uint32_t freeBits = 0;
    for (uint8_t bit : bits) freeBits += bit ? 0 : 1;
    const uint32_t freeBks = read16(m + mdb::freeBks);
    if (freeBks != freeBits)
        p.add(spreading, "The volume's free block count (drFreeBks) is %u, but the bitmap has %u free blocks.",
              freeBks, freeBits);
    if (!forksKnown) return;

    std::multimap<std::pair<uint32_t, uint8_t>, OverflowRecord*> ovf;
    for (OverflowRecord& r : overflow) ovf.emplace(std::make_pair(r.fileId, r.forkType), &r);

    const uint32_t xtSize = read32(extentsControl.data + fil::pyLen);
    const uint32_t ctSize = read32(catalogControl.data + fil::pyLen);
    checkFork(a, {nullptr, "extents file", dataFork}, 3, dataFork, extentsControl.data + fil::extRec, xtSize, xtSize,
              ovf);
    checkFork(a, {nullptr, "catalog file", dataFork}, 4, dataFork, catalogControl.data + fil::extRec, ctSize, ctSize,
              ovf);
    for (const CatalogEntry& e : entries) {
        if (e.kind != cdrFile) continue;
        checkFork(a, {&e, nullptr, dataFork}, e.id, dataFork, e.extents[0], e.logical[0], e.physical[0], ovf);
        checkFork(a, {&e, nullptr, resourceFork}, e.id, resourceFork, e.extents[1], e.logical[1], e.physical[1], ovf);
    }
    // Records of the bad-block file (ID 5) own their blocks; others must
    // belong to a fork.
    a.owners.push_back({nullptr, "bad-block file", dataFork});
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
        p.add(spreading,
              "The extents-overflow record for file %u (%s fork, block %u) belongs to no fork of the catalog.",
              r.fileId, r.forkType == dataFork ? "data" : "resource", r.fabn);
    }

    for (const auto& [pair, where] : a.conflicts) {
        const std::string first = ownerName(a.owners[pair.first - 1]);
        const std::string second = ownerName(a.owners[pair.second - 1]);
        if (where.second == 1)
            p.add(spreading, "Allocation block %u is owned by both the %s and the %s.", where.first, first.c_str(),
                  second.c_str());
        else
            p.add(spreading, "%u allocation blocks, the first at %u, are owned by both the %s and the %s.",
                  where.second, where.first, first.c_str(), second.c_str());
    }

    std::vector<uint32_t> ownedButFree, markedButFree;
    for (uint32_t b = 0; b < a.numBlocks; ++b) {
        if (a.owner[b] && !bits[b]) ownedButFree.push_back(b);
        if (!a.owner[b] && bits[b]) markedButFree.push_back(b);
    }
    reportBlockRuns(a, spreading, ownedButFree, "is marked free in the bitmap but in use",
                    "are marked free in the bitmap but in use", true);
    reportBlockRuns(a, wasted, markedButFree, "is marked in use in the bitmap but belongs to no fork",
                    "are marked in use in the bitmap but belong to no fork", false);
    if (use) {
        use->blocks.assign(a.numBlocks, 0);
        for (uint32_t b = 0; b < a.numBlocks; ++b) use->blocks[b] = a.owner[b] != 0;
    }
}

// Runs every check into the report; returns the first device error met.
int32_t runChecks(CheckReport& report, VolumeUse* use)
{
    Problems p{report};
    checkMediumLength(p);
    checkAlternateMdb(p);

    // The extents tree first: the catalog's own extents may depend on it.
    std::vector<OverflowRecord> overflow;
    TreeWalk extents(extentsTree, "extents", CheckArea::extentsTree, p);
    extents.onLeafRecord = [&](const uint8_t* rec, uint32_t size, uint32_t node) {
        if (size < 20) {
            p.add(spreading, "The extents B-tree's record in node %u is %u bytes, too short for an extent record.",
                  node, size);
            return;
        }
        if (rec[1] != dataFork && rec[1] != resourceFork)
            p.add(spreading, "The extents B-tree's record in node %u names the fork type %u.", node, rec[1]);
        OverflowRecord r{};
        r.fileId = read32(rec + 2);
        r.forkType = rec[1];
        r.fabn = read16(rec + 6);
        std::memcpy(r.extents, rec + 8, 12);
        overflow.push_back(r);
    };
    walkTree(extents);

    std::vector<CatalogEntry> entries;
    entries.reserve(std::min<uint32_t>(read32(volume.catalogHeader->data + bth::nRecs), 1u << 20));
    TreeWalk catalog(catalogTree, "catalog", CheckArea::catalogTree, p);
    catalog.onLeafRecord = [&](const uint8_t* rec, uint32_t size, uint32_t node) {
        collectCatalogRecord(p, entries, rec, size, node);
    };
    walkTree(catalog);

    if (catalog.complete) {
        checkCatalog(p, entries, use);
    } else {
        p.area = CheckArea::catalog;
        p.add(spreading, "The catalog's contents were not checked because its B-tree could not be read completely.");
    }
    const bool forksKnown = catalog.complete && extents.complete;
    checkAllocation(p, entries, overflow, forksKnown, use);
    if (!forksKnown)
        p.add(spreading,
              "The blocks owned by each fork were not checked because a B-tree could not be read completely.");
    if (use) {
        use->complete = forksKnown;
        for (int t = 0; t < 2; ++t) {
            const TreeWalk& w = t == 0 ? extents : catalog;
            use->nodes[t].assign(w.inTree.size(), 0);
            for (size_t n = 0; n < w.inTree.size(); ++n) use->nodes[t][n] = w.inTree[n] || w.isMap[n];
        }
    }
    return p.readError;
}

// What the allocators need to leave every block, node and ID in use alone.
void holdWhatIsInUse(const VolumeUse& use)
{
    for (uint32_t b = 0; b < use.blocks.size(); ++b)
        if (use.blocks[b]) holdClaimedBlocks(b, 1);
    for (uint32_t n = 0; n < use.nodes[0].size(); ++n)
        if (use.nodes[0][n]) holdClaimedNode(extentsTree, n);
    for (uint32_t n = 0; n < use.nodes[1].size(); ++n)
        if (use.nodes[1][n]) holdClaimedNode(catalogTree, n);
    allocation.idFloor = std::max<uint32_t>(use.highestId + 1, 16);
}

}  // namespace

const char* checkSeverityName(CheckSeverity severity)
{
    switch (severity) {
    case CheckSeverity::note: return "note";
    case CheckSeverity::warning: return "warning";
    case CheckSeverity::damage: break;
    }
    return "damage";
}

const char* checkAreaName(CheckArea area)
{
    switch (area) {
    case CheckArea::medium: return "medium";
    case CheckArea::masterBlock: return "master directory block";
    case CheckArea::extentsTree: return "extents B-tree";
    case CheckArea::catalogTree: return "catalog B-tree";
    case CheckArea::catalog: return "catalog";
    case CheckArea::allocation: break;
    }
    return "allocation";
}

size_t countFindings(const CheckReport& report, CheckSeverity severity)
{
    size_t n = 0;
    for (const CheckFinding& f : report.findings) n += f.severity == severity ? 1 : 0;
    return n;
}

CheckReport checkVolume()
{
    CheckReport report{};
    const int32_t pending = lastError;
    lastError = errNone;
    if (!volume.mounted || !volume.mdb || !volume.extentsHeader || !volume.catalogHeader) {
        report.findings.push_back({CheckSeverity::damage, CheckArea::masterBlock, false, "No volume is mounted."});
    } else if (runChecks(report, nullptr) == errNone && !volumeHasUnwrittenChanges()) {
        const bool spreads = std::any_of(report.findings.begin(), report.findings.end(),
                                         [](const CheckFinding& f) { return f.spreads; });
        allocation.verifiedSound = !spreads;
        if (spreads) forgetVolumeVerdict();
    }
    lastError = pending;
    return report;
}

std::string damagedVolumeQuestion(const std::string& reason)
{
    return "This volume is damaged: " + reason +
           "\n\nA change could make the damage worse. A disk diagnostic on the Mac can repair it.\n\n"
           "Change the volume anyway?";
}

ChangeGuard guardChanges(DamagedVolumeAnswer answer)
{
    ChangeGuard guard{false, false, false, {}};
    if (!volumeAcceptsChanges()) {
        guard.reason = errorText(lastError);
        return guard;
    }
    if (verdictVouchesForVolume()) {
        allocation.changes = ChangePermission::allowed;
        allocation.verifiedSound = true;
        guard.writable = true;
        return guard;
    }
    guard.checked = true;
    CheckReport report{};
    VolumeUse use;
    const int32_t readError = runChecks(report, &use);
    if (readError != errNone) {
        // A medium that cannot be read is not changed, and the command fails.
        setError(readError);
        guard.reason = errorText(readError);
        return guard;
    }
    size_t faults = 0;
    for (const CheckFinding& f : report.findings) {
        if (!f.spreads) continue;
        if (faults++ == 0) guard.reason = f.text;
    }
    if (faults == 0) {
        allocation.changes = ChangePermission::allowed;
        allocation.verifiedSound = !volumeHasUnwrittenChanges();
        guard.writable = true;
        return guard;
    }
    guard.damaged = true;
    forgetVolumeVerdict();
    if (faults > 1) {
        char more[64];
        std::snprintf(more, sizeof more, " (and %zu more problem%s)", faults - 1, faults == 2 ? "" : "s");
        guard.reason += more;
    }
    if (answer == DamagedVolumeAnswer::ask)
        answer = messageBox(damagedVolumeQuestion(guard.reason).c_str(), damagedVolumeCaption, uiYesNo,
                            uiIconWarning) == uiAnswerYes
                     ? DamagedVolumeAnswer::force
                     : DamagedVolumeAnswer::refuse;
    if (answer == DamagedVolumeAnswer::force && !use.complete) {
        // Without every fork's extents nothing tells which blocks are free.
        guard.reason += "; its B-trees cannot be read completely, so it cannot be changed safely";
        answer = DamagedVolumeAnswer::refuse;
    }
    if (answer != DamagedVolumeAnswer::force) {
        allocation.changes = ChangePermission::refused;
        return guard;
    }
    holdWhatIsInUse(use);
    allocation.changes = ChangePermission::allowed;
    guard.writable = true;
    return guard;
}

}  // namespace verrin
