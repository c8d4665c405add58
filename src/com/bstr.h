#pragma once
// BSTR: a length-prefixed UTF-16 string. The 32-bit byte length stands just before the first
// character, and a terminating zero follows the last one. A null BSTR is the empty string.

#include <string>
#include <string_view>

#include "com/types.h"

using BSTR = OLECHAR*;

BSTR SysAllocString(const OLECHAR* text);                  // null in, null out
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);  // text may be null: zeroed characters
void SysFreeString(BSTR text);                             // null is allowed
UINT SysStringLen(BSTR text);                              // characters, 0 for null
UINT SysStringByteLen(BSTR text);                          // bytes, 0 for null

// Helpers for the program's own text.
BSTR SysAllocStringUtf8(std::string_view text);
std::string BstrToUtf8(BSTR text);
std::u16string_view BstrView(BSTR text);
