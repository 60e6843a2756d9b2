#include "studio/ColourMatch.h"

#include <algorithm>
#include <cmath>

namespace vantry::studio {
namespace {

float luminance(Float3 c) {
    return 0.2126f * c.x + 0.7152f * c.y + 0.0722f * c.z;
}

// Linear light of each 8-bit gamma-encoded value, as the presenter's shader decodes it.
struct LinearTable {
    std::array<float, 256> value{};
    LinearTable() {
        for (int i = 0; i < 256; ++i) value[std::size_t(i)] = std::pow(float(i) / 255.0f, 2.2f);
    }
};

const LinearTable& linearTable() {
    static const LinearTable table;
    return table;
}

}  // namespace

PersonColour measurePersonColour(const std::uint8_t* bgra, int width, int height, int stride) {
    PersonColour out;
    if (bgra == nullptr || width < 1 || height < 1) return out;
    const auto& lin = linearTable().value;
    double sum[3] = {0, 0, 0};
    for (int y = kMeasureStep / 2; y < height; y += kMeasureStep) {
        const std::uint8_t* row = bgra + std::ptrdiff_t(y) * stride;
        for (int x = kMeasureStep / 2; x < width; x += kMeasureStep) {
            const std::uint8_t* p = row + std::ptrdiff_t(x) * 4;
            const int a = p[3];
            if (a < kPersonCoverage) continue;
            // Straight colour, rounded, from the premultiplied bytes.
            const auto straight = [a](int c) { return std::min(255, (c * 255 + a / 2) / a); };
            sum[0] += lin[std::size_t(straight(p[2]))];
            sum[1] += lin[std::size_t(straight(p[1]))];
            sum[2] += lin[std::size_t(straight(p[0]))];
            ++out.samples;
        }
    }
    if (out.samples > 0) {
        const double n = double(out.samples);
        out.meanLinear = {float(sum[0] / n), float(sum[1] / n), float(sum[2] / n)};
    }
    return out;
}

void ColourMatch::setEnabled(bool enabled) {
    enabled_ = enabled;
    gains_ = {1.0f, 1.0f, 1.0f};
}

Float3 ColourMatch::settledGains(const PersonColour& person, Float3 keyLight) {
    if (person.samples < kMinSamples) return {1.0f, 1.0f, 1.0f};
    constexpr float kTiny = 1e-4f;
    const Float3 m{std::max(person.meanLinear.x, kTiny), std::max(person.meanLinear.y, kTiny),
                   std::max(person.meanLinear.z, kTiny)};
    const Float3 t{std::max(keyLight.x, kTiny), std::max(keyLight.y, kTiny), std::max(keyLight.z, kTiny)};
    const float lm = luminance(m);
    const float lt = luminance(t);
    // White balance: part of the way from the person's channel ratios to the light's, keeping
    // the person's luminance.
    const auto share = [&](float tc, float mc) {
        return std::pow((tc / lt) / (mc / lm), kWhiteBalanceShare);
    };
    Float3 w{share(t.x, m.x), share(t.y, m.y), share(t.z, m.z)};
    const float keep = lm / luminance({w.x * m.x, w.y * m.y, w.z * m.z});
    // Exposure: most of the way to the target luminance.
    const float e = std::pow(kTargetLuminance / lm, kExposureShare) * keep;
    const auto bound = [](float g) { return std::clamp(g, kMinGain, kMaxGain); };
    return {bound(w.x * e), bound(w.y * e), bound(w.z * e)};
}

void ColourMatch::update(const PersonColour& person, Float3 keyLight, float seconds) {
    if (!enabled_) {
        gains_ = {1.0f, 1.0f, 1.0f};
        return;
    }
    if (person.samples < kMinSamples) return;  // nobody in the picture: hold
    const Float3 settled = settledGains(person, keyLight);
    const float dt = std::clamp(std::isfinite(seconds) ? seconds : 0.0f, 0.0f, kMaxStep);
    const float k = 1.0f - std::exp(-dt / kTimeConstant);
    // In log terms, so that a gain moves alike up and down.
    const auto step = [k](float g, float to) { return g * std::pow(to / g, k); };
    gains_ = {step(gains_.x, settled.x), step(gains_.y, settled.y), step(gains_.z, settled.z)};
}

QuantisedGains ColourMatch::quantised() const {
    const auto q = [](float g) {
        return std::uint16_t(std::lround(std::clamp(g, kMinGain, kMaxGain) * float(kGainSteps)));
    };
    return {q(gains_.x), q(gains_.y), q(gains_.z)};
}

Float3 quantisedToGains(const QuantisedGains& q) {
    const float s = 1.0f / float(kGainSteps);
    return {float(q[0]) * s, float(q[1]) * s, float(q[2]) * s};
}

}  // namespace vantry::studio
