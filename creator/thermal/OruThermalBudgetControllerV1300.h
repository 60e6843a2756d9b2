// Thermal tiers and the four fixed render profiles a scene may afford.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace vantry::creator {

// Thrown when a stored tier or profile cannot be read back.
class ThermalDecodingError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class OruThermalTierV1300 {
  public:
    enum Case : std::uint8_t { coolNominal, warmBalanced, hotConservation, criticalCoolDown };

    constexpr OruThermalTierV1300(Case c) : case_(c) {}  // NOLINT: implicit from a case, like an enum

    // Exactly one of the four raw strings; anything else is absent.
    static std::optional<OruThermalTierV1300> fromRawValue(std::string_view raw);
    static const std::array<OruThermalTierV1300, 4>& allCases();

    constexpr Case value() const { return case_; }
    std::string_view rawValue() const;

    std::string encode() const { return std::string(rawValue()); }
    static OruThermalTierV1300 decode(std::string_view stored);  // throws ThermalDecodingError

    friend constexpr bool operator==(OruThermalTierV1300 a, OruThermalTierV1300 b) {
        return a.case_ == b.case_;
    }

  private:
    Case case_;
};

// The platform's process thermal state, in its own numbering.
enum class DeviceThermalState : int { nominal = 0, fair = 1, serious = 2, critical = 3 };

struct OruThermalRenderProfileV1300 {
    OruThermalTierV1300 tier = OruThermalTierV1300::coolNominal;
    std::int64_t preferredFPS = 0;
    bool enable2XMSAA = false;
    double contentScaleCap = 0;
    std::int64_t shadowMapPixels = 0;
    bool allowDirectionalShadows = false;
    double floorReflectivity = 0;
    std::int64_t maxVisibleActors = 0;
    float actorCullDistanceMeters = 0;
    std::int64_t clothSimBudget = 0;
    std::int64_t hairSimBudget = 0;

    friend bool operator==(const OruThermalRenderProfileV1300&,
                           const OruThermalRenderProfileV1300&) = default;

    // A JSON object whose keys are the field names, in field order; the tier is its raw string.
    std::string encodeJson() const;
    // Reads that object back (keys in any order, all required); throws ThermalDecodingError.
    static OruThermalRenderProfileV1300 decodeJson(std::string_view json);

    // The fixed row of a tier.
    static const OruThermalRenderProfileV1300& forTier(OruThermalTierV1300 tier);
};

namespace OruThermalBudgetControllerV1300 {

// First match wins: critical; serious or low power; slow frames (NaN counts as slow) or fair; otherwise cool.
OruThermalTierV1300 evaluateTier(DeviceThermalState thermalState, bool isLowPowerMode,
                                 double smoothedFrameMs);

OruThermalRenderProfileV1300 evaluateProfile(DeviceThermalState thermalState, bool isLowPowerMode,
                                             double smoothedFrameMs);
// The platform's raw number; anything outside 0..3 is read as critical (the safe side).
OruThermalRenderProfileV1300 evaluateProfile(int thermalState, bool isLowPowerMode, double smoothedFrameMs);

}  // namespace OruThermalBudgetControllerV1300

}  // namespace vantry::creator
