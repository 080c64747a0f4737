// The native combined E57 export and its PDAL streaming fallback, whole routes, on page-cached
// inputs:
//   BRINDLEWICK_BENCH_E57_SCANS      posed scans with double x, y, z, colour and intensity
//   BRINDLEWICK_BENCH_E57_SPHERICAL  the same scans stored spherical-only (the fallback's input)
// A benchmark whose variable is unset is skipped. The selection is built once per input from its
// world extent: a grid of 40 x 50 tiles over it, every other tile selected (1,000 tiles), and 10
// height ranges over the middle half of the Z extent, each listing 10 tiles of which half are
// also in the tile set, so that the Z-decides rule has work to do. Mpts/s counts source points,
// keptFraction the share written. Outputs go to out/ beside the input and are removed after
// every iteration. peakRSS_MiB is the whole process's peak.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <limits>
#include <map>
#include <streambuf>
#include <string>
#include <vector>

#include <E57SimpleReader.h>

#include "bench_support.h"
#include "export/e57_native_export.h"
#include "export/e57_pdal_fallback_export.h"
#include "points/input/e57_point_stream.h"
#include "points/selection/selection.h"

namespace {

using namespace benchsupport;

namespace fs = std::filesystem;

struct BenchSelection {
    TileSet tiles;
    std::vector<SelectedHeightRange> ranges;
    double tileSize = 1.0;
    std::uint64_t points = 0;
};

// The selection described above, from the world extent the stream delivers.
BenchSelection selectionFor(const std::string& path) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    double lo[3] = {kInf, kInf, kInf};
    double hi[3] = {-kInf, -kInf, -kInf};
    BenchSelection sel;
    streamE57FileInBatches(path,
                           [&](const double* x, const double* y, const double* z, std::size_t n) {
                               for (std::size_t i = 0; i < n; ++i) {
                                   const double p[3] = {x[i], y[i], z[i]};
                                   for (int k = 0; k < 3; ++k) {
                                       if (!std::isfinite(p[k])) continue;
                                       lo[k] = std::min(lo[k], p[k]);
                                       hi[k] = std::max(hi[k], p[k]);
                                   }
                               }
                               sel.points += n;
                           });
    constexpr int kCols = 40, kRows = 50;
    sel.tileSize = std::max((hi[0] - lo[0]) / kCols, (hi[1] - lo[1]) / kRows) * 1.0001;
    const auto ix0 = static_cast<std::int64_t>(std::floor(lo[0] / sel.tileSize));
    const auto iy0 = static_cast<std::int64_t>(std::floor(lo[1] / sel.tileSize));
    for (int c = 0; c < kCols; ++c)
        for (int r = 0; r < kRows; ++r)
            if ((c + r) % 2 == 0) sel.tiles.insert({ix0 + c, iy0 + r});
    const double zSpan = hi[2] - lo[2];
    for (int k = 0; k < 10; ++k) {
        SelectedHeightRange range;
        // Stored reversed, as the GUI may.
        range.zMin = lo[2] + 0.75 * zSpan;
        range.zMax = lo[2] + 0.25 * zSpan;
        for (int j = 0; j < 10; ++j)
            range.tiles.push_back({ix0 + 4 * k + j % 4, iy0 + 5 * j + k % 5});
        sel.ranges.push_back(std::move(range));
    }
    return sel;
}

const BenchSelection& cachedSelection(const std::string& path) {
    static std::map<std::string, BenchSelection> cache;
    auto it = cache.find(path);
    if (it == cache.end()) it = cache.emplace(path, selectionFor(path)).first;
    return it->second;
}

std::uint64_t writtenPoints(const std::string& path) {
    e57::Reader reader(path, e57::ReaderOptions{});
    return countE57Points(reader);
}

template <class Route>
void runExport(benchmark::State& state, const char* variable, Route route) {
    const char* input = warmBenchInput(state, variable);
    if (!input) return;
    const BenchSelection& sel = cachedSelection(input);
    const fs::path dir = benchOutputFolder(input);
    const std::string output = (dir / "bench_e57_native_out.e57").string();

    NullSink sink;
    std::uint64_t kept = 0;
    for (auto _ : state) {
        std::string error;
        std::streambuf* saved = std::cout.rdbuf(&sink);
        const bool ok = route(input, output, sel, &error);
        std::cout.rdbuf(saved);
        if (!ok) {
            state.SkipWithError(error.c_str());
            break;
        }
        state.PauseTiming();
        kept = writtenPoints(output);
        std::error_code ignored;
        fs::remove(output, ignored);
        state.ResumeTiming();
    }
    state.counters["Mpts/s"] = benchmark::Counter(static_cast<double>(sel.points) * 1e-6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
    state.counters["keptFraction"] =
        sel.points ? static_cast<double>(kept) / static_cast<double>(sel.points) : 0.0;
    state.counters["peakRSS_MiB"] = peakRssMiB();
}

void BM_NativeCombinedExport(benchmark::State& state) {
    runExport(state, "BRINDLEWICK_BENCH_E57_SCANS",
              [](const std::string& in, const std::string& out, const BenchSelection& sel,
                 std::string* error) {
                  std::string method;
                  return exportE57Native(in, out, sel.tiles, sel.ranges, sel.tileSize, error,
                                         &method, nullptr, true) &&
                         method == "libE57";
              });
}
BENCHMARK(BM_NativeCombinedExport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_PdalFallbackExport(benchmark::State& state) {
    runExport(state, "BRINDLEWICK_BENCH_E57_SPHERICAL",
              [](const std::string& in, const std::string& out, const BenchSelection& sel,
                 std::string* error) {
                  return exportE57PdalXyzFallback(in, out, sel.tiles, sel.ranges, sel.tileSize,
                                                  error, nullptr, nullptr);
              });
}
BENCHMARK(BM_PdalFallbackExport)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
