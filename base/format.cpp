// Size and date formatting. See format.h. Calls the C library's time
// functions; on Windows the file-time and locale calls.
#include "base/format.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>

#ifdef _WIN32
#include <windows.h>
#endif

namespace verrin {

namespace {

char dateTimeText[200];

// Sizes are shown in units of 2^10, 2^20 and 2^30 bytes.
constexpr unsigned kiloShift = 10, megaShift = 20, gigaShift = 30;

struct Fields {
    int year, month, day, hour, minute, second;
};

bool unpack(uint32_t packed, Fields& f)
{
    const uint32_t date = packed >> 16;
    const uint32_t time = packed & 0xFFFF;
    f.year = static_cast<int>(1980 + (date >> 9));
    f.month = static_cast<int>((date >> 5) & 15);
    f.day = static_cast<int>(date & 31);
    f.hour = static_cast<int>(time >> 11);
    f.minute = static_cast<int>((time >> 5) & 63);
    f.second = static_cast<int>((time & 31) * 2);
    static constexpr int monthDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > monthDays[f.month - 1]) return false;
    const bool leap = (f.year % 4 == 0 && f.year % 100 != 0) || f.year % 400 == 0;
    if (f.month == 2 && f.day == 29 && !leap) return false;
    return f.hour < 24 && f.minute < 60 && f.second < 60;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and
// back.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

Fields fieldsOfWallClock(int64_t seconds)
{
    int64_t days = seconds / 86400;
    int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t dayOfEra = z - era * 146097;
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t mp = (5 * dayOfYear + 2) / 153;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yearOfEra + era * 400 + (month <= 2);
    Fields f;
    f.year = static_cast<int>(year);
    f.month = static_cast<int>(month);
    f.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    f.hour = static_cast<int>(rest / 3600);
    f.minute = static_cast<int>(rest / 60 % 60);
    f.second = static_cast<int>(rest % 60);
    return f;
}

bool localFields(int64_t seconds, std::tm& out)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
#ifdef _WIN32
    return localtime_s(&out, &t) == 0;
#else
    return localtime_r(&t, &out) != nullptr;
#endif
}

// The local wall clock read as seconds since 1970 less the instant: false
// when the C library cannot convert it.
bool offsetByLibrary(int64_t seconds, int64_t& offset)
{
    std::tm local{};
    if (!localFields(seconds, local)) return false;
    offset = daysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * 86400 + local.tm_hour * 3600 +
             local.tm_min * 60 + local.tm_sec - seconds;
    return true;
}

// The offsets of the last few hours asked for: a copy stamps thousands of
// files with dates of an hour or two, and the C library's conversion is
// costly. An hour is kept only when its first and last second have the same
// offset, so an hour in which the zone changes its offset is always asked
// of the C library (no zone changes its offset twice within an hour).
struct ZoneHour {
    int64_t hour;
    int64_t offset;
    bool known;
};
ZoneHour zoneHours[4];

}  // namespace

void forgetZoneOffsets() { std::fill(std::begin(zoneHours), std::end(zoneHours), ZoneHour{}); }

namespace {

bool cachedOffset(int64_t seconds, int64_t& offset)
{
    const int64_t hour = seconds >= 0 ? seconds / 3600 : -((-seconds + 3599) / 3600);
    ZoneHour& slot = zoneHours[static_cast<uint64_t>(hour) % std::size(zoneHours)];
    if (!slot.known || slot.hour != hour) {
        int64_t first = 0, last = 0;
        if (!offsetByLibrary(hour * 3600, first) || !offsetByLibrary(hour * 3600 + 3599, last) || first != last)
            return false;
        slot = {hour, first, true};
    }
    offset = slot.offset;
    return true;
}

// How far the local wall clock runs ahead of UTC at an instant (negative
// west of Greenwich). The C library of Windows knows no instants before
// 1970: those take the offset of 1970's second day.
int64_t localOffsetAt(int64_t seconds)
{
    int64_t offset = 0;
    if (cachedOffset(seconds, offset) || offsetByLibrary(seconds, offset) || offsetByLibrary(86400, offset))
        return offset;
    return 0;
}

#ifndef _WIN32
// 0 = Sunday, for the proleptic Gregorian calendar.
int weekday(int y, int m, int d)
{
    static constexpr int t[12] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3) --y;
    return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}
