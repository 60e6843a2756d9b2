// The set's faces on the screen, tile by tile: where a face covers whole tiles, and where a face
// lies behind another at every sample of a tile. The renderer uses them to leave out work that
// cannot change a pixel: the sky where the set covers it, a face where a nearer one covers it.
//
// Coordinates are pixels from the viewport's lower left corner (as glScissor takes them); depth
// is window depth (clip z / w, the studio's matrices giving 0 at the near plane, 1 at the far).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "common/Vector.h"

namespace vantry::studio {

struct TileGrid {
    int width = 0;
    int height = 0;
    int tile = 32;
    int columns() const { return (width + tile - 1) / tile; }
    int rows() const { return (height + tile - 1) / tile; }
};

// A convex face (a triangle, or a quad drawn as two triangles sharing the edge from its first
// corner to its third) as it lands on the screen, clipped to the part of space where its
// fragments are surely drawn nearer than the far plane: in front of the near plane, short of
// the far plane, the screen and a border beyond it.
struct ScreenFace {
    std::vector<double> x, y;  // the clipped polygon's corners
    // Inward edge functions, one per edge: a * x + b * y + c is the distance inside, in pixels.
    std::vector<std::array<double, 3>> edges;
    // The face's plane: window depth = depth[0] * x + depth[1] * y + depth[2].
    std::array<double, 3> depth{};
    // Its bounds in tiles (inclusive).
    int column0 = 0, column1 = -1, row0 = 0, row1 = -1;

    double depthAt(double px, double py) const { return depth[0] * px + depth[1] * py + depth[2]; }
};

// The face through viewProj (column-major) onto a grid; none when nothing of it is left, it is
// not convex on the screen (two triangles folded along their edge) or it is seen edge on.
// flipY -1 mirrors the picture vertically (row 0 at the top), as the renderer draws it.
std::optional<ScreenFace> projectFace(const Float3* corners, int count, const Float4x4& viewProj, float flipY,
                                      const TileGrid& grid);

// For each tile of the face's bounds (row by row from row0, column0), 1 where the face covers
// the whole tile with a margin of a pixel (every sample of the tile is the face's).
std::vector<std::uint8_t> tilesCoveredWhole(const ScreenFace& face, const TileGrid& grid);

// Rectangles (x, y, width, height) that together hold every tile of the grid marked in `want`
// (columns x rows, row 0 at the bottom): runs in each row, carried down while the rows below
// have the same run.
std::vector<std::array<int, 4>> tileRects(const std::vector<std::uint8_t>& want, const TileGrid& grid);

// Where a face need not be drawn: in every tile of its bounds that one of the other faces covers
// whole and is nearer than it at every point (by more than the depth buffer's rounding). Such a
// fragment never wins its sample (the depth test keeps the nearest), so leaving it out changes
// no pixel however the faces are ordered.
struct FaceCover {
    bool all = false;                       // no tile of the face is left to draw
    std::vector<std::array<int, 4>> rects;  // otherwise the rectangles still to draw it in
    int hiddenTiles = 0;                    // tiles the face touches that are left out
};
// `faces`: the set's faces (absent: not on the screen); `coveredWhole`: tilesCoveredWhole of
// each (empty: none).
FaceCover coverOf(std::size_t face, const std::vector<std::optional<ScreenFace>>& faces,
                  const std::vector<std::vector<std::uint8_t>>& coveredWhole, const TileGrid& grid);

}  // namespace vantry::studio
