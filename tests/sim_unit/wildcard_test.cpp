#include "sim/wildcard.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Wildcard, StarAndQuestionMark) {
    EXPECT_TRUE(MatchPattern(u"Ramp", u"*"));
    EXPECT_TRUE(MatchPattern(u"", u"*"));
    EXPECT_TRUE(MatchPattern(u"Ramp", u""));
    EXPECT_TRUE(MatchPattern(u"Ramp", u"R*"));
    EXPECT_TRUE(MatchPattern(u"Ramp", u"*p"));
    EXPECT_TRUE(MatchPattern(u"Ramp", u"R**p"));
    EXPECT_TRUE(MatchPattern(u"Ramp", u"?amp"));
    EXPECT_FALSE(MatchPattern(u"Ramp", u"?"));
    EXPECT_FALSE(MatchPattern(u"Ramp", u"R?mpx"));
    EXPECT_FALSE(MatchPattern(u"Ramp", u"ramp"));
    EXPECT_TRUE(MatchPattern(u"Ramp", u"ramp", false));
    // A star has to give back characters it took greedily.
    EXPECT_TRUE(MatchPattern(u"abcabcabd", u"*abd"));
    EXPECT_TRUE(MatchPattern(u"aaa", u"*a*a*a"));
    EXPECT_FALSE(MatchPattern(u"aa", u"*a*a*a"));
    EXPECT_TRUE(MatchPattern(u"Item00042", u"Item*4?"));
}

TEST(Wildcard, DigitsAndLists) {
    EXPECT_TRUE(MatchPattern(u"Item00042", u"Item#####"));
    EXPECT_FALSE(MatchPattern(u"ItemA0042", u"Item#####"));
    EXPECT_TRUE(MatchPattern(u"Bool", u"[ABC]ool"));
    EXPECT_FALSE(MatchPattern(u"Tool", u"[ABC]ool"));
    EXPECT_TRUE(MatchPattern(u"Tool", u"[!ABC]ool"));
    EXPECT_TRUE(MatchPattern(u"Item5", u"Item[3-7]"));
    EXPECT_FALSE(MatchPattern(u"Item8", u"Item[3-7]"));
    EXPECT_TRUE(MatchPattern(u"Item5", u"Item[7-3]"));  // a reversed range is still a range
    EXPECT_TRUE(MatchPattern(u"a-b", u"a[-]b"));
    EXPECT_TRUE(MatchPattern(u"x", u"[a-cx-z]"));
    EXPECT_TRUE(MatchPattern(u"bool", u"[A-C]OOL", false));
}

TEST(Wildcard, SpecialCharactersAndMalformedLists) {
    EXPECT_TRUE(MatchPattern(u"a*b", u"a[*]b"));
    EXPECT_FALSE(MatchPattern(u"axb", u"a[*]b"));
    EXPECT_TRUE(MatchPattern(u"a?b", u"a[?]b"));
    EXPECT_TRUE(MatchPattern(u"#1", u"[#]#"));
    EXPECT_TRUE(MatchPattern(u"]", u"[]]"));
    // An unclosed list stands for itself.
    EXPECT_TRUE(MatchPattern(u"[ab", u"[ab"));
    EXPECT_FALSE(MatchPattern(u"a", u"[ab"));
    EXPECT_TRUE(MatchPattern(u"Dotted.Branch", u"*.*"));
}

TEST(Wildcard, CodePointsOutsideTheBasicPlane) {
    const std::u16string clef = u"\U0001D11E";  // two UTF-16 units, one character
    EXPECT_TRUE(MatchPattern(clef, u"?"));
    EXPECT_TRUE(MatchPattern(u"x" + clef + u"y", u"x?y"));
    EXPECT_TRUE(MatchPattern(clef, u"[" + clef + u"]"));
}

TEST(Wildcard, LongInputsStayFast) {
    // Many stars against a text that almost matches: a backtracking matcher would explode.
    const std::u16string text(4000, u'a');
    std::u16string pattern;
    for (int i = 0; i < 200; ++i) {
        pattern += u"*a";
    }
    pattern += u"b";
    EXPECT_FALSE(MatchPattern(text, pattern));
    EXPECT_TRUE(MatchPattern(text + u"b", pattern));
}

}  // namespace
