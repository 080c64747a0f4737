// LAS reader throughput: sequential readNext and the preview build's every-250th-record seeks.
// The input comes from BRINDLEWICK_BENCH_LAS; when unset a small format-3 file is generated
// into /tmp for a quick run.

#include "points/input/las_reader.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::uint32_t kQuickRecords = 4000000;

template <typename T>
void put(std::vector<char>& bytes, std::size_t at, T value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

std::string generateQuickFile() {
    const std::string path = "/tmp/brindlewick-bench-las-" + std::to_string(::getpid()) + ".las";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return {};
    std::vector<char> header(227, '\0');
    std::memcpy(header.data(), "LASF", 4);
    put<std::uint8_t>(header, 24, 1);
    put<std::uint8_t>(header, 25, 2);
    put<std::uint16_t>(header, 94, 227);
    put<std::uint32_t>(header, 96, 227);
    put<std::uint8_t>(header, 104, 3);
    put<std::uint16_t>(header, 105, 34);
    put<std::uint32_t>(header, 107, kQuickRecords);
    for (int i = 0; i < 3; ++i) put<double>(header, 131 + 8 * static_cast<std::size_t>(i), 0.001);
    std::fwrite(header.data(), 1, header.size(), f);
    std::vector<char> rec(34, '\0');
    for (std::uint32_t i = 0; i < kQuickRecords; ++i) {
        put<std::int32_t>(rec, 0, static_cast<std::int32_t>(i % 100000));
        put<std::int32_t>(rec, 4, static_cast<std::int32_t>(i / 100));
        put<std::int32_t>(rec, 8, static_cast<std::int32_t>(i % 777));
        put<std::uint16_t>(rec, 12, static_cast<std::uint16_t>(i));
        put<std::uint16_t>(rec, 28, static_cast<std::uint16_t>(i * 3));
        put<std::uint16_t>(rec, 30, static_cast<std::uint16_t>(i * 5));
        put<std::uint16_t>(rec, 32, static_cast<std::uint16_t>(i * 7));
        std::fwrite(rec.data(), 1, rec.size(), f);
    }
    std::fclose(f);
    return path;
}

struct InputFile {
    std::string path;
    bool generated = false;
    ~InputFile() {
        if (generated) std::filesystem::remove(path);
    }
};

const InputFile& input() {
    static InputFile f;
    if (f.path.empty()) {
        if (const char* env = std::getenv("BRINDLEWICK_BENCH_LAS"); env && *env) {
            f.path = env;
        } else {
            std::fprintf(
                stderr,
                "BRINDLEWICK_BENCH_LAS is not set: using a generated %u-record file in /tmp\n",
                kQuickRecords);
            f.path = generateQuickFile();
            f.generated = !f.path.empty();
        }
    }
    return f;
}

void BM_LasSequential(benchmark::State& state) {
    const InputFile& in = input();
    std::uint64_t records = 0;
    for (auto _ : state) {
        LasBinaryPointReader reader;
        std::string error;
        if (!reader.open(in.path, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        CloudPoint p;
        double sink = 0.0;
        while (reader.readNext(p, &error)) sink += p.x + p.red + reader.record()[0];
        benchmark::DoNotOptimize(sink);
        records += reader.nextPointIndex();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(records));
    state.SetLabel(in.generated ? "generated quick file" : in.path);
}

// Reads records 0, 250, 500, ... by seeking, as the preview build does. Items are the records
// covered (the point count), the rate the preview reaches through the file.
void BM_LasEvery250th(benchmark::State& state) {
    const InputFile& in = input();
    std::uint64_t covered = 0;
    std::uint64_t sampled = 0;
    for (auto _ : state) {
        LasBinaryPointReader reader;
        std::string error;
        if (!reader.open(in.path, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        CloudPoint p;
        double sink = 0.0;
        for (std::uint64_t i = 0; i < reader.pointCount(); i += 250) {
            reader.seekToRecord(i);
            if (!reader.readNext(p, &error)) break;
            sink += p.x;
            ++sampled;
        }
        benchmark::DoNotOptimize(sink);
        covered += reader.pointCount();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(covered));
    state.counters["sampled_per_s"] =
        benchmark::Counter(static_cast<double>(sampled), benchmark::Counter::kIsRate);
    state.SetLabel(in.generated ? "generated quick file" : in.path);
}

}  // namespace

BENCHMARK(BM_LasSequential)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LasEvery250th)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
