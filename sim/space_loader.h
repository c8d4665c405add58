#pragma once
// An address space from a JSON file, in place of the built-in one.
//
// The file holds one object, the top branch. A branch object may have:
//   "name"      the branch's name (every branch but the top; it may contain ".")
//   "branches"  an array of branch objects below it
//   "leaves"    an array of leaf objects in it
//   "load"      a whole number N: N generated load items "Item00000", "Item00001", ... whose
//               value is t + n (seconds since start plus the item's number), R8, read-only
// A leaf object has:
//   "name"      the leaf's name (required)
//   "itemId"    the item id; by default the branch path and the name joined with "."
//   "type"      I1, I2, I4, UI1, UI2, UI4, R4, R8, BOOL, BSTR, CY, DATE, "R8 array",
//               "BSTR array" (by default the signal's own type, R8 for a static leaf)
//   "access"    "read", "write" or "read-write" (a generated leaf is "read", the default for
//               it; a static leaf defaults to "read-write")
//   "signal"    a signal object (below); absent for a static leaf
//   "value"     a static leaf's initial value: a number for the numeric types (whole for the
//               integer types, a CY with at most four decimals), true or false for BOOL, a
//               string for BSTR, "YYYY-MM-DD" or "YYYY-MM-DDTHH:MM:SS[.fff]" for DATE, an array
//               of numbers or of strings for the array types; zero, false or empty by default
//   "range"     [low, high], the engineering range of an R4 or R8 leaf (the percent deadband
//               of a group applies to it)
// A signal object has "kind" and the parameters of that kind (each optional, defaults shown):
//   ramp     low 0, high 100, period 100000 ms: from low to high, then again
//   sine     amplitude 10, offset 0, period 10000 ms
//   random   low 0, high 999, period 100 ms: a new draw each period
//   square   low 0, high 1, period 10000 ms: low for half the period, high for the other half
//   counter  low 0, step 1, period 1000 ms: low + step per whole period
//   toggle   period 1000 ms: false for one period, true for the next
//   text     texts ["Alpha", "Beta", "Gamma", "Delta"], period 2000 ms, cycling
//   static   the leaf holds "value" (as if no signal were given)
// The default types are R8 for ramp, sine and square, I4 for random, UI4 for counter, BOOL for
// toggle and BSTR for text; a generator's values are converted to the leaf's type.
//
// Names and keys are checked: an unknown key, a missing name, a name taken twice in a branch,
// an item id taken twice, a value of the wrong kind or out of the type's range is an error
// naming its line and column. Up to kMaxLoadedLeaves leaves in all.
//
// Example:
//   { "branches": [
//       { "name": "Plant", "branches": [
//           { "name": "Line1", "leaves": [
//               { "name": "Temperature", "type": "R8", "range": [0, 100],
//                 "signal": { "kind": "sine", "amplitude": 5, "offset": 20, "period": 60000 } },
//               { "name": "Setpoint", "type": "R4", "access": "read-write", "value": 21.5 } ] } ]
//               },
//       { "name": "Load", "load": 10000 } ] }

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "sim/address_space.h"
#include "sim/json_reader.h"

inline constexpr std::size_t kMaxLoadedLeaves = 2000000;

// Builds the space the JSON text describes into *space (which must be empty). false with a
// message ("line L, column C: ...") when the text is not a valid address space; *space is then
// left as it was.
bool LoadAddressSpace(std::string_view text, AddressSpace* space, std::string* error);

// The same from a file; the message names the file.
bool LoadAddressSpaceFile(const std::filesystem::path& file, AddressSpace* space,
                          std::string* error);
