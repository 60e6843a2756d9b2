#include "creator/thermal/CrowdCuller.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantry::creator::OruCameraConeCrowdCullerV1300 {

void evaluateCrowdInto(std::span<const CrowdVec2> actorPositions, const std::vector<bool>& actorHasCloth,
                       CrowdVec2 cameraPos, CrowdVec2 cameraForward,
                       const OruThermalRenderProfileV1300& profile, std::int64_t frameIndex,
                       std::vector<OruCrowdCullDecisionV1300>& out, CrowdCullScratch& scratch) {
    const std::size_t n = actorPositions.size();
    out.assign(n, OruCrowdCullDecisionV1300{});
    if (n == 0) return;

    CrowdVec2 fwd{0.0f, 1.0f};
    const float fwdLen = std::sqrt(cameraForward.x * cameraForward.x + cameraForward.y * cameraForward.y);
    if (fwdLen > kMinForwardLength) fwd = {cameraForward.x / fwdLen, cameraForward.y / fwdLen};

    const float cullDistance = profile.actorCullDistanceMeters;
    scratch.order.resize(n);
    scratch.sortKey.resize(n);
    scratch.inCone.resize(n);

    // Pass 1: distance and cone test.
    for (std::size_t i = 0; i < n; ++i) {
        const float dx = actorPositions[i].x - cameraPos.x;
        const float dy = actorPositions[i].y - cameraPos.y;
        const float dist = std::sqrt(dx * dx + dy * dy);
        bool inCone;
        if (dist < kAlwaysVisibleRadius) {
            inCone = true;
        } else if (dist > cullDistance) {
            inCone = false;
        } else {
            const float len = std::max(dist, kMinDirectionLength);
            inCone = fwd.x * (dx / len) + fwd.y * (dy / len) > kConeMinDot;
        }
        out[i].distanceMeters = dist;
        scratch.inCone[i] = inCone ? 1 : 0;
        // A NaN distance (non-finite input) sorts last so the ordering stays well defined.
        scratch.sortKey[i] = std::isnan(dist) ? std::numeric_limits<float>::infinity() : dist;
        scratch.order[i] = static_cast<std::uint32_t>(i);
    }

    // Nearest first; equal distances keep input order (the index breaks ties).
    const float* key = scratch.sortKey.data();
    std::sort(scratch.order.begin(), scratch.order.end(), [key](std::uint32_t a, std::uint32_t b) {
        return key[a] < key[b] || (key[a] == key[b] && a < b);
    });

    // Pass 2: hand out the visible slots and the simulation budgets.
    std::int64_t visible = 0, cloth = 0, hair = 0;
    const auto frame = static_cast<std::uint64_t>(frameIndex);
    for (const std::uint32_t i : scratch.order) {
        if (!scratch.inCone[i] || visible >= profile.maxVisibleActors) continue;
        auto& d = out[i];
        const float dist = d.distanceMeters;
        // Two's complement low bits give the same evenness for negative frame indices.
        const std::uint64_t slot = frame + i;
        bool step;
        if (dist < kFullRateBelow) {
            step = true;
        } else if (dist < kHalfRateBelow) {
            step = (slot & 1u) == 0;
        } else {
            step = (slot & 3u) == 0;
        }
        bool clothOk = false, hairOk = false;
        if (step) {
            const bool hasCloth = i < actorHasCloth.size() && actorHasCloth[i];
            clothOk = dist < kClothBelow && hasCloth && cloth < profile.clothSimBudget;
            if (clothOk) ++cloth;
            hairOk = dist < kHairBelow && hair < profile.hairSimBudget;
            if (hairOk) ++hair;
        }
        d.isVisible = true;
        d.shouldStepAnimationThisFrame = step;
        d.allowClothSim = clothOk;
        d.allowHairSim = hairOk;
        ++visible;
    }
}

std::vector<OruCrowdCullDecisionV1300> evaluateCrowd(std::span<const CrowdVec2> actorPositions,
                                                     const std::vector<bool>& actorHasCloth,
                                                     CrowdVec2 cameraPos, CrowdVec2 cameraForward,
                                                     const OruThermalRenderProfileV1300& profile,
                                                     std::int64_t frameIndex) {
    std::vector<OruCrowdCullDecisionV1300> out;
    CrowdCullScratch scratch;
    evaluateCrowdInto(actorPositions, actorHasCloth, cameraPos, cameraForward, profile, frameIndex, out,
                      scratch);
    return out;
}

}  // namespace vantry::creator::OruCameraConeCrowdCullerV1300
