#pragma once
// The system's own date-time value: a Julian Day Number, the seconds of the day and the
// milliseconds, with no time zone.

#include <array>
#include <cstdint>
#include <string_view>

// A timestamp text held by value in a fixed buffer, so that no reader can see it overwritten.
struct clDateTimeText {
    std::array<char, 32> chars{};
    const char* c_str() const { return chars.data(); }
    std::string_view view() const { return std::string_view(chars.data()); }
};

class clDateTime {
  public:
    // Zeroed, then set to the local wall clock.
    clDateTime();
    // Set from calendar fields (proleptic Gregorian). Inline, so that a constant date (the
    // default of a record field) costs nothing at run time.
    constexpr clDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
        SetDateTime(year, month, day, hour, minute, second, millisecond);
    }

    constexpr void SetDateTime(int year, int month, int day, int hour, int minute, int second,
                               int millisecond) {
        // Fields far outside their ranges (only a damaged file holds them) wrap to 32 bits
        // rather than overflow.
        dayNumber_ = static_cast<std::int32_t>(DayNumberOf(year, month, day));
        seconds_ = static_cast<std::int32_t>(std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 +
                                             std::int64_t{second});
        milliseconds_ = millisecond;
    }
    void SetNow();
    void SetMillisecond(int millisecond) { milliseconds_ = millisecond; }

    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
    // The three calendar fields from one conversion of the day number, the same as the getters
    // above give, for callers that need them all (writing a timestamp).
    void GetDate(int& year, int& month, int& day) const;
    int GetHour() const { return seconds_ / 3600; }
    int GetMinute() const { return seconds_ % 3600 / 60; }
    int GetSecond() const { return seconds_ % 60; }
    int GetMillisecond() const { return milliseconds_; }

    std::int32_t DayNumber() const { return dayNumber_; }
    std::int32_t SecondsOfDay() const { return seconds_; }

    // "%04d-%02d-%02d %02d:%02d:%02d.%03d"; a day number of 0 prints "0000-00-00".
    clDateTimeText Format() const;

    friend bool operator==(const clDateTime&, const clDateTime&) = default;

  private:
    // Julian Day Number of a proleptic Gregorian date (Fliegel and Van Flandern). There is no
    // year 0: year -1 is the year before year 1. Division truncates toward zero throughout. The
    // arithmetic runs in 64 bits: the fields may come from a damaged file, and no value of a
    // 32-bit field may overflow the intermediate products.
    static constexpr std::int64_t DayNumberOf(std::int64_t year, std::int64_t month,
                                              std::int64_t day) {
        if (year < 0) {
            ++year;
        }
        const std::int64_t a = (month - 14) / 12;
        return day - 32075 + 1461 * (year + 4800 + a) / 4 + 367 * (month - 2 - a * 12) / 12 -
               3 * ((year + 4900 + a) / 100) / 4;
    }

    std::int32_t dayNumber_ = 0;
    std::int32_t seconds_ = 0;
    std::int32_t milliseconds_ = 0;
};
