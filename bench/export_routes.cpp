// The five LAS/XYZ export routes over whole benchmark files (the demo site, tile size 1 m), each
// against its own input:
//   BRINDLEWICK_BENCH_LAS   LAS 1.2 format 2 (raw copy, LAS -> XYZ, LAS -> E57, plain copy)
//   BRINDLEWICK_BENCH_XYZ3  XYZ, three columns (synthetic LAS)
//   BRINDLEWICK_BENCH_XYZ6  XYZ with colour (synthetic LAS, XYZ ASCII)
//   BRINDLEWICK_BENCH_E57   E57 with colour (synthetic LAS, XYZ ASCII)
// A benchmark whose variable is unset is skipped. Outputs go to out/ beside the input, on the
// same file system, and are removed after every iteration. "50pct" selects the western half of
// the site's tiles, "100pct" all of them. GB/s is input bytes (1e9) per second; Mpts/s input
// points, Mwritten/s written points (lines for XYZ output). peakRSS_MiB is the whole process's
// peak: run one benchmark per process (scripts/bench-export-memory.sh) to read it per route.
// "sweep" runs a route over a LAS file of the same size and site written row by row (see
// sweepLasBeside), the order survey files come in.
// BM_PlainCopy copies the LAS input with a 1 MiB read/write loop (0) or copy_file_range (1): the
// floor the raw LAS copy is measured against.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.h"
#include "site_job.h"
#include "demo_cloud/demo_cloud.h"
#include "export/export_result.h"
#include "export/las_binary_export.h"
#include "export/las_to_e57_export.h"
#include "export/synthetic_las_export.h"
#include "export/xyz_ascii_export.h"
#include "points/job/export_job.h"

namespace {

using namespace benchsupport;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Route = bool (*)(const ExportJob&, const std::string&, ExportResult*, std::string*);

fs::path outputFolderFor(const std::string& input) { return benchOutputFolder(input); }

// Swallows the routes' console lines and notes when the first line holding `marker` arrives
// (the synthetic LAS route prints its bounds line between its two passes).
class MarkingSink : public std::streambuf {
public:
    explicit MarkingSink(std::string_view marker) : marker_(marker) {}
    bool seen() const { return seen_; }
    Clock::time_point when() const { return when_; }

protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        if (!seen_ && !marker_.empty() &&
            std::string_view(s, static_cast<std::size_t>(n)).find(marker_) !=
                std::string_view::npos) {
            seen_ = true;
            when_ = Clock::now();
        }
        return n;
    }

private:
    std::string_view marker_;
    bool seen_ = false;
    Clock::time_point when_{};
};

class ConsoleRedirect {
public:
    explicit ConsoleRedirect(std::streambuf* sink) : saved_(std::cout.rdbuf(sink)) {}
    ~ConsoleRedirect() { std::cout.rdbuf(saved_); }
    ConsoleRedirect(const ConsoleRedirect&) = delete;
    ConsoleRedirect& operator=(const ConsoleRedirect&) = delete;

private:
    std::streambuf* saved_;
};

void runRoute(benchmark::State& state, Route route, const char* input, int percent,
              const char* outExtension, const char* passMarker) {
    if (!warmPageCache(input)) {
        state.SkipWithError((std::string("cannot read ") + input).c_str());
        return;
    }
    const fs::path dir = outputFolderFor(input);
    const fs::path output = dir / (std::string("bench_export_out") + outExtension);
    const fs::path status = dir / "bench_export.status.ini";
    removeQuietly(output);
    const ExportJob job = siteJob(input, output.string(), percent);
    const auto inputBytes = static_cast<std::int64_t>(fs::file_size(input));

    std::uint64_t read = 0;
    std::uint64_t written = 0;
    double outputMiB = 0.0;
    double pass1Seconds = 0.0;
    double pass2Seconds = 0.0;
    for (auto _ : state) {
        ExportResult result;
        std::string error;
        MarkingSink sink(passMarker ? passMarker : "");
        const Clock::time_point start = Clock::now();
        bool ok = false;
        {
            ConsoleRedirect quiet(&sink);
            ok = route(job, status.string(), &result, &error);
        }
        const Clock::time_point end = Clock::now();
        state.PauseTiming();
        removeQuietly(output);
        if (!ok || !result.success || result.writtenPoints == 0) {
            state.SkipWithError(ok ? "the route wrote no point"
                                   : ("route failed: " + error).c_str());
            state.ResumeTiming();
            break;
        }
        read += result.inputPoints;
        written += result.writtenPoints;
        outputMiB = result.outputSizeMB;
        if (sink.seen()) {
            pass1Seconds += std::chrono::duration<double>(sink.when() - start).count();
            pass2Seconds += std::chrono::duration<double>(end - sink.when()).count();
        }
        state.ResumeTiming();
    }
    removeQuietly(status);
    state.SetBytesProcessed(inputBytes * static_cast<std::int64_t>(state.iterations()));
    const double n = static_cast<double>(state.iterations());
    state.counters["GB/s"] =
        benchmark::Counter(static_cast<double>(inputBytes) * n / 1e9, benchmark::Counter::kIsRate);
    state.counters["Mpts/s"] =
        benchmark::Counter(static_cast<double>(read) / 1e6, benchmark::Counter::kIsRate);
    state.counters["Mwritten/s"] =
        benchmark::Counter(static_cast<double>(written) / 1e6, benchmark::Counter::kIsRate);
    state.counters["in_Mpts"] = n > 0 ? static_cast<double>(read) / 1e6 / n : 0.0;
    state.counters["out_MiB"] = outputMiB;
    if (passMarker && pass1Seconds > 0.0) {
        // Each pass reads the whole input.
        state.counters["pass1_s"] = pass1Seconds / n;
        state.counters["pass2_s"] = pass2Seconds / n;
        state.counters["pass1_Mpts/s"] = static_cast<double>(read) / 1e6 / pass1Seconds;
        state.counters["pass2_Mpts/s"] = static_cast<double>(read) / 1e6 / pass2Seconds;
    }
    state.counters["peakRSS_MiB"] = peakRssMiB();
}

