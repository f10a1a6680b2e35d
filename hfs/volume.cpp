// Volume discovery and mount: the block-ratio probe, the scan for bare
// volumes, Apple partition maps, old-style maps and later sessions of a
// disc, the read-only question, mounting, and the format dispatch.
// Calls the drive table, the journal's recovery, the sector cache, fork
// mapping (for the B-tree header nodes) and the user-interface seam.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/ui.h"
#include "hfs/drive.h"
#include "hfs/internal.h"
#include "hfs/journal.h"

namespace verrin {

VolumeEntry volumeList[maxVolumes];
int volumeCount = 0;
uint16_t blockRatio = 0;

namespace {

// One scan buffer of nine sectors (the probe reads sectors 0..8).
uint8_t scanBuffer[9 * 512];

void addVolume(uint32_t start, uint64_t sectors, const uint8_t* name, int nameLength)
{
    if (volumeCount >= maxVolumes) return;
    VolumeEntry& v = volumeList[volumeCount++];
    v.start = start;
    v.sectors = static_cast<uint32_t>(std::min<uint64_t>(sectors, 0xFFFFFFFFu));
    std::memset(v.name, 0, sizeof v.name);
    nameLength = std::clamp(nameLength, 0, 31);
    v.name[0] = static_cast<uint8_t>(nameLength);
    std::memcpy(v.name + 1, name, static_cast<size_t>(nameLength));
}

// The volume name from an MDB sector (at most 27 characters).
void mdbName(const uint8_t* m, const uint8_t*& name, int& length)
{
    length = std::min<int>(m[mdb::vn], 27);
    name = m + mdb::vn + 1;
}

// Reads one absolute sector into the scan buffer at unit 0.
bool scanRead(uint32_t sector)
{
    return getSector(scanBuffer, sector, 1) == 1;
}

bool hasSignature(const uint8_t* p, uint16_t sig) { return read16(p) == sig; }

// Reads the MDB candidate at (absolute) sector start + 2 and adds it as a
// volume when it carries the HFS signature. A read failure ends the scan.
bool probePartition(uint64_t start, uint64_t sectors, const char* label, int counter)
{
    if (start + 2 > 0xFFFFFFFFu) return true;  // beyond what 32-bit addresses reach
    if (!scanRead(static_cast<uint32_t>(start + 2))) return false;
    if (!hasSignature(scanBuffer, sigHfs)) return true;
    const uint8_t* name;
    int length;
    mdbName(scanBuffer, name, length);
    if (!label) {
        addVolume(static_cast<uint32_t>(start), sectors, name, length);
        return true;
    }
    // Later sessions: the name padded to 29, ":" and the session counter.
    char text[40];
    std::memset(text, ' ', sizeof text);
    std::memcpy(text, name, static_cast<size_t>(length));
    int pad = counter < 16 ? 29 : 28;
    std::snprintf(text + pad, sizeof text - static_cast<size_t>(pad), ":%x", counter & 0xFF);
    addVolume(static_cast<uint32_t>(start), sectors, reinterpret_cast<const uint8_t*>(text),
              static_cast<int>(std::strlen(text)));
    (void)label;
    return true;
}

uint32_t roundUp4(uint32_t v) { return (v + 3) & ~3u; }

void multisessionScan(DriveEntry& entry)
{
    if (!scanRead(0)) {
        lastError = errNone;
        return;
    }
    if (!hasSignature(scanBuffer, sigDdm)) return;
    uint8_t toc[256];
    bool haveToc = false;
    uint32_t n = 0;
    uint64_t c = 0;
    if (entry.readToc) {
        std::memset(toc, 0, sizeof toc);
        if (entry.readToc(entry, toc) == 0) {
            haveToc = true;
            n = read16(toc) / 8;
            n = n > 0 ? n - 1 : 0;
            // Descriptor i starts at 4 + 8 i; its address at +4.
            const uint32_t addr = read32(toc + 4 + 8 * 1 + 4);
            if (addr == 0 || n <= 1) return;
            c = static_cast<uint64_t>(addr) * 4;
        }
    }
    if (!haveToc) c = static_cast<uint64_t>(roundUp4(read32(scanBuffer + ddm::blkCount))) + 46208;

    int counter = 2;
    uint32_t descriptor = 2;
    // Bounded: every session moves c forward; at most 100 sessions on a disc.
    for (int session = 0; session < 100 && volumeCount < maxVolumes; ++session) {
        const uint64_t at = static_cast<uint64_t>(blockRatio) * c;
        if (at > 0xFFFFFFFFu || !scanRead(static_cast<uint32_t>(at))) {
            lastError = errNone;
            return;
        }
        if (!hasSignature(scanBuffer, sigDdm)) return;
        const uint32_t sessionBlocks = read32(scanBuffer + ddm::blkCount);
        for (uint32_t k = 2; k < 64; ++k) {
            const uint64_t entrySector = static_cast<uint64_t>(blockRatio) * (c + k);
            if (entrySector > 0xFFFFFFFFu || !scanRead(static_cast<uint32_t>(entrySector))) {
                lastError = errNone;
                return;
            }
            if (!hasSignature(scanBuffer, sigPmap)) break;
            const uint32_t pstart = read32(scanBuffer + pm::pyPartStart);
            const uint32_t pcount = read32(scanBuffer + pm::partBlkCnt);
            if (std::memcmp(scanBuffer + pm::parType, "Apple_HFS", 9) != 0 || pstart == 0) continue;
            const uint64_t start = static_cast<uint64_t>(blockRatio) * (c + pstart);
            if (!probePartition(start, static_cast<uint64_t>(blockRatio) * pcount, "session", counter)) {
                lastError = errNone;
                return;
            }
            // probePartition only adds when it found an MDB; count sessions that did.
            if (volumeCount > 0 && volumeList[volumeCount - 1].start == start) ++counter;
            // The map entry was overwritten by the MDB probe: re-read it.
            if (!scanRead(static_cast<uint32_t>(entrySector))) {
                lastError = errNone;
                return;
            }
        }
        if (haveToc) {
            if (descriptor >= n) return;
            const uint32_t addr = read32(toc + 4 + 8 * descriptor + 4);
            if (addr == 0) return;
            const uint64_t next = static_cast<uint64_t>(addr) * 4;
            if (next <= c) return;
            c = next;
            ++descriptor;
        } else {
            c = c + roundUp4(sessionBlocks) + 28208;
        }
    }
}

}  // namespace

int detectBlockRatio(DriveEntry& entry)
{
    uint8_t probe[9 * 512];
    if (!entry.read || entry.read(entry, probe, 1, 0) < 1) return 0;
    uint32_t have = 0;
    while (have < 9) {
        const int32_t got = entry.read(entry, probe + have * 512, 9 - have, have);
        if (got < 1) return 0;
        have += static_cast<uint32_t>(got);
    }
    for (int b : {1, 2, 4, 8}) {
        const uint16_t sig = read16(probe + 512 * b);
        if (sig == sigHfs) return 1;
        if (sig == sigPmap || sig == sigOldMap) return b;
    }
    return 0;
}

void setVolumePosition(const VolumeEntry& v)
{
    volume.startSector = v.start;
    volume.sizeSectors = v.sectors;
}

void selectDrive(int driveIndex)
{
    emptyCache();
    volume = Volume{};
    volumeCount = 0;
    blockRatio = 0;
    parentFolderId = 0;
    currentFolderId = 0;
    currentDrive = (driveIndex >= 0 && driveIndex < driveCount) ? driveIndex : -1;
    if (currentDrive < 0) {
        setError(errNotSupported);
        return;
    }
    // A change interrupted on this medium is undone before anything reads it.
    recoverJournal(driveTable[currentDrive]);
    scanVolumes();
    transferCap = 0;
}

void scanVolumes()
{
    volumeCount = 0;
    if (currentDrive < 0) {
        setError(errNoHfsVolume);
        return;
    }
    DriveEntry& entry = driveTable[currentDrive];

    // Opening the drive: its sector size decides the sector ratio, and the
    // probe decides the block size of its partition map.
    if (!entry.querySectorSize) {
        entry.sectorRatio = 1;
        blockRatio = 1;
    } else {
        uint32_t size = entry.querySectorSize(entry, nullptr);
        if (size < 512 || size > 4560) size = 512;
        entry.sectorRatio = static_cast<uint16_t>(size / 512);
        const int probed = detectBlockRatio(entry);
        lastError = errNone;
        blockRatio = static_cast<uint16_t>(probed != 0 ? probed : entry.sectorRatio);
    }
    if (blockRatio == 0) {
        setError(errNoHfsVolume);
        return;
    }

    // A bare volume: the MDB at sector 2.
    if (!scanRead(2)) return;
    if (hasSignature(scanBuffer, sigHfs)) {
        const uint32_t alBlkSiz = read32(scanBuffer + mdb::alBlkSiz);
        const uint32_t spb = alBlkSiz / 512;
        if (spb == 0) {
            setError(errNoHfsVolume);
            return;
        }
        const uint64_t alBlSt = read16(scanBuffer + mdb::alBlSt);
        const uint64_t blocks = read16(scanBuffer + mdb::nmAlBlks);
        uint64_t length = spb * ((alBlSt + spb + 1) / spb + blocks);
        uint8_t savedMdb[512];
        std::memcpy(savedMdb, scanBuffer, sizeof savedMdb);
        // The estimate above puts the alternate MDB right after the last
        // allocation block. Formatters leave the slack of a medium that is
        // not a whole number of blocks after that block and keep the
        // alternate in the medium's second-to-last sector, so when that
        // sector holds it, the volume spans the whole medium: otherwise the
        // real alternate would go stale, or be written past the medium's end.
        const uint64_t minimum = alBlSt + blocks * spb + 2;
        const uint64_t medium = mediumUnits(entry);
        if (medium != 0 && medium != length && medium >= minimum && medium <= 0xFFFFFFFFu) {
            if (scanRead(static_cast<uint32_t>(medium - 2)) && hasSignature(scanBuffer, sigHfs)) length = medium;
            lastError = errNone;
        }
        const uint8_t* name;
        int nameLength;
        mdbName(savedMdb, name, nameLength);
        addVolume(0, length, name, nameLength);
        return;
    }

    if (!scanRead(blockRatio)) return;
    if (hasSignature(scanBuffer, sigOldMap)) {
        for (uint32_t off = 2; off + 12 <= 506; off += 12) {
            if (!scanRead(blockRatio)) return;
            const uint32_t pdStart = read32(scanBuffer + off);
            const uint32_t pdSize = read32(scanBuffer + off + 4);
            if (pdStart == 0) break;
            const uint64_t start = static_cast<uint64_t>(blockRatio) * pdStart;
            if (!probePartition(start, static_cast<uint64_t>(blockRatio) * pdSize, nullptr, 0)) return;
        }
        if (volumeCount == 0) setError(errNoHfsVolume);
        return;
    }
    if (hasSignature(scanBuffer, sigPmap)) {
        // Map entries at device blocks 1, 2, 3 ... while they carry the
        // signature; bounded by the 32-bit sector range and a sane map size.
        for (uint32_t k = 1; k < 4096; ++k) {
            const uint64_t sector = static_cast<uint64_t>(blockRatio) * k;
            if (sector > 0xFFFFFFFFu) break;
            if (!scanRead(static_cast<uint32_t>(sector))) return;
            if (!hasSignature(scanBuffer, sigPmap)) break;
            if (std::memcmp(scanBuffer + pm::parType, "Apple_HFS", 9) != 0) continue;
            const uint32_t pstart = read32(scanBuffer + pm::pyPartStart);
            const uint32_t pcount = read32(scanBuffer + pm::partBlkCnt);
            if (pstart == 0) break;
            const uint64_t start = static_cast<uint64_t>(blockRatio) * pstart;
            if (!probePartition(start, static_cast<uint64_t>(blockRatio) * pcount, nullptr, 0)) return;
        }
        if (entry.flags & driveMultisession) multisessionScan(entry);
        if (volumeCount == 0) setError(errNoHfsVolume);
        return;
    }
    setError(errNoHfsVolume);
}

void askReadOnly()
{
    if (currentDrive < 0) return;
    DriveEntry& entry = driveTable[currentDrive];
    if (!entry.write || (entry.flags & driveWriteHeld)) return;
    uint8_t sector[4096];
    bool present = false;
    if (volume.sizeSectors >= 2) {
        const int32_t got = entry.read(entry, sector, 1, volume.startSector + volume.sizeSectors - 2);
        present = got >= 1 && read16(sector) == sigHfs;
    }
    lastError = errNone;
    if (present) return;
    const int answer = messageBox("Mount volume read only?", "Can't find backup VIB", uiYesNo, uiIconQuestion);
    if (answer == uiAnswerYes)
        entry.flags |= driveReadOnly;
    else
        entry.flags &= static_cast<uint8_t>(~driveReadOnly);
}

namespace {

// Why the last mount failed, when the error's own message does not say.
char mountFailure[200] = "";

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void failMount(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vsnprintf(mountFailure, sizeof mountFailure, format, args);
    va_end(args);
    setError(errBadNode);
}

// Every descriptor of an extent record lies inside the volume's blocks.
bool extentRecordValid(const uint8_t* rec, uint32_t numBlocks)
{
    for (int i = 0; i < 3; ++i) {
        const uint32_t start = read16(rec + 4 * i);
        const uint32_t count = read16(rec + 4 * i + 2);
        if (count != 0 && start + count > numBlocks) return false;
    }
    return true;
}

// The layout must make sense before any of it is used as an address; false
// after failMount when it does not.
bool layoutValid(const uint8_t* d)
{
    const uint32_t alBlkSiz = read32(d + mdb::alBlkSiz);
    const uint32_t numBlocks = read16(d + mdb::nmAlBlks);
    const uint32_t allocStart = read16(d + mdb::alBlSt);
    const uint32_t bitmapStart = read16(d + mdb::vbmSt);
    if (alBlkSiz < 512 || alBlkSiz % 512 != 0 || alBlkSiz / 512 > 0xFFFF) {
        failMount("The allocation block size (drAlBlkSiz) %u is not a multiple of 512 bytes.", alBlkSiz);
    } else if (numBlocks == 0) {
        failMount("The volume has no allocation blocks (drNmAlBlks 0).");
    } else if (bitmapStart < 3 || bitmapStart + bitmapSectorCount(numBlocks) > allocStart) {
        failMount("The volume bitmap (drVBMSt %u, %u sectors) does not fit between the master directory block and "
                  "the first allocation block (drAlBlSt %u).",
                  bitmapStart, bitmapSectorCount(numBlocks), allocStart);
    } else if (uint64_t{allocStart} + uint64_t{numBlocks} * (alBlkSiz / 512) > volume.sizeSectors) {
        failMount("The %u allocation blocks end at sector %llu, beyond the volume's %u sectors.", numBlocks,
                  static_cast<unsigned long long>(uint64_t{allocStart} + uint64_t{numBlocks} * (alBlkSiz / 512)),
                  volume.sizeSectors);
    } else if (!extentRecordValid(d + mdb::xtExtRec, numBlocks)) {
        failMount("The extents file's extents (drXTExtRec) reach beyond the volume's %u allocation blocks.", numBlocks);
    } else if (!extentRecordValid(d + mdb::ctExtRec, numBlocks)) {
        failMount("The catalog file's extents (drCTExtRec) reach beyond the volume's %u allocation blocks.", numBlocks);
    } else {
        return true;
    }
    return false;
}

// Reads node 0 of a tree file, which must be a header node whose node count
// fits the file; null after failMount (or the read's own error) otherwise.
CacheBuffer* readHeaderNode(const FileRef& file, const CacheBuffer& control, const char* tree)
{
    CacheBuffer* h = readForkSector(0, 1, dataFork, file);
    if (!h) {
        if (lastError == errBadNode) failMount("The %s B-tree's header node (node 0) lies outside its file.", tree);
        return nullptr;
    }
    const uint32_t fileNodes = read32(control.data + fil::pyLen) / 512;
    const uint32_t nodes = read32(h->data + bth::nNodes);
    if (nodeType(h) != nd::headerNode)
        failMount("The %s B-tree's header node (node 0) has the node type %d instead of 1.", tree,
                  static_cast<int8_t>(nodeType(h)));
    else if (!nodeLayoutValid(h) || nodeRecords(h) < 3)
        failMount("The %s B-tree's header node (node 0) has a broken record layout.", tree);
    else if (nodes < 1 || nodes > fileNodes)
        failMount("The %s B-tree's header node counts %u nodes, but its file holds %u.", tree, nodes, fileNodes);
    else
        return h;
    return nullptr;
}

}  // namespace

const char* mountProblem() { return mountFailure; }

void mountVolume()
{
    lastError = errNone;
    mountFailure[0] = '\0';
    volume.mounted = false;
    forgetAllocationState();
    CacheBuffer* m = getVolumeSector(2);
    if (!m) return;
    pinBuffer(m);
    volume.mdb = m;
    const uint8_t* d = m->data;
    if (read16(d + mdb::sigWord) != sigHfs) {
        setError(errNoHfsVolume);
        return;
    }
    if (!layoutValid(d)) return;
    volume.spb = static_cast<uint16_t>(read32(d + mdb::alBlkSiz) / 512);
    volume.allocStart = read16(d + mdb::alBlSt);
    volume.numBlocks = read16(d + mdb::nmAlBlks);
    volume.bitmapStart = read16(d + mdb::vbmSt);

    buildControlRecord(extentsControl, volume.extentsFile, 3);
    CacheBuffer* xh = readHeaderNode(volume.extentsFile, extentsControl, "extents");
    if (!xh) return;
    pinBuffer(xh);
    volume.extentsHeader = xh;
    buildControlRecord(catalogControl, volume.catalogFile, 4);
    CacheBuffer* ch = readHeaderNode(volume.catalogFile, catalogControl, "catalog");
    if (!ch) return;
    pinBuffer(ch);
    volume.catalogHeader = ch;
    volume.mounted = true;
    currentFolderId = 2;
    parentFolderId = 1;
    std::memcpy(currentFolderName, volumeInfo().name, sizeof currentFolderName);
    // The root folder's own name is the one its catalog record carries.
    CatalogItem root;
    uint32_t rootParent = 0;
    if (folderById(2, root, rootParent) == 1 && rootParent == 1)
        std::memcpy(currentFolderName, root.name, sizeof currentFolderName);
    lastError = errNone;
}

VolumeInfo volumeInfo()
{
    VolumeInfo info{};
    if (!volume.mounted || !volume.mdb) return info;
    const uint8_t* m = volume.mdb->data;
    const uint8_t* name;
    int length;
    mdbName(m, name, length);
    info.name[0] = static_cast<uint8_t>(length);
    std::memcpy(info.name + 1, name, static_cast<size_t>(length));
    info.blockSize = read32(m + mdb::alBlkSiz);
    info.blocks = read16(m + mdb::nmAlBlks);
    info.freeBlocks = read16(m + mdb::freeBks);
    info.files = read32(m + mdb::filCnt);
    info.folders = read32(m + mdb::dirCnt);
    info.createDate = read32(m + mdb::crDate);
    info.modifyDate = read32(m + mdb::lsMod);
    return info;
}

int32_t formatDrive(int driveIndex)
{
    if (driveIndex < 0 || driveIndex >= driveCount) {
        setError(errNotSupported);
        return errNotSupported;
    }
    DriveEntry& entry = driveTable[driveIndex];
    if (driveIsReadOnly(entry)) {
        setError(errVolumeReadOnly);
        return errVolumeReadOnly;
    }
    if (!entry.format) {
        setError(errNotSupported);
        return errNotSupported;
    }
    return entry.format(entry);
}

}  // namespace verrin
