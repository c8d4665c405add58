#include "tgvtool/json_writer.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence at the start of text, or 0 when it does not start
// with one (overlong forms, surrogates and values beyond U+10FFFF are not valid).
std::size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const auto continuation = [&](std::size_t i) {
        return i < text.size() && (byte(i) & 0xC0) == 0x80;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return continuation(1) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (!continuation(1) || !continuation(2)) {
            return 0;
        }
        const unsigned char second = byte(1);
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0)) {
            return 0;  // overlong, or a surrogate
        }
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3)) {
            return 0;
        }
        const unsigned char second = byte(1);
        if ((lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) {
            return 0;  // overlong, or beyond U+10FFFF
        }
        return 4;
    }
    return 0;
}

}  // namespace

std::string JsonQuote(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    while (!text.empty()) {
        const auto c = static_cast<unsigned char>(text.front());
        if (c == '"' || c == '\\') {
            out.push_back('\\');
            out.push_back(static_cast<char>(c));
            text.remove_prefix(1);
        } else if (c < 0x20) {
            std::array<char, 8> escaped{};
            std::snprintf(escaped.data(), escaped.size(), "\\u%04x", c);
            out.append(escaped.data());
            text.remove_prefix(1);
        } else if (const std::size_t n = Utf8SequenceLength(text); n != 0) {
            out.append(text.substr(0, n));
            text.remove_prefix(n);
        } else {
            out.append("\xEF\xBF\xBD");  // U+FFFD for a byte that is not UTF-8
            text.remove_prefix(1);
        }
    }
    out.push_back('"');
    return out;
}

std::string JsonNumber(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    std::array<char, 32> chars{};
    const auto result = std::to_chars(chars.data(), chars.data() + chars.size(), value);
    return std::string(chars.data(), result.ptr);
}

void JsonWriter::NewLine() {
    out_.push_back('\n');
    out_.append(2 * levels_.size(), ' ');
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!levels_.empty()) {
        Level& level = levels_.back();
        if (!level.empty) {
            out_.push_back(',');
        }
        if (level.inlined) {
            if (!level.empty) {
                out_.push_back(' ');
            }
        } else {
            NewLine();
        }
        level.empty = false;
    }
}

void JsonWriter::Open(char bracket, bool isObject, bool inlined) {
    BeforeValue();
    out_.push_back(bracket);
    // Whatever opens inside an inline array stays on its line.
    inlined = inlined || (!levels_.empty() && levels_.back().inlined);
    levels_.push_back({isObject, true, inlined});
}

void JsonWriter::Close(char bracket) {
    const Level closed = levels_.back();
    levels_.pop_back();
    if (!closed.empty && !closed.inlined) {
        NewLine();
    }
    out_.push_back(bracket);
    if (levels_.empty()) {
        out_.push_back('\n');
    }
}

void JsonWriter::BeginObject() {
    Open('{', true, false);
}

void JsonWriter::EndObject() {
    Close('}');
}

void JsonWriter::BeginArray() {
    Open('[', false, false);
}

void JsonWriter::BeginInlineArray() {
    Open('[', false, true);
}

void JsonWriter::EndArray() {
    Close(']');
}

void JsonWriter::Key(std::string_view name) {
    BeforeValue();
    out_.append(JsonQuote(name));
    out_.append(": ");
    afterKey_ = true;
}

void JsonWriter::String(std::string_view text) {
    BeforeValue();
    out_.append(JsonQuote(text));
}

void JsonWriter::Int(std::int64_t value) {
    BeforeValue();
    out_.append(std::to_string(value));
}

void JsonWriter::UInt(std::uint64_t value) {
    BeforeValue();
    out_.append(std::to_string(value));
}

void JsonWriter::Double(double value) {
    BeforeValue();
    out_.append(JsonNumber(value));
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    out_.append(value ? "true" : "false");
}

void JsonWriter::Null() {
    BeforeValue();
    out_.append("null");
}
