#include "points/selection/selection.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

CloudPoint atZ(double z) {
    CloudPoint p;
    p.z = z;
    return p;
}

SelectedHeightRange range(std::vector<TileIndex> tiles, double zMin, double zMax) {
    SelectedHeightRange r;
    r.tiles = std::move(tiles);
    r.zMin = zMin;
    r.zMax = zMax;
    return r;
}

// Both rules for a point in tile (0,0) of a 1 m grid.
struct Rules {
    ExportJob job;
    ExportSelectionFilter filter;
    void compile() {
        job.coarseTileSize = 1.0;
        filter = buildExportSelectionFilter(job);
    }
    bool unionRule(double x, double y, double z) const {
        return isPointSelected(atZ(z), tileIndexFor(x, y, 1.0), filter);
    }
    bool zDecides(double x, double y, double z) const {
        return pointPassesSelection(x, y, z, job.selectedCoarseTiles, job.selectedHeightRanges,
                                    1.0);
    }
};

// The Z-decides steps taken literally: every range scanned in order.
bool referenceZDecides(double x, double y, double z, const TileSet& selected,
                       const std::vector<SelectedHeightRange>& ranges, double tileSize) {
    if (selected.empty() && ranges.empty()) return true;
    if (!std::isfinite(x) || !std::isfinite(y)) return false;
    const TileIndex tile = tileIndexFor(x, y, tileSize);
    bool listed = false;
    for (const auto& r : ranges) {
        if (std::find(r.tiles.begin(), r.tiles.end(), tile) == r.tiles.end()) continue;
        listed = true;
        const double lo = std::min(r.zMin, r.zMax);
        const double hi = std::max(r.zMin, r.zMax);
        if (lo <= z && z <= hi) return true;
    }
    if (listed) return false;
    if (selected.empty()) return false;
    return selected.count(tile) != 0;
}

}  // namespace

TEST(Selection, ReversedRangeAndInclusiveBounds) {
    Rules r;
    r.job.selectedHeightRanges.push_back(range({{0, 0}}, 10.0, 2.0));
    r.compile();
    ASSERT_EQ(r.filter.heightRanges.size(), 1u);
    EXPECT_EQ(r.filter.heightRanges[0].zMin, 2.0);
    EXPECT_EQ(r.filter.heightRanges[0].zMax, 10.0);
    for (double z : {2.0, 6.0, 10.0}) {
        EXPECT_TRUE(r.unionRule(0.5, 0.5, z)) << z;
        EXPECT_TRUE(r.zDecides(0.5, 0.5, z)) << z;
    }
    for (double z : {1.999, 10.001, kNaN}) {
        EXPECT_FALSE(r.unionRule(0.5, 0.5, z)) << z;
        EXPECT_FALSE(r.zDecides(0.5, 0.5, z)) << z;
    }
    // Other tiles: nothing keeps them.
    EXPECT_FALSE(r.unionRule(1.5, 0.5, 5.0));
    EXPECT_FALSE(r.zDecides(1.5, 0.5, 5.0));
}

TEST(Selection, TopAndVerticalOnTheSameTileDiffer) {
    Rules r;
    r.job.savedTileSelections.push_back(SavedTileSelection{{{0, 0}}});
    r.job.selectedHeightRanges.push_back(range({{0, 0}}, 0.0, 1.0));
    r.job.selectedCoarseTiles = {{0, 0}};
    r.compile();
    EXPECT_TRUE(r.unionRule(0.5, 0.5, 50.0));  // the top-view selection keeps any z
    EXPECT_FALSE(r.zDecides(0.5, 0.5, 50.0));  // the range decides the listed tile
    EXPECT_TRUE(r.zDecides(0.5, 0.5, 0.5));
    EXPECT_TRUE(r.unionRule(0.5, 0.5, kNaN));  // NaN z still kept by the top view
    EXPECT_FALSE(r.zDecides(0.5, 0.5, kNaN));
}

TEST(Selection, NanZKeptBySelectedTilesWhenNoRangeListsTheTile) {
    Rules r;
    r.job.selectedHeightRanges.push_back(range({{5, 5}}, 0.0, 1.0));
    r.job.selectedCoarseTiles = {{0, 0}, {5, 5}};
    r.compile();
    EXPECT_TRUE(r.zDecides(0.5, 0.5, kNaN));
    EXPECT_FALSE(r.zDecides(5.5, 5.5, kNaN));
    // The union rule ignores selectedCoarseTiles once a range exists.
    EXPECT_TRUE(r.filter.selectedTiles.empty());
    EXPECT_FALSE(r.unionRule(0.5, 0.5, 0.5));
}

