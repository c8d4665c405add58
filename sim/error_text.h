#pragma once
// The texts GetErrorString gives: the OPC codes and the COM codes an OPC client meets.

#include <string>

#include "com/types.h"

// Empty for a code without a text.
std::u16string ErrorText(HRESULT code);

// The locales the server speaks (only English), and whether a requested locale is one of them
// or a default that means it.
inline constexpr LCID kEnglishUs = 0x0409;
bool IsSupportedLocale(LCID locale);
