#include "studio/ScreenTiles.h"

#include <algorithm>
#include <cmath>

namespace vantry::studio {
namespace {

using Clip = std::array<double, 4>;

// A pixel's margin around every edge (the rasterizer's own rounding and clipping stay well
// within it), and the least depth by which a covering face must be nearer (a 24-bit depth
// buffer rounds to 6e-8, interpolation in single precision to about as much).
constexpr double kMargin = 1.0;
constexpr double kDepthMargin = 2e-5;

}  // namespace

std::optional<ScreenFace> projectFace(const Float3* corners, int count, const Float4x4& viewProj, float flipY,
                                      const TileGrid& grid) {
    if (count < 3 || count > 4 || grid.width < 1 || grid.height < 1 || grid.tile < 1) return std::nullopt;
    // Each kept part of space: a function of the clip coordinates, not negative on the kept side.
    static constexpr std::array<std::array<double, 5>, 7> kKeep = {{
        {0, 0, 0, 1, -1e-3},
        {0, 0, 1, 0, 0},
        {0, 0, -1, 0.999, 0},
        {-1, 0, 0, 1.05, 0},
        {1, 0, 0, 1.05, 0},
        {0, -1, 0, 1.05, 0},
        {0, 1, 0, 1.05, 0},
    }};
    std::vector<Clip> polygon, clipped;
    for (int k = 0; k < count; ++k) {
        const Float3& p = corners[k];
        Clip c{};
        for (int row = 0; row < 4; ++row) {
            c[std::size_t(row)] = double(viewProj.at(row, 0)) * p.x + double(viewProj.at(row, 1)) * p.y +
                                  double(viewProj.at(row, 2)) * p.z + double(viewProj.at(row, 3));
        }
        polygon.push_back(c);
    }
    // Clipped plane by plane (a convex polygon stays convex).
    for (const auto& plane : kKeep) {
        const auto side = [&](const Clip& c) {
            return plane[0] * c[0] + plane[1] * c[1] + plane[2] * c[2] + plane[3] * c[3] + plane[4];
        };
        clipped.clear();
        for (std::size_t k = 0; k < polygon.size(); ++k) {
            const Clip& from = polygon[k];
            const Clip& to = polygon[(k + 1) % polygon.size()];
            const double sa = side(from), sb = side(to);
            if (sa >= 0) clipped.push_back(from);
            if ((sa >= 0) != (sb >= 0)) {
                const double t = sa / (sa - sb);
                Clip between{};
                for (std::size_t i = 0; i < 4; ++i) between[i] = from[i] + t * (to[i] - from[i]);
                clipped.push_back(between);
            }
        }
        polygon.swap(clipped);
        if (polygon.size() < 3) return std::nullopt;
    }
    // On the screen; corners closer than a thousandth of a pixel taken as one.
    ScreenFace f;
    std::vector<double> depth;
    for (const Clip& c : polygon) {
        const double x = (c[0] / c[3] + 1.0) * 0.5 * grid.width;
        const double y = (c[1] * double(flipY) / c[3] + 1.0) * 0.5 * grid.height;
        if (!f.x.empty() && std::abs(x - f.x.back()) < 1e-3 && std::abs(y - f.y.back()) < 1e-3) continue;
        f.x.push_back(x);
        f.y.push_back(y);
        depth.push_back(c[2] / c[3]);
    }
    while (f.x.size() > 1 && std::abs(f.x.front() - f.x.back()) < 1e-3 &&
           std::abs(f.y.front() - f.y.back()) < 1e-3) {
        f.x.pop_back();
        f.y.pop_back();
        depth.pop_back();
    }
    const std::size_t n = f.x.size();
    if (n < 3) return std::nullopt;
    double area = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t b = (k + 1) % n;
        area += f.x[k] * f.y[b] - f.x[b] * f.y[k];
    }
    if (!(std::abs(area) > 2.0)) return std::nullopt;
    const double orient = area > 0 ? 1.0 : -1.0;
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t a = k, b = (k + 1) % n, c = (k + 2) % n;
        const double turn = (f.x[b] - f.x[a]) * (f.y[c] - f.y[a]) - (f.x[c] - f.x[a]) * (f.y[b] - f.y[a]);
        if (!(orient * turn > -1e-6)) return std::nullopt;
    }
    for (std::size_t e = 0; e < n; ++e) {
        const std::size_t a = e, b = (e + 1) % n;
        const double ex = f.x[b] - f.x[a], ey = f.y[b] - f.y[a];
        const double length = std::hypot(ex, ey);
        f.edges.push_back(
            {-orient * ey / length, orient * ex / length, orient * (ey * f.x[a] - ex * f.y[a]) / length});
    }
    // The plane's depth from the three corners farthest apart (depth is affine in screen space
    // on a plane).
    std::size_t i1 = 1, i2 = 2;
    double best = 0;
    for (std::size_t j = 1; j < n; ++j) {
        for (std::size_t k = j + 1; k < n; ++k) {
            const double a2 =
                std::abs((f.x[j] - f.x[0]) * (f.y[k] - f.y[0]) - (f.x[k] - f.x[0]) * (f.y[j] - f.y[0]));
            if (a2 > best) {
                best = a2;
                i1 = j;
                i2 = k;
            }
        }
    }
    const double x1 = f.x[i1] - f.x[0], y1 = f.y[i1] - f.y[0], d1 = depth[i1] - depth[0];
    const double x2 = f.x[i2] - f.x[0], y2 = f.y[i2] - f.y[0], d2 = depth[i2] - depth[0];
    const double det = x1 * y2 - x2 * y1;
    if (!(std::abs(det) > 1e-9)) return std::nullopt;
    f.depth[0] = (d1 * y2 - d2 * y1) / det;
    f.depth[1] = (x1 * d2 - x2 * d1) / det;
    f.depth[2] = depth[0] - f.depth[0] * f.x[0] - f.depth[1] * f.y[0];

    const auto [minX, maxX] = std::minmax_element(f.x.begin(), f.x.end());
    const auto [minY, maxY] = std::minmax_element(f.y.begin(), f.y.end());
    f.column0 = std::max(0, int(std::floor(*minX / grid.tile)));
    f.column1 = std::min(grid.columns() - 1, int(std::floor(*maxX / grid.tile)));
    f.row0 = std::max(0, int(std::floor(*minY / grid.tile)));
    f.row1 = std::min(grid.rows() - 1, int(std::floor(*maxY / grid.tile)));
    if (f.column0 > f.column1 || f.row0 > f.row1) return std::nullopt;
    return f;
}

