#include <gtest/gtest.h>
#include <time.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>

#include "model/datetime.h"

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date with astronomical year numbering (year 0
// exists), by a different method than the one under test.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr std::int64_t kJdnOf1970 = 2440588;

bool IsLeap(std::int64_t astronomicalYear) {
    return (astronomicalYear % 4 == 0 && astronomicalYear % 100 != 0) ||
           astronomicalYear % 400 == 0;
}

int DaysIn(std::int64_t astronomicalYear, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(astronomicalYear) ? 29 : kDays[month - 1];
}

std::string PrintfText(const clDateTime& t) {
    char text[128];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.GetYear(),
                  t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute(), t.GetSecond(),
                  t.GetMillisecond());
    return text;
}

}  // namespace

TEST(DateTime, DayNumbersMatchTheCalendarBothWays) {
    EXPECT_EQ(clDateTime(2000, 1, 1, 0, 0, 0, 0).DayNumber(), 2451545);
    EXPECT_EQ(clDateTime(1752, 9, 14, 0, 0, 0, 0).DayNumber(), 2361222);
    EXPECT_EQ(clDateTime(1970, 1, 1, 0, 0, 0, 0).DayNumber(), kJdnOf1970);

    // Every day from 4000 BC to AD 4000: the day number is the independent count, and the
    // calendar fields come back. Year 0 does not exist: 1 BC is year -1.
    std::int64_t checked = 0;
    for (int year = -4000; year <= 4000; ++year) {
        if (year == 0) {
            continue;
        }
        const std::int64_t astronomical = year < 0 ? year + 1 : year;
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= DaysIn(astronomical, month); ++day) {
                const clDateTime t(year, month, day, 0, 0, 0, 0);
                const std::int64_t expected =
                    DaysFromCivil(astronomical, static_cast<unsigned>(month),
                                  static_cast<unsigned>(day)) +
                    kJdnOf1970;
                ASSERT_EQ(t.DayNumber(), expected) << year << "-" << month << "-" << day;
                ASSERT_EQ(t.GetYear(), year);
                ASSERT_EQ(t.GetMonth(), month);
                ASSERT_EQ(t.GetDay(), day);
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 2900000);
    // 1 BC and AD 1 are neighbours.
    EXPECT_EQ(clDateTime(1, 1, 1, 0, 0, 0, 0).DayNumber(),
              clDateTime(-1, 12, 31, 0, 0, 0, 0).DayNumber() + 1);
}

