// The shader program on the GPU with hand-made geometry: one quad filling the view
// with chosen material, roughness and normal, and chosen uniforms.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "platform/gl/EglOffscreenContext.h"
#include "studio/gpu/StageRenderer.h"
#include "tests/studio/gpu/StudioReference.h"

namespace vantry {
namespace {

using studio::gl::FrameSnapshot;

constexpr int kSize = 16;

class ShaderEdgeCases : public ::testing::Test {
  protected:
    void SetUp() override {
        context_ = platform::gl::EglOffscreenContext::create();
        ASSERT_NE(context_, nullptr);
        ASSERT_TRUE(context_->makeCurrent());
        renderer_ = studio::gl::StageRenderer::create();
        ASSERT_NE(renderer_, nullptr);
        target_ = std::make_unique<studio::gl::MultisampleTarget>();
        ASSERT_TRUE(target_->ensure(kSize, kSize));
        wall_ = std::make_shared<studio::gl::WallImage>();
        wall_->width = 2;
        wall_->height = 2;
        wall_->rgba.assign(16, 200);
    }
    void TearDown() override {
        target_.reset();
        renderer_.reset();
        if (context_) context_->doneCurrent();
    }

    // A quad over the whole view at depth 0.5 (clip space = world space, identity
    // matrix), every vertex with the given attributes.
    std::vector<std::uint8_t> renderQuad(float matTag, float roughness, Float3 normal, Float3 color,
                                         Float3 cameraPos, float key, float neon, float led,
                                         Float3 accent = {0.22f, 0.78f, 1.0f}) {
        auto g = std::make_shared<SetGeometry>();
        const float xy[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        const float uv[4][2] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};
        for (int i = 0; i < 4; ++i) {
            StageVertex v;
            v.position = {xy[i][0], xy[i][1], 0.5f};
            v.normal = normal;
            v.uv = {uv[i][0], uv[i][1]};
            v.color = color;
            v.matTag = matTag;
            v.roughness = roughness;
            g->vertices.push_back(v);
        }
        g->indices = {0, 1, 2, 0, 2, 3};
        FrameSnapshot frame;
        frame.geometry = g;
        frame.setVersion = ++version_;
        frame.wall = wall_;
        frame.wallVersion = 1;
        for (int c = 0; c < 4; ++c) {
            frame.uniforms.viewProj.columns[c] = {c == 0 ? 1.f : 0.f, c == 1 ? 1.f : 0.f, c == 2 ? 1.f : 0.f,
                                                  c == 3 ? 1.f : 0.f};
        }
        frame.uniforms.cameraPos = {cameraPos.x, cameraPos.y, cameraPos.z, 1};
        frame.uniforms.accentAndNeon = {accent.x, accent.y, accent.z, neon};
        frame.uniforms.keyGainAndWallBright = {key, led, 0, 0};
        target_->beginPass();
        renderer_->encodeStudioPass(frame, -1.0f);
        std::vector<std::uint8_t> px(kSize * kSize * 4);
        EXPECT_TRUE(target_->readBGRA(px.data()));
        return px;
    }

    static int channel(const std::vector<std::uint8_t>& px, int x, int y, int c) {
        return px[(std::size_t(y) * kSize + std::size_t(x)) * 4 + std::size_t(c)];
    }
    static int expectedByte(float linear) {
        return int(std::lround(reference::encodeChannel(linear) * 255.0f));
    }

