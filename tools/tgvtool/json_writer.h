#pragma once
// A small writer of indented JSON text: objects, arrays, strings, numbers and literals, with the
// commas and the indentation placed by the writer.
//
// Doubles are written in the shortest form that reads back as the same double; NaN and the
// infinities, which JSON cannot express, are written as null. Strings are escaped: the quote,
// the backslash and every control character (as \u00XX); valid UTF-8 passes through, and each
// byte that is not part of a valid UTF-8 sequence becomes U+FFFD.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class JsonWriter {
  public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    // An array written on one line, for short lists of numbers.
    void BeginInlineArray();
    void EndArray();
    // The name of the next member of the current object.
    void Key(std::string_view name);

    void String(std::string_view text);
    void Int(std::int64_t value);
    void UInt(std::uint64_t value);
    void Double(double value);
    void Bool(bool value);
    void Null();

    // The text written so far, ending with a line feed once the outermost value is closed.
    const std::string& Text() const { return out_; }

  private:
    struct Level {
        bool isObject;
        bool empty;
        bool inlined;  // elements on the same line
    };
    // Places the comma, line break and indentation before a value or key.
    void BeforeValue();
    void Open(char bracket, bool isObject, bool inlined);
    void Close(char bracket);
    void NewLine();

    std::string out_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

// The JSON string literal of text, quotes included (see JsonWriter for the escaping).
std::string JsonQuote(std::string_view text);
// The JSON number of a double (shortest round trip), or null for NaN and the infinities.
std::string JsonNumber(double value);