TEST(Selection, LaterRangeCanAcceptAfterAnEarlierRefused) {
    Rules r;
    r.job.selectedHeightRanges.push_back(range({{3, 3}, {0, 0}}, 0.0, 1.0));
    r.job.selectedHeightRanges.push_back(range({{0, 0}}, 6.0, 5.0));
    r.job.selectedCoarseTiles = {{0, 0}};
    r.compile();
    EXPECT_TRUE(r.zDecides(0.5, 0.5, 5.5));
    EXPECT_FALSE(r.zDecides(0.5, 0.5, 3.0));
    EXPECT_TRUE(r.unionRule(0.5, 0.5, 5.5));
    EXPECT_FALSE(r.unionRule(0.5, 0.5, 3.0));
}

TEST(Selection, EmptyJobAndNonFiniteCoordinates) {
    Rules empty;
    empty.compile();
    EXPECT_FALSE(empty.unionRule(0.5, 0.5, 0.0));
    EXPECT_TRUE(empty.zDecides(0.5, 0.5, 0.0));
    EXPECT_TRUE(empty.zDecides(kNaN, kInf, kNaN));  // a job with neither keeps every point

    Rules tiles;
    tiles.job.selectedCoarseTiles = {{0, 0}};
    tiles.compile();
    EXPECT_TRUE(tiles.zDecides(0.5, 0.5, 0.0));
    EXPECT_FALSE(tiles.zDecides(kNaN, 0.5, 0.0));
    EXPECT_FALSE(tiles.zDecides(0.5, -kInf, 0.0));
    EXPECT_FALSE(tiles.zDecides(1e300, 0.5, 0.0));  // no i64 tile
    EXPECT_TRUE(tiles.unionRule(0.5, 0.5, kNaN));
}

TEST(Selection, CompilationDropsEmptyListsAndIgnoresJobTilesWhenSelectionsExist) {
    ExportJob job;
    job.savedTileSelections.push_back(SavedTileSelection{});
    job.savedTileSelections.push_back(SavedTileSelection{{{1, 1}, {1, 1}, {2, 2}}});
    job.selectedHeightRanges.push_back(range({}, 0.0, 1.0));
    job.selectedCoarseTiles = {{9, 9}};
    std::vector<TileSet> top;
    std::vector<HeightRangeFilter> ranges;
    TileSet selected{{4, 4}};  // outputs are cleared first
    EXPECT_TRUE(buildXyzExportSelectionFilter(job, top, ranges, selected));
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].size(), 2u);
    EXPECT_TRUE(ranges.empty());
    EXPECT_TRUE(selected.empty());
    EXPECT_FALSE(isPointSelectedForXyzExport(atZ(0), {9, 9}, top, ranges, selected));
    EXPECT_TRUE(isPointSelectedForXyzExport(atZ(0), {2, 2}, top, ranges, selected));

    ExportJob hollow;
    hollow.savedTileSelections.push_back(SavedTileSelection{});
    hollow.selectedHeightRanges.push_back(range({}, 0.0, 1.0));
    EXPECT_FALSE(buildXyzExportSelectionFilter(hollow, top, ranges, selected));
    EXPECT_TRUE(top.empty() && ranges.empty() && selected.empty());
    hollow.selectedCoarseTiles = {{9, 9}};
    EXPECT_TRUE(buildXyzExportSelectionFilter(hollow, top, ranges, selected));
    EXPECT_EQ(selected.size(), 1u);
    const ExportSelectionFilter f = buildExportSelectionFilter(hollow);
    EXPECT_TRUE(isPointSelected(atZ(kNaN), {9, 9}, f));
    EXPECT_FALSE(isPointSelected(atZ(0), {9, 8}, f));
}

