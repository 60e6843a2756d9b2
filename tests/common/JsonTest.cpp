// The reader's options: the strict default against the two relaxations callers ask for.
#include "common/Json.h"

#include <gtest/gtest.h>

#include <string>

namespace {
using namespace vantry::json;

ParseOptions lenientText() {
    ParseOptions o;
    o.replaceBrokenUtf8 = true;
    return o;
}

ParseOptions uniqueKeys() {
    ParseOptions o;
    o.rejectDuplicateKeys = true;
    return o;
}

TEST(JsonParseOptions, BrokenTextIsRefusedByDefaultAndReplacedWhenAsked) {
    const struct {
        std::string doc;
        std::string lenient;  // the string read with replaceBrokenUtf8
    } cases[] = {
        {"\"a\xFF"
         "b\"",
         "a\xEF\xBF\xBD"
         "b"},
        {"\"\xE2\x82\"", "\xEF\xBF\xBD"},              // cut three-byte sequence
        {"\"\xC0\xAF\"", "\xEF\xBF\xBD\xEF\xBF\xBD"},  // overlong '/'
        {"\"\\ud800\"", "\xEF\xBF\xBD"},               // lone high surrogate
        {"\"\\udc00x\"", "\xEF\xBF\xBDx"},             // lone low surrogate
        {"\"\\ud800\\u0041\"",
         "\xEF\xBF\xBD"
         "A"},  // high half before a normal escape
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(parse(c.doc).has_value()) << c.doc;
        const auto v = parse(c.doc, lenientText());
        ASSERT_TRUE(v && v->string()) << c.doc;
        EXPECT_EQ(*v->string(), c.lenient) << c.doc;
    }
    // Valid pairs and text read the same either way.
    for (const ParseOptions& options : {ParseOptions{}, lenientText()}) {
        const auto v = parse("\"\\ud83d\\ude00 \xC3\xA9\"", options);
        ASSERT_TRUE(v && v->string());
        EXPECT_EQ(*v->string(), "\xF0\x9F\x98\x80 \xC3\xA9");
    }
}

TEST(JsonParseOptions, DuplicateKeysLastWinsByDefaultAndFailWhenAsked) {
    const auto v = parse(R"({"a":1,"a":2})");
    ASSERT_TRUE(v && v->object());
    EXPECT_EQ(v->object()->at("a").number()->text, "2");
    EXPECT_FALSE(parse(R"({"a":1,"a":2})", uniqueKeys()).has_value());
    EXPECT_FALSE(parse(R"([{"b":{"a":1,"a":1}}])", uniqueKeys()).has_value());
    EXPECT_TRUE(parse(R"({"a":{"a":1},"b":[{"a":2}]})", uniqueKeys()).has_value());
}

TEST(JsonNumbers, ToDoubleSaturatesTinyValuesAndRefusesHugeOnes) {
    const struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"0", 0.0},
        {"-1.5", -1.5},
        {"1e308", 1e308},
        {"1e309", std::nullopt},
        {"-1e400", std::nullopt},
        {"1e-400", 0.0},
        {"12345678901234567890", 12345678901234567890.0},
    };
    for (const auto& c : cases) EXPECT_EQ(toDouble(Number{c.text}), c.value) << c.text;
}

}  // namespace
