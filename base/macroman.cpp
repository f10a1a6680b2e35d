// Mac Roman <-> UTF-8. See macroman.h. Calls nothing.
#include "base/macroman.h"

#include <array>
#include <cstring>

namespace verrin {

namespace {

constexpr uint16_t highHalf[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5,
    0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4,
    0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6,
    0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265,
    0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF,
    0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5,
    0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044,
    0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9,
    0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

constexpr uint32_t toUnicode(uint8_t c)
{
    if (c < 0x20) return 0x2400u + c;
    if (c < 0x80) return c;
    return highHalf[c - 0x80];
}

// The UTF-8 bytes of each Mac Roman character (at most three), worked out
// once at compile time: names are converted by copying them.
struct Utf8Char {
    char bytes[4];
    uint8_t length;
};
constexpr std::array<Utf8Char, 256> utf8Chars = [] {
    std::array<Utf8Char, 256> table{};
    for (unsigned c = 0; c < 256; ++c) {
        const uint32_t u = toUnicode(static_cast<uint8_t>(c));
        Utf8Char& e = table[c];
        if (u < 0x80) {
            e = {{static_cast<char>(u)}, 1};
        } else if (u < 0x800) {
            e = {{static_cast<char>(0xC0 | (u >> 6)), static_cast<char>(0x80 | (u & 0x3F))}, 2};
        } else {
            e = {{static_cast<char>(0xE0 | (u >> 12)), static_cast<char>(0x80 | ((u >> 6) & 0x3F)),
                  static_cast<char>(0x80 | (u & 0x3F))},
                 3};
        }
    }
    return table;
}();

}  // namespace

void appendMacRoman(std::string& out, const uint8_t* chars, size_t length)
{
    char piece[256 * 3 + sizeof(Utf8Char::bytes)];
    while (length > 0) {
        const size_t count = length < 256 ? length : 256;
        size_t used = 0;
        for (size_t i = 0; i < count; ++i) {
            const Utf8Char& e = utf8Chars[chars[i]];
            std::memcpy(piece + used, e.bytes, sizeof e.bytes);
            used += e.length;
        }
        out.append(piece, used);
        chars += count;
        length -= count;
    }
}

std::string macRomanToUtf8(const uint8_t* chars, size_t length)
{
    std::string s;
    appendMacRoman(s, chars, length);
    return s;
}

bool utf8ToMacRoman(std::string_view text, std::vector<uint8_t>& out)
{
    out.clear();
    size_t i = 0;
    while (i < text.size()) {
        uint32_t u = 0;
        if (!nextUtf8(text, i, u)) return false;
        if (u < 0x80) {
            out.push_back(static_cast<uint8_t>(u));
            continue;
        }
        if (u >= 0x2400 && u < 0x2420) {
            out.push_back(static_cast<uint8_t>(u - 0x2400));
            continue;
        }
        int found = -1;
        for (int k = 0; k < 128; ++k)
            if (highHalf[k] == u) {
                found = k;
                break;
            }
        // The older currency sign at 0xDB.
        if (found < 0 && u == 0x00A4) found = 0xDB - 0x80;
        if (found < 0) return false;
        out.push_back(static_cast<uint8_t>(0x80 + found));
    }
    return true;
}

void appendUtf8(std::string& out, uint32_t u)
{
    if (u < 0x80) {
        out += static_cast<char>(u);
    } else if (u < 0x800) {
        out += static_cast<char>(0xC0 | (u >> 6));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else if (u < 0x10000) {
        out += static_cast<char>(0xE0 | (u >> 12));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (u >> 18));
        out += static_cast<char>(0x80 | ((u >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (u & 0x3F));
    }
}

bool nextUtf8(std::string_view text, size_t& at, uint32_t& u)
{
    const auto lead = static_cast<uint8_t>(text[at++]);
    if (lead < 0x80) {
        u = lead;
        return true;
    }
    const size_t extra = lead >= 0xF5 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
    if (extra == 0 || at + extra > text.size()) return false;
    uint32_t value = lead & (0x3Fu >> extra);
    for (size_t k = 0; k < extra; ++k) {
        const auto b = static_cast<uint8_t>(text[at + k]);
        if ((b & 0xC0) != 0x80) return false;
        value = value << 6 | (b & 0x3Fu);
    }
    constexpr uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
    if (value < least[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    at += extra;
    u = value;
    return true;
}

}  // namespace verrin
