// DiskCopy 4.2 images: header decoding and checks, the checksum, the
// drive's sync operation, creation and conversion to and from raw images.
// The sector I/O itself is the image drive's (a window on the data area).
// Files written here are on stable storage before success is reported.
// Calls the image-drive internals, plain files, the big-endian accessors
// and the error word.
#include "devices/dc42_drive.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "base/byteorder.h"
#include "base/errors.h"
#include "base/rawfile.h"
#include "devices/image_internal.h"

namespace verrin {

namespace {

constexpr size_t chunkBytes = 64 * 1024;

struct FileCloser {
    RawFile f;
    ~FileCloser() { closeRawFile(f); }
};

// Checksum of `bytes` bytes of a file from `offset`, skipping the first
// `skip` of them.
bool checksumOfFile(RawFile f, uint64_t offset, uint64_t bytes, uint64_t skip, uint32_t& sum)
{
    sum = 0;
    if (bytes <= skip) return true;
    std::vector<uint8_t> buffer(chunkBytes);
    uint64_t at = offset + skip;
    uint64_t left = bytes - skip;
    while (left > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunkBytes));
        if (readRawAt(f, buffer.data(), n, at) != static_cast<int64_t>(n)) return false;
        sum = diskCopyChecksum(buffer.data(), n & ~size_t{1}, sum);
        at += n;
        left -= n;
    }
    return true;
}

bool readHeader(RawFile f, uint8_t* header)
{
    return readRawAt(f, header, diskCopyHeaderSize, 0) == diskCopyHeaderSize;
}

// A file just written is complete on stable storage, its name too.
bool syncNewFile(RawFile f, const char* path)
{
    if (syncRawFile(f) && syncFolderOf(path)) return true;
    setError(errPcWrite);
    return false;
}

}  // namespace

bool looksLikeDiskCopyHeader(const uint8_t* h)
{
    const uint32_t dataSize = read32(h + 64);
    return read16(h + 82) == diskCopyPrivateWord && h[0] <= 63 && dataSize != 0 && dataSize % 512 == 0;
}

const char* parseDiskCopyHeader(const uint8_t* h, uint64_t fileBytes, DiskCopyHeader& out)
{
    if (fileBytes < diskCopyHeaderSize) return "file too short for a DiskCopy 4.2 header";
    if (read16(h + 82) != diskCopyPrivateWord) return "not a DiskCopy 4.2 header";
    if (h[0] > 63) return "DiskCopy 4.2 header: name longer than 63 characters";
    DiskCopyHeader d{};
    std::memcpy(d.name, h, 64);
    d.dataSize = read32(h + 64);
    d.tagSize = read32(h + 68);
    d.dataChecksum = read32(h + 72);
    d.tagChecksum = read32(h + 76);
    d.diskEncoding = h[80];
    d.formatByte = h[81];
    d.privateWord = read16(h + 82);
    if (d.dataSize == 0 || d.dataSize % 512 != 0) return "DiskCopy 4.2 header: data size is not whole sectors";
    if (d.tagSize % 2 != 0) return "DiskCopy 4.2 header: odd tag size";
    if (uint64_t{diskCopyHeaderSize} + d.dataSize + d.tagSize != fileBytes)
        return "DiskCopy 4.2 header: data and tag sizes do not match the file length";
    out = d;
    return nullptr;
}

void buildDiskCopyHeader(const DiskCopyHeader& d, uint8_t* h)
{
    std::memset(h, 0, diskCopyHeaderSize);
    const uint8_t n = std::min<uint8_t>(d.name[0], 63);
    h[0] = n;
    std::memcpy(h + 1, d.name + 1, n);
    write32(h + 64, d.dataSize);
    write32(h + 68, d.tagSize);
    write32(h + 72, d.dataChecksum);
    write32(h + 76, d.tagChecksum);
    h[80] = d.diskEncoding;
    h[81] = d.formatByte;
    write16(h + 82, d.privateWord);
}

uint32_t diskCopyChecksum(const uint8_t* data, size_t bytes, uint32_t sum)
{
    for (size_t i = 0; i + 1 < bytes; i += 2) {
        sum += read16(data + i);
        sum = sum >> 1 | sum << 31;
    }
    return sum;
}

bool diskCopyFormatFor(uint32_t dataSize, uint8_t& encoding, uint8_t& formatByte)
{
    switch (dataSize) {
    case 409600:
        encoding = 0;
        formatByte = 0x02;
        return true;
    case 819200:
        encoding = 1;
        formatByte = 0x22;
        return true;
    case 737280:
        encoding = 2;
        formatByte = 0x22;
        return true;
    case 1474560:
        encoding = 3;
        formatByte = 0x22;
        return true;
    default:
        return false;
    }
}

bool createDiskCopyImage(const char* path, const uint8_t* name, uint32_t dataSize)
{
    if (lastError != errNone) return false;
    DiskCopyHeader d{};
    if (!diskCopyFormatFor(dataSize, d.diskEncoding, d.formatByte)) {
        setError(errNotSupported);
        return false;
    }
    const uint8_t n = std::min<uint8_t>(name ? name[0] : 0, 63);
    d.name[0] = n;
    if (n) std::memcpy(d.name + 1, name + 1, n);
    d.dataSize = dataSize;
    d.privateWord = diskCopyPrivateWord;  // zero data: both checksums are 0
    uint8_t header[diskCopyHeaderSize];
    buildDiskCopyHeader(d, header);
    {
        FileCloser out{openRawFile(path, RawOpen::replace)};
        if (out.f == noRawFile) {
            setError(errPcCreate);
            return false;
        }
        if (!writeRawAt(out.f, header, sizeof header, 0)) {
            setError(errPcWrite);
            return false;
        }
    }
    // The zero data area is made by extending the file (sparse where the
    // file system allows).
    std::error_code ec;
    std::filesystem::resize_file(path, uint64_t{diskCopyHeaderSize} + dataSize, ec);
    if (ec) {
        setError(errPcWrite);
        return false;
    }
    FileCloser made{openRawFile(path, RawOpen::update)};
    if (made.f == noRawFile) {
        setError(errPcWrite);
        return false;
    }
    return syncNewFile(made.f, path);
}

