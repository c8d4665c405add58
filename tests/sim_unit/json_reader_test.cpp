#include "sim/json_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

JsonError ErrorOf(std::string_view text, JsonLimits limits = {}) {
    JsonValue value;
    JsonError error;
    EXPECT_FALSE(ParseJson(text, &value, &error, limits)) << text;
    return error;
}

TEST(JsonReader, ReadsEveryKindWithPositions) {
    JsonValue v;
    JsonError error;
    ASSERT_TRUE(
        ParseJson("\xEF\xBB\xBF{\"a\": [1, -2.5e2, 0],\n \"b\": {\"t\": true, \"f\": false},"
                  "\n  \"n\": null, \"s\": \"x\\u00e9\\ud83d\\ude00\\n\\\"\\/\"}",
                  &v, &error))
        << error.ToString();
    ASSERT_TRUE(v.IsObject());
    ASSERT_EQ(v.members.size(), 4u);
    EXPECT_EQ(v.members[0].first, "a");  // file order kept
    const JsonValue* a = v.Find("a");
    ASSERT_TRUE(a && a->IsArray());
    ASSERT_EQ(a->items.size(), 3u);
    EXPECT_EQ(a->items[1].number, -250.0);
    EXPECT_EQ(a->items[2].number, 0.0);
    const JsonValue* b = v.Find("b");
    ASSERT_TRUE(b);
    EXPECT_EQ(b->line, 2);
    EXPECT_EQ(b->column, 7);
    EXPECT_TRUE(b->Find("t")->boolean);
    EXPECT_FALSE(b->Find("f")->boolean);
    EXPECT_EQ(v.Find("n")->kind, JsonValue::Kind::Null);
    EXPECT_EQ(v.Find("s")->text, "x\xC3\xA9\xF0\x9F\x98\x80\n\"/");
    EXPECT_EQ(v.Find("s")->line, 3);
    EXPECT_EQ(v.Find("missing"), nullptr);
    // Columns count characters, not bytes.
    ASSERT_TRUE(ParseJson("[\"\xC3\xA9\xC3\xA9\", x]", &v, &error) == false);
    EXPECT_EQ(error.column, 8);
}

TEST(JsonReader, EveryMalformedTextIsRefusedWithItsPlace) {
    struct Case {
        const char* text;
        int line;
        int column;
        const char* words;
    };
    const Case cases[] = {
        {"", 1, 1, "ends"},
        {"{\"a\" 1}", 1, 6, "':'"},
        {"{\"a\": 1,}", 1, 9, "key"},
        {"[1, 2", 1, 6, "ends inside an array"},
        {"[1 2]", 1, 4, "','"},
        {"{\"a\": 1, \"a\": 2}", 1, 10, "duplicate"},
        {"\"abc", 1, 1, "not closed"},
        {"\"a\tb\"", 1, 3, "control"},
        {"\"\\x\"", 1, 3, "escape"},
        {"\"\\u12G4\"", 1, 6, "hexadecimal"},
        {"\"\\udc00\"", 1, 3, "low surrogate"},
        {"\"\\ud800x\"", 1, 3, "high surrogate"},
        {"\"\xC0\xAF\"", 1, 2, "UTF-8"},
        {"\"\xE2\x82\"", 1, 2, "UTF-8"},
        {"01", 1, 2, "start with 0"},
        {"-", 1, 2, "'-'"},
        {"1.", 1, 3, "'.'"},
        {"1e+", 1, 4, "exponent"},
        {"1e999", 1, 1, "too large"},
        {"tru", 1, 1, "word"},
        {"[1]\n x", 2, 2, "after the value"},
        {"{'a': 1}", 1, 2, "key"},
    };
    for (const Case& c : cases) {
        const JsonError e = ErrorOf(c.text);
        EXPECT_EQ(e.line, c.line) << c.text << ": " << e.ToString();
        EXPECT_EQ(e.column, c.column) << c.text << ": " << e.ToString();
        EXPECT_NE(e.message.find(c.words), std::string::npos) << c.text << ": " << e.message;
    }
    EXPECT_EQ(ErrorOf("[x]").ToString(), "line 1, column 2: unexpected character 'x'");
}

TEST(JsonReader, DepthSizeAndCountAreBounded) {
    JsonLimits limits;
    limits.maxDepth = 4;
    JsonValue v;
    JsonError error;
    EXPECT_TRUE(ParseJson("[[[[1]]]]", &v, &error, limits));
    EXPECT_NE(ErrorOf("[[[[[1]]]]]", limits).message.find("deeper than 4"), std::string::npos);
    EXPECT_NE(ErrorOf("{\"a\":{\"a\":{\"a\":{\"a\":{}}}}}", limits).message.find("deeper"),
              std::string::npos);
    // The default depth bound holds against a text that is nothing but openings.
    EXPECT_NE(ErrorOf(std::string(100000, '[')).message.find("deeper"), std::string::npos);

    limits = JsonLimits{};
    limits.maxBytes = 10;
    EXPECT_TRUE(ParseJson("[1,2,3,4]", &v, &error, limits));
    EXPECT_NE(ErrorOf("[1,2,3,4,5]", limits).message.find("larger than 10 bytes"),
              std::string::npos);

    limits = JsonLimits{};
    limits.maxValues = 4;
    EXPECT_TRUE(ParseJson("[1,2,3]", &v, &error, limits));
    EXPECT_NE(ErrorOf("[1,2,3,4]", limits).message.find("more than 4 values"), std::string::npos);
}

}  // namespace
