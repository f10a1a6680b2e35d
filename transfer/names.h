// Conversion between Mac names and PC names.
//
// Mac names are length-prefixed Mac Roman strings of at most 31 bytes; PC
// names are NUL-terminated ANSI strings. Every Mac name shown on screen,
// every PC file or directory name built from a Mac item and every Mac name
// built from a PC file or typed text goes through these pure functions. The
// only setting they depend on, AllowUpper, is passed in by the caller.
// Calls nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace verrin {

// Mac Roman bytes 0x80..0xFF to Windows ANSI bytes (index = byte - 0x80),
// and its exact inverse. Both are permutations of 0x80..0xFF, so every name
// survives a round trip.
extern const std::array<uint8_t, 128> macToPcChars;
extern const std::array<uint8_t, 128> pcToMacChars;

// The punctuation a PC file name may keep besides ASCII letters and digits
// (the last character is the space).
inline constexpr std::string_view pcNameChars = "$%'-_@~`!(){}^#&.+,;=[] ";

// One character each way: a Mac 0x00 is carried as PC 0x02 and back; bytes
// of 0x80 and above go through the tables; the rest stay.
uint8_t macCharToPc(uint8_t c);
uint8_t pcCharToMac(uint8_t c);

// Copies the length-prefixed Mac name into dest as PC characters (name[0]
// bytes, at most 31, plus a NUL when terminate is set; dest needs 32
// bytes). dest may be the name itself: the length byte is overwritten by
// the first character.
void macNameToPc(char* dest, const uint8_t* macName, bool terminate);
std::string macNameToPc(const uint8_t* macName);
// The same for a fixed-length code such as a file type or creator.
std::string macCodeToPc(const uint8_t* code, size_t length);

// Makes a length-prefixed Mac name from NUL-terminated PC text, cut to 31
// characters. dest needs 32 bytes; it may be the text's own buffer (the
// copy runs from the end). Returns the length.
int pcNameToMac(uint8_t* dest, const char* pcText);
// Converts up to `length` characters of text to Mac bytes without a length
// prefix (type and creator codes); returns the bytes written.
size_t pcTextToMacBytes(uint8_t* dest, std::string_view text, size_t length);

// The character rule of PC file names: ASCII letters and digits, the
// pcNameChars punctuation, and with allowUpper bytes of 0x80 and above.
bool isPcNameChar(uint8_t c, bool allowUpper);

// Turns the output of macNameToPc into a name the PC file system accepts
// and adds the translation's extension (without the dot; may be empty):
// leading spaces become "!", other refused characters "_", and ".ext" is
// appended unless the name already ends in a matching extension. An empty
// name is left alone. `name` is NUL-terminated in a buffer of `capacity`
// bytes; false (name sanitised, extension not added) when the extension
// does not fit.
bool makePcFileName(char* name, size_t capacity, const char* extension, bool allowUpper);
std::string makePcFileName(std::string_view name, std::string_view extension, bool allowUpper);

// The 36 alternative names tried for a PC name that already exists: the
// counter position holds 0..9 and then A..Z.
constexpr int autoRenameCount = 36;
std::array<std::string, autoRenameCount> autoRenameCandidates(std::string_view name);

// The rule of the filter in front of the fields where a PC name is typed:
// true when the typed character is let through. Codes below 0x20 (the
// control keys) always pass; of the rest only ASCII letters and digits, the
// space, ! # $ % & ' ( ) + , - . = @ [ ] ^ _ { } ~ and the grave accent, and
// with allowUpper characters of 0x80 and above.
bool pcNameEditAccepts(uint32_t ch, bool allowUpper);

}  // namespace verrin
