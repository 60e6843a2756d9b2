// Procedural set geometry: every studio set is 25 axis-aligned boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
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

// A rectangle of pixels: x from the left edge, y from framebuffer row 0.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool empty() const { return width < 1 || height < 1; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The pixels of a width x height viewport that triangles with these corners can touch when
// seen through viewProj (clip depth 0..1; flipY as the shaders apply it): the projected
// bounds, rounded outward with a margin for rasterisation and rounding, clamped to the
// viewport. Empty when no point is given or all lie out of view to one side; absent when a
// point lies behind the camera's near plane, where the projection has no bounds.
std::optional<PixelRect> projectedBounds(std::span<const Float3> points, const Float4x4& viewProj,
                                         float flipY, int width, int height);

// The same for the LED wall's screen: every triangle with the LED wall material, the only ones
// that show the wall's picture.
std::optional<PixelRect> wallScreenBounds(const SetGeometry& geometry, const Float4x4& viewProj, float flipY,
                                          int width, int height);

// Where in the index array the first triangle that can show the wall's picture starts (a
// multiple of 3); the index count when none does.
std::size_t firstWallIndex(const SetGeometry& geometry);

// The smallest rectangle holding both (an empty one adds nothing).
PixelRect unite(const PixelRect& a, const PixelRect& b);

inline constexpr std::size_t kSetVertexCount = 600;
inline constexpr std::size_t kSetIndexCount = 900;

}  // namespace vantry
