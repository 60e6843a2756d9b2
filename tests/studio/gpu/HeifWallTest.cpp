// HEIC slides reach the LED wall through libheif.
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string_view>
#include <vector>

#include "studio/gpu/WallImageLoader.h"

namespace vantry {
namespace {

// Writes a w x h HEIC of one colour; false when this libheif cannot encode HEVC.
bool writeHeic(const std::filesystem::path& path, int w, int h, std::uint8_t r, std::uint8_t g,
               std::uint8_t b) {
    if (!heif_have_encoder_for_format(heif_compression_HEVC)) return false;
    heif_image* image = nullptr;
    if (heif_image_create(w, h, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image).code !=
        heif_error_Ok) {
        return false;
    }
    heif_image_add_plane(image, heif_channel_interleaved, w, h, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = plane + std::ptrdiff_t(y) * stride + x * 3;
            p[0] = r;
            p[1] = g;
            p[2] = b;
        }
    }
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    bool ok = heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code == heif_error_Ok;
    if (ok) {
        heif_encoder_set_lossy_quality(encoder, 95);
        ok = heif_context_encode_image(ctx, image, encoder, nullptr, nullptr).code == heif_error_Ok &&
             heif_context_write_to_file(ctx, path.c_str()).code == heif_error_Ok;
        heif_encoder_release(encoder);
    }
    heif_context_free(ctx);
    heif_image_release(image);
    return ok;
}

TEST(HeifWall, HeicImageLoadsOntoTheWall) {
    const auto path = std::filesystem::current_path() / "wall_slide.heic";
    // Debian's libheif carries the x265 encoder.
    ASSERT_TRUE(writeHeic(path, 128, 72, 200, 40, 90)) << "libheif could not encode a HEIC picture";
    const auto wall = studio::gl::loadWallImage(path);
    ASSERT_NE(wall, nullptr);
    EXPECT_EQ(wall->width, 128);
    EXPECT_EQ(wall->height, 72);
    const std::size_t mid = (std::size_t(36) * 128 + 64) * 4;
    EXPECT_NEAR(wall->rgba[mid], 200, 12);
    EXPECT_NEAR(wall->rgba[mid + 1], 40, 12);
    EXPECT_NEAR(wall->rgba[mid + 2], 90, 12);
    EXPECT_EQ(wall->rgba[mid + 3], 255);
}

// A damaged file whose picture decodes to another size than its header declares (the rest of the
// picture would be memory the decoder never wrote) is refused, from a file and from memory.
TEST(HeifWall, PictureOfAnotherSizeThanDeclaredIsRefused) {
    const auto path = std::filesystem::current_path() / "wall_damaged.heic";
    ASSERT_TRUE(writeHeic(path, 128, 72, 10, 200, 30));
    std::vector<std::uint8_t> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    const std::string_view box = "ispe";
    const auto at = std::search(bytes.begin(), bytes.end(), box.begin(), box.end());
    ASSERT_NE(at, bytes.end());
    // Box type, version and flags, then width and height: now 64 x 64.
    const auto width = std::size_t(at - bytes.begin()) + 8;
    for (std::size_t i : {width + 3, width + 7}) bytes.at(i) = 64;
    for (std::size_t i : {width, width + 1, width + 2, width + 4, width + 5, width + 6}) bytes.at(i) = 0;
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    EXPECT_EQ(studio::gl::loadWallImage(std::span<const std::uint8_t>(bytes)), nullptr);
    EXPECT_EQ(studio::gl::loadWallImage(path), nullptr);
}

}  // namespace
}  // namespace vantry
