// The haptic engine a device adapter implements: it plays single events, at relative time 0.
// The weapon haptics player (creator/replay-raids) drives it; SdlControllerRumble is the Linux one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace vantry::platform {

enum class OruHapticEventType : std::uint8_t { transient, continuous };

struct OruHapticEvent {
    OruHapticEventType type = OruHapticEventType::transient;
    float intensity = 0;  // 0..1
    float sharpness = 0;  // 0..1
    double duration = 0;  // seconds

    friend bool operator==(const OruHapticEvent&, const OruHapticEvent&) = default;
};

// A started device that plays single haptic events, relative time 0.
class OruHapticEngine {
  public:
    virtual ~OruHapticEngine() = default;
    // False when the engine could not start; the caller keeps the engine anyway.
    virtual bool start() = 0;
    // Plays one event now; false when the device refused it.
    virtual bool playEvent(const OruHapticEvent& event) = 0;
};

// Returns an engine for the hardware, or null when the hardware has no haptics or creating the engine
// failed.
using OruHapticEngineFactory = std::function<std::unique_ptr<OruHapticEngine>()>;

}  // namespace vantry::platform
