#include <unordered_set>

#include <gtest/gtest.h>

#include "creator/studio-overlay/FacecamTypes.h"

using vantry::creator::OruFacecamBackgroundModeV1045;
using vantry::creator::OruFacecamShapeV1045;

TEST(FacecamTypes, BackgroundModesRoundTripTheirRawValuesAndCycleInDeclarationOrder) {
    const auto& all = OruFacecamBackgroundModeV1045::allCases();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].rawValue(), "BG Occlusion");
    EXPECT_EQ(all[1].rawValue(), "BG Blur");
    EXPECT_EQ(all[2].rawValue(), "Full Cam");
    for (auto m : all) EXPECT_EQ(OruFacecamBackgroundModeV1045::fromRawValue(m.rawValue()), m);
    EXPECT_EQ(all[0].next(), all[1]);
    EXPECT_EQ(all[1].next(), all[2]);
    EXPECT_EQ(all[2].next(), all[0]);
    EXPECT_FALSE(OruFacecamBackgroundModeV1045::fromRawValue("bg occlusion"));
    EXPECT_FALSE(OruFacecamBackgroundModeV1045::fromRawValue(""));
    std::unordered_set<OruFacecamBackgroundModeV1045> set(all.begin(), all.end());
    EXPECT_EQ(set.size(), 3u);
}

TEST(FacecamTypes, ShapesRoundTripTheirRawValuesAndCycleInDeclarationOrder) {
    const auto& all = OruFacecamShapeV1045::allCases();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].rawValue(), "Cutout");
    EXPECT_EQ(all[1].rawValue(), "Circle");
    EXPECT_EQ(all[2].rawValue(), "Rounded");
    for (auto s : all) EXPECT_EQ(OruFacecamShapeV1045::fromRawValue(s.rawValue()), s);
    EXPECT_EQ(OruFacecamShapeV1045(OruFacecamShapeV1045::rounded).next(), OruFacecamShapeV1045::freeCutout);
    EXPECT_EQ(OruFacecamShapeV1045(OruFacecamShapeV1045::freeCutout).next(), OruFacecamShapeV1045::circle);
    EXPECT_FALSE(OruFacecamShapeV1045::fromRawValue("Square"));
}
