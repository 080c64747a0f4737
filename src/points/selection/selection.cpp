#include "points/selection/selection.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace {

TileSet makeTileSet(const std::vector<TileIndex>& tiles) {
    TileSet set;
    set.max_load_factor(1.0f);
    set.reserve(tiles.size());
    set.insert(tiles.begin(), tiles.end());
    return set;
}

// The stored pair put in order. A NaN bound is left where it is, so every comparison with it
// fails and the range holds no z at all.
inline void orderedBounds(double a, double b, double& lower, double& upper) {
    if (a > b) {
        lower = b;
        upper = a;
    } else {
        lower = a;
        upper = b;
    }
}

inline bool inside(double z, double lower, double upper) { return lower <= z && z <= upper; }

// Plain scan of a stored list; a hash index would need a cache tied to the caller's vectors.
inline bool lists(const std::vector<TileIndex>& tiles, const TileIndex& tile) {
    for (const TileIndex& t : tiles)
        if (t.ix == tile.ix && t.iy == tile.iy) return true;
    return false;
}

inline bool rangeHolds(const SelectedHeightRange& r, double z) {
    double lower;
    double upper;
    orderedBounds(r.zMin, r.zMax, lower, upper);
    return inside(z, lower, upper);
}

// clamp(v, 0, 1) that also sends NaN to 0, so a broken bound cannot poison the estimate.
inline double clamp01(double v) {
    if (v > 1.0) return 1.0;
    if (v >= 0.0) return v;
    return 0.0;
}

}  // namespace

bool buildXyzExportSelectionFilter(const ExportJob& job, std::vector<TileSet>& topSelections,
                                   std::vector<HeightRangeFilter>& heightRanges,
                                   TileSet& selectedTiles) {
    topSelections.clear();
    heightRanges.clear();
    selectedTiles.clear();
    for (const SavedTileSelection& sel : job.savedTileSelections) {
        TileSet set = makeTileSet(sel.tiles);
        if (!set.empty()) topSelections.push_back(std::move(set));
    }
    for (const SelectedHeightRange& r : job.selectedHeightRanges) {
        HeightRangeFilter f;
        orderedBounds(r.zMin, r.zMax, f.zMin, f.zMax);
        f.tiles = makeTileSet(r.tiles);
        if (!f.tiles.empty()) heightRanges.push_back(std::move(f));
    }
    if (topSelections.empty() && heightRanges.empty()) selectedTiles = job.selectedCoarseTiles;
    return !topSelections.empty() || !heightRanges.empty() || !selectedTiles.empty();
}

bool isFullCoarseSelection(const ExportJob& job) {
    if (!job.selectedCoarseTiles.empty()) return false;
    for (const SelectedHeightRange& r : job.selectedHeightRanges)
        if (!r.tiles.empty()) return false;
    for (const SavedTileSelection& sel : job.savedTileSelections)
        if (!sel.tiles.empty()) return true;
    return false;
}

ExportSelectionFilter buildExportSelectionFilter(const ExportJob& job) {
    ExportSelectionFilter filter;
    buildXyzExportSelectionFilter(job, filter.topSelections, filter.heightRanges,
                                  filter.selectedTiles);
    filter.everyPoint = isFullCoarseSelection(job);
    return filter;
}

bool isPointSelectedForXyzExport(const CloudPoint& point, const TileIndex& tile,
                                 const std::vector<TileSet>& topSelections,
                                 const std::vector<HeightRangeFilter>& heightRanges,
                                 const TileSet& selectedTiles) {
    for (const TileSet& set : topSelections)
        if (set.find(tile) != set.end()) return true;
    const double z = point.z;
    for (const HeightRangeFilter& r : heightRanges)
        if (inside(z, r.zMin, r.zMax) && r.tiles.find(tile) != r.tiles.end()) return true;
    if (selectedTiles.empty()) return false;
    return selectedTiles.find(tile) != selectedTiles.end();
}

bool isPointSelected(const CloudPoint& point, const TileIndex& tile,
                     const ExportSelectionFilter& filter) {
    return filter.everyPoint ||
           isPointSelectedForXyzExport(point, tile, filter.topSelections, filter.heightRanges,
                                       filter.selectedTiles);
}

UnionSelectionTest::UnionSelectionTest(const std::vector<TileSet>& topSelections,
                                       const std::vector<HeightRangeFilter>& heightRanges,
                                       const TileSet& selectedTiles, double tileSize,
                                       bool everyPoint)
    : tileSize_(tileSize), everyPoint_(everyPoint) {
    // Every part of the rule is an "or", so merging keeps its answers exactly.
    for (const TileSet& set : topSelections) keepTiles_.insert(set.begin(), set.end());
    keepTiles_.insert(selectedTiles.begin(), selectedTiles.end());
    for (const HeightRangeFilter& r : heightRanges)
        for (const TileIndex& t : r.tiles) rangeTiles_[t].push_back(ZRange{r.zMin, r.zMax});
    if (!everyPoint_) buildGrid();  // acceptsUnordered then goes to accepts()
    int exponent = 0;
    if (tileSize > 0.0 && std::frexp(tileSize, &exponent) == 0.5 && std::isfinite(1.0 / tileSize)) {
        exactInverse_ = true;
        inverse_ = 1.0 / tileSize;
    }
}

