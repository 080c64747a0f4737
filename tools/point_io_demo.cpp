// point_io_demo XYZ_PATH [TILE_SIZE [SAMPLES_PER_TILE]]
// Runs the point reader self-tests on an XYZ ASCII file and prints what they see: the first
// points and the reader's summary, then the tile and sample figures of a sampled preview pass.

#include "points/preview/point_io_self_tests.h"
#include "points/input/text_utils.h"

#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

namespace {

int usage(const std::string& problem) {
    std::cerr << "ERROR: " << problem << "\n"
              << "usage: point_io_demo XYZ_PATH [TILE_SIZE (default 5.0) [SAMPLES_PER_TILE "
                 "(default 2000)]]\n";
    return 2;
}

template <typename T>
bool parseWhole(std::string_view text, T& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4)
        return usage("expected an XYZ path and optionally a tile size and samples per tile");
    const std::string path = argv[1];
    double tileSize = 5.0;
    int samplesPerTile = 2000;
    if (argc >= 3 && (!parseWhole(std::string_view(argv[2]), tileSize) ||
                      !std::isfinite(tileSize) || tileSize <= 0.0))
        return usage("tile size must be a positive number of metres, got '" + std::string(argv[2]) +
                     "'");
    if (argc >= 4 && !parseWhole(std::string_view(argv[3]), samplesPerTile))
        return usage("samples per tile must be a whole number, got '" + std::string(argv[3]) + "'");
    if (!hasXyzExtension(path)) return usage("the self-tests only read .xyz files: " + path);

    pointIoTestXyzAsciiPointReader(path, 1.0);
    pointIoTestGenericPreviewProcessor(path, 1.0, tileSize, samplesPerTile);
    std::cout.flush();

    // The self-tests only print an open failure; the exit code tells a script.
    return std::ifstream(path, std::ios::binary).is_open() ? 0 : 1;
}