void BM_Route(benchmark::State& state, Route route, const char* envName, int percent,
              const char* outExtension, const char* passMarker) {
    const char* input = envPath(envName);
    if (!input) {
        state.SkipWithError((std::string(envName) + " is not set").c_str());
        return;
    }
    runRoute(state, route, input, percent, outExtension, passMarker);
}

// The generated site comes in random order, the worst case for the selection's last-tile memo.
// Survey files arrive in spatial runs: this LAS 1.2 format 2 file of as many records as the
// benchmark LAS holds sweeps the same site row by row (y rows, x along each), written once
// beside it.
std::string sweepLasBeside(const char* lasPath) {
    const fs::path path = fs::path(lasPath).parent_path() / "bench_las12-2_sweep.las";
    const auto records = static_cast<std::uint64_t>((fs::file_size(lasPath) - 227) / 26);
    if (fs::exists(path) && fs::file_size(path) == 227 + 26 * records) return path.string();
    const auto side =
        static_cast<std::uint64_t>(std::ceil(std::sqrt(static_cast<double>(records))));
    const double stepMm = democloud::kSiteSize * 1000.0 / static_cast<double>(side);
    std::vector<char> header(227, 0);
    const auto put = [&](std::size_t at, const auto value) {
        std::memcpy(header.data() + at, &value, sizeof value);
    };
    std::memcpy(header.data(), "LASF", 4);
    header[24] = 1;
    header[25] = 2;
    put(94, std::uint16_t{227});
    put(96, std::uint32_t{227});
    header[104] = 2;
    put(105, std::uint16_t{26});
    put(107, static_cast<std::uint32_t>(records));
    const double tail[] = {0.001,
                           0.001,
                           0.001,
                           democloud::kOriginX,
                           democloud::kOriginY,
                           democloud::kOriginZ,
                           democloud::kOriginX + democloud::kSiteSize,
                           democloud::kOriginX,
                           democloud::kOriginY + democloud::kSiteSize,
                           democloud::kOriginY,
                           democloud::kOriginZ + 30.0,
                           democloud::kOriginZ};
    for (std::size_t i = 0; i < std::size(tail); ++i) put(131 + 8 * i, tail[i]);
    const std::string partial = path.string() + ".partial";
    const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return {};
    bool ok = ::write(fd, header.data(), header.size()) == 227;
    std::vector<char> block;
    block.reserve(26 * 40000);
    for (std::uint64_t i = 0; i < records && ok; ++i) {
        char rec[26] = {};
        const auto x = static_cast<std::int32_t>(static_cast<double>(i % side) * stepMm);
        const auto y = static_cast<std::int32_t>(static_cast<double>(i / side) * stepMm);
        const auto z = static_cast<std::int32_t>((i * 7919) % 30000);
        std::memcpy(rec, &x, 4);
        std::memcpy(rec + 4, &y, 4);
        std::memcpy(rec + 8, &z, 4);
        rec[14] = 9;
        block.insert(block.end(), rec, rec + 26);
        if (block.size() == block.capacity() || i + 1 == records) {
            ok = ::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
            block.clear();
        }
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok) return {};
    fs::rename(partial, path);
    return path.string();
}

