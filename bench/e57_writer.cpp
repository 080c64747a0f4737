// Write rate of one 20,000,000-point scan (double xyz, 8-bit colour, float intensity) to /tmp.

#include <benchmark/benchmark.h>

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
    Cloud() : x(kPoints), y(kPoints), z(kPoints), intensity(kPoints), red(kPoints), green(kPoints), blue(kPoints) {
        for (std::size_t i = 0; i < kPoints; ++i) {
            const double t = double(i);
            x[i] = 512345.0 + 0.0001 * t;
            y[i] = 5401234.0 - 0.0003 * t;
            z[i] = std::sin(t * 1e-3) * 20.0;
            intensity[i] = double(i % 4096) / 4095.0;
            red[i] = std::uint16_t(i & 255);
            green[i] = std::uint16_t((i >> 3) & 255);
            blue[i] = std::uint16_t((i >> 6) & 255);
        }
    }
};

void BM_WriteXyzColourIntensityDouble(benchmark::State& state) {
    static const Cloud cloud;
    const std::string path = "/tmp/bench_e57_writer.e57";
    for (auto _ : state) {
        e57::WriterOptions options;
        e57::Writer writer(path, options);
        e57::Data3D h;
        h.guid = "bench";
        h.pointCount = kPoints;
        auto& f = h.pointFields;
        f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
        f.colorRedField = f.colorGreenField = f.colorBlueField = true;
        f.intensityField = true;
        h.colorLimits.colorRedMaximum = h.colorLimits.colorGreenMaximum = h.colorLimits.colorBlueMaximum = 255;
        h.intensityLimits.intensityMaximum = 1.0;
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
    std::remove(path.c_str());
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kPoints));
}
BENCHMARK(BM_WriteXyzColourIntensityDouble)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
