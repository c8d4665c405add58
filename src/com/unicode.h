#pragma once
// Conversion between the program's 8-bit text (UTF-8) and UTF-16.
// Malformed input never fails: each bad sequence becomes U+FFFD.

#include <string>
#include <string_view>

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);
