#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "points/input/cloud_point.h"
#include "points/job/export_job.h"
#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"
#include "points/selection/z_decides_selection.h"

// One saved vertical selection ready for per-point tests; zMin <= zMax unless a bound is NaN.
struct HeightRangeFilter {
    double zMin = 0.0;
    double zMax = 0.0;
    TileSet tiles;
};

// A job's selections compiled for the union rule. selectedTiles is filled only when the job
// has no non-empty top-view or vertical selection; everyPoint for a full coarse selection.
struct ExportSelectionFilter {
    std::vector<TileSet> topSelections;
    std::vector<HeightRangeFilter> heightRanges;
    TileSet selectedTiles;
    bool everyPoint = false;
};

// Saved top selections with an empty tile set and no vertical selection: the preparation's
// full coarse selection, which exports every point on the routes that write one file (the
// LAS routes and those to LAS or XYZ whatever the mode). The top selections cannot stand for
// it, since a sampled preview has no tile for points it never sampled.
bool isFullCoarseSelection(const ExportJob& job);

// Every tile listed by any vertical selection.
struct TileHeightRanges {
    TileSet tiles;
};

ExportSelectionFilter buildExportSelectionFilter(const ExportJob& job);

// Same compilation into three separate parts; true when any of them is non-empty.
bool buildXyzExportSelectionFilter(const ExportJob& job, std::vector<TileSet>& topSelections,
                                   std::vector<HeightRangeFilter>& heightRanges,
                                   TileSet& selectedTiles);

// Union rule: kept when any saved selection keeps the point. Only point.z is read; the
// caller computes the tile from x and y with the job's tile size.
bool isPointSelected(const CloudPoint& point, const TileIndex& tile,
                     const ExportSelectionFilter& filter);
bool isPointSelectedForXyzExport(const CloudPoint& point, const TileIndex& tile,
                                 const std::vector<TileSet>& topSelections,
                                 const std::vector<HeightRangeFilter>& heightRanges,
                                 const TileSet& selectedTiles);

// The union rule prepared for streaming: the top-view sets and the tile set merged into one
// set of tiles kept at any z, the vertical selections into one map from tile to its z ranges,
// and both marked in a byte grid over the selection's bounding box of tiles (when that box has
// at most kMaxGridCells tiles), so a point outside the box costs no lookup and one inside it a
// byte read; a memo of the last tile saves even that within runs from one tile. The answers are
// isPointSelected's. The tile comes from x and y with the tile size given; a point whose tile
// cannot be computed (non-finite or far-out coordinates) is refused, a finite one counted.
class UnionSelectionTest {
public:
    static constexpr std::uint64_t kMaxGridCells = std::uint64_t{1} << 24;  // 16 MiB at most

    // everyPoint: a full coarse selection, every point with a tile accepted.
    UnionSelectionTest(const std::vector<TileSet>& topSelections,
                       const std::vector<HeightRangeFilter>& heightRanges,
                       const TileSet& selectedTiles, double tileSize, bool everyPoint = false);
    UnionSelectionTest(const ExportSelectionFilter& filter, double tileSize)
        : UnionSelectionTest(filter.topSelections, filter.heightRanges, filter.selectedTiles,
                             tileSize, filter.everyPoint) {}

    bool accepts(double x, double y, double z) {
        TileIndex tile;
        if (!tryTileIndexFor(x, y, tileSize_, tile)) [[unlikely]] {
            // A finite point no tile holds is counted; the routes count non-finite ones.
            outsideGrid_ += std::isfinite(x) && std::isfinite(y) && std::isfinite(z);
            return false;
        }
        if (everyPoint_) return true;
        if (!haveTile_ || tile.ix != tile_.ix || tile.iy != tile_.iy) learnTile(tile);
        if (keepAll_) return true;
        if (ranges_)
            for (const ZRange& r : *ranges_)
                if (r.lower <= z && z <= r.upper) return true;
        return false;
    }

