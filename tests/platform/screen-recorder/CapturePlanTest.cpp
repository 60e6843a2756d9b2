// How large a screen recording the machine's encoder keeps up with.
#include <gtest/gtest.h>

#include "platform/screen-recorder/CapturePlan.h"

using vantry::platform::planCapture;

TEST(CapturePlan, AScreenTheCoresCanEncodeIsKeptWhole) {
    const auto plan = planCapture(1920, 1080, 30, 8, "veryfast");
    EXPECT_EQ(plan.width, 1920);
    EXPECT_EQ(plan.height, 1080);
    EXPECT_EQ(plan.preset, "veryfast");
    EXPECT_EQ(plan.note, "");
    EXPECT_EQ(planCapture(1921, 1081, 30, 8, "veryfast").width, 1920) << "sizes stay even";
    EXPECT_EQ(planCapture(1920, 1080, 30, 1, "placebo").preset, "placebo") << "an unknown preset is kept";
}

TEST(CapturePlan, TooFewCoresScaleDownFirstThenLowerThePresetAndSaySo) {
    const auto four = planCapture(1920, 1080, 30, 4, "veryfast");
    EXPECT_EQ(four.width, 1280);
    EXPECT_EQ(four.height, 720);
    EXPECT_EQ(four.preset, "veryfast");
    EXPECT_EQ(four.note,
              "the encoder cannot keep up with 1920x1080 at 30 fps on 4 cores: recording scaled to 1280x720");

    const auto two = planCapture(1920, 1200, 30, 2, "veryfast");
    EXPECT_EQ(two.width, 1280);
    EXPECT_EQ(two.height, 800);
    EXPECT_EQ(two.preset, "superfast");
    EXPECT_EQ(
        two.note,
        "the encoder cannot keep up with 1920x1200 at 30 fps on 2 cores: recording scaled to 1280x800 with "
        "the superfast preset");

    const auto narrow = planCapture(1280, 1024, 60, 2, "veryfast");
    EXPECT_EQ(narrow.width, 1280) << "a screen no wider than 1280 is only encoded faster";
    EXPECT_EQ(narrow.preset, "ultrafast");
    EXPECT_EQ(narrow.note,
              "the encoder cannot keep up with 1280x1024 at 60 fps on 2 cores: recording with the ultrafast "
              "preset");
}
