// Allocation blocks and extents: free-run search in the volume bitmap,
// marking and freeing runs, growing a fork (in place first), new extent
// descriptors and extents-overflow records, releasing a fork's blocks, and
// the write-permission check every change starts with.
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
// Calls the cache, the extent-record lookup of the read side and the B-tree
// changes (for extents-overflow records).
#include <algorithm>
#include <bit>
#include <cstring>

#include "hfs/drive.h"
#include "hfs/internal.h"

namespace verrin {

namespace {

// Sequential access to bitmap bytes, one cached sector at a time.
struct BitmapCursor {
    CacheBuffer* sector = nullptr;
    uint32_t sectorIndex = 0xFFFFFFFFu;
};

// The bitmap byte holding block `block`; nullptr with lastError on a read
// failure.
CacheBuffer* bitmapSector(BitmapCursor& c, uint32_t block)
{
    const uint32_t index = block / 4096;
    if (index != c.sectorIndex || !c.sector) {
        c.sector = getVolumeSector(volume.bitmapStart + index);
        c.sectorIndex = c.sector ? index : 0xFFFFFFFFu;
    }
    return c.sector;
}

bool blockInUse(BitmapCursor& c, uint32_t block, bool& used)
{
    CacheBuffer* s = bitmapSector(c, block);
    if (!s) return false;
    used = (s->data[(block / 8) % 512] & (0x80u >> (block % 8))) != 0;
    return true;
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

}  // namespace

bool volumeWritable()
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
            bool used;
            if (!blockInUse(c, b, used)) return -1;
            if (used) break;
        }
        if (run == 0) return -1;
        if (run >= length) return 0;
        length = run;
        return 1;
    }
    // First fit from block 0; remember the longest run in case none fits.
    uint32_t bestStart = 0, bestLength = 0;
    uint32_t runStart = 0, runLength = 0;
    uint32_t b = 0;
    while (b < blocks) {
        CacheBuffer* s = bitmapSector(c, b);
        if (!s) return -1;
        const uint8_t byte = s->data[(b / 8) % 512];
        if (b % 8 == 0 && b + 8 <= blocks) {
            if (runLength == 0 && byte == 0xFF) {
                b += 8;
                continue;
            }
            if (runLength > 0 && byte == 0x00) {
                runLength += 8;
                b += 8;
                if (runLength >= length) {
                    start = runStart;
                    return 0;
                }
                continue;
            }
        }
        const bool used = (byte & (0x80u >> (b % 8))) != 0;
        if (used) {
            if (runLength > bestLength) {
                bestStart = runStart;
                bestLength = runLength;
            }
            runLength = 0;
        } else {
            if (runLength == 0) runStart = b;
            if (++runLength >= length) {
                start = runStart;
                return 0;
            }
        }
        ++b;
    }
    if (runLength > bestLength) {
        bestStart = runStart;
        bestLength = runLength;
    }
    if (bestLength == 0) return -1;
    start = bestStart;
    length = bestLength;
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
