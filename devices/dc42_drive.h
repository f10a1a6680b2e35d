// DiskCopy 4.2 disk images: an 84-byte header (disk name, data and tag
// sizes, their checksums, the disk's encoding and format bytes), then the
// disk's sectors, then its tag data. The image drives (image_drive.h)
// recognise such a file by its header and serve the data area as the
// medium; this module owns the header: reading and checking it, building
// it, the checksum, bringing the data checksum up to date after writes,
// and conversion to and from raw images. Calls the image-drive internals,
// the raw file functions, the big-endian accessors and the error word.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hfs/drive.h"

namespace verrin {

constexpr uint32_t diskCopyHeaderSize = 84;
constexpr uint16_t diskCopyPrivateWord = 0x0100;

struct DiskCopyHeader {
    uint8_t name[64];        // length-prefixed, at most 63 characters
    uint32_t dataSize;       // bytes of sector data after the header
    uint32_t tagSize;        // bytes of tag data after the sector data
    uint32_t dataChecksum;
    uint32_t tagChecksum;
    uint8_t diskEncoding;    // 0 400K GCR, 1 800K GCR, 2 720K MFM, 3 1440K MFM
    uint8_t formatByte;      // 0x02 single-sided 400K, 0x22 double-sided Mac
    uint16_t privateWord;    // 0x0100
};

// A cheap first test of a file's first 84 bytes: the private word, a name
// that fits, and a data size of whole sectors.
bool looksLikeDiskCopyHeader(const uint8_t* header84);
// Decodes and checks a header against the length of its file: null when
// it is sound, else a short description of what is wrong.
const char* parseDiskCopyHeader(const uint8_t* header84, uint64_t fileBytes, DiskCopyHeader& out);
void buildDiskCopyHeader(const DiskCopyHeader& h, uint8_t* header84);

// The DiskCopy checksum, fed in pieces of even length: for every big-endian
// 16-bit word, add it and rotate the 32-bit sum right by one bit.
uint32_t diskCopyChecksum(const uint8_t* data, size_t bytes, uint32_t sum = 0);

// Encoding and format bytes for a disk of this many data bytes; false for a
// size that is not one of the four diskette sizes (400K, 800K, 720K,
// 1440K).
bool diskCopyFormatFor(uint32_t dataSize, uint8_t& encoding, uint8_t& formatByte);

// Creates (or replaces) a DiskCopy 4.2 image of dataSize zero bytes and no
// tags, named `name` (length-prefixed). False with lastError set
// (errPcCreate, errPcWrite, errNotSupported for a size that is not a
// diskette's).
bool createDiskCopyImage(const char* path, const uint8_t* name, uint32_t dataSize);

// The drive's `sync` operation: recomputes the data checksum of the image
// behind a DiskCopy drive, stores it in the header and puts the file on
// stable storage. False with errPcWrite (errPcRead) when the file cannot be
// written (read).
bool syncDiskCopyImage(DriveEntry& entry);

// Verifies both checksums of an image file; false when the file is not a
// sound DiskCopy 4.2 image.
bool checkDiskCopyImage(const char* path, bool& dataOk, bool& tagOk);

// Conversions. diskCopyToRaw writes the data area as a raw image;
// rawToDiskCopy wraps a raw diskette image (400K, 800K, 720K or 1440K) in
// a header named after its HFS volume (or "-not a Macintosh disk-"), with
// no tags. False with lastError set.
bool diskCopyToRaw(const char* source, const char* destination);
bool rawToDiskCopy(const char* source, const char* destination);

}  // namespace verrin