    std::unique_ptr<platform::gl::EglOffscreenContext> context_;
    std::unique_ptr<studio::gl::StageRenderer> renderer_;
    std::unique_ptr<studio::gl::MultisampleTarget> target_;
    std::shared_ptr<studio::gl::WallImage> wall_;
    std::uint64_t version_ = 0;
};

TEST_F(ShaderEdgeCases, NeonIsBlackAtGainZeroAndFollowsTheToneMapAtOnePointTwoFive) {
    const auto off = renderQuad(3, 0.1f, {0, 0, 1}, {1, 0, 0}, {0, 0, 5}, 1.35f, 0.0f, 1.15f);
    for (int c = 0; c < 3; ++c) EXPECT_EQ(channel(off, 8, 8, c), 0);
    const auto on = renderQuad(3, 0.1f, {0, 0, 1}, {1, 0, 0}, {0, 0, 5}, 1.35f, 1.25f, 1.15f);
    EXPECT_NEAR(channel(on, 8, 8, 2), expectedByte(2.0f), 1);  // red = aces(2.0)^(1/2.2)
    EXPECT_EQ(channel(on, 8, 8, 1), 0);
    EXPECT_EQ(channel(on, 8, 8, 0), 0);
    EXPECT_EQ(channel(on, 8, 8, 3), 255);
}

TEST_F(ShaderEdgeCases, LitSurfaceFacingAwayFromBothLightsShowsOnlyTheAmbient) {
    // Facing down: both lights are above; the eye is above too.
    const Float3 color{0.6f, 0.3f, 0.9f};
    const auto px = renderQuad(0, 0.5f, {0, -1, 0}, color, {0, 5, 0}, 1.35f, 1.25f, 1.15f);
    for (int y : {2, 8, 13}) {
        for (int x : {2, 8, 13}) {
            EXPECT_NEAR(channel(px, x, y, 2), expectedByte(0.2f * color.x), 1);
            EXPECT_NEAR(channel(px, x, y, 1), expectedByte(0.2f * color.y), 1);
            EXPECT_NEAR(channel(px, x, y, 0), expectedByte(0.2f * color.z), 1);
        }
    }
}

TEST_F(ShaderEdgeCases, LedWallIsBlackAtBrightnessZero) {
    wall_->rgba.assign(16, 255);
    const auto px = renderQuad(2, 0.1f, {0, 0, 1}, {1, 1, 1}, {0, 0, 5}, 1.35f, 1.25f, 0.0f);
    for (int i = 0; i < kSize * kSize; ++i) {
        ASSERT_EQ(px[std::size_t(i) * 4], 0);
        ASSERT_EQ(px[std::size_t(i) * 4 + 1], 0);
        ASSERT_EQ(px[std::size_t(i) * 4 + 2], 0);
    }
}

TEST_F(ShaderEdgeCases, MaterialThresholdsAreHalfWay) {
    const Float3 color{0.2f, 0.9f, 0.4f};
    const auto shade = [&](float tag) {
        return renderQuad(tag, 0.3f, {0, 0, 1}, color, {0, 0, 5}, 1.35f, 1.25f, 1.15f);
    };
    const auto lit = shade(0);
    const auto led = shade(2);
    const auto neon = shade(3);
    EXPECT_NE(lit, led);
    EXPECT_NE(lit, neon);
    EXPECT_NE(led, neon);
    EXPECT_EQ(shade(1), lit);
    EXPECT_EQ(shade(1.5f), lit);
    EXPECT_EQ(shade(1.51f), led);
    EXPECT_EQ(shade(2.49f), led);
    EXPECT_EQ(shade(2.5f), lit);  // neither above 2.5 nor below it
    EXPECT_EQ(shade(2.51f), neon);
}

TEST_F(ShaderEdgeCases, RoughnessIsClampedToPointZeroEightAndPointNineTwo) {
    const auto shade = [&](float r) {
        return renderQuad(0, r, {0, 0, 1}, {0.5f, 0.5f, 0.5f}, {0.3f, 0.2f, 2.0f}, 1.35f, 1.25f, 1.15f);
    };
    EXPECT_EQ(shade(0.0f), shade(0.08f));
    EXPECT_EQ(shade(0.92f), shade(1.0f));
    EXPECT_NE(shade(0.08f), shade(0.5f));
}

}  // namespace
}  // namespace vantry
