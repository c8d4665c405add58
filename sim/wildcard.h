#pragma once
// Matching of browse filter texts against names, with the wildcard rules OPC servers share:
//   ?        any one character
//   *        any run of characters, also none
//   #        any one decimal digit
//   [list]   any one character of the list; "a-z" in a list is a range, a leading "!" negates
// A special character is matched literally by putting it in a list ("[*]", "[[]", "[?]").
// A "[" without a closing "]" stands for itself. The empty pattern matches everything.

#include <string_view>

// Text and pattern are UTF-16; characters are compared as code points, so a "?" also takes a
// character outside the basic plane. Matching takes time proportional to the product of the
// lengths at worst, never exponential.
bool MatchPattern(std::u16string_view text, std::u16string_view pattern, bool caseSensitive = true);
