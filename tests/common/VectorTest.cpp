// The 4x4 transform helpers: composition order, the three constructors and the 3x3 determinant.
#include <gtest/gtest.h>

#include <numbers>

#include "common/Vector.h"

namespace vantry {
namespace {

void expectNear(Float3 actual, Float3 expected) {
    EXPECT_NEAR(actual.x, expected.x, 1e-6f);
    EXPECT_NEAR(actual.y, expected.y, 1e-6f);
    EXPECT_NEAR(actual.z, expected.z, 1e-6f);
}

TEST(Float4x4Test, ProductAppliesTheRightFactorFirst) {
    const Float4x4 m = Float4x4::translation(1, 2, 3) * Float4x4::scale(2, 3, 4);
    expectNear(m.transformPoint(Float3{1, 1, 1}), {3, 5, 7});
    expectNear(m.transformDirection(Float3{1, 1, 1}), {2, 3, 4});
    EXPECT_EQ(Float4x4::identity() * m, m);
    EXPECT_EQ(m * Float4x4::identity(), m);
}

TEST(Float4x4Test, RotationIsRightHandedAboutTheNormalisedAxis) {
    const Float4x4 r = Float4x4::rotation(std::numbers::pi_v<float> / 2, {0, 0, 5});
    expectNear(r.transformDirection(Float3{1, 0, 0}), {0, 1, 0});
    EXPECT_NEAR(r.linearDeterminant(), 1.0f, 1e-6f);
    EXPECT_LT(Float4x4::scale(-1, 1, 1).linearDeterminant(), 0.0f);
    EXPECT_EQ(Float4x4::rotation(1.0f, {0, 0, 0}).at(3, 3), 1.0f);
}

// A packed mesh record: the operations take any x, y, z type and give back the same type.
struct Packed3 {
    float x = 0, y = 0, z = 0;
};

TEST(Float3Test, DotCrossAndNormaliseFollowTheRightHandRule) {
    static_assert(dot(Float3{1, 2, 3}, Float3{4, -5, 6}) == 12);
    static_assert(cross(Float3{1, 0, 0}, Float3{0, 1, 0}) == Float3{0, 0, 1});
    static_assert(Float3{1, 2, 3} - Float3{1, 1, 1} + Float3{0, 0, 1} == Float3{0, 1, 3});
    static_assert((Float3{1, 2, 3} * 2.0f) == Float3{2, 4, 6});
    const Packed3 c = cross(Packed3{0, 1, 0}, Packed3{0, 0, 1});
    EXPECT_EQ(c.x, 1.0f);
    EXPECT_EQ(length(Float3{3, 4, 0}), 5.0f);
    expectNear(normalize(Float3{0, 3, 4}), {0, 0.6f, 0.8f});
    EXPECT_EQ(normalize(Float3{}), Float3{});
    const Packed3 nan = normalize(Packed3{std::nanf(""), 0, 0});
    EXPECT_EQ(nan.x, 0.0f);
}

}  // namespace
}  // namespace vantry
