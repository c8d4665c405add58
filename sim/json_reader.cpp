#include "sim/json_reader.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unordered_set>

namespace {

class Parser {
  public:
    Parser(std::string_view text, JsonLimits limits) : text_(text), limits_(limits) {}

    bool Run(JsonValue* out, JsonError* error) {
        error_ = error;
        if (text_.size() > limits_.maxBytes) {
            return Fail("the text is larger than " + std::to_string(limits_.maxBytes) + " bytes");
        }
        // A byte order mark is not JSON, but editors write one; it carries nothing.
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") {
            pos_ = 3;
        }
        SkipBlanks();
        if (!ParseValue(*out, 1)) {
            return false;
        }
        SkipBlanks();
        if (pos_ != text_.size()) {
            return Fail("unexpected text after the value");
        }
        return true;
    }

  private:
    bool AtEnd() const { return pos_ >= text_.size(); }
    char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }

    void Advance() {
        const auto c = static_cast<unsigned char>(text_[pos_]);
        ++pos_;
        if (c == '\n') {
            ++line_;
            column_ = 1;
        } else if ((c & 0xC0) != 0x80) {
            ++column_;  // continuation bytes belong to the character before them
        }
    }

    bool Fail(std::string message) { return FailAt(std::move(message), line_, column_); }
    bool FailAt(std::string message, int line, int column) {
        if (error_ != nullptr) {
            error_->message = std::move(message);
            error_->line = line;
            error_->column = column;
        }
        return false;
    }

    void SkipBlanks() {
        while (!AtEnd()) {
            const char c = Peek();
            if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
                return;
            }
            Advance();
        }
    }

    bool Expect(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) {
            return Fail("unknown word (expected a value)");
        }
        for (std::size_t i = 0; i < word.size(); ++i) {
            Advance();
        }
        return true;
    }

    bool ParseValue(JsonValue& out, std::size_t depth) {
        if (++values_ > limits_.maxValues) {
            return Fail("more than " + std::to_string(limits_.maxValues) + " values");
        }
        out.line = line_;
        out.column = column_;
        if (AtEnd()) {
            return Fail("the text ends where a value was expected");
        }
        switch (Peek()) {
            case '{':
                return ParseObject(out, depth);
            case '[':
                return ParseArray(out, depth);
            case '"':
                out.kind = JsonValue::Kind::String;
                return ParseString(out.text);
            case 't':
                out.kind = JsonValue::Kind::Bool;
                out.boolean = true;
                return Expect("true");
            case 'f':
                out.kind = JsonValue::Kind::Bool;
                out.boolean = false;
                return Expect("false");
            case 'n':
                out.kind = JsonValue::Kind::Null;
                return Expect("null");
            default:
                if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) {
                    return ParseNumber(out);
                }
                return Fail(std::string("unexpected character '") + Printable(Peek()) + "'");
        }
    }

    static std::string Printable(char c) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", u);
            return buffer;
        }
        return std::string(1, c);
    }

    bool Nest(std::size_t depth) {
        if (depth > limits_.maxDepth) {
            return Fail("nested deeper than " + std::to_string(limits_.maxDepth) + " levels");
        }
        return true;
    }

    bool ParseObject(JsonValue& out, std::size_t depth) {
        out.kind = JsonValue::Kind::Object;
        if (!Nest(depth)) {
            return false;
        }
        Advance();  // {
        SkipBlanks();
        if (Peek() == '}') {
            Advance();
            return true;
        }
        std::unordered_set<std::string> keys;
        for (;;) {
            SkipBlanks();
            if (Peek() != '"') {
                return Fail(AtEnd() ? "the text ends inside an object" : "expected a key string");
            }
            const int keyLine = line_;
            const int keyColumn = column_;
            std::string key;
            if (!ParseString(key)) {
                return false;
            }
            if (!keys.insert(key).second) {
                return FailAt("duplicate key \"" + key + "\"", keyLine, keyColumn);
            }
            SkipBlanks();
            if (Peek() != ':') {
                return Fail("expected ':' after the key");
            }
            Advance();
            SkipBlanks();
            out.members.push_back(JsonMember{std::move(key), JsonValue{}});
            if (!ParseValue(out.members.back().second, depth + 1)) {
                return false;
            }
            SkipBlanks();
            if (Peek() == ',') {
                Advance();
                continue;
            }
            if (Peek() == '}') {
                Advance();
                return true;
            }
            return Fail(AtEnd() ? "the text ends inside an object" : "expected ',' or '}'");
        }
    }

    bool ParseArray(JsonValue& out, std::size_t depth) {
        out.kind = JsonValue::Kind::Array;
        if (!Nest(depth)) {
            return false;
        }
        Advance();  // [
        SkipBlanks();
        if (Peek() == ']') {
            Advance();
            return true;
        }
        for (;;) {
            SkipBlanks();
            out.items.emplace_back();
            if (!ParseValue(out.items.back(), depth + 1)) {
                return false;
            }
            SkipBlanks();
            if (Peek() == ',') {
                Advance();
                continue;
            }
            if (Peek() == ']') {
                Advance();
                return true;
            }
            return Fail(AtEnd() ? "the text ends inside an array" : "expected ',' or ']'");
        }
    }

    bool ParseHex4(std::uint32_t* out) {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = Peek();
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return Fail("\\u needs four hexadecimal digits");
            }
            value = value * 16 + digit;
            Advance();
        }
        *out = value;
        return true;
    }

    static void AppendUtf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }

    bool ParseEscape(std::string& out) {
        Advance();  // backslash
        if (AtEnd()) {
            return Fail("the text ends inside a string");
        }
        const char c = Peek();
        const int line = line_;
        const int column = column_;
        Advance();
        switch (c) {
            case '"':
            case '\\':
            case '/':
                out.push_back(c);
                return true;
            case 'b':
                out.push_back('\b');
                return true;
            case 'f':
                out.push_back('\f');
                return true;
            case 'n':
                out.push_back('\n');
                return true;
            case 'r':
                out.push_back('\r');
                return true;
            case 't':
                out.push_back('\t');
                return true;
            case 'u': {
                std::uint32_t cp = 0;
                if (!ParseHex4(&cp)) {
                    return false;
                }
                if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return FailAt("a low surrogate without a high one", line, column);
                }
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    std::uint32_t low = 0;
                    if (text_.substr(pos_, 2) != "\\u") {
                        return FailAt("a high surrogate without a low one", line, column);
                    }
                    Advance();
                    Advance();
                    if (!ParseHex4(&low)) {
                        return false;
                    }
                    if (low < 0xDC00 || low > 0xDFFF) {
                        return FailAt("a high surrogate without a low one", line, column);
                    }
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                AppendUtf8(out, cp);
                return true;
            }
            default:
                return FailAt(std::string("unknown escape '\\") + Printable(c) + "'", line, column);
        }
    }

    // Copies one UTF-8 encoded character, checking its form.
    bool CopyUtf8(std::string& out) {
        const auto lead = static_cast<unsigned char>(Peek());
        int extra = 0;
        std::uint32_t cp = 0;
        if (lead < 0x80) {
            extra = 0;
            cp = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            extra = 1;
            cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            extra = 2;
            cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            extra = 3;
            cp = lead & 0x07;
        } else {
            return Fail("malformed UTF-8 in a string");
        }
        if (pos_ + static_cast<std::size_t>(extra) >= text_.size()) {
            return Fail("malformed UTF-8 in a string");
        }
        for (int i = 1; i <= extra; ++i) {
            const auto c = static_cast<unsigned char>(text_[pos_ + static_cast<std::size_t>(i)]);
            if ((c & 0xC0) != 0x80) {
                return Fail("malformed UTF-8 in a string");
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        const bool overlong = (extra == 2 && cp < 0x800) || (extra == 3 && cp < 0x10000);
        if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return Fail("malformed UTF-8 in a string");
        }
        for (int i = 0; i <= extra; ++i) {
            out.push_back(text_[pos_]);
            Advance();
        }
        return true;
    }

    bool ParseString(std::string& out) {
        const int line = line_;
        const int column = column_;
        Advance();  // opening quote
        for (;;) {
            if (AtEnd()) {
                return FailAt("the string is not closed", line, column);
            }
            const char c = Peek();
            if (c == '"') {
                Advance();
                return true;
            }
            if (c == '\\') {
                if (!ParseEscape(out)) {
                    return false;
                }
                continue;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return Fail("a control character in a string (write it as an escape)");
            }
            if (!CopyUtf8(out)) {
                return false;
            }
        }
    }

    bool ParseNumber(JsonValue& out) {
        const std::size_t start = pos_;
        auto digits = [&] {
            std::size_t n = 0;
            while (Peek() >= '0' && Peek() <= '9') {
                Advance();
                ++n;
            }
            return n;
        };
        if (Peek() == '-') {
            Advance();
        }
        if (Peek() == '0') {
            Advance();
            if (Peek() >= '0' && Peek() <= '9') {
                return Fail("a number may not start with 0");
            }
        } else if (digits() == 0) {
            return Fail("a '-' without digits");
        }
        if (Peek() == '.') {
            Advance();
            if (digits() == 0) {
                return Fail("a '.' without digits after it");
            }
        }
        if (Peek() == 'e' || Peek() == 'E') {
            Advance();
            if (Peek() == '+' || Peek() == '-') {
                Advance();
            }
            if (digits() == 0) {
                return Fail("an exponent without digits");
            }
        }
        // The literal is well formed, so strtod reads all of it; it needs its own terminator.
        const std::string literal(text_.substr(start, pos_ - start));
        errno = 0;
        const double value = std::strtod(literal.c_str(), nullptr);
        if (errno == ERANGE && std::isinf(value)) {
            return FailAt("the number is too large", out.line, out.column);
        }
        out.kind = JsonValue::Kind::Number;
        out.number = value;
        return true;
    }

    std::string_view text_;
    JsonLimits limits_;
    JsonError* error_ = nullptr;
    std::size_t pos_ = 0;
    std::size_t values_ = 0;
    int line_ = 1;
    int column_ = 1;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
    if (kind != Kind::Object) {
        return nullptr;
    }
    for (const auto& [name, value] : members) {
        if (name == key) {
            return &value;
        }
    }
    return nullptr;
}

const char* JsonKindName(JsonValue::Kind kind) {
    switch (kind) {
        case JsonValue::Kind::Null:
            return "null";
        case JsonValue::Kind::Bool:
            return "true or false";
        case JsonValue::Kind::Number:
            return "a number";
        case JsonValue::Kind::String:
            return "a string";
        case JsonValue::Kind::Array:
            return "an array";
        case JsonValue::Kind::Object:
            return "an object";
    }
    return "a value";
}

std::string JsonError::ToString() const {
    return "line " + std::to_string(line) + ", column " + std::to_string(column) + ": " + message;
}

bool ParseJson(std::string_view text, JsonValue* out, JsonError* error, JsonLimits limits) {
    JsonValue value;
    Parser parser(text, limits);
    if (!parser.Run(&value, error)) {
        return false;
    }
    *out = std::move(value);
    return true;
}
