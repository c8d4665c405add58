#pragma once
// Texts from a server or a file printed as fields of tab-separated lines. Names and values may
// hold any character, so the ones that would split a field or a line are escaped: a backslash
// becomes "\\", a tab "\t", a line feed "\n", a carriage return "\r", and every other control
// character "\xHH". Everything else, UTF-8 included, passes through.

#include <initializer_list>
#include <string>
#include <string_view>

std::string FieldText(std::string_view text);

// The fields escaped and joined with tabs, ending with a line feed.
std::string TabLine(std::initializer_list<std::string_view> fields);