bool syncDiskCopyImage(DriveEntry& entry)
{
    uint64_t offset = 0, bytes = 0;
    const RawFile f = imageFileOf(entry, offset, bytes);
    if (f == noRawFile || offset != diskCopyHeaderSize) {
        setError(errMacWrite);
        return false;
    }
    uint32_t sum = 0;
    if (!checksumOfFile(f, offset, bytes, 0, sum)) {
        setError(errPcRead);
        return false;
    }
    uint8_t stored[4];
    write32(stored, sum);
    if (!writeRawAt(f, stored, 4, 72) || !syncRawFile(f)) {
        setError(errPcWrite);
        return false;
    }
    return true;
}

bool checkDiskCopyImage(const char* path, bool& dataOk, bool& tagOk)
{
    dataOk = tagOk = false;
    FileCloser in{openRawFile(path, RawOpen::read)};
    if (in.f == noRawFile) return false;
    uint8_t header[diskCopyHeaderSize];
    DiskCopyHeader d{};
    if (!readHeader(in.f, header) || parseDiskCopyHeader(header, rawFileLength(in.f), d)) return false;
    uint32_t dataSum = 0, tagSum = 0;
    if (!checksumOfFile(in.f, diskCopyHeaderSize, d.dataSize, 0, dataSum)) return false;
    // The tag checksum leaves out the first 12 bytes of the tag data.
    if (!checksumOfFile(in.f, uint64_t{diskCopyHeaderSize} + d.dataSize, d.tagSize, 12, tagSum)) return false;
    dataOk = dataSum == d.dataChecksum;
    tagOk = tagSum == d.tagChecksum;
    return true;
}

namespace {

// Copies `bytes` bytes from offset `from` of one file to offset `to` of
// another.
bool copyRange(RawFile in, uint64_t from, uint64_t bytes, RawFile out, uint64_t to)
{
    std::vector<uint8_t> buffer(chunkBytes);
    while (bytes > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes, chunkBytes));
        if (readRawAt(in, buffer.data(), n, from) != static_cast<int64_t>(n)) {
            setError(errPcRead);
            return false;
        }
        if (!writeRawAt(out, buffer.data(), n, to)) {
            setError(errPcWrite);
            return false;
        }
        from += n;
        to += n;
        bytes -= n;
    }
    return true;
}

}  // namespace

bool diskCopyToRaw(const char* source, const char* destination)
{
    if (lastError != errNone) return false;
    FileCloser in{openRawFile(source, RawOpen::read)};
    if (in.f == noRawFile) {
        setError(errPcOpen);
        return false;
    }
    uint8_t header[diskCopyHeaderSize];
    DiskCopyHeader d{};
    if (!readHeader(in.f, header) || parseDiskCopyHeader(header, rawFileLength(in.f), d)) {
        setError(errWrongFileType);
        return false;
    }
    FileCloser out{openRawFile(destination, RawOpen::replace)};
    if (out.f == noRawFile) {
        setError(errPcCreate);
        return false;
    }
    return copyRange(in.f, diskCopyHeaderSize, d.dataSize, out.f, 0) && syncNewFile(out.f, destination);
}

bool rawToDiskCopy(const char* source, const char* destination)
{
    if (lastError != errNone) return false;
    FileCloser in{openRawFile(source, RawOpen::read)};
    if (in.f == noRawFile) {
        setError(errPcOpen);
        return false;
    }
    const uint64_t bytes = rawFileLength(in.f);
    DiskCopyHeader d{};
    if (bytes > UINT32_MAX || !diskCopyFormatFor(static_cast<uint32_t>(bytes), d.diskEncoding, d.formatByte)) {
        setError(errNotSupported);
        return false;
    }
    d.dataSize = static_cast<uint32_t>(bytes);
    d.privateWord = diskCopyPrivateWord;
    if (!checksumOfFile(in.f, 0, bytes, 0, d.dataChecksum)) {
        setError(errPcRead);
        return false;
    }
    // Name the image after the volume on it, as DiskCopy does.
    uint8_t mdb[64];
    if (readRawAt(in.f, mdb, sizeof mdb, 1024) == sizeof mdb && read16(mdb) == 0x4244 &&
        mdb[36] >= 1 && mdb[36] <= 27) {
        std::memcpy(d.name, mdb + 36, 1 + mdb[36]);
    } else {
        static const char unnamed[] = "-not a Macintosh disk-";
        d.name[0] = static_cast<uint8_t>(sizeof unnamed - 1);
        std::memcpy(d.name + 1, unnamed, sizeof unnamed - 1);
    }
    uint8_t header[diskCopyHeaderSize];
    buildDiskCopyHeader(d, header);
    FileCloser out{openRawFile(destination, RawOpen::replace)};
    if (out.f == noRawFile) {
        setError(errPcCreate);
        return false;
    }
    if (!writeRawAt(out.f, header, sizeof header, 0)) {
        setError(errPcWrite);
        return false;
    }
    return copyRange(in.f, 0, bytes, out.f, diskCopyHeaderSize) && syncNewFile(out.f, destination);
}

}  // namespace verrin
