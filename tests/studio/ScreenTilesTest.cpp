// Faces on a 256 x 256 screen of 32-pixel tiles, seen through the identity matrix: clip x and
// y are the screen's -1..1 and window depth is z.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "studio/ScreenTiles.h"

namespace vantry::studio {
namespace {

const TileGrid kGrid{256, 256, 32};

// An upright quad from (x0, y0) to (x1, y1) in clip units, at depth z0 on its left edge and z1
// on its right.
std::optional<ScreenFace> quad(float x0, float y0, float x1, float y1, float z0, float z1) {
    const Float3 corners[4] = {{x0, y0, z0}, {x1, y0, z1}, {x1, y1, z1}, {x0, y1, z0}};
    return projectFace(corners, 4, Float4x4::identity(), 1.0f, kGrid);
}

struct Faces {
    std::vector<std::optional<ScreenFace>> faces;
    std::vector<std::vector<std::uint8_t>> covered;
    void add(std::optional<ScreenFace> f) {
        covered.push_back(f ? tilesCoveredWhole(*f, kGrid) : std::vector<std::uint8_t>{});
        faces.push_back(std::move(f));
    }
};

bool inRects(const std::vector<std::array<int, 4>>& rects, int column, int row) {
    const int x = column * kGrid.tile + kGrid.tile / 2, y = row * kGrid.tile + kGrid.tile / 2;
    for (const auto& r : rects) {
        if (x >= r[0] && x < r[0] + r[2] && y >= r[1] && y < r[1] + r[3]) return true;
    }
    return false;
}

TEST(ScreenTiles, AFaceIsLeftOutExactlyWhereANearerOneCoversWholeTiles) {
    Faces set;
    set.add(quad(-1.2f, -1.2f, 1.2f, 1.2f, 0.8f, 0.8f));  // far, over the whole screen
    set.add(quad(-0.5f, -0.5f, 0.5f, 0.5f, 0.3f, 0.3f));  // near: pixels 64..192 both ways
    ASSERT_TRUE(set.faces[0] && set.faces[1]);
    EXPECT_NEAR(set.faces[0]->depthAt(10, 200), 0.8, 1e-6);

    const FaceCover far = coverOf(0, set.faces, set.covered, kGrid);
    // Tiles 3 and 4 lie inside the near quad; tiles 2 and 5 touch its edges, within the margin.
    EXPECT_FALSE(far.all);
    EXPECT_EQ(far.hiddenTiles, 4);
    for (int row = 0; row < kGrid.rows(); ++row) {
        for (int column = 0; column < kGrid.columns(); ++column) {
            const bool hidden = (row == 3 || row == 4) && (column == 3 || column == 4);
            EXPECT_EQ(inRects(far.rects, column, row), !hidden) << column << "," << row;
        }
    }
    // The nearer face is in front of everything.
    EXPECT_EQ(coverOf(1, set.faces, set.covered, kGrid).hiddenTiles, 0);
}

TEST(ScreenTiles, ACoverNearerOnlyInPlacesHidesNothingWhereItIsBehind) {
    Faces set;
    set.add(quad(-1.2f, -1.2f, 1.2f, 1.2f, 0.5f, 0.5f));
    // Tilted through the first: nearer on the left, farther on the right.
    set.add(quad(-1.1f, -1.1f, 1.1f, 1.1f, 0.2f, 0.8f));
    const FaceCover flat = coverOf(0, set.faces, set.covered, kGrid);
    const FaceCover tilted = coverOf(1, set.faces, set.covered, kGrid);
    for (int row = 0; row < kGrid.rows(); ++row) {
        EXPECT_FALSE(inRects(flat.rects, 0, row));  // behind the tilted face on the left
        EXPECT_TRUE(inRects(flat.rects, 7, row));   // in front of it on the right
        EXPECT_TRUE(inRects(tilted.rects, 0, row));
        EXPECT_FALSE(inRects(tilted.rects, 7, row));
        // Where the planes cross (the middle columns) each is drawn.
        EXPECT_TRUE(inRects(flat.rects, 3, row) && inRects(tilted.rects, 3, row));
        EXPECT_TRUE(inRects(flat.rects, 4, row) && inRects(tilted.rects, 4, row));
    }
}

TEST(ScreenTiles, AFaceCoveredInEveryTileItTouchesIsLeftOutWhole) {
    Faces set;
    set.add(quad(-0.4f, -0.4f, 0.4f, 0.4f, 0.9f, 0.9f));
    set.add(quad(-1.0f, -1.0f, 1.0f, 1.0f, 0.1f, 0.1f));
    EXPECT_TRUE(coverOf(0, set.faces, set.covered, kGrid).all);
    // Equal depth hides nothing: which one wins there depends on the order of drawing.
    set.faces[1] = quad(-1.0f, -1.0f, 1.0f, 1.0f, 0.9f, 0.9f);
    set.covered[1] = tilesCoveredWhole(*set.faces[1], kGrid);
    EXPECT_EQ(coverOf(0, set.faces, set.covered, kGrid).hiddenTiles, 0);
}

TEST(ScreenTiles, FacesAreClippedToWhatIsDrawnInFrontOfTheEye) {
    // Behind the near plane, beyond the far one, or seen edge on: nothing.
    EXPECT_FALSE(quad(-0.5f, -0.5f, 0.5f, 0.5f, -0.2f, -0.2f));
    EXPECT_FALSE(quad(-0.5f, -0.5f, 0.5f, 0.5f, 1.0f, 1.0f));
    EXPECT_FALSE(quad(0.0f, -0.5f, 0.0f, 0.5f, 0.5f, 0.5f));
    // Across the near plane: only its part in front, which covers the tiles on the right only.
    const auto across = quad(-1.2f, -1.2f, 1.2f, 1.2f, -0.5f, 0.5f);
    ASSERT_TRUE(across);
    const auto covered = tilesCoveredWhole(*across, kGrid);
    const int columns = across->column1 - across->column0 + 1;
    EXPECT_GE(across->column0, 3);
    EXPECT_TRUE(covered[std::size_t(3 * columns + columns - 1)]);
    // Far off the screen, the corners stay a border's width beyond it.
    const auto huge = quad(-40.0f, -40.0f, 40.0f, 40.0f, 0.5f, 0.5f);
    ASSERT_TRUE(huge);
    for (std::size_t k = 0; k < huge->x.size(); ++k) {
        EXPECT_LE(std::abs(huge->x[k] - 128.0), 128.0 * 1.05 + 1e-6);
        EXPECT_LE(std::abs(huge->y[k] - 128.0), 128.0 * 1.05 + 1e-6);
    }
    EXPECT_EQ(tilesCoveredWhole(*huge, kGrid).size(), std::size_t(kGrid.columns() * kGrid.rows()));
}

}  // namespace
}  // namespace vantry::studio
