// The photo-preserving single E57 export (geometry pass, photo merge, move into place) over a
// posed multi-scan E57 named by BRINDLEWICK_BENCH_E57_SCANS (skipped when unset). The
// selection holds 1,000 tiles and 10 height ranges and keeps about half of the points: the
// tiles are the western half of a grid laid over the scans' world bounds, and each range lists
// some of those tiles with the lower half of the Z span. The output and both temporary files
// go to out/ beside the input and are removed after every iteration.
// Mpts/s counts source points, Mkept/s written points; peakRSS_MiB is the process's peak, to be
// read against largestScan_MiB (the kept columns of the largest scan if it kept every point).

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
#include <streambuf>
#include <string>
#include <vector>

#include <E57SimpleReader.h>

#include "bench_support.h"
#include "export/output_naming.h"
#include "export/photo_export.h"
#include "points/tiles/selection_types.h"
#include "support/e57_test_files.h"

namespace {

using namespace benchsupport;

namespace fs = std::filesystem;

struct Selection {
    TileSet tiles;
    std::vector<SelectedHeightRange> ranges;
    double tileSize = 1.0;
    std::uint64_t sourcePoints = 0;
    std::uint64_t largestScanBytes = 0;
};

// World bounds from each scan's cartesian bounds through its pose (all eight corners).
Selection halfSelection(const std::string& path) {
    Selection sel;
    e57::Reader reader(path, e57::ReaderOptions{});
    constexpr double kMax = std::numeric_limits<double>::max();
    double lo[3] = {kMax, kMax, kMax}, hi[3] = {-kMax, -kMax, -kMax};
    for (std::int64_t s = 0; s < reader.GetData3DCount(); ++s) {
        e57::Data3D h;
        if (!reader.ReadData3D(s, h)) continue;
        sel.sourcePoints += h.pointCount;
        const auto& f = h.pointFields;
        const std::uint64_t bytes = 24 + (f.colorRedField ? 6 : 0) + (f.intensityField ? 8 : 0) +
                                    (f.timeStampField ? 8 : 0) + (f.rowIndexField ? 8 : 0);
        sel.largestScanBytes = std::max<std::uint64_t>(sel.largestScanBytes, bytes * h.pointCount);
        const e57::CartesianBounds& b = h.cartesianBounds;
        for (int c = 0; c < 8; ++c) {
            const auto w = testsupport::worldPoint(h.pose, c & 1 ? b.xMaximum : b.xMinimum,
                                                   c & 2 ? b.yMaximum : b.yMinimum,
                                                   c & 4 ? b.zMaximum : b.zMinimum);
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], w[a]);
                hi[a] = std::max(hi[a], w[a]);
            }
        }
    }
    reader.Close();
    // A square grid of about 2,000 tiles over the bounds; the western 1,000 are selected.
    const double width = hi[0] - lo[0], depth = hi[1] - lo[1];
    sel.tileSize = std::sqrt(width * depth / 2000.0);
    const auto x0 = static_cast<std::int64_t>(std::floor(lo[0] / sel.tileSize));
    const auto y0 = static_cast<std::int64_t>(std::floor(lo[1] / sel.tileSize));
    const auto nx = static_cast<std::int64_t>(std::ceil(width / sel.tileSize));
    const auto ny = static_cast<std::int64_t>(std::ceil(depth / sel.tileSize));
    for (std::int64_t ix = x0; ix < x0 + nx && sel.tiles.size() < 1000; ++ix)
        for (std::int64_t iy = y0; iy < y0 + ny && sel.tiles.size() < 1000; ++iy)
            sel.tiles.insert({ix, iy});
    std::vector<TileIndex> selected(sel.tiles.begin(), sel.tiles.end());
    std::sort(selected.begin(), selected.end(), [](const TileIndex& a, const TileIndex& b) {
        return a.ix != b.ix ? a.ix < b.ix : a.iy < b.iy;
    });
    for (int r = 0; r < 10; ++r) {
        SelectedHeightRange range;
        for (std::size_t t = static_cast<std::size_t>(r); t < selected.size(); t += 50)
            range.tiles.push_back(selected[t]);
        range.zMin = lo[2];
        range.zMax = lo[2] + (hi[2] - lo[2]) / 2;
        sel.ranges.push_back(range);
    }
    return sel;
}

