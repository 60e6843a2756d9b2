// GPU-facing value types shared by the studio: small SIMD-like vectors, the
// 80-byte vertex record and the 128-byte per-draw constant block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantry {

// Two floats, 8-byte aligned (a shader's float2).
struct alignas(8) Float2 {
    float x = 0, y = 0;
    friend bool operator==(const Float2&, const Float2&) = default;
};

// Three floats stored in 16 bytes (a shader's float3); the fourth lane is padding.
struct alignas(16) Float3 {
    float x = 0, y = 0, z = 0;
    friend bool operator==(const Float3& a, const Float3& b) { return a.x == b.x && a.y == b.y && a.z == b.z; }
};

struct alignas(16) Float4 {
    float x = 0, y = 0, z = 0, w = 0;
    friend bool operator==(const Float4&, const Float4&) = default;
};

// Column-major 4x4 matrix: columns[c] is column c.
struct alignas(16) Float4x4 {
    Float4 columns[4];
    friend bool operator==(const Float4x4&, const Float4x4&) = default;
};

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
    Float4x4 viewProj;             // projection * view, column-major
    Float4 cameraPos;              // (eye, 1)
    Float4 accentAndNeon;          // (accent rgb, neon gain)
    Float4 keyGainAndWallBright;   // (key gain, LED brightness, 0, 0)
    Float4 timeAndSet;             // (time seconds, 0, 0, 0)
};

static_assert(sizeof(Float2) == 8);
static_assert(sizeof(Float3) == 16);
static_assert(sizeof(Float4) == 16);
static_assert(sizeof(Float4x4) == 64);

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
