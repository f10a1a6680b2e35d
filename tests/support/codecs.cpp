// Helpers for the BinHex and MacBinary tests.
#include "support/codecs.h"

#include <cstring>

#include "base/errors.h"
#include "hfs/hfs.h"
#include "transfer/binhex.h"
#include "transfer/macbinary.h"

namespace verrin::codectest {

namespace {
const char sixBitChars[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
}

MacFileInfo makeInfo(const std::string& name, const char* type, const char* creator, uint16_t flags)
{
    MacFileInfo info;
    info.name[0] = static_cast<uint8_t>(name.size());
    std::memcpy(&info.name[1], name.data(), name.size());
    std::memcpy(&info.finderInfo[0], type, 4);
    std::memcpy(&info.finderInfo[4], creator, 4);
    write16(&info.finderInfo[8], flags);
    return info;
}

std::vector<uint8_t> patternBytes(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v;
    uint32_t x = seed * 2654435761u + 1;
    while (v.size() < n) {
        x = x * 1103515245u + 12345u;
        uint32_t kind = (x >> 24) % 8;
        if (kind == 0) {
            v.push_back(0x90);
        } else if (kind == 1) {
            size_t run = (x >> 8) % 300;
            uint8_t b = static_cast<uint8_t>(x >> 16);
            for (size_t i = 0; i < run && v.size() < n; ++i) v.push_back(b);
        } else {
            v.push_back(static_cast<uint8_t>(x >> 16));
        }
    }
    return v;
}

std::string encodeBinHex(MacFileInfo info, const std::vector<uint8_t>& data, const std::vector<uint8_t>& resource)
{
    info.dataLength = static_cast<uint32_t>(data.size());
    info.resourceLength = static_cast<uint32_t>(resource.size());
    MemorySource source{data, resource};
    MemorySink sink;
    writeBinHex(info, memorySource(source), memorySink(sink));
    return stringOf(sink.data);
}

Decoded decodeBinHex(const std::string& text, uint32_t forkLimit)
{
    Decoded d;
    std::vector<uint8_t> bytes = bytesOf(text);
    MemorySource source{bytes, {}};
    ByteSource in = memorySource(source);
    in.nextFork = nullptr;
    BinHexReader reader;
    if (!readBinHexHeader(reader, in, d.info, forkLimit)) return d;
    MemorySink sink;
    d.ok = readBinHexForks(reader, d.info, memorySink(sink));
    d.data = std::move(sink.data);
    d.resource = std::move(sink.resource);
    return d;
}

std::string encodeMacBinary(MacFileInfo info, const std::vector<uint8_t>& data, const std::vector<uint8_t>& resource)
{
    info.dataLength = static_cast<uint32_t>(data.size());
    info.resourceLength = static_cast<uint32_t>(resource.size());
    MemorySource source{data, resource};
    MemorySink sink;
    writeMacBinary(info, memorySource(source), memorySink(sink));
    return stringOf(sink.data);
}

Decoded decodeMacBinary(const std::string& bytes)
{
    Decoded d;
    std::vector<uint8_t> v = bytesOf(bytes);
    MemorySource source{v, {}};
    ByteSource in = memorySource(source);
    in.nextFork = nullptr;
    MacBinaryHeader header;
    if (!readMacBinaryHeader(in, v.size(), header)) return d;
    d.info = header.info;
    MemorySink sink;
    d.ok = readMacBinaryForks(in, header, memorySink(sink));
    d.data = std::move(sink.data);
    d.resource = std::move(sink.resource);
    return d;
}

std::vector<uint8_t> rawStream(const std::string& text)
{
    std::vector<uint8_t> out;
    size_t i = text.find(':');
    uint32_t bits = 0, count = 0;
    for (++i; i < text.size() && text[i] != ':'; ++i) {
        const char* p = std::strchr(sixBitChars, text[i]);
        if (!p || text[i] == 0) continue;
        bits = bits << 6 | static_cast<uint32_t>(p - sixBitChars);
        if (++count == 4) {
            out.push_back(static_cast<uint8_t>(bits >> 16));
            out.push_back(static_cast<uint8_t>(bits >> 8));
            out.push_back(static_cast<uint8_t>(bits));
            bits = count = 0;
        }
    }
    if (count >= 2) out.push_back(static_cast<uint8_t>(bits >> (6 * count - 8)));
    if (count == 3) out.push_back(static_cast<uint8_t>(bits >> 2));
    return out;
}

std::vector<uint8_t> expectedHeaderBytes(const MacFileInfo& info, uint32_t dataLength, uint32_t resourceLength)
{
    std::vector<uint8_t> h(info.name.begin(), info.name.begin() + 1 + info.name[0]);
    h.push_back(0);
    h.insert(h.end(), info.finderInfo.begin(), info.finderInfo.begin() + 10);
    uint8_t lengths[8];
    write32(lengths, dataLength);
    write32(lengths + 4, resourceLength);
    h.insert(h.end(), lengths, lengths + 8);
    uint16_t crc = crc16(h);
    h.push_back(static_cast<uint8_t>(crc >> 8));
    h.push_back(static_cast<uint8_t>(crc));
    return h;
}

std::string textFromRaw(const std::vector<uint8_t>& escaped)
{
    std::string chars;
    for (size_t i = 0; i < escaped.size(); i += 3) {
        uint32_t bits = static_cast<uint32_t>(escaped[i]) << 16;
        size_t left = escaped.size() - i;
        if (left > 1) bits |= static_cast<uint32_t>(escaped[i + 1]) << 8;
        if (left > 2) bits |= escaped[i + 2];
        size_t n = left >= 3 ? 4 : left + 1;
        for (size_t k = 0; k < n; ++k) chars += sixBitChars[(bits >> (18 - 6 * k)) & 0x3F];
    }
    std::string text = std::string(binHexIntro) + "\r\n:";
    size_t column = 1;
    for (char c : chars) {
        text += c;
        if (++column == 64) {
            text += "\r\n";
            column = 0;
        }
    }
    return text + ":\r\n";
}

std::string textFromEscaped(MacFileInfo info, const std::vector<uint8_t>& data, const std::vector<uint8_t>& escaped,
                            const std::vector<uint8_t>& resource)
{
    std::vector<uint8_t> stream = expectedHeaderBytes(info, static_cast<uint32_t>(data.size()),
                                                      static_cast<uint32_t>(resource.size()));
    std::vector<uint8_t> plain;
    auto addPlain = [&](uint8_t b) {
        stream.push_back(b);
        if (b == 0x90) stream.push_back(0);
    };
    // The header CRC bytes could be 0x90 themselves: escape the whole
    // header again from scratch.
    std::vector<uint8_t> header = stream;
    stream.clear();
    for (uint8_t b : header) addPlain(b);
    stream.insert(stream.end(), escaped.begin(), escaped.end());
    uint16_t crc = crc16(data);
    addPlain(static_cast<uint8_t>(crc >> 8));
    addPlain(static_cast<uint8_t>(crc));
    for (uint8_t b : resource) addPlain(b);
    crc = crc16(resource);
    addPlain(static_cast<uint8_t>(crc >> 8));
    addPlain(static_cast<uint8_t>(crc));
    return textFromRaw(stream);
}

std::vector<std::string> splitLines(const std::string& text, char end)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == end) {
            lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
        text.replace(p, from.size(), to);
    return text;
}

std::string rewrap(const std::string& text, size_t width)
{
    std::string out;
    size_t column = 0;
    for (size_t i = text.find(':'); i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') continue;
        out += c;
        if (++column == width) {
            out += '\n';
            column = 0;
        }
    }
    return out + "\n";
}

void flipCharacter(std::string& text, size_t pos)
{
    while (pos < text.size() && (text[pos] == '\r' || text[pos] == '\n' || text[pos] == ':')) ++pos;
    const char* p = std::strchr(sixBitChars, text[pos]);
    size_t index = p ? static_cast<size_t>(p - sixBitChars) : 0;
    text[pos] = sixBitChars[(index + 17) % 64];
}

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }
std::string stringOf(const std::vector<uint8_t>& v) { return {v.begin(), v.end()}; }

}  // namespace verrin::codectest