#endif

}  // namespace

namespace {

// A whole number of bytes over 2^shift, with one decimal or none, right-aligned
// in `width` and followed by `unit` (0: none), exactly as "%W.1lf" or
// "%W.0lf" prints the quotient: the quotient is exact (a power of two
// divides), and a tie rounds to the even digit as printf rounds it.
std::string scaledText(uint64_t bytes, unsigned shift, bool oneDecimal, size_t width, char unit)
{
    const uint64_t scaled = oneDecimal ? bytes * 10 : bytes;
    uint64_t rounded = scaled >> shift;
    if (shift > 0) {
        const uint64_t rest = scaled & ((uint64_t{1} << shift) - 1);
        const uint64_t half = uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (rounded & 1))) ++rounded;
    }
    char digits[24];
    char* end = std::to_chars(digits, digits + sizeof digits, oneDecimal ? rounded / 10 : rounded).ptr;
    if (oneDecimal) {
        *end++ = '.';
        *end++ = static_cast<char>('0' + rounded % 10);
    }
    if (unit) *end++ = unit;
    const auto length = static_cast<size_t>(end - digits) - (unit ? 1 : 0);
    return std::string(width > length ? width - length : 0, ' ') + std::string(digits, end);
}

}  // namespace

void formatSize(double v, char* out, size_t capacity)
{
    if (capacity == 0) return;
    // Sizes are whole byte counts (a fraction is dropped).
    const uint64_t bytes = v <= 0 ? 0 : v >= 1.8e19 ? UINT64_MAX : static_cast<uint64_t>(v);
    std::string text;
    if (v > 10885165114982.4)
        text = scaledText(bytes, gigaShift, false, 3, 'G');
    else if (v > 1047527424.0)
        text = scaledText(bytes, gigaShift, true, 1, 'G');
    else if (v > 10380902.4)
        text = scaledText(bytes, megaShift, false, 3, 'M');
    else if (v > 1022976.0)
        text = scaledText(bytes, megaShift, true, 1, 'M');
    else if (v > 9999.0)
        text = scaledText(bytes, kiloShift, false, 3, 'K');
    else
        text = scaledText(bytes, 0, false, 4, 0);
    const size_t length = std::min(text.size(), capacity - 1);
    std::memcpy(out, text.data(), length);
    out[length] = '\0';
}

std::string formatSize(double bytes)
{
    char text[64];
    formatSize(bytes, text, sizeof text);
    return text;
}

std::string groupThousands(std::string_view text)
{
    if (text.size() < 4 || text.size() > 11) return std::string(text);
    std::string out;
    const size_t lead = text.size() % 3;
    size_t i = 0;
    if (lead) {
        out.append(text.substr(0, lead));
        i = lead;
    }
    for (; i < text.size(); i += 3) {
        if (!out.empty()) out.push_back(',');
        out.append(text.substr(i, 3));
    }
    return out;
}

void groupThousands(char* text, size_t capacity)
{
    const std::string grouped = groupThousands(std::string_view(text));
    if (grouped.size() + 1 > capacity) return;
    std::memcpy(text, grouped.c_str(), grouped.size() + 1);
}

uint32_t packDosDateTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980) return packDosDateTime(1980, 1, 1, 0, 0, 0);
    if (year > 2107) return packDosDateTime(2107, 12, 31, 23, 59, 58);
    const uint32_t date = static_cast<uint32_t>((year - 1980) << 9 | month << 5 | day);
    const uint32_t time = static_cast<uint32_t>(hour << 11 | minute << 5 | second / 2);
    return date << 16 | time;
}

uint32_t unixTimeToDos(int64_t seconds)
{
    int64_t offset = 0;
    if (cachedOffset(seconds, offset)) {
        const Fields f = fieldsOfWallClock(seconds + offset);
        return packDosDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second);
    }
    std::tm local{};
    if (!localFields(seconds, local)) return packDosDateTime(1980, 1, 1, 0, 0, 0);
    return packDosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                           local.tm_sec);
}

