// Virtual cinematographer: prime lenses, depth-of-field blur, documentary shot scoring and NPC eye gaze.
// Everything is single precision and deterministic.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantry::creator {

class OruCinemaLensMMV950 {
  public:
    enum Case : std::uint8_t { wide24mm, cinema35mm, standard50mm, portrait85mm };

    constexpr OruCinemaLensMMV950(Case c) : case_(c) {}  // NOLINT: implicit from a case, like an enum

    // Exactly 24, 35, 50 or 85; any other value (NaN included) is absent.
    static std::optional<OruCinemaLensMMV950> fromRawValue(float millimetres);
    static const std::array<OruCinemaLensMMV950, 4>& allCases();

    constexpr Case value() const { return case_; }
    float rawValue() const;  // focal length in millimetres
    float fStopAperture() const;
    float focalLengthMeters() const;
    // Vertical view of a 24 mm high sensor: 2·atan(24 / (2·mm)) in degrees.
    float verticalFOVDegrees() const;

    friend constexpr bool operator==(OruCinemaLensMMV950 a, OruCinemaLensMMV950 b) {
        return a.case_ == b.case_;
    }

  private:
    Case case_;
};

struct OruDocumentaryShotScoreV950 {
    float compositionScore01 = 0;
    float proximityScore01 = 0;
    float rarityMultiplier = 0;
    std::int64_t totalViralScore = 0;
    std::int64_t estimatedPayoutUSD = 0;
    std::string verdict;

    // Keyed JSON record, keys in field order.
    std::string encodeJson() const;

    friend bool operator==(const OruDocumentaryShotScoreV950&, const OruDocumentaryShotScoreV950&) = default;
};

struct OruNPCEyeGazeStateV950 {
    float eyeYawRad = 0;
    float eyePitchRad = 0;
    float blinkClosed01 = 0;
    float suspiciousDartOffsetRad = 0;

    friend bool operator==(const OruNPCEyeGazeStateV950&, const OruNPCEyeGazeStateV950&) = default;
};

struct CinemaVec2 {
    float x = 0;
    float y = 0;
};
struct CinemaVec3 {
    float x = 0;
    float y = 0;
    float z = 0;
};

namespace OruVirtualCinematographerV950 {

inline constexpr float kPi = 3.1415925f;
inline constexpr float kTwoPi = 6.283185f;

inline constexpr std::string_view kVerdictViral = "PULITZER / VIRAL FRONT-PAGE SHOT!";
inline constexpr std::string_view kVerdictBroadcast = "BROADCAST GRADE FOOTAGE";
inline constexpr std::string_view kVerdictBRoll = "B-ROLL COVERAGE";

float circleOfConfusion01(float depthMeters, float focusMeters, OruCinemaLensMMV950 lens);

// A non-finite total scores 0; totals beyond the 64-bit range saturate, and so does the payout.
OruDocumentaryShotScoreV950 scoreFootageFrame(CinemaVec2 subjectScreenUV, float distanceMeters,
                                              float subjectRarity01, float actionVelocityMPS);

OruNPCEyeGazeStateV950 evaluateNPCEyeGaze(CinemaVec3 npcHeadPos, CinemaVec2 npcForwardXZ,
                                          CinemaVec3 playerEyePos, float timeSec, float stress01);

}  // namespace OruVirtualCinematographerV950

}  // namespace vantry::creator
