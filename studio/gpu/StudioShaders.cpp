#include "studio/gpu/StudioShaders.h"

namespace vantry::studio::gl {

#define VANTRY_GLSL_HEADER                                                                           \
    "#version 330 core\n"                                                                            \
    "layout(std140) uniform StageUniforms {\n"                                                       \
    "    mat4 viewProj;\n"                                                                           \
    "    vec4 cameraPos;\n"                                                                          \
    "    vec4 accentAndNeon;\n"                                                                      \
    "    vec4 keyGainAndWallBright;\n"                                                               \
    "    vec4 timeAndSet;\n"                                                                         \
    "};\n" /* +1 draws in GL's orientation (row 0 at the bottom); -1 puts row 0 at the top */        \
    "uniform float uFlipY;\n" /* Clip depth runs 0..1 for the studio's matrices; GL's runs -1..1. */ \
    "vec4 toGLClip(vec4 c) { return vec4(c.x, c.y * uFlipY, 2.0 * c.z - c.w, c.w); }\n"              \
    "vec3 aces(vec3 x) {\n"                                                                          \
    "    return clamp(x * (2.51 * x + 0.03) / (x * (2.43 * x + 0.59) + 0.14), 0.0, 1.0);\n"          \
    "}\n"                                                                                            \
    "vec4 encodeOutput(vec3 c) { return vec4(pow(aces(c), vec3(1.0 / 2.2)), 1.0); }\n"

const char* const kSkyVertexSource = VANTRY_GLSL_HEADER R"(
out vec2 vUV;
void main() {
    // One triangle that covers the whole viewport.
    vec2 p = gl_VertexID == 0 ? vec2(-1.0, -1.0) : (gl_VertexID == 1 ? vec2(3.0, -1.0) : vec2(-1.0, 3.0));
    vUV = p * 0.5 + 0.5;
    gl_Position = toGLClip(vec4(p, 0.9999, 1.0));
}
)";

const char* const kSkyFragmentSource = VANTRY_GLSL_HEADER R"(
in vec2 vUV;
layout(location = 0) out vec4 fragColor;
void main() {
    float t = clamp(vUV.y, 0.0, 1.0);
    vec3 base = mix(vec3(0.05, 0.07, 0.13), vec3(0.015, 0.022, 0.045), t);
    base += accentAndNeon.xyz * exp(-abs(vUV.y - 0.35) * 7.0) * 0.18 * accentAndNeon.w;
    fragColor = encodeOutput(base);
}
)";

const char* const kStageVertexSource = VANTRY_GLSL_HEADER R"(
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec2 aUV;
layout(location = 3) in vec3 aColor;
layout(location = 4) in float aMatTag;
layout(location = 5) in float aRoughness;
out vec3 vWP;
out vec3 vWN;
out vec2 vUV;
out vec3 vColor;
out float vMatTag;
out float vRoughness;
void main() {
    vWP = aPosition;
    vWN = normalize(aNormal);
    vUV = aUV;
    vColor = aColor;
    vMatTag = aMatTag;
    vRoughness = aRoughness;
    gl_Position = toGLClip(viewProj * vec4(aPosition, 1.0));
}
)";

const char* const kStageFragmentSource = VANTRY_GLSL_HEADER R"(
in vec3 vWP;
in vec3 vWN;
in vec2 vUV;
in vec3 vColor;
in float vMatTag;
in float vRoughness;
uniform sampler2D uWall;
layout(location = 0) out vec4 fragColor;
void main() {
    float neonGain = accentAndNeon.w;
    if (vMatTag > 1.5 && vMatTag < 2.5) {
        vec3 led = pow(texture(uWall, vUV).rgb, vec3(2.2)) * keyGainAndWallBright.y;
        float scan = 0.96 + 0.04 * sin(vUV.y * 420.0);
        fragColor = encodeOutput(led * scan);
        return;
    }
    if (vMatTag > 2.5) {
        fragColor = encodeOutput(vColor * (1.6 * neonGain));
        return;
    }
    vec3 accent = accentAndNeon.xyz;
    vec3 N = normalize(vWN);
    vec3 V = normalize(cameraPos.xyz - vWP);
    vec3 Lkey = normalize(vec3(2.8, 4.2, 4.5) - vWP);
    vec3 Lrim = normalize(vec3(-3.5, 3.2, -3.5) - vWP);
    vec3 H1 = normalize(V + Lkey);
    vec3 H2 = normalize(V + Lrim);
    float rough = clamp(vRoughness, 0.08, 0.92);
    float specPow = mix(110.0, 10.0, rough);
    float ndl1 = max(dot(N, Lkey), 0.0);
    float ndl2 = max(dot(N, Lrim), 0.0);
    float spec = pow(max(dot(N, H1), 0.0), specPow) * 0.85 + pow(max(dot(N, H2), 0.0), specPow * 0.6) * 0.75;
    vec3 diff = vColor * (0.20 + vec3(1.0, 0.94, 0.86) * ndl1 * keyGainAndWallBright.x +
                          accent * ndl2 * 0.85 * neonGain);
    vec3 gloss = (vec3(1.0, 0.95, 0.9) + accent * 0.6) * spec * (1.0 - rough * 0.72);
    fragColor = encodeOutput(diff + gloss);
}
)";