// Top selections with an empty job tile set and no vertical selection: the full coarse
// selection, which keeps every point, in tiles no selection lists as well.
TEST(Selection, FullCoarseSelectionKeepsEveryPoint) {
    ExportJob job;
    job.coarseTileSize = 1.0;
    EXPECT_FALSE(isFullCoarseSelection(job));  // nothing saved
    job.savedTileSelections.push_back(SavedTileSelection{{{1, 1}}});
    EXPECT_TRUE(isFullCoarseSelection(job));
    const ExportSelectionFilter all = buildExportSelectionFilter(job);
    EXPECT_TRUE(isPointSelected(atZ(0), {7, 7}, all));
    UnionSelectionTest test(all, job.coarseTileSize);
    EXPECT_TRUE(test.accepts(7.5, 7.5, 0.0));
    EXPECT_TRUE(test.acceptsUnordered(-3.5, 7.5, 0.0));

    ExportJob listed = job;  // the preparation lists the tiles of a partial selection
    listed.selectedCoarseTiles = {{1, 1}};
    ExportJob vertical = job;
    vertical.selectedHeightRanges.push_back(range({{2, 2}}, 0.0, 1.0));
    for (const ExportJob* j : {&listed, &vertical}) {
        EXPECT_FALSE(isFullCoarseSelection(*j));
        UnionSelectionTest partial(buildExportSelectionFilter(*j), 1.0);
        EXPECT_FALSE(partial.acceptsUnordered(7.5, 7.5, 0.0));
    }
}

TEST(Selection, NanBoundHoldsNothingUnderEitherRule) {
    Rules r;
    r.job.selectedHeightRanges.push_back(range({{0, 0}}, 5.0, kNaN));
    r.job.selectedHeightRanges.push_back(range({{0, 0}}, kNaN, 5.0));
    r.compile();
    for (double z : {5.0, 0.0, 1e9}) {
        EXPECT_FALSE(r.unionRule(0.5, 0.5, z));
        EXPECT_FALSE(r.zDecides(0.5, 0.5, z));
    }
}

TEST(Selection, ZDecidesMatchesTheLiteralStepsOnRandomJobs) {
    std::mt19937_64 gen(42);
    std::uniform_int_distribution<int> tileCoord(-3, 3);
    std::uniform_real_distribution<double> coord(-3.5, 3.5);
    std::uniform_real_distribution<double> zDist(-2.0, 12.0);
    int kept = 0;
    for (int job = 0; job < 300; ++job) {
        TileSet selected;
        std::vector<SelectedHeightRange> ranges;
        const int nSel = static_cast<int>(gen() % 8);
        for (int i = 0; i < nSel; ++i) selected.insert({tileCoord(gen), tileCoord(gen)});
        const int nRanges = static_cast<int>(gen() % 4);
        for (int i = 0; i < nRanges; ++i) {
            SelectedHeightRange r;
            const int nTiles = static_cast<int>(gen() % 6);
            for (int t = 0; t < nTiles; ++t) r.tiles.push_back({tileCoord(gen), tileCoord(gen)});
            r.zMin = zDist(gen);
            r.zMax = zDist(gen);
            ranges.push_back(r);
        }
        for (int p = 0; p < 200; ++p) {
            const double x = coord(gen), y = coord(gen);
            const double z = (p % 50 == 0) ? kNaN : zDist(gen);
            const bool expected = referenceZDecides(x, y, z, selected, ranges, 1.0);
            ASSERT_EQ(pointPassesSelection(x, y, z, selected, ranges, 1.0), expected)
                << "job " << job << " point " << p;
            kept += expected;
        }
    }
    EXPECT_GT(kept, 1000);  // the random jobs exercise both outcomes
    EXPECT_LT(kept, 300 * 200 - 1000);
}

// Random jobs over a 7 x 7 tile area, and points for them in runs within one tile, with jumps
// between tiles and coordinates that have no tile.
struct RandomSelectionJobs {
    explicit RandomSelectionJobs(std::uint64_t seed) : gen(seed) {}

    std::vector<TileIndex> tiles(unsigned most) {
        std::vector<TileIndex> out;
        for (int i = 0, n = static_cast<int>(gen() % most); i < n; ++i)
            out.push_back({tileCoord(gen), tileCoord(gen)});
        return out;
    }

    // 400 points, each answered by `accepts` as by `expected`.
    // tileSize scales the coordinates, drawn in tile units.
    template <class Accepts, class Expected>
    void comparePoints(int jobNo, Accepts accepts, Expected expected, double tileSize = 1.0) {
        double x = 0.0, y = 0.0;
        for (int p = 0; p < 400; ++p) {
            if (p % 4 == 0) {  // stay in the tile three points out of four
                x = coord(gen) * tileSize;
                y = coord(gen) * tileSize;
            }
            double px = x, py = y;
            if (p % 97 == 0) px = kNaN;
            if (p % 89 == 0) py = 1e300;
            const double z = (p % 50 == 0) ? kNaN : zDist(gen);
            const bool want = expected(px, py, z);
            ASSERT_EQ(accepts(px, py, z), want) << "job " << jobNo << " point " << p;
            kept += want;
            ++total;
        }
    }