TEST(DateTime, GetDateGivesTheGettersFieldsForAnyDayNumber) {
    // GetDate takes a faster way for the day numbers of sensible dates and the general one
    // elsewhere; both must give what the three getters give, across the border between them.
    const auto differs = [](std::int64_t dayNumber) {
        const clDateTime t(2000, 1, static_cast<int>(dayNumber - 2451545 + 1), 0, 0, 0, 0);
        int year = 0;
        int month = 0;
        int day = 0;
        t.GetDate(year, month, day);
        return t.DayNumber() != dayNumber || year != t.GetYear() || month != t.GetMonth() ||
               day != t.GetDay();
    };
    const std::pair<std::int64_t, std::int64_t> ranges[] = {
        {-200'000, 6'000'000},                      // 4714 BC to AD 11,700 and around day 0
        {99'990'000, 100'010'000},                  // the end of the faster way
        {1'063'470'000, 1'063'490'000},             // where the faster formula stops holding
        {std::int64_t{INT_MAX} - 10'000, INT_MAX},  // the largest day numbers
        {std::int64_t{INT_MIN} + 2451545, std::int64_t{INT_MIN} + 2461545},  // the smallest
    };
    for (const auto& [first, last] : ranges) {
        for (std::int64_t n = first; n <= last; ++n) {
            if (differs(n)) {
                FAIL() << "day number " << n;
            }
        }
    }
}

TEST(DateTime, TimeOfDayFieldsAndText) {
    const clDateTime t(2024, 3, 1, 12, 34, 56, 250);
    EXPECT_EQ(t.SecondsOfDay(), 12 * 3600 + 34 * 60 + 56);
    EXPECT_EQ(t.GetHour(), 12);
    EXPECT_EQ(t.GetMinute(), 34);
    EXPECT_EQ(t.GetSecond(), 56);
    EXPECT_EQ(t.GetMillisecond(), 250);
    EXPECT_STREQ(t.Format().c_str(), "2024-03-01 12:34:56.250");
    EXPECT_EQ(clDateTime(2000, 1, 1, 0, 0, 0, 0).Format().view(), "2000-01-01 00:00:00.000");
    EXPECT_EQ(clDateTime(9999, 12, 31, 23, 59, 59, 999).Format().view(), "9999-12-31 23:59:59.999");
    EXPECT_EQ(clDateTime(-1, 12, 31, 1, 2, 3, 4).Format().view(), "-001-12-31 01:02:03.004");

    clDateTime withMs(2024, 3, 1, 12, 0, 0, 0);
    withMs.SetMillisecond(7);
    EXPECT_EQ(withMs.Format().view(), "2024-03-01 12:00:00.007");

    // Day number 0 is "no date". The formula is linear in the day, so this lands on it.
    const clDateTime noDate(2000, 1, 1 - 2451545, 0, 0, 0, 0);
    ASSERT_EQ(noDate.DayNumber(), 0);
    EXPECT_EQ(noDate.GetYear(), 0);
    EXPECT_EQ(noDate.GetMonth(), 0);
    EXPECT_EQ(noDate.GetDay(), 0);
    EXPECT_EQ(noDate.Format().view(), "0000-00-00 00:00:00.000");

    // Texts are values: one does not change under another.
    const clDateTimeText first = clDateTime(2001, 2, 3, 4, 5, 6, 7).Format();
    const clDateTimeText second = clDateTime(2011, 12, 13, 14, 15, 16, 17).Format();
    EXPECT_EQ(first.view(), "2001-02-03 04:05:06.007");
    EXPECT_EQ(second.view(), "2011-12-13 14:15:16.017");
}

TEST(DateTime, AnyFieldsFromADamagedFileGiveABoundedTextWithoutOverflow) {
    // Fields read from a file may hold any 32-bit value; nothing overflows and the text is
    // what printf would print, cut to the buffer.
    std::mt19937 random(12345);
    std::uniform_int_distribution<std::int32_t> any(INT_MIN, INT_MAX);
    const std::int32_t extremes[] = {INT_MIN, INT_MIN + 1, -1, 0, 1, INT_MAX - 1, INT_MAX};
    for (int round = 0; round < 20000; ++round) {
        std::int32_t f[7];
        for (auto& field : f) {
            field = round < 49 ? extremes[(round + (&field - f)) % 7] : any(random);
        }
        const clDateTime t(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
        const clDateTimeText text = t.Format();
        const std::string expected = PrintfText(t).substr(0, text.chars.size() - 1);
        ASSERT_EQ(text.view(), expected);
    }
}

TEST(DateTime, NowIsTheLocalWallClock) {
    const time_t before = time(nullptr);
    const clDateTime now;
    const time_t after = time(nullptr);
    tm local{};
    ASSERT_NE(localtime_r(&before, &local), nullptr);
    const clDateTime expected(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                              local.tm_min, local.tm_sec, 0);
    const std::int64_t diff = (std::int64_t{now.DayNumber()} - expected.DayNumber()) * 86400 +
                              now.SecondsOfDay() - expected.SecondsOfDay();
    EXPECT_GE(diff, 0);
    EXPECT_LE(diff, after - before + 1);
    EXPECT_GE(now.GetMillisecond(), 0);
    EXPECT_LE(now.GetMillisecond(), 999);
}
