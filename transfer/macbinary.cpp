// MacBinary header writing and reading, and the streaming of the forks.
// Calls transfer/byte_io.h, transfer/binhex.h (crc16), base/byteorder.h
// and base/errors.h.
#include "transfer/macbinary.h"

#include <algorithm>
#include <cstring>

#include "base/byteorder.h"
#include "transfer/binhex.h"

namespace verrin {

namespace {

// A secondary header longer than this is taken as damage.
constexpr uint32_t maxSecondaryLength = 0x7FFF;
// MacBinary II fields: the Finder flags' low byte, the version that wrote
// the file and the oldest that can read it, and the CRC of the 124 bytes
// before it.
constexpr size_t flagsLowOffset = 101;
constexpr size_t writerVersionOffset = 122;
constexpr size_t readerVersionOffset = 123;
constexpr size_t crcOffset = 124;
constexpr uint8_t macBinaryIIVersion = 129;

// Moves `length` bytes from the source to the sink (or past them, without
// a sink) a run at a time; a source that ends first is a damaged file.
bool copyBytes(const ByteSource& in, uint32_t length, const ByteSink* out)
{
    uint8_t buffer[8192];
    while (length > 0 && lastError == errNone) {
        const uint32_t got = readRun(in, buffer, std::min<uint32_t>(length, sizeof buffer));
        if (lastError != errNone) return false;
        if (got == 0) {
            setError(errDamagedFile);
            return false;
        }
        if (out) writeRun(*out, buffer, got);
        length -= got;
    }
    return lastError == errNone;
}

// Skips padding that may be missing at the end of the file.
void skipPadding(const ByteSource& in, uint32_t length)
{
    for (uint32_t i = 0; i < length && lastError == errNone; ++i)
        if (readByte(in) < 0) return;
}

void writeZeros(const ByteSink& out, uint32_t count)
{
    for (uint32_t i = 0; i < count && lastError == errNone; ++i) writeByte(out, 0);
}

}  // namespace

void buildMacBinaryHeader(const MacFileInfo& info, std::span<uint8_t, macBinaryHeaderSize> header)
{
    std::fill(header.begin(), header.end(), uint8_t{0});
    uint8_t nameLength = info.name[0];
    if (nameLength < 1 || nameLength > 31) {
        setError(errWrongFileType);
        return;
    }
    header[1] = nameLength;
    std::memcpy(&header[2], &info.name[1], nameLength);
    std::memcpy(&header[65], info.finderInfo.data(), 9);  // type, creator, flags high byte
    // Byte 74 stays 0: every MacBinary reader requires it; the low flags
    // byte goes where MacBinary II keeps it.
    header[flagsLowOffset] = info.finderInfo[9];
    write32(&header[83], info.dataLength);
    write32(&header[87], info.resourceLength);
    write32(&header[91], info.created);
    write32(&header[95], info.modified);
    header[writerVersionOffset] = macBinaryIIVersion;
    header[readerVersionOffset] = macBinaryIIVersion;
    write16(&header[crcOffset], crc16(std::span<const uint8_t>(header.data(), crcOffset)));
}

bool parseMacBinaryHeader(std::span<const uint8_t, macBinaryHeaderSize> header, uint64_t fileSize,
                          MacBinaryHeader& out)
{
    out = MacBinaryHeader{};
    if (lastError != errNone) return false;
    uint8_t nameLength = header[1];
    if (nameLength < 1 || nameLength > 31 || header[82] != 0) {
        setError(errWrongFileType);
        return false;
    }

    // MacBinary II and III carry a CRC of the first 124 bytes at 124 and
    // their version at 122; MacBinary I has zeros there.
    uint16_t storedCrc = read16(&header[crcOffset]);
    bool crcMatches = storedCrc == crc16(header.first(crcOffset));
    if (header[writerVersionOffset] >= macBinaryIIVersion || header[readerVersionOffset] >= macBinaryIIVersion) {
        if (!crcMatches) {
            setError(errDamagedFile);
            return false;
        }
        out.version = std::memcmp(&header[102], "mBIN", 4) == 0 ? 3 : 2;
    } else if (storedCrc != 0 && crcMatches) {
        out.version = 2;
    }

    MacFileInfo& info = out.info;
    info.name[0] = nameLength;
    std::memcpy(&info.name[1], &header[2], nameLength);
    std::memcpy(info.finderInfo.data(), &header[65], 16);
    if (out.version >= 2) info.finderInfo[9] = header[flagsLowOffset];
    info.dataLength = read32(&header[83]);
    info.resourceLength = read32(&header[87]);
    info.created = read32(&header[91]);
    info.modified = read32(&header[95]);
    if (out.version >= 2) out.secondaryLength = read16(&header[120]);

    if (info.dataLength > maxForkLength || info.resourceLength > maxForkLength ||
        out.secondaryLength > maxSecondaryLength) {
        setError(errDamagedFile);
        return false;
    }
    // The file must hold the header, any secondary header and both forks;
    // the padding after the last fork may be missing.
    uint64_t needed = macBinaryHeaderSize + out.secondaryLength + macBinaryPadding(out.secondaryLength) +
                      uint64_t{info.dataLength};
    if (info.resourceLength > 0) needed += macBinaryPadding(info.dataLength) + uint64_t{info.resourceLength};
    if (needed > fileSize) {
        setError(errDamagedFile);
        return false;
    }
    return true;
}

void writeMacBinary(const MacFileInfo& info, const ByteSource& source, const ByteSink& out)
{
    if (lastError != errNone) return;
    uint8_t header[macBinaryHeaderSize];
    buildMacBinaryHeader(info, header);
    if (lastError != errNone) return;
    for (uint8_t b : header) writeByte(out, b);
    for (int fork = 0; fork < 2 && lastError == errNone; ++fork) {
        if (fork == 1) nextFork(source);
        uint32_t length = fork == 0 ? info.dataLength : info.resourceLength;
        if (!copyBytes(source, length, &out)) return;
        writeZeros(out, macBinaryPadding(length));
    }
}

bool readMacBinaryHeader(const ByteSource& in, uint64_t fileSize, MacBinaryHeader& out)
{
    out = MacBinaryHeader{};
    if (lastError != errNone) return false;
    uint8_t header[macBinaryHeaderSize];
    for (uint8_t& b : header) {
        int c = readByte(in);
        if (lastError != errNone) return false;
        if (c < 0) {
            // Too short to be a MacBinary file at all.
            setError(errWrongFileType);
            return false;
        }
        b = static_cast<uint8_t>(c);
    }
    if (!parseMacBinaryHeader(header, fileSize, out)) return false;
    return copyBytes(in, out.secondaryLength + macBinaryPadding(out.secondaryLength), nullptr);
}

bool readMacBinaryForks(const ByteSource& in, const MacBinaryHeader& header, const ByteSink& out)
{
    if (lastError != errNone) return false;
    if (!copyBytes(in, header.info.dataLength, &out)) return false;
    skipPadding(in, macBinaryPadding(header.info.dataLength));
    nextFork(out);
    return copyBytes(in, header.info.resourceLength, &out);
}

}  // namespace verrin