// The stage in parts, each drawing the same pixels as kStageFragmentSource does for its part of
// the set (the same expressions), without evaluating the other materials: the lit surfaces
// (tags below 1.5), the LED wall (1.5 to 2.5) and the neon strips (above 2.5).
#define VANTRY_STAGE_FS_INPUTS   \
    "in vec3 vWP;\n"             \
    "in vec3 vWN;\n"             \
    "in vec2 vUV;\n"             \
    "in vec3 vColor;\n"          \
    "in float vMatTag;\n"        \
    "in float vRoughness;\n"     \
    "uniform sampler2D uWall;\n" \
    "layout(location = 0) out vec4 fragColor;\n"

const char* const kStageLitFragmentSource = VANTRY_GLSL_HEADER VANTRY_STAGE_FS_INPUTS R"(
void main() {
    float neonGain = accentAndNeon.w;
    vec3 accent = accentAndNeon.xyz;
    vec3 N = normalize(vWN);
    vec3 V = normalize(cameraPos.xyz - vWP);
    vec3 Lkey = normalize(vec3(2.8, 4.2, 4.5) - vWP);
    vec3 Lrim = normalize(vec3(-3.5, 3.2, -3.5) - vWP);
    vec3 H1 = normalize(V + Lkey);
    vec3 H2 = normalize(V + Lrim);
    float rough = clamp(vRoughness, 0.08, 0.92);
    float specPow = mix(110.0, 10.0, rough);
    float ndl1 = max(dot(N, Lkey), 0.0);
    float ndl2 = max(dot(N, Lrim), 0.0);
    float spec = pow(max(dot(N, H1), 0.0), specPow) * 0.85 + pow(max(dot(N, H2), 0.0), specPow * 0.6) * 0.75;
    vec3 diff = vColor * (0.20 + vec3(1.0, 0.94, 0.86) * ndl1 * keyGainAndWallBright.x +
                          accent * ndl2 * 0.85 * neonGain);
    vec3 gloss = (vec3(1.0, 0.95, 0.9) + accent * 0.6) * spec * (1.0 - rough * 0.72);
    fragColor = encodeOutput(diff + gloss);
}
)";

const char* const kStageLEDFragmentSource = VANTRY_GLSL_HEADER VANTRY_STAGE_FS_INPUTS R"(
void main() {
    vec3 led = pow(texture(uWall, vUV).rgb, vec3(2.2)) * keyGainAndWallBright.y;
    float scan = 0.96 + 0.04 * sin(vUV.y * 420.0);
    fragColor = encodeOutput(led * scan);
}
)";

const char* const kStageNeonFragmentSource = VANTRY_GLSL_HEADER VANTRY_STAGE_FS_INPUTS R"(
void main() {
    float neonGain = accentAndNeon.w;
    fragColor = encodeOutput(vColor * (1.6 * neonGain));
}
)";

#undef VANTRY_STAGE_FS_INPUTS

// Depth alone: the stage's vertices through kStageVertexSource, no colour.
const char* const kDepthFragmentSource = VANTRY_GLSL_HEADER R"(
void main() {}
)";

// The sky behind a stage already drawn: the same triangle at the far plane (depth 1, which only
// samples that no part of the set covers still hold), so it shades only where it shows.
const char* const kSkyBehindVertexSource = VANTRY_GLSL_HEADER R"(
out vec2 vUV;
void main() {
    vec2 p = gl_VertexID == 0 ? vec2(-1.0, -1.0) : (gl_VertexID == 1 ? vec2(3.0, -1.0) : vec2(-1.0, 3.0));
    vUV = p * 0.5 + 0.5;
    gl_Position = toGLClip(vec4(p, 1.0, 1.0));
}
)";

