// CRC-32C rate: the hardware path over one large block and page by page (as the reader and
// writer use it), and the table path for comparison.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "crc32c.h"

namespace {

std::vector<std::uint8_t> block(std::size_t bytes) {
    std::vector<std::uint8_t> v(bytes);
    std::uint32_t s = 12345;
    for (auto& b : v) {
        s = s * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(s >> 24);
    }
    return v;
}

void BM_Crc32cBlock(benchmark::State& state) {
    const auto data = block(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(e57::crc32c(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32cBlock)->Arg(1 << 20);

void BM_Crc32cPages(benchmark::State& state) {
    const auto data = block(1024 * 1024);
    for (auto _ : state) {
        std::uint32_t acc = 0;
        for (std::size_t p = 0; p < data.size(); p += e57::kPhysicalPageSize)
            acc ^= e57::pageChecksum(data.data() + p);
        benchmark::DoNotOptimize(acc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 1024 *
                            e57::kLogicalPageSize);
}
BENCHMARK(BM_Crc32cPages);

void BM_Crc32cPortable(benchmark::State& state) {
    const auto data = block(1 << 20);
    for (auto _ : state) benchmark::DoNotOptimize(e57::crc32cPortable(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
}
BENCHMARK(BM_Crc32cPortable);

}  // namespace

BENCHMARK_MAIN();
