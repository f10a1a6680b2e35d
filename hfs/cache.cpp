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
//   - Every dirty buffer is on the dirty list once; a dirty buffer whose
//     clean content came from the medium keeps that content as its
//     before-image from the moment it became dirty until it is clean again.
//   - Dirty buffers reach the drive only in flushVolume, as one commit in
//     ascending runs (hfs/journal.h): the medium holds all of a flush or
//     none of it. revertVolume brings each dirty buffer back to what the
//     medium holds: its before-image, or the medium's sector re-read.
//   - File data (writeSectors) goes around the cache. Short writes that
//     follow one another on the medium are gathered into one run and
//     written as one transfer: before any read that overlaps the run, when
//     a write does not continue it, and at the start of every flush. A
//     flush whose gathered run cannot be written commits nothing, so no
//     catalog record reaches the medium without the data it describes. The
//     run is only dropped with the changes that describe it (revertVolume,
//     close); revertToSavepoint keeps it, since it holds the data of the
//     steps before the savepoint too.
//   - A savepoint holds the control records and the allocators' memory as
//     they were when it was taken, and the content then of every buffer
//     dirty at that moment and changed since (kept at its first change);
//     the buffers dirtied after it are the tail of the dirty list from its
//     length then.
// Buffers come from a pool of blocks of buffers, returned when the cache is
// emptied. Calls the drive table, the commit, the remembered verdicts (a
// sound volume is remembered when it is closed) and the error word.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "hfs/drive.h"
#include "hfs/internal.h"
#include "hfs/journal.h"
#include "hfs/verdict.h"

