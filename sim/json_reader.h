#pragma once
// A small reader of JSON text (RFC 8259) for the simulator's configuration files. It keeps the
// line and column of every value so that a loader can say where a bad entry is, and it bounds
// what a file can make it do: the text's size, the nesting depth and the number of values are
// limited, and anything past a limit is an error, never a crash or an unbounded allocation.
//
// Strings are UTF-8 (escapes, surrogate pairs included, are decoded to UTF-8; malformed UTF-8
// and unescaped control characters are refused). Numbers are kept as doubles. Duplicate keys in
// one object are refused, since a later one would silently hide an earlier one.

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct JsonLimits {
    std::size_t maxBytes = 16 * 1024 * 1024;
    std::size_t maxDepth = 64;
    std::size_t maxValues = 1000000;
};

struct JsonMember;

struct JsonValue {
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0.0;
    std::string text;
    std::vector<JsonValue> items;     // Array
    std::vector<JsonMember> members;  // Object, in file order
    int line = 1;
    int column = 1;

    bool IsObject() const { return kind == Kind::Object; }
    bool IsArray() const { return kind == Kind::Array; }
    bool IsString() const { return kind == Kind::String; }
    bool IsNumber() const { return kind == Kind::Number; }
    bool IsBool() const { return kind == Kind::Bool; }
    // The member of an object with that key; null when absent or not an object.
    const JsonValue* Find(std::string_view key) const;
};

// One member of an object: its key and its value. (A struct of its own rather than a std::pair,
// which may not hold the still incomplete JsonValue.)
struct JsonMember {
    std::string first;
    JsonValue second;
};

// The name of a kind for messages ("an object", "a number", ...).
const char* JsonKindName(JsonValue::Kind kind);

struct JsonError {
    std::string message;
    int line = 0;
    int column = 0;
    // "line L, column C: message"
    std::string ToString() const;
};

// Parses the whole text as one JSON value; false with *error filled in when it is not one.
bool ParseJson(std::string_view text, JsonValue* out, JsonError* error, JsonLimits limits = {});
