#include "com/oledate.h"

#include <cmath>
#include <cstdint>

namespace {

using Days = std::int64_t;  // days since 1970-01-01 in the proleptic Gregorian calendar

struct CivilDate {
    std::int64_t year;
    unsigned month;  // 1 to 12
    unsigned day;    // 1 to 31
};

constexpr Days DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<Days>(dayOfEra) - 719468;
}

constexpr CivilDate CivilFromDays(Days days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned shifted = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * shifted + 2) / 5 + 1;
    const unsigned month = shifted < 10 ? shifted + 3 : shifted - 9;
    return {static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

constexpr WORD DayOfWeek(Days days) {
    // 1970-01-01 was a Thursday.
    return static_cast<WORD>(((days % 7) + 11) % 7);
}

constexpr bool IsLeapYear(std::int64_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

constexpr unsigned DaysInMonth(std::int64_t year, unsigned month) {
    constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

constexpr Days kOleEpoch = DaysFromCivil(1899, 12, 30);
constexpr Days kFileTimeEpoch = DaysFromCivil(1601, 1, 1);
// Day numbers of 100-01-01 and 9999-12-31 relative to the OLE epoch.
constexpr Days kFirstOleDay = DaysFromCivil(100, 1, 1) - kOleEpoch;
constexpr Days kLastOleDay = DaysFromCivil(9999, 12, 31) - kOleEpoch;
static_assert(kFirstOleDay == -657434 && kLastOleDay == 2958465);

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::uint64_t kTicksPerMillisecond = 10'000;
constexpr std::uint64_t kTicksPerDay = kTicksPerMillisecond * 1000 * kSecondsPerDay;
constexpr std::uint64_t kLargestFileTime = 0x7FFF'FFFF'FFFF'FFFF;

void FillCalendar(Days days, SYSTEMTIME& st) {
    const CivilDate date = CivilFromDays(days);
    st.wYear = static_cast<WORD>(date.year);
    st.wMonth = static_cast<WORD>(date.month);
    st.wDay = static_cast<WORD>(date.day);
    st.wDayOfWeek = DayOfWeek(days);
}

void FillClock(std::int64_t seconds, SYSTEMTIME& st) {
    st.wHour = static_cast<WORD>(seconds / 3600);
    st.wMinute = static_cast<WORD>(seconds % 3600 / 60);
    st.wSecond = static_cast<WORD>(seconds % 60);
}

}  // namespace

HRESULT VarUdateFromDate(DATE dateIn, ULONG /*dwFlags*/, UDATE* pudateOut) {
    if (pudateOut == nullptr || !std::isfinite(dateIn)) {
        return E_INVALIDARG;
    }
    if (dateIn <= static_cast<double>(kFirstOleDay) - 1.0 ||
        dateIn >= static_cast<double>(kLastOleDay) + 1.0) {
        return E_INVALIDARG;
    }
    // The integer part is the day, counted from the epoch in either direction; the fraction
    // is always the time since that day's midnight.
    const double whole = std::trunc(dateIn);
    Days day = static_cast<Days>(whole);
    auto seconds = static_cast<std::int64_t>(std::floor(std::fabs(dateIn - whole) * 86400.0 + 0.5));
    if (seconds >= kSecondsPerDay) {
        seconds -= kSecondsPerDay;
        ++day;
    }
    if (day > kLastOleDay) {
        return E_INVALIDARG;
    }
    const Days days = day + kOleEpoch;
    UDATE out;
    FillCalendar(days, out.st);
    FillClock(seconds, out.st);
    out.st.wMilliseconds = 0;
    out.wDayOfYear = static_cast<USHORT>(days - DaysFromCivil(out.st.wYear, 1, 1) + 1);
    *pudateOut = out;
    return S_OK;
}

HRESULT VarDateFromUdate(const UDATE* pudateIn, ULONG /*dwFlags*/, DATE* pdateOut) {
    if (pudateIn == nullptr || pdateOut == nullptr) {
        return E_INVALIDARG;
    }
    const SYSTEMTIME& st = pudateIn->st;
    // Two-digit years fall in 1930 to 2029.
    std::int64_t year = st.wYear;
    if (year < 30) {
        year += 2000;
    } else if (year < 100) {
        year += 1900;
    }
    // Fields beyond their range carry into the next larger one (month 13 is January of the
    // next year, day 0 the last day of the previous month, hour 24 the next day).
    std::int64_t seconds = st.wHour * std::int64_t{3600} + st.wMinute * 60 + st.wSecond;
    Days extraDays = seconds / kSecondsPerDay;
    seconds %= kSecondsPerDay;
    const std::int64_t monthIndex = std::int64_t{st.wMonth} - 1;
    year += monthIndex >= 0 ? monthIndex / 12 : -1;
    const auto month = static_cast<unsigned>(monthIndex >= 0 ? monthIndex % 12 + 1 : 12);
    const Days day = DaysFromCivil(year, month, 1) + st.wDay - 1 + extraDays - kOleEpoch;
    if (day < kFirstOleDay || day > kLastOleDay) {
        return E_INVALIDARG;
    }
    // Milliseconds are not kept: dates resolve to the second.
    const double time = static_cast<double>(seconds) / kSecondsPerDay;
    const auto date = static_cast<double>(day);
    *pdateOut = day < 0 ? date - time : date + time;
    return S_OK;
}

BOOL FileTimeToSystemTime(const FILETIME* lpFileTime, SYSTEMTIME* lpSystemTime) {
    if (lpFileTime == nullptr || lpSystemTime == nullptr) {
        return FALSE;
    }
    const std::uint64_t ticks =
        (std::uint64_t{lpFileTime->dwHighDateTime} << 32) | lpFileTime->dwLowDateTime;
    if (ticks > kLargestFileTime) {
        return FALSE;
    }
    const std::uint64_t inDay = ticks % kTicksPerDay;
    SYSTEMTIME st;
    FillCalendar(static_cast<Days>(ticks / kTicksPerDay) + kFileTimeEpoch, st);
    FillClock(static_cast<std::int64_t>(inDay / (kTicksPerMillisecond * 1000)), st);
    st.wMilliseconds = static_cast<WORD>(inDay / kTicksPerMillisecond % 1000);
    *lpSystemTime = st;
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* lpSystemTime, FILETIME* lpFileTime) {
    if (lpSystemTime == nullptr || lpFileTime == nullptr) {
        return FALSE;
    }
    const SYSTEMTIME& st = *lpSystemTime;
    if (st.wYear < 1601 || st.wYear > 30827 || st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 ||
        st.wDay > DaysInMonth(st.wYear, st.wMonth) || st.wHour > 23 || st.wMinute > 59 ||
        st.wSecond > 59 || st.wMilliseconds > 999) {
        return FALSE;
    }
    const auto days =
        static_cast<std::uint64_t>(DaysFromCivil(st.wYear, st.wMonth, st.wDay) - kFileTimeEpoch);
    const std::uint64_t milliseconds =
        ((st.wHour * 60ULL + st.wMinute) * 60 + st.wSecond) * 1000 + st.wMilliseconds;
    const std::uint64_t ticks = days * kTicksPerDay + milliseconds * kTicksPerMillisecond;
    lpFileTime->dwLowDateTime = static_cast<DWORD>(ticks);
    lpFileTime->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return TRUE;
}
