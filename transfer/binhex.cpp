// BinHex 4.0 encoder and decoder.
//
// Owns the alphabet, the CRC table, the six-bit and run-length layers in
// both directions and the search for the start of the encoded text. Calls
// transfer/byte_io.h, base/byteorder.h and base/errors.h.
#include "transfer/binhex.h"

#include <array>
#include <cstring>

#include "base/byteorder.h"

namespace verrin {

namespace {

constexpr char alphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
static_assert(sizeof alphabet == 65);

// Character to six-bit value; -1 for characters outside the alphabet.
constexpr std::array<int8_t, 256> makeInverse()
{
    std::array<int8_t, 256> t{};
    for (int8_t& v : t) v = -1;
    for (int i = 0; i < 64; ++i) t[static_cast<uint8_t>(alphabet[i])] = static_cast<int8_t>(i);
    return t;
}
constexpr std::array<int8_t, 256> inverse = makeInverse();

constexpr std::array<uint16_t, 256> makeCrcTable()
{
    std::array<uint16_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 8;
        for (int bit = 0; bit < 8; ++bit) c = (c & 0x8000) ? (c << 1) ^ 0x1021 : c << 1;
        t[i] = static_cast<uint16_t>(c);
    }
    return t;
}
constexpr std::array<uint16_t, 256> crcTable = makeCrcTable();

constexpr uint8_t runMarker = 0x90;
// How far the search for the start of the encoded text reads (mail or news
// text before it), and how many characters outside the alphabet may stand
// together inside the text (line ends, spaces a mailer added): beyond
// either the input is not BinHex, or not any longer, however much follows.
constexpr uint32_t startSearchLimit = 1u << 20;
constexpr uint32_t gapLimit = 4096;
constexpr uint8_t cr = 0x0D;
constexpr uint8_t lf = 0x0A;

}  // namespace

uint16_t crc16Update(uint16_t crc, uint8_t byte)
{
    return static_cast<uint16_t>(crcTable[((crc >> 8) ^ byte) & 0xFF] ^ (crc << 8));
}

uint16_t crc16(std::span<const uint8_t> bytes, uint16_t crc)
{
    for (uint8_t b : bytes) crc = crc16Update(crc, b);
    return crc;
}

// ---------------------------------------------------------------------------
// Encoding.

namespace {

// One character of the encoded text; a line is broken after its 64th
// character. The closing ":" is written by finishBinHex on the same rule,
// so when the text fills its last line exactly the ":" stands alone on the
// next one.
void putChar(BinHexWriter& w, uint8_t c)
{
    writeByte(w.out, c);
    if (++w.column == binHexLineLength) {
        writeByte(w.out, cr);
        w.column = 0;
    }
}

void putSixBits(BinHexWriter& w, uint32_t value) { putChar(w, static_cast<uint8_t>(alphabet[value & 0x3F])); }

// A byte of the escaped stream into the six-bit layer.
void putEscaped(BinHexWriter& w, uint8_t byte)
{
    w.pending[w.pendingCount++] = byte;
    if (w.pendingCount < 3) return;
    uint32_t bits = static_cast<uint32_t>(w.pending[0]) << 16 | static_cast<uint32_t>(w.pending[1]) << 8 | w.pending[2];
    putSixBits(w, bits >> 18);
    putSixBits(w, bits >> 12);
    putSixBits(w, bits >> 6);
    putSixBits(w, bits);
    w.pendingCount = 0;
}

// A byte of the file's content: counted in the CRC, 0x90 escaped. Runs are
// not compressed, which every reader accepts.
void putContent(BinHexWriter& w, uint8_t byte)
{
    w.crc = crc16Update(w.crc, byte);
    putEscaped(w, byte);
    if (byte == runMarker) putEscaped(w, 0);
}

void putCrc(BinHexWriter& w)
{
    uint16_t crc = w.crc;
    putContent(w, static_cast<uint8_t>(crc >> 8));
    putContent(w, static_cast<uint8_t>(crc));
    w.crc = 0;
}

}  // namespace

void beginBinHex(BinHexWriter& w, const ByteSink& out, const MacFileInfo& info)
{
    w = BinHexWriter{};
    w.out = out;
    if (lastError != errNone) return;
    uint8_t nameLength = info.name[0];
    if (nameLength < 1 || nameLength > 63) {
        setError(errWrongFileType);
        return;
    }
    for (const char* p = binHexIntro; *p; ++p) writeByte(out, static_cast<uint8_t>(*p));
    writeByte(out, cr);
    putChar(w, ':');

    uint8_t header[63 + 22];
    size_t n = 0;
    header[n++] = nameLength;
    std::memcpy(header + n, &info.name[1], nameLength);
    n += nameLength;
    header[n++] = 0;  // version
    std::memcpy(header + n, info.finderInfo.data(), 10);  // type, creator, flags
    n += 10;
    write32(header + n, info.dataLength);
    write32(header + n + 4, info.resourceLength);
    n += 8;
    for (size_t i = 0; i < n; ++i) putContent(w, header[i]);
    putCrc(w);
    w.forkLeft = info.dataLength;
    w.resourceLength = info.resourceLength;
}

