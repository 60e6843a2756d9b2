// The codec's two policies for broken input, on the same table of byte strings.
#include "common/Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {
using namespace vantry;

TEST(Utf8Policies, RefuseOrReplaceTheSameBrokenSequences) {
    const std::string R = "\xEF\xBF\xBD";  // U+FFFD
    const struct {
        std::string bytes;
        bool valid;
        std::string replaced;
    } cases[] = {
        {"", true, ""},
        {"plain", true, "plain"},
        {"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", true, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"\xED\x9F\xBF", true, "\xED\x9F\xBF"},          // U+D7FF, just below the surrogates
        {"\xF4\x8F\xBF\xBF", true, "\xF4\x8F\xBF\xBF"},  // U+10FFFF
        {"a\x80"
         "b",
         false, "a" + R + "b"},                      // stray continuation
        {"\xC0\xAF", false, R + R},                  // overlong: impossible lead byte
        {"\xE0\x80\xAF", false, R + R + R},          // overlong three-byte form
        {"\xED\xA0\x80", false, R + R + R},          // encoded surrogate
        {"\xF4\x90\x80\x80", false, R + R + R + R},  // above U+10FFFF
        {"\xE2\x82", false, R},                      // cut at the end: one replacement
        {"\xE2\x82"
         "A",
         false, R + "A"},
        {"\xF5\x80", false, R + R},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8::isValid(c.bytes), c.valid) << c.replaced;
        EXPECT_EQ(utf8::decodeStrict(c.bytes).has_value(), c.valid) << c.replaced;
        EXPECT_EQ(utf8::replaceInvalid(c.bytes), c.replaced);
        EXPECT_EQ(utf8::encode(utf8::decodeLenient(c.bytes)), c.replaced);
    }
}

TEST(Utf8Policies, EncodeWritesUnencodableScalarsAsReplacement) {
    EXPECT_EQ(utf8::encode(U"A\U0001F600"), "A\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8::encode(std::u32string{0xD800, 0x110000}), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

}  // namespace
