// Decodes an image for the LED wall: Qt's image readers, HEIC/HEIF through libheif.
// Each side is clamped to 64..2048 pixels and the picture is stretched over the whole
// result; transparent parts end up black (premultiplied over zero).
// A picture is outside input: files over kWallMaxFileBytes and pictures whose header
// promises more than kWallMaxSourcePixels are refused before anything is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>

#include <QImage>

#include "studio/gpu/StageRenderer.h"

namespace vantry::studio::gl {

inline constexpr int kWallMinSide = 64;
inline constexpr int kWallMaxSide = 2048;
inline constexpr std::int64_t kWallMaxFileBytes = std::int64_t(256) << 20;
inline constexpr std::int64_t kWallMaxSourcePixels = std::int64_t(8192) * 8192;

// Null when the file cannot be read or decoded, or is over the limits.
std::shared_ptr<WallImage> loadWallImage(const std::filesystem::path& file);

// The same for an image held in memory (the format is recognised from the bytes).
std::shared_ptr<WallImage> loadWallImage(std::span<const std::uint8_t> bytes);

// A picture already in memory, clamped and converted the same way; null for a null picture or
// one over the pixel limit. A picture within the side limits in a premultiplied 32-bit format
// (ARGB32_Premultiplied, RGB32, RGBA8888_Premultiplied, RGBX8888) is not copied: the wall image
// shares its pixels (the QImage is kept, as any copy of a QImage keeps them).
std::shared_ptr<WallImage> wallImageFrom(const QImage& picture);

}  // namespace vantry::studio::gl
