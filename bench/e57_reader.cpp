// Read rate of the E57 reader on a page-cached scan of 20,000,000 points: double xyz or
// ScaledInteger xyz (scale 0.001), 8-bit colour and float intensity, every checksum checked.
// The files are written in /tmp by a child process when absent, so the reader's peak RSS is not
// polluted by the writer's source arrays. Run with a filter per case to see peak RSS per case.
// BRINDLEWICK_BENCH_E57 names an extra file to read with a 262,144-point buffer.

#include <benchmark/benchmark.h>

#include "e57_bench_scan.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "E57SimpleReader.h"
#include "E57SimpleWriter.h"
#include "support/e57_columns.h"

namespace {

constexpr std::size_t kPoints = 20'000'000;

std::string benchPath(bool scaled, std::size_t points) {
    return std::string("/tmp/bench_e57_reader_") + (scaled ? "scaled_" : "double_") +
           std::to_string(points) + ".e57";
}

void writeCloud(const std::string& path, bool scaled, std::size_t points) {
    testsupport::E57Columns p(points);
    for (std::size_t i = 0; i < points; ++i) {
        const double t = double(i);
        // Millimetre values, so both codings hold the same cloud.
        p.x[i] = std::round((100.0 + 0.0001 * t) * 1000.0) / 1000.0;
        p.y[i] = std::round((900.0 - 0.00004 * t) * 1000.0) / 1000.0;
        p.z[i] = std::round(std::sin(t * 1e-3) * 20000.0) / 1000.0;
        p.intensity[i] = double(i % 4096) / 4095.0;
        p.red[i] = std::uint16_t(i & 255);
        p.green[i] = std::uint16_t((i >> 3) & 255);
        p.blue[i] = std::uint16_t((i >> 6) & 255);
    }
    const std::string tmp = path + ".part";
    {
        e57::Writer writer(tmp, e57::WriterOptions{});
        e57::Data3D h = benchScanHeader("bench-reader", static_cast<int64_t>(points), scaled);
        const e57::Data3DPointsDouble b = p.buffers(true, true);
        writer.WriteData3DData(h, b);
        writer.Close();
    }
    std::rename(tmp.c_str(), path.c_str());
}

// Writes the file in a child process when it is absent; false when that failed.
bool ensureCloud(const std::string& path, bool scaled, std::size_t points) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return true;
    const pid_t child = ::fork();
    if (child == 0) {
        try {
            writeCloud(path, scaled, points);
        } catch (...) {
            ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

double peakRssMiB() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

std::int64_t readAll(const std::string& path, std::size_t capacity,
                     testsupport::E57Columns& columns) {
    std::int64_t points = 0;
    e57::Reader reader(path, e57::ReaderOptions{});
    for (std::int64_t scan = 0; scan < reader.GetData3DCount(); ++scan) {
        e57::Data3D header;
        if (!reader.ReadData3D(scan, header)) continue;
        const auto& f = header.pointFields;
        e57::CompressedVectorReader cv = reader.SetUpData3DPointsData(
            scan, capacity,
            columns.buffers(f.intensityField,
                            f.colorRedField && f.colorGreenField && f.colorBlueField));
        unsigned n = 0;
        while ((n = cv.read()) > 0) {
            points += n;
            benchmark::DoNotOptimize(columns.x[n - 1]);
            benchmark::DoNotOptimize(columns.blue[n - 1]);
        }
        cv.close();
    }
    reader.Close();
    return points;
}

void runRead(benchmark::State& state, const std::string& path, std::size_t capacity) {
    testsupport::E57Columns columns(capacity);
    readAll(path, capacity, columns);  // warm the page cache
    std::int64_t points = 0;
    for (auto _ : state) points += readAll(path, capacity, columns);
    state.SetItemsProcessed(points);
    state.counters["Mpoints/s"] =
        benchmark::Counter(static_cast<double>(points) / 1e6, benchmark::Counter::kIsRate);
    state.counters["peakRSS_MiB"] = peakRssMiB();
    state.counters["buffers_MiB"] =
        static_cast<double>(capacity * (4 * 8 + 3 * 2)) / (1024.0 * 1024.0);
}

// Args: scaled (0/1), points per read() call, points in the scan.
void BM_E57Read(benchmark::State& state) {
    const bool scaled = state.range(0) != 0;
    const auto capacity = static_cast<std::size_t>(state.range(1));
    const auto points = static_cast<std::size_t>(state.range(2));
    const std::string path = benchPath(scaled, points);
    if (!ensureCloud(path, scaled, points)) {
        state.SkipWithError("could not write the benchmark file in /tmp");
        return;
    }
    state.SetLabel(scaled ? "scaledInteger xyz" : "double xyz");
    runRead(state, path, capacity);
}
BENCHMARK(BM_E57Read)
    ->ArgNames({"scaled", "buffer", "points"})
    ->Args({0, 1'000'000, kPoints})
    ->Args({0, 100'000, kPoints})
    ->Args({1, 1'000'000, kPoints})
    ->Args({1, 100'000, kPoints})
    ->Args({0, 1'000'000, kPoints / 10})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_E57ReadFile(benchmark::State& state) {
    const char* path = std::getenv("BRINDLEWICK_BENCH_E57");
    if (path == nullptr || *path == '\0') {
        state.SkipWithError("set BRINDLEWICK_BENCH_E57 to a big .e57 file to run this benchmark");
        return;
    }
    runRead(state, path, 262144);
}
BENCHMARK(BM_E57ReadFile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
