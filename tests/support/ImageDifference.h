// Mean absolute colour difference of two pictures over an area, in levels (0-255).
#pragma once

#include <QImage>
#include <QRect>
#include <cstdlib>

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

}  // namespace vantry::testing
