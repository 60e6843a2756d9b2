#include "creator/lobby/OruSpatialProximityVoiceDSPV1020.h"

#include <algorithm>
#include <cmath>

namespace vantry::creator {

namespace {

using Dsp = OruSpatialProximityVoiceDSPV1020;

// Clamp to -1..1 where a NaN becomes silence instead of travelling on.
inline float clampUnit(float v) {
    if (!(v == v)) return 0.0f;
    return std::min(std::max(v, -1.0f), 1.0f);
}

}  // namespace

bool OruSpatialProximityVoiceDSPV1020::isUsableSampleRate(float sampleRate) {
    // The filter needs a finite period T = 1/rate; a subnormal rate overflows it.
    return std::isfinite(sampleRate) && sampleRate > 0.0f && std::isfinite(1.0f / sampleRate);
}

OruSpatialVoiceMixResultV1020 OruSpatialProximityVoiceDSPV1020::spatializeMonoVoice(
    std::span<const float> monoSamples, float sampleRate, Float3 listenerPos, Float3 listenerRight,
    Float3 speakerPos, Float3 speakerVel, std::int64_t occludingWalls, float echoWetness,
    float maxHearingRadius) {
    OruSpatialVoiceMixResultV1020 result;
    const std::size_t n = monoSamples.size();

    // Distance, direction and the overall gain. A speaker whose position is not
    // finite is treated as out of hearing range.
    const Float3 d = speakerPos - listenerPos;
    const float length = vantry::length(d);
    float g = 0.0f;
    Float3 dir{0.0f, 0.0f, 0.0f};
    if (std::isfinite(length)) {
        const float dist = std::max(length, minimumDistance);
        dir = Float3{d.x / dist, d.y / dist, d.z / dist};
        float fade = (maxHearingRadius - dist) / edgeFadeWidth;
        if (!(fade > 0.0f)) fade = 0.0f;  // also a NaN radius
        if (fade > 1.0f) fade = 1.0f;
        g = fade / (1.0f + inverseSquareCoefficient * dist * dist);
    }
    result.distanceAttenuation = g;

    // Equal-power pan by the side the speaker is on; a zero or non-finite right
    // vector has no side and leaves the voice centred.
    float p = 0.0f;
    const float rightLength = vantry::length(listenerRight);
    if (rightLength > 0.0f && std::isfinite(rightLength)) {
        const Float3 r{listenerRight.x / rightLength, listenerRight.y / rightLength,
                       listenerRight.z / rightLength};
        p = dot(r, dir);
    }
    const float theta = p >= 1.0f ? halfPi : (std::max(p, -1.0f) + 1.0f) * 0.25f * pi;
    const float leftGain = g * std::cos(theta);
    const float rightGain = g * std::sin(theta);

    // Doppler, positive speed when the speaker moves away.
    const float c = speedOfSound + dopplerExaggeration * dot(speakerVel, dir);
    float ratio = c >= lowestSoundSpeed ? std::min(speedOfSound / c, maxPitchRatio) : maxPitchRatio;
    ratio = std::max(ratio, minPitchRatio);
    result.dopplerPitchRatio = ratio;

    // Low-pass cut-off per wall.
    const std::int64_t walls = std::max<std::int64_t>(occludingWalls, 0);
    const float fc =
        std::max(openAirCutoffHz * std::pow(perWallCutoffFactor, static_cast<float>(walls)), lowestCutoffHz);
    result.wallCutoffHz = fc;

    if (!isUsableSampleRate(sampleRate)) {
        // No filter coefficient or echo length exists for this rate: the voice is muted.
        result.stereoInterleavedPCM.assign(2 * n, 0.0f);
        return result;
    }
    const float T = 1.0f / sampleRate;
    const float alpha = T / (T + 1.0f / (twoPi * fc));

    // Echo line. Slots past the last frame are never read back, so a line longer
    // than the input behaves exactly like one of the input's length.
    const float echoSamples = sampleRate * echoDelaySec;
    std::size_t L = 1;
    if (echoSamples >= static_cast<float>(n)) {
        L = std::max<std::size_t>(n, 1);
    } else if (echoSamples >= 1.0f) {
        L = static_cast<std::size_t>(echoSamples);
    }
    std::vector<float> line(L, 0.0f);
    const float wet = std::isfinite(echoWetness) ? echoWetness : 0.0f;

    result.stereoInterleavedPCM.resize(2 * n);
    float* out = result.stereoInterleavedPCM.data();
    float y = 0.0f;
    std::size_t k = 0;
    float sumL = 0.0f, sumR = 0.0f, sumE = 0.0f;
    const std::size_t last = n == 0 ? 0 : n - 1;
    const float lastF = static_cast<float>(last);
    for (std::size_t i = 0; i < n; ++i) {
        const float x = ratio * static_cast<float>(i);
        const std::size_t i0 = x >= lastF ? last : static_cast<std::size_t>(x);
        const std::size_t i1 = std::min(i0 + 1, last);
        const float f = x - static_cast<float>(i0);
        float s = (1.0f - f) * monoSamples[i0] + f * monoSamples[i1];
        if (!std::isfinite(s)) s = 0.0f;  // a broken input sample is heard as silence

        y = y + alpha * (s - y);

        const float e = wet * line[k];
        line[k] = y + echoFeedback * e;
        const float v = y + e;
        if (++k == L) k = 0;

        const float left = clampUnit(leftGain * v);
        const float right = clampUnit(rightGain * v);
        out[2 * i] = left;
        out[2 * i + 1] = right;
        sumL += left * left;
        sumR += right * right;
        sumE += e * e;
    }
    const float denom = n == 0 ? 1.0f : static_cast<float>(n);
    result.leftRMS = std::sqrt(sumL / denom);
    result.rightRMS = std::sqrt(sumR / denom);
    result.echoEnergy = std::sqrt(sumE / denom);
    return result;
}

std::vector<float> OruSpatialProximityVoiceDSPV1020::generateTestVoiceWave(float frequencyHz,
                                                                           float durationSec,
                                                                           float sampleRate) {
    std::vector<float> wave;
    const float product = durationSec * sampleRate;
    // Also refuses counts no vector could hold.
    if (!(product >= 1.0f) || !std::isfinite(product) || product > 4.0e9f) return wave;
    const std::size_t count = static_cast<std::size_t>(product);
    wave.resize(count);
    const float w1 = frequencyHz * twoPi;
    const float w2 = frequencyHz * 2.15f * twoPi;
    for (std::size_t i = 0; i < count; ++i) {
        const float t = static_cast<float>(i) / sampleRate;
        wave[i] = 0.55f * std::sin(w1 * t) + 0.22f * std::sin(w2 * t);
    }
    return wave;
}

}  // namespace vantry::creator
