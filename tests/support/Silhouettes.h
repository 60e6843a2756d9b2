// Made-up cut-out people for tests of the presenter's framing: a coverage picture (one byte per
// pixel, 255 = person) of a head, a neck and shoulders, drawn at any size and place, and with a
// raised hand beside the head.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace vantry::test {

struct Silhouette {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> alpha;  // width * height, row 0 at the top
    void fill(int x0, int y0, int x1, int y1) {
        for (int y = std::max(0, y0); y < std::min(height, y1); ++y)
            for (int x = std::max(0, x0); x < std::min(width, x1); ++x)
                alpha[std::size_t(y) * width + x] = 255;
    }
};

// A person whose head is headWidth pixels wide (1.4 times that tall) with its top at `top` and
// its centre at column `centreX`; the shoulders, three head widths across, carry on to the
// picture's bottom edge. handAbove > 0 raises a hand (a third of a head wide) that many pixels
// above the head's top, beside it.
inline Silhouette makeSilhouette(int width, int height, float centreX, float top, float headWidth,
                                 float handAbove = 0) {
    Silhouette s{width, height, std::vector<std::uint8_t>(std::size_t(width) * height, 0)};
    const float rx = headWidth / 2;
    const float ry = headWidth * 0.7f;
    const float cy = top + ry;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const float dx = (x + 0.5f - centreX) / rx;
            const float dy = (y + 0.5f - cy) / ry;
            if (dx * dx + dy * dy <= 1) s.alpha[std::size_t(y) * width + x] = 255;
        }
    }
    const float neckTop = cy + ry * 0.8f;
    const float shoulders = top + headWidth * 1.75f;
    s.fill(int(centreX - headWidth * 0.3f), int(neckTop), int(centreX + headWidth * 0.3f),
           int(shoulders) + 1);
    s.fill(int(centreX - headWidth * 1.5f), int(shoulders), int(centreX + headWidth * 1.5f), height);
    if (handAbove > 0) {
        const int armX = int(centreX + headWidth * 0.9f);
        s.fill(armX, int(top - handAbove), armX + int(headWidth / 3), int(shoulders) + 1);
    }
    return s;
}

}  // namespace vantry::test
