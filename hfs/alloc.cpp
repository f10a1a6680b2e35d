// Allocation blocks and extents: free-run search in the volume bitmap,
// marking and freeing runs, growing a fork (in place first), new extent
// descriptors and extents-overflow records, releasing a fork's blocks, and
// the write-permission check every change starts with. Also the allocators'
// memory between calls (AllocationState in internal.h): the hints that let
// a first-fit search start past the blocks known to be in use, and the
// blocks that must not be given out although the bitmap shows them free.
//
// Invariants kept:
//   - drFreeBks equals the number of clear bits below drNmAlBlks: marking
//     and freeing count the bits they actually change.
//   - A fork's descriptors are used in order; the first empty descriptor
//     and all after it are zero. Its blocks, numbered from FABN 0 through
//     the catalog record's extent record and then its overflow records,
//     add up to its physical length / allocation block size.
//   - An extents-overflow record starts at the FABN that follows the blocks
//     of the records before it, and exists only when the fork's previous
//     record has all three descriptors in use.
//   - Every block a fork owns has its bitmap bit set; runs never reach
//     beyond drNmAlBlks.
//   - A search never returns a held block (freed since the last flush, or
//     claimed by an extent of a damaged volume), and returns exactly what a
//     first-fit search from block 0 over the bitmap and the held blocks
//     would return: the hints only skip blocks that cannot start a fit.
// Calls the cache, the extent-record lookup of the read side, the B-tree
// changes (for extents-overflow records) and the checks before the first
// change (hfs/check.h).
#include <algorithm>
#include <bit>
#include <cstring>

#include "hfs/check.h"
#include "hfs/drive.h"
#include "hfs/internal.h"

