#pragma once

// What the benchmark programs share: their inputs from the environment, a warm page cache, the
// process's peak memory, a console that swallows the routes' lines, and where outputs go.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <streambuf>
#include <string>
#include <vector>

namespace benchsupport {

// The value of an environment variable, or null when it is unset or empty.
inline const char* envPath(const char* name) {
    const char* v = std::getenv(name);
    return (v && *v) ? v : nullptr;
}

inline double peakRssMiB() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

// Reads the file once so a benchmark starts from the page cache; false when unreadable.
inline bool warmPageCache(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::vector<char> buffer(std::size_t{1} << 20);
    ssize_t n = 0;
    while ((n = ::read(fd, buffer.data(), buffer.size())) > 0) {
    }
    ::close(fd);
    return n == 0;
}

// The input named by the environment variable, read once into the page cache; null (and the
// benchmark skipped with the reason) when it is unset or unreadable.
inline const char* warmBenchInput(benchmark::State& state, const char* variable) {
    const char* input = envPath(variable);
    if (!input) {
        state.SkipWithError((std::string(variable) + " is not set").c_str());
        return nullptr;
    }
    if (!warmPageCache(input)) {
        state.SkipWithError((std::string("cannot read ") + input).c_str());
        return nullptr;
    }
    return input;
}

// Outputs go to BRINDLEWICK_BENCH_OUT when set (a tmpfs there takes the disk out of the
// figures), otherwise to out/ beside the input; the folder is created.
inline std::filesystem::path benchOutputFolder(const std::string& input) {
    const char* chosen = envPath("BRINDLEWICK_BENCH_OUT");
    const std::filesystem::path dir = chosen
                                          ? std::filesystem::path(chosen)
                                          : std::filesystem::absolute(input).parent_path() / "out";
    std::filesystem::create_directories(dir);
    return dir;
}

inline void removeQuietly(const std::filesystem::path& path) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

// A stream buffer that drops everything, for the routes' console lines.
class NullSink : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace benchsupport
