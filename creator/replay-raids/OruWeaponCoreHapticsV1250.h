// Weapon and impact haptic signatures, and the player that turns one into a single haptic event on
// the device's haptic engine (game-controller rumble on Linux).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/haptics/HapticEngine.h"

namespace vantry::creator {

enum class OruWeaponHapticSignatureV1250 : std::uint8_t {
    mk18CrispSear,
    benelliM4HeavyThump,
    magnum50HandCannon,
    headshotSkullPopCrunch,
    conEdCoreElectricHum,
    substationPowerSurge,
};

inline constexpr std::array<OruWeaponHapticSignatureV1250, 6> kAllWeaponHapticSignatures = {
    OruWeaponHapticSignatureV1250::mk18CrispSear,
    OruWeaponHapticSignatureV1250::benelliM4HeavyThump,
    OruWeaponHapticSignatureV1250::magnum50HandCannon,
    OruWeaponHapticSignatureV1250::headshotSkullPopCrunch,
    OruWeaponHapticSignatureV1250::conEdCoreElectricHum,
    OruWeaponHapticSignatureV1250::substationPowerSurge,
};

// The case name.
std::string_view rawValue(OruWeaponHapticSignatureV1250 signature);
// Exactly the six case names (case-sensitive) give a case; anything else gives none.
std::optional<OruWeaponHapticSignatureV1250> weaponHapticSignatureFromRawValue(std::string_view raw);

// The event and engine types are the device adapter's (platform/haptics).
using platform::OruHapticEngine;
using platform::OruHapticEngineFactory;
using platform::OruHapticEvent;
using platform::OruHapticEventType;

// The one event a signature plays.
OruHapticEvent hapticEvent(OruWeaponHapticSignatureV1250 signature);

class OruWeaponCoreHapticsV1250 {
  public:
    // The process-wide instance, created on first access (exactly once even when several threads get
    // there first) with the factory installed at that moment.
    static OruWeaponCoreHapticsV1250& shared();
    // Sets the factory the shared instance is built with; call before its first access. Until one is
    // installed the hardware counts as having no haptics.
    static void installEngineFactory(OruHapticEngineFactory factory);

    // Asks makeEngine for an engine (null or no factory: none) and starts it; a failed start is
    // dropped and the engine stays.
    explicit OruWeaponCoreHapticsV1250(const OruHapticEngineFactory& makeEngine);
    OruWeaponCoreHapticsV1250(const OruWeaponCoreHapticsV1250&) = delete;
    OruWeaponCoreHapticsV1250& operator=(const OruWeaponCoreHapticsV1250&) = delete;

    OruHapticEngine* engine() const { return engine_.get(); }
    std::int64_t triggeredCount() const { return triggeredCount_.load(std::memory_order_relaxed); }

    // Counts the call, then plays the signature's event if there is an engine; failures are dropped.
    void play(OruWeaponHapticSignatureV1250 signature);

  private:
    std::unique_ptr<OruHapticEngine> engine_;
    std::atomic<std::int64_t> triggeredCount_{0};
};

}  // namespace vantry::creator