namespace verrin {

AllocationState allocation;

namespace {

// Sequential access to bitmap bytes, one cached sector at a time.
struct BitmapCursor {
    CacheBuffer* sector = nullptr;
    uint32_t sectorIndex = 0xFFFFFFFFu;
};

// The bitmap sector holding block `block`; nullptr with lastError on a read
// failure.
CacheBuffer* bitmapSector(BitmapCursor& c, uint32_t block)
{
    const uint32_t index = block / 4096;
    if (index != c.sectorIndex || !c.sector) {
        c.sector = getVolumeSectorReadingAhead(volume.bitmapStart + index, bitmapSectorCount(volume.numBlocks) - index);
        c.sectorIndex = c.sector ? index : 0xFFFFFFFFu;
    }
    return c.sector;
}

uint8_t heldBits(const std::vector<uint8_t>& bits, uint32_t byteIndex)
{
    return byteIndex < bits.size() ? bits[byteIndex] : 0;
}

// The byte of blocks block & ~7 .. (block | 7) as the allocator sees them:
// a bit is set for a block in use or held. False on a read failure.
bool usedByte(BitmapCursor& c, uint32_t block, uint8_t& used)
{
    CacheBuffer* s = bitmapSector(c, block);
    if (!s) return false;
    const uint32_t at = block / 8;
    used = static_cast<uint8_t>(s->data[at % 512] | heldBits(allocation.freedUncommitted, at) |
                                heldBits(allocation.claimedBlocks, at));
    return true;
}

void setBits(std::vector<uint8_t>& bits, uint32_t first, uint32_t count, uint32_t total)
{
    if (bits.empty()) bits.assign((total + 7) / 8, 0);
    for (uint32_t b = first; b < first + count && b < total; ++b) bits[b / 8] |= static_cast<uint8_t>(0x80u >> (b % 8));
}

// Sets or clears the bits of a run; returns the bits that changed.
uint32_t changeBits(uint32_t first, uint32_t count, bool set)
{
    BitmapCursor c;
    uint32_t changed = 0;
    uint32_t block = first;
    const uint32_t end = first + count;
    while (block < end && lastError == errNone) {
        CacheBuffer* s = bitmapSector(c, block);
        if (!s) break;
        const uint32_t at = (block / 8) % 512;
        const uint32_t bit = block % 8;
        const uint32_t bits = std::min<uint32_t>(8 - bit, end - block);
        const uint8_t mask = static_cast<uint8_t>((0xFFu >> bit) & (0xFFu << (8 - bit - bits)));
        const uint8_t old = s->data[at];
        const uint8_t now = set ? static_cast<uint8_t>(old | mask) : static_cast<uint8_t>(old & ~mask);
        if (now != old) {
            putByte(now, s, at);
            changed += static_cast<uint32_t>(std::popcount(static_cast<uint8_t>(old ^ now)));
        }
        block += bits;
    }
    return changed;
}

bool runInsideVolume(uint32_t first, uint32_t count)
{
    if (static_cast<uint64_t>(first) + count > volume.numBlocks) {
        setError(errBadNode);
        return false;
    }
    return true;
}

uint32_t pyLenField(uint8_t forkType) { return forkType == dataFork ? fil::pyLen : fil::rPyLen; }

struct Run {
    uint32_t start = 0;
    uint32_t length = 0;
};

// Walks the blocks from `from` upward until a free run of `wanted` blocks
// is found (fit), keeping the longest shorter run seen and the first free
// block. Bytes entirely in use outside a run, and entirely free inside one,
// are passed a byte at a time. False on a read failure.
bool scanRuns(BitmapCursor& c, uint32_t from, uint32_t wanted, Run& fit, Run& longest, uint32_t& firstFree)
{
    const uint32_t blocks = volume.numBlocks;
    Run current;
    firstFree = blocks;
    uint32_t b = from;
    while (b < blocks) {
        uint8_t used;
        if (!usedByte(c, b, used)) return false;
        if (b % 8 == 0 && b + 8 <= blocks) {
            if (current.length == 0 && used == 0xFF) {
                b += 8;
                continue;
            }
            if (current.length > 0 && used == 0x00) {
                current.length += 8;
                b += 8;
                if (current.length >= wanted) {
                    fit = current;
                    return true;
                }
                continue;
            }
        }
        if (used & (0x80u >> (b % 8))) {
            if (current.length > longest.length) longest = current;
            current.length = 0;
        } else {
            if (firstFree == blocks) firstFree = b;
            if (current.length == 0) current.start = b;
            if (++current.length >= wanted) {
                fit = current;
                return true;
            }
        }
        ++b;
    }
    if (current.length > longest.length) longest = current;
    return true;
}

// Where a first-fit search for `length` blocks may begin.
uint32_t searchStart(uint32_t length)
{
    uint32_t start = allocation.lowestFreeBlock;
    for (const AllocationState::RunHint& h : allocation.runHints)
        if (h.length <= length) start = std::max(start, h.start);
    return start;
}

void rememberRunStart(uint32_t length, uint32_t start)
{
    for (AllocationState::RunHint& h : allocation.runHints)
        if (h.length == length) {
            h.start = start;
            return;
        }
    if (allocation.runHints.size() >= 32) allocation.runHints.clear();
    allocation.runHints.push_back({length, start});
}

}  // namespace

void forgetAllocationState() { allocation = AllocationState{}; }

void allocationReverted()
{
    allocation.freedUncommitted.clear();
    allocation.lowestFreeBlock = 0;
    allocation.runHints.clear();
    allocation.lowestFreeNode[0] = allocation.lowestFreeNode[1] = 0;
}

void allocationCommitted()
{
    const std::vector<uint8_t>& freed = allocation.freedUncommitted;
    const auto first = std::find_if(freed.begin(), freed.end(), [](uint8_t byte) { return byte != 0; });
    if (first == freed.end()) {
        allocation.freedUncommitted.clear();
        return;
    }
    // A released block may join free blocks below it into a longer run.
    const auto firstBlock = static_cast<uint32_t>(first - freed.begin()) * 8;
    allocation.lowestFreeBlock = std::min(allocation.lowestFreeBlock, firstBlock);
    allocation.runHints.clear();
    allocation.freedUncommitted.clear();
}

void holdClaimedBlocks(uint32_t first, uint32_t count)
{
    setBits(allocation.claimedBlocks, first, count, volume.numBlocks);
}

bool volumeAcceptsChanges()
{
    if (lastError != errNone) return false;
    if (!volume.mounted || !volume.mdb) {
        setError(errNoHfsVolume);
        return false;
    }
    if (currentDrive < 0 || currentDrive >= driveCount || driveIsReadOnly(driveTable[currentDrive])) {
        setError(errVolumeReadOnly);
        return false;
    }
    // Hardware lock (bit 7) and software lock (bit 15) of drAtrb.
    if (read16(volume.mdb->data + mdb::atrb) & 0x8080u) {
        setError(errVolumeReadOnly);
        return false;
    }
    return true;
}

bool volumeWritable()
{
    if (!volumeAcceptsChanges()) return false;
    if (allocation.changes == ChangePermission::unchecked) guardChanges(DamagedVolumeAnswer::refuse);
    if (allocation.changes != ChangePermission::allowed) {
        setError(errVolumeReadOnly);
        return false;
    }
    return true;
}

int findFreeRun(uint32_t& start, uint32_t& length)
{
    if (lastError != errNone) return -1;
    const uint32_t blocks = volume.numBlocks;
    BitmapCursor c;
    if (length == 0) return 0;
    if (start != 0) {
        // Exact mode: only the run that begins at `start`.
        uint32_t run = 0;
        for (uint32_t b = start; b < blocks && run < length; ++b, ++run) {
            uint8_t used;
            if (!usedByte(c, b, used)) return -1;
            if (used & (0x80u >> (b % 8))) break;
        }
        if (run == 0) return -1;
        if (run >= length) return 0;
        length = run;
        return 1;
    }
    // First fit, from where the hints say a fitting run can begin.
    const uint32_t lowest = allocation.lowestFreeBlock;
    const uint32_t from = searchStart(length);
    Run fit, longest;
    uint32_t firstFree = blocks;
    if (!scanRuns(c, from, length, fit, longest, firstFree)) return -1;
    if (from == lowest) allocation.lowestFreeBlock = firstFree;
    if (fit.length > 0) {
        rememberRunStart(length, fit.start);
        start = fit.start;
        return 0;
    }
    rememberRunStart(length, blocks);
    // No run is long enough: the longest one wins (the earlier of equals),
    // which may lie below where the search began.
    if (from != lowest) {
        longest = Run{};
        if (!scanRuns(c, lowest, length, fit, longest, firstFree)) return -1;
        allocation.lowestFreeBlock = firstFree;
    }
    if (longest.length == 0) return -1;
    start = longest.start;
    length = longest.length;
    return 1;
}

void markBlocks(uint32_t first, uint32_t count)
{
    if (lastError != errNone || count == 0 || !runInsideVolume(first, count)) return;
    const uint32_t changed = changeBits(first, count, true);
    const uint32_t free = read16(volume.mdb->data + mdb::freeBks);
    put16(static_cast<uint16_t>(free >= changed ? free - changed : 0), volume.mdb, mdb::freeBks);
}

void freeBlocks(uint32_t first, uint32_t count)
{
    if (lastError != errNone || count == 0 || !runInsideVolume(first, count)) return;
    const uint32_t changed = changeBits(first, count, false);
    setBits(allocation.freedUncommitted, first, count, volume.numBlocks);
    const uint32_t free = read16(volume.mdb->data + mdb::freeBks);
    put16(static_cast<uint16_t>(std::min<uint32_t>(free + changed, volume.numBlocks)), volume.mdb, mdb::freeBks);
}

void addOverflowRecord(const FileRef& ref, uint8_t forkType, uint32_t fabn, uint32_t start, uint32_t count)
{
    if (fabn > 0xFFFF) {
        setError(errMacDiskFull);
        return;
    }
    uint8_t rec[20] = {};
    rec[0] = 7;
    rec[1] = forkType;
    write32(rec + 2, ref.fileId);
    write16(rec + 6, static_cast<uint16_t>(fabn));
    write16(rec + 8, static_cast<uint16_t>(start));
    write16(rec + 10, static_cast<uint16_t>(count));
    treeInsert(extentsTree, rec, sizeof rec);
}

void extendFork(const FileRef& ref, uint8_t forkType, uint32_t& count)
{
    const uint32_t wanted = count;
    count = 0;
    if (lastError != errNone || wanted == 0) return;
    if (!ref.buffer || ref.offset > 512 - fil::recordSize) {
        setError(errBadNode);
        return;
    }
    const uint32_t blockBytes = volume.spb * 512u;
    const uint32_t physical = forkPhysicalLength(ref, forkType);
    const uint32_t owned = physical / blockBytes;
    const ExtentRecordPos pos = findExtentRecord(owned > 0 ? owned - 1 : 0, forkType, ref);
    if (!pos.found) {
        setError(errBadNode);
        return;
    }
    // The record's buffer stays pinned while the bitmap is searched.
    const bool wasPinned = (pos.buffer->flags & bufPinned) != 0;
    pinBuffer(pos.buffer);
    const auto done = [&] {
        if (!wasPinned) unpinBuffer(pos.buffer);
    };
    uint8_t rec[12];
    std::memcpy(rec, pos.buffer->data + pos.offset, 12);
    const int last = read16(rec + 10) != 0 ? 2 : (read16(rec + 6) != 0 ? 1 : 0);
    const uint32_t e = read16(rec + 4 * last);
    const uint32_t m = read16(rec + 4 * last + 2);

    // In place: the run that begins right after the last extent (a first-fit
    // search for an empty fork).
    uint32_t s = m == 0 ? 0 : e + m;
    uint32_t n = wanted;
    int r = (m != 0 && s >= volume.numBlocks) ? -1 : findFreeRun(s, n);
    if (lastError != errNone) return done();
    if (r >= 0) {
        markBlocks(s, n);
        if (m == 0) put16(static_cast<uint16_t>(s), pos.buffer, pos.offset + 4u * last);
        put16(static_cast<uint16_t>(m + n), pos.buffer, pos.offset + 4u * last + 2);
        put32(physical + n * blockBytes, ref.buffer, ref.offset + pyLenField(forkType));
        count = lastError == errNone ? n : 0;
        return done();
    }

    // Elsewhere: the first free run from the start of the volume, in the
    // next descriptor or a new extents-overflow record.
    s = 0;
    n = wanted;
    r = findFreeRun(s, n);
    if (lastError != errNone) return done();
    if (r < 0) {
        setError(errMacDiskFull);
        return done();
    }
    const bool freeDescriptor = last < 2;
    if (!freeDescriptor && ref.fileId == 3) {
        // The extents file keeps all its extents in the MDB.
        setError(errMacDiskFull);
        return done();
    }
    markBlocks(s, n);
    if (freeDescriptor) {
        put16(static_cast<uint16_t>(s), pos.buffer, pos.offset + 4u * (last + 1));
        put16(static_cast<uint16_t>(n), pos.buffer, pos.offset + 4u * (last + 1) + 2);
        done();
    } else {
        const uint32_t fabn = pos.startFabn + extentRecordBlocks(rec);
        done();
        addOverflowRecord(ref, forkType, fabn, s, n);
    }
    if (lastError != errNone) return;
    put32(physical + n * blockBytes, ref.buffer, ref.offset + pyLenField(forkType));
    count = n;
}

void releaseFork(const FileRef& ref, uint8_t forkType)
{
    if (lastError != errNone || !ref.buffer) return;
    const uint32_t owned = forkPhysicalLength(ref, forkType) / (volume.spb * 512u);
    uint32_t fabn = 0;
    while (fabn < owned && lastError == errNone) {
        const ExtentRecordPos pos = findExtentRecord(fabn, forkType, ref);
        if (!pos.found) {
            setError(errBadNode);
            return;
        }
        uint8_t rec[12];
        std::memcpy(rec, pos.buffer->data + pos.offset, 12);
        const uint32_t start = pos.startFabn;
        const uint32_t next = start + extentRecordBlocks(rec);
        if (next <= fabn) {
            setError(errBadNode);  // a record that covers nothing: no progress
            return;
        }
        for (int i = 0; i < 3; ++i) freeBlocks(read16(rec + 4 * i), read16(rec + 4 * i + 2));
        if (start != 0) {
            uint8_t key[8] = {7, forkType, 0, 0, 0, 0, 0, 0};
            write32(key + 2, ref.fileId);
            write16(key + 6, static_cast<uint16_t>(start));
            treeDelete(extentsTree, key);
        }
        fabn = next;
    }
}

}  // namespace verrin
