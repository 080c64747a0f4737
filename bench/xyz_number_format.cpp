// %.10g formatting of survey coordinates: ours against std::to_chars at precision 10.

#include <benchmark/benchmark.h>

#include <charconv>
#include <random>
#include <vector>

#include "export/xyz_number_format.h"

namespace {

std::vector<double> lasLikeValues() {
    std::mt19937_64 gen(5);
    std::uniform_int_distribution<std::int64_t> mm(0, 60000);
    std::vector<double> v(1 << 16);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<double>(mm(gen)) * 0.001 + (i % 3 == 0   ? 500000.0
                                                       : i % 3 == 1 ? 5400000.0
                                                                    : 100.0);
    return v;
}

void BM_Format10g(benchmark::State& state) {
    const std::vector<double> values = lasLikeValues();
    char buf[32];
    for (auto _ : state)
        for (double v : values) benchmark::DoNotOptimize(formatDouble10g(buf, v));
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
}

void BM_ToChars10(benchmark::State& state) {
    const std::vector<double> values = lasLikeValues();
    char buf[32];
    for (auto _ : state)
        for (double v : values)
            benchmark::DoNotOptimize(
                std::to_chars(buf, buf + 32, v, std::chars_format::general, 10).ptr);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * values.size()));
}

}  // namespace

BENCHMARK(BM_Format10g);
BENCHMARK(BM_ToChars10);
BENCHMARK_MAIN();