    void expectBothOutcomes() const {
        EXPECT_GT(kept, total / 50);
        EXPECT_LT(kept, total - total / 50);
    }

    std::mt19937_64 gen;
    std::uniform_int_distribution<int> tileCoord{-3, 3};
    std::uniform_real_distribution<double> coord{-3.5, 3.5};
    std::uniform_real_distribution<double> zDist{-2.0, 12.0};
    int kept = 0;
    int total = 0;
};

// Coordinates where a prepared test could part from the plain formula: tile edges and the
// doubles next to them, zeros, infinities, NaN, and points far out or at the end of the i64
// tile range. In tile units; the caller scales them by the tile size.
std::vector<double> awkwardCoordinates() {
    std::vector<double> out = {0.0,
                               -0.0,
                               kInf,
                               -kInf,
                               kNaN,
                               1e-310,
                               -1e-310,
                               1e18,
                               -1e18,
                               0x1p51,
                               -0x1p51,
                               0x1p62,
                               9223372036854775808.0,
                               -9223372036854775808.0};
    for (double edge = -4.0; edge <= 4.0; edge += 1.0)
        for (double v : {edge, std::nextafter(edge, -kInf), std::nextafter(edge, kInf)})
            out.push_back(v);
    return out;
}

// The prepared Z-decides test must answer as pointPassesSelection in every order of points,
// with and without its grid, at every tile size (exact reciprocal or not), for points without
// a tile or on a tile edge, for infinite z and range bounds, and for jobs with neither list.
TEST(Selection, ZDecidesSelectionTestAgreesWithTheRuleOnRandomJobs) {
    RandomSelectionJobs jobs(44);
    const std::vector<double> awkward = awkwardCoordinates();
    const double zAwkward[] = {kNaN, kInf, -kInf, 2.0, 5.0, 0.0};
    const double tileSizes[] = {1.0, 0.3, 5.0, 0.1, 1e-3, 0.25};
    for (int jobNo = 0; jobNo < 300; ++jobNo) {
        const double size = tileSizes[jobNo % 6];
        TileSet selected;
        for (const TileIndex& t : jobs.tiles(8)) selected.insert(t);
        std::vector<SelectedHeightRange> ranges;
        for (int i = 0, n = static_cast<int>(jobs.gen() % 4); i < n; ++i) {
            std::vector<TileIndex> tiles = jobs.tiles(6);
            const double a = i == 2 ? kNaN : jobs.zDist(jobs.gen);
            const double b = i == 3 ? kInf : jobs.zDist(jobs.gen);
            ranges.push_back(range(tiles, jobNo % 7 == 0 ? -kInf : a, b));
        }
        // Every fifth job lists a tile far away, so the hash lookups decide.
        const bool farTile = jobNo % 5 == 0;
        if (farTile) ranges.push_back(range({{std::int64_t{1} << 40, -5}, {-3, -3}}, 0.0, 5.0));
        const ZDecidesSelectionTest test(selected, ranges, size);
        if (farTile) {
            EXPECT_FALSE(test.usesGrid());
        }
        const auto rule = [&](double x, double y, double z) {
            return pointPassesSelection(x, y, z, selected, ranges, size);
        };
        jobs.comparePoints(
            jobNo, [&](double x, double y, double z) { return test.accepts(x, y, z); },
            [&](double x, double y, double z) { return rule(x, y, z); }, size);
        for (std::size_t i = 0; i < awkward.size(); ++i) {
            const double x = awkward[i] * size;
            const double y =
                awkward[(i * 7 + static_cast<std::size_t>(jobNo)) % awkward.size()] * size;
            for (const double z : zAwkward) {
                ASSERT_EQ(test.accepts(x, y, z), rule(x, y, z))
                    << "job " << jobNo << " x " << x << " y " << y << " z " << z;
                ASSERT_EQ(test.accepts(y, x, z), rule(y, x, z))
                    << "job " << jobNo << " x " << y << " y " << x << " z " << z;
            }
        }
    }
    jobs.expectBothOutcomes();
}

