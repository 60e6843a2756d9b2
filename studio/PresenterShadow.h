// The presenter's shadow from the key light: where on the set it can fall. The stage shader's
// key light stands at kKeyLightPosition; the shadow is the presenter's silhouette projected from
// it onto the set behind and beside them, blurred by up to kShadowMargin beyond the quad's edges.
// Pure: no Qt, no GL.
#pragma once

#include <array>
#include <optional>

#include "common/Vector.h"

namespace vantry::studio {

inline constexpr Float3 kKeyLightPosition{2.8f, 4.2f, 4.5f};
// How far (metres, in the quad's plane) a blurred shadow reaches beyond the picture's edges.
inline constexpr float kShadowMargin = 0.15f;

// Eight points whose hull holds every point of the set (y >= 0) that the quad (corners
// bottom-left, bottom-right, top-left, top-right), grown by kShadowMargin, hides from the key
// light: the grown quad's part above the floor and its corners' shadows on the floor. None when
// a corner is not below the light (the shadow would go up, without bounds).
std::optional<std::array<Float3, 8>> presenterShadowHull(const std::array<Float3, 4>& quad);

}  // namespace vantry::studio
