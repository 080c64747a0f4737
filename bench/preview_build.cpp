// Whole preview builds (thread start to ready) on real inputs, and the cost of one
// publication of a large map.
//   BRINDLEWICK_BENCH_XYZ7, BRINDLEWICK_BENCH_LAS, BRINDLEWICK_BENCH_E57: input paths
//   (a benchmark is skipped when its variable is unset).
// BM_PreviewBuildE57VsDecode also decodes the E57 input raw, for the build's share of that rate.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <E57SimpleReader.h>

#include "points/preview/preview_build.h"
#include "points/preview/preview_build_session.h"

namespace {

const char* envPath(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? v : nullptr;
}

// The build's console lines would swamp the benchmark output.
class QuietConsole {
public:
    QuietConsole() : out_(std::cout.rdbuf(sink_.rdbuf())), err_(std::cerr.rdbuf(sink_.rdbuf())) {}
    ~QuietConsole() {
        std::cout.rdbuf(out_);
        std::cerr.rdbuf(err_);
    }

private:
    std::ostringstream sink_;
    std::streambuf* out_;
    std::streambuf* err_;
};

void runBuild(benchmark::State& bm, const char* envName, bool pointRate) {
    const char* path = envPath(envName);
    if (!path) {
        bm.SkipWithError((std::string(envName) + " is not set").c_str());
        return;
    }
    const int mode = static_cast<int>(bm.range(0));
    const std::string outDir =
        (std::filesystem::temp_directory_path() / "brindlewick_bench_preview_out").string();
    std::uint64_t points = 0;
    std::uint64_t bytes = 0;
    for (auto _ : bm) {
        bm.PauseTiming();
        auto state = std::make_unique<PreviewBuildSession>();
        state->inputPath = path;
        state->outputFolder = outDir;
        bm.ResumeTiming();
        {
            QuietConsole quiet;
            startBuildThread(*state, mode);
            joinBuildThread(*state);
        }
        bm.PauseTiming();
        if (!state->buildState.ready) {
            std::lock_guard<std::mutex> lock(state->buildState.mutex);
            bm.SkipWithError(("build failed: " + state->buildState.message).c_str());
            bm.ResumeTiming();
            break;
        }
        points += state->inputInfo.totalPoints;
        bytes += state->buildState.inputFileBytes.load();
        state.reset();
        bm.ResumeTiming();
    }
    if (pointRate)
        bm.SetItemsProcessed(static_cast<std::int64_t>(points));
    else
        bm.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

void BM_PreviewBuildXyz(benchmark::State& bm) { runBuild(bm, "BRINDLEWICK_BENCH_XYZ7", false); }
void BM_PreviewBuildLas(benchmark::State& bm) { runBuild(bm, "BRINDLEWICK_BENCH_LAS", false); }
void BM_PreviewBuildE57(benchmark::State& bm) { runBuild(bm, "BRINDLEWICK_BENCH_E57", true); }

// Every point of every scan through e57::Reader into buffers of 100,000, x, y, z and colour
// bound, as bench_pdal_e57_stream's BM_RawE57Decode; the number of points decoded.
std::uint64_t rawE57Decode(const std::string& path) {
    constexpr std::size_t kChunk = 100000;
    e57::Reader reader(path, e57::ReaderOptions{});
    std::vector<double> x(kChunk), y(kChunk), z(kChunk);
    std::vector<std::uint16_t> r(kChunk), g(kChunk), b(kChunk);
    std::uint64_t points = 0;
    double sum = 0;
    for (std::int64_t s = 0; s < reader.GetData3DCount(); ++s) {
        e57::Data3D h;
        reader.ReadData3D(s, h);
        e57::Data3DPointsDouble d;
        const auto& f = h.pointFields;
        if (f.cartesianXField)
            d.cartesianX = x.data(), d.cartesianY = y.data(), d.cartesianZ = z.data();
        if (f.colorRedField) d.colorRed = r.data(), d.colorGreen = g.data(), d.colorBlue = b.data();
        auto cv = reader.SetUpData3DPointsData(s, kChunk, d);
        while (const unsigned n = cv.read()) {
            points += n;
            sum += x[n - 1] + r[n - 1];
        }
        cv.close();
    }
    benchmark::DoNotOptimize(sum);
    return points;
}

// The exact E57 build against the raw decode of the same file, each iteration running one
// after the other, so that both see the same machine. "share" is the build's point rate over
// the decode's; the time shown is the build's.
void BM_PreviewBuildE57VsDecode(benchmark::State& bm) {
    const char* path = envPath("BRINDLEWICK_BENCH_E57");
    if (!path) {
        bm.SkipWithError("BRINDLEWICK_BENCH_E57 is not set");
        return;
    }
    const std::string outDir =
        (std::filesystem::temp_directory_path() / "brindlewick_bench_preview_out").string();
    using Clock = std::chrono::steady_clock;
    double decodeSeconds = 0, buildSeconds = 0;
    std::uint64_t decoded = 0, built = 0;
    for (auto _ : bm) {
        const auto t0 = Clock::now();
        decoded += rawE57Decode(path);
        const auto t1 = Clock::now();
        auto state = std::make_unique<PreviewBuildSession>();
        state->inputPath = path;
        state->outputFolder = outDir;
        const auto t2 = Clock::now();
        {
            QuietConsole quiet;
            startBuildThread(*state, EXACT_POINT_STREAM);
            joinBuildThread(*state);
        }
        const auto t3 = Clock::now();
        if (!state->buildState.ready) {
            bm.SkipWithError("build failed");
            break;
        }
        built += state->inputInfo.totalPoints;
        state.reset();
        decodeSeconds += std::chrono::duration<double>(t1 - t0).count();
        buildSeconds += std::chrono::duration<double>(t3 - t2).count();
        bm.SetIterationTime(std::chrono::duration<double>(t3 - t2).count());
    }
    if (decodeSeconds > 0 && buildSeconds > 0) {
        const double decodeRate = static_cast<double>(decoded) / decodeSeconds;
        const double buildRate = static_cast<double>(built) / buildSeconds;
        bm.counters["decodeMpts/s"] = decodeRate / 1e6;
        bm.counters["buildMpts/s"] = buildRate / 1e6;
        bm.counters["share"] = buildRate / decodeRate;
    }
}

// 40,000 tiles at the per-tile cap the global sample cap allows (50 samples each).
// Arg 0: into fresh maps; 1: into the reused spare, as the build publishes.
void BM_PublishPreview40kTiles(benchmark::State& bm) {
    TileCountMap counts;
    TileSampleMap samples;
    counts.reserve(PreviewBuildSession::kBuildMapReserve);  // as the build's own maps are
    samples.reserve(PreviewBuildSession::kBuildMapReserve);
    for (std::int64_t i = 0; i < 40000; ++i) {
        const TileIndex t{i % 200, i / 200};
        counts[t] = 12500;
        samples[t].assign(50, Sample2D{static_cast<float>(i), 1.0f, 2.0f});
    }
    PreviewBuildState live;
    PreviewMapBuffers spare;
    const bool fresh = bm.range(0) == 0;
    for (auto _ : bm) {
        if (fresh)
            publishPreviewMaps(live, counts, samples);
        else
            publishPreviewMaps(live, counts, samples, spare);
        benchmark::DoNotOptimize(live.generation.load());
    }
    bm.SetItemsProcessed(static_cast<std::int64_t>(bm.iterations()) * 40000);
}

}  // namespace

BENCHMARK(BM_PreviewBuildXyz)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_PreviewBuildLas)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_PreviewBuildE57)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_PreviewBuildE57VsDecode)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_PublishPreview40kTiles)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
