// Small vector and matrix values shared by geometry, audio and the renderer. Their
// alignment matches the shader types (float2, float3, float4, float4x4), so GPU records
// can hold them directly.
#pragma once

namespace vantry {

// Two floats, 8-byte aligned (a shader's float2).
struct alignas(8) Float2 {
    float x = 0, y = 0;
    friend bool operator==(const Float2&, const Float2&) = default;
};

// Three floats stored in 16 bytes (a shader's float3); the fourth lane is padding.
struct alignas(16) Float3 {
    float x = 0, y = 0, z = 0;
    friend bool operator==(const Float3& a, const Float3& b) {
        return a.x == b.x && a.y == b.y && a.z == b.z;
    }
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

static_assert(sizeof(Float2) == 8);
static_assert(sizeof(Float3) == 16);
static_assert(sizeof(Float4) == 16);
static_assert(sizeof(Float4x4) == 64);

}  // namespace vantry
