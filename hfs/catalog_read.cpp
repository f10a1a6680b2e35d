// Catalog lookups: finding a record by parent and name, finding the start
// of a folder's records, listing a folder, opening a file's record, and
// resolving paths of names. The current-folder values live here too.
// Calls the B-tree search and the cache.
#include <algorithm>
#include <cstring>

#include "hfs/internal.h"

namespace verrin {

uint8_t currentFolderName[32];
uint32_t parentFolderId = 0;
uint32_t currentFolderId = 0;

// A catalog search key: length byte, reserved, parent ID, name.
void buildCatalogKey(uint8_t* key, uint32_t parentId, const uint8_t* name)
{
    std::memset(key, 0, 38);
    const uint8_t length = name ? std::min<uint8_t>(name[0], 31) : 0;
    key[0] = static_cast<uint8_t>(6 + length);
    write32(key + 2, parentId);
    key[6] = length;
    if (length) std::memcpy(key + 7, name + 1, length);
}

namespace {

int compareParentOnly(const uint8_t* searchKey, const uint8_t* recordKey)
{
    const uint32_t a = read32(searchKey + 2);
    const uint32_t b = read32(recordKey + 2);
    return a == b ? 0 : (a < b ? -1 : 1);
}

// Exact lookup; found=false without an error when the key is absent.
RecordPosition lookup(uint32_t parentId, const uint8_t* name)
{
    uint8_t key[40];
    buildCatalogKey(key, parentId, name);
    RecordPosition pos = searchTree(catalogTree, catalogRoot(), key, compareCatalogKeys, true);
    if (pos.found && compareCatalogKeys(key, pos.buffer->data + pos.offset) != 0) pos.found = false;
    return pos;
}

}  // namespace

uint32_t catalogRoot() { return volume.catalogHeader ? treeRoot(catalogTree) : 0; }

uint16_t recordDataOffset(const CacheBuffer* node, uint16_t recordOffset)
{
    return static_cast<uint16_t>(recordOffset + paddedKeyBytes(node->data[recordOffset]));
}

RecordPosition findCatalogRecord(uint32_t startNode, uint32_t parentId, const uint8_t* name)
{
    uint8_t key[40];
    buildCatalogKey(key, parentId, name);
    RecordPosition pos = searchTree(catalogTree, startNode, key, compareCatalogKeys, true);
    if (!pos.found || compareCatalogKeys(key, pos.buffer->data + pos.offset) != 0) {
        pos.found = false;
        setError(errBadNode);
    }
    return pos;
}

RecordPosition findFolderStart(uint32_t startNode, uint32_t folderId)
{
    uint8_t key[40];
    buildCatalogKey(key, folderId, nullptr);
    RecordPosition pos = searchTree(catalogTree, startNode, key, compareParentOnly, false);
    if (!pos.found || compareParentOnly(key, pos.buffer->data + pos.offset) != 0) {
        pos.found = false;
        setError(errBadNode);
    }
    return pos;
}

bool readCatalogItem(const CacheBuffer* node, uint16_t index, CatalogItem& item)
{
    if (index >= nodeRecords(node)) return false;
    const uint16_t off = recordOffset(node, index);
    const uint32_t end = off + recordSize(node, index);
    const uint8_t* key = node->data + off;
    const uint16_t dataOff = recordDataOffset(node, off);
    if (dataOff >= end) return false;
    const uint8_t* d = node->data + dataOff;
    std::memset(&item, 0, sizeof item);
    const uint8_t nameLength = std::min<uint8_t>(key[6], 31);
    item.name[0] = nameLength;
    std::memcpy(item.name + 1, key + 7, nameLength);
    item.kind = d[0];
    if (d[0] == cdrFolder) {
        if (dataOff + dir::recordSize > end) return false;
        item.id = read32(d + dir::dirId);
        item.valence = read16(d + dir::val);
        item.createDate = read32(d + dir::crDat);
        item.modifyDate = read32(d + dir::mdDat);
        std::memcpy(item.finderInfo, d + dir::usrInfo, 16);
        return true;
    }
    if (d[0] == cdrFile) {
        if (dataOff + fil::recordSize > end) return false;
        item.id = read32(d + fil::flNum);
        item.dataLength = read32(d + fil::lgLen);
        item.rsrcLength = read32(d + fil::rLgLen);
        item.createDate = read32(d + fil::crDat);
        item.modifyDate = read32(d + fil::mdDat);
        std::memcpy(item.finderInfo, d + fil::usrWds, 16);
        item.fileFlags = d[fil::flags];
        return true;
    }
    return false;
}

bool listFolder(uint32_t folderId, std::vector<CatalogItem>& items)
{
    items.clear();
    RecordPosition pos = findFolderStart(catalogRoot(), folderId);
    if (!pos.found) return false;
    CacheBuffer* node = pos.buffer;
    uint16_t index = pos.index;
    const uint32_t maxSteps = treeNodes(catalogTree);
    for (uint32_t step = 0; step <= maxSteps; ++step) {
        pinBuffer(node);
        const uint16_t count = nodeRecords(node);
        for (; index < count; ++index) {
            const uint8_t* key = node->data + recordOffset(node, index);
            if (read32(key + 2) != folderId) {
                unpinBuffer(node);
                return true;
            }
            CatalogItem item;
            // Thread records (the folder's own, first in its run) are skipped.
            if (readCatalogItem(node, index, item)) items.push_back(item);
        }
        unpinBuffer(node);
        const uint32_t next = nodeFLink(node);
        if (next == 0) return true;
        node = readNode(catalogTree, next);
        if (!node) return false;
        if (nodeType(node) != nd::leafNode) {
            setError(errBadNode);
            return false;
        }
        index = 0;
    }
    setError(errBadNode);  // the leaf chain loops
    return false;
}

FileRef fileRefAt(CacheBuffer* node, uint16_t index)
{
    FileRef ref{};
    const uint16_t offset = recordOffset(node, index);
    const uint16_t dataOff = recordDataOffset(node, offset);
    const uint32_t end = offset + recordSize(node, index);
    if (dataOff + fil::recordSize > end || node->data[dataOff] != cdrFile) {
        setError(errBadNode);
        return ref;
    }
    ref.fileId = read32(node->data + dataOff + fil::flNum);
    ref.buffer = node;
    ref.offset = dataOff;
    return ref;
}

FileRef openFileRef(uint32_t parentId, const uint8_t* name)
{
    RecordPosition pos = findCatalogRecord(catalogRoot(), parentId, name);
    if (!pos.found) return FileRef{};
    return fileRefAt(pos.buffer, pos.index);
}

int lookupCatalogItem(uint32_t parentId, const uint8_t* name, CatalogItem& item)
{
    RecordPosition pos = lookup(parentId, name);
    if (lastError != errNone) return -1;
    if (!pos.found) return 0;
    if (!readCatalogItem(pos.buffer, pos.index, item)) {
        setError(errBadNode);
        return -1;
    }
    return 1;
}

int folderById(uint32_t folderId, CatalogItem& item, uint32_t& parentId)
{
    RecordPosition pos = lookup(folderId, nullptr);
    if (lastError != errNone) return -1;
    if (!pos.found) return 0;
    const uint16_t dataOff = recordDataOffset(pos.buffer, pos.offset);
    const uint32_t end = pos.offset + recordSize(pos.buffer, pos.index);
    const uint8_t* d = pos.buffer->data + dataOff;
    if (dataOff + thd::recordSize > end || d[0] != cdrFolderThread || d[thd::cName] > 31) {
        setError(errBadNode);
        return -1;
    }
    uint8_t name[32];
    std::memcpy(name, d + thd::cName, 32);
    parentId = read32(d + thd::parId);
    const int r = lookupCatalogItem(parentId, name, item);
    if (r != 0 && !(r == 1 && item.id != folderId)) return r;
    // A thread whose name has gone astray (real volumes have them) still
    // names the right parent: the folder is the one there with its ID.
    std::vector<CatalogItem> siblings;
    if (!listFolder(parentId, siblings)) {
        if (lastError == errBadNode) lastError = errNone;
        return lastError == errNone ? 0 : -1;
    }
    for (const CatalogItem& sibling : siblings)
        if (sibling.kind == cdrFolder && sibling.id == folderId) {
            item = sibling;
            return 1;
        }
    return 0;
}

int resolvePath(uint32_t startFolder, const std::vector<std::vector<uint8_t>>& names, uint32_t& parentId,
                CatalogItem& item)
{
    if (names.empty()) return folderById(startFolder, item, parentId);
    uint32_t folder = startFolder;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::vector<uint8_t>& n = names[i];
        if (n.empty() || n[0] + 1u != n.size()) return 0;
        const int r = lookupCatalogItem(folder, n.data(), item);
        if (r != 1) return r;
        if (i + 1 < names.size()) {
            if (item.kind != cdrFolder) return 0;
            folder = item.id;
        }
    }
    parentId = folder;
    return 1;
}

}  // namespace verrin
