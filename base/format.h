// Size and date formatting: the compact size text with a unit letter, digit
// grouping for byte counts, the packed DOS date/time both panes keep their
// dates in, and its text in the user's form.
//
// A packed date/time holds the DOS date word in its upper 16 bits and the
// DOS time word in its lower 16 bits, in local time. HFS dates count
// seconds since 1904-01-01 in local wall-clock time, as Mac OS and every
// other program that reads HFS keep them: an instant becomes a date through
// the machine's time zone at that instant, daylight saving included. Calls
// the C library's time functions, and on Windows the system's file-time and
// locale calls.
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
// Seconds from 1601-01-01 and from 1904-01-01 to 1970-01-01 on the same
// clock, and the file times of 1970 and 1904.
constexpr int64_t secondsFrom1601To1970 = 11644473600;
constexpr int64_t secondsFrom1904To1970 = 2082844800;
constexpr int64_t fileTimeUnitsPerSecond = 10000000;
constexpr int64_t fileTimeOf1970 = secondsFrom1601To1970 * fileTimeUnitsPerSecond;
constexpr uint64_t fileTimeOf1904 = uint64_t{(secondsFrom1601To1970 - secondsFrom1904To1970) * fileTimeUnitsPerSecond};
// Seconds since 1970 (UTC) -> the HFS date of that instant's local wall
// clock, held to the HFS range (1904 to 2040).
uint32_t unixToMacDate(int64_t seconds);
// HFS date -> the instant (seconds since 1970, UTC) whose local wall clock
// shows it. A wall-clock time that occurs twice when the clocks go back
// gives one of the two instants.
int64_t macDateToUnix(uint32_t macDate);
// HFS date -> file time of the same instant.
uint64_t macDateToFileTime(uint32_t macDate);

// Packs calendar fields; out-of-range years clamp to the DOS range
// 1980..2107 (the first or last representable instant).
uint32_t packDosDateTime(int year, int month, int day, int hour, int minute, int second);

// The conversions to local time keep the zone's offsets of recent hours;
// a program that changes its time zone (TZ and tzset) calls this after.
void forgetZoneOffsets();

// The packed local date/time of an instant.
uint32_t fileTimeToDos(uint64_t fileTime);
uint32_t unixTimeToDos(int64_t seconds);
// An HFS date is a local wall-clock time already: its fields, packed.
uint32_t macDateToDos(uint32_t macDate);

// "time date" for a packed value, such as "7:00:00 AM Friday, January 1,
// 1999", in one shared buffer of 200 characters overwritten by every call.
// Empty for a packed value that names no valid date and time.
const char* formatDosDateTime(uint32_t packed);

}  // namespace verrin
