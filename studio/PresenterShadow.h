// The presenter's shadow from the key light: where on the set it can fall. The stage shader's
// key light stands at kKeyLightPosition; the shadow is the presenter's silhouette projected from
// it onto the set behind and beside them, blurred by up to kShadowMargin beyond the quad's edges.
// The LED wall's average colour lights the presenter's edge on the wall's side. Pure: no Qt, no GL.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "common/Vector.h"
#include "studio/SetGeometry.h"

namespace vantry::studio {

inline constexpr Float3 kKeyLightPosition{2.8f, 4.2f, 4.5f};
// How far (metres, in the quad's plane) a blurred shadow reaches beyond the picture's edges.
inline constexpr float kShadowMargin = 0.15f;

// Eight points whose hull holds every point of the set (y >= 0) that the quad (corners
// bottom-left, bottom-right, top-left, top-right), grown by kShadowMargin, hides from the key
// light: the grown quad's part above the floor and its corners' shadows on the floor. None when
// a corner is not below the light (the shadow would go up, without bounds).
std::optional<std::array<Float3, 8>> presenterShadowHull(const std::array<Float3, 4>& quad);
// The same with the corners' shadows on the plane z = backZ (the set's back, where nothing lies
// behind) instead of the floor; none where a corner's ray from the light does not go back.
std::optional<std::array<Float3, 8>> presenterShadowBackHull(const std::array<Float3, 4>& quad, float backZ);

}  // namespace vantry::studio

namespace vantry::studio {

// The set's back: the least z of its vertices (nothing of the set lies behind it).
float setBackZ(const SetGeometry& geometry);

// Planes (a, b, c, d: a x + b y + c z + d >= 0 inside) that bound what the grown quad hides from
// the key light: one through the light and each of its four edges, and the quad's own plane
// (positive beyond it, away from the light). None where the quad has no grown shape.
std::optional<std::array<Float4, 5>> presenterShadowPlanes(const std::array<Float3, 4>& quad);

// The screen bounds of the presenter's shadow in a frame (projectedBounds of both hulls, where
// each has them, intersected: the shadow lies within each). None when neither hull has bounds.
std::optional<PixelRect> presenterShadowBounds(const std::array<Float3, 4>& quad, float backZ,
                                               const Float4x4& viewProj, float flipY, int width, int height);

// The LED wall's light on the presenter: the mean linear colour of a wall picture (8-bit
// gamma-encoded rows, `rowBytes` apart, R G B A or, with `bgra`, B G R A order), read on a grid
// of at most about 64 x 64 pixels. Black for an empty picture.
Float3 averageWallLight(const std::uint8_t* pixels, int width, int height, int rowBytes, bool bgra);

// How far the wall lies to the presenter's right as the eye sees them (-1: all to the left,
// 1: all to the right): the direction from the feet to the wall's centre, on the floor, along
// the quad's bottom edge (bottom-left to bottom-right).
float wallSide(const std::array<Float3, 4>& quad, Float3 wallCentre);

}  // namespace vantry::studio
