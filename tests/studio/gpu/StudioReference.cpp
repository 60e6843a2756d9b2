#include "tests/studio/gpu/StudioReference.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vantry::reference {
namespace {

Vec3 operator+(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 operator-(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 operator*(Vec3 a, Vec3 b) {
    return {a.x * b.x, a.y * b.y, a.z * b.z};
}
Vec3 operator*(Vec3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
Vec3 operator+(Vec3 a, float s) {
    return {a.x + s, a.y + s, a.z + s};
}
float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 normalize(Vec3 v) {
    return v * (1.0f / std::sqrt(dot(v, v)));
}
Vec3 of(Float3 f) {
    return {f.x, f.y, f.z};
}

struct DVec {
    double x, y, z;
};
DVec dsub(DVec a, DVec b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
DVec dcross(DVec a, DVec b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double ddot(DVec a, DVec b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
DVec dnorm(DVec a) {
    const double l = std::sqrt(ddot(a, a));
    return {a.x / l, a.y / l, a.z / l};
}
DVec dof(Float3 f) {
    return {f.x, f.y, f.z};
}

// The camera rig, written out again here so that the engine's copy is checked too.
void rig(BroadcastCameraAngle angle, float t, Vec3& eye, Vec3& target) {
    switch (angle.rawValue()) {
        case 0:
            eye = {0.35f * std::sin(0.25f * t), 1.95f, 5.4f};
            target = {0.25f, 1.55f, -1.6f};
            break;
        case 1:
            eye = {-1.6f, 1.85f, 3.6f};
            target = {1.15f, 2.05f, -3.0f};
            break;
        case 2:
            eye = {-0.7f, 1.55f, 3.2f};
            target = {-0.4f, 1.25f, 0.2f};
            break;
        default:
            eye = {3.8f * std::sin(0.6f * t), 3.0f + 0.4f * std::cos(0.5f * t), 5.6f};
            target = {0.2f, 1.5f, -1.4f};
            break;
    }
}

std::uint8_t toByte(float v) {
    return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

}  // namespace

float aces(float x) {
    return std::clamp(x * (2.51f * x + 0.03f) / (x * (2.43f * x + 0.59f) + 0.14f), 0.0f, 1.0f);
}

float encodeChannel(float linear) {
    return std::pow(aces(linear), 1.0f / 2.2f);
}

Vec3 skyColor(float uvY, Vec3 accent, float neonGain) {
    const float t = std::clamp(uvY, 0.0f, 1.0f);
    const Vec3 bottom{0.05f, 0.07f, 0.13f};
    const Vec3 top{0.015f, 0.022f, 0.045f};
    Vec3 base = bottom + (top - bottom) * t;
    return base + accent * (std::exp(-std::fabs(uvY - 0.35f) * 7.0f) * 0.18f * neonGain);
}

Vec3 sampleLinear(const Texture& tex, float u, float v) {
    const float x = u * float(tex.width) - 0.5f;
    const float y = v * float(tex.height) - 0.5f;
    const float fx = std::floor(x);
    const float fy = std::floor(y);
    const float ax = x - fx;
    const float ay = y - fy;
    const auto texel = [&](int i, int j) {
        i = std::clamp(i, 0, tex.width - 1);
        j = std::clamp(j, 0, tex.height - 1);
        const std::uint8_t* p = &tex.rgba[(std::size_t(j) * std::size_t(tex.width) + std::size_t(i)) * 4];
        return Vec3{p[0] / 255.0f, p[1] / 255.0f, p[2] / 255.0f};
    };
    const int i = int(fx);
    const int j = int(fy);
    const Vec3 top = texel(i, j) * (1 - ax) + texel(i + 1, j) * ax;
    const Vec3 bottom = texel(i, j + 1) * (1 - ax) + texel(i + 1, j + 1) * ax;
    return top * (1 - ay) + bottom * ay;
}

Vec3 stageColor(const Fragment& f, Vec3 eye, Vec3 accent, float keyGain, float neonGain, float wallBrightness,
                const Texture& wall) {
    if (f.matTag > 1.5f && f.matTag < 2.5f) {
        const Vec3 s = sampleLinear(wall, f.u, f.v);
        const Vec3 led = Vec3{std::pow(s.x, 2.2f), std::pow(s.y, 2.2f), std::pow(s.z, 2.2f)} * wallBrightness;
        const float scan = 0.96f + 0.04f * std::sin(f.v * 420.0f);
        return led * scan;
    }
    if (f.matTag > 2.5f) return f.color * (1.6f * neonGain);
    const Vec3 n = normalize(f.wn);
    const Vec3 v = normalize(eye - f.wp);
    const Vec3 lKey = normalize(Vec3{2.8f, 4.2f, 4.5f} - f.wp);
    const Vec3 lRim = normalize(Vec3{-3.5f, 3.2f, -3.5f} - f.wp);
    const Vec3 h1 = normalize(v + lKey);
    const Vec3 h2 = normalize(v + lRim);
    const float rough = std::clamp(f.roughness, 0.08f, 0.92f);
    const float specPow = 110.0f - 100.0f * rough;
    const float ndl1 = std::max(dot(n, lKey), 0.0f);
    const float ndl2 = std::max(dot(n, lRim), 0.0f);
    const float spec = std::pow(std::max(dot(n, h1), 0.0f), specPow) * 0.85f +
                       std::pow(std::max(dot(n, h2), 0.0f), specPow * 0.6f) * 0.75f;
    const Vec3 light =
        (Vec3{1.0f, 0.94f, 0.86f} * (ndl1 * keyGain) + accent * (ndl2 * 0.85f * neonGain)) + 0.20f;
    const Vec3 diff = f.color * light;
    const Vec3 gloss = (Vec3{1.0f, 0.95f, 0.9f} + accent * 0.6f) * (spec * (1.0f - rough * 0.72f));
    return diff + gloss;
}

Frame renderFrame(const Params& p, int width, int height, const Texture& wall) {
    const SetGeometry g = buildStudioSet(p.set);
    const Vec3 accent = of(p.set.accentColor());
    Vec3 eyeF, targetF;
    rig(p.angle, p.time, eyeF, targetF);
    const DVec eye{eyeF.x, eyeF.y, eyeF.z};
    const DVec zAxis = dnorm(dsub(eye, DVec{targetF.x, targetF.y, targetF.z}));
    const DVec xAxis = dnorm(dcross(DVec{0, 1, 0}, zAxis));
    const DVec yAxis = dcross(zAxis, xAxis);
    const double tanHalf = std::tan(22.0 * 3.14159265358979323846 / 180.0);
    const double aspect = double(width) / double(std::max(height, 1));

    Frame out;
    out.width = width;
    out.height = height;
    out.bgra.assign(std::size_t(width) * std::size_t(height) * 4, 255);
    std::vector<int> faceId(std::size_t(width) * std::size_t(height), -1);
    out.material.assign(faceId.size(), -1.0f);
    const std::size_t triangles = g.indices.size() / 3;

    for (int py = 0; py < height; ++py) {
        for (int px = 0; px < width; ++px) {
            const double nx = (px + 0.5) / width * 2.0 - 1.0;
            const double ny = 1.0 - (py + 0.5) / height * 2.0;
            DVec dir{nx * aspect * tanHalf * xAxis.x + ny * tanHalf * yAxis.x - zAxis.x,
                     nx * aspect * tanHalf * xAxis.y + ny * tanHalf * yAxis.y - zAxis.y,
                     nx * aspect * tanHalf * xAxis.z + ny * tanHalf * yAxis.z - zAxis.z};
            double bestT = std::numeric_limits<double>::infinity();
            int best = -1;
            double bestU = 0, bestV = 0;
            for (std::size_t tri = 0; tri < triangles; ++tri) {
                const DVec a = dof(g.vertices[g.indices[tri * 3]].position);
                const DVec b = dof(g.vertices[g.indices[tri * 3 + 1]].position);
                const DVec c = dof(g.vertices[g.indices[tri * 3 + 2]].position);
                const DVec e1 = dsub(b, a), e2 = dsub(c, a);
                const DVec pv = dcross(dir, e2);
                const double det = ddot(e1, pv);
                if (std::fabs(det) < 1e-14) continue;
                const DVec tv = dsub(eye, a);
                const double u = ddot(tv, pv) / det;
                if (u < 0 || u > 1) continue;
                const DVec qv = dcross(tv, e1);
                const double v = ddot(dir, qv) / det;
                if (v < 0 || u + v > 1) continue;
                const double t = ddot(e2, qv) / det;
                if (t > 1e-6 && t < bestT) {
                    bestT = t;
                    best = int(tri);
                    bestU = u;
                    bestV = v;
                }
            }
            Vec3 linear;
            if (best < 0) {
                linear = skyColor(float((ny + 1.0) * 0.5), accent, p.neonGain);
            } else {
                const StageVertex& va = g.vertices[g.indices[std::size_t(best) * 3]];
                const StageVertex& vb = g.vertices[g.indices[std::size_t(best) * 3 + 1]];
                const StageVertex& vc = g.vertices[g.indices[std::size_t(best) * 3 + 2]];
                const double w0 = 1.0 - bestU - bestV;
                Fragment f;
                f.wp = {float(eye.x + dir.x * bestT), float(eye.y + dir.y * bestT),
                        float(eye.z + dir.z * bestT)};
                f.wn = of(va.normal);
                f.color = of(va.color);
                f.u = float(w0 * va.uv.x + bestU * vb.uv.x + bestV * vc.uv.x);
                f.v = float(w0 * va.uv.y + bestU * vb.uv.y + bestV * vc.uv.y);
                f.matTag = va.matTag;
                f.roughness = va.roughness;
                linear = stageColor(f, eyeF, accent, p.keyGain, p.neonGain, p.wallBrightness, wall);
                faceId[std::size_t(py) * std::size_t(width) + std::size_t(px)] = best / 2;
                out.material[std::size_t(py) * std::size_t(width) + std::size_t(px)] = va.matTag;
            }
            std::uint8_t* o = &out.bgra[(std::size_t(py) * std::size_t(width) + std::size_t(px)) * 4];
            o[0] = toByte(encodeChannel(linear.z));
            o[1] = toByte(encodeChannel(linear.y));
            o[2] = toByte(encodeChannel(linear.x));
            o[3] = 255;
        }
    }

    out.edge.assign(faceId.size(), 0);
    for (int py = 0; py < height; ++py) {
        for (int px = 0; px < width; ++px) {
            const int id = faceId[std::size_t(py) * std::size_t(width) + std::size_t(px)];
            bool edge = px == 0 || py == 0 || px == width - 1 || py == height - 1;
            for (int dy = -1; dy <= 1 && !edge; ++dy) {
                for (int dx = -1; dx <= 1 && !edge; ++dx) {
                    edge = faceId[std::size_t(py + dy) * std::size_t(width) + std::size_t(px + dx)] != id;
                }
            }
            out.edge[std::size_t(py) * std::size_t(width) + std::size_t(px)] = edge ? 1 : 0;
        }
    }
    return out;
}

Texture fallbackWall() {
    Texture t;
    t.width = 256;
    t.height = 144;
    t.rgba.resize(256 * 144 * 4);
    for (int y = 0; y < 144; ++y) {
        for (int x = 0; x < 256; ++x) {
            std::uint8_t* p = &t.rgba[(std::size_t(y) * 256 + std::size_t(x)) * 4];
            p[0] = 20;
            p[1] = std::uint8_t(60 + 120 * x / 256);
            p[2] = std::uint8_t(120 + 100 * y / 144);
            p[3] = 255;
        }
    }
    return t;
}

}  // namespace vantry::reference
