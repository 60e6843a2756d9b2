#include "studio/gpu/WallImageLoader.h"

#include <libheif/heif.h>

#include <QImage>
#include <QImageReader>
#include <QString>
#include <algorithm>
#include <cstring>

namespace vantry::studio_gl {
namespace {

QImage decodeWithHeif(const std::filesystem::path& file) {
    heif_context* ctx = heif_context_alloc();
    if (ctx == nullptr) return {};
    QImage result;
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    if (heif_context_read_from_file(ctx, file.c_str(), nullptr).code == heif_error_Ok &&
        heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok &&
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code ==
            heif_error_Ok) {
        int stride = 0;
        const std::uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        const int w = heif_image_get_width(image, heif_channel_interleaved);
        const int h = heif_image_get_height(image, heif_channel_interleaved);
        if (plane != nullptr && w > 0 && h > 0) {
            result = QImage(w, h, QImage::Format_RGBA8888);
            for (int y = 0; y < h; ++y) {
                std::memcpy(result.scanLine(y), plane + std::ptrdiff_t(y) * stride, std::size_t(w) * 4);
            }
        }
    }
    if (image != nullptr) heif_image_release(image);
    if (handle != nullptr) heif_image_handle_release(handle);
    heif_context_free(ctx);
    return result;
}

}  // namespace

std::shared_ptr<WallImage> loadWallImage(const std::filesystem::path& file) {
    QImageReader reader(QString::fromStdString(file.string()));
    reader.setAutoTransform(false);
    QImage source = reader.read();
    if (source.isNull()) source = decodeWithHeif(file);
    if (source.isNull() || source.width() < 1 || source.height() < 1) return nullptr;

    const int w = std::clamp(source.width(), kWallMinSide, kWallMaxSide);
    const int h = std::clamp(source.height(), kWallMinSide, kWallMaxSide);
    QImage pixels = source.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    if (pixels.width() != w || pixels.height() != h) {
        pixels = pixels.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (pixels.isNull() || pixels.format() != QImage::Format_RGBA8888_Premultiplied) {
        pixels = pixels.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    }
    if (pixels.isNull() || pixels.width() != w || pixels.height() != h) return nullptr;

    auto wall = std::make_shared<WallImage>();
    wall->width = w;
    wall->height = h;
    wall->rgba.resize(std::size_t(w) * std::size_t(h) * 4);
    for (int y = 0; y < h; ++y) {
        std::memcpy(wall->rgba.data() + std::size_t(y) * std::size_t(w) * 4, pixels.constScanLine(y),
                    std::size_t(w) * 4);
    }
    return wall;
}

}  // namespace vantry::studio_gl
