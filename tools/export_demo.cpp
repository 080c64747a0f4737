// export_demo INPUT OUTPUT_FOLDER
// Cuts a selection out of a demo site file (tools/make_demo_cloud) with every export route that
// takes its input type, then reads each output back with our own readers and checks the count.
// The selection: a top-view selection of the site's western half (5 m tiles) and a vertical
// selection of the eastern half from z 100 to 104 m (the ground, without roofs and trees).

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <E57SimpleReader.h>

#include "export/las_binary_export.h"
#include "export/las_to_e57_export.h"
#include "export/synthetic_las_export.h"
#include "export/xyz_ascii_export.h"
#include "points/input/las_reader.h"
#include "points/input/text_utils.h"
#include "points/input/xyz_ascii_reader.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTileSize = 5.0;
constexpr std::int64_t kWestTile = 100000;  // x 500000 m / 5 m
constexpr std::int64_t kSouthTile = 1080000;
constexpr std::int64_t kTilesAcross = 12;  // 60 m

using Route = bool (*)(const ExportJob&, const std::string&, ExportResult*, std::string*);

struct RouteRun {
    const char* name;
    Route route;
    const char* suffix;
};

ExportJob demoJob(const std::string& input, const std::string& output) {
    ExportJob job;
    job.inputE57Path = input;
    job.outputE57Path = output;
    job.coarseTileSize = kTileSize;
    SavedTileSelection west;
    SelectedHeightRange eastGround;
    for (std::int64_t ix = 0; ix < kTilesAcross; ++ix)
        for (std::int64_t iy = 0; iy < kTilesAcross; ++iy) {
            const TileIndex tile{kWestTile + ix, kSouthTile + iy};
            if (ix < kTilesAcross / 2)
                west.tiles.push_back(tile);
            else
                eastGround.tiles.push_back(tile);
        }
    eastGround.zMin = 100.0;
    eastGround.zMax = 104.0;
    job.savedTileSelections.push_back(west);
    job.selectedHeightRanges.push_back(eastGround);
    job.outputAreaM2 = kTileSize * kTileSize * kTilesAcross * kTilesAcross * 0.75;
    return job;
}

// Points in a written file, by our own readers; -1 when it cannot be read.
std::int64_t countOutputPoints(const std::string& path) {
    std::string error;
    if (isLasPath(path)) {
        LasBinaryPointReader reader;
        if (!reader.open(path, &error)) return -1;
        CloudPoint p;
        std::int64_t n = 0;
        while (reader.readNext(p, &error)) ++n;
        return error.empty() ? n : -1;
    }
    if (hasXyzExtension(path)) {
        XyzAsciiPointReader reader;
        if (!reader.open(path, &error)) return -1;
        CloudPoint p;
        std::int64_t n = 0;
        while (reader.readNext(p, &error)) ++n;
        return error.empty() && reader.badLines() == 0 ? n : -1;
    }
    try {
        e57::Reader reader(path, e57::ReaderOptions{});
        std::int64_t n = 0;
        for (std::int64_t i = 0; i < reader.GetData3DCount(); ++i) {
            e57::Data3D header;
            reader.ReadData3D(i, header);
            n += header.pointCount;
        }
        return n;
    } catch (const std::exception&) {
        return -1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: export_demo INPUT OUTPUT_FOLDER\n";
        return 2;
    }
    const std::string input = argv[1];
    const fs::path folder = argv[2];
    std::vector<RouteRun> runs;
    if (isLasPath(input)) {
        runs = {{"LAS raw record copy", exportLasBinary, "_cut.las"},
                {"LAS to E57", exportLasToE57, "_cut.e57"},
                {"LAS to XYZ ASCII", exportLasToXyz, "_cut.xyz"}};
    } else if (hasXyzExtension(input) || hasE57Extension(input)) {
        runs = {{"synthetic LAS 1.2", exportSyntheticLas, "_cut.las"},
                {"XYZ ASCII", exportXyzAscii, "_cut.xyz"}};
    } else {
        std::cerr << "ERROR: export_demo takes .las, .xyz or .e57 input: " << input << "\n";
        return 2;
    }

    int failures = 0;
    for (const RouteRun& run : runs) {
        const std::string output =
            (folder / (fs::path(input).stem().string() + run.suffix)).string();
        const std::string statusPath = output + ".status.ini";
        const ExportJob job = demoJob(input, output);
        ExportResult result;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = run.route(job, statusPath, &result, &error);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (!ok) {
            std::cout << "[EXPORT DEMO] " << run.name << " FAILED: " << error << "\n";
            ++failures;
            continue;
        }
        const std::int64_t readBack = countOutputPoints(output);
        // The raw copy leaves its written count unreported, so its check uses the file's own count.
        const bool countOk =
            readBack >= 0 && (run.route == exportLasBinary ||
                              static_cast<std::uint64_t>(readBack) == result.writtenPoints);
        std::cout << "[EXPORT DEMO] " << run.name << " | input=" << input << " | output=" << output
                  << " | inputPoints=" << result.inputPoints
                  << " | writtenPoints=" << result.writtenPoints << " | readBack=" << readBack
                  << " | sizeMB=" << result.outputSizeMB << " | seconds=" << seconds
                  << (countOk ? " | check=ok" : " | check=MISMATCH") << "\n";
        if (!countOk) ++failures;
    }
    return failures == 0 ? 0 : 1;
}
