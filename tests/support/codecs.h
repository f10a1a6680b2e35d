// Helpers for the BinHex and MacBinary tests: building file facts, running
// the codecs over memory, and an independent little six-bit encoder that
// builds BinHex text from hand-made escaped streams (runs, odd names) that
// our own encoder never writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transfer/byte_io.h"

namespace verrin::codectest {

MacFileInfo makeInfo(const std::string& name, const char* type, const char* creator, uint16_t flags);
// Deterministic bytes with 0x90s, runs and every byte value.
std::vector<uint8_t> patternBytes(size_t n, uint32_t seed);

struct Decoded {
    bool ok = false;
    MacFileInfo info;
    std::vector<uint8_t> data;
    std::vector<uint8_t> resource;
};

std::string encodeBinHex(MacFileInfo info, const std::vector<uint8_t>& data, const std::vector<uint8_t>& resource);
Decoded decodeBinHex(const std::string& text, uint32_t forkLimit = maxForkLength);
std::string encodeMacBinary(MacFileInfo info, const std::vector<uint8_t>& data, const std::vector<uint8_t>& resource);
Decoded decodeMacBinary(const std::string& bytes);

// The escaped byte stream between the colons of a BinHex text.
std::vector<uint8_t> rawStream(const std::string& text);
// The header bytes of a BinHex stream and their CRC.
std::vector<uint8_t> expectedHeaderBytes(const MacFileInfo& info, uint32_t dataLength, uint32_t resourceLength);
// BinHex text for an already escaped stream.
std::string textFromRaw(const std::vector<uint8_t>& escaped);
// BinHex text whose data fork is `data`, written as the hand-escaped bytes
// `escaped`; the resource fork is `resource` with 0x90 escaped plainly.
std::string textFromEscaped(MacFileInfo info, const std::vector<uint8_t>& data, const std::vector<uint8_t>& escaped,
                            const std::vector<uint8_t>& resource);

std::vector<std::string> splitLines(const std::string& text, char end);
std::string replaceAll(std::string text, const std::string& from, const std::string& to);
// The encoded characters of `text` (from its first ":") in lines of `width`.
std::string rewrap(const std::string& text, size_t width);
// Replaces the alphabet character at or after `pos` with another one.
void flipCharacter(std::string& text, size_t pos);

std::vector<uint8_t> bytesOf(const std::string& s);
std::string stringOf(const std::vector<uint8_t>& v);

}  // namespace verrin::codectest
