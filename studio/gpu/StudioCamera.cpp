#include "studio/gpu/StudioCamera.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "studio/FrameKey.h"
#include "studio/PresenterPlace.h"
#include "studio/SetGeometry.h"

namespace vantry::studio::camera {

CameraPose cameraRig(BroadcastCameraAngle angle, float t) {
    switch (angle.value()) {
        case BroadcastCameraAngle::wideDesk:
            return {{0.35f * std::sin(0.25f * t), 1.95f, 5.4f}, {0.25f, 1.55f, -1.6f}};
        case BroadcastCameraAngle::screenShoulder:
            return {{-1.6f, 1.85f, 3.6f}, {1.15f, 2.05f, -3.0f}};
        case BroadcastCameraAngle::tightHost:
            return {{-0.7f, 1.55f, 3.2f}, {-0.4f, 1.25f, 0.2f}};
        case BroadcastCameraAngle::sweepingCrane:
            return {{3.8f * std::sin(0.6f * t), 3.0f + 0.4f * std::cos(0.5f * t), 5.6f}, {0.2f, 1.5f, -1.4f}};
    }
    return {};
}

float clampMoveDuration(float seconds) {
    if (!std::isfinite(seconds)) return 1.0f;
    return std::clamp(seconds, kMinMoveSeconds, kMaxMoveSeconds);
}

float easeInOut(float p) {
    p = std::clamp(p, 0.0f, 1.0f);
    if (p < 0.5f) return 4.0f * p * p * p;
    const float q = 2.0f - 2.0f * p;
    return 1.0f - 0.5f * q * q * q;
}

float moveProgress(const CameraMove& move, float t) {
    if (t < move.start || !(move.duration > 0)) return 1.0f;
    return std::min(1.0f, (t - move.start) / move.duration);
}

bool moveRunning(const CameraMove& move, float t) {
    return moveProgress(move, t) < 1.0f;
}

CameraPose movedPose(const CameraMove& move, BroadcastCameraAngle to, float t) {
    const CameraPose end = cameraRig(to, t);
    const float w = easeInOut(moveProgress(move, t));
    if (w >= 1.0f) return end;
    const auto mix = [w](Float3 a, Float3 b) { return a + (b - a) * w; };
    return {mix(move.from.eye, end.eye), mix(move.from.target, end.target)};
}

Lens landscapeLens() {
    return {static_cast<float>(44.0 * std::numbers::pi / 180.0), 0.0f};
}

std::vector<Float3> verticalFramePoints() {
    // The desk (its body and top) and the wall's screen as the set builds them: every set has
    // the same boxes, only their colours differ.
    const SetGeometry set = buildStudioSet(BroadcastStudioSet::manhattanLoft);
    std::vector<Float3> points;
    for (const StageVertex& v : set.vertices) {
        const bool desk = v.matTag > 0.5f && v.matTag < 1.5f;
        const bool screen = v.matTag > 1.5f && v.matTag < 2.5f;
        if (desk || screen) points.push_back(v.position);
    }
    const PresenterPlace place;
    points.push_back({place.x, 0.0f, place.z});
    points.push_back({place.x, place.height, place.z});
    return points;
}

namespace {

// A point's place in the view of lookAt(eye, target): tangents across and up of the angle it
// makes with the view's axis.
struct ViewTangents {
    float across = 0;
    float up = 0;
};

ViewTangents viewTangents(const CameraPose& pose, float lift, Float3 p) {
    const Float3 target{pose.target.x, pose.target.y + lift, pose.target.z};
    const Float3 z = normalize(pose.eye - target);
    const Float3 x = normalize(cross(Float3{0, 1, 0}, z));
    const Float3 y = cross(z, x);
    const Float3 d = p - pose.eye;
    const float depth = std::max(-dot(d, z), 1e-3f);
    return {dot(d, x) / depth, dot(d, y) / depth};
}

// The poses an angle films from: the one pose of a still angle, or its motion sampled over a
// whole period of the wide desk's sway and of the crane (both repeat within 20 pi seconds).
std::vector<CameraPose> posesOf(BroadcastCameraAngle angle) {
    if (!angleMoves(angle)) return {cameraRig(angle, 0.0f)};
    std::vector<CameraPose> poses;
    constexpr int kSamples = 1024;
    const float period = static_cast<float>(20.0 * std::numbers::pi);
    for (int i = 0; i < kSamples; ++i) poses.push_back(cameraRig(angle, period * float(i) / float(kSamples)));
    return poses;
}

Lens deriveVerticalLens(BroadcastCameraAngle angle) {
    constexpr float kAspect = 9.0f / 16.0f;
    const std::vector<Float3> points = verticalFramePoints();
    const std::vector<CameraPose> poses = posesOf(angle);
    // How far the points' highest tangent exceeds their lowest one's depth below the axis:
    // falls as the target rises.
    const auto imbalance = [&](float lift) {
        float top = -1e9f, bottom = 1e9f;
        for (const CameraPose& pose : poses) {
            for (const Float3& p : points) {
                const float up = viewTangents(pose, lift, p).up;
                top = std::max(top, up);
                bottom = std::min(bottom, up);
            }
        }
        return top + bottom;
    };
    float low = -3.0f, high = 3.0f;
    for (int i = 0; i < 40; ++i) {
        const float mid = 0.5f * (low + high);
        (imbalance(mid) > 0 ? low : high) = mid;
    }
    const float lift = 0.5f * (low + high);
    float tanHalf = 0;
    for (const CameraPose& pose : poses) {
        for (const Float3& p : points) {
            const ViewTangents v = viewTangents(pose, lift, p);
            tanHalf = std::max({tanHalf, std::fabs(v.across) / kAspect, std::fabs(v.up)});
        }
    }
    tanHalf /= 1.0f - kVerticalFrameMargin;
    return {2.0f * std::atan(tanHalf), lift};
}

}  // namespace

Lens verticalLens(BroadcastCameraAngle angle) {
    static const std::array<Lens, 4> lenses = [] {
        std::array<Lens, 4> made{};
        for (int i = 0; i < 4; ++i) made[std::size_t(i)] = deriveVerticalLens(BroadcastCameraAngle::Case(i));
        return made;
    }();
    return lenses[std::size_t(angle.value())];
}

Lens canvasLens(ProgramCanvas canvas, BroadcastCameraAngle angle) {
    return canvas == ProgramCanvas::vertical ? verticalLens(angle) : landscapeLens();
}

Lens movedVerticalLens(const CameraMove& move, BroadcastCameraAngle to, float t) {
    const Lens end = verticalLens(to);
    const float w = easeInOut(moveProgress(move, t));
    if (!move.fromVerticalLens || w >= 1.0f) return end;
    const Lens& from = *move.fromVerticalLens;
    return {from.fovY + (end.fovY - from.fovY) * w, from.lift + (end.lift - from.lift) * w};
}

Float4x4 lookAt(Float3 eye, Float3 target, Float3 up) {
    const Float3 z = normalize(eye - target);
    const Float3 x = normalize(cross(up, z));
    const Float3 y = cross(z, x);
    Float4x4 m;
    m.columns[0] = {x.x, y.x, z.x, 0};
    m.columns[1] = {x.y, y.y, z.y, 0};
    m.columns[2] = {x.z, y.z, z.z, 0};
    m.columns[3] = {-dot(x, eye), -dot(y, eye), -dot(z, eye), 1};
    return m;
}

Float4x4 studioProjection(float aspect) {
    constexpr float kNear = 0.1f;
    constexpr float kFar = 80.0f;
    const float s = 1.0f / std::tan(static_cast<float>(22.0 * std::numbers::pi / 180.0));
    Float4x4 m;
    m.columns[0] = {s / aspect, 0, 0, 0};
    m.columns[1] = {0, s, 0, 0};
    m.columns[2] = {0, 0, kFar / (kNear - kFar), -1};
    m.columns[3] = {0, 0, kNear * kFar / (kNear - kFar), 0};
    return m;
}

Float4x4 lensViewProj(const CameraPose& pose, const Lens& lens, float aspect) {
    if (lens == landscapeLens()) return studioProjection(aspect) * lookAt(pose.eye, pose.target, {0, 1, 0});
    Float4x4 projection = studioProjection(aspect);
    const float s = 1.0f / std::tan(0.5f * lens.fovY);
    projection.columns[0] = {s / aspect, 0, 0, 0};
    projection.columns[1] = {0, s, 0, 0};
    const Float3 target{pose.target.x, pose.target.y + lens.lift, pose.target.z};
    return projection * lookAt(pose.eye, target, {0, 1, 0});
}

std::optional<Float3> floorPointAt(const CameraPose& pose, float aspect, float u, float v) {
    if (!std::isfinite(u) || !std::isfinite(v) || !(aspect > 0)) return std::nullopt;
    // The view's axes as lookAt builds them; the camera looks along -z.
    const Float3 z = normalize(pose.eye - pose.target);
    const Float3 x = normalize(cross(Float3{0, 1, 0}, z));
    const Float3 y = cross(z, x);
    const float tanHalf = std::tan(static_cast<float>(22.0 * std::numbers::pi / 180.0));
    const Float3 ray = x * ((2 * u - 1) * tanHalf * aspect) + y * ((1 - 2 * v) * tanHalf) - z;
    if (!(ray.y < -1e-6f)) return std::nullopt;
    const float t = -pose.eye.y / ray.y;
    return Float3{pose.eye.x + ray.x * t, 0.0f, pose.eye.z + ray.z * t};
}

float liveAspect(int width, int height) {
    const double a = static_cast<double>(width) / static_cast<double>(std::max(height, 1));
    return static_cast<float>(std::max(1.0, a));
}

float offscreenAspect(int width, int height) {
    return static_cast<float>(width) / static_cast<float>(std::max(height, 1));
}

StageUniforms makeStageUniforms(BroadcastStudioSet set, BroadcastCameraAngle angle, float t, float keyGain,
                                float neonGain, float wallBrightness, float aspect) {
    return makeStageUniforms(set, cameraRig(angle, t), t, keyGain, neonGain, wallBrightness, aspect);
}

StageUniforms makeStageUniforms(BroadcastStudioSet set, const CameraPose& pose, float t, float keyGain,
                                float neonGain, float wallBrightness, float aspect) {
    return makeStageUniforms(set, pose, landscapeLens(), t, keyGain, neonGain, wallBrightness, aspect);
}

StageUniforms makeStageUniforms(BroadcastStudioSet set, const CameraPose& pose, const Lens& lens, float t,
                                float keyGain, float neonGain, float wallBrightness, float aspect) {
    StageUniforms u;
    u.viewProj = lensViewProj(pose, lens, aspect);
    u.cameraPos = {pose.eye.x, pose.eye.y, pose.eye.z, 1.0f};
    const Float3 accent = set.accentColor();
    u.accentAndNeon = {accent.x, accent.y, accent.z, neonGain};
    u.keyGainAndWallBright = {keyGain, wallBrightness, 0, 0};
    u.timeAndSet = {t, 0, 0, 0};
    return u;
}

double clampFrameStep(double dt) {
    return std::clamp(dt, 0.001, 0.05);
}

std::vector<std::uint8_t> makeFallbackWallPixels() {
    std::vector<std::uint8_t> px(std::size_t(kFallbackWallWidth) * kFallbackWallHeight * 4);
    for (int y = 0; y < kFallbackWallHeight; ++y) {
        for (int x = 0; x < kFallbackWallWidth; ++x) {
            std::uint8_t* p = &px[(std::size_t(y) * kFallbackWallWidth + std::size_t(x)) * 4];
            p[0] = 20;
            p[1] = static_cast<std::uint8_t>(60 + (120 * x) / 256);
            p[2] = static_cast<std::uint8_t>(120 + (100 * y) / 144);
            p[3] = 255;
        }
    }
    return px;
}

}  // namespace vantry::studio::camera