void putBinHexByte(BinHexWriter& w, uint8_t byte)
{
    if (lastError != errNone || w.forkLeft == 0) return;
    --w.forkLeft;
    putContent(w, byte);
}

void endBinHexFork(BinHexWriter& w)
{
    if (lastError != errNone || w.forkCount >= 2) return;
    if (w.forkLeft > 0) {
        // The source ended before the length the header promised: the text
        // would be unreadable, so the whole file fails.
        setError(errDamagedFile);
        return;
    }
    putCrc(w);
    if (++w.forkCount == 1) w.forkLeft = w.resourceLength;
}

void finishBinHex(BinHexWriter& w)
{
    if (lastError != errNone) return;
    // A last group of one or two bytes: its bits padded with zeros to whole
    // characters (two for one byte, three for two).
    if (w.pendingCount > 0) {
        uint32_t bits = static_cast<uint32_t>(w.pending[0]) << 16;
        if (w.pendingCount > 1) bits |= static_cast<uint32_t>(w.pending[1]) << 8;
        putSixBits(w, bits >> 18);
        putSixBits(w, bits >> 12);
        if (w.pendingCount > 1) putSixBits(w, bits >> 6);
        w.pendingCount = 0;
    }
    writeByte(w.out, ':');
    writeByte(w.out, cr);
}

void writeBinHex(const MacFileInfo& info, const ByteSource& source, const ByteSink& out)
{
    BinHexWriter w;
    beginBinHex(w, out, info);
    for (int fork = 0; fork < 2 && lastError == errNone; ++fork) {
        if (fork == 1) nextFork(source);
        uint32_t length = fork == 0 ? info.dataLength : info.resourceLength;
        for (uint32_t i = 0; i < length && lastError == errNone; ++i) {
            int c = readByte(source);
            if (lastError != errNone || c < 0) break;
            putBinHexByte(w, static_cast<uint8_t>(c));
        }
        endBinHexFork(w);
    }
    finishBinHex(w);
}

// ---------------------------------------------------------------------------
// Decoding.

namespace {

int nextRaw(BinHexReader& r)
{
    if (r.replayNext < r.replayCount) return r.replay[r.replayNext++];
    return readByte(r.in);
}

bool isLineEnd(int c) { return c == cr || c == lf; }

// Finds the ":" that opens the encoded text. The intro line, when present,
// marks the next line that starts with ":" as the start. Without it the
// first line that starts with ":" and looks like encoded text is taken: only
// alphabet characters, and either long or closed by a ":" (so a ":-)" in a
// mail is passed over). Characters read while judging a line are replayed.
bool findStart(BinHexReader& r)
{
    constexpr size_t introMatch = sizeof binHexIntro - 6;  // without the " 4.0)" version tail
    bool lineStart = true;
    bool introSeen = false;
    size_t introPos = 0;  // characters of the intro matched on this line; SIZE_MAX: no match
    for (uint32_t scanned = 0; scanned < startSearchLimit; ++scanned) {
        int c = readByte(r.in);
        if (lastError != errNone || c < 0) break;
        if (isLineEnd(c)) {
            lineStart = true;
            introPos = 0;
            continue;
        }
        if (lineStart && c == ':') {
            if (introSeen) return true;
            r.replayCount = 0;
            bool plausible = true;
            bool closed = false;
            int d = -1;
            while (r.replayCount < sizeof r.replay) {
                ++scanned;
                d = readByte(r.in);
                if (lastError != errNone || d < 0) break;
                r.replay[r.replayCount++] = static_cast<uint8_t>(d);
                if (isLineEnd(d)) break;
                if (d == ':') {
                    closed = true;
                    break;
                }
                if (inverse[static_cast<uint8_t>(d)] < 0) {
                    plausible = false;
                    break;
                }
            }
            uint32_t characters = r.replayCount - ((closed || isLineEnd(d)) ? 1 : 0);
            if (plausible && characters > 0 && (closed || characters >= 32)) {
                r.replayNext = 0;
                return true;
            }
            r.replayCount = 0;
            if (lastError != errNone || d < 0) break;
            lineStart = isLineEnd(d);
            introPos = 0;
            if (!lineStart) introPos = SIZE_MAX;
            continue;
        }
        if (introPos != SIZE_MAX) {
            if (introPos < introMatch && static_cast<uint8_t>(binHexIntro[introPos]) == c) {
                if (++introPos == introMatch) introSeen = true;
            } else {
                introPos = SIZE_MAX;
            }
        }
        lineStart = false;
    }
    setError(errWrongFileType);
    return false;
}

// The next byte of the escaped stream, or -1 where the encoded text ends.
int nextEscaped(BinHexReader& r)
{
    if (r.groupNext < r.groupCount) return r.group[r.groupNext++];
    if (r.textEnded) return -1;
    uint32_t values[4];
    uint32_t count = 0;
    uint32_t gap = 0;
    while (count < 4) {
        int c = nextRaw(r);
        if (lastError != errNone || c < 0 || ++gap > gapLimit) {
            r.textEnded = true;
            break;
        }
        if (c == ':') {
            r.textEnded = true;
            r.closed = true;
            break;
        }
        int v = inverse[static_cast<uint8_t>(c)];
        if (v >= 0) {
            values[count++] = static_cast<uint32_t>(v);
            gap = 0;
        }
    }
    // Four characters make three bytes; at the end, two make one and three
    // make two.
    uint32_t bits = 0;
    for (uint32_t i = 0; i < count; ++i) bits |= values[i] << (18 - 6 * i);
    r.group[0] = static_cast<uint8_t>(bits >> 16);
    r.group[1] = static_cast<uint8_t>(bits >> 8);
    r.group[2] = static_cast<uint8_t>(bits);
    r.groupCount = count == 4 ? 3 : count == 3 ? 2 : count == 2 ? 1 : 0;
    r.groupNext = 0;
    if (r.groupCount == 0) return -1;
    return r.group[r.groupNext++];
}

// The next byte of the file's content, runs expanded: 0x90 n repeats the
// previous byte to stand n times in all, 0x90 0 is a literal 0x90, and
// 0x90 1 adds nothing. -1 where the encoded text ends.
int nextContent(BinHexReader& r)
{
    for (;;) {
        if (r.repeat > 0) {
            --r.repeat;
            return r.lastByte;
        }
        int b = nextEscaped(r);
        if (b < 0) return -1;
        if (b != runMarker) {
            r.lastByte = static_cast<uint8_t>(b);
            return b;
        }
        int count = nextEscaped(r);
        if (count < 0) return -1;
        if (count == 0) {
            r.lastByte = runMarker;
            return runMarker;
        }
        r.repeat = static_cast<uint32_t>(count - 1);
    }
}

// Reads `n` content bytes into `out`, counted in the CRC; false (with
// errDamagedFile) when the text ends first.
bool readContent(BinHexReader& r, uint8_t* out, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        int b = nextContent(r);
        if (lastError != errNone) return false;
        if (b < 0) {
            setError(errDamagedFile);
            return false;
        }
        out[i] = static_cast<uint8_t>(b);
        r.crc = crc16Update(r.crc, out[i]);
    }
    return true;
}

