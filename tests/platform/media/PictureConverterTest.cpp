// A converter that converts only the changed rows of a picture gives the picture a converter
// starting afresh gives, bit for bit, wherever the change lies (at the picture's edges, across
// band boundaries, a single pixel, all of it), over a run of pictures and with padded rows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/media/PictureConverter.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace vantry::platform::media {
namespace {

constexpr int kW = 96;
constexpr int kH = 64;

struct Rect {
    int x, y, w, h;
};

// A BGRA picture of kW x kH with `stride` bytes a row, every pixel different from its
// neighbours (so a chroma filter reaching across a row would show).
std::vector<std::uint8_t> picture(int seed, std::ptrdiff_t stride) {
    std::vector<std::uint8_t> p(std::size_t(stride) * kH, 0xEE);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            std::uint8_t* q = p.data() + y * stride + x * 4;
            q[0] = std::uint8_t(x * 7 + y * 13 + seed * 31);
            q[1] = std::uint8_t(x * 3 + y * y + seed * 17);
            q[2] = std::uint8_t((x ^ y) * 5 + seed * 11);
            q[3] = 255;
        }
    }
    return p;
}

// `from` with the pixels of `to` within r.
std::vector<std::uint8_t> changed(std::vector<std::uint8_t> from, const std::vector<std::uint8_t>& to,
                                  std::ptrdiff_t stride, Rect r) {
    for (int y = r.y; y < r.y + r.h; ++y)
        std::memcpy(from.data() + y * stride + r.x * 4, to.data() + y * stride + r.x * 4,
                    std::size_t(r.w) * 4);
    return from;
}

void expectSamePlanes(const AVFrame* a, const AVFrame* b, const char* what) {
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? kW : kW / 2;
        const int h = plane == 0 ? kH : kH / 2;
        for (int y = 0; y < h; ++y) {
            ASSERT_EQ(0, std::memcmp(a->data[plane] + y * a->linesize[plane],
                                     b->data[plane] + y * b->linesize[plane], std::size_t(w)))
                << what << ": plane " << plane << ", row " << y;
        }
    }
}

TEST(PictureConverter, ConvertingOnlyTheChangedRowsGivesTheWholeConversion) {
    struct Case {
        const char* name;
        std::ptrdiff_t stride;
        std::vector<Rect> changes;  // one picture after another, each changed within its rect
    };
    const Case cases[] = {
        {"top left corner", kW * 4, {{0, 0, 5, 3}}},
        {"bottom right corner", kW * 4, {{kW - 5, kH - 3, 5, 3}}},
        {"last pixel", kW * 4, {{kW - 1, kH - 1, 1, 1}}},
        {"first row", kW * 4, {{0, 0, kW, 1}}},
        {"an odd row inside a band", kW * 4, {{10, 31, 20, 1}}},
        {"across a band boundary", kW * 4, {{0, 15, kW, 2}}},
        {"a whole band", kW * 4, {{0, 16, kW, 16}}},
        {"left edge, every row", kW * 4, {{0, 0, 1, kH}}},
        {"all of it", kW * 4, {{0, 0, kW, kH}}},
        {"nothing", kW * 4, {{0, 0, 0, 0}}},
        {"a run: middle, top, unchanged, bottom",
         kW * 4,
         {{30, 20, 30, 12}, {0, 0, kW, 4}, {0, 0, 0, 0}, {7, 50, 9, 14}}},
        {"padded rows", kW * 4 + 64, {{40, 33, 17, 9}, {0, kH - 2, kW, 2}}},
    };
    for (const Case& c : cases) {
        PictureConverter kept(kW, kH);
        std::vector<std::uint8_t> current = picture(0, c.stride);
        ASSERT_TRUE(kept.convertBGRA(current.data(), c.stride)) << c.name;
        int seed = 1;
        for (const Rect& r : c.changes) {
            current = changed(current, picture(seed++, c.stride), c.stride, r);
            ASSERT_TRUE(kept.convertBGRA(current.data(), c.stride)) << c.name;
            PictureConverter fresh(kW, kH);
            ASSERT_TRUE(fresh.convertBGRA(current.data(), c.stride)) << c.name;
            expectSamePlanes(kept.frame(), fresh.frame(), c.name);
        }
    }
}

}  // namespace
}  // namespace vantry::platform::media