std::uint64_t pointsIn(const std::string& path) {
    e57::Reader reader(path, e57::ReaderOptions{});
    std::uint64_t n = 0;
    for (std::int64_t s = 0; s < reader.GetData3DCount(); ++s) {
        e57::Data3D h;
        if (reader.ReadData3D(s, h)) n += h.pointCount;
    }
    reader.Close();
    return n;
}

// The posed multi-scan input, read once into the page cache; null (the benchmark skipped) when
// it is not set or cannot be read.
const char* benchInput(benchmark::State& state) {
    const char* input = envPath("BRINDLEWICK_BENCH_E57_SCANS");
    if (input == nullptr) {
        state.SkipWithError("BRINDLEWICK_BENCH_E57_SCANS is not set (a posed multi-scan E57)");
        return nullptr;
    }
    if (!warmPageCache(input)) {
        state.SkipWithError((std::string("cannot read ") + input).c_str());
        return nullptr;
    }
    return input;
}

void BM_PhotoExport50pct(benchmark::State& state) {
    const char* input = benchInput(state);
    if (input == nullptr) return;
    static const Selection sel = halfSelection(input);
    const fs::path dir = benchOutputFolder(input);
    const fs::path output = dir / "bench_photo_export_out.e57";

    std::uint64_t kept = 0;
    for (auto _ : state) {
        NullSink sink;
        std::streambuf* saved = std::cout.rdbuf(&sink);
        std::string error, method;
        const bool ok = exportE57WithPhotos(input, output.string(), sel.tiles, sel.ranges,
                                            sel.tileSize, &error, &method, nullptr);
        std::cout.rdbuf(saved);
        if (!ok) {
            state.SkipWithError(error.c_str());
            break;
        }
        state.PauseTiming();
        kept = pointsIn(output.string());
        removeQuietly(output);
        state.ResumeTiming();
    }
    removeQuietly(makeGeometryTempPath(output.string()));
    removeQuietly(makeWithPhotosTempPath(output.string()));
    const auto iterations = static_cast<double>(state.iterations());
    state.counters["Mpts/s"] = benchmark::Counter(
        static_cast<double>(sel.sourcePoints) * iterations / 1e6, benchmark::Counter::kIsRate);
    state.counters["Mkept/s"] = benchmark::Counter(static_cast<double>(kept) * iterations / 1e6,
                                                   benchmark::Counter::kIsRate);
    state.counters["kept_pct"] =
        sel.sourcePoints ? 100.0 * static_cast<double>(kept) / static_cast<double>(sel.sourcePoints)
                         : 0.0;
    state.counters["sourceMpts"] = static_cast<double>(sel.sourcePoints) / 1e6;
    state.counters["largestScan_MiB"] = static_cast<double>(sel.largestScanBytes) / 1048576.0;
    state.counters["peakRSS_MiB"] = peakRssMiB();
}
BENCHMARK(BM_PhotoExport50pct)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The geometry pass alone, to tell its share from the merge's.
void BM_PhotoGeometryPass50pct(benchmark::State& state) {
    const char* input = benchInput(state);
    if (input == nullptr) return;
    static const Selection sel = halfSelection(input);
    const fs::path dir = benchOutputFolder(input);
    const fs::path geometry = dir / "bench_photo_export_geom.e57";
    for (auto _ : state) {
        NullSink sink;
        std::streambuf* saved = std::cout.rdbuf(&sink);
        std::string error, method;
        const bool ok = exportPhotoGeometryE57(input, geometry.string(), sel.tiles, sel.ranges,
                                               sel.tileSize, nullptr, &error, &method, nullptr);
        std::cout.rdbuf(saved);
        if (!ok) {
            state.SkipWithError(error.c_str());
            break;
        }
        state.PauseTiming();
        removeQuietly(geometry);
        state.ResumeTiming();
    }
    state.counters["Mpts/s"] = benchmark::Counter(
        static_cast<double>(sel.sourcePoints) * static_cast<double>(state.iterations()) / 1e6,
        benchmark::Counter::kIsRate);
    state.counters["peakRSS_MiB"] = peakRssMiB();
}
BENCHMARK(BM_PhotoGeometryPass50pct)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
