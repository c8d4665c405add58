#include "model/datetime.h"

#include <time.h>

#include <cstddef>

namespace {

// The calendar arithmetic runs in 64 bits: the fields may come from a damaged file, and no value
// of a 32-bit field may overflow the intermediate products.

// Julian Day Number of a proleptic Gregorian date (Fliegel and Van Flandern). There is no year
// 0: year -1 is the year before year 1. Division truncates toward zero throughout.
std::int64_t DayNumberOf(std::int64_t year, std::int64_t month, std::int64_t day) {
    if (year < 0) {
        ++year;
    }
    const std::int64_t a = (month - 14) / 12;
    return day - 32075 + 1461 * (year + 4800 + a) / 4 + 367 * (month - 2 - a * 12) / 12 -
           3 * ((year + 4900 + a) / 100) / 4;
}

struct CalendarDate {
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
};

// The inverse of DayNumberOf; day number 0 stands for no date and gives zeros.
CalendarDate DateOf(std::int32_t dayNumber) {
    if (dayNumber == 0) {
        return {};
    }
    std::int64_t l = std::int64_t{dayNumber} + 68569;
    const std::int64_t n = 4 * l / 146097;
    l = l - (146097 * n + 3) / 4;
    const std::int64_t i = 4000 * (l + 1) / 1461001;
    l = l - 1461 * i / 4 + 31;
    const std::int64_t j = 80 * l / 2447;
    const std::int64_t day = l - 2447 * j / 80;
    l = j / 11;
    const std::int64_t month = j + 2 - 12 * l;
    std::int64_t year = 100 * (n - 49) + i + l;
    if (year <= 0) {
        --year;
    }
    return {static_cast<std::int32_t>(year), static_cast<std::int32_t>(month),
            static_cast<std::int32_t>(day)};
}

// Appends decimal text to a fixed buffer, always leaving room for the terminator; text that
// does not fit is cut (only fields far outside their ranges can get there).
class TextWriter {
  public:
    explicit TextWriter(decltype(clDateTimeText::chars)& chars) : chars_(chars) {}
    ~TextWriter() { chars_[pos_] = '\0'; }

    void Char(char c) {
        if (pos_ + 1 < chars_.size()) {
            chars_[pos_++] = c;
        }
    }

    // As "%0<width>d" prints: the sign, then the digits padded with zeros to the width.
    void Number(std::int32_t value, int width) {
        std::uint32_t magnitude = static_cast<std::uint32_t>(value);
        if (value < 0) {
            Char('-');
            magnitude = 0u - magnitude;
            --width;
        }
        char digits[10];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0);
        for (int pad = width - count; pad > 0; --pad) {
            Char('0');
        }
        while (count > 0) {
            Char(digits[--count]);
        }
    }

  private:
    decltype(clDateTimeText::chars)& chars_;
    std::size_t pos_ = 0;
};

}  // namespace

clDateTime::clDateTime() {
    SetNow();
}

clDateTime::clDateTime(int year, int month, int day, int hour, int minute, int second,
                       int millisecond) {
    SetDateTime(year, month, day, hour, minute, second, millisecond);
}

void clDateTime::SetDateTime(int year, int month, int day, int hour, int minute, int second,
                             int millisecond) {
    // Fields far outside their ranges (only a damaged file holds them) wrap to 32 bits rather
    // than overflow.
    dayNumber_ = static_cast<std::int32_t>(DayNumberOf(year, month, day));
    seconds_ = static_cast<std::int32_t>(std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 +
                                         std::int64_t{second});
    milliseconds_ = millisecond;
}

void clDateTime::SetNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    if (localtime_r(&now.tv_sec, &local) == nullptr) {
        return;
    }
    // A leap second (second 60) counts as the last second of its minute, so the seconds of the
    // day stay within one day.
    const int second = local.tm_sec < 59 ? local.tm_sec : 59;
    SetDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                second, static_cast<int>(now.tv_nsec / 1000000));
}

int clDateTime::GetYear() const {
    return DateOf(dayNumber_).year;
}
int clDateTime::GetMonth() const {
    return DateOf(dayNumber_).month;
}
int clDateTime::GetDay() const {
    return DateOf(dayNumber_).day;
}

clDateTimeText clDateTime::Format() const {
    const CalendarDate date = DateOf(dayNumber_);
    clDateTimeText text;
    {
        TextWriter out(text.chars);
        out.Number(date.year, 4);
        out.Char('-');
        out.Number(date.month, 2);
        out.Char('-');
        out.Number(date.day, 2);
        out.Char(' ');
        out.Number(GetHour(), 2);
        out.Char(':');
        out.Number(GetMinute(), 2);
        out.Char(':');
        out.Number(GetSecond(), 2);
        out.Char('.');
        out.Number(GetMillisecond(), 3);
    }
    return text;
}
