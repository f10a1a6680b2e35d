// Size texts, digit grouping, and the HFS date / file time / DOS date
// conversions through the local time zone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "base/format.h"
#include "hfs/hfs.h"
#include "support/timezone.h"

using namespace verrin;
using verrin::testsupport::ScopedTimeZone;

TEST(SizeFormat, UnitsAndWidths)
{
    EXPECT_EQ(formatSize(0), "   0");
    EXPECT_EQ(formatSize(9999), "9999");
    EXPECT_EQ(formatSize(10000), " 10K");
    EXPECT_EQ(formatSize(1022976), "999K");
    EXPECT_EQ(formatSize(1022977), "1.0M");
    EXPECT_EQ(formatSize(1474560), "1.4M");
    EXPECT_EQ(formatSize(10380902), "9.9M");
    EXPECT_EQ(formatSize(10485760), " 10M");
    EXPECT_EQ(formatSize(1047527424), "999M");
    EXPECT_EQ(formatSize(2147483648.0), "2.0G");
    // The whole-number G form starts only above 9.9 x 2^40.
    EXPECT_EQ(formatSize(107374182400.0), "100.0G");
    EXPECT_EQ(formatSize(20000000000000.0), "18626G");
    // Four characters for any size a list column shows.
    for (double v : {1.0, 999.0, 50000.0, 5e6, 5e8, 4294967295.0}) EXPECT_EQ(formatSize(v).size(), 4u) << v;
}

// The texts are printf's, rounding included: every range's edges, exact
// halves (which round to the even digit) and sizes spread over all ranges.
TEST(SizeFormat, RoundsAsPrintfDoes)
{
    const auto printed = [](double v) {
        char text[64];
        if (v > 10885165114982.4) std::snprintf(text, sizeof text, "%3.0lfG", v / 1073741824.0);
        else if (v > 1047527424.0) std::snprintf(text, sizeof text, "%1.1lfG", v / 1073741824.0);
        else if (v > 10380902.4) std::snprintf(text, sizeof text, "%3.0lfM", v / 1048576.0);
        else if (v > 1022976.0) std::snprintf(text, sizeof text, "%1.1lfM", v / 1048576.0);
        else if (v > 9999.0) std::snprintf(text, sizeof text, "%3.0lfK", v / 1024.0);
        else std::snprintf(text, sizeof text, "%4.0lf", v);
        return std::string(text);
    };
    std::vector<double> sizes;
    for (double edge : {9999.0, 1022976.0, 10380902.0, 1047527424.0, 10885165114982.0})
        for (double d = -2; d <= 2; ++d) sizes.push_back(edge + d);
    // Odd multiples of 2^9, 2^18, 2^19, 2^28, 2^29 end in an exact half of
    // the last digit shown in K, in M with and without a decimal, in G.
    for (double odd = 1; odd < 20000; odd += 2)
        for (int power : {9, 18, 19, 28, 29}) sizes.push_back(std::ldexp(odd, power));
    std::srand(15);
    for (int i = 0; i < 3000; ++i)
        sizes.push_back(std::floor(std::ldexp(static_cast<double>(std::rand()) / RAND_MAX, i % 45)));
    for (double v : sizes) EXPECT_EQ(formatSize(v), printed(v)) << v;
}

TEST(SizeFormat, GroupThousands)
{
    EXPECT_EQ(groupThousands("123"), "123");
    EXPECT_EQ(groupThousands("1234"), "1,234");
    EXPECT_EQ(groupThousands("1234567"), "1,234,567");
    EXPECT_EQ(groupThousands("4294967295"), "4,294,967,295");
    EXPECT_EQ(groupThousands("12345678901"), "12,345,678,901");
    EXPECT_EQ(groupThousands("123456789012"), "123456789012");  // too long: left alone
    char text[16] = "4294967295";
    groupThousands(text, sizeof text);
    EXPECT_STREQ(text, "4,294,967,295");
    char tight[8] = "1234567";
    groupThousands(tight, sizeof tight);  // would not fit: unchanged, no overrun
    EXPECT_STREQ(tight, "1234567");
}