// Many ranges over the same tiles: overlapping and touching ranges merge, separate ones stay
// apart, and tiles with different range sets get different entries.
TEST(Selection, ZDecidesSelectionTestMergesTheRangesOfATile) {
    const std::vector<SelectedHeightRange> ranges = {
        range({{0, 0}, {1, 0}}, 0, 1), range({{0, 0}}, 1, 2),    range({{0, 0}, {1, 0}}, 5, 4),
        range({{0, 0}}, 4.5, 4.6),     range({{1, 0}}, kNaN, 9), range({{2, 0}}, kNaN, 1),
        range({{1, 0}}, 8, 9),
    };
    const TileSet selected{{2, 0}, {3, 0}};
    const ZDecidesSelectionTest test(selected, ranges, 5.0);
    EXPECT_TRUE(test.usesGrid());
    for (double x : {2.5, 7.5, 12.5, 17.5, 22.5})
        for (double z = -1.0; z <= 10.0; z += 0.25) {
            EXPECT_EQ(test.accepts(x, 1.0, z),
                      pointPassesSelection(x, 1.0, z, selected, ranges, 5.0))
                << x << " " << z;
        }
    EXPECT_TRUE(test.accepts(2.5, 1.0, 2.0));    // [0, 1] and [1, 2] as one
    EXPECT_FALSE(test.accepts(2.5, 1.0, 3.0));   // between the merged parts
    EXPECT_TRUE(test.accepts(7.5, 1.0, 8.5));    // a later interval of the tile
    EXPECT_FALSE(test.accepts(12.5, 1.0, 0.5));  // listed only by a NaN range: keeps none
    EXPECT_TRUE(test.accepts(17.5, 1.0, kNaN));  // selected, listed by none
}

// The memo must give isPointSelectedForXyzExport's answers whatever the order of the points:
// runs in one tile (the memo's case), jumps between tiles, and coordinates without a tile.
TEST(Selection, UnionSelectionTestAgreesWithTheRuleOnRandomJobs) {
    RandomSelectionJobs jobs(43);
    for (int jobNo = 0; jobNo < 300; ++jobNo) {
        ExportJob job;
        job.coarseTileSize = 1.0;
        for (const TileIndex& t : jobs.tiles(8)) job.selectedCoarseTiles.insert(t);
        if (jobs.gen() % 3 == 0) job.savedTileSelections.push_back({jobs.tiles(5)});
        for (int i = 0, n = static_cast<int>(jobs.gen() % 4); i < n; ++i) {
            std::vector<TileIndex> tiles = jobs.tiles(6);
            job.selectedHeightRanges.push_back(
                range(tiles, jobs.zDist(jobs.gen), jobs.zDist(jobs.gen)));
        }
        // Every fifth job also keeps a tile far away, so its box is too big for the grid and
        // the hash lookups decide.
        const bool farTile = jobNo % 5 == 0;
        if (farTile) job.savedTileSelections.push_back({{{std::int64_t{1} << 40, -5}, {-3, -3}}});
        const ExportSelectionFilter filter = buildExportSelectionFilter(job);
        UnionSelectionTest test(filter, 1.0);
        if (farTile) {
            EXPECT_FALSE(test.usesGrid());
        }
        jobs.comparePoints(
            jobNo, [&](double x, double y, double z) { return test.accepts(x, y, z); },
            [&](double x, double y, double z) {
                TileIndex tile;
                return tryTileIndexFor(x, y, 1.0, tile) && isPointSelected(atZ(z), tile, filter);
            });
    }
    jobs.expectBothOutcomes();
}

// Boxes at the ends of the i64 tile range must neither overflow nor wrap into a small grid.
TEST(Selection, UnionSelectionTestAtTheEndsOfTheTileRange) {
    constexpr std::int64_t lo = INT64_MIN;
    constexpr std::int64_t hi = INT64_MAX;
    ExportSelectionFilter filter;
    filter.selectedTiles = {{lo, lo}, {hi, hi}};
    UnionSelectionTest wide(filter, 1.0);
    EXPECT_FALSE(wide.usesGrid());
    EXPECT_TRUE(wide.accepts(-9223372036854775808.0, -9223372036854775808.0, 0.0));
    EXPECT_FALSE(wide.accepts(0.5, 0.5, 0.0));

    filter.selectedTiles = {{lo, 7}, {lo + 1, 7}};
    UnionSelectionTest low(filter, 1.0);
    EXPECT_TRUE(low.usesGrid());
    EXPECT_TRUE(low.accepts(-9223372036854775808.0, 7.5, 0.0));
    EXPECT_FALSE(low.accepts(-9223372036854775808.0, 8.5, 0.0));
    EXPECT_FALSE(
        low.accepts(1e18, 7.5, 0.0));  // far right of the box: the unsigned offset is large
}

