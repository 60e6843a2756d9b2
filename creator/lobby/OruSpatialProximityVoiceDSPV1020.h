// Places one speaker's mono voice in the listener's stereo field: distance
// attenuation with an edge fade, equal-power pan, a one-pole low-pass per wall,
// an exaggerated Doppler resample and a short feedback echo.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/Vector.h"

namespace vantry::creator {

struct OruSpatialVoiceMixResultV1020 {
    std::vector<float> stereoInterleavedPCM;  // 2·n samples, left then right, each within -1..1
    float leftRMS = 0;
    float rightRMS = 0;
    float distanceAttenuation = 0;  // overall gain before panning
    float wallCutoffHz = 0;
    float dopplerPitchRatio = 0;
    float echoEnergy = 0;  // RMS of the echo contribution
};

class OruSpatialProximityVoiceDSPV1020 {
  public:
    OruSpatialProximityVoiceDSPV1020() = delete;

    static constexpr float minimumDistance = 0.35f;
    static constexpr float edgeFadeWidth = 4.5f;
    static constexpr float inverseSquareCoefficient = 0.14f;
    static constexpr float speedOfSound = 343.0f;
    static constexpr float dopplerExaggeration = 4.2f;
    static constexpr float lowestSoundSpeed = 120.0f;
    static constexpr float minPitchRatio = 0.65f;
    static constexpr float maxPitchRatio = 1.38f;
    static constexpr float openAirCutoffHz = 11000.0f;
    static constexpr float perWallCutoffFactor = 0.32f;
    static constexpr float lowestCutoffHz = 480.0f;
    static constexpr float echoDelaySec = 0.058f;
    static constexpr float echoFeedback = 0.35f;
    static constexpr float pi = 3.1415925f;
    static constexpr float halfPi = 1.5707963f;
    static constexpr float twoPi = 6.283185f;

    // The whole mix runs in single precision. A sample rate that is not a positive
    // finite number (its period 1/rate must be finite too) gives a muted mix: 2·n
    // zero samples and zero RMS values, with gain, cut-off and pitch ratio still
    // reported. Non-finite positions, radius, wetness or samples never put NaN or
    // infinity into the output either (see the .cpp for each rule).
    static OruSpatialVoiceMixResultV1020 spatializeMonoVoice(std::span<const float> monoSamples,
                                                             float sampleRate, Float3 listenerPos,
                                                             Float3 listenerRight, Float3 speakerPos,
                                                             Float3 speakerVel, std::int64_t occludingWalls,
                                                             float echoWetness, float maxHearingRadius);

    // Two-tone test voice: 0.55·sin(f·2π·t) + 0.22·sin(2.15·f·2π·t). A duration·rate
    // product that is not a positive finite number gives no samples.
    static std::vector<float> generateTestVoiceWave(float frequencyHz, float durationSec, float sampleRate);

    // True when spatializeMonoVoice can filter at this rate.
    static bool isUsableSampleRate(float sampleRate);
};

}  // namespace vantry::creator
