// Small vector and matrix values shared by geometry, audio and the renderer. Their
// alignment matches the shader types (float2, float3, float4, float4x4), so GPU records
// can hold them directly.
#pragma once

#include <cmath>
#include <concepts>

namespace vantry {

// Two floats, 8-byte aligned (a shader's float2).
struct alignas(8) Float2 {
    float x = 0, y = 0;
    friend bool operator==(const Float2&, const Float2&) = default;
};

// Three floats stored in 16 bytes (a shader's float3); the fourth lane is padding.
struct alignas(16) Float3 {
    float x = 0, y = 0, z = 0;
    friend constexpr bool operator==(const Float3& a, const Float3& b) {
        return a.x == b.x && a.y == b.y && a.z == b.z;
    }
};

struct alignas(16) Float4 {
    float x = 0, y = 0, z = 0, w = 0;
    friend bool operator==(const Float4&, const Float4&) = default;
};

// Column-major 4x4 matrix: columns[c] is column c. Points are column vectors, so a * b applies
// b first. A default-constructed matrix is all zeros; identity() is the neutral transform.
struct alignas(16) Float4x4 {
    Float4 columns[4];

    static constexpr Float4x4 identity() {
        return {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    }
    static constexpr Float4x4 translation(float x, float y, float z) {
        return {{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {x, y, z, 1}}};
    }
    static constexpr Float4x4 scale(float x, float y, float z) {
        return {{{x, 0, 0, 0}, {0, y, 0, 0}, {0, 0, z, 0}, {0, 0, 0, 1}}};
    }
    // Right-handed rotation by radians about axis (normalised here; a zero axis scales by cos).
    static Float4x4 rotation(float radians, Float3 axis) {
        const float length = std::sqrt(axis.x * axis.x + axis.y * axis.y + axis.z * axis.z);
        const float inv = length > 0 ? 1.0f / length : 0.0f;
        const float x = axis.x * inv, y = axis.y * inv, z = axis.z * inv;
        const float c = std::cos(radians), s = std::sin(radians), k = 1 - c;
        return {{{c + x * x * k, y * x * k + z * s, z * x * k - y * s, 0},
                 {x * y * k - z * s, c + y * y * k, z * y * k + x * s, 0},
                 {x * z * k + y * s, y * z * k - x * s, c + z * z * k, 0},
                 {0, 0, 0, 1}}};
    }

    constexpr float at(int row, int column) const { return lane(columns[column], row); }
    // Determinant of the upper 3x3 part; negative for a mirroring transform.
    constexpr float linearDeterminant() const {
        return at(0, 0) * (at(1, 1) * at(2, 2) - at(1, 2) * at(2, 1)) -
               at(0, 1) * (at(1, 0) * at(2, 2) - at(1, 2) * at(2, 0)) +
               at(0, 2) * (at(1, 0) * at(2, 1) - at(1, 1) * at(2, 0));
    }
    // A point (w = 1) or a direction (w = 0, no translation) of any {x, y, z} type.
    template <class V = Float3>
    constexpr V transformPoint(V p) const {
        return {at(0, 0) * p.x + at(0, 1) * p.y + at(0, 2) * p.z + at(0, 3),
                at(1, 0) * p.x + at(1, 1) * p.y + at(1, 2) * p.z + at(1, 3),
                at(2, 0) * p.x + at(2, 1) * p.y + at(2, 2) * p.z + at(2, 3)};
    }
    template <class V = Float3>
    constexpr V transformDirection(V d) const {
        return {at(0, 0) * d.x + at(0, 1) * d.y + at(0, 2) * d.z,
                at(1, 0) * d.x + at(1, 1) * d.y + at(1, 2) * d.z,
                at(2, 0) * d.x + at(2, 1) * d.y + at(2, 2) * d.z};
    }
    // The 16 floats in column order (for glUniformMatrix4fv and friends).
    const float* data() const { return &columns[0].x; }

    friend constexpr Float4x4 operator*(const Float4x4& a, const Float4x4& b) {
        Float4x4 r;
        for (int c = 0; c < 4; ++c) {
            float out[4];
            for (int row = 0; row < 4; ++row) {
                float sum = 0;
                for (int k = 0; k < 4; ++k) sum += a.at(row, k) * b.at(k, c);
                out[row] = sum;
            }
            r.columns[c] = {out[0], out[1], out[2], out[3]};
        }
        return r;
    }
    friend bool operator==(const Float4x4&, const Float4x4&) = default;

  private:
    static constexpr float lane(const Float4& v, int i) {
        return i == 0 ? v.x : i == 1 ? v.y : i == 2 ? v.z : v.w;
    }
};

static_assert(sizeof(Float2) == 8);
static_assert(sizeof(Float3) == 16);
static_assert(sizeof(Float4) == 16);
static_assert(sizeof(Float4x4) == 64);

// Operations on any three-component vector: Float3 and the packed x, y, z records of meshes and
// scene descriptions alike (a type with a `w` is not one).
template <class V>
concept Vector3 = requires(V v) {
    { v.x } -> std::convertible_to<float>;
    { v.y } -> std::convertible_to<float>;
    { v.z } -> std::convertible_to<float>;
}
&&!requires(V v) {
    v.w;
};

template <Vector3 V>
constexpr float dot(V a, V b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
template <Vector3 V>
constexpr V cross(V a, V b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
template <Vector3 V>
float length(V v) {
    return std::sqrt(dot(v, v));
}
// v scaled to length 1; a zero (or NaN-length) vector gives the zero vector.
template <Vector3 V>
V normalize(V v) {
    const float len = length(v);
    if (!(len > 0)) return V{};
    const float inv = 1.0f / len;
    return {v.x * inv, v.y * inv, v.z * inv};
}

constexpr Float3 operator+(Float3 a, Float3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
constexpr Float3 operator-(Float3 a, Float3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
constexpr Float3 operator*(Float3 v, float s) {
    return {v.x * s, v.y * s, v.z * s};
}

}  // namespace vantry
