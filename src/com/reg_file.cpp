#include "com/reg_file.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>

#include "com/unicode.h"

namespace {

constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";

constexpr std::array<std::pair<std::string_view, RegRoot>, 3> kRoots{{
    {"HKEY_CLASSES_ROOT", RegRoot::ClassesRoot},
    {"HKEY_CURRENT_USER", RegRoot::CurrentUser},
    {"HKEY_LOCAL_MACHINE", RegRoot::LocalMachine},
}};

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsSpace(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsSpace(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

std::string_view Trim(std::string_view s) {
    return TrimRight(TrimLeft(s));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char l = AsciiLower(c);
    if (l >= 'a' && l <= 'f') {
        return l - 'a' + 10;
    }
    return -1;
}

// 1 to 8 hex digits; nullopt for anything else.
std::optional<DWORD> ParseHex32(std::string_view digits) {
    if (digits.empty() || digits.size() > 8) {
        return std::nullopt;
    }
    DWORD value = 0;
    for (const char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<DWORD>(d);
    }
    return value;
}

// The text as UTF-8: a UTF-8 byte order mark is dropped, UTF-16LE (with its mark) converted.
std::optional<std::string> DecodeText(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        return std::string(bytes.substr(3));
    }
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
        bytes.remove_prefix(2);
        if (bytes.size() % 2 != 0) {
            return std::nullopt;
        }
        std::u16string wide(bytes.size() / 2, u'\0');
        for (std::size_t i = 0; i < wide.size(); ++i) {
            wide[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                            (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
        }
        return Utf16ToUtf8(wide);
    }
    return std::string(bytes);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::vector<BYTE> TextData(std::string_view text) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

// Text values of a version 5.00 file written as hex hold UTF-16LE; the registry keeps UTF-8.
std::optional<std::vector<BYTE>> Utf16DataToUtf8(const std::vector<BYTE>& data) {
    if (data.size() % 2 != 0) {
        return std::nullopt;
    }
    std::u16string wide(data.size() / 2, u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i) {
        wide[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    const std::string narrow = Utf16ToUtf8(wide);
    return std::vector<BYTE>(narrow.begin(), narrow.end());
}

class Parser {
  public:
    explicit Parser(std::vector<std::string_view> lines) : lines_(std::move(lines)) {}

    RegFileParseResult Run() {
        RegFileParseResult result;
        if (!ParseHeader()) {
            return Fail(std::move(result), "the first line is not REGEDIT4");
        }
        for (++line_; line_ < lines_.size(); ++line_) {
            const std::string_view text = Trim(lines_[line_]);
            if (text.empty() || text.front() == ';') {
                continue;
            }
            std::string error;
            if (text.front() == '[') {
                error = ParseSection(text, result.keys);
            } else if (result.keys.empty()) {
                error = "a value outside of any key";
            } else if (result.keys.back().remove) {
                error = "a value under a deleted key";
            } else {
                error = ParseValue(TrimLeft(lines_[line_]), result.keys.back());
            }
            if (!error.empty()) {
                return Fail(std::move(result), std::move(error));
            }
        }
        return result;
    }

  private:
    RegFileParseResult Fail(RegFileParseResult result, std::string error) const {
        result.keys.clear();
        result.errorLine = static_cast<int>(std::min(line_, lines_.size() - 1) + 1);
        result.error = std::move(error);
        return result;
    }

    bool ParseHeader() {
        while (line_ < lines_.size() && Trim(lines_[line_]).empty()) {
            ++line_;
        }
        if (line_ == lines_.size()) {
            line_ = 0;
            if (lines_.empty()) {
                lines_.emplace_back();
            }
            return false;
        }
        const std::string_view header = Trim(lines_[line_]);
        version5_ = header == kHeader5;
        return version5_ || header == kHeader4;
    }

    static std::string ParseSection(std::string_view text, std::vector<RegFileKey>& keys) {
        if (text.back() != ']') {
            return "a key line without its closing ']'";
        }
        std::string_view inner = text.substr(1, text.size() - 2);
        RegFileKey key;
        if (!inner.empty() && inner.front() == '-') {
            key.remove = true;
            inner.remove_prefix(1);
        }
        const std::size_t slash = inner.find('\\');
        const std::optional<RegRoot> root = RegRootFromName(inner.substr(0, slash));
        if (!root) {
            return "unknown root key '" + std::string(inner.substr(0, slash)) + "'";
        }
        key.root = *root;
        if (slash != std::string_view::npos) {
            key.subKey = std::string(inner.substr(slash + 1));
            if (key.subKey.empty() || !SplitRegPath(key.subKey)) {
                return "an empty key name in '" + std::string(inner) + "'";
            }
        }
        if (key.remove && key.subKey.empty()) {
            return "a root key cannot be deleted";
        }
        keys.push_back(std::move(key));
        return {};
    }

    // A quoted text at text[pos] (the opening quote); on success pos is past the closing quote.
    static std::string ParseQuoted(std::string_view text, std::size_t& pos, std::string& out) {
        ++pos;
        while (pos < text.size()) {
            const char c = text[pos++];
            if (c == '"') {
                return {};
            }
            if (c == '\\') {
                if (pos == text.size() || (text[pos] != '\\' && text[pos] != '"')) {
                    return "a backslash that escapes neither '\\' nor '\"'";
                }
                out += text[pos++];
            } else {
                out += c;
            }
        }
        return "a text without its closing quote";
    }

    static std::string ParseBytes(std::string_view text, std::vector<BYTE>& out) {
        text = Trim(text);
        if (text.empty()) {
            return {};
        }
        while (true) {
            const std::size_t comma = text.find(',');
            const std::string_view item = Trim(text.substr(0, comma));
            const std::optional<DWORD> byte = item.size() <= 2 ? ParseHex32(item) : std::nullopt;
            if (!byte) {
                return "'" + std::string(item) + "' is not a hex byte";
            }
            out.push_back(static_cast<BYTE>(*byte));
            if (comma == std::string_view::npos) {
                return {};
            }
            text.remove_prefix(comma + 1);
        }
    }

    // Joins the lines of a hex value that end in '\' with the ones that follow.
    std::string ContinuedText(std::string_view first, std::string& error) {
        std::string joined(TrimRight(first));
        while (!joined.empty() && joined.back() == '\\') {
            joined.pop_back();
            if (line_ + 1 >= lines_.size()) {
                error = "a continued value at the end of the file";
                return {};
            }
            ++line_;
            joined += TrimRight(TrimLeft(lines_[line_]));
        }
        return joined;
    }

    static std::string CheckTail(std::string_view rest) {
        rest = TrimLeft(rest);
        if (!rest.empty() && rest.front() != ';') {
            return "unexpected text after the value: '" + std::string(rest) + "'";
        }
        return {};
    }

    std::string ParseValue(std::string_view text, RegFileKey& key) {
        RegFileValue value;
        std::size_t pos = 0;
        if (text.front() == '@') {
            pos = 1;
        } else if (text.front() == '"') {
            if (std::string error = ParseQuoted(text, pos, value.name); !error.empty()) {
                return error;
            }
        } else {
            return "expected a value name in quotes or '@'";
        }
        text = TrimLeft(text.substr(pos));
        if (text.empty() || text.front() != '=') {
            return "expected '=' after the value name";
        }
        text = TrimLeft(text.substr(1));
        std::string error;
        if (!text.empty() && text.front() == '-') {
            value.remove = true;
            error = CheckTail(text.substr(1));
        } else if (!text.empty() && text.front() == '"') {
            std::string str;
            pos = 0;
            error = ParseQuoted(text, pos, str);
            if (error.empty()) {
                value.type = REG_SZ;
                value.data = TextData(str);
                error = CheckTail(text.substr(pos));
            }
        } else if (StartsWithNoCase(text, "dword:")) {
            text.remove_prefix(6);
            std::size_t end = 0;
            while (end < text.size() && HexDigit(text[end]) >= 0) {
                ++end;
            }
            const std::optional<DWORD> number = ParseHex32(text.substr(0, end));
            if (!number) {
                return "a dword needs 1 to 8 hex digits";
            }
            value = RegFileValue::Dword(std::move(value.name), *number);
            error = CheckTail(text.substr(end));
        } else if (StartsWithNoCase(text, "hex")) {
            error = ParseHexValue(text.substr(3), value);
        } else {
            return "unknown value data '" + std::string(text) + "'";
        }
        if (error.empty()) {
            key.values.push_back(std::move(value));
        }
        return error;
    }

    // After "hex": ":" or "(type):", then the bytes.
    std::string ParseHexValue(std::string_view text, RegFileValue& value) {
        value.type = REG_BINARY;
        if (!text.empty() && text.front() == '(') {
            const std::size_t close = text.find(')');
            const std::optional<DWORD> type = close == std::string_view::npos
                                                  ? std::nullopt
                                                  : ParseHex32(text.substr(1, close - 1));
            if (!type) {
                return "a hex value type needs 1 to 8 hex digits in parentheses";
            }
            value.type = *type;
            text.remove_prefix(close + 1);
        }
        if (text.empty() || text.front() != ':') {
            return "expected ':' after hex";
        }
        std::string error;
        const std::string joined = ContinuedText(text.substr(1), error);
        if (!error.empty()) {
            return error;
        }
        const std::size_t comment = joined.find(';');
        if (std::string bad = ParseBytes(std::string_view(joined).substr(0, comment), value.data);
            !bad.empty()) {
            return bad;
        }
        const bool text_type =
            value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
        if (version5_ && text_type) {
            std::optional<std::vector<BYTE>> narrow = Utf16DataToUtf8(value.data);
            if (!narrow) {
                return "UTF-16 text with an odd number of bytes";
            }
            value.data = std::move(*narrow);
        }
        return {};
    }

    std::vector<std::string_view> lines_;
    std::size_t line_ = 0;
    bool version5_ = false;
};

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

// A REG_SZ that the quoted form holds exactly: one terminating zero, no other zero, one line.
bool IsPlainText(const RegFileValue& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0) {
        return false;
    }
    const std::string_view text(reinterpret_cast<const char*>(value.data.data()),
                                value.data.size() - 1);
    return text.find('\0') == text.npos && !HasLineBreak(text);
}

void AppendHex(std::string& out, std::string_view prefix, const std::vector<BYTE>& data) {
    out += prefix;
    std::size_t column = out.size() - out.rfind('\n');
    for (std::size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
}

}  // namespace

std::optional<RegRoot> RegRootFromName(std::string_view name) {
    for (const auto& [text, root] : kRoots) {
        if (EqualsNoCase(name, text)) {
            return root;
        }
    }
    return std::nullopt;
}

std::string_view RegRootName(RegRoot root) {
    for (const auto& [text, r] : kRoots) {
        if (r == root) {
            return text;
        }
    }
    return {};
}

RegFileValue RegFileValue::String(std::string name, std::string_view text) {
    return RegFileValue{std::move(name), REG_SZ, TextData(text), false};
}

RegFileValue RegFileValue::Dword(std::string name, DWORD value) {
    return RegFileValue{std::move(name),
                        REG_DWORD,
                        {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                         static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)},
                        false};
}

RegFileValue RegFileValue::Binary(std::string name, std::vector<BYTE> bytes) {
    return RegFileValue{std::move(name), REG_BINARY, std::move(bytes), false};
}

RegFileValue RegFileValue::Removal(std::string name) {
    return RegFileValue{std::move(name), REG_NONE, {}, true};
}

std::optional<std::vector<std::string>> SplitRegPath(std::string_view path) {
    std::vector<std::string> parts;
    if (path.empty()) {
        return parts;
    }
    while (true) {
        const std::size_t slash = path.find('\\');
        const std::string_view part = path.substr(0, slash);
        if (part.empty()) {
            return std::nullopt;
        }
        parts.emplace_back(part);
        if (slash == std::string_view::npos) {
            return parts;
        }
        path.remove_prefix(slash + 1);
    }
}

RegFileParseResult ParseRegFile(std::string_view bytes) {
    const std::optional<std::string> text = DecodeText(bytes);
    if (!text) {
        RegFileParseResult result;
        result.errorLine = 1;
        result.error = "UTF-16 text with an odd number of bytes";
        return result;
    }
    return Parser(SplitLines(*text)).Run();
}

std::optional<std::string> FormatRegFile(const std::vector<RegFileKey>& keys) {
    std::string out(kHeader4);
    out += '\n';
    for (const RegFileKey& key : keys) {
        if (!SplitRegPath(key.subKey) || HasLineBreak(key.subKey) ||
            (key.remove && key.subKey.empty())) {
            return std::nullopt;
        }
        out += key.remove ? "\n[-" : "\n[";
        out += RegRootName(key.root);
        if (!key.subKey.empty()) {
            out += '\\';
            out += key.subKey;
        }
        out += "]\n";
        if (key.remove && !key.values.empty()) {
            return std::nullopt;
        }
        for (const RegFileValue& value : key.values) {
            if (HasLineBreak(value.name)) {
                return std::nullopt;
            }
            if (value.name.empty()) {
                out += '@';
            } else {
                AppendQuoted(out, value.name);
            }
            out += '=';
            if (value.remove) {
                out += '-';
            } else if (IsPlainText(value)) {
                AppendQuoted(out, std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                                   value.data.size() - 1));
            } else if (value.type == REG_DWORD && value.data.size() == 4) {
                char number[16];
                std::snprintf(number, sizeof number, "dword:%08x",
                              static_cast<unsigned>(value.data[0] | (value.data[1] << 8) |
                                                    (value.data[2] << 16) |
                                                    (static_cast<DWORD>(value.data[3]) << 24)));
                out += number;
            } else if (value.type == REG_BINARY) {
                AppendHex(out, "hex:", value.data);
            } else {
                char prefix[24];
                std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
                AppendHex(out, prefix, value.data);
            }
            out += '\n';
        }
    }
    return out;
}
