// Pixel comparison of BGRA frames for the renderer tests; writes the GPU image, the
// reference and a diff image next to the test output when they disagree.
#pragma once

#include <QImage>
#include <QString>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace vantry::testing_images {

inline QImage toImage(const std::vector<std::uint8_t>& bgra, int w, int h) {
    QImage img(w, h, QImage::Format_ARGB32);
    for (int y = 0; y < h; ++y) {
        std::copy_n(bgra.data() + std::size_t(y) * std::size_t(w) * 4, std::size_t(w) * 4, img.scanLine(y));
    }
    return img;
}

struct DiffResult {
    int compared = 0;
    int mismatched = 0;
    int worst = 0;
};

// Compares pixels whose mask entry is 0 (all pixels without a mask); a pixel
// mismatches when any channel differs by more than tolerance.
inline DiffResult compareAndDump(const std::vector<std::uint8_t>& gpu, const std::vector<std::uint8_t>& ref,
                                 const std::vector<std::uint8_t>* mask, int w, int h, int tolerance,
                                 const std::string& name) {
    DiffResult r;
    QImage diff(w, h, QImage::Format_ARGB32);
    diff.fill(Qt::black);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(w) + std::size_t(x);
            if (mask != nullptr && (*mask)[i] != 0) {
                diff.setPixel(x, y, qRgb(0, 0, 64));
                continue;
            }
            ++r.compared;
            int d = 0;
            for (int c = 0; c < 4; ++c)
                d = std::max(d,
                             std::abs(int(gpu[i * 4 + std::size_t(c)]) - int(ref[i * 4 + std::size_t(c)])));
            r.worst = std::max(r.worst, d);
            if (d > tolerance) {
                ++r.mismatched;
                diff.setPixel(x, y, qRgb(255, std::min(255, d * 8), 0));
            }
        }
    }
    if (r.mismatched > 0) {
        toImage(gpu, w, h).save(QString::fromStdString(name + "_gpu.png"));
        toImage(ref, w, h).save(QString::fromStdString(name + "_reference.png"));
        diff.save(QString::fromStdString(name + "_diff.png"));
    }
    return r;
}

}  // namespace vantry::testing_images
