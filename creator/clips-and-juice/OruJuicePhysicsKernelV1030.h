// Game-feel juice: trauma-driven screen shake, hit-stop, squash and stretch, floating popups.
// Pure values; the caller drives them with one impact per hit and one step per frame.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vantry::creator {

// Frame duration as the juice sees it: 1/240 .. 0.05 s (a NaN step counts as the shortest).
double juiceStepDuration(double dt);
// Impact intensity as the juice sees it: 0.05 .. 1 (NaN counts as 1).
double juiceImpactIntensity(double intensity);

struct OruJuicePhysicsKernelV1030 {
    double trauma = 0;
    double hitStopRemaining = 0;
    double squashScaleX = 1;
    double squashScaleY = 1;
    std::int64_t totalImpactCount = 0;

    void triggerImpact(double intensity, double hitStopSeconds);
    // Returns whether a hit-stop is still running after this step.
    bool step(double dt);

    friend bool operator==(const OruJuicePhysicsKernelV1030&, const OruJuicePhysicsKernelV1030&) = default;
};

struct OruJuiceFloatingPopupV1030 {
    using Uuid = std::array<std::uint8_t, 16>;

    Uuid id{};
    std::string text;
    std::uint32_t colorHex = 0;
    double normalizedX = 0;
    double normalizedY = 0;  // y grows downward; decreases as the popup floats up
    double age = 0;
    double lifetime = 0;

    // New random (version 4) id, age 0.
    OruJuiceFloatingPopupV1030(std::string text, std::uint32_t colorHex, double normalizedX,
                               double normalizedY, double lifetime);

    // 1 when born, falling to 0 at the end of its life; 0 once age reaches lifetime (so a popup with
    // lifetime 0 is invisible from the start) and for a NaN result.
    double opacity() const;
    // "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx", upper-case hexadecimal.
    std::string idString() const;
};

// The controller's numbers without the observable shell: the same impact rules as the kernel plus
// shake, elapsed time and popups. Trauma at or below 0.001 neither shakes nor decays here.
struct OruJuiceControllerStateV1030 {
    static constexpr std::size_t maxPopups = 12;
    static constexpr double popupLifetime = 1.35;

    double trauma = 0;
    double shakeOffsetWidth = 0;
    double shakeOffsetHeight = 0;
    double shakeAngleDeg = 0;
    double hitStopRemaining = 0;
    double squashScaleX = 1;
    double squashScaleY = 1;
    std::vector<OruJuiceFloatingPopupV1030> popups;  // oldest first
    std::int64_t totalImpactCount = 0;
    double elapsed = 0;

    // hasPopup false: no popup is added.
    void triggerImpact(double intensity, double hitStopSeconds, bool hasPopup, const std::string& popupText,
                       std::uint32_t popupHex, double normalizedX, double normalizedY);
    bool step(double dt);
};

}  // namespace vantry::creator