void UnionSelectionTest::buildGrid() {
    if (keepTiles_.empty() && rangeTiles_.empty()) return;
    std::int64_t x0 = INT64_MAX, x1 = INT64_MIN, y0 = INT64_MAX, y1 = INT64_MIN;
    const auto widen = [&](const TileIndex& t) {
        x0 = std::min(x0, t.ix);
        x1 = std::max(x1, t.ix);
        y0 = std::min(y0, t.iy);
        y1 = std::max(y1, t.iy);
    };
    for (const TileIndex& t : keepTiles_) widen(t);
    for (const auto& entry : rangeTiles_) widen(entry.first);
    // Unsigned differences cannot overflow; a box spanning the whole i64 range wraps to 0.
    const std::uint64_t width = static_cast<std::uint64_t>(x1) - static_cast<std::uint64_t>(x0) + 1;
    const std::uint64_t height =
        static_cast<std::uint64_t>(y1) - static_cast<std::uint64_t>(y0) + 1;
    if (width == 0 || height == 0 || width > kMaxGridCells || height > kMaxGridCells / width)
        return;
    gridX0_ = x0;
    gridY0_ = y0;
    gridWidth_ = width;
    gridHeight_ = height;
    grid_.assign(static_cast<std::size_t>(width * height), 0);
    const auto cell = [&](const TileIndex& t) -> std::uint8_t& {
        return grid_[static_cast<std::size_t>(
            (static_cast<std::uint64_t>(t.ix) - static_cast<std::uint64_t>(x0)) +
            (static_cast<std::uint64_t>(t.iy) - static_cast<std::uint64_t>(y0)) * width)];
    };
    for (const TileIndex& t : keepTiles_) cell(t) |= kCellKeep;
    for (const auto& entry : rangeTiles_) cell(entry.first) |= kCellRanges;
}

void UnionSelectionTest::learnTile(const TileIndex& tile) {
    haveTile_ = true;
    tile_ = tile;
    keepAll_ = false;
    ranges_ = nullptr;
    std::uint8_t flags = kCellKeep | kCellRanges;  // without a grid: look both up
    if (!grid_.empty()) {
        const std::uint64_t dx =
            static_cast<std::uint64_t>(tile.ix) - static_cast<std::uint64_t>(gridX0_);
        const std::uint64_t dy =
            static_cast<std::uint64_t>(tile.iy) - static_cast<std::uint64_t>(gridY0_);
        if (dx >= gridWidth_ || dy >= gridHeight_) return;  // outside the box, both sides
        flags = grid_[static_cast<std::size_t>(dx + dy * gridWidth_)];
        if (flags & kCellKeep) {
            keepAll_ = true;
            return;
        }
    } else if (keepTiles_.find(tile) != keepTiles_.end()) {
        keepAll_ = true;
        return;
    }
    if (flags & kCellRanges) {
        const auto it = rangeTiles_.find(tile);
        if (it != rangeTiles_.end()) ranges_ = &it->second;
    }
}

bool pointPassesSelection(double x, double y, double z, const TileSet& selectedTiles,
                          const std::vector<SelectedHeightRange>& heightRanges, double tileSize) {
    if (selectedTiles.empty() && heightRanges.empty()) return true;
    TileIndex tile;
    if (!tryTileIndexFor(x, y, tileSize, tile)) return false;

    // A range whose interval holds z and lists the tile keeps the point. The lists of the
    // other ranges matter only when selectedTiles holds the tile, so they are scanned last and
    // only then: the result is the one of scanning every range in order.
    for (const SelectedHeightRange& r : heightRanges)
        if (rangeHolds(r, z) && lists(r.tiles, tile)) return true;
    if (selectedTiles.empty() || selectedTiles.find(tile) == selectedTiles.end()) return false;
    for (const SelectedHeightRange& r : heightRanges)
        if (!rangeHolds(r, z) && lists(r.tiles, tile)) return false;
    return true;
}

TileHeightRanges buildTileHeightRanges(const std::vector<SelectedHeightRange>& ranges) {
    TileHeightRanges out;
    for (const SelectedHeightRange& r : ranges) out.tiles.insert(r.tiles.begin(), r.tiles.end());
    return out;
}

std::uint64_t estimateExportPointCount(std::uint64_t totalPoints, const TileCountMap& allTiles,
                                       const TileSet& selectedTiles,
                                       const std::vector<SelectedHeightRange>& heightRanges,
                                       bool hasGlobalZBounds, double globalMinZ,
                                       double globalMaxZ) {
    if (totalPoints == 0) return 0;
    if (allTiles.empty()) return totalPoints;
    const double tileFraction =
        static_cast<double>(selectedTiles.size()) / static_cast<double>(allTiles.size());
    double zFraction = 1.0;
    if (!heightRanges.empty() && hasGlobalZBounds) {
        const double diff = globalMaxZ - globalMinZ;
        const double span = diff > 1e-9 ? diff : 1e-9;  // NaN takes 1e-9 too
        double sumW = 0.0;
        double sumWF = 0.0;
        for (const SelectedHeightRange& r : heightRanges) {
            const double hi = std::min(std::max(r.zMin, r.zMax), globalMaxZ);
            const double lo = std::max(std::min(r.zMin, r.zMax), globalMinZ);
            const double f = std::max(hi - lo, 0.0) / span;
            const double w = static_cast<double>(r.tiles.size());
            sumW += w;
            sumWF += w * clamp01(f);
        }
        if (sumW > 0.0) zFraction = clamp01(sumWF / sumW);
    }
    const double factor = clamp01(zFraction * clamp01(tileFraction));
    const double product = static_cast<double>(totalPoints) * factor;
    // llround covers the i64 range; beyond it (counts past 2^63) round and convert unsigned.
    if (product < 9223372036854775808.0) return static_cast<std::uint64_t>(std::llround(product));
    const double rounded = std::round(product);
    if (rounded >= 18446744073709551616.0) return totalPoints;
    return std::min(static_cast<std::uint64_t>(rounded), totalPoints);
}