// Reads the two CRC bytes of a section and compares them with the CRC of
// its content; the CRC starts again at 0 for the next section.
bool checkCrc(BinHexReader& r)
{
    uint16_t expected = r.crc;
    uint8_t stored[2];
    if (!readContent(r, stored, 2)) return false;
    r.crc = 0;
    if (read16(stored) != expected) {
        setError(errDamagedFile);
        return false;
    }
    return true;
}

}  // namespace

bool readBinHexHeader(BinHexReader& r, const ByteSource& in, MacFileInfo& info, uint32_t forkLimit)
{
    r = BinHexReader{};
    r.in = in;
    info = MacFileInfo{};
    if (lastError != errNone) return false;
    if (!findStart(r)) return false;

    // The name length comes first: no header at all, or a length beyond
    // what the format allows, means this is not a BinHex file we can read.
    uint8_t nameLength = 0;
    int first = nextContent(r);
    if (lastError != errNone) return false;
    if (first < 0 || first > 63) {
        setError(errWrongFileType);
        return false;
    }
    nameLength = static_cast<uint8_t>(first);
    r.crc = crc16Update(0, nameLength);

    uint8_t rest[63 + 19];  // name, version, type, creator, flags, two lengths
    if (!readContent(r, rest, nameLength + 19u)) return false;
    if (!checkCrc(r)) return false;

    info.name[0] = nameLength;
    std::memcpy(&info.name[1], rest, nameLength);
    const uint8_t* p = rest + nameLength + 1;  // past the version byte
    std::memcpy(info.finderInfo.data(), p, 10);
    info.dataLength = read32(p + 10);
    info.resourceLength = read32(p + 14);
    if (info.dataLength > forkLimit || info.resourceLength > forkLimit) {
        setError(errWrongFileType);
        return false;
    }
    return true;
}

bool readBinHexForks(BinHexReader& r, const MacFileInfo& info, const ByteSink& out)
{
    for (int fork = 0; fork < 2; ++fork) {
        if (lastError != errNone) return false;
        if (fork == 1) nextFork(out);
        uint32_t length = fork == 0 ? info.dataLength : info.resourceLength;
        for (uint32_t i = 0; i < length; ++i) {
            int b = nextContent(r);
            if (lastError != errNone) return false;
            if (b < 0) {
                setError(errDamagedFile);
                return false;
            }
            r.crc = crc16Update(r.crc, static_cast<uint8_t>(b));
            writeByte(out, static_cast<uint8_t>(b));
        }
        if (!checkCrc(r)) return false;
    }
    return lastError == errNone;
}

}  // namespace verrin
