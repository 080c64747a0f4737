#pragma once

#include <cstdint>
#include <vector>

#include "points/input/cloud_point.h"
#include "points/job/export_job.h"
#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// One saved vertical selection ready for per-point tests; zMin <= zMax unless a bound is NaN.
struct HeightRangeFilter {
    double zMin = 0.0;
    double zMax = 0.0;
    TileSet tiles;
};

// A job's selections compiled for the union rule. selectedTiles is filled only when the job
// has no non-empty top-view or vertical selection.
struct ExportSelectionFilter {
    std::vector<TileSet> topSelections;
    std::vector<HeightRangeFilter> heightRanges;
    TileSet selectedTiles;
};

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
// cannot be computed (non-finite or far-out coordinates) is refused.
class UnionSelectionTest {
public:
    static constexpr std::uint64_t kMaxGridCells = std::uint64_t{1} << 24;  // 16 MiB at most

    UnionSelectionTest(const std::vector<TileSet>& topSelections,
                       const std::vector<HeightRangeFilter>& heightRanges,
                       const TileSet& selectedTiles, double tileSize);
    UnionSelectionTest(const ExportSelectionFilter& filter, double tileSize)
        : UnionSelectionTest(filter.topSelections, filter.heightRanges, filter.selectedTiles,
                             tileSize) {}

    bool accepts(double x, double y, double z) {
        TileIndex tile;
        if (!tryTileIndexFor(x, y, tileSize_, tile)) return false;
        if (!haveTile_ || tile.ix != tile_.ix || tile.iy != tile_.iy) learnTile(tile);
        if (keepAll_) return true;
        if (ranges_)
            for (const ZRange& r : *ranges_)
                if (r.lower <= z && z <= r.upper) return true;
        return false;
    }

    bool usesGrid() const { return !grid_.empty(); }

private:
    struct ZRange {
        double lower;
        double upper;
    };
    static constexpr std::uint8_t kCellKeep = 1;
    static constexpr std::uint8_t kCellRanges = 2;

    void buildGrid();
    void learnTile(const TileIndex& tile);

    TileSet keepTiles_;
    std::unordered_map<TileIndex, std::vector<ZRange>, TileIndexHash> rangeTiles_;
    double tileSize_;
    // Cell (ix - gridX0_) + (iy - gridY0_) * gridWidth_ of the box; empty without a grid.
    std::vector<std::uint8_t> grid_;
    std::int64_t gridX0_ = 0;
    std::int64_t gridY0_ = 0;
    std::uint64_t gridWidth_ = 0;
    std::uint64_t gridHeight_ = 0;
    bool haveTile_ = false;
    TileIndex tile_;
    bool keepAll_ = false;
    const std::vector<ZRange>* ranges_ = nullptr;  // of the last tile; null when none lists it
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
                                       bool hasGlobalZBounds, double globalMinZ,
                                       double globalMaxZ);
