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
    // Set from calendar fields (proleptic Gregorian).
    clDateTime(int year, int month, int day, int hour, int minute, int second, int millisecond);

    void SetDateTime(int year, int month, int day, int hour, int minute, int second,
                     int millisecond);
    void SetNow();
    void SetMillisecond(int millisecond) { milliseconds_ = millisecond; }

    int GetYear() const;
    int GetMonth() const;
    int GetDay() const;
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
    std::int32_t dayNumber_ = 0;
    std::int32_t seconds_ = 0;
    std::int32_t milliseconds_ = 0;
};