void BM_RouteSweepLas(benchmark::State& state, Route route, int percent, const char* outExtension) {
    const char* las = envPath("BRINDLEWICK_BENCH_LAS");
    if (!las) {
        state.SkipWithError("BRINDLEWICK_BENCH_LAS is not set");
        return;
    }
    const std::string input = sweepLasBeside(las);
    if (input.empty()) {
        state.SkipWithError("cannot write the sweep-ordered LAS beside BRINDLEWICK_BENCH_LAS");
        return;
    }
    runRoute(state, route, input.c_str(), percent, outExtension, nullptr);
}

// False with errno set when the copy failed.
bool copyWithReadWrite(int in, int out) {
    std::vector<char> buffer(std::size_t{1} << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w =
                ::write(out, buffer.data() + done, static_cast<std::size_t>(n - done));
            if (w < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            done += w;
        }
    }
}

bool copyWithCopyFileRange(int in, int out) {
    for (;;) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, std::size_t{1} << 30, 0);
        if (n == 0) return true;
        if (n < 0 && errno != EINTR) return false;
    }
}

// Arg: 0 read/write loop of 1 MiB, 1 copy_file_range.
void BM_PlainCopy(benchmark::State& state) {
    const char* input = warmBenchInput(state, "BRINDLEWICK_BENCH_LAS");
    if (!input) return;
    const fs::path output = outputFolderFor(input) / "bench_plain_copy.las";
    removeQuietly(output);
    const auto inputBytes = static_cast<std::int64_t>(fs::file_size(input));
    const bool kernelCopy = state.range(0) != 0;
    for (auto _ : state) {
        const int in = ::open(input, O_RDONLY | O_CLOEXEC);
        const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        const bool ok = in >= 0 && out >= 0 &&
                        (kernelCopy ? copyWithCopyFileRange(in, out) : copyWithReadWrite(in, out));
        const std::string reason = std::strerror(errno);
        if (in >= 0) ::close(in);
        const bool closed = out >= 0 && ::close(out) == 0;
        state.PauseTiming();
        removeQuietly(output);
        if (!ok || !closed) {
            state.SkipWithError(("copy failed: " + reason).c_str());
            state.ResumeTiming();
            break;
        }
        state.ResumeTiming();
    }
    state.SetLabel(kernelCopy ? "copy_file_range" : "read/write 1 MiB");
    state.SetBytesProcessed(inputBytes * static_cast<std::int64_t>(state.iterations()));
    state.counters["GB/s"] = benchmark::Counter(
        static_cast<double>(inputBytes) * static_cast<double>(state.iterations()) / 1e9,
        benchmark::Counter::kIsRate);
    state.counters["peakRSS_MiB"] = peakRssMiB();
}

constexpr const char* kLas = "BRINDLEWICK_BENCH_LAS";
constexpr const char* kXyz3 = "BRINDLEWICK_BENCH_XYZ3";
constexpr const char* kXyz6 = "BRINDLEWICK_BENCH_XYZ6";
constexpr const char* kE57 = "BRINDLEWICK_BENCH_E57";
constexpr const char* kPassMarker = "[SYNTHETIC LAS EXPORT] bounds and scale";

}  // namespace

BENCHMARK(BM_PlainCopy)
    ->ArgName("kernel")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_CAPTURE(BM_Route, LasBinary_las_50pct, &exportLasBinary, kLas, 50, ".las", nullptr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Route, LasBinary_las_100pct, &exportLasBinary, kLas, 100, ".las", nullptr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_CAPTURE(BM_RouteSweepLas, LasBinary_sweep_50pct, &exportLasBinary, 50, ".las")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_RouteSweepLas, LasToXyz_sweep_50pct, &exportLasToXyz, 50, ".xyz")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_CAPTURE(BM_Route, SyntheticLas_xyz3_100pct, &exportSyntheticLas, kXyz3, 100, ".las",
                  kPassMarker)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Route, SyntheticLas_xyz6_100pct, &exportSyntheticLas, kXyz6, 100, ".las",
                  kPassMarker)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Route, SyntheticLas_e57_100pct, &exportSyntheticLas, kE57, 100, ".las",
                  kPassMarker)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_CAPTURE(BM_Route, XyzAscii_xyz6_100pct, &exportXyzAscii, kXyz6, 100, ".xyz", nullptr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Route, XyzAscii_e57_100pct, &exportXyzAscii, kE57, 100, ".xyz", nullptr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Route, LasToXyz_las_50pct, &exportLasToXyz, kLas, 50, ".xyz", nullptr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Route, LasToXyz_las_100pct, &exportLasToXyz, kLas, 100, ".xyz", nullptr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_CAPTURE(BM_Route, LasToE57_las_100pct, &exportLasToE57, kLas, 100, ".e57", nullptr)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
