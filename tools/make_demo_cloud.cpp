// make_demo_cloud --points N --format FORMAT --out PATH [--seed S]
// Writes a deterministic synthetic survey site for the demo, the tests and the benchmarks.

#include "demo_cloud/demo_cloud.h"

#include <chrono>
#include <charconv>
#include <cstdint>
#include <iostream>
#include <string>
#include <string_view>

namespace {

int usage(const std::string& problem) {
    if (!problem.empty()) std::cerr << "ERROR: " << problem << "\n";
    std::cerr << "usage: make_demo_cloud --points N --format FORMAT --out PATH [--seed S]\n"
                 "  FORMAT: ";
    bool first = true;
    for (const auto& entry : democloud::kDemoFormatNames) {
        std::cerr << (first ? "" : ", ") << entry.name;
        first = false;
    }
    std::cerr << "\n";
    return 2;
}

bool parseCount(std::string_view text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t points = 0;
    std::uint64_t seed = 1;
    bool havePoints = false;
    bool haveFormat = false;
    std::string out;
    std::string formatText;
    democloud::DemoFormat format = democloud::DemoFormat::Xyz3;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") return usage("");
        if (i + 1 >= argc) return usage("missing value after " + std::string(arg));
        const std::string_view value = argv[++i];
        if (arg == "--points") {
            if (!parseCount(value, points) || points == 0)
                return usage("--points needs a whole number of at least 1, got '" +
                             std::string(value) + "'");
            havePoints = true;
        } else if (arg == "--seed") {
            if (!parseCount(value, seed))
                return usage("--seed needs a whole number, got '" + std::string(value) + "'");
        } else if (arg == "--format") {
            formatText = value;
            if (!democloud::parseDemoFormat(value, format))
                return usage("unknown format '" + formatText + "'");
            haveFormat = true;
        } else if (arg == "--out") {
            out = value;
        } else {
            return usage("unknown option " + std::string(arg));
        }
    }
    if (!havePoints || !haveFormat || out.empty())
        return usage("--points, --format and --out are required");

    const auto start = std::chrono::steady_clock::now();
    democloud::DemoCloudStats stats;
    std::string error;
    if (!democloud::writeDemoCloud(out, format, points, seed, &stats, &error)) {
        std::cerr << "ERROR: [DEMO CLOUD] " << error << "\n";
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double mbPerSecond =
        seconds > 0.0 ? static_cast<double>(stats.bytes) / 1e6 / seconds : 0.0;
    std::cout << "[DEMO CLOUD] wrote " << out << " | format=" << formatText
              << " | points=" << stats.points << " | badLines=" << stats.badLines
              << " | bytes=" << stats.bytes << " | seconds=" << seconds << " | MBps=" << mbPerSecond
              << "\n";
    return 0;
}