    // accepts() without the last-tile memo, for points in no spatial order: where the grid
    // alone decides (a cell without vertical selections, or outside the box) a point costs one
    // byte read and no branch on the answer. Same answers as accepts().
    bool acceptsUnordered(double x, double y, double z) {
        if (grid_.empty()) return accepts(x, y, z);
        const double qx = exactInverse_ ? x * inverse_ : x / tileSize_;
        const double qy = exactInverse_ ? y * inverse_ : y / tileSize_;
        // Quotients of 2^62 and more, and NaN, are left to accepts(), so that the truncation in
        // floorToI64 is always defined here.
        constexpr double kLimit = 4611686018427387904.0;
        if (!(std::fabs(qx) < kLimit && std::fabs(qy) < kLimit)) [[unlikely]]
            return accepts(x, y, z);
        const std::uint64_t dx =
            static_cast<std::uint64_t>(floorToI64(qx)) - static_cast<std::uint64_t>(gridX0_);
        const std::uint64_t dy =
            static_cast<std::uint64_t>(floorToI64(qy)) - static_cast<std::uint64_t>(gridY0_);
        // Masks rather than conditions, so that the compiler cannot make a branch of them.
        const std::uint64_t inside =
            0 - static_cast<std::uint64_t>((dx < gridWidth_) & (dy < gridHeight_));
        const std::uint8_t flags =
            grid_[static_cast<std::size_t>((dx + dy * gridWidth_) & inside)] &
            static_cast<std::uint8_t>(inside);
        if ((flags & (kCellKeep | kCellRanges)) == kCellRanges) [[unlikely]]
            return accepts(x, y, z);
        return (flags & kCellKeep) != 0;
    }

    bool usesGrid() const { return !grid_.empty(); }

    // Finite points refused because their tile number does not fit in 64 bits, in any
    // selection (a full coarse one included): no tile of the grid holds them.
    std::uint64_t outsideGrid() const { return outsideGrid_; }

private:
    struct ZRange {
        double lower;
        double upper;
    };
    static constexpr std::uint8_t kCellKeep = 1;
    static constexpr std::uint8_t kCellRanges = 2;

    void buildGrid();
    void learnTile(const TileIndex& tile);
    // std::floor for |q| < 2^63, without the library call: truncation is exact there.
    static std::int64_t floorToI64(double q) {
        const auto t = static_cast<std::int64_t>(q);
        return t - (static_cast<double>(t) > q ? 1 : 0);
    }

    TileSet keepTiles_;
    std::unordered_map<TileIndex, std::vector<ZRange>, TileIndexHash> rangeTiles_;
    double tileSize_;
    // For a power-of-two tile size 1 / size is exact, so x * inverse_ rounds the same real
    // number x / size does and gives the same double.
    bool exactInverse_ = false;
    double inverse_ = 0.0;
    // Cell (ix - gridX0_) + (iy - gridY0_) * gridWidth_ of the box; empty without a grid.
    std::vector<std::uint8_t> grid_;
    std::int64_t gridX0_ = 0;
    std::int64_t gridY0_ = 0;
    std::uint64_t gridWidth_ = 0;
    std::uint64_t gridHeight_ = 0;
    bool haveTile_ = false;
    TileIndex tile_;
    bool keepAll_ = false;
    bool everyPoint_ = false;
    const std::vector<ZRange>* ranges_ = nullptr;  // of the last tile; null when none lists it
    std::uint64_t outsideGrid_ = 0;
};

// Z-decides rule on the job's own lists: a tile listed by any vertical selection is decided by
// Z alone, other tiles by selectedTiles; with neither every point passes. A point without a
// tile (non-finite x or y) is refused otherwise.
bool pointPassesSelection(double x, double y, double z, const TileSet& selectedTiles,
                          const std::vector<SelectedHeightRange>& heightRanges, double tileSize);

TileHeightRanges buildTileHeightRanges(const std::vector<SelectedHeightRange>& ranges);

// Points an export is expected to write: the share of selected tiles times the tile-weighted
// share of the global Z span the ranges cover, rounded half away from zero.
std::uint64_t estimateExportPointCount(std::uint64_t totalPoints, const TileCountMap& allTiles,
                                       const TileSet& selectedTiles,
                                       const std::vector<SelectedHeightRange>& heightRanges,
                                       bool hasGlobalZBounds, double globalMinZ, double globalMaxZ);
