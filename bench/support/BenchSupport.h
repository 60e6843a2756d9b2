// Pieces the benchmarks share: processor time of this process (or of its
// finished children), prepared studio-like pictures, and one studio engine.
#pragma once

#include <cstdint>
#include <vector>

namespace vantry {
class VantryMetalEngine;
}

namespace vantry::bench {

enum class CpuOf { self, children };

// User + system seconds. On a shared machine wall time follows the load; this
// follows the work (encoder threads included).
double cpuSeconds(CpuOf who = CpuOf::self);

// `count` BGRA pictures (stride width * 4) with what a studio picture has: soft
// moving gradients, a bright block sliding across and a panel of fine moving
// detail, like text or a textured wall. No random grain, which no encoder
// setting can compress and which would hide their differences. Positions scale
// with the size, so 1920 x 1080 gives the reference layout.
std::vector<std::vector<std::uint8_t>> studioLikePictures(int width, int height, int count);

// The engine every benchmark of a process uses; prints its GL renderer once and
// ends the process when no OpenGL 3.3 core context can be made.
VantryMetalEngine& sharedEngine();

}  // namespace vantry::bench
