// Preview accumulation rates: points spread over a 100 x 100 grid of 5 m tiles (10,000 tiles),
// coordinates generated up front. The maps keep growing over the iterations, so after the
// first pass every tile exists and its list is full: the steady state of a long build.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "points/tiles/preview_tiles.h"

namespace {

constexpr double kTileSize = 5.0;
constexpr std::size_t kPoints = 1 << 20;

// Scan order instead: consecutive points 1 cm apart along rows across the grid, so a tile
// sees runs of about 500 points (what a scanner's stream looks like).
const std::vector<CloudPoint>& scanOrderPoints() {
    static const std::vector<CloudPoint> pts = [] {
        std::vector<CloudPoint> v(kPoints);
        const double row = 100 * kTileSize;
        for (std::size_t i = 0; i < v.size(); ++i) {
            const double along = 0.01 * static_cast<double>(i);
            const double rowIndex = std::floor(along / row);
            v[i].x = along - rowIndex * row;
            v[i].y = rowIndex * 0.37;
            v[i].z = std::sin(along);
        }
        return v;
    }();
    return pts;
}

const std::vector<CloudPoint>& randomPoints() {
    static const std::vector<CloudPoint> pts = [] {
        std::mt19937_64 gen(99);
        std::uniform_real_distribution<double> xy(0.0, 100 * kTileSize);
        std::uniform_real_distribution<double> z(-20.0, 80.0);
        std::vector<CloudPoint> v(kPoints);
        for (CloudPoint& p : v) {
            p.x = xy(gen);
            p.y = xy(gen);
            p.z = z(gen);
        }
        return v;
    }();
    return pts;
}

const std::vector<CloudPoint>& points(const benchmark::State& state) {
    return state.range(1) != 0 ? scanOrderPoints() : randomPoints();
}

void BM_AccumulatePreviewPoint(benchmark::State& state) {
    const auto& pts = points(state);
    const int requested = static_cast<int>(state.range(0));
    TileCountMap counts;
    TileSampleMap samples;
    TileOfferMap offers;
    std::mt19937_64 gen(1234567);
    std::uint64_t accepted = 0, globalSamples = 0;
    constexpr double inf = std::numeric_limits<double>::infinity();
    double minX = inf, maxX = -inf, minY = inf, maxY = -inf, minZ = inf, maxZ = -inf;
    for (auto _ : state) {
        for (const CloudPoint& p : pts) {
            const std::uint64_t cap = sampleCapPerTile(requested, counts);
            benchmark::DoNotOptimize(accumulatePreviewPoint(
                p, kTileSize, true, cap, globalPreviewSampleCap, accepted, globalSamples, minX,
                maxX, minY, maxY, minZ, maxZ, counts, samples, offers, gen, 250));
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * pts.size()));
    state.counters["Mpts/s"] = benchmark::Counter(static_cast<double>(pts.size()) / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
    state.counters["tiles"] = static_cast<double>(counts.size());
}

// The build's side of one E57 stream, with the engine the caller draws from.
template <class Engine>
struct StreamFixture {
    explicit StreamFixture(int requestedSamplesPerTile)
        : ctx{minX,          maxX,        minY,      maxY,   minZ,         maxZ,
              buildPoints,   accepted,    kTileSize, counts, samples,      requestedSamplesPerTile,
              globalSamples, capReported, gen,       build,  lastProgress, 0} {
        resetBounds(minX, maxX, minY, maxY, minZ, maxZ);
    }

    double minX = 0, maxX = 0, minY = 0, maxY = 0, minZ = 0, maxZ = 0;
    std::uint64_t buildPoints = 0, accepted = 0, globalSamples = 0;
    TileCountMap counts;
    TileSampleMap samples;
    bool capReported = false;
    Engine gen{1234567};
    std::atomic<std::uint64_t> build{0};  // the build state's point counter
    std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
    PreviewStreamContext ctx;
};

void reportStream(benchmark::State& state, std::size_t points, const TileCountMap& counts) {
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * points));
    state.counters["Mpts/s"] = benchmark::Counter(static_cast<double>(points) / 1e6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
    state.counters["tiles"] = static_cast<double>(counts.size());
}

void BM_AcceptPreviewPoint(benchmark::State& state) {
    const auto& pts = points(state);
    StreamFixture<std::mt19937_64> f(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        for (const CloudPoint& p : pts) acceptPreviewPoint(f.ctx, p.x, p.y, p.z, true);
        benchmark::ClobberMemory();
    }
    reportStream(state, pts.size(), f.counts);
}

// The same through acceptPreviewPoints, in runs of 4096 and with the build's engine, as the exact
// E57 stream hands them on.
void BM_AcceptPreviewPointRuns(benchmark::State& state) {
    const auto& pts = points(state);
    std::vector<double> xs, ys, zs;
    for (const CloudPoint& p : pts) xs.push_back(p.x), ys.push_back(p.y), zs.push_back(p.z);
    StreamFixture<MersenneTwister64> f(static_cast<int>(state.range(0)));
    constexpr std::size_t kRun = 4096;
    for (auto _ : state) {
        for (std::size_t i = 0; i < xs.size(); i += kRun)
            acceptPreviewPoints(f.ctx, &xs[i], &ys[i], &zs[i], std::min(kRun, xs.size() - i), true);
        benchmark::ClobberMemory();
    }
    reportStream(state, pts.size(), f.counts);
}

}  // namespace

// Arguments: requested samples per tile, scan order (1) or random order (0).
BENCHMARK(BM_AccumulatePreviewPoint)
    ->ArgNames({"samples", "scanOrder"})
    ->ArgsProduct({{2000, 20}, {0, 1}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AcceptPreviewPoint)
    ->ArgNames({"samples", "scanOrder"})
    ->ArgsProduct({{2000, 20}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_AcceptPreviewPointRuns)
    ->ArgNames({"samples", "scanOrder"})
    ->ArgsProduct({{2000, 20}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
