// BinHex 4.0: the encoder that turns one Mac file into BinHex text and the
// decoder that turns such text back into a Mac file.
//
// The text is a line "(This file must be converted with BinHex 4.0)", then
// the encoded stream between two colons: the header (name, type, creator,
// Finder flags, fork lengths), the data fork and the resource fork, each
// followed by its CRC, run-length escaped around the byte 0x90 and written
// six bits to a printable character in lines of 64 characters ending in CR.
//
// Both directions work a byte at a time through a ByteSource and ByteSink
// (transfer/byte_io.h), so the caller may stream files of any size. Errors
// go to lastError: errWrongFileType when the text is not BinHex at all,
// errDamagedFile when it is BinHex whose checksums do not match or whose
// data stops early. Calls transfer/byte_io.h and base/errors.h.
#pragma once

#include <cstdint>
#include <span>

#include "transfer/byte_io.h"

namespace verrin {

// CRC-16, polynomial 0x1021, initial value 0, no reflection, no final
// exclusive-or (the XMODEM form of CRC-CCITT); also used by MacBinary II.
uint16_t crc16Update(uint16_t crc, uint8_t byte);
uint16_t crc16(std::span<const uint8_t> bytes, uint16_t crc = 0);

constexpr const char binHexIntro[] = "(This file must be converted with BinHex 4.0)";
constexpr uint32_t binHexLineLength = 64;  // characters per line, the opening ":" included

// ---------------------------------------------------------------------------
// Encoding.

struct BinHexWriter {
    ByteSink out{};
    uint16_t crc = 0;
    uint8_t pending[3] = {};  // bytes of the unfinished three-byte group
    uint32_t pendingCount = 0;
    uint32_t column = 0;      // characters on the current line
    uint32_t forkLeft = 0;        // bytes the current fork still owes its declared length
    uint32_t resourceLength = 0;  // declared length of the resource fork
    uint32_t forkCount = 0;       // forks finished so far (0, 1 or 2)
};

// Writes the text line, the opening ":", the header and its CRC. The name
// must be 1 to 63 bytes long (errWrongFileType otherwise); type, creator and
// Finder flags come from the first 10 bytes of the Finder information.
void beginBinHex(BinHexWriter& w, const ByteSink& out, const MacFileInfo& info);
// One byte of the current fork (data fork first, then resource fork).
// Bytes beyond the fork's declared length are dropped.
void putBinHexByte(BinHexWriter& w, uint8_t byte);
// Ends the current fork and writes its CRC. A fork that got fewer bytes
// than its declared length sets errDamagedFile (the source was short; the
// text written so far is unusable and should be deleted).
void endBinHexFork(BinHexWriter& w);
// Writes the last characters, the closing ":" and CR.
void finishBinHex(BinHexWriter& w);

// The whole file in one call: the header from `info`, then `dataLength`
// bytes from the source, its nextFork, then `resourceLength` bytes.
void writeBinHex(const MacFileInfo& info, const ByteSource& source, const ByteSink& out);

// ---------------------------------------------------------------------------
// Decoding.

struct BinHexReader {
    ByteSource in{};
    // Characters held back while deciding where the encoded text starts.
    uint8_t replay[256] = {};
    uint32_t replayCount = 0;
    uint32_t replayNext = 0;
    // Six-bit layer.
    uint8_t group[3] = {};
    uint32_t groupCount = 0;  // decoded bytes in `group`
    uint32_t groupNext = 0;   // next of them to hand out
    bool textEnded = false;   // the closing ":" or the end of the input was met
    bool closed = false;      // ... and it was the closing ":"
    // Run-length layer.
    uint8_t lastByte = 0;
    uint32_t repeat = 0;      // copies of lastByte still to hand out
    uint16_t crc = 0;
};

// Finds the start of the encoded text (after any mail or news text), reads
// the header and checks its CRC. Fills the name, the first 10 bytes of the
// Finder information and both fork lengths of `info` (the rest is zeroed).
// The name is the one stored in the file, 0 to 63 bytes: HFS takes at most
// 31, so the caller cuts it, and an empty name (a valid file whose maker
// left it out) asks the caller to name the file after the PC file.
// Fork lengths above `forkLimit` are refused. The encoded text must
// start within the first megabyte, and more than 4096 characters outside
// the alphabet in a row end it, so an input that never ends still ends the
// decoding with an error. False on failure, with lastError set.
bool readBinHexHeader(BinHexReader& r, const ByteSource& in, MacFileInfo& info, uint32_t forkLimit);
// Copies the data fork to the sink, checks its CRC, calls the sink's
// nextFork, copies the resource fork and checks its CRC. Whatever follows
// the last CRC is ignored. False on failure, with lastError set (the sink
// may have received part of the forks).
bool readBinHexForks(BinHexReader& r, const MacFileInfo& info, const ByteSink& out);

}  // namespace verrin
