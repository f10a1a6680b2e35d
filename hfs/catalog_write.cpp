// Catalog changes in the current folder: creating folders (with their
// thread records) and files, deleting empty folders and files (their forks
// released), renaming, moving to another folder, retyping, the invisible
// and locked flags, and the counts that follow every change:
// the folder's valence and modification date and the MDB's file and folder
// counts and next catalog ID.
//
// Invariants kept:
//   - Every folder has a thread record (its ID, empty name) naming its
//     parent and itself; a file thread, when another system made one, names
//     the file too and goes with it.
//   - A folder's dirVal counts the records directly inside it; drFilCnt and
//     drDirCnt count files and folders (the root not counted); drNmFls and
//     drNmRtDirs those directly in the root.
//   - drNxtCNID is above every ID in use; an ID is taken only once the
//     record that carries it is in the tree.
// Calls the catalog lookups, the B-tree changes and the allocator.
#include <algorithm>
#include <cstring>

#include "hfs/internal.h"

namespace verrin {

namespace {

// A name the catalog can hold: 1 to 31 characters, no ':' (the Mac's path
// separator).
bool validName(const uint8_t* name)
{
    if (!name || name[0] == 0 || name[0] > 31) return false;
    return std::find(name + 1, name + 1 + name[0], ':') == name + 1 + name[0];
}

// Checks shared by every change in the current folder.
bool canChangeCurrentFolder()
{
    if (!volumeWritable()) return false;
    if (currentFolderId < 2) {
        setError(errNotSupported);  // the level above the root holds only the root
        return false;
    }
    return true;
}

void addToMdb16(uint32_t field, int delta)
{
    const int v = static_cast<int>(read16(volume.mdb->data + field)) + delta;
    put16(static_cast<uint16_t>(std::clamp(v, 0, 0xFFFF)), volume.mdb, field);
}

void addToMdb32(uint32_t field, int delta)
{
    const int64_t v = static_cast<int64_t>(read32(volume.mdb->data + field)) + delta;
    put32(static_cast<uint32_t>(std::clamp<int64_t>(v, 0, 0xFFFFFFFFll)), volume.mdb, field);
}

// The record found for (parent, name), checked to be of the given type and
// long enough; data offset in dataOff.
RecordPosition findTyped(uint32_t parentId, const uint8_t* name, uint8_t type, uint16_t& dataOff)
{
    RecordPosition pos = findCatalogRecord(catalogRoot(), parentId, name);
    if (!pos.found) return pos;
    dataOff = recordDataOffset(pos.buffer, pos.offset);
    const uint32_t end = pos.offset + recordSize(pos.buffer, pos.index);
    const uint32_t need = type == cdrFolder ? dir::recordSize : type == cdrFile ? fil::recordSize : thd::recordSize;
    if (dataOff + need > end || pos.buffer->data[dataOff] != type) {
        setError(errBadNode);
        pos.found = false;
    }
    return pos;
}

// Record of a file thread for fileId, if one exists: 1 found, 0 none, -1 error.
int findFileThread(uint32_t fileId, RecordPosition& pos, uint16_t& dataOff)
{
    uint8_t key[40];
    buildCatalogKey(key, fileId, nullptr);
    pos = searchTree(catalogTree, catalogRoot(), key, compareCatalogKeys, true);
    if (lastError != errNone) return -1;
    if (!pos.found || compareCatalogKeys(key, pos.buffer->data + pos.offset) != 0) return 0;
    dataOff = recordDataOffset(pos.buffer, pos.offset);
    const uint32_t end = pos.offset + recordSize(pos.buffer, pos.index);
    if (dataOff + thd::recordSize > end || pos.buffer->data[dataOff] != cdrFileThread) return 0;
    return 1;
}

// Writes a name, length byte first and zero-padded, into a thread record.
void putThreadName(CacheBuffer* b, uint16_t dataOff, const uint8_t* name)
{
    fillBytes(0, b, dataOff + thd::cName, 32);
    putBytes(b, dataOff + thd::cName, name, name[0] + 1u);
}

// Leaf record: key (parent, name), then `dataLength` bytes of data.
uint16_t buildLeafRecord(uint8_t* out, uint32_t parentId, const uint8_t* name, const uint8_t* data,
                         uint32_t dataLength)
{
    uint8_t key[40];
    buildCatalogKey(key, parentId, name);
    const uint32_t keyBytes = paddedKeyBytes(key[ckr::keyLen]);
    std::memset(out, 0, keyBytes + dataLength);
    std::memcpy(out, key, key[0] + 1u);
    std::memcpy(out + keyBytes, data, dataLength);
    return static_cast<uint16_t>(keyBytes + dataLength);
}

}  // namespace

bool enterFolder(uint32_t folderId)
{
    if (lastError != errNone) return false;
    CatalogItem item;
    uint32_t parent = 0;
    const int r = folderById(folderId, item, parent);
    if (r == 0 || (r == 1 && item.kind != cdrFolder)) setError(errBadNode);
    if (r != 1 || lastError != errNone) return false;
    currentFolderId = folderId;
    parentFolderId = parent;
    std::memcpy(currentFolderName, item.name, sizeof currentFolderName);
    return true;
}

uint32_t pendingCatalogID() { return std::max(read32(volume.mdb->data + mdb::nxtCNID), allocation.idFloor); }

uint32_t nextCatalogID()
{
    const uint32_t id = pendingCatalogID();
    put32(id + 1, volume.mdb, mdb::nxtCNID);
    return id;
}

void adjustFolderCount(int delta)
{
    if (lastError != errNone) return;
    uint16_t dataOff = 0;
    RecordPosition pos = findTyped(parentFolderId, currentFolderName, cdrFolder, dataOff);
    if (!pos.found) return;
    const int v = static_cast<int>(read16(pos.buffer->data + dataOff + dir::val)) + delta;
    put16(static_cast<uint16_t>(std::clamp(v, 0, 0xFFFF)), pos.buffer, dataOff + dir::val);
    put32(macNow(), pos.buffer, dataOff + dir::mdDat);
}

void createFolder(const uint8_t* name)
{
    if (!canChangeCurrentFolder()) return;
    if (!validName(name)) {
        setError(errMacCreate);
        return;
    }
    const uint32_t id = pendingCatalogID();
    const uint32_t now = macNow();
    uint8_t data[dir::recordSize] = {};
    data[0] = cdrFolder;
    write32(data + dir::dirId, id);
    write32(data + dir::crDat, now);
    write32(data + dir::mdDat, now);
    uint8_t record[160];
    const uint16_t length = buildLeafRecord(record, currentFolderId, name, data, sizeof data);
    treeInsert(catalogTree, record, length);
    if (lastError != errNone) return;
    nextCatalogID();
    adjustFolderCount(+1);

    uint8_t thread[thd::recordSize] = {};
    thread[0] = cdrFolderThread;
    write32(thread + thd::parId, currentFolderId);
    std::memcpy(thread + thd::cName, name, name[0] + 1u);
    const uint16_t threadLength = buildLeafRecord(record, id, nullptr, thread, sizeof thread);
    treeInsert(catalogTree, record, threadLength);
    if (lastError != errNone) return;
    addToMdb32(mdb::dirCnt, +1);
    if (currentFolderId == 2) addToMdb16(mdb::nmRtDirs, +1);
}

FileRef createFile(const FileInfo& info)
{
    if (!canChangeCurrentFolder()) return {};
    if (!validName(info.name)) {
        setError(errMacCreate);
        return {};
    }
    const uint32_t id = pendingCatalogID();
    uint32_t created = info.createDate;
    uint32_t modified = info.modifyDate;
    if (created == 0) created = modified = macNow();
    uint8_t data[fil::recordSize] = {};
    data[0] = cdrFile;
    std::memcpy(data + fil::usrWds, info.finderInfo, 16);
    write32(data + fil::flNum, id);
    write32(data + fil::crDat, created);
    write32(data + fil::mdDat, modified);
    uint8_t record[160];
    const uint16_t length = buildLeafRecord(record, currentFolderId, info.name, data, sizeof data);
    // The counts below change records in place, never the tree's shape: the
    // place the record landed at still holds it afterwards.
    const LeafPlace place = treeInsert(catalogTree, record, length);
    if (lastError != errNone) return {};
    nextCatalogID();
    adjustFolderCount(+1);
    if (lastError != errNone) return {};
    addToMdb32(mdb::filCnt, +1);
    if (currentFolderId == 2) addToMdb16(mdb::nmFls, +1);
    CacheBuffer* node = readNode(catalogTree, place.node);
    if (!node) return {};
    if (place.index >= nodeRecords(node)) {
        setError(errBadNode);
        return {};
    }
    // The record found there must be the file just made: a wrong place
    // must never hand the caller another file's record to write forks into.
    const FileRef ref = fileRefAt(node, place.index);
    if (lastError == errNone && ref.fileId != id) {
        setError(errBadNode);
        return {};
    }
    return ref;
}

void deleteFolder(const uint8_t* name)
{
    if (!canChangeCurrentFolder()) return;
    uint16_t dataOff = 0;
    RecordPosition pos = findTyped(currentFolderId, name, cdrFolder, dataOff);
    if (!pos.found) return;
    if (read16(pos.buffer->data + dataOff + dir::val) != 0) return;  // only empty folders go
    const uint32_t id = read32(pos.buffer->data + dataOff + dir::dirId);
    // A valence of 0 on a folder that still holds records would orphan
    // them; a folder whose contents cannot be listed stays, with the error.
    std::vector<CatalogItem> inside;
    if (!listFolder(id, inside) || !inside.empty()) return;
    uint8_t key[40];
    buildCatalogKey(key, currentFolderId, name);
    treeDelete(catalogTree, key);
    uint8_t threadKey[40];
    buildCatalogKey(threadKey, id, nullptr);
    treeDelete(catalogTree, threadKey);
    adjustFolderCount(-1);
    if (lastError != errNone) return;
    addToMdb32(mdb::dirCnt, -1);
    if (currentFolderId == 2) addToMdb16(mdb::nmRtDirs, -1);
}

void deleteFile(const uint8_t* name)
{
    if (!canChangeCurrentFolder()) return;
    FileRef ref = openFileRef(currentFolderId, name);
    if (lastError != errNone) return;
    const bool wasPinned = (ref.buffer->flags & bufPinned) != 0;
    pinBuffer(ref.buffer);
    const bool hasThread = (ref.buffer->data[ref.offset + fil::flags] & fil::threadExists) != 0;
    releaseFork(ref, resourceFork);
    releaseFork(ref, dataFork);
    if (!wasPinned) unpinBuffer(ref.buffer);
    if (lastError != errNone) return;
    uint8_t key[40];
    buildCatalogKey(key, currentFolderId, name);
    treeDelete(catalogTree, key);
    if (hasThread) {
        RecordPosition tpos;
        uint16_t tdata = 0;
        if (findFileThread(ref.fileId, tpos, tdata) == 1) {
            uint8_t threadKey[40];
            buildCatalogKey(threadKey, ref.fileId, nullptr);
            treeDelete(catalogTree, threadKey);
        }
    }
    adjustFolderCount(-1);
    if (lastError != errNone) return;
    addToMdb32(mdb::filCnt, -1);
    if (currentFolderId == 2) addToMdb16(mdb::nmFls, -1);
}

namespace {

// The leaf record of a file or folder: where it lies, its kind and a copy
// of its data, so that it can be written again under another key.
struct ItemRecord {
    RecordPosition pos;
    uint16_t dataOff;
    uint8_t type;
    uint32_t dataLength;
    uint8_t data[fil::recordSize];
};

// Finds the item NAME in FOLDERID. False when it is missing (the lookup's
// error stands) or its record is neither a whole file nor a whole folder
// record (errBadNode).
bool readItemRecord(uint32_t folderId, const uint8_t* name, ItemRecord& item)
{
    item.pos = findCatalogRecord(catalogRoot(), folderId, name);
    if (!item.pos.found) return false;
    item.dataOff = recordDataOffset(item.pos.buffer, item.pos.offset);
    const uint32_t end = item.pos.offset + recordSize(item.pos.buffer, item.pos.index);
    item.type = item.pos.buffer->data[item.dataOff];
    item.dataLength = item.type == cdrFolder ? dir::recordSize : fil::recordSize;
    if ((item.type != cdrFolder && item.type != cdrFile) || item.dataOff + item.dataLength > end) {
        setError(errBadNode);
        return false;
    }
    std::memcpy(item.data, item.pos.buffer->data + item.dataOff, item.dataLength);
    return true;
}

// Moves an item's record from its old key to a new parent and name; the
// thread and the counts are the caller's.
void rekeyItemRecord(const ItemRecord& item, uint32_t oldParentId, const uint8_t* oldName, uint32_t newParentId,
                     const uint8_t* newName)
{
    uint8_t key[40];
    buildCatalogKey(key, oldParentId, oldName);
    treeDelete(catalogTree, key);
    uint8_t record[160];
    const uint16_t length = buildLeafRecord(record, newParentId, newName, item.data, item.dataLength);
    treeInsert(catalogTree, record, length);
}

}  // namespace

void renameItem(const uint8_t* name, const uint8_t* newName)
{
    if (!canChangeCurrentFolder()) return;
    if (!validName(newName)) {
        setError(errMacCreate);
        return;
    }
    ItemRecord item;
    if (!readItemRecord(currentFolderId, name, item)) return;
    const uint8_t type = item.type;
    const uint8_t* data = item.data;
    // Another item of that name stops the rename before anything changes.
    if (compareMacNames(name, newName) != 0) {
        CatalogItem other;
        const int r = lookupCatalogItem(currentFolderId, newName, other);
        if (r < 0) return;
        if (r == 1) {
            setError(errNameExists);
            return;
        }
    }
    rekeyItemRecord(item, currentFolderId, name, currentFolderId, newName);
    if (lastError != errNone) return;

    if (type == cdrFolder) {
        uint16_t tdata = 0;
        RecordPosition tpos = findTyped(read32(data + dir::dirId), nullptr, cdrFolderThread, tdata);
        if (tpos.found) putThreadName(tpos.buffer, tdata, newName);
    } else if (data[fil::flags] & fil::threadExists) {
        RecordPosition tpos;
        uint16_t tdata = 0;
        if (findFileThread(read32(data + fil::flNum), tpos, tdata) == 1) putThreadName(tpos.buffer, tdata, newName);
    }
}

void moveItem(const uint8_t* name, uint32_t targetFolderId)
{
    if (!canChangeCurrentFolder()) return;
    const uint32_t sourceFolderId = currentFolderId;
    if (targetFolderId == sourceFolderId) return;
    ItemRecord item;
    if (!readItemRecord(sourceFolderId, name, item)) return;
    const uint8_t type = item.type;
    const uint8_t* data = item.data;
    const uint32_t id = read32(data + (type == cdrFolder ? dir::dirId : fil::flNum));

    // The target: a folder that is not the moved folder nor inside it, and
    // that holds no item of the name. Its chain of parents ends at the
    // root's parent; a chain longer than the volume can hold is damage.
    CatalogItem target;
    uint32_t above = 0;
    int r = folderById(targetFolderId, target, above);
    if (r == 0 || (r == 1 && target.kind != cdrFolder)) setError(errBadNode);
    if (r != 1 || lastError != errNone) return;
    for (uint32_t walk = targetFolderId, steps = 0; walk > 1; ++steps) {
        if (type == cdrFolder && walk == id) {
            setError(errNotSupported);
            return;
        }
        CatalogItem step;
        uint32_t parent = 0;
        if (steps > 65535 || folderById(walk, step, parent) != 1) {
            if (lastError == errNone) setError(errBadNode);
            return;
        }
        walk = parent;
    }
    CatalogItem other;
    r = lookupCatalogItem(targetFolderId, name, other);
    if (r < 0) return;
    if (r == 1) {
        setError(errNameExists);
        return;
    }

    rekeyItemRecord(item, sourceFolderId, name, targetFolderId, name);
    if (lastError != errNone) return;

    // The thread names the new parent.
    RecordPosition tpos{};
    uint16_t tdata = 0;
    if (type == cdrFolder)
        tpos = findTyped(id, nullptr, cdrFolderThread, tdata);
    else if ((data[fil::flags] & fil::threadExists) == 0 || findFileThread(id, tpos, tdata) != 1)
        tpos.found = false;
    if (tpos.found) put32(targetFolderId, tpos.buffer, tdata + thd::parId);
    if (lastError != errNone) return;

    adjustFolderCount(-1);
    const uint32_t rootCount = type == cdrFolder ? mdb::nmRtDirs : mdb::nmFls;
    if (sourceFolderId == 2) addToMdb16(rootCount, -1);
    if (!enterFolder(targetFolderId)) return;
    adjustFolderCount(+1);
    if (targetFolderId == 2) addToMdb16(rootCount, +1);
    enterFolder(sourceFolderId);
}

void setItemAttributes(const uint8_t* name, const AttributeChange& change)
{
    if (!canChangeCurrentFolder()) return;
    ItemRecord item;
    if (!readItemRecord(currentFolderId, name, item)) return;
    const RecordPosition& pos = item.pos;
    const uint16_t dataOff = item.dataOff;
    const uint8_t type = item.type;
    if (type == cdrFolder && change.locked >= 0) {
        setError(errNotSupported);  // HFS keeps no locked flag for folders
        return;
    }
    if (change.invisible >= 0) {
        const uint32_t at = dataOff + (type == cdrFolder ? dir::usrInfo : fil::usrWds) + finder::flags;
        uint16_t flags = read16(pos.buffer->data + at);
        flags = static_cast<uint16_t>(change.invisible ? flags | finder::isInvisible : flags & ~finder::isInvisible);
        put16(flags, pos.buffer, at);
    }
    if (change.locked >= 0) {
        uint8_t flags = pos.buffer->data[dataOff + fil::flags];
        flags = static_cast<uint8_t>(change.locked ? flags | fil::locked : flags & ~fil::locked);
        putByte(flags, pos.buffer, dataOff + fil::flags);
    }
}

void setTypeCreator(const uint8_t* name, const uint8_t* type, const uint8_t* creator)
{
    if (!canChangeCurrentFolder()) return;
    uint16_t dataOff = 0;
    RecordPosition pos = findTyped(currentFolderId, name, cdrFile, dataOff);
    if (!pos.found) return;
    putBytes(pos.buffer, dataOff + fil::usrWds, type, 4);
    putBytes(pos.buffer, dataOff + fil::usrWds + 4, creator, 4);
}

}  // namespace verrin