// The presenter standing in the set: one upright quad (a 4-vertex strip) with the cut-out
// picture, relit by the rig and written premultiplied for blending over the stage.
const char* const kPresenterVertexSource = VANTRY_GLSL_HEADER R"(
uniform vec4 uCorners[4];  // bottom-left, bottom-right, top-left, top-right (world)
uniform float uBottomV;    // texture row at the bottom edge (beyond 1: the last row, clamped)
out vec2 vUV;
void main() {
    vec4 corner = uCorners[gl_VertexID];
    // Picture row 0 (the top) is texture row 0.
    vUV = vec2(float(gl_VertexID & 1), (1.0 - float(gl_VertexID >> 1)) * uBottomV);
    gl_Position = toGLClip(viewProj * vec4(corner.xyz, 1.0));
}
)";

const char* const kPresenterFragmentSource = VANTRY_GLSL_HEADER R"(
in vec2 vUV;
uniform sampler2D uPresenter;
uniform vec2 uRimTexel;  // the rim's width as a texture offset
uniform vec3 uWallLight;  // the LED wall picture's mean linear colour
uniform float uWallSide;  // the wall's side: +1 to the picture's right, -1 to its left
uniform vec3 uColourGain;  // the colour match's gains on the camera's linear colour (1: none)
layout(location = 0) out vec4 fragColor;
void main() {
    vec4 p = texture(uPresenter, vUV);  // premultiplied
    float a = p.a;
    if (a < 1.0 / 255.0) discard;
    // Camera pixels are gamma-encoded: straight colour, then linear light matched to the set
    // and under the key light relative to its default gain.
    vec3 lin = pow(clamp(p.rgb / a, 0.0, 1.0), vec3(2.2)) * uColourGain * (keyGainAndWallBright.x / 1.35);
    // Rim: where the neighbourhood is less covered than the pixel, the silhouette edge.
    float around = 0.0;
    for (int i = 0; i < 8; ++i) {
        float t = float(i) * 0.78539816;
        around += texture(uPresenter, vUV + vec2(cos(t), sin(t)) * uRimTexel).a;
    }
    float edge = clamp(2.0 * (a - around / 8.0), 0.0, 1.0);
    lin += accentAndNeon.xyz * accentAndNeon.w * edge * 0.8;
    // The LED wall's light wraps the edge that faces it: where the coverage falls off towards
    // the wall's side, over a band a few rims wide, scaled by the wall's luminance.
    vec2 band = vec2(uRimTexel.x * 3.0, 0.0);
    float towardWall = texture(uPresenter, vUV - band * sign(uWallSide)).a -
                       texture(uPresenter, vUV + band * sign(uWallSide)).a;
    float wrap = clamp(towardWall, 0.0, 1.0) * abs(uWallSide);
    lin += uWallLight * keyGainAndWallBright.y * wrap * 0.9;
    fragColor = vec4(pow(aces(lin), vec3(1.0 / 2.2)) * a, a);
}
)";

// The set drawn again for the presenter's shadow, clipped to the part of space the presenter's
// quad (grown by the blur's reach) hides from the key light: the planes through the light and
// the grown quad's edges, and the quad's own plane (studio::presenterShadowPlanes).
const char* const kPresenterShadowVertexSource = VANTRY_GLSL_HEADER R"(
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec3 aNormal;
layout(location = 2) in vec2 aUV;
layout(location = 3) in vec3 aColor;
layout(location = 4) in float aMatTag;
layout(location = 5) in float aRoughness;
uniform vec4 uShadowPlanes[5];
out float gl_ClipDistance[5];
out vec3 vWP;
out vec3 vWN;
out vec2 vUV;
out vec3 vColor;
out float vMatTag;
out float vRoughness;
void main() {
    vWP = aPosition;
    vWN = normalize(aNormal);
    vUV = aUV;
    vColor = aColor;
    vMatTag = aMatTag;
    vRoughness = aRoughness;
    gl_ClipDistance[0] = dot(uShadowPlanes[0], vec4(aPosition, 1.0));
    gl_ClipDistance[1] = dot(uShadowPlanes[1], vec4(aPosition, 1.0));
    gl_ClipDistance[2] = dot(uShadowPlanes[2], vec4(aPosition, 1.0));
    gl_ClipDistance[3] = dot(uShadowPlanes[3], vec4(aPosition, 1.0));
    gl_ClipDistance[4] = dot(uShadowPlanes[4], vec4(aPosition, 1.0));
    gl_Position = toGLClip(viewProj * vec4(aPosition, 1.0));
}
)";

