#include "gui/view_geometry.h"

#include <gtest/gtest.h>

namespace {

TEST(TopGrid, CellSizeOriginAndTileUnderTheMouse) {
    EXPECT_EQ(autoFitCellSize(404.0f, 404.0f, 10, 10, 2.0f), 38.0f);
    EXPECT_EQ(autoFitCellSize(300.0f, 200.0f, 200, 200, 2.0f), 4.0f);  // never below 4

    // An empty map: one cell for tile (0, 0), centred.
    const TileIndexBounds empty = computeTileIndexBounds(TileCountMap{});
    const CanvasRect canvas{10.0f, 20.0f, 404.0f, 404.0f};
    const TopGridLayout one = topGridLayout(canvas, 38.0f, 2.0f, empty, 0.0f, 0.0f);
    EXPECT_EQ(one.cols, 1);
    EXPECT_EQ(one.rows, 1);
    EXPECT_FLOAT_EQ(one.originX, 10.0f + (404.0f - 42.0f) * 0.5f);
    TileIndex t{9, 9};
    EXPECT_TRUE(topTileAt(one, empty, one.cellX(0) + 19.0f, one.cellY(0) + 19.0f, t));
    EXPECT_EQ(t, (TileIndex{0, 0}));

    // 10 x 10 tiles from (-3, 5): +X to the right, +Y upwards, edges in, gaps out.
    const TileIndexBounds b{-3, 6, 5, 14};
    const TopGridLayout g = topGridLayout(canvas, 38.0f, 2.0f, b, 7.0f, -3.0f);
    EXPECT_FLOAT_EQ(g.gridW, 9 * 2.0f + 10 * 38.0f + 4.0f);
    EXPECT_FLOAT_EQ(g.cellX(0), 10.0f + (404.0f - g.gridW) * 0.5f + 7.0f + 2.0f);
    struct Probe {
        float x, y;
        bool hit;
        TileIndex tile;
    };
    const Probe probes[] = {
        {g.cellX(0) + 1.0f, g.cellY(0) + 1.0f, true, {-3, 5}},
        {g.cellX(9) + 37.0f, g.cellY(9) + 20.0f, true, {6, 14}},
        {g.cellX(2), g.cellY(4), true, {-1, 9}},                  // top-left corner
        {g.cellX(2) + 38.0f, g.cellY(4) + 38.0f, true, {-1, 9}},  // bottom-right corner
        {g.cellX(2) + 39.0f, g.cellY(4) + 5.0f, false, {}},       // in the gap
        {g.cellX(0) - 1.0f, g.cellY(0) + 5.0f, false, {}},
        {g.cellX(9) + 41.0f, g.cellY(9) + 5.0f, false, {}},
    };
    for (const Probe& p : probes) {
        TileIndex got{99, 99};
        EXPECT_EQ(topTileAt(g, b, p.x, p.y, got), p.hit) << p.x << "," << p.y;
        if (p.hit) {
            EXPECT_EQ(got, p.tile) << p.x << "," << p.y;
        }
    }
    // Without a gap a shared edge belongs to one tile only.
    const TopGridLayout tight = topGridLayout(canvas, 38.0f, 0.0f, b, 0.0f, 0.0f);
    EXPECT_TRUE(topTileAt(tight, b, tight.cellX(3), tight.cellY(0) + 5.0f, t));
    EXPECT_EQ(t, (TileIndex{0, 5}));

    // Only the cells that meet the clip are visited.
    CellRange vis;
    ASSERT_TRUE(topVisibleCells(g, g.cellX(2) + 1.0f, g.cellY(6) + 1.0f, g.cellX(4) + 1.0f,
                                g.cellY(6) + 41.0f, vis));
    EXPECT_EQ(vis.c0, 2);
    EXPECT_EQ(vis.c1, 4);
    EXPECT_EQ(vis.r0, 5);  // row 5, drawn below row 6, reaches into the clip by a pixel
    EXPECT_EQ(vis.r1, 6);
    EXPECT_FALSE(topVisibleCells(g, -900.0f, 0.0f, -800.0f, 100.0f, vis));
}

TEST(SideView, ColumnsAndPositionForTheFourRotations) {
    const TileIndexBounds b{3, 7, -2, 4};  // 5 columns along X, 7 along Y
    struct Case {
        int rotation;
        std::int64_t columns;
        std::int64_t ofTile;     // column of tile (5, 1)
        std::int64_t ofLargest;  // column of tile (7, 4)
        float uAtLowEdge;        // sample on the tile's west / south edge
    };
    const Case cases[] = {
        {0, 5, 2, 4, 0.0f},  // Front
        {1, 7, 3, 6, 0.0f},  // Right
        {2, 5, 2, 0, 1.0f},  // Back: the largest ix leftmost, the west edge at the right
        {3, 7, 3, 0, 1.0f},  // Left
    };
    const double size = 2.5;
    for (const Case& c : cases) {
        EXPECT_EQ(sideColumnCount(c.rotation, b), c.columns) << c.rotation;
        EXPECT_EQ(sideColumnOf(c.rotation, b, {5, 1}), c.ofTile) << c.rotation;
        EXPECT_EQ(sideColumnOf(c.rotation, b, {7, 4}), c.ofLargest) << c.rotation;
        EXPECT_FLOAT_EQ(sideU(c.rotation, 7 * size, 4 * size, size), c.uAtLowEdge) << c.rotation;
        EXPECT_NEAR(sideU(c.rotation, 7.25 * size, 4.25 * size, size),
                    c.uAtLowEdge == 0.0f ? 0.25f : 0.75f, 1e-6)
            << c.rotation;
    }

    // Height: bottom at zMin, top at zMax, mid-height for an empty range.
    EXPECT_FLOAT_EQ(sideHeightY(10.0, 10.0, 30.0, 500.0f, 200.0f), 500.0f);
    EXPECT_FLOAT_EQ(sideHeightY(30.0, 10.0, 30.0, 500.0f, 200.0f), 300.0f);
    EXPECT_FLOAT_EQ(sideHeightY(-4.0, 5.0, 5.0, 500.0f, 200.0f), 400.0f);
    EXPECT_FLOAT_EQ(sideHeightY(99.0, 5.0, 5.0, 500.0f, 200.0f), 400.0f);

    const SidePlotLayout p = sidePlotLayout({0.0f, 0.0f, 470.0f, 455.0f}, 2.0f, 5.0f, 0.0f);
    EXPECT_FLOAT_EQ(p.width, 800.0f);
    EXPECT_FLOAT_EQ(p.left, 50.0f - 200.0f + 5.0f);
    EXPECT_FLOAT_EQ(p.top, 20.0f - 200.0f);
}

TEST(HeightRampInputs, FractionAndCentre) {
    EXPECT_EQ(heightFraction(15.0, 10.0, 20.0, false), 0.0f);
    EXPECT_FLOAT_EQ(heightFraction(15.0, 10.0, 20.0, true), 0.5f);
    EXPECT_EQ(heightFraction(25.0, 10.0, 20.0, true), 1.0f);
    EXPECT_EQ(heightFraction(5.0, 10.0, 20.0, true), 0.0f);
    EXPECT_EQ(heightFraction(5.0, 10.0, 10.0, true), 0.5f);
    EXPECT_FLOAT_EQ(rampCentreOffset(17.5, 10.0, 20.0), 0.25f);
    EXPECT_FLOAT_EQ(rampCentreOffset(50.0, 10.0, 20.0), 0.5f);
    EXPECT_EQ(rampCentreOffset(50.0, 10.0, 10.0), 0.0f);
}

}  // namespace
