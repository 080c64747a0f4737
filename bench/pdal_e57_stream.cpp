// Stream rate of "readers.e57" through a StreamCallbackFilter (FixedPointTable of 100,000 points,
// callback reading X, Y, Z and colour, as the preview build does) against the raw e57::Reader
// decode rate of the same file. The 20,000,000-point scan with 8-bit colour is written to /tmp
// when absent; BRINDLEWICK_BENCH_E57 names another file to use instead.

#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "E57SimpleReader.h"
#include "E57SimpleWriter.h"
#include "pdal/Options.hpp"
#include "pdal/PointRef.hpp"
#include "pdal/PointTable.hpp"
#include "pdal/StageFactory.hpp"
#include "pdal/filters/StreamCallbackFilter.hpp"

namespace {

constexpr std::size_t kPoints = 20'000'000;
constexpr std::size_t kChunk = 100'000;

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

void writeCloud(const std::string& path) {
    std::vector<double> x(kPoints), y(kPoints), z(kPoints);
    std::vector<std::uint16_t> red(kPoints), green(kPoints), blue(kPoints);
    for (std::size_t i = 0; i < kPoints; ++i) {
        const double t = double(i);
        x[i] = 100.0 + 0.0001 * t;
        y[i] = 900.0 - 0.00004 * t;
        z[i] = std::sin(t * 1e-3) * 20.0;
        red[i] = std::uint16_t(i & 255);
        green[i] = std::uint16_t((i >> 3) & 255);
        blue[i] = std::uint16_t((i >> 6) & 255);
    }
    const std::string tmp = path + ".part";
    {
        e57::WriterOptions options;
        e57::Writer writer(tmp, options);
        e57::Data3D h;
        h.guid = "bench-pdal-stream";
        h.pointCount = kPoints;
        auto& f = h.pointFields;
        f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
        f.pointRangeNodeType = e57::NumericalNodeType::Double;
        f.colorRedField = f.colorGreenField = f.colorBlueField = true;
        h.colorLimits.colorRedMaximum = h.colorLimits.colorGreenMaximum =
            h.colorLimits.colorBlueMaximum = 255;
        e57::Data3DPointsDouble b;
        b.cartesianX = x.data();
        b.cartesianY = y.data();
        b.cartesianZ = z.data();
        b.colorRed = red.data();
        b.colorGreen = green.data();
        b.colorBlue = blue.data();
        writer.WriteData3DData(h, b);
        writer.Close();
    }
    std::rename(tmp.c_str(), path.c_str());
}

const std::string& benchFile() {
    static const std::string path = [] {
        if (const char* env = std::getenv("BRINDLEWICK_BENCH_E57"); env && *env)
            return std::string(env);
        const std::string p = "/tmp/bench_pdal_e57_stream_" + std::to_string(kPoints) + ".e57";
        if (!exists(p)) writeCloud(p);
        return p;
    }();
    return path;
}

// Every point of every scan decoded into buffers of kChunk, all delivered fields bound.
void BM_RawE57Decode(benchmark::State& state) {
    const std::string& path = benchFile();
    std::uint64_t points = 0;
    for (auto _ : state) {
        e57::Reader reader(path, e57::ReaderOptions{});
        std::vector<double> x(kChunk), y(kChunk), z(kChunk), intensity(kChunk);
        std::vector<std::uint16_t> r(kChunk), g(kChunk), b(kChunk);
        double sum = 0;
        for (int64_t s = 0; s < reader.GetData3DCount(); ++s) {
            e57::Data3D h;
            reader.ReadData3D(s, h);
            e57::Data3DPointsDouble d;
            const auto& f = h.pointFields;
            if (f.cartesianXField)
                d.cartesianX = x.data(), d.cartesianY = y.data(), d.cartesianZ = z.data();
            if (f.colorRedField)
                d.colorRed = r.data(), d.colorGreen = g.data(), d.colorBlue = b.data();
            if (f.intensityField) d.intensity = intensity.data();
            auto cv = reader.SetUpData3DPointsData(s, kChunk, d);
            while (unsigned n = cv.read()) {
                points += n;
                sum += x[n - 1] + r[n - 1];
            }
            cv.close();
        }
        benchmark::DoNotOptimize(sum);
    }
    state.counters["points/s"] = benchmark::Counter(double(points), benchmark::Counter::kIsRate);
}

// range(0): 1 reads X, Y, Z and colour in the callback; 0 only counts the points.
void BM_PdalE57Stream(benchmark::State& state) {
    const bool readFields = state.range(0) != 0;
    const std::string& path = benchFile();
    std::uint64_t points = 0;
    for (auto _ : state) {
        pdal::StageFactory factory(true);
        pdal::Stage* reader = factory.createStage("readers.e57");
        pdal::Options options;
        options.add("filename", path);
        reader->setOptions(options);
        pdal::FixedPointTable table(kChunk);
        pdal::StreamCallbackFilter filter;
        filter.setInput(*reader);
        bool rgb = false;
        // Independent sums, so the callback is not one long chain of dependent additions.
        double sx = 0, sy = 0, sz = 0;
        std::uint64_t sc = 0;
        filter.setCallback([&](pdal::PointRef& p) {
            ++points;
            if (!readFields) return true;
            sx += p.getFieldAs<double>(pdal::Dimension::Id::X);
            sy += p.getFieldAs<double>(pdal::Dimension::Id::Y);
            sz += p.getFieldAs<double>(pdal::Dimension::Id::Z);
            if (rgb)
                sc += p.getFieldAs<std::uint16_t>(pdal::Dimension::Id::Red) +
                      p.getFieldAs<std::uint16_t>(pdal::Dimension::Id::Green) +
                      p.getFieldAs<std::uint16_t>(pdal::Dimension::Id::Blue);
            return true;
        });
        filter.prepare(table);
        rgb = table.layout()->hasDim(pdal::Dimension::Id::Red) &&
              table.layout()->hasDim(pdal::Dimension::Id::Green) &&
              table.layout()->hasDim(pdal::Dimension::Id::Blue);
        filter.execute(table);
        benchmark::DoNotOptimize(sx + sy + sz);
        benchmark::DoNotOptimize(sc);
    }
    state.counters["points/s"] = benchmark::Counter(double(points), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_RawE57Decode)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PdalE57Stream)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_MAIN();
