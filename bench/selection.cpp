// Per-point selection tests with 1,000 selected tiles (10 rows of a 100 x 100 grid of 1 m
// tiles) and 10 vertical selections of 100 tiles each. Points cover 100 x 20 m, so about half
// fall in selected tiles, and z spreads over the ranges' span.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

#include "points/selection/selection.h"

namespace {

constexpr double kTileSize = 1.0;
constexpr std::size_t kPoints = 1 << 16;

struct Fixture {
    ExportJob job;
    std::vector<CloudPoint> pts;
    std::vector<TileIndex> tiles;

    // rangesOnSelected: the ranges list the selected rows (tiles decided by Z); otherwise they
    // list tiles elsewhere, so selected tiles go through the last scan of every list.
    // tileSize scales the layout: the same tiles and points in other units.
    explicit Fixture(bool rangesOnSelected, double tileSize = kTileSize) {
        job.coarseTileSize = tileSize;
        SavedTileSelection top;
        for (std::int64_t iy = 0; iy < 10; ++iy)
            for (std::int64_t ix = 0; ix < 100; ++ix) {
                job.selectedCoarseTiles.insert({ix, iy});
                top.tiles.push_back({ix, iy});
            }
        job.savedTileSelections.push_back(top);
        for (int k = 0; k < 10; ++k) {
            SelectedHeightRange r;
            const std::int64_t row = rangesOnSelected ? k : 50 + k;
            for (std::int64_t ix = 0; ix < 100; ++ix) r.tiles.push_back({ix, row});
            r.zMin = k * 2.0 + 4.0;
            r.zMax = k * 2.0;
            job.selectedHeightRanges.push_back(r);
        }
        std::mt19937_64 gen(7);
        std::uniform_real_distribution<double> x(0.0, 100.0), y(0.0, 20.0), z(-5.0, 30.0);
        pts.resize(kPoints);
        for (CloudPoint& p : pts) {
            p.x = x(gen) * tileSize;
            p.y = y(gen) * tileSize;
            p.z = z(gen);
            tiles.push_back(tileIndexFor(p.x, p.y, tileSize));
        }
    }
};

void finish(benchmark::State& state, std::size_t n, std::size_t kept) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
    state.counters["ns/point"] = benchmark::Counter(
        static_cast<double>(n) * 1e-9,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["kept%"] = 100.0 * static_cast<double>(kept) / static_cast<double>(n);
}

void BM_PointPassesSelection(benchmark::State& state) {
    const Fixture f(state.range(0) != 0);
    std::size_t kept = 0;
    for (auto _ : state) {
        kept = 0;
        for (const CloudPoint& p : f.pts)
            kept += pointPassesSelection(p.x, p.y, p.z, f.job.selectedCoarseTiles,
                                         f.job.selectedHeightRanges, kTileSize);
        benchmark::DoNotOptimize(kept);
    }
    finish(state, f.pts.size(), kept);
}

void BM_IsPointSelected(benchmark::State& state) {
    const Fixture f(state.range(0) != 0);
    const ExportSelectionFilter filter = buildExportSelectionFilter(f.job);
    std::size_t kept = 0;
    for (auto _ : state) {
        kept = 0;
        for (std::size_t i = 0; i < f.pts.size(); ++i)
            kept +=
                isPointSelected(f.pts[i], tileIndexFor(f.pts[i].x, f.pts[i].y, kTileSize), filter);
        benchmark::DoNotOptimize(kept);
    }
    finish(state, f.pts.size(), kept);
}

// Points in file order come in runs from one tile; arg 1 sorts them by tile to show that case.
void BM_UnionSelectionTest(benchmark::State& state) {
    Fixture f(true);
    if (state.range(0) != 0)
        std::sort(f.pts.begin(), f.pts.end(), [](const CloudPoint& a, const CloudPoint& b) {
            const TileIndex ta = tileIndexFor(a.x, a.y, kTileSize);
            const TileIndex tb = tileIndexFor(b.x, b.y, kTileSize);
            return ta.ix != tb.ix ? ta.ix < tb.ix : ta.iy < tb.iy;
        });
    const ExportSelectionFilter filter = buildExportSelectionFilter(f.job);
    UnionSelectionTest test(filter, kTileSize);
    std::size_t kept = 0;
    for (auto _ : state) {
        kept = 0;
        for (const CloudPoint& p : f.pts) kept += test.accepts(p.x, p.y, p.z);
        benchmark::DoNotOptimize(kept);
    }
    finish(state, f.pts.size(), kept);
}

// Points as a scanner delivers them: strips half a tile wide swept back and forth along y, so
// runs of about 30 points share a tile. z stays random.
void scanOrder(std::vector<CloudPoint>& pts, double tileSize) {
    std::sort(pts.begin(), pts.end(), [=](const CloudPoint& a, const CloudPoint& b) {
        const auto sa = static_cast<std::int64_t>(a.x / (0.5 * tileSize));
        const auto sb = static_cast<std::int64_t>(b.x / (0.5 * tileSize));
        if (sa != sb) return sa < sb;
        return (sa % 2 == 0) ? a.y < b.y : a.y > b.y;
    });
}

// The Z-decides rule prepared once per export, on the same job as BM_PointPassesSelection.
// Args: rangesOnSelected, scanOrder (0: random order), tileSize (5 m, the program's default,
// has no exact reciprocal).
void BM_ZDecidesSelectionTest(benchmark::State& state) {
    Fixture f(state.range(0) != 0, static_cast<double>(state.range(2)));
    if (state.range(1) != 0) scanOrder(f.pts, f.job.coarseTileSize);
    const ZDecidesSelectionTest test(f.job.selectedCoarseTiles, f.job.selectedHeightRanges,
                                     f.job.coarseTileSize);
    std::size_t kept = 0;
    for (auto _ : state) {
        kept = 0;
        for (const CloudPoint& p : f.pts) kept += test.accepts(p.x, p.y, p.z);
        benchmark::DoNotOptimize(kept);
    }
    finish(state, f.pts.size(), kept);
}

// The earlier way to the same answers, for comparison: the rule recast as the union rule (every
// range a height filter, the selected tiles no range lists kept at any z) on UnionSelectionTest.
void BM_ZDecidesViaUnionTest(benchmark::State& state) {
    Fixture f(state.range(0) != 0, static_cast<double>(state.range(2)));
    if (state.range(1) != 0) scanOrder(f.pts, f.job.coarseTileSize);
    std::vector<HeightRangeFilter> filters;
    TileSet listed;
    for (const SelectedHeightRange& r : f.job.selectedHeightRanges) {
        HeightRangeFilter h{std::min(r.zMin, r.zMax), std::max(r.zMin, r.zMax), {}};
        h.tiles.insert(r.tiles.begin(), r.tiles.end());
        listed.insert(r.tiles.begin(), r.tiles.end());
        filters.push_back(std::move(h));
    }
    TileSet anyZ;
    for (const TileIndex& t : f.job.selectedCoarseTiles)
        if (listed.find(t) == listed.end()) anyZ.insert(t);
    UnionSelectionTest test({}, filters, anyZ, f.job.coarseTileSize);
    std::size_t kept = 0;
    for (auto _ : state) {
        kept = 0;
        for (const CloudPoint& p : f.pts) kept += test.accepts(p.x, p.y, p.z);
        benchmark::DoNotOptimize(kept);
    }
    finish(state, f.pts.size(), kept);
}

}  // namespace

BENCHMARK(BM_ZDecidesSelectionTest)
    ->ArgNames({"rangesOnSelected", "scanOrder", "tileSize"})
    ->ArgsProduct({{1, 0}, {0, 1}, {1, 5}});
BENCHMARK(BM_ZDecidesViaUnionTest)
    ->ArgNames({"rangesOnSelected", "scanOrder", "tileSize"})
    ->ArgsProduct({{1, 0}, {0, 1}, {1, 5}});
BENCHMARK(BM_UnionSelectionTest)->ArgName("tileOrder")->Arg(0)->Arg(1);
BENCHMARK(BM_PointPassesSelection)->ArgName("rangesOnSelected")->Arg(1)->Arg(0);
BENCHMARK(BM_IsPointSelected)->ArgName("rangesOnSelected")->Arg(1)->Arg(0);

BENCHMARK_MAIN();
