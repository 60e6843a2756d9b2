// Colour differences of pictures, in levels (0-255).
#pragma once

#include <QImage>
#include <QRect>
#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace vantry::testing {

inline double meanDifference(const QImage& a, const QImage& b, QRect area) {
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            sum +=
                std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    }
    return sum / (3.0 * area.width() * area.height());
}

// Broad colour: the mean colour of each cell of a grid x grid division of each picture (both the
// same size), and the largest difference of one channel of one cell between them.
inline double largestCellDifference(const QImage& a, const QImage& b, int grid = 4) {
    const auto means = [grid](const QImage& image) {
        std::vector<std::array<double, 3>> sums(std::size_t(grid * grid), {0, 0, 0});
        std::vector<int> counts(std::size_t(grid * grid), 0);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const auto cell = std::size_t((y * grid / image.height()) * grid + x * grid / image.width());
                const QRgb p = image.pixel(x, y);
                sums[cell][0] += qRed(p);
                sums[cell][1] += qGreen(p);
                sums[cell][2] += qBlue(p);
                ++counts[cell];
            }
        }
        for (std::size_t i = 0; i < sums.size(); ++i) {
            for (double& c : sums[i]) c /= std::max(1, counts[i]);
        }
        return sums;
    };
    const auto ma = means(a), mb = means(b);
    double worst = 0;
    for (std::size_t i = 0; i < ma.size(); ++i) {
        for (std::size_t c = 0; c < 3; ++c) worst = std::max(worst, std::abs(ma[i][c] - mb[i][c]));
    }
    return worst;
}

// The share of a picture's pixels that are black or nearly (0..1).
inline double nearBlackShare(const QImage& image) {
    long dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            dark += qRed(p) + qGreen(p) + qBlue(p) < 12;
        }
    }
    return double(dark) / std::max(1, image.width() * image.height());
}

}  // namespace vantry::testing
