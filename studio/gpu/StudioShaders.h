// GLSL 330 sources of the studio's shader functions: the full-screen sky, the stage and
// the presenter standing in the set (each vertex + fragment).
#pragma once

namespace vantry::studio::gl {

// Shared by every stage: the 128-byte StageUniforms block (std140 matches the C++
// layout byte for byte), the tone map and the output encoding.
extern const char* const kSkyVertexSource;
extern const char* const kSkyFragmentSource;
extern const char* const kStageVertexSource;
extern const char* const kStageFragmentSource;
// The stage by material (lit, LED wall, neon), a depth-only fragment function for the stage's
// depth pass and the sky drawn behind a finished stage.
extern const char* const kStageLitFragmentSource;
extern const char* const kStageLEDFragmentSource;
extern const char* const kStageNeonFragmentSource;
extern const char* const kDepthFragmentSource;
extern const char* const kSkyBehindVertexSource;
extern const char* const kPresenterVertexSource;
extern const char* const kPresenterFragmentSource;
extern const char* const kPresenterShadowVertexSource;
extern const char* const kPresenterShadowFragmentSource;

// Attribute locations of the stage vertex function (StageVertex fields).
inline constexpr unsigned kAttribPosition = 0;
inline constexpr unsigned kAttribNormal = 1;
inline constexpr unsigned kAttribUV = 2;
inline constexpr unsigned kAttribColor = 3;
inline constexpr unsigned kAttribMatTag = 4;
inline constexpr unsigned kAttribRoughness = 5;

}  // namespace vantry::studio::gl
