#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "common/Json.h"
#include "creator/ugc/OruUGCRaidMapRecordV1175.h"
#include "creator/ugc/OruUGCVaultStorageV1175.h"

using namespace vantry::creator;

namespace {

OruUGCRaidMapRecordV1175 smallMap() {
    OruUGCRaidMapRecordV1175 m;
    m.id = "m1";
    m.title = "T \"q\"";
    m.authorCallsign = "A";
    m.district = "D";
    m.summary = "S — é\n";
    m.placements = {{"b1", "L", "barrel", -8.5f, 0.0f, -56.0f, 0.4f, 1.25f}};
    m.likes = -7;
    m.syncedToCloudKit = true;
    m.createdISO = "2026-12-07T02:08:50Z";
    return m;
}

}  // namespace

TEST(RaidMapRecordJson, PrettyFormSortsKeysAndWritesShortestFloats) {
    const std::string expected = R"({
  "authorCallsign" : "A",
  "createdISO" : "2026-12-07T02:08:50Z",
  "district" : "D",
  "id" : "m1",
  "likes" : -7,
  "placements" : [
    {
      "id" : "b1",
      "label" : "L",
      "meshKind" : "barrel",
      "scale" : 1.25,
      "x" : -8.5,
      "y" : 0,
      "yawRad" : 0.4,
      "z" : -56
    }
  ],
  "summary" : "S — é\n",
  "syncedToCloudKit" : true,
  "title" : "T \"q\""
})";
    EXPECT_EQ(encodeRaidMapPretty(smallMap()), expected);
}

TEST(RaidMapRecordJson, CompactFormKeepsFieldOrder) {
    auto m = smallMap();
    m.placements.clear();
    m.syncedToCloudKit = false;
    EXPECT_EQ(encodeRaidMapCompact(m),
              R"({"id":"m1","title":"T \"q\"","authorCallsign":"A","district":"D","summary":"S — é\n",)"
              R"("placements":[],"likes":-7,"syncedToCloudKit":false,"createdISO":"2026-12-07T02:08:50Z"})");
}

TEST(RaidMapRecordJson, EveryFlagshipRoundTripsExactlyInBothForms) {
    for (const auto& m : OruUGCVaultStorageV1175::flagshipRaidPacks()) {
        auto pretty = decodeRaidMap(encodeRaidMapPretty(m));
        auto compact = decodeRaidMap(encodeRaidMapCompact(m));
        ASSERT_TRUE(pretty && compact) << m.id;
        EXPECT_EQ(*pretty, m);
        EXPECT_EQ(*compact, m);
    }
    // Awkward floats too: the shortest text still reads back bit for bit.
    auto m = smallMap();
    m.placements[0].x = 0.1f + 0.2f;
    m.placements[0].y = 1e-45f;
    m.placements[0].z = 3.4028235e38f;
    m.placements[0].yawRad = -0.0f;
    auto back = decodeRaidMap(encodeRaidMapPretty(m));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->placements[0].x, m.placements[0].x);
    EXPECT_EQ(back->placements[0].y, 1e-45f);
    EXPECT_EQ(back->placements[0].z, 3.4028235e38f);
}

