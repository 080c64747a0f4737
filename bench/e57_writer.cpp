// Write rate of one 20,000,000-point scan (double or ScaledInteger xyz with scale 0.001, 8-bit
// colour, float intensity) to /tmp. The source arrays (20M points, 725 MiB) are the caller's; the
// writer itself holds one packet and a 1 MiB page buffer, as peakRSS_MiB shows.

#include <benchmark/benchmark.h>

#include "e57_bench_scan.h"

#include <sys/resource.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "E57SimpleWriter.h"

namespace {

constexpr std::size_t kPoints = 20'000'000;

struct Cloud {
    std::vector<double> x, y, z, intensity;
    std::vector<std::uint16_t> red, green, blue;
    Cloud()
        : x(kPoints),
          y(kPoints),
          z(kPoints),
          intensity(kPoints),
          red(kPoints),
          green(kPoints),
          blue(kPoints) {
        for (std::size_t i = 0; i < kPoints; ++i) {
            const double t = double(i);
            x[i] = std::round((100.0 + 0.0001 * t) * 1000.0) / 1000.0;
            y[i] = std::round((900.0 - 0.00004 * t) * 1000.0) / 1000.0;
            z[i] = std::round(std::sin(t * 1e-3) * 20000.0) / 1000.0;
            intensity[i] = double(i % 4096) / 4095.0;
            red[i] = std::uint16_t(i & 255);
            green[i] = std::uint16_t((i >> 3) & 255);
            blue[i] = std::uint16_t((i >> 6) & 255);
        }
    }
    double mib() const {
        return static_cast<double>(kPoints * (4 * 8 + 3 * 2)) / (1024.0 * 1024.0);
    }
};

double peakRssMiB() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

void writeOnce(const Cloud& cloud, const std::string& path, bool scaled) {
    e57::Writer writer(path, e57::WriterOptions{});
    e57::Data3D h = benchScanHeader("bench", kPoints, scaled);
    e57::Data3DPointsDouble b;
    b.cartesianX = const_cast<double*>(cloud.x.data());
    b.cartesianY = const_cast<double*>(cloud.y.data());
    b.cartesianZ = const_cast<double*>(cloud.z.data());
    b.intensity = const_cast<double*>(cloud.intensity.data());
    b.colorRed = const_cast<std::uint16_t*>(cloud.red.data());
    b.colorGreen = const_cast<std::uint16_t*>(cloud.green.data());
    b.colorBlue = const_cast<std::uint16_t*>(cloud.blue.data());
    writer.WriteData3DData(h, b);
    writer.Close();
}

// Arg: scaled (0/1).
void BM_E57Write(benchmark::State& state) {
    static const Cloud cloud;
    const bool scaled = state.range(0) != 0;
    const std::string path =
        std::string("/tmp/bench_e57_writer_") + (scaled ? "scaled" : "double") + ".e57";
    writeOnce(cloud, path, scaled);  // page cache and file blocks warmed
    for (auto _ : state) {
        // A new file each time, as an export makes: rewriting a truncated file makes ext4 flush
        // the old blocks first, which times the disk rather than the writer.
        state.PauseTiming();
        std::remove(path.c_str());
        state.ResumeTiming();
        writeOnce(cloud, path, scaled);
    }
    std::remove(path.c_str());
    state.SetLabel(scaled ? "scaledInteger xyz" : "double xyz");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPoints));
    state.counters["Mpoints/s"] = benchmark::Counter(
        static_cast<double>(state.iterations() * kPoints) / 1e6, benchmark::Counter::kIsRate);
    state.counters["peakRSS_MiB"] = peakRssMiB();
    state.counters["source_MiB"] = cloud.mib();
}
BENCHMARK(BM_E57Write)
    ->ArgName("scaled")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
