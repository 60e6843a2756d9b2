#include "creator/thermal/CityBlockScene.h"

#include <cmath>

namespace vantry::creator {

namespace {

// SplitMix64: a small, well-mixed generator whose output is the same on every platform.
struct SplitMix64 {
    std::uint64_t state;
    std::uint64_t next() {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    float unit() { return static_cast<float>(next() >> 40) / static_cast<float>(1u << 24); }
    float range(float lo, float hi) { return lo + (hi - lo) * unit(); }
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(next() % n); }
};

std::vector<SceneMaterialRef> makePalette() {
    struct Entry {
        const char* name;
        std::array<float, 4> colour;
        float transparency;
        SceneBlendMode blend;
        bool doubleSided;
    };
    static constexpr Entry kEntries[] = {
        {"concrete", {0.55f, 0.55f, 0.52f, 1}, 1.0f, SceneBlendMode::alpha, true},
        {"brick", {0.62f, 0.27f, 0.20f, 1}, 1.0f, SceneBlendMode::alpha, false},
        {"steel", {0.40f, 0.45f, 0.50f, 1}, 1.0f, SceneBlendMode::alpha, true},
        {"glass", {0.30f, 0.55f, 0.70f, 1}, 0.45f, SceneBlendMode::alpha, true},
        {"foliage", {0.20f, 0.50f, 0.22f, 1}, 1.0f, SceneBlendMode::alpha, false},
        {"asphalt", {0.12f, 0.12f, 0.13f, 1}, 1.0f, SceneBlendMode::alpha, false},
        {"neon", {1.00f, 0.20f, 0.70f, 1}, 1.0f, SceneBlendMode::add, true},
        {"signage", {0.95f, 0.80f, 0.20f, 1}, 0.99f, SceneBlendMode::alpha, true},
    };
    std::vector<SceneMaterialRef> palette;
    for (const Entry& e : kEntries) {
        auto m = std::make_shared<SceneMaterial>();
        m->name = e.name;
        m->diffuse = e.colour;
        m->transparency = e.transparency;
        m->blendMode = e.blend;
        m->doubleSided = e.doubleSided;
        palette.push_back(std::move(m));
    }
    return palette;
}

}  // namespace

CityBlockScene buildSeededCityBlock(std::int64_t nodeCount, std::uint64_t seed) {
    CityBlockScene scene;
    scene.palette = makePalette();
    SplitMix64 rng{seed};
    const auto count = nodeCount > 0 ? static_cast<std::size_t>(nodeCount) : 0;
    const auto side = static_cast<std::int64_t>(std::ceil(std::sqrt(static_cast<double>(count))));
    const float spacing = 4.0f;
    scene.nodes.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto lot = static_cast<std::int64_t>(i);
        const float x = (static_cast<float>(lot % side) - static_cast<float>(side) / 2) * spacing;
        const float z = (static_cast<float>(lot / side) - static_cast<float>(side) / 2) * spacing;
        const SceneMaterialRef& material =
            scene.palette[rng.below(static_cast<std::uint32_t>(scene.palette.size()))];
        SceneGeometry geometry;
        float lift = 0;
        switch (rng.below(8)) {
            case 0:
            case 1: {  // tower
                const float h = rng.range(2, 12);
                geometry.shape = SceneBox{rng.range(1.5f, 3.2f), h, rng.range(1.5f, 3.2f), 0, 5};
                lift = h / 2;
                break;
            }
            case 2: {  // rounded kiosk
                geometry.shape =
                    SceneBox{1.6f, 1.2f, 1.6f, 0.15f, static_cast<std::int32_t>(1 + rng.below(3))};
                lift = 0.6f;
                break;
            }
            case 3:
                geometry.shape =
                    SceneSphere{rng.range(0.5f, 1.4f), static_cast<std::int32_t>(8 + rng.below(9))};
                lift = 1.4f;
                break;
            case 4: {
                const float h = rng.range(1, 6);
                geometry.shape =
                    SceneCylinder{rng.range(0.3f, 1.2f), h, static_cast<std::int32_t>(8 + rng.below(17))};
                lift = h / 2;
                break;
            }
            case 5: {
                const float h = rng.range(1, 4);
                geometry.shape =
                    SceneCone{0, rng.range(0.5f, 1.5f), h, static_cast<std::int32_t>(8 + rng.below(17))};
                lift = h / 2;
                break;
            }
            case 6:
                geometry.shape = ScenePyramid{2, rng.range(1, 4), 2};
                break;
            default:
                geometry.shape = ScenePlane{3.6f, 3.6f};
                break;
        }
        geometry.materials = {material};
        auto node = SceneNode::withGeometry(std::make_shared<SceneGeometry>(std::move(geometry)));
        Float4x4 place =
            Float4x4::translation(x, lift, z) * Float4x4::rotation(rng.range(0, 6.2831853f), {0, 1, 0});
        if (std::holds_alternative<ScenePlane>(node->geometry()->shape)) {
            place = Float4x4::translation(x, 0.01f, z) * Float4x4::rotation(-1.5707963f, {1, 0, 0});
        }
        node->setTransform(place);
        if (rng.below(4) == 0 && lift > 0) {  // a rooftop detail in the parent's space
            SceneGeometry detail;
            detail.shape = SceneBox{0.5f, 0.5f, 0.5f, 0, 5};
            detail.materials = {scene.palette[rng.below(static_cast<std::uint32_t>(scene.palette.size()))]};
            auto child = SceneNode::withGeometry(std::make_shared<SceneGeometry>(std::move(detail)));
            child->setTransform(Float4x4::translation(0, 0.25f + lift, 0));
            node->addChildNode(std::move(child));
        }
        scene.nodes.push_back(std::move(node));
    }
    return scene;
}

}  // namespace vantry::creator
