// Procedural set geometry: every studio set is 25 axis-aligned boxes.
#pragma once

#include <cstdint>
#include <vector>

#include "studio/StageTypes.h"
#include "studio/StudioCatalogue.h"

namespace vantry {

struct SetGeometry {
    std::vector<StageVertex> vertices;
    std::vector<std::uint32_t> indices;
};

// Appends one box: 6 faces (front, back, left, right, top, bottom), 24 vertices, 36 indices.
// When frontIsLED is true the +z face's vertices carry the LED wall material.
void appendBox(bool frontIsLED, std::vector<StageVertex>& vertices, std::vector<std::uint32_t>& indices,
               Float3 center, Float3 size, Float3 color, float material, float roughness);

// Builds the whole set: 600 vertices and 900 indices for every set.
SetGeometry buildStudioSet(BroadcastStudioSet set);

inline constexpr std::size_t kSetVertexCount = 600;
inline constexpr std::size_t kSetIndexCount = 900;

}  // namespace vantry
