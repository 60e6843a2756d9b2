// Per-frame crowd culling on the ground plane: who is drawn, who animates, who simulates cloth and hair.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "creator/thermal/OruThermalBudgetControllerV1300.h"

namespace vantry::creator {

struct CrowdVec2 {
    float x = 0;
    float y = 0;
};

struct OruCrowdCullDecisionV1300 {
    bool isVisible = false;
    bool shouldStepAnimationThisFrame = false;
    bool allowClothSim = false;
    bool allowHairSim = false;
    float distanceMeters = 0;

    friend bool operator==(const OruCrowdCullDecisionV1300&, const OruCrowdCullDecisionV1300&) = default;
};

namespace OruCameraConeCrowdCullerV1300 {

inline constexpr float kAlwaysVisibleRadius = 5.5f;
inline constexpr float kConeMinDot = -0.18f;
inline constexpr float kMinDirectionLength = 0.001f;
inline constexpr float kMinForwardLength = 1e-4f;
inline constexpr float kFullRateBelow = 11.0f;
inline constexpr float kHalfRateBelow = 19.0f;
inline constexpr float kClothBelow = 16.0f;
inline constexpr float kHairBelow = 14.0f;

// One decision per actor, in input order. actorHasCloth may be shorter than the positions
// (missing entries count as false).
std::vector<OruCrowdCullDecisionV1300> evaluateCrowd(std::span<const CrowdVec2> actorPositions,
                                                     const std::vector<bool>& actorHasCloth,
                                                     CrowdVec2 cameraPos, CrowdVec2 cameraForward,
                                                     const OruThermalRenderProfileV1300& profile,
                                                     std::int64_t frameIndex);

// Working memory a caller keeps between frames so that a frame allocates nothing once warm.
struct CrowdCullScratch {
    std::vector<std::uint32_t> order;
};

// The same computation writing into out (resized to the actor count).
void evaluateCrowdInto(std::span<const CrowdVec2> actorPositions, const std::vector<bool>& actorHasCloth,
                       CrowdVec2 cameraPos, CrowdVec2 cameraForward,
                       const OruThermalRenderProfileV1300& profile, std::int64_t frameIndex,
                       std::vector<OruCrowdCullDecisionV1300>& out, CrowdCullScratch& scratch);

}  // namespace OruCameraConeCrowdCullerV1300

}  // namespace vantry::creator
