#include "com/number_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "com/hresult.h"

namespace com_detail {
namespace {

// Exponents are read up to this size; anything larger is far beyond every numeric range.
constexpr std::int64_t kExponentLimit = 100'000'000;

// Decimal magnitudes (the value lies in [10^(m-1), 10^m)) beyond which a double overflows,
// and below which it rounds to zero.
constexpr std::int64_t kLargestMagnitude = 310;
constexpr std::int64_t kSmallestMagnitude = -330;

bool IsBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}
bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

int RadixDigit(char16_t c, bool hex) {
    if (c >= u'0' && c <= (hex ? u'9' : u'7')) {
        return c - u'0';
    }
    if (hex && c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    if (hex && c >= u'A' && c <= u'F') {
        return c - u'A' + 10;
    }
    return -1;
}

// Reads the digits after "&H" or "&O"; returns whether any digit was seen.
bool ParseRadixDigits(std::u16string_view text, std::size_t& pos, bool hex, ParsedNumber& out,
                      bool& overflow) {
    const int shift = hex ? 4 : 3;
    bool sawDigit = false;
    while (pos < text.size()) {
        const char16_t c = text[pos];
        const int digit = RadixDigit(c, hex);
        if (digit >= 0) {
            sawDigit = true;
            if ((out.radixValue >> (64 - shift)) != 0) {
                overflow = true;
            } else {
                out.radixValue = (out.radixValue << shift) | static_cast<unsigned>(digit);
            }
        } else if (c != u',') {
            break;
        }
        ++pos;
    }
    return sawDigit;
}

// Reads mantissa and exponent of a decimal number; returns whether any mantissa digit was
// seen, or sets bad for an exponent without digits.
bool ParseDecimalDigits(std::u16string_view text, std::size_t& pos, ParsedNumber& out, bool& bad) {
    bool sawDigit = false;
    bool sawPoint = false;
    while (pos < text.size()) {
        const char16_t c = text[pos];
        if (IsDigit(c)) {
            sawDigit = true;
            if (c == u'0' && out.digitCount == 0) {
                // A leading zero only moves the scale when it follows the point.
                out.power10 -= sawPoint ? 1 : 0;
            } else if (out.digitCount < ParsedNumber::kMaxDigits) {
                out.digits[out.digitCount++] = static_cast<char>(c);
                out.power10 -= sawPoint ? 1 : 0;
            } else {
                out.inexact = out.inexact || c != u'0';
                out.power10 += sawPoint ? 0 : 1;
            }
        } else if (c == u',' && !sawPoint) {
            // Thousands separators are not checked for position, as the platform does.
        } else if (c == u'.' && !sawPoint) {
            sawPoint = true;
        } else {
            break;
        }
        ++pos;
    }
    if (sawDigit && pos < text.size() && (text[pos] == u'e' || text[pos] == u'E')) {
        ++pos;
        bool negativeExponent = false;
        if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
            negativeExponent = text[pos] == u'-';
            ++pos;
        }
        if (pos >= text.size() || !IsDigit(text[pos])) {
            bad = true;
            return sawDigit;
        }
        std::int64_t exponent = 0;
        while (pos < text.size() && IsDigit(text[pos])) {
            if (exponent < kExponentLimit) {
                exponent = exponent * 10 + (text[pos] - u'0');
            }
            ++pos;
        }
        out.power10 += negativeExponent ? -exponent : exponent;
    }
    while (out.digitCount > 0 && out.digits[out.digitCount - 1] == '0') {
        --out.digitCount;
        ++out.power10;
    }
    if (out.digitCount == 0) {
        out.power10 = 0;
    }
    return sawDigit;
}

}  // namespace

HRESULT ParseNumber(std::u16string_view text, ParsedNumber& out) {
    out.negative = false;
    out.radix = false;
    out.radixValue = 0;
    out.digitCount = 0;
    out.inexact = false;
    out.power10 = 0;

    std::size_t pos = 0;
    bool leadingPlus = false;
    bool leadingMinus = false;
    bool currency = false;
    bool parens = false;
    while (pos < text.size()) {
        const char16_t c = text[pos];
        if (IsBlank(c)) {
        } else if (c == u'+' && !leadingPlus) {
            leadingPlus = true;
        } else if (c == u'-' && !leadingMinus) {
            leadingMinus = true;
        } else if (c == u'$' && !currency) {
            currency = true;
        } else if (c == u'(' && !parens) {
            parens = true;
        } else {
            break;
        }
        ++pos;
    }

    bool sawDigit = false;
    bool bad = false;
    bool overflow = false;
    if (pos + 1 < text.size() && text[pos] == u'&' &&
        (text[pos + 1] == u'H' || text[pos + 1] == u'h' || text[pos + 1] == u'O' ||
         text[pos + 1] == u'o')) {
        const bool hex = text[pos + 1] == u'H' || text[pos + 1] == u'h';
        pos += 2;
        out.radix = true;
        sawDigit = ParseRadixDigits(text, pos, hex, out, overflow);
    } else {
        sawDigit = ParseDecimalDigits(text, pos, out, bad);
    }
    if (bad || !sawDigit) {
        return DISP_E_TYPEMISMATCH;
    }

    bool trailingPlus = false;
    bool trailingMinus = false;
    bool closed = false;
    while (pos < text.size()) {
        const char16_t c = text[pos];
        if (IsBlank(c)) {
        } else if (c == u'+' && !leadingPlus && !trailingPlus) {
            trailingPlus = true;
        } else if (c == u'-' && !leadingMinus && !trailingMinus) {
            trailingMinus = true;
        } else if (c == u')' && parens && !closed) {
            closed = true;
        } else {
            break;
        }
        ++pos;
    }
    if (pos != text.size() || parens != closed) {
        return DISP_E_TYPEMISMATCH;
    }
    if (overflow) {
        return DISP_E_OVERFLOW;
    }
    out.negative = leadingMinus || trailingMinus || closed;
    return S_OK;
}

