#pragma once

#include <cstdint>

#include "gui/tile_bounds.h"
#include "points/tiles/tile_index.h"

// Pixel geometry of the top and vertical views, free of drawing.

// The canvas rectangle in screen pixels.
struct CanvasRect {
    float x = 0.0f;
    float y = 0.0f;
    float w = 0.0f;
    float h = 0.0f;
};

// Auto-fit cell size: the largest whole size that fits every column and row, at least 4 px.
float autoFitCellSize(float canvasW, float canvasH, std::int64_t cols, std::int64_t rows,
                      float gap);

// The top view's grid: +X runs to the right, +Y upwards.
struct TopGridLayout {
    float originX = 0.0f;
    float originY = 0.0f;
    float cell = 0.0f;
    float gap = 0.0f;
    float gridW = 0.0f;
    float gridH = 0.0f;
    std::int64_t cols = 1;
    std::int64_t rows = 1;
    float stride() const { return cell + gap; }
    // Top-left corner of the cell in column c (from minX) and row r (from minY).
    float cellX(std::int64_t c) const { return originX + 2.0f + static_cast<float>(c) * stride(); }
    float cellY(std::int64_t r) const {
        return originY + 2.0f + static_cast<float>(rows - 1 - r) * stride();
    }
};

// Centred in the canvas when it fits, else from its top-left, then moved by the pan.
TopGridLayout topGridLayout(const CanvasRect& canvas, float cell, float gap,
                            const TileIndexBounds& bounds, float panX, float panY);

// The tile whose cell holds the point (edges included); false over a gap or outside the grid.
// Where two cells share an edge (no gap) the point belongs to one of them only.
bool topTileAt(const TopGridLayout& layout, const TileIndexBounds& bounds, float px, float py,
               TileIndex& out);

// The columns and rows of the grid whose cells meet the rectangle [x0, x1] x [y0, y1]; false
// when none does.
struct CellRange {
    std::int64_t c0 = 0;
    std::int64_t c1 = -1;
    std::int64_t r0 = 0;
    std::int64_t r1 = -1;
};
bool topVisibleCells(const TopGridLayout& layout, float x0, float y0, float x1, float y1,
                     CellRange& out);

// Fractional part of coord / tileSize.
double tileFraction(double coord, double tileSize);

// The vertical view's plot rectangle, zoomed about its centre and panned.
struct SidePlotLayout {
    float left = 0.0f;
    float top = 0.0f;
    float width = 0.0f;   // zoomed
    float height = 0.0f;  // zoomed
    float right() const { return left + width; }
    float bottom() const { return top + height; }
};
SidePlotLayout sidePlotLayout(const CanvasRect& canvas, float zoom, float panX, float panY);

// Rotation 0 Front and 2 Back look along the X tiles, 1 Right and 3 Left along the Y tiles.
int clampedRotation(int rotation);
bool sideAxisIsX(int rotation);
std::int64_t sideColumnCount(int rotation, const TileIndexBounds& bounds);
// Column of a tile from the left; Back and Left run from the largest index.
std::int64_t sideColumnOf(int rotation, const TileIndexBounds& bounds, const TileIndex& tile);
// Position within the column, 0 at its left edge, 1 at its right.
float sideU(int rotation, double x, double y, double tileSize);
// Screen y of a height; the middle of the plot when the range is empty.
float sideHeightY(double z, double zMin, double zMax, float plotBottom, float plotHeight);

// The colour ramp's input for a height: 0 without a Z range, 0.5 for an empty range.
float heightFraction(double z, double zMin, double zMax, bool haveZ);
// The ramp's centre offset for the Z centre setting.
float rampCentreOffset(double zCenter, double zMin, double zMax);
