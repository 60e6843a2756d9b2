#include "studio/PresenterShadow.h"

#include <algorithm>
#include <cmath>

namespace vantry::studio {

std::optional<std::array<Float3, 8>> presenterShadowHull(const std::array<Float3, 4>& quad) {
    const Float3 across = quad[1] - quad[0];
    const float width = length(across);
    if (!(width > 1e-6f)) return std::nullopt;
    const Float3 side = across * (kShadowMargin / width);
    const float bottom = std::max(0.0f, std::min(quad[0].y, quad[1].y) - kShadowMargin);
    const float top = std::max(quad[2].y, quad[3].y) + kShadowMargin;
    if (!(top > bottom)) return std::nullopt;
    const Float3 left = quad[0] - side;
    const Float3 right = quad[1] + side;
    const std::array<Float3, 4> grown{Float3{left.x, bottom, left.z}, Float3{right.x, bottom, right.z},
                                      Float3{left.x, top, left.z}, Float3{right.x, top, right.z}};
    std::array<Float3, 8> hull{};
    for (std::size_t i = 0; i < 4; ++i) {
        const Float3 p = grown[i];
        if (!(p.y < kKeyLightPosition.y - 1e-3f)) return std::nullopt;
        // From the light through p down to the floor.
        const float k = kKeyLightPosition.y / (kKeyLightPosition.y - p.y);
        hull[i] = p;
        hull[i + 4] = kKeyLightPosition + (p - kKeyLightPosition) * k;
        hull[i + 4].y = 0;
    }
    return hull;
}

}  // namespace vantry::studio
