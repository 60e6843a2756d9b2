#include "bench/support/BenchSupport.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vantry::bench {

double cpuSeconds(CpuOf who) {
    rusage u{};
    ::getrusage(who == CpuOf::self ? RUSAGE_SELF : RUSAGE_CHILDREN, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           1e-6 * double(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

std::vector<std::vector<std::uint8_t>> studioLikePictures(int width, int height, int count) {
    const double sx = width / 1920.0, sy = height / 1080.0;
    const auto X = [&](double v) { return int(v * sx); };
    const auto Y = [&](double v) { return int(v * sy); };
    std::vector<std::vector<std::uint8_t>> out(static_cast<std::size_t>(std::max(0, count)));
    for (int n = 0; n < count; ++n) {
        auto& f = out[std::size_t(n)];
        f.resize(std::size_t(width) * std::size_t(height) * 4);
        const int bx = X(200 + n * 12), by = Y(300 + 80 * std::sin(n * 0.2));
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                std::uint8_t* p = &f[(std::size_t(y) * std::size_t(width) + std::size_t(x)) * 4];
                const bool block = x >= bx && x < bx + X(400) && y >= by && y < by + Y(300);
                const bool detail = x >= X(1100) && x < X(1800) && y >= Y(600) && y < Y(1000);
                const double wave = 30 * std::sin(x * 0.013 + n * 0.11) * std::cos(y * 0.011 - n * 0.07);
                int b = int(60 + (x * 120) / width + wave), g = int(40 + (y * 90) / height + wave / 2),
                    r = int(30 + ((x + y + n * 8) % 512) / 4);
                if (block) b = 240, g = 200, r = 60;
                if (detail) {
                    const int u = x + n * 3, v = y + n;
                    const int on = ((u / 3 + v / 7) % 2) ^ ((u * u / 97 + v) % 3 == 0);
                    b = g = r = on ? 230 : 25;
                }
                p[0] = std::uint8_t(std::clamp(b, 0, 255));
                p[1] = std::uint8_t(std::clamp(g, 0, 255));
                p[2] = std::uint8_t(std::clamp(r, 0, 255));
                p[3] = 255;
            }
        }
    }
    return out;
}

}  // namespace vantry::bench
