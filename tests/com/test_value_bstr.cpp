#include <gtest/gtest.h>

#include <cstring>

#include "com/bstr.h"

namespace {

TEST(ValueBstr, KeepsByteLengthPrefixAndTerminator) {
    const OLECHAR text[] = {u'a', 0, u'c'};
    BSTR s = SysAllocStringLen(text, 3);
    ASSERT_NE(s, nullptr);
    DWORD prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(s) - sizeof(DWORD), sizeof(prefix));
    EXPECT_EQ(prefix, 6u);
    EXPECT_EQ(SysStringByteLen(s), 6u);
    EXPECT_EQ(SysStringLen(s), 3u);  // an embedded zero does not end it
    EXPECT_EQ(s[3], u'\0');
    EXPECT_EQ(BstrView(s), std::u16string_view(text, 3));
    SysFreeString(s);

    s = SysAllocString(u"hello");
    EXPECT_EQ(SysStringLen(s), 5u);
    EXPECT_EQ(BstrView(s), u"hello");
    SysFreeString(s);

    s = SysAllocStringLen(nullptr, 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(BstrView(s), std::u16string(4, u'\0'));
    SysFreeString(s);
}

TEST(ValueBstr, NullIsTheEmptyString) {
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    EXPECT_TRUE(BstrView(nullptr).empty());
    EXPECT_EQ(BstrToUtf8(nullptr), "");
    SysFreeString(nullptr);

    BSTR empty = SysAllocStringUtf8("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    EXPECT_EQ(empty[0], u'\0');
    SysFreeString(empty);
}

TEST(ValueBstr, Utf8HelpersConvertBothWays) {
    BSTR s = SysAllocStringUtf8(
        "Temp \xC2\xB0"
        "C \xF0\x9F\x8C\xA1");
    EXPECT_EQ(SysStringLen(s), 10u);  // the emoji takes a surrogate pair
    EXPECT_EQ(BstrToUtf8(s),
              "Temp \xC2\xB0"
              "C \xF0\x9F\x8C\xA1");
    SysFreeString(s);
}

}  // namespace
