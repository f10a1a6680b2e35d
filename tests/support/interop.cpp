// Comparing volumes with hfsutils and checking their structure. See interop.h.
#include "support/interop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <regex>
#include <set>
#include <sstream>

#include "base/macroman.h"
#include "hfs/check.h"
#include "hfs/internal.h"

namespace verrin::testsupport {

HlsListing hlsListing(const std::string& text)
{
    HlsListing out;
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
            out[full(m[5])] = ListedItem{'f', m[1], m[2], static_cast<uint32_t>(std::stoul(m[3])),
                                         static_cast<uint32_t>(std::stoul(m[4])), 0};
        } else if (std::regex_match(line, m, folder)) {
            out[full(m[2])] = ListedItem{'d', "", "", 0, 0, static_cast<uint32_t>(std::stoul(m[1]))};
        }
    }
    return out;
}

HlsListing listingOf(const std::vector<WalkedItem>& items)
{
    HlsListing out;
    for (const WalkedItem& w : items) {
        ListedItem l;
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

std::string describeListing(const HlsListing& l)
{
    std::ostringstream s;
    for (const auto& [path, e] : l)
        s << e.kind << ' ' << e.type << '/' << e.creator << ' ' << e.rsrc << ' ' << e.data << ' ' << e.items << ' '
          << path << '\n';
    return s.str();
}

std::string testPattern(size_t bytes, unsigned seed)
{
    std::string s(bytes, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (char& c : s) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

bool runHfs(const ScratchDir& dir, const std::vector<std::string>& argv)
{
    const CommandResult r = runPeer(dir, argv);
    EXPECT_EQ(r.exitCode, 0) << argv[0] << " " << (argv.size() > 1 ? argv[1] : "") << ": " << r.err;
    return r.exitCode == 0;
}

void expectSameAsHfsutils(const ScratchDir& dir, const std::string& image, bool (*sample)(const std::string&))
{
    if (!runHfs(dir, {"hmount", image})) return;
    const CommandResult ls = runPeer(dir, {"hls", "-laR"});
    ASSERT_EQ(ls.exitCode, 0) << ls.err;
    const HlsListing expected = hlsListing(ls.out);

    ASSERT_GE(openImage(image, false), 0) << errorText(lastError);
    ASSERT_TRUE(mountAt(0)) << errorText(lastError);
    std::vector<WalkedItem> items;
    ASSERT_TRUE(walkVolume(items)) << errorText(lastError);
    EXPECT_EQ(describeListing(listingOf(items)), describeListing(expected));
    for (const WalkedItem& w : items) {
        if (w.item.kind != cdrFile || (sample && !sample(w.path))) continue;
        SCOPED_TRACE(w.path);
        std::string data, rsrc, want;
        ASSERT_TRUE(readWholeFork(w.parentId, w.item.name, dataFork, data));
        ASSERT_TRUE(readWholeFork(w.parentId, w.item.name, resourceFork, rsrc));
        const std::string out = dir.file("fork.out");
        ASSERT_TRUE(runHfs(dir, {"hcopy", "-r", ":" + w.path, out}));
        ASSERT_TRUE(readFile(out, want));
        EXPECT_TRUE(data == want) << "data fork differs";
        if (w.item.rsrcLength > 0) {
            // MacBinary: 128-byte header, data padded to 128, then the resource fork.
            ASSERT_TRUE(runHfs(dir, {"hcopy", "-m", ":" + w.path, out}));
            ASSERT_TRUE(readFile(out, want));
            const size_t at = 128 + (w.item.dataLength + 127) / 128 * 128;
            ASSERT_GE(want.size(), at + rsrc.size());
            EXPECT_TRUE(want.compare(at, rsrc.size(), rsrc) == 0) << "resource fork differs";
        }
    }
    closeAll();
}

// ---------------------------------------------------------------------------
// verifyVolume

namespace {

struct Problems {
    std::ostringstream text;
    int count = 0;
    template <typename... A> void add(const A&... parts)
    {
        if (++count > 40) return;
        ((text << parts), ...);
        text << '\n';
    }
};

struct LeafRecord {
    std::vector<uint8_t> bytes;  // key and data
};

struct TreeWalk {
    std::vector<LeafRecord> leaves;
    std::set<uint32_t> nodes;
};

bool nodeAt(const BTree& t, uint32_t n, CacheBuffer*& b, Problems& p)
{
    b = readNode(t, n);
    if (!b) {
        p.add("tree ", t.file->fileId, ": node ", n, " unreadable");
        lastError = errNone;
        return false;
    }
    return true;
}

void walkTree(const BTree& t, uint32_t n, int height, std::vector<std::vector<uint32_t>>& levels, TreeWalk& w,
              Problems& p, const uint8_t* expectedFirstKey)
{
    if (!w.nodes.insert(n).second) {
        p.add("tree ", t.file->fileId, ": node ", n, " reached twice");
        return;
    }
    CacheBuffer* b;
    if (!nodeAt(t, n, b, p)) return;
    std::vector<uint8_t> copy(b->data, b->data + 512);
    const uint8_t* d = copy.data();
    const uint16_t count = read16(d + 10);
    const uint8_t type = d[8];
    if (d[9] != height) p.add("tree ", t.file->fileId, ": node ", n, " height ", int(d[9]), " expected ", height);
    if (type != (height == 1 ? nd::leafNode : nd::indexNode))
        p.add("tree ", t.file->fileId, ": node ", n, " has type ", int(type));
    if (count == 0) p.add("tree ", t.file->fileId, ": node ", n, " is empty");
    levels[static_cast<size_t>(height)].push_back(n);
    const auto key = [&](uint16_t i) { return d + read16(d + 510 - 2 * i); };
    if (count > 0 && expectedFirstKey && t.compare(expectedFirstKey, key(0)) != 0)
        p.add("tree ", t.file->fileId, ": index key of node ", n, " is not its first key");
    for (uint16_t i = 1; i < count; ++i)
        if (t.compare(key(static_cast<uint16_t>(i - 1)), key(i)) >= 0)
            p.add("tree ", t.file->fileId, ": node ", n, " records ", i - 1, ",", i, " out of order");
    for (uint16_t i = 0; i < count; ++i) {
        const uint16_t off = read16(d + 510 - 2 * i);
        const uint16_t size = static_cast<uint16_t>(read16(d + 510 - 2 * (i + 1)) - off);
        if (height == 1) {
            w.leaves.push_back({std::vector<uint8_t>(d + off, d + off + size)});
            continue;
        }
        if (d[off] != t.maxKeyLength) p.add("tree ", t.file->fileId, ": index key length in node ", n);
        const uint32_t child = read32(d + off + t.maxKeyLength + 1);
        walkTree(t, child, height - 1, levels, w, p, d + off);
    }
}

// Node numbers whose map bit is set, and the map nodes themselves.
void readMap(const BTree& t, std::vector<bool>& bits, std::set<uint32_t>& mapNodes, Problems& p)
{
    const CacheBuffer* h = *t.header;
    std::vector<uint8_t> bytes(h->data + recordOffset(h, 2), h->data + recordOffset(h, 3));
    uint32_t next = nodeFLink(h);
    while (next != 0) {
        if (!mapNodes.insert(next).second) {
            p.add("tree ", t.file->fileId, ": map chain loops");
            break;
        }
        CacheBuffer* m;
        if (!nodeAt(t, next, m, p)) break;
        if (nodeType(m) != nd::mapNode) p.add("tree ", t.file->fileId, ": map node ", next, " has wrong type");
        bytes.insert(bytes.end(), m->data + recordOffset(m, 0), m->data + recordOffset(m, 1));
        next = nodeFLink(m);
    }
    bits.clear();
    for (uint8_t byte : bytes)
        for (int i = 0; i < 8; ++i) bits.push_back((byte & (0x80 >> i)) != 0);
}

void checkTree(const BTree& t, TreeWalk& w, Problems& p)
{
    const uint8_t* h = (*t.header)->data;
    const uint32_t depth = read16(h + bth::depth), root = read32(h + bth::root), nrecs = read32(h + bth::nRecs),
                   first = read32(h + bth::fNode), last = read32(h + bth::lNode),
                   nodes = read32(h + bth::nNodes), freeNodes = read32(h + bth::freeNodes);
    const uint32_t id = t.file->fileId;
    if (static_cast<uint64_t>(nodes) * 512 > read32(t.file->buffer->data + fil::pyLen))
        p.add("tree ", id, ": more nodes than the file holds");
    std::vector<std::vector<uint32_t>> levels(depth + 2);
    if (root == 0) {
        if (depth || nrecs || first || last) p.add("tree ", id, ": empty tree with header values");
    } else {
        if (depth == 0 || depth > 10) {
            p.add("tree ", id, ": depth ", depth);
            return;
        }
        walkTree(t, root, static_cast<int>(depth), levels, w, p, nullptr);
    }
    if (w.leaves.size() != nrecs) p.add("tree ", id, ": bthNRecs ", nrecs, " but ", w.leaves.size(), " leaf records");
    for (size_t i = 1; i < w.leaves.size(); ++i)
        if (t.compare(w.leaves[i - 1].bytes.data(), w.leaves[i].bytes.data()) >= 0)
            p.add("tree ", id, ": leaf records ", i - 1, " and ", i, " out of order");
    // Each level is one chain, in key order.
    for (size_t lvl = 1; lvl < levels.size(); ++lvl) {
        const auto& ns = levels[lvl];
        for (size_t i = 0; i < ns.size(); ++i) {
            CacheBuffer* b;
            if (!nodeAt(t, ns[i], b, p)) continue;
            const uint32_t wantB = i ? ns[i - 1] : 0, wantF = i + 1 < ns.size() ? ns[i + 1] : 0;
            if (nodeBLink(b) != wantB || nodeFLink(b) != wantF)
                p.add("tree ", id, ": links of node ", ns[i], " on level ", lvl);
        }
    }
    if (root != 0 && (levels[1].empty() || first != levels[1].front() || last != levels[1].back()))
        p.add("tree ", id, ": bthFNode/bthLNode wrong");
    std::vector<bool> bits;
    std::set<uint32_t> mapNodes;
    readMap(t, bits, mapNodes, p);
    if (bits.size() < nodes) p.add("tree ", id, ": map covers ", bits.size(), " of ", nodes, " nodes");
    uint32_t clear = 0;
    for (uint32_t n = 0; n < nodes && n < bits.size(); ++n) {
        const bool used = n == 0 || w.nodes.count(n) || mapNodes.count(n);
        if (bits[n] != used) p.add("tree ", id, ": map bit of node ", n, " is ", bits[n] ? "set" : "clear");
        if (!bits[n]) ++clear;
    }
    if (clear != freeNodes) p.add("tree ", id, ": bthFree ", freeNodes, " but ", clear, " clear bits");
}

// Adds a fork's extents to the block owners; returns the blocks counted.
uint32_t collectFork(uint32_t fileId, uint8_t fork, const uint8_t* firstRecord,
                     const std::vector<LeafRecord>& extentLeaves, std::vector<uint32_t>& owner, Problems& p)
{
    uint32_t blocks = 0;
    const auto addRecord = [&](const uint8_t* rec) {
        for (int i = 0; i < 3; ++i) {
            const uint32_t s = read16(rec + 4 * i), n = read16(rec + 4 * i + 2);
            for (uint32_t b = s; b < s + n; ++b) {
                if (b >= owner.size()) {
                    p.add("file ", fileId, ": extent beyond the volume");
                    break;
                }
                if (owner[b] != 0) p.add("block ", b, " owned by files ", owner[b], " and ", fileId);
                owner[b] = fileId;
            }
            blocks += n;
        }
    };
    addRecord(firstRecord);
    for (const LeafRecord& r : extentLeaves) {
        const uint8_t* k = r.bytes.data();
        if (read32(k + 2) != fileId || k[1] != fork) continue;
        if (read16(k + 6) != blocks) p.add("file ", fileId, ": overflow record at FABN ", read16(k + 6), " expected ", blocks);
        addRecord(k + 8);
    }
    return blocks;
}

}  // namespace

std::string verifyVolume()
{
    Problems p;
    if (!volume.mounted) return "volume not mounted\n";
    TreeWalk ext, cat;
    checkTree(extentsTree, ext, p);
    checkTree(catalogTree, cat, p);
    const uint8_t* m = volume.mdb->data;
    const uint32_t blockBytes = volume.spb * 512u;
    std::vector<uint32_t> owner(volume.numBlocks, 0);

    const auto treeFork = [&](const CacheBuffer& control, uint32_t id) {
        const uint32_t blocks = collectFork(id, dataFork, control.data + fil::extRec, ext.leaves, owner, p);
        if (blocks * blockBytes != read32(control.data + fil::pyLen)) p.add("tree file ", id, ": size and extents differ");
    };
    treeFork(extentsControl, 3);
    treeFork(catalogControl, 4);

    // Catalog records.
    std::map<uint32_t, uint32_t> children;  // folder ID -> items inside
    std::map<uint32_t, std::pair<uint32_t, std::vector<uint8_t>>> folders;  // ID -> parent, name
    std::map<uint32_t, std::pair<uint32_t, std::vector<uint8_t>>> threads;
    std::set<uint32_t> fileIds;
    uint32_t files = 0, dirs = 0, rootFiles = 0, rootDirs = 0, maxId = 0;
    for (const LeafRecord& r : cat.leaves) {
        const uint8_t* k = r.bytes.data();
        const uint32_t parent = read32(k + 2);
        const uint8_t* d = k + ((k[0] + 2) & ~1);
        std::vector<uint8_t> name(k + 6, k + 7 + k[6]);
        switch (d[0]) {
        case cdrFolder: {
            const uint32_t id = read32(d + dir::dirId);
            folders[id] = {parent, name};
            if (id != 2) {
                ++dirs;
                ++children[parent];
                if (parent == 2) ++rootDirs;
            }
            maxId = std::max(maxId, id);
            break;
        }
        case cdrFile: {
            const uint32_t id = read32(d + fil::flNum);
            if (!fileIds.insert(id).second) p.add("file ID ", id, " used twice");
            ++files;
            ++children[parent];
            if (parent == 2) ++rootFiles;
            maxId = std::max(maxId, id);
            for (uint8_t fork : {dataFork, resourceFork}) {
                const uint8_t* rec = d + (fork == dataFork ? fil::extRec : fil::rExtRec);
                const uint32_t py = read32(d + (fork == dataFork ? fil::pyLen : fil::rPyLen));
                const uint32_t lg = read32(d + (fork == dataFork ? fil::lgLen : fil::rLgLen));
                const uint32_t blocks = collectFork(id, fork, rec, ext.leaves, owner, p);
                if (blocks * blockBytes != py) p.add("file ", id, ": physical length and extents differ");
                if (lg > py) p.add("file ", id, ": logical length beyond physical");
            }
            break;
        }
        case cdrFolderThread:
            threads[parent] = {read32(d + thd::parId), std::vector<uint8_t>(d + thd::cName, d + thd::cName + 1 + d[thd::cName])};
            break;
        default:
            break;
        }
    }
    for (const auto& [id, f] : folders) {
        auto t = threads.find(id);
        if (t == threads.end()) {
            p.add("folder ", id, " has no thread record");
            continue;
        }
        if (t->second.first != f.first || t->second.second != f.second)
            p.add("thread of folder ", id, " names another parent or name");
    }
    for (const auto& [id, th] : threads)
        if (!folders.count(id)) p.add("thread ", id, " without its folder");
    for (const LeafRecord& r : cat.leaves) {
        const uint8_t* k = r.bytes.data();
        const uint8_t* d = k + ((k[0] + 2) & ~1);
        if (d[0] != cdrFolder) continue;
        const uint32_t id = read32(d + dir::dirId);
        if (read16(d + dir::val) != children[id])
            p.add("folder ", id, " valence ", read16(d + dir::val), " but ", children[id], " items");
    }
    for (const auto& [parent, n] : children)
        if (!folders.count(parent)) p.add(n, " items in missing folder ", parent);
    for (const LeafRecord& r : ext.leaves) {
        const uint32_t id = read32(r.bytes.data() + 2);
        if (id != 4 && !fileIds.count(id)) p.add("overflow record of missing file ", id);
    }
    if (read32(m + mdb::filCnt) != files) p.add("drFilCnt ", read32(m + mdb::filCnt), " but ", files, " files");
    if (read32(m + mdb::dirCnt) != dirs) p.add("drDirCnt ", read32(m + mdb::dirCnt), " but ", dirs, " folders");
    if (read16(m + mdb::nmFls) != rootFiles) p.add("drNmFls ", read16(m + mdb::nmFls), " but ", rootFiles);
    if (read16(m + mdb::nmRtDirs) != rootDirs) p.add("drNmRtDirs ", read16(m + mdb::nmRtDirs), " but ", rootDirs);
    if (read32(m + mdb::nxtCNID) <= maxId) p.add("drNxtCNID not above the IDs in use");

    // Bitmap against the owners, and the free count.
    uint32_t clear = 0;
    for (uint32_t b = 0; b < volume.numBlocks; ++b) {
        CacheBuffer* s = getVolumeSector(volume.bitmapStart + b / 4096);
        if (!s) {
            p.add("bitmap unreadable");
            lastError = errNone;
            break;
        }
        const bool set = (s->data[(b / 8) % 512] & (0x80 >> (b % 8))) != 0;
        if (set != (owner[b] != 0)) p.add("bitmap bit ", b, set ? " set but unowned" : " clear but owned by ", owner[b]);
        if (!set) ++clear;
    }
    if (read16(m + mdb::freeBks) != clear) p.add("drFreeBks ", read16(m + mdb::freeBks), " but ", clear, " clear bits");
    return p.text.str();
}

std::string verifyTree(bool catalog)
{
    Problems p;
    TreeWalk w;
    checkTree(catalog ? catalogTree : extentsTree, w, p);
    return p.text.str();
}

std::string volumeProblems()
{
    std::string out = verifyVolume();
    for (const std::string& line : checkLines()) out += "check: " + line + "\n";
    return out;
}

}  // namespace verrin::testsupport
