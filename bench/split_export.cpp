// The XYZ single-pass split over a whole benchmark file of the demo site (tile size 1 m) with
// eight outputs: four vertical selections and four top selections of 12 x 12 tiles each, the
// tops overlapping the verticals' tiles in part.
//   BRINDLEWICK_BENCH_XYZ6  XYZ with colour
//   BRINDLEWICK_BENCH_XYZ3  XYZ, three columns
// A benchmark whose variable is unset is skipped. Outputs go to a folder in out/ beside the
// input and are removed after every iteration. Mlines/s is input lines per second, Mkept/s
// points written across outputs; peakRSS_MiB is the whole process's peak.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "bench_support.h"
#include "demo_cloud/demo_cloud.h"
#include "export/export_result.h"
#include "export/split_export.h"

namespace {

using namespace benchsupport;

namespace fs = std::filesystem;

// Reads the file once, so the benchmark starts from the page cache, and counts its lines
// (a last line without '\n' included); 0 when unreadable.
std::uint64_t warmAndCountLines(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    std::vector<char> buffer(std::size_t{1} << 20);
    std::uint64_t lines = 0;
    char last = '\n';
    ssize_t n = 0;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
        for (const char* p = buffer.data();
             (p = static_cast<const char*>(std::memchr(p, '\n', buffer.data() + n - p))) != nullptr;
             ++p)
            ++lines;
        last = buffer[static_cast<std::size_t>(n) - 1];
    }
    ::close(fd);
    if (n < 0) return 0;
    return lines + (last != '\n' ? 1 : 0);
}

std::vector<TileIndex> tileBlock(std::int64_t x0, std::int64_t y0, std::int64_t side) {
    std::vector<TileIndex> tiles;
    for (std::int64_t ix = x0; ix < x0 + side; ++ix)
        for (std::int64_t iy = y0; iy < y0 + side; ++iy) tiles.push_back({ix, iy});
    return tiles;
}

void BM_XyzSplit8(benchmark::State& state, const char* envName) {
    const char* input = envPath(envName);
    if (!input) {
        state.SkipWithError((std::string(envName) + " is not set").c_str());
        return;
    }
    const std::uint64_t lines = warmAndCountLines(input);
    if (lines == 0) {
        state.SkipWithError((std::string("cannot read ") + input).c_str());
        return;
    }
    const fs::path dir = benchOutputFolder(input) / ("split_export_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string output = (dir / "bench_split.e57").string();

    const auto x0 = static_cast<std::int64_t>(std::floor(democloud::kOriginX));
    const auto y0 = static_cast<std::int64_t>(std::floor(democloud::kOriginY));
    std::vector<SelectedHeightRange> vertical;
    std::vector<SavedTileSelection> top;
    for (std::int64_t k = 0; k < 4; ++k) {
        SelectedHeightRange range;
        range.tiles = tileBlock(x0 + 12 * k, y0, 12);
        range.zMin = democloud::kOriginZ + 20.0;
        range.zMax = democloud::kOriginZ + 2.0 * static_cast<double>(k);  // stored reversed
        vertical.push_back(range);
        top.push_back(SavedTileSelection{tileBlock(x0 + 6 + 12 * k, y0 + 6 + 12 * k, 12)});
    }
    const TileCountMap tileCounts;

    std::uint64_t kept = 0;
    for (auto _ : state) {
        ExportResult result;
        std::string error;
        bool ok = false;
        {
            NullSink sink;
            std::streambuf* saved = std::cout.rdbuf(&sink);
            ok = exportSplitSelections(input, output, vertical, top, tileCounts, 1.0, lines, false,
                                       &result, &error, nullptr, true);
            std::cout.rdbuf(saved);
        }
        state.PauseTiming();
        for (const auto& entry : fs::directory_iterator(dir)) fs::remove(entry.path());
        if (!ok) {
            state.SkipWithError(("split failed: " + error).c_str());
            state.ResumeTiming();
            break;
        }
        kept += result.writtenPoints;
        state.ResumeTiming();
    }
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    const double n = static_cast<double>(state.iterations());
    state.counters["Mlines/s"] =
        benchmark::Counter(static_cast<double>(lines) * n / 1e6, benchmark::Counter::kIsRate);
    state.counters["Mkept/s"] =
        benchmark::Counter(static_cast<double>(kept) / 1e6, benchmark::Counter::kIsRate);
    state.counters["in_Mlines"] = static_cast<double>(lines) / 1e6;
    state.counters["peakRSS_MiB"] = peakRssMiB();
}

}  // namespace

BENCHMARK_CAPTURE(BM_XyzSplit8, xyz6, "BRINDLEWICK_BENCH_XYZ6")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_XyzSplit8, xyz3, "BRINDLEWICK_BENCH_XYZ3")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
