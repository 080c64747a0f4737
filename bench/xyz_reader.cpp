// XYZ ASCII reader throughput: the sampled preview scan (every 250th line) and the full parse.
// Input files come from BRINDLEWICK_BENCH_XYZ3 / _XYZ6 / _XYZ7 (3, 6 and 7 tokens per line);
// when a variable is unset a small file of that shape is generated into /tmp for a quick run.

#include "points/input/xyz_ascii_reader.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr std::uint64_t kQuickBytes = 64ULL << 20;

std::string generateQuickFile(int tokens) {
    const std::string path = "/tmp/brindlewick-bench-xyz" + std::to_string(tokens) + "-" +
                             std::to_string(::getpid()) + ".xyz";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return {};
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> xy(0.0, 2000.0);
    std::uniform_real_distribution<double> z(-50.0, 150.0);
    std::uint64_t written = 0;
    char line[160];
    while (written < kQuickBytes) {
        int n = 0;
        const double x = 512000.0 + xy(rng), y = 5400000.0 + xy(rng), zz = z(rng);
        if (tokens == 3)
            n = std::snprintf(line, sizeof line, "%.3f %.3f %.3f\n", x, y, zz);
        else if (tokens == 6)
            n = std::snprintf(line, sizeof line, "%.3f %.3f %.3f %u %u %u\n", x, y, zz,
                              unsigned(rng() % 256), unsigned(rng() % 256), unsigned(rng() % 256));
        else
            n = std::snprintf(line, sizeof line, "%.3f %.3f %.3f %u %u %u %.4f\n", x, y, zz,
                              unsigned(rng() % 256), unsigned(rng() % 256), unsigned(rng() % 256),
                              double(rng() % 10000) / 10000.0);
        std::fwrite(line, 1, static_cast<std::size_t>(n), f);
        written += static_cast<std::uint64_t>(n);
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

const InputFile& inputFor(int tokens) {
    static InputFile files[8];
    InputFile& f = files[tokens];
    if (f.path.empty()) {
        const std::string var = "BRINDLEWICK_BENCH_XYZ" + std::to_string(tokens);
        if (const char* env = std::getenv(var.c_str()); env && *env) {
            f.path = env;
        } else {
            std::fprintf(stderr, "%s is not set: using a generated %llu MiB file in /tmp\n",
                         var.c_str(), static_cast<unsigned long long>(kQuickBytes >> 20));
            f.path = generateQuickFile(tokens);
            f.generated = !f.path.empty();
        }
    }
    return f;
}

void runXyz(benchmark::State& state, bool sampled) {
    const int tokens = static_cast<int>(state.range(0));
    const InputFile& input = inputFor(tokens);
    std::error_code ec;
    const auto size = std::filesystem::file_size(input.path, ec);
    if (input.path.empty() || ec) {
        state.SkipWithError("no input file");
        return;
    }
    std::uint64_t lines = 0;
    std::uint64_t points = 0;
    for (auto _ : state) {
        XyzAsciiPointReader reader;
        std::string error;
        if (!reader.open(input.path, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        CloudPoint p;
        double sink = 0.0;
        while (sampled ? reader.readNextSampled(250, p, &error) : reader.readNext(p, &error))
            sink += p.x;
        benchmark::DoNotOptimize(sink);
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            return;
        }
        lines += reader.lineNumber();
        points += reader.acceptedPoints();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(size * state.iterations()));
    state.SetItemsProcessed(static_cast<std::int64_t>(lines));
    state.counters["points"] =
        static_cast<double>(points) / static_cast<double>(state.iterations());
    state.SetLabel(input.generated ? "generated quick file" : input.path);
}

void BM_XyzSampled250(benchmark::State& state) { runXyz(state, true); }
void BM_XyzReadNext(benchmark::State& state) { runXyz(state, false); }

}  // namespace

BENCHMARK(BM_XyzSampled250)->Arg(3)->Arg(6)->Arg(7)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_XyzReadNext)->Arg(3)->Arg(6)->Arg(7)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
