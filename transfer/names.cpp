// Name mapping between Mac Roman catalog names and PC file names. See
// names.h. Calls nothing.
#include "transfer/names.h"

#include <cstring>

namespace verrin {

namespace {

// Row by row: the Mac byte 0x80 + 16 * row + column maps to the entry.
// The characters both sets contain map to each other; the Mac-only
// characters take the ANSI bytes no shared character uses.
constexpr std::array<uint8_t, 128> macToPcTable = {
    0xC4, 0xC5, 0xC7, 0xC9, 0xD1, 0xD6, 0xDC, 0xE1, 0xE0, 0xE2, 0xE4, 0xE3, 0xE5, 0xE7, 0xE9, 0xE8,  // 80
    0xEA, 0xEB, 0xED, 0xEC, 0xEE, 0xEF, 0xF1, 0xF3, 0xF2, 0xF4, 0xF6, 0xF5, 0xFA, 0xF9, 0xFB, 0xFC,  // 90
    0x86, 0xB0, 0xA2, 0xA3, 0xA7, 0x95, 0xB6, 0xDF, 0xAE, 0xA9, 0x99, 0xB4, 0xA8, 0xFE, 0xC6, 0xD8,  // A0
    0x80, 0xB1, 0x81, 0x8A, 0xA5, 0xB5, 0x8D, 0x8E, 0x8F, 0x90, 0x9A, 0xAA, 0xBA, 0x9D, 0xE6, 0xF8,  // B0
    0xBF, 0xA1, 0xAC, 0x9E, 0x83, 0xA6, 0xAD, 0xAB, 0xBB, 0x85, 0xA0, 0xC0, 0xC3, 0xD5, 0x8C, 0x9C,  // C0
    0x96, 0x97, 0x93, 0x94, 0x91, 0x92, 0xF7, 0xB2, 0xFF, 0x9F, 0xB3, 0xA4, 0x8B, 0x9B, 0xB9, 0xBC,  // D0
    0x87, 0xB7, 0x82, 0x84, 0x89, 0xC2, 0xCA, 0xC1, 0xCB, 0xC8, 0xCD, 0xCE, 0xCF, 0xCC, 0xD3, 0xD4,  // E0
    0xBD, 0xD2, 0xDA, 0xDB, 0xD9, 0xBE, 0x88, 0x98, 0xAF, 0xD0, 0xD7, 0xDD, 0xB8, 0xDE, 0xF0, 0xFD,  // F0
};

constexpr std::array<uint8_t, 128> invert(const std::array<uint8_t, 128>& table)
{
    std::array<uint8_t, 128> inverse{};
    for (size_t i = 0; i < 128; ++i) inverse[table[i] - 0x80u] = static_cast<uint8_t>(0x80u + i);
    return inverse;
}

constexpr bool isPermutation(const std::array<uint8_t, 128>& table)
{
    bool seen[128] = {};
    for (uint8_t b : table) {
        if (b < 0x80 || seen[b - 0x80]) return false;
        seen[b - 0x80] = true;
    }
    return true;
}
static_assert(isPermutation(macToPcTable), "the character table must be a bijection of 0x80..0xFF");

constexpr bool isAsciiAlnum(uint8_t c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

constexpr uint8_t lower(uint8_t c) { return (c >= 'A' && c <= 'Z') ? static_cast<uint8_t>(c + 32) : c; }

// strnicmp over at most n characters: a shorter string ends the
// comparison at its end (and then differs unless both end together).
bool equalsIgnoringCase(const char* a, const char* b, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        const uint8_t ca = lower(static_cast<uint8_t>(a[i]));
        const uint8_t cb = lower(static_cast<uint8_t>(b[i]));
        if (ca != cb) return false;
        if (ca == 0) return true;
    }
    return true;
}

// Device names the PC file system reserves in any directory, with or
// without an extension: a file so named would be the device itself.
bool isReservedDeviceName(const char* name)
{
    size_t stem = 0;
    while (name[stem] && name[stem] != '.') ++stem;
    while (stem > 0 && name[stem - 1] == ' ') --stem;
    auto is = [&](const char* word) {
        return stem == std::strlen(word) && equalsIgnoringCase(name, word, stem);
    };
    if (is("CON") || is("PRN") || is("AUX") || is("NUL")) return true;
    if (stem == 4 && (equalsIgnoringCase(name, "COM", 3) || equalsIgnoringCase(name, "LPT", 3)) &&
        name[3] >= '1' && name[3] <= '9')
        return true;
    return false;
}

}  // namespace

const std::array<uint8_t, 128> macToPcChars = macToPcTable;
const std::array<uint8_t, 128> pcToMacChars = invert(macToPcTable);

uint8_t macCharToPc(uint8_t c)
{
    if (c == 0x00) return 0x02;
    if (c >= 0x80) return macToPcChars[c - 0x80u];
    return c;
}

uint8_t pcCharToMac(uint8_t c)
{
    if (c == 0x02) return 0x00;
    if (c >= 0x80) return pcToMacChars[c - 0x80u];
    return c;
}

void macNameToPc(char* dest, const uint8_t* macName, bool terminate)
{
    // No catalog name is longer than 31: a larger length byte (a damaged
    // record) must not run past the name's buffer.
    const size_t length = macName[0] > 31 ? 31 : macName[0];
    // Forward copy: dest[i] is written after macName[i + 1] has been read,
    // so the same buffer works.
    for (size_t i = 0; i < length; ++i) dest[i] = static_cast<char>(macCharToPc(macName[i + 1]));
    if (terminate) dest[length] = '\0';
}

std::string macNameToPc(const uint8_t* macName) { return macCodeToPc(macName + 1, macName[0] > 31 ? 31 : macName[0]); }

std::string macCodeToPc(const uint8_t* code, size_t length)
{
    std::string out(length, '\0');
    for (size_t i = 0; i < length; ++i) out[i] = static_cast<char>(macCharToPc(code[i]));
    return out;
}

int pcNameToMac(uint8_t* dest, const char* pcText)
{
    size_t length = 0;
    while (length < 31 && pcText[length]) ++length;
    // Backward copy so that dest may be the text's own buffer.
    for (size_t i = length; i > 0; --i) dest[i] = pcCharToMac(static_cast<uint8_t>(pcText[i - 1]));
    dest[0] = static_cast<uint8_t>(length);
    return static_cast<int>(length);
}

size_t pcTextToMacBytes(uint8_t* dest, std::string_view text, size_t length)
{
    const size_t n = text.size() < length ? text.size() : length;
    for (size_t i = 0; i < n; ++i) dest[i] = pcCharToMac(static_cast<uint8_t>(text[i]));
    return n;
}

bool isPcNameChar(uint8_t c, bool allowUpper)
{
    if (isAsciiAlnum(c)) return true;
    if (c >= 0x80) return allowUpper;
    return c != 0 && pcNameChars.find(static_cast<char>(c)) != std::string_view::npos;
}

bool makePcFileName(char* name, size_t capacity, const char* extension, bool allowUpper)
{
    if (capacity == 0 || name[0] == '\0') return true;
    size_t length = 0;
    while (length < capacity && name[length]) ++length;
    if (length == capacity) {  // not terminated inside its buffer
        --length;
        name[length] = '\0';
    }
    size_t i = 0;
    for (; i < length && name[i] == ' '; ++i) name[i] = '!';
    for (; i < length; ++i)
        if (!isPcNameChar(static_cast<uint8_t>(name[i]), allowUpper)) name[i] = '_';

    // A reserved device name would open the device instead of a file.
    if (isReservedDeviceName(name)) {
        if (length + 2 > capacity) return false;
        size_t stem = 0;
        while (name[stem] && name[stem] != '.') ++stem;
        std::memmove(name + stem + 1, name + stem, length - stem + 1);
        name[stem] = '_';
        ++length;
    }

    if (!extension || extension[0] == '\0') return true;
    const char* dot = std::strrchr(name, '.');
    const bool matches = dot && std::strlen(dot) <= 6 && equalsIgnoringCase(dot + 1, extension, 3);
    if (matches) return true;
    const size_t extLength = std::strlen(extension);
    if (length + 1 + extLength + 1 > capacity) return false;
    name[length] = '.';
    // The extension comes from a hand-edited file or a dialog: it gets the
    // same character rule, so that no path separator reaches the name.
    for (size_t k = 0; k <= extLength; ++k) {
        const uint8_t c = static_cast<uint8_t>(extension[k]);
        name[length + 1 + k] = (c == 0 || isPcNameChar(c, allowUpper)) ? static_cast<char>(c) : '_';
    }
    return true;
}

std::string makePcFileName(std::string_view name, std::string_view extension, bool allowUpper)
{
    // Room for the name, the reserved-name mark, the dot and the extension.
    std::string buffer(name);
    const std::string ext(extension);
    buffer.resize(name.size() + ext.size() + 3, '\0');
    makePcFileName(buffer.data(), buffer.size(), ext.c_str(), allowUpper);
    buffer.resize(std::strlen(buffer.c_str()));
    return buffer;
}

std::array<std::string, autoRenameCount> autoRenameCandidates(std::string_view name)
{
    std::string_view base = name;
    std::string_view suffix;
    const size_t dot = name.rfind('.');
    if (dot != std::string_view::npos && name.size() - dot <= 5) {
        base = name.substr(0, dot);
        suffix = name.substr(dot);
    }
    std::string stem(base);
    if (stem.size() < 8)
        stem.push_back('0');
    else
        stem.back() = '0';
    const size_t counter = stem.size() - 1;
    std::array<std::string, autoRenameCount> out;
    for (int k = 0; k < autoRenameCount; ++k) {
        stem[counter] = static_cast<char>(k < 10 ? '0' + k : 'A' + (k - 10));
        out[static_cast<size_t>(k)] = stem + std::string(suffix);
    }
    return out;
}

bool pcNameEditAccepts(uint32_t ch, bool allowUpper)
{
    if (ch < 0x20) return true;
    if (ch >= 0x80) return allowUpper;
    if (isAsciiAlnum(static_cast<uint8_t>(ch))) return true;
    constexpr std::string_view accepted = " !#$%&'()+,-.=@[]^_{}~`";
    return accepted.find(static_cast<char>(ch)) != std::string_view::npos;
}

}  // namespace verrin
