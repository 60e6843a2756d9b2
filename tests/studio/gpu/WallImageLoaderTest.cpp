// The LED wall's picture loader treats a picture as outside input: the same bytes load the
// same from a file or from memory, and sizes over the limits are refused before decoding.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "studio/gpu/WallImageLoader.h"
#include "tests/support/AwkwardFiles.h"

namespace {

namespace fs = std::filesystem;
using vantry::studio::gl::loadWallImage;

std::vector<std::uint8_t> pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return {bytes.begin(), bytes.end()};
}

std::uint32_t crc32(const std::uint8_t* p, std::size_t n) {
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
    }
    return ~c;
}

void putBE32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (24 - 8 * i));
}

// A valid small PNG whose header now promises w x h pixels (the header checksum is right).
std::vector<std::uint8_t> pngPromising(std::uint32_t w, std::uint32_t h) {
    QImage small(8, 8, QImage::Format_RGB32);
    small.fill(Qt::red);
    auto png = pngOf(small);
    // Signature (8), IHDR length (4), "IHDR" (4), width, height, 5 more bytes, CRC.
    putBE32(png.data() + 16, w);
    putBE32(png.data() + 20, h);
    putBE32(png.data() + 29, crc32(png.data() + 12, 17));
    return png;
}

class WallImageLoader : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("vantry_wall_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path write(const std::string& name, std::span<const std::uint8_t> bytes) const {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return p;
    }
    fs::path dir_;
};

TEST_F(WallImageLoader, FileAndMemoryGiveTheSamePicture) {
    QImage picture(300, 40, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, qRgba(x % 256, y * 6, 90, 200));
    const auto png = pngOf(picture);
    const auto fromMemory = loadWallImage(std::span<const std::uint8_t>(png));
    const auto fromFile = loadWallImage(write("p.png", png));
    ASSERT_TRUE(fromMemory && fromFile);
    EXPECT_EQ(fromMemory->width, 300);
    EXPECT_EQ(fromMemory->height, vantry::studio::gl::kWallMinSide);  // 40 rows stretched to the minimum
    EXPECT_EQ(fromMemory->rgba, fromFile->rgba);
}

TEST_F(WallImageLoader, SizesOverTheLimitsAreRefused) {
    const struct {
        const char* what;
        std::uint32_t w, h;
        bool loads;
    } cases[] = {
        {"small", 8, 8, true},  // the real picture: the header is honest
        {"over the pixel limit", 8192, 8193, false},
        {"one side huge", 1u << 30, 1, false},
        {"both sides huge", 0x7FFFFFFFu, 0x7FFFFFFFu, false},
    };
    for (const auto& c : cases) {
        const auto png = pngPromising(c.w, c.h);
        EXPECT_EQ(loadWallImage(std::span<const std::uint8_t>(png)) != nullptr, c.loads) << c.what;
        EXPECT_EQ(loadWallImage(write("h.png", png)) != nullptr, c.loads) << c.what;
    }
}

TEST_F(WallImageLoader, EmptyOversizedAndForeignFilesAreRefused) {
    const std::array<std::uint8_t, 12> text{'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r'};
    EXPECT_EQ(loadWallImage(std::span<const std::uint8_t>()), nullptr);
    EXPECT_EQ(loadWallImage(std::span<const std::uint8_t>(text)), nullptr);
    EXPECT_EQ(loadWallImage(write("empty.png", {})), nullptr);
    EXPECT_EQ(loadWallImage(dir_ / "missing.png"), nullptr);
    EXPECT_EQ(loadWallImage(dir_), nullptr);
    // A sparse file just over the size limit that starts like a real PNG.
    const fs::path big = write("big.png", pngPromising(8, 8));
    fs::resize_file(big, std::uintmax_t(vantry::studio::gl::kWallMaxFileBytes) + 1);
    EXPECT_EQ(loadWallImage(big), nullptr);
}

// A wall picture that is a pipe, a device, a folder or too large is refused without waiting.
TEST_F(WallImageLoader, PipesDevicesFoldersAndOversizedFilesAreRefusedAtOnce) {
    for (const auto& file : vantry::testing::makeAwkwardFiles(
             dir_ / "awkward", "wall.png", std::uintmax_t(vantry::studio::gl::kWallMaxFileBytes)))
        EXPECT_EQ(loadWallImage(file.path), nullptr) << file.what;
}

}  // namespace

// A live picture in a premultiplied 32-bit layout within the side limits is shared as it is,
// the same colours as the converted copy any other picture becomes; others are converted, and
// a picture changed by its owner afterwards leaves the shared one as it was.
TEST(WallImageFrom, PremultipliedPicturesAreSharedAndShowWhatAConvertedCopyShows) {
    using vantry::studio::gl::wallImageFrom;
    QImage source(160, 90, QImage::Format_ARGB32);
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 160; ++x) source.setPixel(x, y, qRgba(x, y * 2, (x + y) % 256, 255));
    const auto converted = wallImageFrom(source);  // ARGB32: converted
    ASSERT_TRUE(converted);
    ASSERT_EQ(converted->pixels, nullptr);
    const struct {
        QImage::Format format;
        QSize size;
        bool shared;
    } cases[] = {
        {QImage::Format_ARGB32_Premultiplied, {160, 90}, true},
        {QImage::Format_RGB32, {160, 90}, true},
        {QImage::Format_RGBA8888_Premultiplied, {160, 90}, true},
        {QImage::Format_RGBX8888, {160, 90}, true},
        {QImage::Format_RGB888, {160, 90}, false},
        {QImage::Format_ARGB32_Premultiplied, {40, 90}, false},  // below the smallest side
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << int(c.format) << ", " << c.size.width() << " wide");
        QImage picture = source.scaled(c.size).convertToFormat(c.format);
        const auto wall = wallImageFrom(picture);
        ASSERT_TRUE(wall);
        EXPECT_EQ(wall->pixels == picture.constBits(), c.shared);
        if (!c.shared) continue;
        for (int y = 0; y < 90; ++y) {
            const std::uint8_t* row = wall->data() + std::ptrdiff_t(y) * wall->rowBytes();
            for (int x = 0; x < 160; ++x) {
                const std::uint8_t* want =
                    converted->rgba.data() + (std::size_t(y) * 160 + std::size_t(x)) * 4;
                const std::uint8_t* got = row + x * 4;
                const int r = wall->bgra ? 2 : 0, b = wall->bgra ? 0 : 2;
                ASSERT_TRUE(got[r] == want[0] && got[1] == want[1] && got[b] == want[2]) << x << ", " << y;
            }
        }
        const std::vector<std::uint8_t> before(wall->data(),
                                               wall->data() + std::ptrdiff_t(90) * wall->rowBytes());
        picture.fill(Qt::red);  // the owner draws on: its picture detaches from the wall's
        EXPECT_TRUE(std::equal(before.begin(), before.end(), wall->data()));
    }
}
