#include "framework/format.h"

#include <cstdio>

std::string Format(const char* fmt, ...) {
    std::va_list args;
    va_start(args, fmt);
    std::string text = FormatV(fmt, args);
    va_end(args);
    return text;
}

std::string FormatV(const char* fmt, std::va_list args) {
    if (fmt == nullptr) {
        return {};
    }
    // Most messages are short: try a stack buffer first, measure and retry only when needed.
    char small[256];
    std::va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(small, sizeof small, fmt, args);
    if (needed < 0) {
        va_end(again);
        return {};
    }
    if (static_cast<std::size_t>(needed) < sizeof small) {
        va_end(again);
        return std::string(small, static_cast<std::size_t>(needed));
    }
    std::string text(static_cast<std::size_t>(needed), '\0');
    std::vsnprintf(text.data(), text.size() + 1, fmt, again);
    va_end(again);
    return text;
}
