// Fork mapping and reading: file sectors to volume sectors through the
// fork's extent records (the catalog record's own, then extents-overflow
// records), single sectors through the cache and runs straight into the
// caller's buffer.
// Every extent used for an address is checked against the volume's block
// count first, so a corrupt extent gives errBadNode, never a stray read.
// Calls the cache and the extents-tree search.
#include <algorithm>

#include "hfs/internal.h"

namespace verrin {

namespace {

uint32_t extentRecordField(uint8_t forkType) { return forkType == dataFork ? fil::extRec : fil::rExtRec; }

}  // namespace

uint32_t forkLogicalLength(const FileRef& ref, uint8_t forkType)
{
    if (!ref.buffer) return 0;
    return read32(ref.buffer->data + ref.offset + (forkType == dataFork ? fil::lgLen : fil::rLgLen));
}

uint32_t forkPhysicalLength(const FileRef& ref, uint8_t forkType)
{
    if (!ref.buffer) return 0;
    return read32(ref.buffer->data + ref.offset + (forkType == dataFork ? fil::pyLen : fil::rPyLen));
}

ExtentRecordPos findExtentRecord(uint32_t fabn, uint8_t forkType, const FileRef& ref)
{
    ExtentRecordPos pos{};
    if (!ref.buffer || ref.offset > 512 - fil::recordSize) {
        setError(errBadNode);
        return pos;
    }
    const uint16_t own = static_cast<uint16_t>(ref.offset + extentRecordField(forkType));
    const uint8_t* rec = ref.buffer->data + own;
    const uint32_t covered = extentRecordBlocks(rec);
    if (fabn == 0 || fabn < covered) {
        pos.buffer = ref.buffer;
        pos.offset = own;
        pos.startFabn = 0;
        pos.found = true;
        return pos;
    }
    // The extents file keeps all its extents in its own record.
    if (read16(rec + 10) == 0 || ref.fileId == 3) return pos;
    const RecordPosition r = searchExtents(ref.fileId, forkType, fabn);
    if (!r.found) return pos;
    pos.buffer = r.buffer;
    pos.offset = static_cast<uint16_t>(r.offset + 8);
    pos.startFabn = read16(r.buffer->data + r.offset + 6);
    pos.found = true;
    return pos;
}

bool mapForkSector(const FileRef& ref, uint8_t forkType, uint32_t fileSector, uint32_t& volumeSector,
                   uint32_t& contiguous)
{
    if (volume.spb == 0) {
        setError(errBadNode);
        return false;
    }
    const uint32_t b = fileSector / volume.spb;
    const uint32_t r = fileSector % volume.spb;
    const ExtentRecordPos pos = findExtentRecord(b, forkType, ref);
    if (!pos.found) {
        setError(errBadNode);
        return false;
    }
    const uint8_t* rec = pos.buffer->data + pos.offset;
    uint32_t a = pos.startFabn;
    for (int i = 0; i < 3; ++i) {
        const uint32_t start = read16(rec + 4 * i);
        const uint32_t count = read16(rec + 4 * i + 2);
        if (b < a + count) {
            if (start + count > volume.numBlocks) break;
            volumeSector = volume.allocStart + (start + b - a) * volume.spb + r;
            contiguous = (a + count - b) * volume.spb - r;
            return true;
        }
        a += count;
    }
    setError(errBadNode);
    return false;
}

CacheBuffer* readForkSector(uint32_t fileSector, uint32_t count, uint8_t forkType, const FileRef& ref)
{
    uint32_t sector, run;
    if (!mapForkSector(ref, forkType, fileSector, sector, run)) return nullptr;
    if (count == 0) return getVolumeSector(sector, 0);
    // The B-trees are read through here: a walk goes on to the next nodes.
    return getVolumeSectorReadingAhead(sector, run);
}

int32_t readFork(uint8_t* buffer, uint32_t fileSector, uint32_t count, uint8_t forkType, const FileRef& ref)
{
    if (count == 0) return 0;
    uint32_t sector, run;
    if (!mapForkSector(ref, forkType, fileSector, sector, run)) return 0;
    return getVolumeSector(buffer, sector, std::min(count, run));
}

}  // namespace verrin
