#include <gtest/gtest.h>

#include "creator/clips-and-juice/OruViralClipReceiptV1030.h"

using vantry::creator::OruViralClipReceiptV1030;

namespace {
OruViralClipReceiptV1030 sample() {
    OruViralClipReceiptV1030 r;
    r.outputPath = "/home/ada/Videos/CorvellaClips/Neon_Raid_Highlight_1.mp4";
    r.width = 1080;
    r.height = 1920;
    r.frameCount = 90;
    r.durationSeconds = 3.0;
    r.fileSizeBytes = 1234567;
    r.gameTitle = "Neon Raid";
    r.highlightHeadline = "Triple \"clutch\"\n\\o/";
    return r;
}
}  // namespace

TEST(ViralClipReceipt, EncodesEveryFieldInOrder) {
    EXPECT_EQ(sample().encode(),
              "{\"outputPath\":\"/home/ada/Videos/CorvellaClips/Neon_Raid_Highlight_1.mp4\",\"width\":1080,"
              "\"height\":1920,\"frameCount\":90,\"durationSeconds\":3,\"fileSizeBytes\":1234567,"
              "\"gameTitle\":\"Neon Raid\",\"highlightHeadline\":\"Triple \\\"clutch\\\"\\n\\\\o/\"}");
}

TEST(ViralClipReceipt, RoundTripsAndKeepsFractionalDurations) {
    auto r = sample();
    r.durationSeconds = 29.0 / 24.0;
    r.gameTitle = std::string("ctl\x01 caf\xc3\xa9");
    const auto back = OruViralClipReceiptV1030::decode(r.encode());
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, r);
}

TEST(ViralClipReceipt, RejectsMissingOrMistypedFields) {
    EXPECT_FALSE(OruViralClipReceiptV1030::decode("").has_value());
    EXPECT_FALSE(OruViralClipReceiptV1030::decode("[]").has_value());
    std::string noTitle = sample().encode();
    noTitle.replace(noTitle.find("\"gameTitle\""), 11, "\"gameTitleX\"");
    EXPECT_FALSE(OruViralClipReceiptV1030::decode(noTitle).has_value());
    std::string fractional = sample().encode();
    fractional.replace(fractional.find("90"), 2, "90.5");
    EXPECT_FALSE(OruViralClipReceiptV1030::decode(fractional).has_value());
    std::string textWidth = sample().encode();
    textWidth.replace(textWidth.find("1080"), 4, "\"1080\"");
    EXPECT_FALSE(OruViralClipReceiptV1030::decode(textWidth).has_value());
}
