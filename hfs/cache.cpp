// The sector cache and the clamped sector calls, plus flush, revert and
// close of the mounted volume.
//
// Cache invariants:
//   - Every buffer is on the list exactly once, most recently used first,
//     and the index maps its sector to it; no two buffers hold one sector.
//   - A buffer whose read failed is dropped at once: the cache never serves
//     sector content that did not come from the drive or from the engine.
//   - A buffer with flags 0 (clean, not pinned) may be taken over for another
//     sector; dirty or pinned buffers are never reused.
//   - Dirty buffers reach the drive only in flushVolume; revertVolume brings
//     each dirty buffer back to what the drive holds.
//   - A flush either writes every dirty buffer or, when a write fails, puts
//     the sectors it already wrote back as they were and leaves all of them
//     dirty, so the medium stays at the last completed flush.
// Calls the drive table (hfs/drive.h) and the error word.
#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <unordered_map>
#include <vector>

#include "hfs/drive.h"
#include "hfs/internal.h"

namespace verrin {

Volume volume;
int currentDrive = -1;
CacheBuffer extentsControl;
CacheBuffer catalogControl;
CacheBuffer* cacheHead = nullptr;

namespace {

CacheBuffer* cacheTail = nullptr;
std::unordered_map<uint32_t, CacheBuffer*> cacheIndex;

// Above this many buffers a miss takes over the least recently used clean
// buffer instead of growing the cache (64 MB of sectors).
constexpr size_t cacheSoftLimit = 131072;

void unlinkBuffer(CacheBuffer* b)
{
    if (b->prev) b->prev->next = b->next;
    else cacheHead = b->next;
    if (b->next) b->next->prev = b->prev;
    else cacheTail = b->prev;
    b->next = b->prev = nullptr;
}

void pushFront(CacheBuffer* b)
{
    b->prev = nullptr;
    b->next = cacheHead;
    if (cacheHead) cacheHead->prev = b;
    cacheHead = b;
    if (!cacheTail) cacheTail = b;
}

void dropBuffer(CacheBuffer* b)
{
    unlinkBuffer(b);
    cacheIndex.erase(b->sector);
    delete b;
}

CacheBuffer* leastRecentlyUsedClean()
{
    for (CacheBuffer* b = cacheTail; b; b = b->prev)
        if (b->flags == 0) return b;
    return nullptr;
}

DriveEntry* currentEntry()
{
    if (currentDrive < 0 || currentDrive >= driveCount) return nullptr;
    return &driveTable[currentDrive];
}

uint32_t clampCount(const DriveEntry& e, uint32_t count)
{
    if (maxIoBufSetting == 0) count = std::min<uint32_t>(count, std::max<uint16_t>(e.sectorRatio, 1));
    if (transferCap != 0) count = std::min(count, transferCap);
    return std::min(count, transferLimitBytes / 512);
}

}  // namespace

int32_t readSectors(uint8_t* buffer, uint32_t count, uint32_t sector)
{
    DriveEntry* e = currentEntry();
    if (!e || !e->read) {
        setError(errNotSupported);
        return 0;
    }
    count = clampCount(*e, count);
    if (count == 0) return 0;
    const int32_t got = e->read(*e, buffer, count, sector);
    if (got <= 0) {
        setError(errMacRead);
        return 0;
    }
    return got;
}

int32_t writeSectors(const uint8_t* buffer, uint32_t count, uint32_t sector)
{
    DriveEntry* e = currentEntry();
    if (!e || driveIsReadOnly(*e)) {
        setError(errVolumeReadOnly);
        return 0;
    }
    count = clampCount(*e, count);
    if (count == 0) return 0;
    const int32_t put = e->write(*e, buffer, count, sector);
    if (put <= 0) {
        setError(errMacWrite);
        return 0;
    }
    return put;
}

CacheBuffer* getSector(uint32_t sector, uint32_t count)
{
    auto it = cacheIndex.find(sector);
    if (it != cacheIndex.end()) {
        CacheBuffer* b = it->second;
        if (b != cacheHead) {
            unlinkBuffer(b);
            pushFront(b);
        }
        return b;
    }
    CacheBuffer* b = nullptr;
    if (cacheIndex.size() >= cacheSoftLimit) b = leastRecentlyUsedClean();
    if (b) {
        unlinkBuffer(b);
        cacheIndex.erase(b->sector);
    } else {
        b = new (std::nothrow) CacheBuffer;
        if (!b) {
            b = leastRecentlyUsedClean();
            if (!b) {
                setError(errNoMemory);
                return nullptr;
            }
            unlinkBuffer(b);
            cacheIndex.erase(b->sector);
        }
    }
    std::memset(b->data, 0, sizeof b->data);
    b->flags = 0;
    b->sector = sector;
    pushFront(b);
    cacheIndex[sector] = b;
    if (count >= 1) {
        if (readSectors(b->data, 1, sector) != 1) {
            dropBuffer(b);
            setError(errMacRead);
            return nullptr;
        }
    }
    return b;
}

int32_t getSector(uint8_t* buffer, uint32_t sector, uint32_t count)
{
    if (count == 0) return 0;
    return readSectors(buffer, count, sector);
}

CacheBuffer* getVolumeSector(uint32_t volumeSector, uint32_t count)
{
    return getSector(volume.startSector + volumeSector, count);
}

int32_t getVolumeSector(uint8_t* buffer, uint32_t volumeSector, uint32_t count)
{
    return getSector(buffer, volume.startSector + volumeSector, count);
}

void emptyCache()
{
    CacheBuffer* b = cacheHead;
    while (b) {
        CacheBuffer* next = b->next;
        delete b;
        b = next;
    }
    cacheHead = cacheTail = nullptr;
    cacheIndex.clear();
}

size_t cacheSize() { return cacheIndex.size(); }

// ---------------------------------------------------------------------------
// Flush, revert, close.

void buildControlRecord(CacheBuffer& control, FileRef& ref, uint32_t fileId)
{
    std::memset(control.data, 0, sizeof control.data);
    control.flags = bufPinned;
    control.sector = 0xFFFFFFFFu;
    control.next = control.prev = nullptr;
    const uint8_t* m = volume.mdb->data;
    const uint32_t size = read32(m + (fileId == 3 ? mdb::xtFlSize : mdb::ctFlSize));
    write32(control.data + fil::flNum, fileId);
    write32(control.data + fil::lgLen, size);
    write32(control.data + fil::pyLen, size);
    std::memcpy(control.data + fil::extRec, m + (fileId == 3 ? mdb::xtExtRec : mdb::ctExtRec), 12);
    ref.fileId = fileId;
    ref.buffer = &control;
    ref.offset = 0;
}

namespace {

void refreshAlternateMdb()
{
    if (volume.sizeSectors < 4) return;
    // Never over an allocation block: a volume whose length was estimated
    // short would otherwise take the copy into a file's data.
    const uint64_t allocEnd = volume.allocStart + static_cast<uint64_t>(volume.numBlocks) * volume.spb;
    if (volume.sizeSectors - 2 < allocEnd) return;
    CacheBuffer* alt = getVolumeSector(volume.sizeSectors - 2, 0);
    if (!alt) return;
    putBytes(alt, 0, volume.mdb->data, 512);
}

void copyControlToMdb(CacheBuffer& control, uint32_t sizeField, uint32_t extField)
{
    put32(read32(control.data + fil::pyLen), volume.mdb, sizeField);
    putBytes(volume.mdb, extField, control.data + fil::extRec, 12);
    control.flags &= static_cast<uint8_t>(~bufDirty);
    refreshAlternateMdb();
}

}  // namespace

namespace {

constexpr int flushRounds = 5;

// A sector of a flush in progress: its buffer, what the medium held before,
// and whether the new content has been written.
struct FlushUndo {
    CacheBuffer* buffer;
    std::array<uint8_t, 512> before;
    bool written;
};

// After a failed write: the sectors already written get their earlier
// content back (the error that stopped the flush stays the one reported).
// Every buffer of the flush stays dirty, so a revert re-reads it.
void undoFlush(const std::vector<FlushUndo>& undo)
{
    const int32_t failure = lastError;
    for (const FlushUndo& u : undo)
        if (u.written) writeSectors(u.before.data(), 1, u.buffer->sector);
    lastError = failure;
}

// A control record whose changes did not reach the MDB stays dirty, so that
// a revert rebuilds it from the MDB as the medium holds it.
void restoreControlFlags(uint8_t extentsFlags, uint8_t catalogFlags)
{
    extentsControl.flags |= static_cast<uint8_t>(extentsFlags & bufDirty);
    catalogControl.flags |= static_cast<uint8_t>(catalogFlags & bufDirty);
}

int flushRound(const CacheBuffer* b)
{
    if (b == volume.mdb) return 4;
    const uint32_t rel = b->sector - volume.startSector;
    if (volume.sizeSectors >= 4 && rel == volume.sizeSectors - 2) return 3;
    if (b == volume.extentsHeader || b == volume.catalogHeader) return 2;
    if (rel >= volume.bitmapStart && rel < volume.allocStart) return 0;
    return 1;
}

}  // namespace

void flushVolume()
{
    // A pending error means the command failed: its changes are reverted,
    // never written.
    if (!volume.mounted || !volume.mdb || lastError != errNone) return;
    bool anyDirty = (extentsControl.flags & bufDirty) || (catalogControl.flags & bufDirty);
    for (CacheBuffer* b = cacheHead; b && !anyDirty; b = b->next) anyDirty = (b->flags & bufDirty) != 0;
    if (!anyDirty) return;

    const uint8_t extentsFlags = extentsControl.flags;
    const uint8_t catalogFlags = catalogControl.flags;
    put32(macNow(), volume.mdb, mdb::lsMod);
    if (extentsControl.flags & bufDirty) copyControlToMdb(extentsControl, mdb::xtFlSize, mdb::xtExtRec);
    if (catalogControl.flags & bufDirty) copyControlToMdb(catalogControl, mdb::ctFlSize, mdb::ctExtRec);

    // What the medium holds now in every sector about to be written, so that
    // a failed write can put back the sectors already written: a flush
    // either completes or leaves the medium as the last flush left it. A
    // failed read here stops the flush before anything is written.
    std::vector<FlushUndo> undo;
    for (CacheBuffer* b = cacheHead; b; b = b->next) {
        if (!(b->flags & bufDirty)) continue;
        undo.push_back({b, {}, false});
        if (readSectors(undo.back().before.data(), 1, b->sector) != 1) {
            restoreControlFlags(extentsFlags, catalogFlags);
            return;
        }
    }
    // Sectors go out in rounds so that a crash part-way leaves as little
    // harm as the layout allows: bitmap sectors first (blocks are marked
    // before anything refers to them), then B-tree nodes, then the two
    // header nodes that point at them, the alternate MDB, and the MDB with
    // the counts and tree-file sizes last.
    for (int round = 0; round < flushRounds; ++round) {
        for (FlushUndo& u : undo) {
            CacheBuffer* b = u.buffer;
            if (flushRound(b) != round) continue;
            if (writeSectors(b->data, 1, b->sector) != 1) {
                undoFlush(undo);
                restoreControlFlags(extentsFlags, catalogFlags);
                return;
            }
            u.written = true;
        }
    }
    for (FlushUndo& u : undo) u.buffer->flags &= static_cast<uint8_t>(~bufDirty);
    DriveEntry* e = currentEntry();
    if (e && e->sync) e->sync(*e);
    allocationCommitted();
}

void revertVolume()
{
    allocationReverted();
    for (CacheBuffer* b = cacheHead; b; b = b->next) {
        if (!(b->flags & bufDirty)) continue;
        if (readSectors(b->data, 1, b->sector) != 1) {
            lastError = errMacRead;
            return;
        }
        const bool keepPinned = b == volume.mdb || b == volume.extentsHeader || b == volume.catalogHeader;
        b->flags = keepPinned ? bufPinned : 0;
    }
    if (!volume.mounted || !volume.mdb) return;
    if (extentsControl.flags & bufDirty) buildControlRecord(extentsControl, volume.extentsFile, 3);
    if (catalogControl.flags & bufDirty) buildControlRecord(catalogControl, volume.catalogFile, 4);
}

void closeVolume()
{
    emptyCache();
    forgetAllocationState();
    volume = Volume{};
    std::memset(&extentsControl, 0, sizeof extentsControl);
    std::memset(&catalogControl, 0, sizeof catalogControl);
    parentFolderId = 0;
    currentFolderId = 0;
    std::memset(currentFolderName, 0, sizeof currentFolderName);
}

}  // namespace verrin
