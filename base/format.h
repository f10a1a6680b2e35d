// Size and date formatting: the compact size text with a unit letter, digit
// grouping for byte counts, the packed DOS date/time both panes keep their
// dates in, and its text in the user's form.
//
// A packed date/time holds the DOS date word in its upper 16 bits and the
// DOS time word in its lower 16 bits, in local time. HFS dates count
// seconds since 1904 in the convention of the volume engine (C time plus
// macEpochOffset, 2082819600). Calls the C library's time functions, and on
// Windows the system's file-time and locale calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace verrin {

// The compact size: up to 9999 plain ("%4.0lf"), then K, M and G with one
// decimal below 10 units and none above (widths 3 and 1.1).
std::string formatSize(double bytes);
// The same into a caller's buffer (at least 8 bytes for any 32-bit size).
void formatSize(double bytes, char* out, size_t capacity);

// Inserts "," between groups of three digits of a decimal text of at most
// 11 characters: 1234567 becomes 1,234,567. Shorter than 4: unchanged.
std::string groupThousands(std::string_view text);
// In place; the text is left unchanged when it is longer than 11
// characters or the grouped text does not fit into capacity bytes.
void groupThousands(char* text, size_t capacity);

// Time conversions. A system file time counts 100-nanosecond units since
// 1601-01-01 UTC.
constexpr uint64_t fileTimeOf1904 = 95616288000000000ull;
// HFS date -> file time: the fixed offset of the volume engine puts date 0
// at 1904-01-01 07:00 UTC.
constexpr uint64_t macDateToFileTime(uint32_t macDate)
{
    return 95616540000000000ull + static_cast<uint64_t>(macDate) * 10000000ull;
}
// Seconds since 1970 <-> HFS date (the engine's "now" convention).
constexpr int64_t macDateToUnix(uint32_t macDate) { return static_cast<int64_t>(macDate) - 2082819600ll; }
constexpr uint32_t unixToMacDate(int64_t seconds) { return static_cast<uint32_t>(seconds + 2082819600ll); }

// Packs calendar fields; out-of-range years clamp to the DOS range
// 1980..2107 (the first or last representable instant).
uint32_t packDosDateTime(int year, int month, int day, int hour, int minute, int second);

// The packed local date/time of an instant.
uint32_t fileTimeToDos(uint64_t fileTime);
uint32_t unixTimeToDos(int64_t seconds);
uint32_t macDateToDos(uint32_t macDate);

// "time date" for a packed value, such as "7:00:00 AM Friday, January 1,
// 1999", in one shared buffer of 200 characters overwritten by every call.
// Empty for a packed value that names no valid date and time.
const char* formatDosDateTime(uint32_t packed);

}  // namespace verrin