// HFS dates are local wall-clock times: each instant converts through the
// zone's offset at that instant, both ways.
TEST(DateConversion, LocalWallClockBothWays)
{
    {
        // At UTC-7 the offset is 2082819600 seconds; date 0 is then
        // 1904-01-01 07:00 UTC.
        ScopedTimeZone zone("MST7");
        EXPECT_EQ(unixToMacDate(0), 2082819600u);
        EXPECT_EQ(macDateToUnix(2082819600u), 0);
        EXPECT_EQ(macDateToFileTime(0), fileTimeOf1904 + 25200ull * 10000000ull);
    }
    const int64_t july = 1688212800;  // 2023-07-01 12:00 UTC
    {
        ScopedTimeZone zone("JST-9");
        EXPECT_EQ(unixToMacDate(july), uint32_t(july + secondsFrom1904To1970 + 9 * 3600));
    }
#ifndef _WIN32
    // (Windows' C library takes only the offset from a TZ variable; its
    // daylight saving comes from the system's own zone.)
    {
        // Daylight saving: seven hours behind in July, eight in January.
        const int64_t january = 1673784000;  // 2023-01-15 12:00 UTC
        ScopedTimeZone zone("PST8PDT");
        for (const int64_t t : {january, july}) {
            const uint32_t date = unixToMacDate(t);
            const int64_t hours = t == july ? 7 : 8;
            EXPECT_EQ(date, uint32_t(t + secondsFrom1904To1970 - hours * 3600)) << t;
            EXPECT_EQ(macDateToUnix(date), t);
            // The wall clock packs as it stands: 05:00 in July, 04:00 in January.
            EXPECT_EQ(macDateToDos(date) >> 11 & 31, uint32_t(12 - hours)) << t;
        }
    }
#endif
    // The range of HFS dates holds the result.
    EXPECT_EQ(unixToMacDate(-secondsFrom1904To1970 - 86400 * 2), 0u);
    EXPECT_EQ(unixToMacDate(int64_t{1} << 33), UINT32_MAX);
}

// Whatever the time zone: the conversions agree, and instants outside the
// DOS range give its nearest end instead of garbage.
TEST(DateConversion, DosRangeAndConsistency)
{
    const uint32_t mac = unixToMacDate(981173106);
    EXPECT_EQ(macDateToDos(mac), fileTimeToDos(macDateToFileTime(mac)));
    EXPECT_EQ(macDateToDos(0), 0x00210000u);  // 1904: before 1980
    EXPECT_EQ(macDateToDos(0xFFFFFFFFu) >> 25, 60u);  // the last HFS date, in 2040, fits
    const uint32_t packed = macDateToDos(mac);
    EXPECT_EQ(packed >> 25, 21u);  // 2001
    const std::string text = formatDosDateTime(packDosDateTime(2001, 2, 3, 14, 5, 6));
    EXPECT_NE(text.find("2001"), std::string::npos) << text;
    EXPECT_STREQ(formatDosDateTime(0), "");
}

#ifndef _WIN32
TEST(DateConversion, DosPackingInLocalTime)
{
    ScopedTimeZone utc("UTC0");
    // 2001-02-03 04:05:06 UTC.
    const uint32_t mac = unixToMacDate(981173106);
    const uint32_t packed = (21u << 9 | 2u << 5 | 3u) << 16 | (4u << 11 | 5u << 5 | 3u);
    EXPECT_EQ(macDateToDos(mac), packed);
    EXPECT_EQ(fileTimeToDos(macDateToFileTime(mac)), packed);
    EXPECT_EQ(unixTimeToDos(981173106), packed);
    // Outside the DOS range: the nearest representable instant.
    EXPECT_EQ(macDateToDos(0), packDosDateTime(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(macDateToDos(0), 0x00210000u);
    EXPECT_EQ(unixTimeToDos(4500000000ll), packDosDateTime(2107, 12, 31, 23, 59, 58));

    EXPECT_STREQ(formatDosDateTime(packed), "4:05:06 AM Saturday, February 3, 2001");
    EXPECT_STREQ(formatDosDateTime(packDosDateTime(2024, 2, 29, 0, 0, 0)), "12:00:00 AM Thursday, February 29, 2024");
    EXPECT_STREQ(formatDosDateTime(packDosDateTime(1999, 12, 31, 23, 59, 58)), "11:59:58 PM Friday, December 31, 1999");
    EXPECT_STREQ(formatDosDateTime(0), "");  // month 0: no date
    EXPECT_STREQ(formatDosDateTime(packDosDateTime(2023, 2, 29, 0, 0, 0)), "");
}

// Instants a minute apart across the changes of daylight saving convert as
// the C library's local time gives them, each right after its neighbour
// (whose hour's offset is kept): in zones that change on the UTC hour and in
// one that changes within it, one zone after another at the same instants.
TEST(DateConversion, KeptOffsetsFollowTheChangesOfTheZone)
{
    const int64_t spring = 1774746000, autumn = 1792890000;  // 2026-03-29 and 2026-10-25, 01:00 UTC
    for (const char* name : {"Europe/Berlin", "CET-1CEST,M3.5.0,M10.5.0/3", "XST-1XDT,M3.5.0/2:30,M10.5.0/3:30"}) {
        ScopedTimeZone zone(name);
        for (const int64_t change : {spring, autumn})
            for (int64_t t = change - 7200; t <= change + 7200; t += 59) {
                const std::time_t at = static_cast<std::time_t>(t);
                std::tm local{};
                ASSERT_TRUE(localtime_r(&at, &local));
                const int64_t wall = static_cast<int64_t>(timegm(&local));
                EXPECT_EQ(unixToMacDate(t), static_cast<uint32_t>(wall + secondsFrom1904To1970)) << name << " " << t;
                EXPECT_EQ(unixTimeToDos(t), packDosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                                            local.tm_hour, local.tm_min, local.tm_sec))
                    << name << " " << t;
            }
    }
}
#endif
