// export_demo INPUT OUTPUT_FOLDER
// Cuts a selection out of a demo site file (tools/make_demo_cloud) with every export route that
// takes its input type, then reads each output back with our own readers and checks the count.
// The selection: a top-view selection of the site's western half (5 m tiles) and a vertical
// selection of the eastern half from z 100 to 108 m (the ground, without roofs and trees). The
// E57 routes take the western half as the job's tile set; with the eastern tiles decided by Z
// that keeps the same points.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <E57SimpleReader.h>

#include "export/e57_native_export.h"
#include "export/las_binary_export.h"
#include "export/las_to_e57_export.h"
#include "export/photo_export.h"
#include "export/split_export.h"
#include "export/synthetic_las_export.h"
#include "export/xyz_ascii_export.h"
#include "points/input/las_reader.h"
#include "points/input/text_utils.h"
#include "points/input/xyz_ascii_reader.h"
#include "points/selection/selection.h"

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
    eastGround.zMax = 108.0;
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

// Points and images of a written E57 file; points -1 when it cannot be read.
struct E57Counts {
    std::int64_t points = -1;
    std::int64_t images = 0;
};

E57Counts countE57Output(const std::string& path) {
    E57Counts c;
    c.points = countOutputPoints(path);
    try {
        e57::Reader reader(path, e57::ReaderOptions{});
        c.images = reader.GetImage2DCount();
    } catch (const std::exception&) {
        c.points = -1;
    }
    return c;
}

// What the E57 routes must keep, counted here from the source: each point through its scan's
// pose, then the job's selection rule. Scans without Cartesian coordinates count nothing.
std::uint64_t expectedE57Points(const std::string& input, const ExportJob& job) {
    e57::Reader reader(input, e57::ReaderOptions{});
    std::uint64_t kept = 0;
    std::vector<double> x(65536), y(65536), z(65536);
    for (std::int64_t s = 0; s < reader.GetData3DCount(); ++s) {
        e57::Data3D h;
        reader.ReadData3D(s, h);
        if (!h.pointFields.cartesianXField || h.pointCount == 0) continue;
        e57::Data3DPointsDouble b;
        b.cartesianX = x.data(), b.cartesianY = y.data(), b.cartesianZ = z.data();
        e57::CompressedVectorReader points = reader.SetUpData3DPointsData(s, x.size(), b);
        const auto& q = h.pose.rotation;
        const auto& t = h.pose.translation;
        while (const unsigned n = points.read()) {
            for (unsigned i = 0; i < n; ++i) {
                const double wx = (1 - 2 * (q.y * q.y + q.z * q.z)) * x[i] +
                                  2 * (q.x * q.y - q.w * q.z) * y[i] +
                                  2 * (q.x * q.z + q.w * q.y) * z[i] + t.x;
                const double wy = 2 * (q.x * q.y + q.w * q.z) * x[i] +
                                  (1 - 2 * (q.x * q.x + q.z * q.z)) * y[i] +
                                  2 * (q.y * q.z - q.w * q.x) * z[i] + t.y;
                const double wz = 2 * (q.x * q.z - q.w * q.y) * x[i] +
                                  2 * (q.y * q.z + q.w * q.x) * y[i] +
                                  (1 - 2 * (q.x * q.x + q.y * q.y)) * z[i] + t.z;
                if (pointPassesSelection(wx, wy, wz, job.selectedCoarseTiles,
                                         job.selectedHeightRanges, job.coarseTileSize))
                    ++kept;
            }
        }
        points.close();
    }
    reader.Close();
    return kept;
}