TEST(Selection, TileHeightRangesCollectsEveryListedTile) {
    const TileHeightRanges t = buildTileHeightRanges(
        {range({{1, 1}, {2, 2}}, 0, 1), range({}, 0, 1), range({{2, 2}, {-3, 4}}, 5, 2)});
    EXPECT_EQ(t.tiles, (TileSet{{1, 1}, {2, 2}, {-3, 4}}));
}

TEST(Selection, EstimateExamples) {
    TileCountMap all;
    for (std::int64_t i = 0; i < 4; ++i) all[{i, 0}] = 10;
    const TileSet one{{0, 0}};
    const std::vector<SelectedHeightRange> none;

    EXPECT_EQ(estimateExportPointCount(0, all, one, none, true, 0, 10), 0u);
    EXPECT_EQ(estimateExportPointCount(1234, {}, one, none, true, 0, 10), 1234u);
    EXPECT_EQ(estimateExportPointCount(1000, all, one, none, false, 0, 0), 250u);
    // Rounding half away from zero: 10 * 0.25 = 2.5 -> 3; 6 * 0.25 = 1.5 -> 2.
    EXPECT_EQ(estimateExportPointCount(10, all, one, none, false, 0, 0), 3u);
    EXPECT_EQ(estimateExportPointCount(6, all, one, none, false, 0, 0), 2u);
    // More selected tiles than the map has: the tile share is clamped to 1.
    TileSet many;
    for (std::int64_t i = 0; i < 9; ++i) many.insert({i, 9});
    EXPECT_EQ(estimateExportPointCount(1000, all, many, none, false, 0, 0), 1000u);

    // Ranges without Z bounds, or with empty tile lists, leave the Z factor at 1.
    const std::vector<SelectedHeightRange> half{range({{0, 0}}, 0, 5)};
    EXPECT_EQ(estimateExportPointCount(1000, all, one, half, false, 0, 10), 250u);
    EXPECT_EQ(estimateExportPointCount(1000, all, one, {range({}, 0, 5)}, true, 0, 10), 250u);
    // Half the span: 1000 * 0.5 * 0.25 = 125; reversed pair gives the same.
    EXPECT_EQ(estimateExportPointCount(1000, all, one, half, true, 0, 10), 125u);
    EXPECT_EQ(estimateExportPointCount(1000, all, one, {range({{0, 0}}, 5, 0)}, true, 0, 10), 125u);
    // Weighted by tile entries (duplicates count): (3 * 0.5 + 1 * 0) / 4 = 0.375 of 1000 * 1.
    const TileSet allFour{{0, 0}, {1, 0}, {2, 0}, {3, 0}};
    EXPECT_EQ(estimateExportPointCount(
                  1000, all, allFour,
                  {range({{0, 0}, {1, 0}, {1, 0}}, 0, 5), range({{2, 0}}, 20, 30)}, true, 0, 10),
              375u);
    // A range wholly outside the bounds contributes 0 with full weight.
    EXPECT_EQ(estimateExportPointCount(1000, all, allFour, {range({{0, 0}}, -9, -1)}, true, 0, 10),
              0u);
    // Equal global Z: divisor 1e-9, overlap 0, so nothing.
    EXPECT_EQ(estimateExportPointCount(1000, all, allFour, {range({{0, 0}}, 0, 10)}, true, 3, 3),
              0u);
    // A range covering more than the span is clamped to 1.
    EXPECT_EQ(estimateExportPointCount(1000, all, allFour, {range({{0, 0}}, -50, 50)}, true, 0, 10),
              1000u);
}

TEST(Selection, EstimateStaysDefinedOnBrokenInputs) {
    TileCountMap all{{{0, 0}, 1}};
    const TileSet sel{{0, 0}};
    // NaN global bounds drop out of the min/max and the span falls back to 1e-9.
    EXPECT_EQ(estimateExportPointCount(1000, all, sel, {range({{0, 0}}, 0, 5)}, true, kNaN, kNaN),
              1000u);
    // A NaN range bound covers nothing; the rounding never sees a NaN.
    EXPECT_EQ(estimateExportPointCount(1000, all, sel, {range({{0, 0}}, kNaN, 5)}, true, 0, 10),
              0u);
    // Counts beyond the i64 range stay exact where a double can hold them.
    const std::uint64_t huge = 1ULL << 63;
    EXPECT_EQ(estimateExportPointCount(huge, all, sel, {}, false, 0, 0), huge);
    const std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(estimateExportPointCount(top, all, sel, {}, false, 0, 0), top);
}
