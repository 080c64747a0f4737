// Raw point decode rate of the E57 reader on a big file named by BRINDLEWICK_BENCH_E57.

#include <benchmark/benchmark.h>

#include <E57SimpleReader.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

void BM_E57ReadAllPoints(benchmark::State& state) {
    const char* path = std::getenv("BRINDLEWICK_BENCH_E57");
    if (path == nullptr || *path == '\0') {
        state.SkipWithError("set BRINDLEWICK_BENCH_E57 to a big .e57 file to run this benchmark");
        return;
    }
    const std::size_t capacity = 262144;
    std::vector<double> x(capacity), y(capacity), z(capacity), intensity(capacity);
    std::vector<std::uint16_t> red(capacity), green(capacity), blue(capacity);
    std::int64_t points = 0;
    for (auto _ : state) {
        e57::Reader reader(path, e57::ReaderOptions{});
        for (std::int64_t scan = 0; scan < reader.GetData3DCount(); ++scan) {
            e57::Data3D header;
            if (!reader.ReadData3D(scan, header)) continue;
            e57::Data3DPointsDouble buffers;
            buffers.cartesianX = x.data();
            buffers.cartesianY = y.data();
            buffers.cartesianZ = z.data();
            if (header.pointFields.intensityField) buffers.intensity = intensity.data();
            if (header.pointFields.colorRedField) buffers.colorRed = red.data();
            if (header.pointFields.colorGreenField) buffers.colorGreen = green.data();
            if (header.pointFields.colorBlueField) buffers.colorBlue = blue.data();
            e57::CompressedVectorReader cv = reader.SetUpData3DPointsData(scan, capacity, buffers);
            unsigned n = 0;
            while ((n = cv.read()) > 0) {
                points += n;
                benchmark::DoNotOptimize(x[n - 1]);
            }
            cv.close();
        }
        reader.Close();
    }
    state.SetItemsProcessed(points);
    state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_E57ReadAllPoints)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
