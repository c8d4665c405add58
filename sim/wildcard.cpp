#include "sim/wildcard.h"

#include <cstddef>
#include <string>
#include <vector>

namespace {

std::u32string ToCodePoints(std::u16string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

char32_t Fold(char32_t c, bool caseSensitive) {
    if (!caseSensitive && c >= U'a' && c <= U'z') {
        return c - U'a' + U'A';
    }
    return c;
}

// One element of a compiled pattern: every element but a star stands for exactly one character.
struct Token {
    enum Kind { Literal, AnyChar, Digit, List, Star };
    explicit Token(Kind k, char32_t c = 0) : kind(k), literal(c) {}

    Kind kind;
    char32_t literal;
    bool negated = false;
    std::vector<std::pair<char32_t, char32_t>> ranges;  // inclusive, for List
};

std::vector<Token> Compile(const std::u32string& pattern, bool caseSensitive) {
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char32_t c = pattern[i];
        if (c == U'*') {
            if (tokens.empty() || tokens.back().kind != Token::Star) {
                tokens.emplace_back(Token::Star);
            }
        } else if (c == U'?') {
            tokens.emplace_back(Token::AnyChar);
        } else if (c == U'#') {
            tokens.emplace_back(Token::Digit);
        } else if (c == U'[') {
            // The list ends at the first "]" after its first character, so "[]]" lists "]".
            std::size_t j = i + 1;
            bool negated = false;
            if (j < pattern.size() && pattern[j] == U'!') {
                negated = true;
                ++j;
            }
            const std::size_t first = j;
            std::size_t close = std::u32string::npos;
            for (std::size_t k = first; k < pattern.size(); ++k) {
                if (pattern[k] == U']' && k > first) {
                    close = k;
                    break;
                }
            }
            if (close == std::u32string::npos) {
                tokens.emplace_back(Token::Literal, Fold(c, caseSensitive));
                continue;
            }
            Token list(Token::List);
            list.negated = negated;
            for (std::size_t k = first; k < close; ++k) {
                char32_t lo = Fold(pattern[k], caseSensitive);
                char32_t hi = lo;
                if (k + 2 < close && pattern[k + 1] == U'-') {
                    hi = Fold(pattern[k + 2], caseSensitive);
                    k += 2;
                    if (hi < lo) {
                        std::swap(lo, hi);
                    }
                }
                list.ranges.emplace_back(lo, hi);
            }
            tokens.push_back(std::move(list));
            i = close;
        } else {
            tokens.emplace_back(Token::Literal, Fold(c, caseSensitive));
        }
    }
    return tokens;
}

bool MatchesOne(const Token& token, char32_t c) {
    switch (token.kind) {
        case Token::Literal:
            return c == token.literal;
        case Token::AnyChar:
            return true;
        case Token::Digit:
            return c >= U'0' && c <= U'9';
        case Token::List: {
            bool inList = false;
            for (const auto& [lo, hi] : token.ranges) {
                if (c >= lo && c <= hi) {
                    inList = true;
                    break;
                }
            }
            return inList != token.negated;
        }
        case Token::Star:
            break;
    }
    return false;
}

}  // namespace

bool MatchPattern(std::u16string_view text, std::u16string_view pattern, bool caseSensitive) {
    if (pattern.empty()) {
        return true;
    }
    std::u32string subject = ToCodePoints(text);
    for (char32_t& c : subject) {
        c = Fold(c, caseSensitive);
    }
    const std::vector<Token> tokens = Compile(ToCodePoints(pattern), caseSensitive);

    // Greedy matching that returns to the last star on a mismatch. It is exact because every
    // other token takes exactly one character.
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t starToken = std::u32string::npos;
    std::size_t starText = 0;
    while (t < subject.size()) {
        if (p < tokens.size() && tokens[p].kind == Token::Star) {
            starToken = p++;
            starText = t;
        } else if (p < tokens.size() && MatchesOne(tokens[p], subject[t])) {
            ++p;
            ++t;
        } else if (starToken != std::u32string::npos) {
            p = starToken + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < tokens.size() && tokens[p].kind == Token::Star) {
        ++p;
    }
    return p == tokens.size();
}
