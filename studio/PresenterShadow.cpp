#include "studio/PresenterShadow.h"

#include <algorithm>
#include <cmath>

namespace vantry::studio {

namespace {

std::optional<std::array<Float3, 4>> grownQuad(const std::array<Float3, 4>& quad) {
    const Float3 across = quad[1] - quad[0];
    const float width = length(across);
    if (!(width > 1e-6f)) return std::nullopt;
    const Float3 side = across * (kShadowMargin / width);
    const float bottom = std::max(0.0f, std::min(quad[0].y, quad[1].y) - kShadowMargin);
    const float top = std::max(quad[2].y, quad[3].y) + kShadowMargin;
    if (!(top > bottom)) return std::nullopt;
    const Float3 left = quad[0] - side;
    const Float3 right = quad[1] + side;
    return std::array<Float3, 4>{Float3{left.x, bottom, left.z}, Float3{right.x, bottom, right.z},
                                 Float3{left.x, top, left.z}, Float3{right.x, top, right.z}};
}

}  // namespace

std::optional<std::array<Float3, 8>> presenterShadowBackHull(const std::array<Float3, 4>& quad, float backZ) {
    const auto grown = grownQuad(quad);
    if (!grown) return std::nullopt;
    std::array<Float3, 8> hull{};
    for (std::size_t i = 0; i < 4; ++i) {
        const Float3 p = (*grown)[i];
        if (!(p.z < kKeyLightPosition.z - 1e-3f) || !(backZ < p.z)) return std::nullopt;
        const float k = (kKeyLightPosition.z - backZ) / (kKeyLightPosition.z - p.z);
        hull[i] = p;
        hull[i + 4] = kKeyLightPosition + (p - kKeyLightPosition) * k;
        hull[i + 4].z = backZ;
    }
    return hull;
}

std::optional<std::array<Float3, 8>> presenterShadowHull(const std::array<Float3, 4>& quad) {
    const auto found = grownQuad(quad);
    if (!found) return std::nullopt;
    const std::array<Float3, 4>& grown = *found;
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

namespace vantry::studio {

std::optional<std::array<Float4, 5>> presenterShadowPlanes(const std::array<Float3, 4>& quad) {
    const auto found = grownQuad(quad);
    if (!found) return std::nullopt;
    const std::array<Float3, 4>& g = *found;
    const Float3 centre = (g[0] + g[1] + g[2] + g[3]) * 0.25f;
    const auto plane = [](Float3 n, Float3 through, Float3 inside) {
        float d = -dot(n, through);
        if (dot(n, inside) + d < 0) {
            n = n * -1.0f;
            d = -d;
        }
        return Float4{n.x, n.y, n.z, d};
    };
    const Float3 light = kKeyLightPosition;
    // The edges in order around the quad: bottom, right, top, left.
    const std::size_t ring[5] = {0, 1, 3, 2, 0};
    std::array<Float4, 5> planes{};
    for (std::size_t i = 0; i < 4; ++i) {
        const Float3 a = g[ring[i]];
        const Float3 b = g[ring[i + 1]];
        const Float3 n = cross(a - light, b - light);
        if (!(length(n) > 1e-9f)) return std::nullopt;
        planes[i] = plane(n, light, centre);
    }
    // Beyond the quad: the side away from the light.
    const Float3 n = cross(g[1] - g[0], g[2] - g[0]);
    if (!(length(n) > 1e-9f)) return std::nullopt;
    planes[4] = plane(n, centre, centre + (centre - light));
    return planes;
}

float setBackZ(const SetGeometry& geometry) {
    float back = 0;
    for (const StageVertex& v : geometry.vertices) back = std::min(back, v.position.z);
    return back;
}

std::optional<PixelRect> presenterShadowBounds(const std::array<Float3, 4>& quad, float backZ,
                                               const Float4x4& viewProj, float flipY, int width, int height) {
    std::optional<PixelRect> floorBounds, backBounds;
    if (const auto hull = presenterShadowHull(quad))
        floorBounds = projectedBounds(*hull, viewProj, flipY, width, height);
    if (const auto hull = presenterShadowBackHull(quad, backZ))
        backBounds = projectedBounds(*hull, viewProj, flipY, width, height);
    if (!floorBounds || !backBounds) return floorBounds ? floorBounds : backBounds;
    const int x0 = std::max(floorBounds->x, backBounds->x);
    const int y0 = std::max(floorBounds->y, backBounds->y);
    const int x1 = std::min(floorBounds->x + floorBounds->width, backBounds->x + backBounds->width);
    const int y1 = std::min(floorBounds->y + floorBounds->height, backBounds->y + backBounds->height);
    if (x1 <= x0 || y1 <= y0) return PixelRect{};
    return PixelRect{x0, y0, x1 - x0, y1 - y0};
}

Float3 averageWallLight(const std::uint8_t* pixels, int width, int height, int rowBytes, bool bgra) {
    if (pixels == nullptr || width < 1 || height < 1 || rowBytes < width * 4) return {};
    static const auto linear = [] {
        std::array<float, 256> table{};
        for (int i = 0; i < 256; ++i) table[std::size_t(i)] = std::pow(float(i) / 255.0f, 2.2f);
        return table;
    }();
    const int stepX = std::max(1, width / 64);
    const int stepY = std::max(1, height / 64);
    double r = 0, g = 0, b = 0;
    std::size_t count = 0;
    for (int y = stepY / 2; y < height; y += stepY) {
        const std::uint8_t* row = pixels + std::size_t(y) * std::size_t(rowBytes);
        for (int x = stepX / 2; x < width; x += stepX) {
            const std::uint8_t* p = row + std::size_t(x) * 4;
            r += linear[bgra ? p[2] : p[0]];
            g += linear[p[1]];
            b += linear[bgra ? p[0] : p[2]];
            ++count;
        }
    }
    if (count == 0) return {};
    return {float(r / double(count)), float(g / double(count)), float(b / double(count))};
}

float wallSide(const std::array<Float3, 4>& quad, Float3 wallCentre) {
    const Float3 feet = (quad[0] + quad[1]) * 0.5f;
    Float3 across = quad[1] - quad[0];
    Float3 toWall = wallCentre - feet;
    across.y = 0;
    toWall.y = 0;
    const float a = length(across);
    const float w = length(toWall);
    if (!(a > 1e-6f) || !(w > 1e-6f)) return 0;
    return std::clamp(dot(across, toWall) / (a * w), -1.0f, 1.0f);
}

}  // namespace vantry::studio
