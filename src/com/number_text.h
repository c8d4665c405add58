#pragma once
// Numbers in text as OLE Automation reads and writes them for the US-English locale: the
// parser behind text-to-number conversions and the formatters behind number-to-text ones.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "com/types.h"

namespace com_detail {

// A number read from text. A decimal number is sign × digits × 10^power10; a hexadecimal or
// octal one ("&H", "&O") is sign × radixValue, whose bits the caller fits to its target.
struct ParsedNumber {
    // Enough significant digits to round any decimal text to a double correctly; further
    // non-zero digits only set inexact.
    static constexpr int kMaxDigits = 800;

    bool negative = false;
    bool radix = false;  // hexadecimal or octal
    std::uint64_t radixValue = 0;
    int digitCount = 0;    // 0 for the value zero; no leading or trailing zeros
    bool inexact = false;  // non-zero digits beyond kMaxDigits were dropped
    std::int64_t power10 = 0;
    char digits[kMaxDigits];  // '0' to '9'
};

// Reads text with leading and trailing blanks, a leading or trailing sign, parentheses for a
// negative amount, a leading "$", "," thousands separators in the integer part, "." as the
// decimal point, an exponent ("1e3") and "&H"/"&O" radix prefixes. All of the text must be
// the number. Returns S_OK, DISP_E_TYPEMISMATCH, or DISP_E_OVERFLOW for a hexadecimal or
// octal number beyond 64 bits; nothing is allocated.
HRESULT ParseNumber(std::u16string_view text, ParsedNumber& out);

// The decimal value rounded to the nearest double; DISP_E_OVERFLOW beyond the double range,
// zero below it. A hexadecimal or octal number gives its unsigned value with the sign
// applied.
HRESULT ParsedToDouble(const ParsedNumber& number, double& out);

// The decimal value times 10^scale, rounded half to even to an integer magnitude.
// DISP_E_OVERFLOW when the magnitude exceeds 64 bits. Only for decimal numbers.
HRESULT ParsedToScaledInteger(const ParsedNumber& number, int scale, std::uint64_t& magnitude);

// Writes the text into buffer (no terminator) and returns its length. A buffer of
// kNumberTextSize characters always suffices.
inline constexpr std::size_t kNumberTextSize = 40;
std::size_t FormatReal(double value, int significantDigits, char* buffer);
std::size_t FormatSigned(std::int64_t value, char* buffer);
std::size_t FormatUnsigned(std::uint64_t value, char* buffer);
std::size_t FormatCurrency(std::int64_t scaled, char* buffer);

// The value rounded to an integer, halves to the even neighbour. value must be finite.
double RoundHalfEven(double value);

}  // namespace com_detail