std::vector<std::uint8_t> tilesCoveredWhole(const ScreenFace& face, const TileGrid& grid) {
    const int columns = face.column1 - face.column0 + 1;
    const int rows = face.row1 - face.row0 + 1;
    if (columns < 1 || rows < 1) return {};
    // A tile lies inside the convex polygon when its four corners do; each grid point once.
    const int points = columns + 1;
    std::vector<std::uint8_t> inside(std::size_t(points) * std::size_t(rows + 1), 0);
    for (int r = 0; r <= rows; ++r) {
        const double y = std::min(grid.height, (face.row0 + r) * grid.tile);
        for (int c = 0; c <= columns; ++c) {
            const double x = std::min(grid.width, (face.column0 + c) * grid.tile);
            bool in = true;
            for (const auto& e : face.edges) {
                if (!(e[0] * x + e[1] * y + e[2] > kMargin)) {
                    in = false;
                    break;
                }
            }
            inside[std::size_t(r) * std::size_t(points) + std::size_t(c)] = in ? 1 : 0;
        }
    }
    std::vector<std::uint8_t> covered(std::size_t(columns) * std::size_t(rows), 0);
    bool any = false;
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t* below = inside.data() + std::size_t(r) * std::size_t(points);
        const std::uint8_t* above = below + points;
        for (int c = 0; c < columns; ++c) {
            const std::size_t i = std::size_t(c);
            const bool whole = below[i] && below[i + 1] && above[i] && above[i + 1];
            covered[std::size_t(r) * std::size_t(columns) + i] = whole ? 1 : 0;
            any = any || whole;
        }
    }
    if (!any) covered.clear();
    return covered;
}

std::vector<std::array<int, 4>> tileRects(const std::vector<std::uint8_t>& want, const TileGrid& grid) {
    const int columns = grid.columns();
    const int rows = grid.rows();
    std::vector<std::array<int, 4>> rects;
    if (want.size() != std::size_t(columns) * std::size_t(rows)) return rects;
    std::vector<std::array<int, 4>> open;  // column start, column end, first row, last row
    std::vector<std::array<int, 4>> next;
    std::vector<std::array<int, 2>> runs;
    for (int r = 0; r <= rows; ++r) {
        runs.clear();
        for (int c = 0; r < rows && c < columns;) {
            if (!want[std::size_t(r) * std::size_t(columns) + std::size_t(c)]) {
                ++c;
                continue;
            }
            const int start = c;
            while (c < columns && want[std::size_t(r) * std::size_t(columns) + std::size_t(c)]) ++c;
            runs.push_back({start, c});
        }
        next.clear();
        for (const auto& run : runs) {
            bool carried = false;
            for (auto& o : open) {
                if (o[0] == run[0] && o[1] == run[1] && o[3] == r - 1) {
                    o[3] = r;
                    next.push_back(o);
                    o[0] = -1;
                    carried = true;
                    break;
                }
            }
            if (!carried) next.push_back({run[0], run[1], r, r});
        }
        for (const auto& o : open) {
            if (o[0] < 0) continue;
            const int x = o[0] * grid.tile, y = o[2] * grid.tile;
            rects.push_back({x, y, std::min(grid.width, o[1] * grid.tile) - x,
                             std::min(grid.height, (o[3] + 1) * grid.tile) - y});
        }
        open.swap(next);
    }
    return rects;
}

