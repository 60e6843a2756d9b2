// The presenter's shadow from the key light, checked against the set's own geometry: rays from
// the camera through the frame's pixels find the surface each pixel shows; where the segment
// from that surface to the key light passes through the made-up presenter's silhouette the pixel
// is darker than the studio alone, where it passes clear of it (blur and all) the pixel is the
// studio's own, and the LED wall's screen and the neon are never touched.
#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

#include "studio/PresenterFraming.h"
#include "studio/PresenterShadow.h"
#include "studio/SetGeometry.h"
#include "studio/gpu/StudioCamera.h"
#include "studio/gpu/VantryMetalEngine.h"
#include "tests/support/Silhouettes.h"

namespace {

using vantry::BroadcastCameraAngle;
using vantry::BroadcastStudioSet;
using vantry::Float3;
using namespace vantry::studio;

constexpr int kWidth = 960;
constexpr int kHeight = 540;

struct Hit {
    float t = 0;
    Float3 point;
    Float3 normal;
    float matTag = 0;
};

// The nearest set triangle along a ray (Moller-Trumbore).
std::optional<Hit> castRay(const vantry::SetGeometry& g, Float3 origin, Float3 dir) {
    std::optional<Hit> best;
    for (std::size_t i = 0; i + 2 < g.indices.size(); i += 3) {
        const auto& a = g.vertices[g.indices[i]];
        const auto& b = g.vertices[g.indices[i + 1]];
        const auto& c = g.vertices[g.indices[i + 2]];
        const Float3 e1 = b.position - a.position;
        const Float3 e2 = c.position - a.position;
        const Float3 p = cross(dir, e2);
        const float det = dot(e1, p);
        if (std::fabs(det) < 1e-9f) continue;
        const Float3 s = origin - a.position;
        const float u = dot(s, p) / det;
        if (u < 0 || u > 1) continue;
        const Float3 q = cross(s, e1);
        const float v = dot(dir, q) / det;
        if (v < 0 || u + v > 1) continue;
        const float t = dot(e2, q) / det;
        if (t > 1e-4f && (!best || t < best->t)) best = Hit{t, origin + dir * t, a.normal, a.matTag};
    }
    return best;
}

// What a point's segment to the key light meets in the presenter's quad plane.
enum class Light { clear, hidden, unsure };

class PresenterShadow : public ::testing::TestWithParam<int> {
  protected:
    static void SetUpTestSuite() {
        engine_ = vantry::VantryMetalEngine::create().release();
        const auto s = vantry::test::makeSilhouette(640, 480, 320, 60, 150);
        figure_ = new QImage(640, 480, QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < 480; ++y)
            for (int x = 0; x < 640; ++x)
                figure_->setPixel(x, y, s.alpha[std::size_t(y) * 640 + x] ? qRgba(180, 150, 130, 255) : 0);
    }
    static void TearDownTestSuite() {
        delete engine_;
        delete figure_;
        engine_ = nullptr;
        figure_ = nullptr;
    }
    BroadcastCameraAngle angle() const { return *BroadcastCameraAngle::fromRawValue(GetParam()); }

    // The silhouette's coverage (0..255) at the nearest texel to a quad-plane point; 0 outside.
    int coverage(const FramedQuad& q, Float3 p) const {
        const Float3 o = q.corners[0];
        const Float3 across = q.corners[1] - o;
        const Float3 up = q.corners[2] - o;
        const float u = dot(p - o, across) / dot(across, across);
        const float v = dot(p - o, up) / dot(up, up);
        if (u < 0 || u > 1 || v < 0 || v > 1 || p.y < 0) return 0;
        const int x = std::clamp(int(u * figure_->width()), 0, figure_->width() - 1);
        const int y = std::clamp(int((1 - v) * q.bottomV * figure_->height()), 0, figure_->height() - 1);
        return qAlpha(figure_->pixel(x, y));
    }

    // Hidden: the silhouette covers everything the blur reaches; clear: nothing of it is there.
    Light lightAt(const FramedQuad& q, Float3 x) const {
        const Float3 o = q.corners[0];
        const Float3 n = cross(q.corners[1] - o, q.corners[2] - o);
        const Float3 toLight = kKeyLightPosition - x;
        const float facing = dot(n, toLight);
        if (std::fabs(facing) < 1e-6f) return Light::clear;
        const float s = dot(n, o - x) / facing;
        if (s <= 0.01f || s >= 0.99f) return (s > -0.01f && s < 1.01f) ? Light::unsure : Light::clear;
        const Float3 hit = x + toLight * s;
        const Float3 ex = normalize(q.corners[1] - o);
        const Float3 ey = normalize(q.corners[2] - o);
        int lo = 255, hi = 0;
        const float reach = kShadowMargin + 0.02f;
        for (float dy = -reach; dy <= reach; dy += 0.01f) {
            for (float dx = -reach; dx <= reach; dx += 0.01f) {
                const int c = coverage(q, hit + ex * dx + ey * dy);
                lo = std::min(lo, c);
                hi = std::max(hi, c);
            }
        }
        if (hi == 0) return Light::clear;
        if (lo == 255) return Light::hidden;
        return Light::unsure;
    }

