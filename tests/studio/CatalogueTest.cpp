#include <gtest/gtest.h>

#include <cstring>
#include <unordered_set>

#include "studio/StageTypes.h"
#include "studio/StudioCatalogue.h"

using vantry::BroadcastCameraAngle;
using vantry::BroadcastStudioSet;

TEST(StudioSet, RawValuesRoundTripAndRejectNearMisses) {
    for (auto set : BroadcastStudioSet::allCases()) {
        auto back = BroadcastStudioSet::fromRawValue(set.rawValue());
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(*back, set);
        EXPECT_EQ(set.id(), set.rawValue());
        EXPECT_EQ(BroadcastStudioSet::decode(set.encode()), set);
    }
    EXPECT_EQ(BroadcastStudioSet::fromRawValue("neon-creator"), BroadcastStudioSet::neonCreatorDesk);
    EXPECT_FALSE(BroadcastStudioSet::fromRawValue("neon-creator-desk"));
    EXPECT_FALSE(BroadcastStudioSet::fromRawValue("Manhattan-loft"));
    EXPECT_FALSE(BroadcastStudioSet::fromRawValue(""));
    EXPECT_FALSE(BroadcastStudioSet::fromRawValue("manhattan-loft "));
    EXPECT_EQ(BroadcastStudioSet::decode("timber-podcast"), BroadcastStudioSet::timberPodcast);
    EXPECT_THROW(BroadcastStudioSet::decode("timber"), vantry::DecodingError);
}

TEST(StudioSet, OrderTitlesAndMiddleDotSubtitles) {
    const auto& all = BroadcastStudioSet::allCases();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0].rawValue(), "manhattan-loft");
    EXPECT_EQ(all[1].rawValue(), "timber-podcast");
    EXPECT_EQ(all[2].rawValue(), "keynote-arena");
    EXPECT_EQ(all[3].rawValue(), "neon-creator");
    EXPECT_EQ(all[3].title(), "Cyber Creator Desk");
    for (auto set : all) {
        // " \xC2\xB7 " is the middle dot with one blank on each side, two bytes in UTF-8.
        EXPECT_NE(set.subtitle().find(" \xC2\xB7 "), std::string_view::npos) << set.subtitle();
    }
    EXPECT_EQ(BroadcastStudioSet(BroadcastStudioSet::timberPodcast).accentColor(),
              (vantry::Float3{0.98f, 0.66f, 0.28f}));
    std::unordered_set<BroadcastStudioSet> hashed(all.begin(), all.end());
    EXPECT_EQ(hashed.size(), 4u);
}

TEST(CameraAngle, RawValueRangeAndTitles) {
    EXPECT_EQ(BroadcastCameraAngle::fromRawValue(3), BroadcastCameraAngle::sweepingCrane);
    EXPECT_FALSE(BroadcastCameraAngle::fromRawValue(4));
    EXPECT_FALSE(BroadcastCameraAngle::fromRawValue(-1));
    int expected = 0;
    for (auto angle : BroadcastCameraAngle::allCases()) EXPECT_EQ(angle.id(), expected++);
    EXPECT_EQ(BroadcastCameraAngle(BroadcastCameraAngle::wideDesk).title(), "Cam 1 \u00B7 Desk");
    EXPECT_EQ(BroadcastCameraAngle(BroadcastCameraAngle::sweepingCrane).title(), "Cam 4 \u00B7 Crane");
}

TEST(GpuLayout, VertexFieldsReadBackFromRawBytes) {
    vantry::StageVertex verts[3]{};
    for (int k = 0; k < 3; ++k) {
        verts[k].matTag = float(k) + 0.5f;
        verts[k].roughness = float(k) + 0.25f;
        verts[k].color = {float(k), 2, 3};
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(verts);
    EXPECT_EQ(sizeof(verts), 80u * 3);
    for (int k = 0; k < 3; ++k) {
        float tag, rough, red;
        std::memcpy(&tag, bytes + 80 * k + 64, 4);
        std::memcpy(&rough, bytes + 80 * k + 68, 4);
        std::memcpy(&red, bytes + 80 * k + 48, 4);
        EXPECT_EQ(tag, float(k) + 0.5f);
        EXPECT_EQ(rough, float(k) + 0.25f);
        EXPECT_EQ(red, float(k));
    }
}
