// Decodes an image file for the LED wall: Qt's image readers, HEIC/HEIF through
// libheif. Each side is clamped to 64..2048 pixels and the picture is stretched over
// the whole result; transparent parts end up black (premultiplied over zero).
#pragma once

#include <filesystem>
#include <memory>

#include "studio/gpu/StageRendererGL.h"

namespace vantry::studio_gl {

inline constexpr int kWallMinSide = 64;
inline constexpr int kWallMaxSide = 2048;

// Null when the file cannot be read or decoded.
std::shared_ptr<WallImage> loadWallImage(const std::filesystem::path& file);

}  // namespace vantry::studio_gl
