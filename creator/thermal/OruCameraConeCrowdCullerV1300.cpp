#include "creator/thermal/OruCameraConeCrowdCullerV1300.h"

#include <algorithm>
#include <cmath>

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

    // Pass 1: distance of every actor; the in-cone ones are collected in input order.
    std::size_t inConeCount = 0;
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
        // A NaN distance never passes the test above, so every collected distance is ordered.
        if (inCone) scratch.order[inConeCount++] = static_cast<std::uint32_t>(i);
    }

    // Only the nearest maxVisibleActors in-cone actors take a slot, so only they need ordering:
    // nearest first, equal distances in input order (the index breaks ties). The rest keep all flags false.
    const auto slots = static_cast<std::size_t>(
        std::clamp<std::int64_t>(profile.maxVisibleActors, 0, static_cast<std::int64_t>(inConeCount)));
    const OruCrowdCullDecisionV1300* d = out.data();
    const auto nearer = [d](std::uint32_t a, std::uint32_t b) {
        return d[a].distanceMeters < d[b].distanceMeters ||
               (d[a].distanceMeters == d[b].distanceMeters && a < b);
    };
    const auto first = scratch.order.begin();
    std::partial_sort(first, first + static_cast<std::ptrdiff_t>(slots),
                      first + static_cast<std::ptrdiff_t>(inConeCount), nearer);

    // Pass 2: hand out the visible slots and the simulation budgets.
    std::int64_t cloth = 0, hair = 0;
    const auto frame = static_cast<std::uint64_t>(frameIndex);
    for (std::size_t k = 0; k < slots; ++k) {
        const std::uint32_t i = scratch.order[k];
        auto& dec = out[i];
        const float dist = dec.distanceMeters;
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
        dec.isVisible = true;
        dec.shouldStepAnimationThisFrame = step;
        dec.allowClothSim = clothOk;
        dec.allowHairSim = hairOk;
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
