#pragma once
// The value model: how VARIANTs, numbers, qualities and access rights become display text,
// and how typed text becomes a value of a given type for a write.

#include <cstdint>
#include <string>
#include <string_view>

#include "com/variant.h"

// Display text of a VARIANT, by the variant's own type tag.
std::string VariantToText(const VARIANT& value);
// The shortest display text of a double ("100", "12.5", "0").
std::string DoubleToText(double x);
// Text of an OLE date under a strftime pattern, or "Invalid DateTime".
std::string FormatOleDate(DATE date, const char* pattern);
// Fills `out` with `text` converted to `vartype`; a text that does not convert leaves VT_EMPTY.
// Any earlier content of `out` is not released.
void TextToVariant(std::string_view text, VARTYPE vartype, VARIANT& out);

// Name of a canonical data type ("INT16", "Float", ..., "Type:%d").
std::string TypeName(VARTYPE vt);
// The types that get a number value, scaling and a numeric history.
bool IsNumericType(VARTYPE vt);
// The numeric types and VT_BOOL: what the write dialog can write.
bool IsWritableKind(VARTYPE vt);
// "Good", "Uncertain" or "Bad" by the quality bits (mask 0xC0).
std::string_view QualityText(std::uint32_t quality);
// "R", "W", "R+W" or "".
std::string AccessText(std::uint32_t accessRights);
