#pragma once
// Name comparisons that ignore case, as the record lists and property keys use them. Only ASCII
// letters fold; other bytes (UTF-8 sequences included) compare as unsigned values.

#include <cstddef>
#include <string_view>

constexpr unsigned char FoldLower(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

constexpr bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldLower(a[i]) != FoldLower(b[i])) {
            return false;
        }
    }
    return true;
}

// Negative, zero or positive as a sorts before, with or after b, letters folded to lower case
// (so "_x" sorts before "A", since '_' lies below 'a').
constexpr int CompareNoCase(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char ca = FoldLower(a[i]);
        const unsigned char cb = FoldLower(b[i]);
        if (ca != cb) {
            return ca < cb ? -1 : 1;
        }
    }
    if (a.size() == b.size()) {
        return 0;
    }
    return a.size() < b.size() ? -1 : 1;
}
