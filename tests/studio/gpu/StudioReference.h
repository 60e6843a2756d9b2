// A CPU reference of the studio picture: the shading functions in plain float
// arithmetic and a ray caster over the set's triangles with the director camera.
// The GPU frames are compared against it away from geometric edges.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "studio/SetGeometry.h"
#include "studio/StageTypes.h"
#include "studio/StudioCatalogue.h"

namespace vantry::reference {

struct Vec3 {
    float x = 0, y = 0, z = 0;
};

struct Texture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;  // row 0 at the top
};

struct Params {
    BroadcastStudioSet set = BroadcastStudioSet::manhattanLoft;
    BroadcastCameraAngle angle = BroadcastCameraAngle::wideDesk;
    float time = 0;
    float keyGain = 1.35f;
    float neonGain = 1.25f;
    float wallBrightness = 1.15f;
};

// Linear colour before the tone map.
float aces(float x);
// aces, then gamma 1/2.2: the value a fragment writes, 0..1.
float encodeChannel(float linear);

// The sky's linear colour at screen height uvY (0 at the bottom).
Vec3 skyColor(float uvY, Vec3 accent, float neonGain);

// Linear colour of a stage fragment.
struct Fragment {
    Vec3 wp, wn, color;
    float u = 0, v = 0;
    float matTag = 0;
    float roughness = 0;
};
Vec3 stageColor(const Fragment& f, Vec3 eye, Vec3 accent, float keyGain, float neonGain, float wallBrightness,
                const Texture& wall);

// Bilinear, clamp-to-edge, no mipmaps; rgb 0..1.
Vec3 sampleLinear(const Texture& t, float u, float v);

struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;  // rows top to bottom
    std::vector<std::uint8_t> edge;  // 1 where a pixel or its neighbours see different faces
    std::vector<float> material;     // matTag seen at the pixel centre, -1 for the sky
};

// Renders the whole frame at the pixel centres.
Frame renderFrame(const Params& p, int width, int height, const Texture& wall);

// The engine's initial wall image.
Texture fallbackWall();

}  // namespace vantry::reference
