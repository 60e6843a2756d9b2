// A seeded city block of static scenery for the batcher's demo and benchmarks: a grid of lots, each an
// input node holding one primitive (boxes with and without chamfers, spheres, cylinders, cones,
// pyramids, planes), some with a child detail, sharing a small palette of materials.
#pragma once

#include <cstdint>
#include <vector>

#include "creator/thermal/SceneGraph.h"

namespace vantry::creator {

struct CityBlockScene {
    std::vector<SceneNodeRef> nodes;
    std::vector<SceneMaterialRef> palette;
};

// The same seed and count always give the same scene.
CityBlockScene buildSeededCityBlock(std::int64_t nodeCount, std::uint64_t seed);

}  // namespace vantry::creator