// The E57-to-E57 routes on an E57 input: the native combined export, the photo-preserving one,
// and the split by saved selections without and with photos. Returns the failures.
int runE57Routes(const std::string& input, const fs::path& folder) {
    ExportJob job = demoJob(input, "");
    job.selectedCoarseTiles.insert(job.savedTileSelections[0].tiles.begin(),
                                   job.savedTileSelections[0].tiles.end());
    const std::uint64_t expected = expectedE57Points(input, job);
    std::int64_t sourceImages = 0;
    {
        e57::Reader reader(input, e57::ReaderOptions{});
        sourceImages = reader.GetImage2DCount();
    }
    const std::string stem = (folder / fs::path(input).stem()).string();
    int failures = 0;
    const auto report = [&](const char* name, bool ok, const std::string& error,
                            const std::vector<std::string>& outputs, double seconds) {
        if (!ok) {
            std::cout << "[EXPORT DEMO] " << name << " FAILED: " << error << "\n";
            ++failures;
            return;
        }
        std::int64_t points = 0, images = 0;
        for (const std::string& output : outputs) {
            const E57Counts c = countE57Output(output);
            points = c.points < 0 || points < 0 ? -1 : points + c.points;
            images += c.images;
        }
        const bool countOk = points == static_cast<std::int64_t>(expected);
        std::cout << "[EXPORT DEMO] " << name << " | input=" << input
                  << " | outputs=" << outputs.size() << " | expectedPoints=" << expected
                  << " | readBack=" << points << " | images=" << images
                  << " | sourceImages=" << sourceImages << " | seconds=" << seconds
                  << (countOk ? " | check=ok" : " | check=MISMATCH") << "\n";
        if (!countOk) ++failures;
    };
    const auto timed = [](auto&& body) {
        const auto start = std::chrono::steady_clock::now();
        const bool ok = body();
        return std::pair{
            ok, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
    };

    std::string error, method;
    const std::string native = stem + "_native_cut.e57";
    const fs::path status = native + ".status.ini";
    auto [ok, seconds] = timed([&] {
        return exportE57Native(input, native, job.selectedCoarseTiles, job.selectedHeightRanges,
                               job.coarseTileSize, &error, &method, &status, true);
    });
    report("E57 native combined", ok, error, {native}, seconds);

    const std::string photo = stem + "_photo_cut.e57";
    error.clear();
    std::tie(ok, seconds) = timed([&] {
        return exportE57WithPhotos(input, photo, job.selectedCoarseTiles, job.selectedHeightRanges,
                                   job.coarseTileSize, &error, &method, &status);
    });
    report("E57 with photos", ok, ok ? std::string() : error, {photo}, seconds);

    for (const bool photos : {false, true}) {
        const std::string split = stem + (photos ? "_photo_split.e57" : "_split.e57");
        ExportResult result;
        error.clear();
        std::tie(ok, seconds) = timed([&] {
            return exportSplitSelections(input, split, job.selectedHeightRanges,
                                         job.savedTileSelections, job.selectedCoarseTileCounts,
                                         job.coarseTileSize, 0, photos, &result, &error,
                                         photos ? nullptr : &status, true);
        });
        const fs::path base(split);
        // A photo split numbers every output; with two selections the plain split does too.
        const auto name = [&](const char* kind) {
            return (base.parent_path() / (base.stem().string() + "_" + kind + "_01.e57")).string();
        };
        report(photos ? "E57 split with photos" : "E57 split", ok, error,
               {name("vertical"), name("top")}, seconds);
    }
    return failures;
}

// The single-pass split of an XYZ input, against the same rule counted with the XYZ reader.
int runXyzSplit(const std::string& input, const fs::path& folder) {
    const ExportJob job = demoJob(input, "");
    XyzAsciiPointReader reader;
    std::string error;
    if (!reader.open(input, &error)) {
        std::cout << "[EXPORT DEMO] XYZ split FAILED: " << error << "\n";
        return 1;
    }
    std::uint64_t vertical = 0, top = 0;
    const SelectedHeightRange& range = job.selectedHeightRanges[0];
    const TileSet westTiles(job.savedTileSelections[0].tiles.begin(),
                            job.savedTileSelections[0].tiles.end());
    CloudPoint p;
    while (reader.readNext(p, &error)) {
        if (pointPassesSelection(p.x, p.y, p.z, {}, {range}, job.coarseTileSize)) ++vertical;
        if (pointPassesSelection(p.x, p.y, p.z, westTiles, {}, job.coarseTileSize)) ++top;
    }
    const std::string split = (folder / (fs::path(input).stem().string() + "_split.e57")).string();
    ExportResult result;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = exportSplitSelections(
        input, split, job.selectedHeightRanges, job.savedTileSelections,
        job.selectedCoarseTileCounts, job.coarseTileSize, 0, false, &result, &error, nullptr, true);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!ok) {
        std::cout << "[EXPORT DEMO] XYZ split FAILED: " << error << "\n";
        return 1;
    }
    const fs::path base(split);
    const auto readBack = [&](const char* kind) {
        return countOutputPoints(
            (base.parent_path() / (base.stem().string() + "_" + kind + "_01.e57")).string());
    };
    const bool countOk = readBack("vertical") == static_cast<std::int64_t>(vertical) &&
                         readBack("top") == static_cast<std::int64_t>(top);
    std::cout << "[EXPORT DEMO] XYZ split | input=" << input << " | vertical=" << vertical
              << " | top=" << top << " | writtenPoints=" << result.writtenPoints
              << " | seconds=" << seconds << (countOk ? " | check=ok" : " | check=MISMATCH")
              << "\n";
    return countOk ? 0 : 1;
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
    if (hasE57Extension(input)) failures += runE57Routes(input, folder);
    if (hasXyzExtension(input)) failures += runXyzSplit(input, folder);
    return failures == 0 ? 0 : 1;
}
