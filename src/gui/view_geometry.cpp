#include "gui/view_geometry.h"

#include <algorithm>
#include <cmath>

float autoFitCellSize(float canvasW, float canvasH, std::int64_t cols, std::int64_t rows,
                      float gap) {
    const float c = static_cast<float>(std::max<std::int64_t>(cols, 1));
    const float r = static_cast<float>(std::max<std::int64_t>(rows, 1));
    const float byW = (canvasW - 4.0f - (c - 1.0f) * gap) / c;
    const float byH = (canvasH - 4.0f - (r - 1.0f) * gap) / r;
    return std::floor(std::max(std::min(byW, byH), 4.0f));
}

TopGridLayout topGridLayout(const CanvasRect& canvas, float cell, float gap,
                            const TileIndexBounds& bounds, float panX, float panY) {
    TopGridLayout g;
    // A typed slider value may be anything; the grid needs a positive stride.
    g.cell = std::max(cell, 1.0f);
    g.gap = std::max(gap, 0.0f);
    g.cols = std::max<std::int64_t>(bounds.cols(), 1);
    g.rows = std::max<std::int64_t>(bounds.rows(), 1);
    const float c = static_cast<float>(g.cols);
    const float r = static_cast<float>(g.rows);
    g.gridW = (c - 1.0f) * g.gap + c * g.cell + 4.0f;
    g.gridH = (r - 1.0f) * g.gap + r * g.cell + 4.0f;
    g.originX = canvas.x + std::max((canvas.w - g.gridW) * 0.5f, 0.0f) + panX;
    g.originY = canvas.y + std::max((canvas.h - g.gridH) * 0.5f, 0.0f) + panY;
    return g;
}

namespace {

// Index of the cell along one axis that holds the offset from the first cell's edge; -1 over a
// gap or outside. A point on an edge shared by two cells goes to the later one.
std::int64_t cellAlong(double offset, double cell, double stride, std::int64_t count) {
    if (!(offset >= 0.0)) return -1;
    const double k = std::floor(offset / stride);
    if (k < static_cast<double>(count) && offset - k * stride <= cell)
        return static_cast<std::int64_t>(k);
    // The far edge of the previous cell (no gap, or a stride rounding).
    const double prev = k - 1.0;
    if (prev >= 0.0 && prev < static_cast<double>(count) && offset - prev * stride <= cell)
        return static_cast<std::int64_t>(prev);
    return -1;
}

}  // namespace

bool topTileAt(const TopGridLayout& layout, const TileIndexBounds& bounds, float px, float py,
               TileIndex& out) {
    const double stride = layout.stride();
    const std::int64_t c = cellAlong(static_cast<double>(px) - (layout.originX + 2.0f), layout.cell,
                                     stride, layout.cols);
    const std::int64_t rowFromTop = cellAlong(static_cast<double>(py) - (layout.originY + 2.0f),
                                              layout.cell, stride, layout.rows);
    if (c < 0 || rowFromTop < 0) return false;
    out = TileIndex{bounds.minX + c, bounds.minY + (layout.rows - 1 - rowFromTop)};
    return true;
}

bool topVisibleCells(const TopGridLayout& layout, float x0, float y0, float x1, float y1,
                     CellRange& out) {
    const double stride = layout.stride();
    const double cols = static_cast<double>(layout.cols);
    const double rows = static_cast<double>(layout.rows);
    // Cells k with start + k * stride <= v1 and start + k * stride + cell >= v0.
    auto range = [&](double start, double v0, double v1, double count, std::int64_t& a,
                     std::int64_t& b) {
        const double lo = std::max(std::ceil((v0 - start - layout.cell) / stride), 0.0);
        const double hi = std::min(std::floor((v1 - start) / stride), count - 1.0);
        if (!(lo <= hi)) return false;
        a = static_cast<std::int64_t>(lo);
        b = static_cast<std::int64_t>(hi);
        return true;
    };
    std::int64_t t0 = 0;
    std::int64_t t1 = 0;
    if (!range(layout.originX + 2.0, x0, x1, cols, out.c0, out.c1)) return false;
    if (!range(layout.originY + 2.0, y0, y1, rows, t0, t1)) return false;
    // Screen rows run from the top (largest r) down.
    out.r0 = layout.rows - 1 - t1;
    out.r1 = layout.rows - 1 - t0;
    return true;
}

double tileFraction(double coord, double tileSize) {
    const double d = coord / tileSize;
    return d - std::floor(d);
}

SidePlotLayout sidePlotLayout(const CanvasRect& canvas, float zoom, float panX, float panY) {
    const float w = std::max(canvas.w - 70.0f, 20.0f);
    const float h = std::max(canvas.h - 55.0f, 20.0f);
    SidePlotLayout p;
    p.width = std::max(w * zoom, 20.0f);
    p.height = std::max(h * zoom, 20.0f);
    p.left = canvas.x + 50.0f + (w - p.width) * 0.5f + panX;
    p.top = canvas.y + 20.0f + (h - p.height) * 0.5f + panY;
    return p;
}

int clampedRotation(int rotation) { return std::clamp(rotation, 0, 3); }

bool sideAxisIsX(int rotation) { return clampedRotation(rotation) % 2 == 0; }

std::int64_t sideColumnCount(int rotation, const TileIndexBounds& bounds) {
    return sideAxisIsX(rotation) ? bounds.cols() : bounds.rows();
}

std::int64_t sideColumnOf(int rotation, const TileIndexBounds& bounds, const TileIndex& tile) {
    switch (clampedRotation(rotation)) {
        case 0: return tile.ix - bounds.minX;
        case 1: return tile.iy - bounds.minY;
        case 2: return bounds.maxX - tile.ix;
        default: return bounds.maxY - tile.iy;
    }
}

float sideU(int rotation, double x, double y, double tileSize) {
    const int r = clampedRotation(rotation);
    double u = tileFraction(r % 2 == 0 ? x : y, tileSize);
    if (r >= 2) u = 1.0 - u;
    return static_cast<float>(std::clamp(u, 0.0, 1.0));
}

float sideHeightY(double z, double zMin, double zMax, float plotBottom, float plotHeight) {
    if (!(zMax > zMin)) return plotBottom - plotHeight * 0.5f;
    return static_cast<float>(plotBottom - plotHeight * (z - zMin) / (zMax - zMin));
}

float heightFraction(double z, double zMin, double zMax, bool haveZ) {
    if (!haveZ) return 0.0f;
    if (!(zMax > zMin)) return 0.5f;
    const double t = (z - zMin) / (zMax - zMin);
    return static_cast<float>(t > 0.0 ? std::min(t, 1.0) : 0.0);
}

float rampCentreOffset(double zCenter, double zMin, double zMax) {
    double cz = 0.5;
    if (zMax > zMin) cz = std::clamp((zCenter - zMin) / (zMax - zMin), 0.0, 1.0);
    return static_cast<float>(cz - 0.5);
}
