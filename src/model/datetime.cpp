#include "model/datetime.h"

#include <time.h>

#include <cstddef>

namespace {

struct CalendarDate {
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
};

// The inverse of clDateTime::DayNumberOf, in 64 bits for the same reason; day number 0 stands
// for no date and gives zeros.
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

// The day numbers FastDateOf serves: from late 4714 BC to about AD 269,000, every date a record
// can sensibly hold. It agrees with DateOf from day number -68569 to 1063482989.
constexpr std::int32_t kFastFirst = 1;
constexpr std::int32_t kFastLast = 100'000'000;

// DateOf for day numbers from kFastFirst to kFastLast, by multiplications and shifts in 32 and
// 64 bits (the Euclidean affine functions of Neri and Schneider) instead of a chain of 64-bit
// divisions: writing a large configuration converts a timestamp for every history sample.
CalendarDate FastDateOf(std::int32_t dayNumber) {
    // The day count is shifted by 82 cycles of 400 years so that it stays positive, and the
    // year starts in March so that a leap day is the last day of its year.
    constexpr std::uint32_t kCycles = 82;
    constexpr std::uint32_t kShift = 719468 + 146097 * kCycles;  // 0000-03-01 and the cycles
    constexpr std::uint32_t kJdnOf1970 = 2440588;
    const std::uint32_t n = static_cast<std::uint32_t>(dayNumber) - kJdnOf1970 + kShift;
    // Century, and the day within it.
    const std::uint32_t n1 = 4 * n + 3;
    const std::uint32_t century = n1 / 146097;
    const std::uint32_t dayOfCentury = n1 % 146097 / 4;
    // Year within the century, and the day within the year.
    const std::uint64_t p2 = std::uint64_t{2939745} * (4 * dayOfCentury + 3);
    const std::uint32_t yearOfCentury = static_cast<std::uint32_t>(p2 >> 32);
    const std::uint32_t dayOfYear = static_cast<std::uint32_t>(p2) / 2939745 / 4;
    // Month (March = 3) and day.
    const std::uint32_t n3 = 2141 * dayOfYear + 197913;
    const std::uint32_t month = n3 >> 16;
    const std::uint32_t day = (n3 & 0xFFFF) / 2141 + 1;
    // January and February belong to the next year.
    const std::uint32_t next = dayOfYear >= 306 ? 1 : 0;
    std::int32_t year = static_cast<std::int32_t>(100 * century + yearOfCentury - 400 * kCycles) +
                        static_cast<std::int32_t>(next);
    if (year <= 0) {
        --year;  // no year 0
    }
    return {year, static_cast<std::int32_t>(next != 0 ? month - 12 : month),
            static_cast<std::int32_t>(day)};
}

CalendarDate DateOfAny(std::int32_t dayNumber) {
    return dayNumber >= kFastFirst && dayNumber <= kFastLast ? FastDateOf(dayNumber)
                                                             : DateOf(dayNumber);
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

void clDateTime::GetDate(int& year, int& month, int& day) const {
    const CalendarDate date = DateOfAny(dayNumber_);
    year = date.year;
    month = date.month;
    day = date.day;
}

clDateTimeText clDateTime::Format() const {
    const CalendarDate date = DateOfAny(dayNumber_);
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
