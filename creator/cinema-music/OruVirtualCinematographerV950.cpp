#include "creator/cinema-music/OruVirtualCinematographerV950.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "common/EnumTable.h"

namespace vantry::creator {

namespace {

struct LensRow {
    float mm;
    float fStop;
    float focalMeters;
    float fovDegrees;
};

constexpr std::array<LensRow, 4> kLenses{{
    {24.0f, 4.0f, 0.024f, 53.130104f},
    {35.0f, 2.0f, 0.035f, 37.849289f},
    {50.0f, 1.4f, 0.05f, 26.991468f},
    {85.0f, 1.2f, 0.085f, 16.071423f},
}};

std::string floatText(float v) {
    char buf[48];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    std::string s(buf, res.ptr);
    if (s.find_first_of(".en") == std::string::npos) s += ".0";
    return s;
}

std::int64_t saturatingTruncate(float v) {
    if (!std::isfinite(v)) return 0;
    constexpr float kLimit = 9.2233720368547758e18f;  // 2^63 as a float
    if (v >= kLimit) return std::numeric_limits<std::int64_t>::max();
    if (v <= -kLimit) return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(v);  // truncates towards zero
}

std::int64_t saturatingTimesFour(std::int64_t v) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    if (v > kMax / 4) return kMax;
    if (v < kMin / 4) return kMin;
    return v * 4;
}

}  // namespace

std::optional<OruCinemaLensMMV950> OruCinemaLensMMV950::fromRawValue(float millimetres) {
    return enum_table::find<OruCinemaLensMMV950>(kLenses, &LensRow::mm, millimetres);
}

const std::array<OruCinemaLensMMV950, 4>& OruCinemaLensMMV950::allCases() {
    return enum_table::allCases<OruCinemaLensMMV950, 4>();
}

float OruCinemaLensMMV950::rawValue() const {
    return kLenses[case_].mm;
}
float OruCinemaLensMMV950::fStopAperture() const {
    return kLenses[case_].fStop;
}
float OruCinemaLensMMV950::focalLengthMeters() const {
    return kLenses[case_].focalMeters;
}
float OruCinemaLensMMV950::verticalFOVDegrees() const {
    return kLenses[case_].fovDegrees;
}

std::string OruDocumentaryShotScoreV950::encodeJson() const {
    std::string out = "{\"compositionScore01\":" + floatText(compositionScore01);
    out += ",\"proximityScore01\":" + floatText(proximityScore01);
    out += ",\"rarityMultiplier\":" + floatText(rarityMultiplier);
    out += ",\"totalViralScore\":" + std::to_string(totalViralScore);
    out += ",\"estimatedPayoutUSD\":" + std::to_string(estimatedPayoutUSD);
    out += ",\"verdict\":\"" + verdict + "\"}";  // verdicts are fixed texts without escapes
    return out;
}

namespace OruVirtualCinematographerV950 {

float circleOfConfusion01(float depthMeters, float focusMeters, OruCinemaLensMMV950 lens) {
    const float f = lens.focalLengthMeters();
    const float n = lens.fStopAperture();
    const float coc = 180.0f * (f * f / n) / std::max(focusMeters - f, 0.15f) *
                      std::fabs(depthMeters - focusMeters) / std::max(depthMeters, 0.25f);
    return std::min(1.0f, coc);
}

OruDocumentaryShotScoreV950 scoreFootageFrame(CinemaVec2 uv, float distanceMeters, float subjectRarity01,
                                              float actionVelocityMPS) {
    static constexpr std::array<CinemaVec2, 5> kAnchors{
        {{0.333f, 0.333f}, {0.667f, 0.333f}, {0.333f, 0.667f}, {0.667f, 0.667f}, {0.5f, 0.5f}}};
    float g = std::numeric_limits<float>::infinity();
    for (const auto& a : kAnchors) {
        const float dx = uv.x - a.x;
        const float dy = uv.y - a.y;
        g = std::min(g, std::sqrt(dx * dx + dy * dy));
    }
    const float composition = std::clamp(1.0f - 2.4f * g, 0.0f, 1.0f);
    const float proximity = std::clamp(1.0f - std::fabs(distanceMeters - 12.0f) / 45.0f, 0.1f, 1.0f);
    const float rarity = subjectRarity01 < 1.0f ? 1.0f + 2.5f * std::max(subjectRarity01, 0.0f) : 3.5f;
    const float action = 1.0f + std::min(0.06f * actionVelocityMPS, 1.2f);
    const float product = action * (rarity * (composition * 420.0f + proximity * 280.0f));

    OruDocumentaryShotScoreV950 s;
    s.compositionScore01 = composition;
    s.proximityScore01 = proximity;
    s.rarityMultiplier = rarity;
    s.totalViralScore = saturatingTruncate(product);
    s.estimatedPayoutUSD = saturatingTimesFour(s.totalViralScore);
    if (s.totalViralScore >= 1200) {
        s.verdict = kVerdictViral;
    } else if (s.totalViralScore >= 700) {
        s.verdict = kVerdictBroadcast;
    } else {
        s.verdict = kVerdictBRoll;
    }
    return s;
}

OruNPCEyeGazeStateV950 evaluateNPCEyeGaze(CinemaVec3 h, CinemaVec2 fwd, CinemaVec3 p, float t, float stress) {
    const CinemaVec3 c{p.x - h.x, p.y - h.y, p.z - h.z};
    float yaw = std::atan2(c.x, -c.z) - std::atan2(fwd.x, -fwd.y);
    // Both terms lie in [-pi, pi], so each loop runs at most once.
    while (yaw > kPi) yaw -= kTwoPi;
    while (yaw < -kPi) yaw += kTwoPi;

    const float q = std::fmod(t, 3.8f);
    const float blink = q > 3.62f ? std::sin((q - 3.62f) / 0.18f * kPi) : 0.0f;
    const float dart = stress > 0.55f ? stress * std::sin(5.2f * t) * 0.24f : 0.0f;
    const float pitch = std::clamp(std::atan2(c.y, std::max(std::hypot(c.x, c.z), 0.01f)), -0.35f, 0.35f);

    OruNPCEyeGazeStateV950 g;
    g.eyeYawRad = std::clamp(yaw, -0.55f, 0.55f) + dart;
    g.eyePitchRad = pitch;
    g.blinkClosed01 = blink;
    g.suspiciousDartOffsetRad = dart;
    return g;
}

}  // namespace OruVirtualCinematographerV950

}  // namespace vantry::creator
