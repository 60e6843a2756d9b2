// How a haptic event becomes a game-controller rumble: the two motors share the event's intensity by an
// equal-power crossfade over its sharpness (soft events lean on the low-frequency motor, crisp ones on
// the high-frequency motor), so low^2 + high^2 = intensity^2; the rumble lasts the event's duration.
// Transient events play as one short pulse of the full duration given for them.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "platform/haptics/HapticEngine.h"

namespace vantry::platform::haptics {

struct RumblePulse {
    std::uint16_t lowFrequency = 0;   // 0..65535
    std::uint16_t highFrequency = 0;  // 0..65535
    std::uint32_t durationMs = 0;

    friend bool operator==(const RumblePulse&, const RumblePulse&) = default;
};

// Longest rumble SDL keeps running.
inline constexpr std::uint32_t kMaxRumbleMs = 0xFFFF;

inline RumblePulse rumblePulseFor(const OruHapticEvent& event) {
    const auto unit = [](float v) {
        return std::isfinite(v) ? std::clamp(static_cast<double>(v), 0.0, 1.0) : 0.0;
    };
    const double intensity = unit(event.intensity);
    const double sharpness = unit(event.sharpness);
    const auto motor = [](double level) { return static_cast<std::uint16_t>(std::lround(level * 65535.0)); };
    const double seconds =
        std::isfinite(event.duration) ? std::clamp(event.duration, 0.0, kMaxRumbleMs / 1000.0) : 0.0;
    return {motor(intensity * std::sqrt(1.0 - sharpness)), motor(intensity * std::sqrt(sharpness)),
            static_cast<std::uint32_t>(std::lround(seconds * 1000.0))};
}

}  // namespace vantry::platform::haptics