uint32_t fileTimeToDos(uint64_t fileTime)
{
#ifdef _WIN32
    FILETIME utc;
    utc.dwLowDateTime = static_cast<DWORD>(fileTime);
    utc.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    FILETIME local;
    WORD date = 0;
    WORD time = 0;
    if (FileTimeToLocalFileTime(&utc, &local) && FileTimeToDosDateTime(&local, &date, &time))
        return static_cast<uint32_t>(date) << 16 | time;
    // Outside the DOS range: the nearest representable instant.
    return fileTime < 119600064000000000ull ? packDosDateTime(1980, 1, 1, 0, 0, 0)
                                            : packDosDateTime(2107, 12, 31, 23, 59, 58);
#else
    // Instants before 1970 give negative seconds, which localtime takes.
    const int64_t ticks = static_cast<int64_t>(fileTime / uint64_t{fileTimeUnitsPerSecond});
    return unixTimeToDos(ticks - secondsFrom1601To1970);
#endif
}

uint32_t unixToMacDate(int64_t seconds)
{
    const int64_t date = seconds + localOffsetAt(seconds) + secondsFrom1904To1970;
    if (date < 0) return 0;
    if (date > int64_t{UINT32_MAX}) return UINT32_MAX;
    return static_cast<uint32_t>(date);
}

int64_t macDateToUnix(uint32_t macDate)
{
    // The wall clock read as UTC, less the zone's offset; the offset is
    // taken again at the instant first found, which settles dates near a
    // change of daylight saving.
    const int64_t wall = static_cast<int64_t>(macDate) - secondsFrom1904To1970;
    const int64_t guess = wall - localOffsetAt(wall);
    return wall - localOffsetAt(guess);
}

uint64_t macDateToFileTime(uint32_t macDate)
{
    return static_cast<uint64_t>((macDateToUnix(macDate) + secondsFrom1601To1970) * fileTimeUnitsPerSecond);
}

uint32_t macDateToDos(uint32_t macDate)
{
    const Fields f = fieldsOfWallClock(static_cast<int64_t>(macDate) - secondsFrom1904To1970);
    return packDosDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

const char* formatDosDateTime(uint32_t packed)
{
    dateTimeText[0] = '\0';
    Fields f;
    if (!unpack(packed, f)) return dateTimeText;
#ifdef _WIN32
    FILETIME ft;
    SYSTEMTIME st;
    if (!DosDateTimeToFileTime(static_cast<WORD>(packed >> 16), static_cast<WORD>(packed), &ft) ||
        !FileTimeToSystemTime(&ft, &st))
        return dateTimeText;
    int n = GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, dateTimeText, sizeof dateTimeText);
    if (n <= 0) {
        dateTimeText[0] = '\0';
        return dateTimeText;
    }
    size_t used = std::strlen(dateTimeText);
    dateTimeText[used++] = ' ';
    dateTimeText[used] = '\0';
    if (GetDateFormatA(LOCALE_USER_DEFAULT, DATE_LONGDATE, &st, nullptr, dateTimeText + used,
                       static_cast<int>(sizeof dateTimeText - used)) <= 0)
        dateTimeText[used] = '\0';
#else
    // The English default of the system's user locale: "h:mm:ss tt" and
    // "dddd, MMMM d, yyyy".
    static constexpr const char* days[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday",
                                            "Saturday"};
    static constexpr const char* months[12] = {"January", "February", "March",     "April",   "May",      "June",
                                               "July",    "August",   "September", "October", "November", "December"};
    const int hour12 = f.hour % 12 == 0 ? 12 : f.hour % 12;
    std::snprintf(dateTimeText, sizeof dateTimeText, "%d:%02d:%02d %s %s, %s %d, %d", hour12, f.minute, f.second,
                  f.hour < 12 ? "AM" : "PM", days[weekday(f.year, f.month, f.day)], months[f.month - 1], f.day,
                  f.year);
#endif
    return dateTimeText;
}

}  // namespace verrin
