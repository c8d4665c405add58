#pragma once
// What the item grid's context menu does for "Write" and "Properties" on the document's current
// item, so that the grid only forwards the command.

#include <string>

#include "com/types.h"

class CDoc;

// Refusals of a write.
inline constexpr const char* kTagReadOnly = "Tag is read only";
inline constexpr const char* kTagNotNumeric = "Can't write to a non numeric tag";
// A value the item's type cannot hold (beyond its range): nothing is sent. Filled with the
// value's text and the type's name.
inline constexpr const char* kValueDoesNotFit = "The value %s does not fit the tag's type %s";

// The text that writes a value typed in the write dialog to an item of this canonical type:
// whole numbers for integer and boolean items, and for floating-point items the shortest text
// that reads back as the same double.
std::string WriteValueText(double value, VARTYPE canonicalType);

// "Write" (2049): refuses a read-only or non-numeric item, asks for the value and writes it to
// the live item of the current group. A group without live item drops the write silently; a
// value that does not convert to the item's type is reported and not sent.
void OnItemWrite(CDoc& doc);

// "Properties" (2051): the tag dialog on the current item; after OK the document is modified,
// and a display name that changed (case ignored) relabels the item's row (hint 11).
// Returns how the dialog ended (IDCANCEL when there is nothing to show it for).
int OnItemProperties(CDoc& doc);
