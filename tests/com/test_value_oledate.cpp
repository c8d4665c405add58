#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "com/oledate.h"

namespace {

struct Fields {
    int year, month, day, hour, minute, second;
};

::testing::AssertionResult DateIs(DATE date, const Fields& want) {
    UDATE u;
    const HRESULT hr = VarUdateFromDate(date, 0, &u);
    if (FAILED(hr)) {
        return ::testing::AssertionFailure() << date << " failed with " << hr;
    }
    const Fields got{u.st.wYear, u.st.wMonth, u.st.wDay, u.st.wHour, u.st.wMinute, u.st.wSecond};
    if (got.year != want.year || got.month != want.month || got.day != want.day ||
        got.hour != want.hour || got.minute != want.minute || got.second != want.second ||
        u.st.wMilliseconds != 0) {
        return ::testing::AssertionFailure()
               << date << " gave " << got.year << "-" << got.month << "-" << got.day << " "
               << got.hour << ":" << got.minute << ":" << got.second;
    }
    return ::testing::AssertionSuccess();
}

TEST(ValueOleDate, CalendarFieldsOfDates) {
    EXPECT_TRUE(DateIs(45000.5, {2023, 3, 15, 12, 0, 0}));
    EXPECT_TRUE(DateIs(0.0, {1899, 12, 30, 0, 0, 0}));
    // Before the epoch the day counts backwards but the time still runs forward.
    EXPECT_TRUE(DateIs(-1.25, {1899, 12, 29, 6, 0, 0}));
    EXPECT_TRUE(DateIs(-0.5, {1899, 12, 30, 12, 0, 0}));
    EXPECT_TRUE(DateIs(-2.75, {1899, 12, 28, 18, 0, 0}));
    // 1900 is not a leap year, 2000 and 2024 are.
    EXPECT_TRUE(DateIs(60.0, {1900, 2, 28, 0, 0, 0}));
    EXPECT_TRUE(DateIs(61.0, {1900, 3, 1, 0, 0, 0}));
    EXPECT_TRUE(DateIs(36585.0, {2000, 2, 29, 0, 0, 0}));
    EXPECT_TRUE(DateIs(45351.0, {2024, 2, 29, 0, 0, 0}));
    EXPECT_TRUE(DateIs(-657434.0, {100, 1, 1, 0, 0, 0}));
    EXPECT_TRUE(DateIs(2958465.0, {9999, 12, 31, 0, 0, 0}));

    UDATE u;
    ASSERT_EQ(VarUdateFromDate(45000.5, 0, &u), S_OK);
    EXPECT_EQ(u.st.wDayOfWeek, 3);  // Wednesday
    EXPECT_EQ(u.wDayOfYear, 74);
    ASSERT_EQ(VarUdateFromDate(0.0, 0, &u), S_OK);
    EXPECT_EQ(u.st.wDayOfWeek, 6);  // Saturday
    EXPECT_EQ(u.wDayOfYear, 364);
    ASSERT_EQ(VarUdateFromDate(45657.0, 0, &u), S_OK);  // 2024-12-31
    EXPECT_EQ(u.wDayOfYear, 366);
}

TEST(ValueOleDate, TimeRoundsToTheNearestSecond) {
    constexpr double kSecond = 1.0 / 86400;
    EXPECT_TRUE(DateIs(0.5 + 0.4 * kSecond, {1899, 12, 30, 12, 0, 0}));
    EXPECT_TRUE(DateIs(0.5 + 0.6 * kSecond, {1899, 12, 30, 12, 0, 1}));
    EXPECT_TRUE(DateIs(10.0 / 24, {1899, 12, 30, 10, 0, 0}));
    // Rounding up past midnight moves to the next day, in both directions from the epoch.
    EXPECT_TRUE(DateIs(1.0 - 0.2 * kSecond, {1899, 12, 31, 0, 0, 0}));
    EXPECT_TRUE(DateIs(-1.0 - (1.0 - 0.2 * kSecond), {1899, 12, 30, 0, 0, 0}));
    UDATE u;
    ASSERT_EQ(VarUdateFromDate(365.0 - 0.2 * kSecond, 0, &u), S_OK);
    EXPECT_EQ(u.st.wDayOfWeek, 0);  // 1900-12-30 is a Sunday
}

TEST(ValueOleDate, OutOfRangeDatesAreRefused) {
    UDATE u;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    for (const double bad : {-657435.0, 2958466.0, 1e300, std::nan(""), kInf, -kInf}) {
        EXPECT_EQ(VarUdateFromDate(bad, 0, &u), E_INVALIDARG) << bad;
    }
    EXPECT_EQ(VarUdateFromDate(-657434.5, 0, &u), S_OK);
    EXPECT_EQ(VarUdateFromDate(2958465.9999999, 0, &u), E_INVALIDARG);  // rounds into 10000
    EXPECT_EQ(VarUdateFromDate(1.0, 0, nullptr), E_INVALIDARG);
}

TEST(ValueOleDate, DateFromUdateIsTheInverse) {
    for (double day = -657434; day <= 2958465; day += 7919) {
        for (const int seconds : {0, 1, 43199, 43200, 86399}) {
            const double time = seconds / 86400.0;
            const DATE date = day < 0 ? day - time : day + time;
            UDATE u;
            ASSERT_EQ(VarUdateFromDate(date, 0, &u), S_OK);
            DATE back = 0;
            ASSERT_EQ(VarDateFromUdate(&u, 0, &back), S_OK);
            EXPECT_EQ(back, date) << day << " " << seconds;
        }
    }
}

TEST(ValueOleDate, DateFromUdateCarriesFieldsOver) {
    const auto dateOf = [](int year, int month, int day, int hour = 0) {
        UDATE u;
        u.st.wYear = static_cast<WORD>(year);
        u.st.wMonth = static_cast<WORD>(month);
        u.st.wDay = static_cast<WORD>(day);
        u.st.wHour = static_cast<WORD>(hour);
        DATE d = -1e9;
        return SUCCEEDED(VarDateFromUdate(&u, 0, &d)) ? d : -1e9;
    };
    EXPECT_EQ(dateOf(2023, 3, 15, 12), 45000.5);
    EXPECT_EQ(dateOf(2022, 15, 15, 12), 45000.5);  // month 15 of 2022
    EXPECT_EQ(dateOf(2023, 3, 0), dateOf(2023, 2, 28));
    EXPECT_EQ(dateOf(2023, 3, 14, 36), 45000.5);
    EXPECT_EQ(dateOf(2023, 0, 1), dateOf(2022, 12, 1));
    EXPECT_EQ(dateOf(23, 3, 15), 45000.0);  // two-digit years
    EXPECT_EQ(dateOf(99, 12, 30), dateOf(1999, 12, 30));
    EXPECT_EQ(dateOf(1899, 12, 29, 6), -1.25);
    EXPECT_EQ(dateOf(10000, 1, 1), -1e9);
    EXPECT_EQ(dateOf(9999, 12, 32), -1e9);
}

FILETIME MakeFileTime(ULONGLONG ticks) {
    return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

TEST(ValueOleDate, FileTimeToCalendarAndBack) {
    // 2024-03-01 12:00:00.250 UTC.
    const FILETIME ft = MakeFileTime(133537680002500000ULL);
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
    EXPECT_EQ(st.wYear, 2024);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 1);
    EXPECT_EQ(st.wDayOfWeek, 5);
    EXPECT_EQ(st.wHour, 12);
    EXPECT_EQ(st.wMinute, 0);
    EXPECT_EQ(st.wSecond, 0);
    EXPECT_EQ(st.wMilliseconds, 250);
    FILETIME back;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &back));
    EXPECT_EQ(back.dwLowDateTime, ft.dwLowDateTime);
    EXPECT_EQ(back.dwHighDateTime, ft.dwHighDateTime);

    const FILETIME zero = MakeFileTime(0);
    ASSERT_TRUE(FileTimeToSystemTime(&zero, &st));
    EXPECT_EQ(st.wYear, 1601);
    EXPECT_EQ(st.wDayOfWeek, 1);  // Monday

    const FILETIME largest = MakeFileTime(0x7FFFFFFFFFFFFFFFULL);
    ASSERT_TRUE(FileTimeToSystemTime(&largest, &st));
    EXPECT_EQ(st.wYear, 30828);
    EXPECT_EQ(st.wMonth, 9);
    EXPECT_EQ(st.wDay, 14);
    EXPECT_EQ(st.wMilliseconds, 477);
    const FILETIME tooLarge = MakeFileTime(0x8000000000000000ULL);
    EXPECT_FALSE(FileTimeToSystemTime(&tooLarge, &st));
}

