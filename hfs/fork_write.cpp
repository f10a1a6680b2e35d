// Writing forks: runs of sectors straight to the volume within one extent,
// and appending writes that grow the fork as they go. File data never
// passes through the sector cache; only the fork's lengths and extent
// records (in its pinned catalog record) change there.
// Calls fork mapping, the clamped device write and the allocator.
#include <algorithm>
#include <cstring>

#include "hfs/internal.h"

namespace verrin {

namespace {

uint32_t ownedSectors(const FileRef& ref, uint8_t forkType)
{
    return forkPhysicalLength(ref, forkType) / 512;
}

// Grows the fork until it owns `sectors` sectors; false with lastError.
bool growTo(const FileRef& ref, uint8_t forkType, uint32_t sectors)
{
    const uint32_t spb = volume.spb;
    const uint32_t neededBlocks = (sectors + spb - 1) / spb;
    // Each round adds at least one block or fails, so this ends.
    for (uint32_t round = 0; round <= volume.numBlocks; ++round) {
        const uint32_t have = ownedSectors(ref, forkType) / spb;
        if (have >= neededBlocks) return true;
        uint32_t count = neededBlocks - have;
        extendFork(ref, forkType, count);
        if (lastError != errNone) return false;
        if (count == 0) {
            setError(errMacDiskFull);
            return false;
        }
    }
    setError(errMacDiskFull);
    return false;
}

// Writes count sectors from data at file sector s, growing the fork first.
bool writeSectorsAt(const uint8_t* data, uint32_t s, uint32_t count, uint8_t forkType, const FileRef& ref)
{
    while (count > 0) {
        if (ownedSectors(ref, forkType) < s + count && !growTo(ref, forkType, s + count)) return false;
        const int32_t w = writeForkRun(data, s, count, forkType, ref);
        if (lastError != errNone) return false;
        if (w <= 0) {
            setError(errBadNode);  // owned but not mapped: broken extents
            return false;
        }
        data += static_cast<uint32_t>(w) * 512;
        s += static_cast<uint32_t>(w);
        count -= static_cast<uint32_t>(w);
    }
    return true;
}

// The fork now ends at byte `end`: the sectors after its last one up to the
// end of that allocation block are its own and hold nothing read, so a
// gathered write may put zeros there to join the next file's data.
void offerBlockSlack(const FileRef& ref, uint8_t forkType, uint32_t end)
{
    const uint32_t spb = volume.spb;
    const uint32_t after = (end + 511) / 512;  // file sectors in use
    if (after == 0 || after % spb == 0) return;
    uint32_t sector, run;
    if (!mapForkSector(ref, forkType, after - 1, sector, run)) return;
    offerSlackAfter(volume.startSector + sector + 1, spb - after % spb);
}

}  // namespace

int32_t writeForkRun(const uint8_t* data, uint32_t fileSector, uint32_t count, uint8_t forkType, const FileRef& ref)
{
    if (lastError != errNone || count == 0 || volume.spb == 0) return 0;
    if (fileSector >= ownedSectors(ref, forkType)) return 0;
    uint32_t sector, run;
    if (!mapForkSector(ref, forkType, fileSector, sector, run)) return 0;
    return writeSectors(data, std::min(count, run), volume.startSector + sector);
}

uint32_t appendToFork(WriteRequest& request)
{
    if (request.length == 0 || !volumeWritable()) return 0;
    if (!request.ref.buffer || request.ref.offset > 512 - fil::recordSize) {
        setError(errBadNode);
        return 0;
    }
    const uint32_t position = request.position;
    if (static_cast<uint64_t>(position) + request.length > 0xFFFFFFFFull) {
        setError(errMacDiskFull);
        return 0;
    }
    const uint8_t fork = request.forkType;
    const FileRef& ref = request.ref;
    const uint8_t* d = request.data;
    uint32_t left = request.length;
    uint32_t s = position / 512;
    uint8_t bounce[512];

    // A write that starts inside a sector keeps the bytes before it.
    if (position % 512 != 0) {
        const uint32_t at = position % 512;
        const uint32_t take = std::min(left, 512 - at);
        std::memset(bounce, 0, sizeof bounce);
        if (ownedSectors(ref, fork) > s && readFork(bounce, s, 1, fork, ref) != 1) return 0;
        std::memcpy(bounce + at, d, take);
        if (!writeSectorsAt(bounce, s, 1, fork, ref)) return 0;
        d += take;
        left -= take;
        ++s;
    }
    // Whole sectors straight from the caller's data.
    if (left >= 512) {
        const uint32_t whole = left / 512;
        if (!writeSectorsAt(d, s, whole, fork, ref)) return 0;
        d += whole * 512;
        left -= whole * 512;
        s += whole;
    }
    // The tail goes through a zero-padded sector, so nothing beyond the
    // caller's data is read; a write that ends inside the fork's data keeps
    // the bytes after it.
    if (left > 0) {
        std::memset(bounce, 0, sizeof bounce);
        if (position + request.length < forkLogicalLength(ref, fork) && readFork(bounce, s, 1, fork, ref) != 1)
            return 0;
        std::memcpy(bounce, d, left);
        if (!writeSectorsAt(bounce, s, 1, fork, ref)) return 0;
    }
    const uint32_t end = position + request.length;
    if (end >= forkLogicalLength(ref, fork)) offerBlockSlack(ref, fork, end);
    const uint32_t lgField = ref.offset + (fork == dataFork ? fil::lgLen : fil::rLgLen);
    if (end > forkLogicalLength(ref, fork)) put32(end, ref.buffer, lgField);
    request.position = end;
    return request.length;
}

}  // namespace verrin