TEST(RaidMapRecordJson, DecodingIgnoresUnknownKeysButNeedsEveryField) {
    const std::string base = encodeRaidMapCompact(smallMap());
    std::string extra = base;
    extra.insert(1, R"("extra":{"nested":[1,2,{"x":null}]},)");
    ASSERT_TRUE(decodeRaidMap(extra));
    EXPECT_EQ(*decodeRaidMap(extra), smallMap());

    // Each field missing, and a few wrong types, fail the whole record.
    for (const char* key : {"\"id\"", "\"title\"", "\"likes\"", "\"placements\"", "\"createdISO\"",
                            "\"syncedToCloudKit\"", "\"scale\"", "\"meshKind\""}) {
        std::string broken = base;
        const auto at = broken.find(key);
        ASSERT_NE(at, std::string::npos);
        broken.replace(at, std::string(key).size(), "\"renamed\"");
        EXPECT_FALSE(decodeRaidMap(broken)) << key;
    }
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = base;
        s.replace(s.find(from), from.size(), to);
        return decodeRaidMap(s);
    };
    EXPECT_FALSE(replaced("\"likes\":-7", "\"likes\":\"7\""));
    EXPECT_FALSE(replaced("\"likes\":-7", "\"likes\":7.5"));
    EXPECT_FALSE(replaced("\"likes\":-7", "\"likes\":9223372036854775808"));
    EXPECT_FALSE(replaced("\"syncedToCloudKit\":true", "\"syncedToCloudKit\":1"));
    EXPECT_FALSE(replaced("\"x\":-8.5", "\"x\":1e39"));
    EXPECT_FALSE(replaced("\"x\":-8.5", "\"x\":null"));
    EXPECT_FALSE(replaced("\"x\":-8.5", "\"x\":NaN"));
    EXPECT_EQ(replaced("\"likes\":-7", "\"likes\":4.12e2")->likes, 412);
    EXPECT_EQ(replaced("\"x\":-8.5", "\"x\":1e-60")->placements[0].x, 0.0f);
}

TEST(RaidMapRecordJson, RejectsMalformedDocuments) {
    const std::string base = encodeRaidMapCompact(smallMap());
    EXPECT_FALSE(decodeRaidMap(""));
    EXPECT_FALSE(decodeRaidMap("[]"));
    EXPECT_FALSE(decodeRaidMap(base + "x"));
    EXPECT_FALSE(decodeRaidMap(base.substr(0, base.size() - 1)));
    EXPECT_TRUE(decodeRaidMap(" \n" + base + "\t\r\n"));
    std::string badUtf8 = base;
    badUtf8.replace(badUtf8.find("\"D\""), 3, "\"\xC0\xAF\"");  // overlong '/'
    EXPECT_FALSE(decodeRaidMap(badUtf8));
    std::string loneSurrogate = base;
    loneSurrogate.replace(loneSurrogate.find("\"D\""), 3, R"("\ud800")");
    EXPECT_FALSE(decodeRaidMap(loneSurrogate));
    std::string pair = base;
    pair.replace(pair.find("\"D\""), 3, R"("\ud83d\ude00\u0041\/")");
    ASSERT_TRUE(decodeRaidMap(pair));
    EXPECT_EQ(decodeRaidMap(pair)->district,
              "\xF0\x9F\x98\x80"
              "A/");

    // Deep nesting in an unknown key is refused without exhausting the stack.
    std::string deep = base;
    deep.insert(1, "\"deep\":" + std::string(100000, '[') + std::string(100000, ']') + ",");
    EXPECT_FALSE(decodeRaidMap(deep));
}

TEST(RaidMapRecordJson, EncodingRefusesValuesJsonCannotHold) {
    auto m = smallMap();
    m.placements[0].scale = std::numeric_limits<float>::infinity();
    EXPECT_THROW(encodeRaidMapPretty(m), vantry::json::EncodingError);
    m = smallMap();
    m.title = "bad \xFF byte";
    EXPECT_THROW(encodeRaidMapCompact(m), vantry::json::EncodingError);
    m = smallMap();
    m.title = std::string("nul\0inside", 10);
    const auto back = decodeRaidMap(encodeRaidMapCompact(m));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->title, m.title);
}

TEST(RaidMapRecordJson, TimestampIsUtcToTheSecond) {
    const std::string stamp = currentISOTimestamp();
    const std::string shape = "dddd-dd-ddTdd:dd:ddZ";
    ASSERT_EQ(stamp.size(), shape.size()) << stamp;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == 'd')
            EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(stamp[i]))) << stamp;
        else
            EXPECT_EQ(stamp[i], shape[i]) << stamp;
    }
}
