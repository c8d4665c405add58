#pragma once
// printf-style text building for messages and trace lines.
//
// Messages of failed COM calls print their HRESULT with "%lx": pass it through HrArg so that a
// failure code such as E_FAIL prints as "80004005" and not as a sign-extended 64-bit value.

#include <cstdarg>
#include <cstdint>
#include <string>

#include "com/types.h"

#if defined(__GNUC__) || defined(__clang__)
#define TGV_PRINTF_FORMAT(fmt_index, first_arg) \
    __attribute__((format(printf, fmt_index, first_arg)))
#else
#define TGV_PRINTF_FORMAT(fmt_index, first_arg)
#endif

// Formats with the C printf rules. A null format gives "", and so does a format the C library
// rejects (an invalid conversion).
std::string Format(const char* fmt, ...) TGV_PRINTF_FORMAT(1, 2);
std::string FormatV(const char* fmt, std::va_list args) TGV_PRINTF_FORMAT(1, 0);

// The argument for "%lx": the HRESULT's 32 bits as an unsigned long.
constexpr unsigned long HrArg(HRESULT hr) {
    return static_cast<unsigned long>(static_cast<std::uint32_t>(hr));
}
