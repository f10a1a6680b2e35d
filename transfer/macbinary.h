// MacBinary: the 128-byte header that puts a Mac file's name, Finder
// information, fork lengths and dates in front of its two forks, each fork
// padded with zero bytes to a multiple of 128.
//
// Files are written as MacBinary II (Finder flags high byte at 73, low byte
// at 101, byte 74 zero, versions 129 at 122-123, header CRC at 124), which
// readers of every MacBinary version take. Reading accepts MacBinary I
// (flags word at 73-74, as this program once wrote too), II (header CRC at
// 124 checked, secondary header skipped, flags low byte at 101) and III
// ("mBIN" at 102). Errors go to lastError: errWrongFileType when the header
// is not a MacBinary header, errDamagedFile when it is one whose CRC fails
// or whose forks reach beyond the end of the file. Calls transfer/byte_io.h,
// transfer/binhex.h (the shared CRC) and base/errors.h.
#pragma once

#include <cstdint>
#include <span>

#include "transfer/byte_io.h"

namespace verrin {

constexpr uint32_t macBinaryHeaderSize = 128;
// Pass as the file size when it is not known: the fork lengths are then
// checked only against the HFS limit.
constexpr uint64_t macBinaryUnknownSize = UINT64_MAX;

struct MacBinaryHeader {
    MacFileInfo info;              // name 1..31 bytes; Finder information; lengths; dates
    uint8_t version = 1;           // 1, 2 or 3
    uint32_t secondaryLength = 0;  // bytes of secondary header after the 128 (before padding)
};

// Zero bytes that follow a fork of `length` bytes: up to the next multiple
// of 128, none when the length is one already.
constexpr uint32_t macBinaryPadding(uint32_t length) { return (128 - length % 128) % 128; }

// The header as written: version 0, the name (1 to 31 bytes, else
// errWrongFileType and a zero header), type, creator and the flags high
// byte at 65-73, fork lengths at 83 and 87, dates at 91 and 95, the flags
// low byte at 101, versions at 122-123 and the CRC at 124; zeros elsewhere.
void buildMacBinaryHeader(const MacFileInfo& info, std::span<uint8_t, macBinaryHeaderSize> header);

// Checks and reads a header. `fileSize` is the size of the whole MacBinary
// file, against which the forks are checked. False on failure, with
// lastError set.
bool parseMacBinaryHeader(std::span<const uint8_t, macBinaryHeaderSize> header, uint64_t fileSize,
                          MacBinaryHeader& out);

// Streaming forms. writeMacBinary: the header, `dataLength` bytes of the
// source and their padding, the source's nextFork, `resourceLength` bytes
// and their padding; a source shorter than a declared fork sets
// errDamagedFile.
void writeMacBinary(const MacFileInfo& info, const ByteSource& source, const ByteSink& out);
// Reads and checks the header and skips any secondary header.
bool readMacBinaryHeader(const ByteSource& in, uint64_t fileSize, MacBinaryHeader& out);
// After readMacBinaryHeader: copies the data fork to the sink, skips its
// padding, calls the sink's nextFork and copies the resource fork. Bytes
// after the resource fork are left unread. A source that ends inside a
// fork sets errDamagedFile.
bool readMacBinaryForks(const ByteSource& in, const MacBinaryHeader& header, const ByteSink& out);

}  // namespace verrin