HRESULT ParsedToDouble(const ParsedNumber& number, double& out) {
    double value = 0.0;
    if (number.radix) {
        value = static_cast<double>(number.radixValue);
    } else if (number.digitCount > 0) {
        // The value lies in [10^(magnitude-1), 10^magnitude).
        const std::int64_t magnitude = number.digitCount + number.power10;
        if (magnitude > kLargestMagnitude) {
            return DISP_E_OVERFLOW;
        }
        if (magnitude >= kSmallestMagnitude) {
            char text[ParsedNumber::kMaxDigits + 32];
            std::memcpy(text, number.digits, number.digitCount);
            std::size_t length = number.digitCount;
            std::int64_t power = number.power10;
            if (number.inexact) {
                // A sticky digit keeps the dropped tail from reading as an exact halfway case.
                text[length++] = '1';
                --power;
            }
            text[length++] = 'e';
            const auto end = std::to_chars(text + length, text + sizeof(text), power).ptr;
            const auto result = std::from_chars(text, end, value);
            if (result.ec == std::errc::result_out_of_range) {
                if (magnitude > 0) {
                    return DISP_E_OVERFLOW;
                }
                value = 0.0;
            }
        }
    }
    out = number.negative && value != 0.0 ? -value : value;
    return S_OK;
}

HRESULT ParsedToScaledInteger(const ParsedNumber& number, int scale, std::uint64_t& magnitude) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    magnitude = 0;
    if (number.digitCount == 0) {
        return S_OK;
    }
    // Number of digits before the point.
    const std::int64_t whole = number.digitCount + number.power10 + scale;
    if (whole > std::numeric_limits<std::uint64_t>::digits10 + 1) {
        return DISP_E_OVERFLOW;
    }
    std::uint64_t value = 0;
    for (std::int64_t i = 0; i < whole; ++i) {
        const unsigned digit = i < number.digitCount ? number.digits[i] - '0' : 0;
        if (value > (kMax - digit) / 10) {
            return DISP_E_OVERFLOW;
        }
        value = value * 10 + digit;
    }
    if (whole >= 0 && whole < number.digitCount) {
        const char first = number.digits[whole];
        const bool moreAfter = number.digitCount > whole + 1 || number.inexact;
        if (first > '5' || (first == '5' && (moreAfter || (value & 1) != 0))) {
            if (value == kMax) {
                return DISP_E_OVERFLOW;
            }
            ++value;
        }
    }
    magnitude = value;
    return S_OK;
}

std::size_t FormatReal(double value, int significantDigits, char* buffer) {
    const auto put = [buffer](std::string_view text) {
        std::memcpy(buffer, text.data(), text.size());
        return text.size();
    };
    if (std::isnan(value)) {
        return put(std::signbit(value) ? "-1.#QNAN" : "1.#QNAN");
    }
    if (std::isinf(value)) {
        return put(value < 0 ? "-1.#INF" : "1.#INF");
    }
    if (value == 0.0) {
        return put("0");  // negative zero too
    }
    const auto result = std::to_chars(buffer, buffer + kNumberTextSize, value,
                                      std::chars_format::general, significantDigits);
    std::replace(buffer, result.ptr, 'e', 'E');
    return static_cast<std::size_t>(result.ptr - buffer);
}

std::size_t FormatSigned(std::int64_t value, char* buffer) {
    return static_cast<std::size_t>(std::to_chars(buffer, buffer + kNumberTextSize, value).ptr -
                                    buffer);
}

std::size_t FormatUnsigned(std::uint64_t value, char* buffer) {
    return static_cast<std::size_t>(std::to_chars(buffer, buffer + kNumberTextSize, value).ptr -
                                    buffer);
}

std::size_t FormatCurrency(std::int64_t scaled, char* buffer) {
    char* out = buffer;
    std::uint64_t magnitude = static_cast<std::uint64_t>(scaled);
    if (scaled < 0) {
        *out++ = '-';
        magnitude = 0 - magnitude;
    }
    out += FormatUnsigned(magnitude / 10000, out);
    unsigned fraction = static_cast<unsigned>(magnitude % 10000);
    if (fraction != 0) {
        *out++ = '.';
        for (unsigned unit = 1000; fraction != 0; unit /= 10) {
            *out++ = static_cast<char>('0' + fraction / unit);
            fraction %= unit;
        }
    }
    return static_cast<std::size_t>(out - buffer);
}

double RoundHalfEven(double value) {
    const double below = std::floor(value);
    const double fraction = value - below;  // exact for every finite double
    if (fraction > 0.5) {
        return below + 1.0;
    }
    if (fraction < 0.5) {
        return below;
    }
    return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
}

}  // namespace com_detail
