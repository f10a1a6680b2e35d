// The formatter for hard disks, removable media and disk images: a driver
// descriptor map, a two-entry Apple partition map and one empty HFS volume
// filling the rest of the medium; or, for a bare medium, the same volume
// alone from the medium's first sector (the form of 400K and 800K
// diskettes and of many emulator images). Also owns the new volume name,
// the progress window of both formatters and the format error box.
//
// Everything is written from scratch through the drive's `write` operation,
// kept in memory until the format ends and then committed as one journaled
// change; nothing is read except by the drive's own read-modify-write of
// device sectors larger than 512 bytes. Calls the drive table, the
// journal, the UI seam, the progress window, the error word, the size
// formatter, the engine's catalog key builder and the on-disk layout.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/format.h"
#include "base/ui.h"
#include "hfs/format.h"
#include "hfs/format_internal.h"
#include "hfs/internal.h"
#include "hfs/journal.h"

namespace verrin {

uint8_t newVolumeName[32] = {8, 'U', 'n', 't', 'i', 't', 'l', 'e', 'd'};

bool setNewVolumeName(const uint8_t* chars, uint32_t length)
{
    if (!chars || length == 0 || length > maxVolumeNameLength) return false;
    std::memset(newVolumeName, 0, sizeof newVolumeName);
    newVolumeName[0] = static_cast<uint8_t>(length);
    std::memcpy(newVolumeName + 1, chars, length);
    return true;
}

// ---------------------------------------------------------------------------
// Helpers shared with the diskette formatter.

namespace formatting {

namespace {
const uint8_t zeroUnits[64 * 512] = {};
}  // namespace

void putVolumeName(uint8_t* p, uint32_t capacity)
{
    const uint8_t n = std::min<uint8_t>(newVolumeName[0], maxVolumeNameLength);
    std::memset(p, 0, capacity);
    p[0] = n;
    std::memcpy(p + 1, newVolumeName + 1, n);
}

std::string volumeNameText()
{
    const uint8_t n = std::min<uint8_t>(newVolumeName[0], maxVolumeNameLength);
    return std::string(reinterpret_cast<const char*>(newVolumeName + 1), n);
}

std::string labelText(const DriveEntry& entry)
{
    const char* end = std::find(entry.label, entry.label + sizeof entry.label, '\0');
    return std::string(entry.label, static_cast<size_t>(end - entry.label));
}

bool writeUnits(DriveEntry& entry, const uint8_t* data, uint32_t count, uint32_t address)
{
    while (count > 0) {
        pumpMessages();
        if (lastError != errNone) return false;
        if (!entry.write) {
            setError(errVolumeReadOnly);
            return false;
        }
        const int32_t put = entry.write(entry, data, count, address);
        if (put < 1 || static_cast<uint32_t>(put) > count) {
            setError(errMacWrite);
            return false;
        }
        data += static_cast<uint32_t>(put) * 512u;
        count -= static_cast<uint32_t>(put);
        address += static_cast<uint32_t>(put);
    }
    return true;
}

bool writeZeroUnits(DriveEntry& entry, uint32_t count, uint32_t address)
{
    // Large runs go in chunks no bigger than one transfer; the drive may
    // still take fewer units per call (a chunk that starts inside a larger
    // device sector), which writeUnits follows up.
    const uint32_t chunk = std::clamp<uint32_t>(transferLimitBytes / 512u, 1u, 64u);
    while (count > 0) {
        const uint32_t n = std::min(count, chunk);
        if (!writeUnits(entry, zeroUnits, n, address)) return false;
        count -= n;
        address += n;
    }
    return true;
}

}  // namespace formatting

// ---------------------------------------------------------------------------
// The format error box.

const char* formatErrorText(int32_t code)
{
    switch (code) {
    case errNone:
    case errCancelled:
        return nullptr;
    case errVolumeReadOnly:
        return "Disk is write protected!";
    case errDriveNotReady:
        return "No disk in drive!";
    default:
        return "Can not format disk!";
    }
}

int32_t showFormatError()
{
    const int32_t code = lastError;
    if (const char* text = formatErrorText(code)) messageBox(text, "Formatting Error", uiOk, uiIconStop);
    lastError = errNone;
    return code;
}

// ---------------------------------------------------------------------------
// Layout.

bool computePartitionedLayout(uint32_t sectorSize, uint64_t sectors, PartitionedLayout& out)
{
    if (sectors < 100 || sectorSize < 512 || sectorSize > 4096 || sectorSize % 512 != 0) return false;
    const uint32_t r = sectorSize / 512;
    // Every unit of the medium, the alternate MDB in the last but one above
    // all, must be reachable through 32-bit unit addresses, and the sector
    // count must fit the 32-bit fields of the map.
    if (sectors > UINT32_MAX / r) return false;
    PartitionedLayout l{};
    l.sectorSize = sectorSize;
    l.sectors = static_cast<uint32_t>(sectors);
    l.ratio = r;
    l.partSectors = l.sectors - 6;
    l.partUnits = l.partSectors * r;
    l.blockUnits = l.partUnits / 65536 + 1;
    l.bitmapUnits = ((l.partUnits / l.blockUnits + 7) / 8 + 511) / 512;
    l.allocBlocks = (l.partUnits - (l.bitmapUnits + 3) - 2) / l.blockUnits;
    l.volumeStart = 6 * r;
    // The two B-tree files take the first 32 allocation blocks.
    if (l.allocBlocks < 32) return false;
    out = l;
    return true;
}

bool computeBareLayout(uint32_t sectorSize, uint64_t sectors, PartitionedLayout& out)
{
    if (sectorSize < 512 || sectorSize > 4096 || sectorSize % 512 != 0) return false;
    const uint32_t r = sectorSize / 512;
    if (sectors > UINT32_MAX / r || sectors * r < minimumBareUnits) return false;
    PartitionedLayout l{};
    l.sectorSize = sectorSize;
    l.sectors = static_cast<uint32_t>(sectors);
    l.ratio = r;
    l.partSectors = l.sectors;
    l.partUnits = l.partSectors * r;
    l.blockUnits = l.partUnits / 65536 + 1;
    l.bitmapUnits = ((l.partUnits / l.blockUnits + 7) / 8 + 511) / 512;
    l.allocBlocks = (l.partUnits - (l.bitmapUnits + 3) - 2) / l.blockUnits;
    l.volumeStart = 0;
    out = l;
    return true;
}

namespace {

void putExtent(uint8_t* p, uint16_t start, uint16_t count)
{
    write16(p, start);
    write16(p + 2, count);
}

void buildDriverMap(const PartitionedLayout& l, uint8_t* sector)
{
    std::memset(sector, 0, l.sectorSize);
    write16(sector + ddm::sig, sigDdm);
    write16(sector + ddm::blkSize, static_cast<uint16_t>(l.sectorSize));
    write32(sector + ddm::blkCount, l.sectors);
}

void buildMapEntry(const PartitionedLayout& l, bool hfs, uint8_t* sector)
{
    std::memset(sector, 0, l.sectorSize);
    write16(sector + pm::sig, sigPmap);
    write32(sector + pm::mapBlkCnt, 2);
    write32(sector + pm::pyPartStart, hfs ? 6 : 1);
    write32(sector + pm::partBlkCnt, hfs ? l.sectors - 6 : 5);
    const char* name = hfs ? "MacOS" : "VR";
    const char* type = hfs ? "Apple_HFS" : "Apple_partition_map";
    std::memcpy(sector + pm::partName, name, std::strlen(name));
    std::memcpy(sector + pm::parType, type, std::strlen(type));
}

}  // namespace

void buildPartitionedMdb(const PartitionedLayout& l, uint32_t date, uint8_t* s)
{
    const uint32_t f = l.blockUnits;
    std::memset(s, 0, 512);
    write16(s + mdb::sigWord, sigHfs);
    write32(s + mdb::crDate, date);
    write32(s + mdb::lsMod, date);
    write16(s + mdb::vbmSt, 3);
    write16(s + mdb::nmAlBlks, static_cast<uint16_t>(l.allocBlocks));
    write32(s + mdb::alBlkSiz, f * 512);
    write32(s + mdb::clpSiz, f * 2048);
    write16(s + mdb::alBlSt, static_cast<uint16_t>(l.bitmapUnits + 3));
    write32(s + mdb::nxtCNID, 17);
    write16(s + mdb::freeBks, static_cast<uint16_t>(l.allocBlocks - 32));
    formatting::putVolumeName(s + mdb::vn, 28);
    write32(s + mdb::xtClpSiz, f * 8192);
    write32(s + mdb::ctClpSiz, f * 8192);
    write32(s + mdb::xtFlSize, f * 8192);
    putExtent(s + mdb::xtExtRec, 0, 16);
    write32(s + mdb::ctFlSize, f * 8192);
    putExtent(s + mdb::ctExtRec, 16, 16);
}

namespace {
constexpr uint32_t headerMapNodes = 256 * 8;  // the header node's map record
constexpr uint32_t mapNodeNodes = 492 * 8;    // one map node's record

uint32_t firstMapNode(bool catalog) { return catalog ? 2 : 1; }

void setNodeBit(uint8_t* map, uint32_t node) { map[node / 8] |= static_cast<uint8_t>(0x80 >> (node % 8)); }
}  // namespace

uint32_t mapNodeCount(uint32_t nodes)
{
    return nodes > headerMapNodes ? (nodes - headerMapNodes + mapNodeNodes - 1) / mapNodeNodes : 0;
}

void buildBTreeHeader(bool catalog, uint32_t nodes, uint8_t* n)
{
    const uint32_t maps = mapNodeCount(nodes);
    const uint32_t used = (catalog ? 2 : 1) + maps;
    std::memset(n, 0, 512);
    if (maps) write32(n + nd::fLink, firstMapNode(catalog));  // the map chain
    n[nd::type] = nd::headerNode;
    write16(n + nd::nRecs, 3);
    write16(n + bth::depth, catalog ? 1 : 0);
    write32(n + bth::root, catalog ? 1 : 0);
    write32(n + bth::nRecs, catalog ? 2 : 0);
    write32(n + bth::fNode, catalog ? 1 : 0);
    write32(n + bth::lNode, catalog ? 1 : 0);
    write16(n + bth::nodeSize, 512);
    write16(n + bth::keyLen, catalog ? 37 : 7);
    write32(n + bth::nNodes, nodes);
    write32(n + bth::freeNodes, nodes - used);
    // Node 0, the catalog's leaf (node 1) and the map nodes are in use; all
    // of them lie within the header's own map record.
    for (uint32_t k = 0; k < used; ++k) setNodeBit(n + 248, k);
    write16(n + 510, 14);
    write16(n + 508, 120);
    write16(n + 506, 248);
    write16(n + 504, 504);
}

void buildMapNode(bool catalog, uint32_t nodes, uint32_t index, uint8_t* n)
{
    std::memset(n, 0, 512);
    const uint32_t maps = mapNodeCount(nodes);
    if (index + 1 < maps) write32(n + nd::fLink, firstMapNode(catalog) + index + 1);
    n[nd::type] = nd::mapNode;  // height 0
    write16(n + nd::nRecs, 1);
    // The nodes it covers all lie beyond the ones in use: all bits clear.
    write16(n + 510, 14);
    write16(n + 508, 506);
}

void buildRootLeaf(uint32_t date, uint8_t* n)
{
    std::memset(n, 0, 512);
    n[nd::type] = nd::leafNode;
    n[nd::height] = 1;
    write16(n + nd::nRecs, 2);
    // Root folder: key (parent 1, the volume name), then its folder record.
    uint8_t name[32];
    formatting::putVolumeName(name, sizeof name);
    uint8_t* k = n + 14;
    buildCatalogKey(k, 1, name);
    const uint32_t d0 = 14 + paddedKeyBytes(k[ckr::keyLen]);
    uint8_t* d = n + d0;
    d[0] = cdrFolder;
    write32(d + dir::dirId, 2);
    write32(d + dir::crDat, date);
    write32(d + dir::mdDat, date);
    // Root thread: key (parent 2, empty name, one byte of padding counted
    // in its length), then the thread record.
    uint8_t* t = n + d0 + dir::recordSize;
    t[ckr::keyLen] = 7;
    write32(t + ckr::parId, 2);
    uint8_t* td = t + 8;
    td[0] = cdrFolderThread;
    write32(td + thd::parId, 1);
    formatting::putVolumeName(td + thd::cName, 32);
    write16(n + 510, 14);
    write16(n + 508, static_cast<uint16_t>(d0 + dir::recordSize));
    write16(n + 506, static_cast<uint16_t>(d0 + dir::recordSize + 8 + thd::recordSize));
}

// ---------------------------------------------------------------------------
// The formatter.

namespace {

int32_t failFormat()
{
    closeProgress();
    return showFormatError();
}

}  // namespace

namespace formatting {

void startWriting(DriveEntry& entry, uint32_t steps, const std::string& status)
{
    progressTotal = steps;
    openProgress(progressFormatting);
    setProgressText(status.c_str());
    beginCapturedWrites(entry);
}

int32_t finishFormat(DriveEntry& entry)
{
    closeProgress();
    // What the formatter wrote reaches the medium as one journaled change,
    // or not at all after a failure or a cancel.
    const int32_t outcome = lastError;
    lastError = errNone;
    JournalLabel label{0, 0, {}};
    std::snprintf(label.what, sizeof label.what, "format of \"%s\"", volumeNameText().c_str());
    endCapturedWrites(entry, outcome == errNone, label);
    if (outcome != errNone) {
        lastError = errNone;
        setError(outcome);
    }
    return showFormatError();
}

}  // namespace formatting

namespace {

// The driver descriptor map, the two map entries and the rest of the map
// partition, whole device sectors each.
bool writePartitionMap(DriveEntry& entry, const PartitionedLayout& l)
{
    using namespace formatting;
    const uint32_t r = l.ratio;
    uint8_t sector[4096];
    buildDriverMap(l, sector);
    if (!writeUnits(entry, sector, r, 0)) return false;
    buildMapEntry(l, false, sector);
    if (!writeUnits(entry, sector, r, r)) return false;
    buildMapEntry(l, true, sector);
    if (!writeUnits(entry, sector, r, 2 * r)) return false;
    for (uint32_t k = 3; k <= 5; ++k)
        if (!writeZeroUnits(entry, r, k * r)) return false;
    return true;
}

// The empty HFS volume of the layout: boot blocks, master directory block
// and its alternate in the medium's last unit but one, bitmap, and the two
// B-trees.
bool writeEmptyVolume(DriveEntry& entry, const PartitionedLayout& l, uint32_t date)
{
    using namespace formatting;
    const uint32_t V = l.volumeStart;
    const uint32_t f = l.blockUnits;
    const uint32_t g = l.bitmapUnits;
    uint8_t unit[512];
    if (!writeZeroUnits(entry, 1, V) || !writeZeroUnits(entry, 1, V + 1)) return false;
    advanceProgress(1);

    // Master directory block and its alternate, then the bitmap.
    buildPartitionedMdb(l, date, unit);
    if (!writeUnits(entry, unit, 1, V + 2) || !writeUnits(entry, unit, 1, l.sectors * l.ratio - 2)) return false;
    std::memset(unit, 0, sizeof unit);
    std::memset(unit, 0xFF, 4);
    if (!writeUnits(entry, unit, 1, V + 3) || !writeZeroUnits(entry, g - 1, V + 4)) return false;
    advanceProgress(1);

    // The extents B-tree: its header node (and map nodes on media above
    // 4 GB), every other node empty.
    const uint32_t nodes = 16 * f;
    const uint32_t maps = mapNodeCount(nodes);
    const uint32_t extentsStart = V + 3 + g;
    buildBTreeHeader(false, nodes, unit);
    if (!writeUnits(entry, unit, 1, extentsStart)) return false;
    for (uint32_t k = 0; k < maps; ++k) {
        buildMapNode(false, nodes, k, unit);
        if (!writeUnits(entry, unit, 1, extentsStart + 1 + k)) return false;
    }
    if (!writeZeroUnits(entry, nodes - 1 - maps, extentsStart + 1 + maps)) return false;
    advanceProgress(1);

    // The catalog B-tree: header node, the one leaf, map nodes if needed,
    // the rest empty.
    const uint32_t catalogStart = extentsStart + nodes;
    buildBTreeHeader(true, nodes, unit);
    if (!writeUnits(entry, unit, 1, catalogStart)) return false;
    buildRootLeaf(date, unit);
    if (!writeUnits(entry, unit, 1, catalogStart + 1)) return false;
    for (uint32_t k = 0; k < maps; ++k) {
        buildMapNode(true, nodes, k, unit);
        if (!writeUnits(entry, unit, 1, catalogStart + 2 + k)) return false;
    }
    return writeZeroUnits(entry, nodes - 2 - maps, catalogStart + 2 + maps);
}

// Both formats of this file: the layout from the medium's size, the two
// confirmations, then the writing under the progress window.
int32_t formatMedium(DriveEntry& entry, bool bare)
{
    using namespace formatting;
    // A drive that cannot tell its size cannot be laid out.
    if (!entry.querySectorSize) {
        setError(errFormat);
        return failFormat();
    }

    uint64_t capacity = 0;
    const uint32_t b = entry.querySectorSize(entry, &capacity);
    // A failed size query may leave an error of its own; the box is the
    // same.
    lastError = errNone;
    PartitionedLayout l{};
    if (!(bare ? computeBareLayout(b, capacity, l) : computePartitionedLayout(b, capacity, l))) {
        setError(errFormat);
        return failFormat();
    }
    const uint32_t date = macNow();
    entry.sectorRatio = static_cast<uint16_t>(l.ratio);
    const std::string name = volumeNameText();
    const std::string label = labelText(entry);

    const double bytes = static_cast<double>(l.allocBlocks - 32) * l.blockUnits * 512.0;
    const std::string sizeQuestion = "Size of volume \"" + name + "\" will be " + formatSize(bytes) + " bytes.";
    const std::string sizeCaption = "Ready To Format Disk In Drive " + label;
    if (messageBox(sizeQuestion.c_str(), sizeCaption.c_str(), uiOkCancel, uiIconWarning) != uiAnswerOk)
        return errCancelled;
    const std::string lastWarning =
        "Formatting will erase all data on disk in drive " + label + "\n\nARE YOU SURE YOU WANT TO CONTINUE?";
    if (messageBox(lastWarning.c_str(), "LAST WARNING!", uiYesNo, uiIconWarning) != uiAnswerYes)
        return errCancelled;

    const std::string status = "Creating \"" + name + "\" on " + label;
    startWriting(entry, 5, status);
    advanceProgress(1);
    if (bare || writePartitionMap(entry, l)) writeEmptyVolume(entry, l, date);
    return finishFormat(entry);
}

}  // namespace

int32_t formatPartitionedMedium(DriveEntry& entry) { return formatMedium(entry, false); }

int32_t formatBareMedium(DriveEntry& entry) { return formatMedium(entry, true); }

}  // namespace verrin
