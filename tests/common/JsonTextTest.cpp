#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <string>

#include "common/JsonText.h"

namespace {

using vantry::json::appendQuoted;
using vantry::json::quotedText;

TEST(JsonTextTest, EscapesQuotesBackslashesAndEveryControlByte) {
    EXPECT_EQ(quotedText(""), "\"\"");
    EXPECT_EQ(quotedText("say \"hi\" \\ bye"), "\"say \\\"hi\\\" \\\\ bye\"");
    EXPECT_EQ(quotedText("a\nb\rc\td\be\ff"), "\"a\\nb\\rc\\td\\be\\ff\"");
    EXPECT_EQ(quotedText(std::string("\x00\x01\x1f", 3)), "\"\\u0000\\u0001\\u001f\"");
    EXPECT_EQ(quotedText("\x7f/"), "\"\x7f/\"");
}

TEST(JsonTextTest, PassesMultiByteTextThroughUnchanged) {
    const std::string text = "Cam 1 \u00B7 Desk \u2014 \U0001F3AC";
    EXPECT_EQ(quotedText(text), "\"" + text + "\"");
}

TEST(JsonTextTest, AppendsAfterExistingTextAndReadsBackThroughAJsonParser) {
    std::string all;
    for (int c = 1; c < 0x80; ++c) all += static_cast<char>(c);
    all += "\u00e9\u4e2d";
    std::string doc = "[";
    appendQuoted(doc, all);
    doc += "]";
    QJsonParseError error{};
    const QJsonDocument parsed = QJsonDocument::fromJson(QByteArray::fromStdString(doc), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << doc;
    EXPECT_EQ(parsed.array().at(0).toString().toStdString(), all);
}

}  // namespace