FaceCover coverOf(std::size_t face, const std::vector<std::optional<ScreenFace>>& faces,
                  const std::vector<std::vector<std::uint8_t>>& coveredWhole, const TileGrid& grid) {
    FaceCover cover;
    if (face >= faces.size() || !faces[face] || coveredWhole.size() != faces.size()) return cover;
    const ScreenFace& f = *faces[face];
    const int columns = f.column1 - f.column0 + 1;
    const int rows = f.row1 - f.row0 + 1;
    // 0: the face has no sample in the tile; 1: to draw; 2: left out.
    std::vector<std::uint8_t> state(std::size_t(columns) * std::size_t(rows), 0);
    const auto at = [&](int column, int row) -> std::uint8_t& {
        return state[std::size_t(row - f.row0) * std::size_t(columns) + std::size_t(column - f.column0)];
    };
    // Touched: not wholly outside one of its edges.
    for (int r = f.row0; r <= f.row1; ++r) {
        const double y0 = r * grid.tile, y1 = std::min(grid.height, (r + 1) * grid.tile);
        for (int c = f.column0; c <= f.column1; ++c) {
            const double x0 = c * grid.tile, x1 = std::min(grid.width, (c + 1) * grid.tile);
            bool touched = true;
            for (const auto& e : f.edges) {
                const double most = std::max({e[0] * x0 + e[1] * y0, e[0] * x1 + e[1] * y0,
                                              e[0] * x0 + e[1] * y1, e[0] * x1 + e[1] * y1}) +
                                    e[2];
                if (most < -kMargin) {
                    touched = false;
                    break;
                }
            }
            at(c, r) = touched ? 1 : 0;
        }
    }
    for (std::size_t o = 0; o < faces.size(); ++o) {
        if (o == face || !faces[o] || coveredWhole[o].empty()) continue;
        const ScreenFace& g = *faces[o];
        const int c0 = std::max(f.column0, g.column0), c1 = std::min(f.column1, g.column1);
        const int r0 = std::max(f.row0, g.row0), r1 = std::min(f.row1, g.row1);
        const int gColumns = g.column1 - g.column0 + 1;
        for (int r = r0; r <= r1; ++r) {
            const double y0 = r * grid.tile, y1 = std::min(grid.height, (r + 1) * grid.tile);
            for (int c = c0; c <= c1; ++c) {
                std::uint8_t& s = at(c, r);
                if (s != 1) continue;
                if (!coveredWhole[o][std::size_t(r - g.row0) * std::size_t(gColumns) +
                                     std::size_t(c - g.column0)])
                    continue;
                // The depths' difference is affine over the tile: nearer at its corners, nearer
                // everywhere within it.
                const double x0 = c * grid.tile, x1 = std::min(grid.width, (c + 1) * grid.tile);
                const auto nearer = [&](double x, double y) {
                    return f.depthAt(x, y) - g.depthAt(x, y) > kDepthMargin;
                };
                if (nearer(x0, y0) && nearer(x1, y0) && nearer(x0, y1) && nearer(x1, y1)) {
                    s = 2;
                    ++cover.hiddenTiles;
                }
            }
        }
    }
    if (cover.hiddenTiles == 0) return cover;
    // The tiles to draw, over the whole grid; within a row, tiles the face does not touch join
    // the runs on either side of them.
    std::vector<std::uint8_t> want(std::size_t(grid.columns()) * std::size_t(grid.rows()), 0);
    bool any = false;
    for (int r = f.row0; r <= f.row1; ++r) {
        int first = -1, last = -1;
        for (int c = f.column0; c <= f.column1; ++c) {
            if (at(c, r) != 1) continue;
            if (first < 0) first = c;
            last = c;
        }
        for (int c = first; first >= 0 && c <= last; ++c) {
            if (at(c, r) != 2) want[std::size_t(r) * std::size_t(grid.columns()) + std::size_t(c)] = 1;
        }
        any = any || first >= 0;
    }
    cover.all = !any;
    if (any) cover.rects = tileRects(want, grid);
    return cover;
}

}  // namespace vantry::studio
