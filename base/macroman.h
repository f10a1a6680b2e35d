// Mac Roman <-> UTF-8 for names shown on or typed at a Unicode terminal,
// and the UTF-8 encoding both ways.
//
// Control characters (0x00-0x1F, as in the "Icon\r" files of custom icons)
// become the Unicode control pictures U+2400-U+241F so that they print
// visibly and convert back unchanged. Calls nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace verrin {

std::string macRomanToUtf8(const uint8_t* chars, size_t length);
// The same, appended to `out` (listings build their lines this way).
void appendMacRoman(std::string& out, const uint8_t* chars, size_t length);
// A length-prefixed Mac name.
inline std::string macNameToUtf8(const uint8_t* name) { return macRomanToUtf8(name + 1, name[0]); }
// Converts UTF-8 text to Mac Roman; false when a character has no Mac Roman
// form or the UTF-8 is malformed.
bool utf8ToMacRoman(std::string_view text, std::vector<uint8_t>& out);

// UTF-8 itself: appends the encoding of a Unicode character, and decodes
// the character at `at` (false, one byte consumed, for a malformed or
// overlong sequence or a surrogate).
void appendUtf8(std::string& out, uint32_t u);
bool nextUtf8(std::string_view text, size_t& at, uint32_t& u);

}  // namespace verrin