    static vantry::VantryMetalEngine* engine_;
    static QImage* figure_;
};
vantry::VantryMetalEngine* PresenterShadow::engine_ = nullptr;
QImage* PresenterShadow::figure_ = nullptr;

double luminance(QRgb p) {
    return 0.2126 * qRed(p) + 0.7152 * qGreen(p) + 0.0722 * qBlue(p);
}

TEST_P(PresenterShadow, FallsWhereTheKeyLightsProjectionSaysAndNeverOnTheWallOrTheNeon) {
    ASSERT_NE(engine_, nullptr) << "no OpenGL 3.3 context through EGL";
    const vantry::SetGeometry geometry = vantry::buildStudioSet(BroadcastStudioSet::manhattanLoft);
    engine_->loadSet(BroadcastStudioSet::manhattanLoft);
    engine_->setCameraAngle(angle());
    engine_->setKeyLightGain(1.35f);
    // Behind the desk, and large and close to the LED wall (whose screen its shadow would cross).
    const PresenterPlace places[] = {PresenterPlace{}, PresenterPlace{1.8f, -2.2f, 2.6f}};
    const auto pose = camera::cameraRig(angle(), 0);
    const float aspect = float(kWidth) / kHeight;
    const Float3 z = normalize(pose.eye - pose.target);
    const Float3 xAxis = normalize(cross(Float3{0, 1, 0}, z));
    const Float3 yAxis = cross(z, xAxis);
    const float tanHalf = std::tan(22.0f * 3.14159265f / 180.0f);
    int shadowedAll = 0;
    for (const PresenterPlace& place : places) {
        SCOPED_TRACE(testing::Message() << "place " << place.x << ", " << place.z);
        engine_->setInSetPresenterPlace(place);
        engine_->setInSetPresenter(QImage());
        const QImage alone = engine_->renderOffscreenCGImage(kWidth, kHeight, 0);
        engine_->setInSetPresenter(*figure_);
        const QImage inSet = engine_->renderOffscreenCGImage(kWidth, kHeight, 0);
        ASSERT_FALSE(alone.isNull() || inSet.isNull());
        const FramedQuad quad = presenterQuadFor(engine_->inSetPresenterPlace(),
                                                 float(figure_->width()) / float(figure_->height()), pose.eye,
                                                 engine_->inSetPresenterHead());
        const Float3 qo = quad.corners[0];
        const Float3 qn = cross(quad.corners[1] - qo, quad.corners[2] - qo);

        int shadowed = 0, clear = 0, lights = 0;
        for (int py = 2; py < kHeight - 2; py += 4) {
            for (int px = 2; px < kWidth - 2; px += 4) {
                // The pixel and four points near its corners must agree on what they show.
                std::optional<Light> light;
                bool agree = true, emitter = false;
                for (const auto& [ox, oy] :
                     {std::pair{0.5f, 0.5f}, {-0.4f, -0.4f}, {1.4f, -0.4f}, {-0.4f, 1.4f}, {1.4f, 1.4f}}) {
                    const float u = (px + ox) / kWidth, v = (py + oy) / kHeight;
                    const Float3 dir =
                        xAxis * ((2 * u - 1) * tanHalf * aspect) + yAxis * ((1 - 2 * v) * tanHalf) - z;
                    const auto hit = castRay(geometry, pose.eye, dir);
                    if (!hit) {
                        agree = false;
                        break;
                    }
                    // The presenter in front of the surface, near its silhouette: its own pixel.
                    const float denom = dot(qn, dir);
                    if (std::fabs(denom) > 1e-6f) {
                        const float tq = dot(qn, qo - pose.eye) / denom;
                        if (tq > 0 && tq < hit->t) {
                            const Float3 p = pose.eye + dir * tq;
                            const Float3 ex = normalize(quad.corners[1] - qo) * 0.04f;
                            const Float3 ey = normalize(quad.corners[2] - qo) * 0.04f;
                            if (coverage(quad, p) + coverage(quad, p + ex) + coverage(quad, p - ex) +
                                    coverage(quad, p + ey) + coverage(quad, p - ey) >
                                0) {
                                agree = false;
                                break;
                            }
                        }
                    }
                    if (hit->matTag > 1.5f) {
                        emitter = true;
                        continue;
                    }
                    const Light l = dot(hit->normal, normalize(kKeyLightPosition - hit->point)) > 0.15f
                                        ? lightAt(quad, hit->point)
                                        : Light::unsure;
                    if (light && *light != l) agree = false;
                    light = l;
                }
                if (!agree) continue;
                const QRgb a = alone.pixel(px, py), b = inSet.pixel(px, py);
                const int diff = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                           std::abs(qBlue(a) - qBlue(b))});
                if (emitter && !light) {
                    ++lights;
                    ASSERT_LE(diff, 1) << "LED wall or neon at " << px << ", " << py;
                } else if (emitter || !light || *light == Light::unsure) {
                    continue;
                } else if (*light == Light::clear) {
                    ++clear;
                    ASSERT_LE(diff, 1) << "lit surface at " << px << ", " << py;
                } else {
                    ++shadowed;
                    ASSERT_LT(luminance(b), luminance(a) - 3.0) << "shadowed surface at " << px << ", " << py;
                }
            }
        }
        std::printf("angle %d place (%.2f, %.2f): %d shadowed, %d clear, %d wall or neon\n", GetParam(),
                    place.x, place.z, shadowed, clear, lights);
        shadowedAll += shadowed;
        EXPECT_GT(clear, 1000);
    }
    // The large presenter near the wall throws a shadow that shows at every angle.
    EXPECT_GT(shadowedAll, 10);
}

INSTANTIATE_TEST_SUITE_P(EveryAngle, PresenterShadow, ::testing::Values(0, 1, 2, 3));

}  // namespace
