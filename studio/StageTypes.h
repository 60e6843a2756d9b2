// GPU-facing records of the studio: the 80-byte vertex record and the 128-byte per-draw
// constant block, built from the common vector types.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/Vector.h"

namespace vantry {

// Material selector values stored in StageVertex::matTag.
namespace material {
inline constexpr float kLit = 0.0f;
inline constexpr float kDesk = 1.0f;
inline constexpr float kLEDWall = 2.0f;
inline constexpr float kNeon = 3.0f;
}  // namespace material

// One vertex of the set geometry, exactly as the vertex buffer holds it.
struct StageVertex {
    Float3 position;  // world space, y up
    Float3 normal;    // unit face normal
    Float2 uv;        // only read by the LED wall material
    Float3 color;     // linear 0..1
    float matTag = 0;
    float roughness = 0;
};

// Constant block of one draw; bound to the sky fragment and both stage stages.
struct StageUniforms {
    Float4x4 viewProj;            // projection * view, column-major
    Float4 cameraPos;             // (eye, 1)
    Float4 accentAndNeon;         // (accent rgb, neon gain)
    Float4 keyGainAndWallBright;  // (key gain, LED brightness, 0, 0)
    Float4 timeAndSet;            // (time seconds, 0, 0, 0)
};

static_assert(sizeof(StageVertex) == 80, "vertex stride is part of the GPU contract");
static_assert(offsetof(StageVertex, position) == 0);
static_assert(offsetof(StageVertex, normal) == 16);
static_assert(offsetof(StageVertex, uv) == 32);
static_assert(offsetof(StageVertex, color) == 48);
static_assert(offsetof(StageVertex, matTag) == 64);
static_assert(offsetof(StageVertex, roughness) == 68);

static_assert(sizeof(StageUniforms) == 128, "uniform block size is part of the GPU contract");
static_assert(offsetof(StageUniforms, viewProj) == 0);
static_assert(offsetof(StageUniforms, cameraPos) == 64);
static_assert(offsetof(StageUniforms, accentAndNeon) == 80);
static_assert(offsetof(StageUniforms, keyGainAndWallBright) == 96);
static_assert(offsetof(StageUniforms, timeAndSet) == 112);

}  // namespace vantry
