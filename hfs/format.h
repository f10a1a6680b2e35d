// The two formatters: a whole partitioned medium (driver descriptor map,
// a two-entry Apple partition map and one empty HFS volume) and a 1.44 MB
// diskette (a fixed, freshly initialised HFS image patched with the name
// and date). Both ask their confirmations, show progress and show a
// failure in the format error box through the user-interface seam, and
// return their outcome to the caller; the drive is reached only through its
// DriveEntry operations.
#pragma once

#include <cstdint>

#include "hfs/drive.h"

namespace verrin {

// The name for the new volume: length-prefixed Mac Roman, at most 27
// characters. Set by whoever starts the format (the Format dialog, the
// command-line tool), read by both formatters.
extern uint8_t newVolumeName[32];
constexpr uint8_t maxVolumeNameLength = 27;

// Sets newVolumeName from Mac Roman bytes; false (name unchanged) when the
// name is empty or longer than 27 characters.
bool setNewVolumeName(const uint8_t* chars, uint32_t length);

// The quantities a partitioned format computes before writing anything.
struct PartitionedLayout {
    uint32_t sectorSize;     // b: device sector size in bytes
    uint32_t sectors;        // N: medium size in device sectors
    uint32_t ratio;          // r: 512-byte units per device sector
    uint32_t partSectors;    // P: HFS partition length in device sectors
    uint32_t partUnits;      // S: HFS partition length in 512-byte units
    uint32_t blockUnits;     // f: allocation block size in units
    uint32_t bitmapUnits;    // g: volume bitmap length in units
    uint32_t allocBlocks;    // A: drNmAlBlks
    uint32_t volumeStart;    // V: first unit of the HFS partition
};

// Computes the layout for a medium of `sectors` device sectors of
// `sectorSize` bytes; false when the geometry cannot carry one (fewer than
// 100 sectors, a sector size outside 512..4096 or not a multiple of 512, or
// a medium whose last unit lies beyond 32-bit unit addresses).
bool computePartitionedLayout(uint32_t sectorSize, uint64_t sectors, PartitionedLayout& out);

// Builders of the 512-byte structures a partitioned format writes (tests
// compare them with the bytes on the medium). `date` is the HFS date
// stamped on the volume and its root folder.
void buildPartitionedMdb(const PartitionedLayout& l, uint32_t date, uint8_t* sector512);
void buildBTreeHeader(bool catalog, uint32_t nodes, uint8_t* node512);
// A tree of more nodes than the header's map record covers (2048) carries
// map nodes for the rest, 3936 nodes each, placed right after the nodes in
// use (from node 1 in the extents tree, node 2 in the catalog) and chained
// from the header. Their number, and map node `index` of the chain.
uint32_t mapNodeCount(uint32_t nodes);
void buildMapNode(bool catalog, uint32_t nodes, uint32_t index, uint8_t* node512);
void buildRootLeaf(uint32_t date, uint8_t* node512);

// The layout of a bare volume filling the whole medium (volumeStart 0, no
// map); false for a medium below minimumBareUnits or one the 32-bit unit
// addresses cannot reach.
constexpr uint32_t minimumBareUnits = 800;  // 400K, the smallest Mac diskette
bool computeBareLayout(uint32_t sectorSize, uint64_t sectors, PartitionedLayout& out);

// The outcome every formatter returns: errNone when the new volume was
// written; errCancelled when the user declined a confirmation or cancelled
// in the progress window (nothing is shown); otherwise the failure, which
// the format error box has shown. lastError is clear afterwards in every
// case.

// The `format` operation of every formattable drive except diskettes.
int32_t formatPartitionedMedium(DriveEntry& entry);
// Formats the whole medium as one HFS volume without a partition map.
int32_t formatBareMedium(DriveEntry& entry);

// The `format` operation of diskettes: writes the fixed 1.44 MB image.
int32_t formatDiskette(DriveEntry& entry);

// Number of sectors of the diskette image (2880 of 512 bytes).
constexpr uint32_t disketteSectors = 2880;

// Unpacks template `index` (0..6: sectors 2, 3, 4, 26, 27, 48, 2878 of the
// diskette image, before patching) into a zeroed 512-byte buffer; false for
// a bad index or a template that does not unpack to at most 512 bytes.
bool unpackDisketteTemplate(int index, uint8_t* sector512);
// PackBits decoding: a count byte c < 0x80 is followed by c + 1 literal
// bytes, c > 0x80 by one byte repeated 257 - c times, 0x80 is skipped.
// Returns the bytes written to `out` (at most outSize), or -1 when the
// input is truncated or would overflow the output.
int32_t unpackBits(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t outSize);

// Builds the diskette's catalog leaf node for the current newVolumeName and
// date (sector 27 of the image).
bool buildDisketteLeaf(uint32_t date, uint8_t* node512);

// The text of the format error box for an outcome: "Disk is write
// protected!", "No disk in drive!" or "Can not format disk!"; null for
// errNone and errCancelled.
const char* formatErrorText(int32_t code);
// Turns lastError into the format error box ("Formatting Error") and
// clears it; returns the code it took.
int32_t showFormatError();

}  // namespace verrin