// The presenter's shadow: the set drawn again over its own depth (the stage vertex shader's outputs),
// multiplying what the stage wrote by the share of its light left where the presenter's
// silhouette hides the key light, blurred with the distance from the presenter.
const char* const kPresenterShadowFragmentSource = VANTRY_GLSL_HEADER R"(
in vec3 vWP;
in vec3 vWN;
in vec2 vUV;
in vec3 vColor;
in float vMatTag;
in float vRoughness;
uniform sampler2D uPresenter;
uniform vec4 uShadowQuad[4];  // the presenter's quad: bottom-left, bottom-right, top-left, top-right
uniform float uShadowBottomV;  // its texture row at the bottom edge
uniform float uShadowMargin;   // the furthest a blurred shadow reaches beyond the quad (metres)
layout(location = 0) out vec4 fragColor;
vec3 gOrigin;
vec3 gAcross;
vec3 gUp;
// The silhouette's coverage at a point of the quad's plane (nothing outside the quad or below the floor).
float coverageAt(vec3 p) {
    vec3 d = p - gOrigin;
    float u = dot(d, gAcross) / dot(gAcross, gAcross);
    float v = dot(d, gUp) / dot(gUp, gUp);
    if (u < 0.0 || u > 1.0 || v < 0.0 || v > 1.0 || p.y < 0.0) return 0.0;
    return texture(uPresenter, vec2(u, (1.0 - v) * uShadowBottomV)).a;
}
void main() {
    if (vMatTag > 1.5) discard;  // the LED wall and the neon give light: no shadow on them
    const vec3 keyPos = vec3(2.8, 4.2, 4.5);
    gOrigin = uShadowQuad[0].xyz;
    gAcross = uShadowQuad[1].xyz - gOrigin;
    gUp = uShadowQuad[2].xyz - gOrigin;
    vec3 n = cross(gAcross, gUp);
    vec3 toLight = keyPos - vWP;
    float facing = dot(n, toLight);
    if (abs(facing) < 1e-6) discard;
    float s = dot(n, gOrigin - vWP) / facing;  // 0 at the fragment, 1 at the light
    if (s <= 0.0 || s >= 1.0) discard;          // the presenter is not between them
    vec3 hit = vWP + toLight * s;
    vec3 d = hit - gOrigin;
    float la = length(gAcross);
    float lu = length(gUp);
    float u = dot(d, gAcross) / (la * la);
    float v = dot(d, gUp) / (lu * lu);
    float mu = uShadowMargin / la;
    float mv = uShadowMargin / lu;
    if (u < -mu || u > 1.0 + mu || v < -mv || v > 1.0 + mv) discard;
    // The penumbra widens with the distance from the presenter to the surface.
    float radius = min(uShadowMargin, 0.015 + 0.05 * s * length(toLight));
    vec3 ex = gAcross / la * radius;
    vec3 ey = gUp / lu * radius;
    float cover = 2.0 * coverageAt(hit);
    for (int i = 0; i < 4; ++i) {
        float t = float(i) * 1.5707963 + 0.7853982;
        cover += coverageAt(hit + (ex * cos(t) + ey * sin(t)) * 0.5);
    }
    for (int i = 0; i < 8; ++i) {
        float t = float(i) * 0.7853982;
        cover += coverageAt(hit + ex * cos(t) + ey * sin(t));
    }
    cover /= 14.0;
    if (cover < 1.0 / 255.0) discard;
    // The stage shader's light with and without the key light's share.
    vec3 accent = accentAndNeon.xyz;
    float neonGain = accentAndNeon.w;
    vec3 N = normalize(vWN);
    vec3 V = normalize(cameraPos.xyz - vWP);
    vec3 Lkey = normalize(toLight);
    vec3 Lrim = normalize(vec3(-3.5, 3.2, -3.5) - vWP);
    vec3 H1 = normalize(V + Lkey);
    vec3 H2 = normalize(V + Lrim);
    float rough = clamp(vRoughness, 0.08, 0.92);
    float specPow = mix(110.0, 10.0, rough);
    float ndl1 = max(dot(N, Lkey), 0.0);
    float ndl2 = max(dot(N, Lrim), 0.0);
    float specKey = pow(max(dot(N, H1), 0.0), specPow) * 0.85;
    float specRim = pow(max(dot(N, H2), 0.0), specPow * 0.6) * 0.75;
    vec3 glossColor = (vec3(1.0, 0.95, 0.9) + accent * 0.6) * (1.0 - rough * 0.72);
    vec3 keyLight = vec3(1.0, 0.94, 0.86) * ndl1 * keyGainAndWallBright.x;
    vec3 rest = vColor * (0.20 + accent * ndl2 * 0.85 * neonGain) + glossColor * specRim;
    vec3 lit = rest + vColor * keyLight + glossColor * specKey;
    vec3 ratio = encodeOutput(rest).rgb / max(encodeOutput(lit).rgb, vec3(1e-4));
    fragColor = vec4(mix(vec3(1.0), min(ratio, vec3(1.0)), cover * 0.85), 1.0);
}
)";

#undef VANTRY_GLSL_HEADER

}  // namespace vantry::studio::gl