namespace verrin {

Volume volume;
int currentDrive = -1;
CacheBuffer extentsControl;
CacheBuffer catalogControl;
CacheBuffer* cacheHead = nullptr;

namespace {

CacheBuffer* cacheTail = nullptr;
std::unordered_map<uint32_t, CacheBuffer*> cacheIndex;
std::vector<CacheBuffer*> dirtyBuffers;

// Above this many buffers a miss takes over the least recently used clean
// buffer instead of growing the cache (64 MB of sectors).
constexpr size_t cacheSoftLimit = 131072;

// The savepoint, while one is taken. Its number marks the buffers it has
// dealt with (CacheBuffer::savepointNumber); every savepoint has a new one.
struct SavedContent {
    CacheBuffer* buffer;
    std::array<uint8_t, 512> data;
};
struct Savepoint {
    bool taken = false;
    uint64_t number = 0;
    size_t dirtyCount = 0;             // the length of the dirty list when taken
    std::vector<SavedContent> images;  // of those buffers changed since
    CacheBuffer extents{}, catalog{};
    AllocationState allocation;
};
Savepoint savepoint;
uint64_t savepointsTaken = 0;

// The pool: blocks of buffers, and the free ones chained through `next`.
constexpr size_t poolBlock = 256;
std::vector<std::unique_ptr<CacheBuffer[]>> poolBlocks;
CacheBuffer* freeBuffers = nullptr;

// Before-images by slot, and the slots free for reuse.
std::vector<std::array<uint8_t, 512>> beforeImages;
std::vector<uint32_t> freeBeforeSlots;

CacheBuffer* takeFromPool()
{
    if (!freeBuffers) {
        std::unique_ptr<CacheBuffer[]> block(new (std::nothrow) CacheBuffer[poolBlock]);
        if (!block) return nullptr;
        for (size_t i = 0; i < poolBlock; ++i) {
            block[i].next = freeBuffers;
            freeBuffers = &block[i];
        }
        poolBlocks.push_back(std::move(block));
    }
    CacheBuffer* b = freeBuffers;
    freeBuffers = b->next;
    return b;
}

void returnToPool(CacheBuffer* b)
{
    b->next = freeBuffers;
    freeBuffers = b;
}

// Keeps the buffer's present content as its before-image (no image when
// there is no memory for it: the commit then reads the medium instead).
void keepBeforeImage(CacheBuffer* b)
{
    uint32_t slot;
    if (!freeBeforeSlots.empty()) {
        slot = freeBeforeSlots.back();
        freeBeforeSlots.pop_back();
    } else {
        try {
            beforeImages.emplace_back();
        } catch (const std::bad_alloc&) {
            return;
        }
        slot = static_cast<uint32_t>(beforeImages.size() - 1);
    }
    std::memcpy(beforeImages[slot].data(), b->data, 512);
    b->beforeSlot = slot + 1;
}

const uint8_t* beforeImageOf(const CacheBuffer* b)
{
    return b->beforeSlot ? beforeImages[b->beforeSlot - 1].data() : nullptr;
}

// The buffer is clean again: its before-image is no longer needed.
void makeClean(CacheBuffer* b, uint8_t flags)
{
    if (b->beforeSlot) freeBeforeSlots.push_back(b->beforeSlot - 1);
    b->beforeSlot = 0;
    b->flags = flags;
}

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
    returnToPool(b);
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

// ---------------------------------------------------------------------------
// Gathered data writes.

// Writes shorter than this many sectors are gathered (a transfer buffer's
// worth and more goes straight to the drive); a run holds at most
// gatherLimit sectors.
constexpr uint32_t gatherBelowSectors = 64;
constexpr uint32_t gatherLimit = 512;

struct GatheredRun {
    std::vector<uint8_t> bytes;  // gatherLimit sectors once first used
    uint32_t start = 0;          // absolute sector of the first one not written yet
    uint32_t written = 0;        // sectors at the front of `bytes` already on the medium
    uint32_t count = 0;          // sectors held and not written yet
    // Sectors just past the run that belong to the fork written last and
    // hold nothing read (the rest of its last allocation block): a write
    // that begins after them may join the run, zeros going in between.
    uint32_t slack = 0;
};
GatheredRun gathered;

// File data went to the drive since the last commit (the commit syncs it
// before its journal).
bool dataWritten = false;

uint32_t gatheredEnd() { return gathered.start + gathered.count; }

bool overlapsGathered(uint32_t sector, uint32_t count)
{
    return gathered.count != 0 && sector < gatheredEnd() && gathered.start < sector + count;
}

// Writes the gathered run; false with errMacWrite when the drive refuses,
// the sectors not written staying gathered.
bool writeGathered()
{
    gathered.slack = 0;
    if (gathered.count == 0) return true;
    DriveEntry* e = currentEntry();
    while (gathered.count > 0) {
        const uint32_t units = e ? transferUnits(*e, gathered.count) : 0;
        const int32_t put =
            units ? e->write(*e, gathered.bytes.data() + size_t{gathered.written} * 512, units, gathered.start) : 0;
        if (put <= 0) {
            setError(errMacWrite);
            return false;
        }
        dataWritten = true;
        const uint32_t done = std::min(static_cast<uint32_t>(put), gathered.count);
        gathered.start += done;
        gathered.written += done;
        gathered.count -= done;
    }
    gathered.written = 0;
    return true;
}

// The gathered run goes with the changes that describe it.
void dropGathered()
{
    gathered.count = gathered.written = gathered.slack = 0;
    dataWritten = false;
}

// Takes a short write into the gathered run when it continues the run (right
// after it, or after its slack) and fits; false when it must be written
// otherwise.
bool joinGathered(const uint8_t* buffer, uint32_t count, uint32_t sector)
{
    if (count >= gatherBelowSectors) return false;
    if (gathered.count == 0) {
        if (gathered.bytes.empty()) {
            try {
                gathered.bytes.resize(size_t{gatherLimit} * 512);
            } catch (const std::bad_alloc&) {
                return false;
            }
        }
        gathered.start = sector;
        gathered.written = 0;
        gathered.slack = 0;
    }
    const uint32_t end = gatheredEnd();
    if (sector < end || sector - end > gathered.slack) return false;
    const uint32_t gap = sector - end;
    if (gathered.written + gathered.count + gap + count > gatherLimit) return false;
    uint8_t* at = gathered.bytes.data() + size_t{gathered.written + gathered.count} * 512;
    std::memset(at, 0, size_t{gap} * 512);
    std::memcpy(at + size_t{gap} * 512, buffer, size_t{count} * 512);
    gathered.count += gap + count;
    gathered.slack = 0;
    return true;
}

}  // namespace

void offerSlackAfter(uint32_t sector, uint32_t count)
{
    if (gathered.count != 0 && sector == gatheredEnd()) gathered.slack = count;
}

void markDirty(CacheBuffer* b)
{
    b->checkedAs = nullptr;
    // The control records live outside the cache, are never written, and
    // the savepoint keeps them whole.
    const bool control = b == &extentsControl || b == &catalogControl;
    if (b->flags & bufDirty) {
        // Dirty before the savepoint and changed for the first time since:
        // the savepoint keeps its content as it was.
        if (savepoint.taken && b->savepointNumber != savepoint.number && !control) {
            SavedContent& saved = savepoint.images.emplace_back();
            saved.buffer = b;
            std::memcpy(saved.data.data(), b->data, 512);
            b->savepointNumber = savepoint.number;
        }
        return;
    }
    b->flags |= bufDirty;
    if (control) return;
    b->savepointNumber = savepoint.taken ? savepoint.number : 0;
    if (b->fromMedium) keepBeforeImage(b);
    dirtyBuffers.push_back(b);
}

int32_t readSectors(uint8_t* buffer, uint32_t count, uint32_t sector)
{
    DriveEntry* e = currentEntry();
    if (!e || !e->read) {
        setError(errNotSupported);
        return 0;
    }
    count = transferUnits(*e, count);
    if (count == 0) return 0;
    if (overlapsGathered(sector, count) && !writeGathered()) return 0;
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
    if (joinGathered(buffer, count, sector)) return static_cast<int32_t>(count);
    if (!writeGathered()) return 0;
    if (joinGathered(buffer, count, sector)) return static_cast<int32_t>(count);
    count = transferUnits(*e, count);
    if (count == 0) return 0;
    const int32_t put = e->write(*e, buffer, count, sector);
    if (put <= 0) {
        setError(errMacWrite);
        return 0;
    }
    dataWritten = true;
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
        b = takeFromPool();
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
    b->fromMedium = false;
    b->sector = sector;
    b->beforeSlot = 0;
    b->checkedAs = nullptr;
    pushFront(b);
    cacheIndex[sector] = b;
    if (count >= 1) {
        if (readSectors(b->data, 1, sector) != 1) {
            dropBuffer(b);
            setError(errMacRead);
            return nullptr;
        }
        b->fromMedium = true;
    }
    return b;
}

namespace {

// Caches the sectors from `sector` on that are not cached yet, read in one
// transfer. Not when the cache is full: read-ahead never pushes out what is
// there. A failed or short read is not an error (the caller reads the sector
// it needs on its own); what was read is clean content from the medium.
void readAhead(uint32_t sector, uint32_t count)
{
    DriveEntry* e = currentEntry();
    if (!e || !e->read || cacheIndex.size() + count > cacheSoftLimit) return;
    count = transferUnits(*e, std::min(count, readAheadSectors));
    if (count < 2 || overlapsGathered(sector, count)) return;
    static uint8_t run[readAheadSectors * 512];
    const int32_t pending = lastError;
    const int32_t got = e->read(*e, run, count, sector);
    lastError = pending;
    for (uint32_t i = 0; got > 0 && i < static_cast<uint32_t>(got); ++i) {
        if (cacheIndex.count(sector + i)) continue;
        CacheBuffer* b = takeFromPool();
        if (!b) return;
        std::memcpy(b->data, run + 512 * i, 512);
        b->flags = 0;
        b->fromMedium = true;
        b->sector = sector + i;
        b->beforeSlot = 0;
        b->checkedAs = nullptr;
        pushFront(b);
        cacheIndex[b->sector] = b;
    }
}

}  // namespace

CacheBuffer* getVolumeSectorReadingAhead(uint32_t volumeSector, uint32_t run)
{
    const uint32_t sector = volume.startSector + volumeSector;
    if (run > 1 && !cacheIndex.count(sector)) readAhead(sector, run);
    return getSector(sector, 1);
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
    dropGathered();
    cacheHead = cacheTail = nullptr;
    cacheIndex.clear();
    dirtyBuffers.clear();
    savepoint = Savepoint{};
    poolBlocks.clear();
    freeBuffers = nullptr;
    beforeImages = {};
    freeBeforeSlots = {};
}

size_t cacheSize() { return cacheIndex.size(); }

// ---------------------------------------------------------------------------
// Flush, revert, close.

void buildControlRecord(CacheBuffer& control, FileRef& ref, uint32_t fileId)
{
    std::memset(control.data, 0, sizeof control.data);
    control.flags = bufPinned;
    control.fromMedium = false;
    control.sector = 0xFFFFFFFFu;
    control.beforeSlot = 0;
    control.checkedAs = nullptr;
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

// A control record whose changes did not reach the MDB stays dirty, so that
// a revert rebuilds it from the MDB as the medium holds it.
void restoreControlFlags(uint8_t extentsFlags, uint8_t catalogFlags)
{
    extentsControl.flags |= static_cast<uint8_t>(extentsFlags & bufDirty);
    catalogControl.flags |= static_cast<uint8_t>(catalogFlags & bufDirty);
}

}  // namespace

void flushVolume()
{
    // A pending error means the command failed: its changes are reverted,
    // never written.
    if (!volume.mounted || !volume.mdb || lastError != errNone) return;
    if (!writeGathered() || !volumeHasUnwrittenChanges()) return;
    DriveEntry* e = currentEntry();
    if (!e) {
        setError(errVolumeReadOnly);
        return;
    }

    const uint8_t extentsFlags = extentsControl.flags;
    const uint8_t catalogFlags = catalogControl.flags;
    put32(macNow(), volume.mdb, mdb::lsMod);
    if (extentsControl.flags & bufDirty) copyControlToMdb(extentsControl, mdb::xtFlSize, mdb::xtExtRec);
    if (catalogControl.flags & bufDirty) copyControlToMdb(catalogControl, mdb::ctFlSize, mdb::ctExtRec);

    // One commit of every dirty sector, in ascending order.
    std::sort(dirtyBuffers.begin(), dirtyBuffers.end(),
              [](const CacheBuffer* a, const CacheBuffer* b) { return a->sector < b->sector; });
    std::vector<JournalUnit> units;
    units.reserve(dirtyBuffers.size());
    for (const CacheBuffer* b : dirtyBuffers) units.push_back({b->sector, beforeImageOf(b), b->data});
    JournalLabel label{volume.startSector, read32(volume.mdb->data + mdb::crDate), {}};
    const uint8_t* name = volume.mdb->data + mdb::vn;
    std::snprintf(label.what, sizeof label.what, "change to \"%.*s\"", std::min<int>(name[0], 27), name + 1);
    if (!commitUnits(*e, units, label, dataWritten ? DataOutside::written : DataOutside::none)) {
        restoreControlFlags(extentsFlags, catalogFlags);
        return;
    }
    for (CacheBuffer* b : dirtyBuffers) {
        makeClean(b, static_cast<uint8_t>(b->flags & bufPinned));
        b->fromMedium = true;
    }
    dirtyBuffers.clear();
    savepoint = Savepoint{};
    dataWritten = false;
    allocationCommitted();
}

size_t changedSectors() { return dirtyBuffers.size(); }

void markSavepoint()
{
    savepoint.taken = true;
    savepoint.number = ++savepointsTaken;
    savepoint.dirtyCount = dirtyBuffers.size();
    savepoint.images.clear();
    savepoint.extents = extentsControl;
    savepoint.catalog = catalogControl;
    savepoint.allocation = allocation;
}

namespace {

// A buffer dirtied since the last flush gets what the medium holds back and
// is clean again; false (errMacRead) when that had to be read and could not.
bool revertBuffer(CacheBuffer* b)
{
    if (const uint8_t* before = beforeImageOf(b))
        std::memcpy(b->data, before, 512);
    else if (readSectors(b->data, 1, b->sector) != 1) {
        lastError = errMacRead;
        return false;
    }
    const bool keepPinned = b == volume.mdb || b == volume.extentsHeader || b == volume.catalogHeader;
    makeClean(b, keepPinned ? bufPinned : 0);
    b->fromMedium = true;
    b->checkedAs = nullptr;
    return true;
}

}  // namespace

void revertToSavepoint()
{
    if (!savepoint.taken) return revertVolume();
    gathered.slack = 0;
    while (dirtyBuffers.size() > savepoint.dirtyCount) {
        if (!revertBuffer(dirtyBuffers.back())) return;
        dirtyBuffers.pop_back();
    }
    for (const SavedContent& saved : savepoint.images) {
        std::memcpy(saved.buffer->data, saved.data.data(), 512);
        saved.buffer->checkedAs = nullptr;
    }
    extentsControl = savepoint.extents;
    catalogControl = savepoint.catalog;
    allocation = savepoint.allocation;
}

void revertVolume()
{
    dropGathered();
    allocationReverted();
    savepoint = Savepoint{};
    while (!dirtyBuffers.empty()) {
        if (!revertBuffer(dirtyBuffers.back())) return;
        dirtyBuffers.pop_back();
    }
    if (!volume.mounted || !volume.mdb) return;
    if (extentsControl.flags & bufDirty) buildControlRecord(extentsControl, volume.extentsFile, 3);
    if (catalogControl.flags & bufDirty) buildControlRecord(catalogControl, volume.catalogFile, 4);
}

bool volumeHasUnwrittenChanges()
{
    return gathered.count != 0 || !dirtyBuffers.empty() || (extentsControl.flags & bufDirty) || (catalogControl.flags & bufDirty);
}

void closeVolume()
{
    if (!volumeHasUnwrittenChanges()) rememberSoundVolume();
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
