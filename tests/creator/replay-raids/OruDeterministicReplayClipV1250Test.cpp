#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "creator/replay-raids/OruDeterministicReplayClipV1250.h"

using namespace vantry::creator;
using Clip = OruDeterministicReplayClipV1250;
using Frame = OruReplayInputFrameV1250;

namespace {
Clip referenceClip() {
    return Clip{0x0102030405060708ull, "ref", {Frame::raw(16, 100, -50, 1571, 1, 0)}, {30}};
}
}  // namespace

TEST(ReplayClip, ReferenceVectorByteForByte) {
    const std::vector<std::uint8_t> expected{0x50, 0x52, 0x50, 0x53, 0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02,
                                             0x01, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00,
                                             0x64, 0xce, 0x23, 0x06, 0x01, 0x00, 0x1e, 0x00, 0x00, 0x00};
    const auto bytes = referenceClip().encodeCompactBinary();
    EXPECT_EQ(bytes, expected);
    const auto back = Clip::decodeCompactBinary(bytes, "ref");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, referenceClip());
    // The quantising constructor lands on the same frame.
    EXPECT_EQ(Frame(16, 1.0f, -0.5f, 1.571f, 1), referenceClip().frames[0]);
}

TEST(ReplayClip, EmptyClipIsTwentyBytes) {
    const Clip empty{7, "", {}, {}};
    const auto bytes = empty.encodeCompactBinary();
    EXPECT_EQ(bytes.size(), 20u);
    const auto back = Clip::decodeCompactBinary(bytes, "");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, empty);
}

TEST(ReplayClip, MalformedBuffersDecodeToNone) {
    auto bytes = referenceClip().encodeCompactBinary();
    EXPECT_FALSE(Clip::decodeCompactBinary(std::span(bytes).first(19), "x"));
    EXPECT_FALSE(Clip::decodeCompactBinary({}, "x"));
    EXPECT_FALSE(Clip::decodeCompactBinary(std::span(bytes).first(bytes.size() - 1), "x"));
    auto foreign = bytes;
    foreign[3] = 'T';
    EXPECT_FALSE(Clip::decodeCompactBinary(foreign, "x"));
    // A header promising 2^32 - 1 frames in a short buffer.
    auto huge = bytes;
    huge[12] = huge[13] = huge[14] = huge[15] = 0xff;
    EXPECT_FALSE(Clip::decodeCompactBinary(huge, "x"));

    auto trailing = bytes;
    trailing.insert(trailing.end(), {1, 2, 3});
    const auto back = Clip::decodeCompactBinary(trailing, "ref");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, referenceClip());
}

TEST(ReplayClip, PadIsDroppedAndTicksAreClampedOrRefused) {
    Clip c{1, "t", {Frame::raw(1, 2, 3, 4, 5, 0xAB)}, {-5, 4294967295LL}};
    const auto bytes = c.encodeCompactBinary();
    EXPECT_EQ(bytes[27], 0xAB);  // pad is written as stored
    EXPECT_EQ(bytes[28], 0);     // -5 becomes 0
    const auto back = Clip::decodeCompactBinary(bytes, "t");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->frames[0].pad, 0);
    EXPECT_EQ(back->frames[0].actionMask, 5);
    EXPECT_EQ(back->highlightTickBookmarks, (std::vector<std::int64_t>{0, 4294967295LL}));

    Clip tooFar{1, "t", {}, {4294967296LL}};
    EXPECT_THROW(tooFar.encodeCompactBinary(), ReplayEncodingError);
}

TEST(ReplayClip, QuantisationCorners) {
    EXPECT_EQ(Frame(0, 0.125f, 0, 0, 0).moveForwardQ, 13);
    EXPECT_EQ(Frame(0, -0.125f, 0, 0, 0).moveForwardQ, -13);
    EXPECT_EQ(Frame(0, 2.0f, 0, 0, 0).moveForwardQ, 127);
    EXPECT_EQ(Frame(0, -2.0f, 0, 0, 0).moveForwardQ, -128);
    EXPECT_EQ(Frame(0, 0, -1.275f, 0, 0).moveStrafeQ, -128);
    EXPECT_EQ(Frame(0, 0, 0, 40.0f, 0).yawDeltaQ, 32767);
    EXPECT_EQ(Frame(0, 0, 0, -40.0f, 0).yawDeltaQ, -32768);
    EXPECT_EQ(Frame(0, 0, 0, 0.0005f, 0).yawDeltaQ, 1);
    const float inf = std::numeric_limits<float>::infinity();
    const Frame nonFinite(9, std::nanf(""), inf, -inf, 3);
    EXPECT_EQ(nonFinite.moveForwardQ, 0);
    EXPECT_EQ(nonFinite.moveStrafeQ, 127);
    EXPECT_EQ(nonFinite.yawDeltaQ, -32768);
    EXPECT_EQ(nonFinite.pad, 0);
    EXPECT_EQ(Frame(0, 0, 0, std::nanf(""), 0).yawDeltaQ, 0);
}

TEST(ReplayClip, RoundTripOfALongerRun) {
    Clip c{0xFEEDFACECAFEBEEFull, "run", {}, {}};
    for (int i = 0; i < 300; ++i) {
        c.frames.emplace_back(static_cast<std::uint16_t>(16 + i % 3), std::sin(i * 0.1f), std::cos(i * 0.07f),
                              0.01f * static_cast<float>(i - 150), static_cast<std::uint8_t>(i));
        if (i % 40 == 0) c.highlightTickBookmarks.push_back(i);
    }
    const auto bytes = c.encodeCompactBinary();
    EXPECT_EQ(bytes.size(), 20u + 8u * 300u + 4u * 8u);
    EXPECT_EQ(Clip::decodeCompactBinary(bytes, "run"), c);
    EXPECT_NE(Clip::decodeCompactBinary(bytes, "other"), c);  // the title is part of equality
}
