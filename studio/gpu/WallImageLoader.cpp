#include "studio/gpu/WallImageLoader.h"

#include <libheif/heif.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QString>
#include <algorithm>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "platform/files/RegularFile.h"

namespace vantry::studio::gl {
namespace {

bool withinPixelLimit(std::int64_t w, std::int64_t h) {
    return w > 0 && h > 0 && w <= kWallMaxSourcePixels / h;
}

// HEIC/HEIF from memory; the size in the header is checked before decoding.
QImage decodeWithHeif(std::span<const std::uint8_t> bytes) {
    heif_context* ctx = heif_context_alloc();
    if (ctx == nullptr) return {};
    QImage result;
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    if (heif_context_read_from_memory_without_copy(ctx, bytes.data(), bytes.size(), nullptr).code ==
            heif_error_Ok &&
        heif_context_get_primary_image_handle(ctx, &handle).code == heif_error_Ok &&
        withinPixelLimit(heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)) &&
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code ==
            heif_error_Ok) {
        int stride = 0;
        const std::uint8_t* plane = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        const int w = heif_image_get_width(image, heif_channel_interleaved);
        const int h = heif_image_get_height(image, heif_channel_interleaved);
        // A damaged stream can decode to a picture of another size than the file declares, with
        // pixels the decoder never wrote: such a picture is refused rather than shown.
        const bool asDeclared =
            w == heif_image_handle_get_width(handle) && h == heif_image_handle_get_height(handle);
        if (plane != nullptr && asDeclared && withinPixelLimit(w, h) && stride >= w * 4) {
            result = QImage(w, h, QImage::Format_RGBA8888);
            for (int y = 0; !result.isNull() && y < h; ++y) {
                std::memcpy(result.scanLine(y), plane + std::ptrdiff_t(y) * stride, std::size_t(w) * 4);
            }
        }
    }
    if (image != nullptr) heif_image_release(image);
    if (handle != nullptr) heif_image_handle_release(handle);
    heif_context_free(ctx);
    return result;
}

// Qt's readers; a header that promises too many pixels is refused before decoding.
QImage decodeWithQt(QImageReader& reader) {
    reader.setAutoTransform(false);
    reader.setAllocationLimit(int(kWallMaxSourcePixels * 4 >> 20));
    const QSize size = reader.size();
    if (size.isValid() && !withinPixelLimit(size.width(), size.height())) return {};
    return reader.read();
}

std::shared_ptr<WallImage> toWallImage(const QImage& source) {
    if (source.isNull() || !withinPixelLimit(source.width(), source.height())) return nullptr;

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

// Qt's readers: the format the content shows first, then (for formats without a signature) the
// one the file's name suggests, when its reader takes the content; then libheif.
std::shared_ptr<WallImage> decode(std::span<const std::uint8_t> bytes, const QByteArray& formatHint) {
    if (bytes.empty() || bytes.size() > std::size_t(kWallMaxFileBytes)) return nullptr;
    QByteArray view =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QBuffer buffer(&view);
    buffer.open(QIODevice::ReadOnly);
    QImage source;
    {
        QImageReader reader(&buffer);
        if (reader.canRead()) source = decodeWithQt(reader);
    }
    if (source.isNull() && !formatHint.isEmpty()) {
        buffer.seek(0);
        QImageReader reader(&buffer, formatHint);
        if (reader.canRead()) source = decodeWithQt(reader);
    }
    if (source.isNull()) source = decodeWithHeif(bytes);
    return toWallImage(source);
}

}  // namespace

std::shared_ptr<WallImage> loadWallImage(const std::filesystem::path& file) {
    // Opened without blocking and checked to be a regular file within the limit before reading.
    const platform::FileContents contents =
        platform::readRegularFile(file, std::uintmax_t(kWallMaxFileBytes));
    if (!contents.ok()) return nullptr;
    const std::string suffix = file.extension().string();
    const QByteArray hint =
        suffix.size() > 1 ? QByteArray::fromStdString(suffix.substr(1)).toLower() : QByteArray();
    return decode({reinterpret_cast<const std::uint8_t*>(contents.bytes.data()), contents.bytes.size()},
                  hint);
}

std::shared_ptr<WallImage> wallImageFrom(const QImage& picture) {
    // A picture within the side limits in a premultiplied 32-bit layout (or one without alpha)
    // is what the wall would convert it to, up to the byte order: its rows are shared as they are.
    const int w = picture.width();
    const int h = picture.height();
    const QImage::Format format = picture.format();
    const bool bgra = format == QImage::Format_ARGB32_Premultiplied || format == QImage::Format_RGB32;
    const bool rgba = format == QImage::Format_RGBA8888_Premultiplied || format == QImage::Format_RGBX8888;
    if (!picture.isNull() && (bgra || rgba) && w >= kWallMinSide && w <= kWallMaxSide && h >= kWallMinSide &&
        h <= kWallMaxSide && picture.bytesPerLine() % 4 == 0) {
        auto shared = std::make_shared<const QImage>(picture);
        auto wall = std::make_shared<WallImage>();
        wall->width = w;
        wall->height = h;
        wall->pixels = shared->constBits();
        wall->stride = int(shared->bytesPerLine());
        wall->bgra = bgra;
        wall->owner = std::move(shared);
        return wall;
    }
    return toWallImage(picture);
}

std::shared_ptr<WallImage> loadWallImage(std::span<const std::uint8_t> bytes) {
    return decode(bytes, QByteArray());
}

}  // namespace vantry::studio::gl
