// What running an export in the helper process costs over running its route in-process.
//   BM_HelperFirstStatus: from the launch to the helper's first status ("Helper process
//     started."), seen as the status file's appearance; then the whole run of a job that
//     cannot be loaded, the helper's fixed cost.
//   BM_HelperVsInProcess: BRINDLEWICK_BENCH_LAS (the raw LAS copy of the western half), each
//     iteration once through the helper (job file written, helper started and waited for) and
//     once in-process through the same dispatch; helper_s and inprocess_s are medians,
//     overhead_pct the median of the paired differences over the in-process median. Outputs go
//     where benchOutputFolder says.
// Needs the e57_brindlewick program of the same build.

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/export_helper_mode.h"
#include "app/export_helper_monitor.h"
#include "bench_support.h"
#include "platform/child_process.h"
#include "points/job/export_job_file.h"
#include "site_job.h"

namespace {

using namespace benchsupport;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

bool runHelper(const fs::path& job, std::uint32_t* exitCode) {
    platform::ChildProcess helper;
    std::string error;
    if (!launchExportHelperProcess(BRINDLEWICK_PROGRAM_PATH, job, &helper, &error)) return false;
    while (helper.waitFor(1000) != platform::ChildProcess::Wait::Ended) {
    }
    return helper.exitCode(exitCode);
}

// User and system seconds of this process (RUSAGE_SELF) or of its reaped children.
double cpuSeconds(int who) {
    rusage ru{};
    ::getrusage(who, &ru);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(ru.ru_utime) + seconds(ru.ru_stime);
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void BM_HelperFirstStatus(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / "brindlewick_bench_helper";
    fs::create_directories(dir);
    const fs::path job = dir / "missing_job.ini";
    const std::string status = helperStatusPath(job).string();
    double firstStatusMs = 0.0, wholeRunMs = 0.0;
    for (auto _ : state) {
        removeQuietly(status);
        platform::ChildProcess helper;
        std::string error;
        const Clock::time_point start = Clock::now();
        if (!launchExportHelperProcess(BRINDLEWICK_PROGRAM_PATH, job, &helper, &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        struct stat st;
        while (::stat(status.c_str(), &st) != 0) std::this_thread::yield();
        const Clock::time_point first = Clock::now();
        while (helper.waitFor(1000) != platform::ChildProcess::Wait::Ended) {
        }
        const Clock::time_point end = Clock::now();
        firstStatusMs += std::chrono::duration<double, std::milli>(first - start).count();
        wholeRunMs += std::chrono::duration<double, std::milli>(end - start).count();
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["first_status_ms"] = n > 0 ? firstStatusMs / n : 0.0;
    state.counters["whole_run_ms"] = n > 0 ? wholeRunMs / n : 0.0;
    fs::remove_all(dir);
}
BENCHMARK(BM_HelperFirstStatus)->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_HelperVsInProcess(benchmark::State& state) {
    const char* input = warmBenchInput(state, "BRINDLEWICK_BENCH_LAS");
    if (!input) return;
    const fs::path dir = benchOutputFolder(input);
    const fs::path output = dir / "bench_helper_out.las";
    const fs::path jobPath = dir / "bench_helper_job.ini";
    const ExportJob job = siteJob(input, output.string(), 50);
    std::vector<double> helperSeconds, inProcessSeconds;
    double helperCpu = 0.0, inProcessCpu = 0.0;
    NullSink sink;
    const auto throughHelper = [&] {
        std::string error;
        const Clock::time_point start = Clock::now();
        const double childCpu = cpuSeconds(RUSAGE_CHILDREN), ownCpu = cpuSeconds(RUSAGE_SELF);
        std::uint32_t exitCode = 1;
        // The job file is part of the helper's cost: the preparation writes it for each export.
        const bool ok = writeExportJobFile(jobPath, job, &error) && runHelper(jobPath, &exitCode) &&
                        exitCode == 0;
        helperSeconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        helperCpu += cpuSeconds(RUSAGE_CHILDREN) - childCpu + cpuSeconds(RUSAGE_SELF) - ownCpu;
        removeQuietly(output);
        return ok;
    };
    const auto inProcess = [&] {
        const Clock::time_point start = Clock::now();
        const double ownCpu = cpuSeconds(RUSAGE_SELF);
        std::streambuf* saved = std::cout.rdbuf(&sink);
        const int code = runHelperExport(job, helperStatusPath(jobPath));
        std::cout.rdbuf(saved);
        inProcessSeconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        inProcessCpu += cpuSeconds(RUSAGE_SELF) - ownCpu;
        removeQuietly(output);
        return code == 0;
    };
    bool helperFirst = true;
    for (auto _ : state) {
        // Alternating the order keeps whatever the first run leaves behind out of the figure.
        const bool ok =
            helperFirst ? throughHelper() && inProcess() : inProcess() && throughHelper();
        helperFirst = !helperFirst;
        if (!ok) {
            state.SkipWithError("an export failed");
            break;
        }
    }
    removeQuietly(jobPath);
    removeQuietly(helperStatusPath(jobPath));
    // Medians, and the median of the paired differences: this machine's noise is far larger
    // than the helper's own cost.
    const std::size_t n = std::min(helperSeconds.size(), inProcessSeconds.size());
    if (n > 0) {
        std::vector<double> differences(n);
        for (std::size_t i = 0; i < n; ++i) differences[i] = helperSeconds[i] - inProcessSeconds[i];
        const double inProcess = median(inProcessSeconds);
        state.counters["helper_s"] = median(helperSeconds);
        state.counters["inprocess_s"] = inProcess;
        state.counters["overhead_pct"] = 100.0 * median(differences) / inProcess;
        // CPU seconds (this process and the helper) are not disturbed by other processes.
        state.counters["cpu_overhead_pct"] = 100.0 * (helperCpu - inProcessCpu) / inProcessCpu;
    }
}
BENCHMARK(BM_HelperVsInProcess)->Unit(benchmark::kSecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
