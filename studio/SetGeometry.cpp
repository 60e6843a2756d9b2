#include "studio/SetGeometry.h"

#include <algorithm>
#include <cmath>

namespace vantry {
namespace {

struct Face {
    int corners[4];
    Float3 normal;
    bool ledApplies;
};

constexpr Face kFaces[6] = {
    {{0, 1, 2, 3}, {0, 0, 1}, true},    // front (+z)
    {{5, 4, 7, 6}, {0, 0, -1}, false},  // back (-z)
    {{4, 0, 3, 7}, {-1, 0, 0}, false},  // left (-x)
    {{1, 5, 6, 2}, {1, 0, 0}, false},   // right (+x)
    {{3, 2, 6, 7}, {0, 1, 0}, false},   // top (+y)
    {{4, 5, 1, 0}, {0, -1, 0}, false},  // bottom (-y)
};

constexpr Float2 kFaceUV[4] = {{0, 1}, {1, 1}, {1, 0}, {0, 0}};

}  // namespace

void appendBox(bool frontIsLED, std::vector<StageVertex>& vertices, std::vector<std::uint32_t>& indices,
               Float3 c, Float3 size, Float3 color, float material, float roughness) {
    const Float3 h{size.x / 2, size.y / 2, size.z / 2};
    const Float3 corners[8] = {
        {c.x - h.x, c.y - h.y, c.z + h.z}, {c.x + h.x, c.y - h.y, c.z + h.z},
        {c.x + h.x, c.y + h.y, c.z + h.z}, {c.x - h.x, c.y + h.y, c.z + h.z},
        {c.x - h.x, c.y - h.y, c.z - h.z}, {c.x + h.x, c.y - h.y, c.z - h.z},
        {c.x + h.x, c.y + h.y, c.z - h.z}, {c.x - h.x, c.y + h.y, c.z - h.z},
    };
    for (const Face& face : kFaces) {
        const auto base = static_cast<std::uint32_t>(vertices.size());
        const float tag = (frontIsLED && face.ledApplies) ? material::kLEDWall : material;
        for (int k = 0; k < 4; ++k) {
            StageVertex v;
            v.position = corners[face.corners[k]];
            v.normal = face.normal;
            v.uv = kFaceUV[k];
            v.color = color;
            v.matTag = tag;
            v.roughness = roughness;
            vertices.push_back(v);
        }
        for (std::uint32_t offset : {0u, 1u, 2u, 0u, 2u, 3u}) indices.push_back(base + offset);
    }
}

SetGeometry buildStudioSet(BroadcastStudioSet set) {
    SetGeometry g;
    g.vertices.reserve(kSetVertexCount);
    g.indices.reserve(kSetIndexCount);
    auto& v = g.vertices;
    auto& ix = g.indices;

    const Float3 accent = set.accentColor();
    const bool timber = set == BroadcastStudioSet::timberPodcast;
    const Float3 wall = timber ? Float3{0.24f, 0.16f, 0.11f} : Float3{0.08f, 0.10f, 0.14f};
    const Float3 slats = timber ? Float3{0.42f, 0.26f, 0.15f} : Float3{0.15f, 0.17f, 0.22f};
    const Float3 deskBody = timber ? Float3{0.32f, 0.20f, 0.12f} : Float3{0.11f, 0.13f, 0.17f};

    appendBox(false, v, ix, {0, -0.05f, 0}, {12, 0.1f, 10}, {0.09f, 0.10f, 0.13f}, material::kLit, 0.24f);
    appendBox(false, v, ix, {0, 2.4f, -3.4f}, {12, 4.8f, 0.2f}, wall, material::kLit, 0.72f);
    for (int i = -10; i <= 10; ++i) {
        const float x = static_cast<float>(i) * 0.52f;
        if (std::fabs(x - 1.35f) < 2.2f) continue;  // the gap where the LED wall stands
        appendBox(false, v, ix, {x, 2.4f, -3.26f}, {0.14f, 4.4f, 0.1f}, slats, material::kLit, 0.52f);
    }
    appendBox(false, v, ix, {-4.2f, 2.2f, -3.18f}, {0.08f, 3.8f, 0.08f}, accent, material::kNeon, 0.1f);
    appendBox(false, v, ix, {4.4f, 2.2f, -3.18f}, {0.08f, 3.8f, 0.08f}, accent, material::kNeon, 0.1f);
    appendBox(false, v, ix, {0, 4.2f, -1.2f}, {9.0f, 0.16f, 0.16f}, {0.20f, 0.22f, 0.26f}, material::kLit, 0.35f);
    appendBox(false, v, ix, {1.35f, 2.25f, -3.12f}, {4.15f, 2.38f, 0.12f}, {0.04f, 0.05f, 0.06f}, material::kLit,
              0.22f);
    appendBox(true, v, ix, {1.35f, 2.25f, -3.05f}, {3.96f, 2.22f, 0.02f}, {1, 1, 1}, material::kLEDWall, 0.1f);
    appendBox(false, v, ix, {-0.35f, 0.42f, 0.55f}, {3.6f, 0.84f, 1.05f}, deskBody, material::kDesk, 0.22f);
    appendBox(false, v, ix, {-0.35f, 0.85f, 0.55f}, {3.75f, 0.06f, 1.18f}, {0.16f, 0.18f, 0.22f}, material::kDesk,
              0.14f);
    appendBox(false, v, ix, {-0.35f, 0.72f, 1.09f}, {3.3f, 0.05f, 0.04f}, accent, material::kNeon, 0.1f);
    appendBox(false, v, ix, {-1.35f, 1.15f, 0.65f}, {0.05f, 0.56f, 0.05f}, {0.24f, 0.26f, 0.30f}, material::kLit,
              0.3f);
    appendBox(false, v, ix, {-1.12f, 1.38f, 0.65f}, {0.26f, 0.11f, 0.11f}, {0.12f, 0.13f, 0.15f}, material::kLit,
              0.45f);
    return g;
}

std::optional<PixelRect> projectedBounds(std::span<const Float3> points, const Float4x4& viewProj, float flipY,
                                        int width, int height) {
    // Pixels beyond the bounds a rasteriser may still touch (sample positions, snapping and the
    // CPU's rounding against the GPU's).
    constexpr double kMarginPixels = 2.0;
    if (points.empty()) return PixelRect{};
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    bool first = true;
    for (const Float3& p : points) {
        double clip[4];
        for (int row = 0; row < 4; ++row) {
            clip[row] = double(viewProj.at(row, 0)) * p.x + double(viewProj.at(row, 1)) * p.y +
                        double(viewProj.at(row, 2)) * p.z + double(viewProj.at(row, 3));
        }
        // Behind the near plane (clip depth below 0) a triangle is clipped in ways these bounds
        // do not follow.
        if (!(clip[3] > 1e-6) || !(clip[2] >= 0.0)) return std::nullopt;
        const double x = (clip[0] / clip[3] + 1.0) * 0.5 * width;
        const double y = (clip[1] * double(flipY) / clip[3] + 1.0) * 0.5 * height;
        if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
        minX = first ? x : std::min(minX, x);
        maxX = first ? x : std::max(maxX, x);
        minY = first ? y : std::min(minY, y);
        maxY = first ? y : std::max(maxY, y);
        first = false;
    }
    const auto clampTo = [](double value, int limit) { return int(std::clamp(value, 0.0, double(limit))); };
    const int x0 = clampTo(std::floor(minX - kMarginPixels), width);
    const int x1 = clampTo(std::ceil(maxX + kMarginPixels), width);
    const int y0 = clampTo(std::floor(minY - kMarginPixels), height);
    const int y1 = clampTo(std::ceil(maxY + kMarginPixels), height);
    if (x1 <= x0 || y1 <= y0) return PixelRect{};
    return PixelRect{x0, y0, x1 - x0, y1 - y0};
}

namespace {

// The wall material's tag range, as the stage shader tells materials apart.
bool isWallTag(float tag) {
    return tag > 1.5f && tag < 2.5f;
}

// True when the triangle from indices[first] on can show the wall's picture; tags are
// interpolated over a triangle, so one whose tags span the wall's range shows it too. An index
// outside the vertices counts as showing it.
bool triangleShowsWall(const SetGeometry& g, std::size_t first) {
    float low = 0, high = 0;
    for (std::size_t k = 0; k < 3; ++k) {
        const std::uint32_t c = g.indices[first + k];
        if (c >= g.vertices.size()) return true;
        const float tag = g.vertices[c].matTag;
        low = k == 0 ? tag : std::min(low, tag);
        high = k == 0 ? tag : std::max(high, tag);
    }
    return isWallTag(low) || isWallTag(high) || (low <= 1.5f && high >= 2.5f);
}

}  // namespace

std::optional<PixelRect> wallScreenBounds(const SetGeometry& geometry, const Float4x4& viewProj, float flipY,
                                          int width, int height) {
    std::vector<Float3> corners;
    for (std::size_t i = 0; i + 2 < geometry.indices.size(); i += 3) {
        if (!triangleShowsWall(geometry, i)) continue;
        for (std::size_t k = 0; k < 3; ++k) {
            const std::uint32_t c = geometry.indices[i + k];
            if (c >= geometry.vertices.size()) return std::nullopt;
            corners.push_back(geometry.vertices[c].position);
        }
    }
    return projectedBounds(corners, viewProj, flipY, width, height);
}

std::size_t firstWallIndex(const SetGeometry& geometry) {
    for (std::size_t i = 0; i + 2 < geometry.indices.size(); i += 3) {
        if (triangleShowsWall(geometry, i)) return i;
    }
    return geometry.indices.size();
}

PixelRect unite(const PixelRect& a, const PixelRect& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    const int x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

}  // namespace vantry