TEST(ValueOleDate, SystemTimeFieldsAreValidated) {
    const auto valid = [](WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0,
                          WORD ms = 0) {
        SYSTEMTIME st;
        st.wYear = y;
        st.wMonth = mo;
        st.wDay = d;
        st.wHour = h;
        st.wMinute = mi;
        st.wSecond = s;
        st.wMilliseconds = ms;
        FILETIME ft;
        return SystemTimeToFileTime(&st, &ft) == TRUE;
    };
    EXPECT_TRUE(valid(2024, 2, 29, 23, 59, 59, 999));
    EXPECT_TRUE(valid(1601, 1, 1));
    EXPECT_TRUE(valid(30827, 12, 31));
    EXPECT_FALSE(valid(2023, 2, 29));
    EXPECT_FALSE(valid(2024, 4, 31));
    EXPECT_FALSE(valid(2024, 13, 1));
    EXPECT_FALSE(valid(2024, 0, 1));
    EXPECT_FALSE(valid(2024, 1, 0));
    EXPECT_FALSE(valid(1600, 12, 31));
    EXPECT_FALSE(valid(2024, 1, 1, 24));
    EXPECT_FALSE(valid(2024, 1, 1, 0, 60));
    EXPECT_FALSE(valid(2024, 1, 1, 0, 0, 60));
    EXPECT_FALSE(valid(2024, 1, 1, 0, 0, 0, 1000));
}

}  // namespace
