// demo_job write INPUT OUTPUT FORMAT MODE CONTENT JOB [overlap]
//   Writes the export job the demo runs with `e57_brindlewick --export-job JOB`: FORMAT 0 E57,
//   1 XYZ, 2 LAS; MODE 0 one combined file, 1 a file per saved selection, 2 per vertical, 3 per
//   top selection; CONTENT 0 XYZ, 1 XYZ+RGB, 2 XYZ+RGB+photos. With "overlap" the vertical
//   selection lists the north-west quarter's tiles as well, which a top selection also holds.
// demo_job check JOB
//   Reads back every output of the finished job with our own readers and compares its point
//   count with what the selection keeps by the output's route's rule (the union rule where
//   the output is LAS or XYZ or the input LAS, else Z decides), counted from the source.
//   Exit 1 on any mismatch.
//
// The selection on the demo site (tools/demo_cloud, 5 m tiles): two top selections (the north-
// west and south-west quarters) and one vertical selection of the eastern half's ground, its Z
// range derived from the generated ground there.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <E57SimpleReader.h>

#include "demo_cloud/demo_cloud.h"
#include "export/e57_route_support.h"
#include "export/split_export.h"
#include "points/input/las_reader.h"
#include "points/input/text_utils.h"
#include "points/input/xyz_ascii_reader.h"
#include "points/job/export_job.h"
#include "points/job/export_job_file.h"
#include "points/selection/selection.h"

namespace fs = std::filesystem;

namespace {

constexpr double kTileSize = 5.0;
constexpr std::int64_t kWestTile = 100000;  // x 500000 m / 5 m
constexpr std::int64_t kSouthTile = 1080000;
constexpr std::int64_t kTilesAcross = 12;  // 60 m

bool inBuilding(double x, double y) {
    for (const democloud::DemoBuilding& b : democloud::kBuildings)
        if (x >= b.x0 && x <= b.x1 && y >= b.y0 && y <= b.y1) return true;
    return false;
}

// The eastern half's open ground, sampled every 5 cm, with 10 cm added each side for the
// generator's jitter and rounded out to whole centimetres; the roofs there stand higher.
SelectedHeightRange easternGround() {
    const double east = democloud::kSiteSize / 2;
    double low = 1e300, high = -1e300;
    for (int i = 0; i <= 600; ++i)
        for (int j = 0; j <= 1200; ++j) {
            const double x = east + i * 0.05, y = j * 0.05;
            if (inBuilding(x, y)) continue;
            low = std::min(low, democloud::groundHeight(x, y));
            high = std::max(high, democloud::groundHeight(x, y));
        }
    SelectedHeightRange range;
    range.zMin = std::floor((democloud::kOriginZ + low - 0.1) * 100.0) / 100.0;
    range.zMax = std::ceil((democloud::kOriginZ + high + 0.1) * 100.0) / 100.0;
    for (const democloud::DemoBuilding& b : democloud::kBuildings)
        if (b.x1 > east && democloud::kOriginZ + democloud::roofHeight(b) <= range.zMax)
            throw std::logic_error("the eastern ground's range reaches a roof");
    for (std::int64_t ix = kTilesAcross / 2; ix < kTilesAcross; ++ix)
        for (std::int64_t iy = 0; iy < kTilesAcross; ++iy)
            range.tiles.push_back({kWestTile + ix, kSouthTile + iy});
    return range;
}

ExportJob demoJob(const std::string& input, const std::string& output, int format, int mode,
                  int content, bool overlap) {
    ExportJob job;
    job.inputE57Path = input;
    job.outputE57Path = output;
    job.coarseTileSize = kTileSize;
    job.exportMode = mode;
    job.outputFormat = format;
    job.exportContent = content;
    applyExportContentToFlags(job);
    SavedTileSelection north, south;
    for (std::int64_t ix = 0; ix < kTilesAcross / 2; ++ix)
        for (std::int64_t iy = 0; iy < kTilesAcross; ++iy)
            (iy < kTilesAcross / 2 ? south : north)
                .tiles.push_back({kWestTile + ix, kSouthTile + iy});
    job.savedTileSelections = {north, south};
    job.selectedHeightRanges = {easternGround()};
    if (overlap)  // the rules differ there: the roofs of the north-west building
        for (const TileIndex& t : north.tiles) job.selectedHeightRanges[0].tiles.push_back(t);
    // As the window's export does: the tile set is every tile of every saved selection.
    for (const SavedTileSelection& s : job.savedTileSelections)
        job.selectedCoarseTiles.insert(s.tiles.begin(), s.tiles.end());
    for (const SelectedHeightRange& r : job.selectedHeightRanges)
        job.selectedCoarseTiles.insert(r.tiles.begin(), r.tiles.end());
    job.outputAreaM2 = kTileSize * kTileSize * static_cast<double>(job.selectedCoarseTiles.size());
    return job;
}

// Calls visit(x, y, z) for every point of the source, E57 points through their scan's pose.
template <class Visit>
bool forEachSourcePoint(const std::string& path, Visit&& visit) {
    std::string error;
    CloudPoint p;
    if (isLasPath(path)) {
        LasBinaryPointReader reader;
        if (!reader.open(path, &error)) return false;
        while (reader.readNext(p, &error)) visit(p.x, p.y, p.z);
        return error.empty();
    }
    if (hasXyzExtension(path)) {
        XyzAsciiPointReader reader;
        if (!reader.open(path, &error)) return false;
        while (reader.readNext(p, &error)) visit(p.x, p.y, p.z);
        return error.empty();
    }
    e57::Reader reader(path, e57::ReaderOptions{});
    std::vector<double> x(65536), y(65536), z(65536);
    for (std::int64_t s = 0; s < reader.GetData3DCount(); ++s) {
        e57::Data3D h;
        reader.ReadData3D(s, h);
        if (!h.pointFields.cartesianXField || h.pointCount == 0) continue;
        e57::Data3DPointsDouble b;
        b.cartesianX = x.data(), b.cartesianY = y.data(), b.cartesianZ = z.data();
        e57::CompressedVectorReader points = reader.SetUpData3DPointsData(s, x.size(), b);
        const ScanPoseMatrix pose(h.pose);
        while (const unsigned n = points.read()) {
            for (unsigned i = 0; i < n; ++i) {
                double wx, wy, wz;
                pose.apply(x[i], y[i], z[i], wx, wy, wz);
                visit(wx, wy, wz);
            }
        }
        points.close();
    }
    reader.Close();
    return true;
}

// Points in a written file by our own readers, -1 when it cannot be read; images of an E57 file.
struct OutputCounts {
    std::int64_t points = -1;
    std::int64_t images = 0;
};

OutputCounts countOutput(const std::string& path) {
    OutputCounts c;
    if (!fs::exists(path)) return c;
    if (isLasPath(path) || hasXyzExtension(path)) {
        std::int64_t n = 0;
        if (forEachSourcePoint(path, [&](double, double, double) { ++n; })) c.points = n;
        return c;
    }
    try {
        e57::Reader reader(path, e57::ReaderOptions{});
        std::int64_t n = 0;
        for (std::int64_t i = 0; i < reader.GetData3DCount(); ++i) {
            e57::Data3D header;
            reader.ReadData3D(i, header);
            n += header.pointCount;
        }
        c.points = n;
        c.images = reader.GetImage2DCount();
    } catch (const std::exception&) {
        c.points = -1;
    }
    return c;
}

// One output of a job and the selection its points must pass.
struct ExpectedOutput {
    std::string path;
    TileSet tiles;
    std::vector<SelectedHeightRange> ranges;
    bool unionRule = false;  // kept when any selection keeps it, else Z decides
    std::uint64_t expected = 0;
};

std::vector<ExpectedOutput> expectedOutputs(const ExportJob& job) {
    const bool e57Output = job.outputFormat == 0 && !isLasPath(job.inputE57Path);
    const bool split = e57Output && (job.exportMode != 0 || hasXyzExtension(job.inputE57Path));
    if (!split)
        return {{job.outputE57Path, job.selectedCoarseTiles, job.selectedHeightRanges, !e57Output}};
    std::vector<ExpectedOutput> out;
    const bool vertical = job.exportMode != 3;
    const bool top = job.exportMode != 2;
    if (vertical)
        for (const SelectedHeightRange& r : job.selectedHeightRanges) out.push_back({"", {}, {r}});
    if (top)
        for (const SavedTileSelection& s : job.savedTileSelections)
            out.push_back({"", TileSet(s.tiles.begin(), s.tiles.end()), {}});
    SplitOutputNaming naming;
    naming.oneOutput = out.size() == 1 && !job.enablePhotoThirdPass;  // a photo split numbers all
    naming.outputText = job.outputE57Path;
    naming.outputPath = job.outputE57Path;
    std::uint64_t verticalNumber = 0, topNumber = 0;
    for (ExpectedOutput& o : out)
        o.path = o.ranges.empty() ? makeSplitOutputPath(naming, "top", ++topNumber)
                                  : makeSplitOutputPath(naming, "vertical", ++verticalNumber);
    return out;
}

int writeJob(char** argv) {
    const ExportJob job = demoJob(argv[2], argv[3], std::atoi(argv[4]), std::atoi(argv[5]),
                                  std::atoi(argv[6]), argv[8] && std::string(argv[8]) == "overlap");
    std::string error;
    if (!writeExportJobFile(argv[7], job, &error)) {
        std::cerr << "ERROR: " << error << "\n";
        return 1;
    }
    return 0;
}

int checkJob(const char* jobPath) {
    ExportJob job;
    std::string error;
    if (!loadExportJobFile(jobPath, job, &error)) {
        std::cerr << "ERROR: " << error << "\n";
        return 1;
    }
    std::vector<ExpectedOutput> outputs = expectedOutputs(job);
    const double size = job.coarseTileSize;
    UnionSelectionTest unionRule(buildExportSelectionFilter(job), size);
    const bool read = forEachSourcePoint(job.inputE57Path, [&](double x, double y, double z) {
        for (ExpectedOutput& o : outputs)
            if (o.unionRule ? unionRule.accepts(x, y, z)
                            : pointPassesSelection(x, y, z, o.tiles, o.ranges, size))
                ++o.expected;
    });
    if (!read) {
        std::cerr << "ERROR: cannot read " << job.inputE57Path << "\n";
        return 1;
    }
    int failures = 0;
    for (const ExpectedOutput& o : outputs) {
        const OutputCounts back = countOutput(o.path);
        const bool ok = back.points == static_cast<std::int64_t>(o.expected) && back.points > 0;
        std::cout << "[demo]   " << fs::path(o.path).filename().string() << ": kept=" << o.expected
                  << " readBack=" << back.points;
        if (hasE57Extension(o.path)) std::cout << " images=" << back.images;
        std::cout << (ok ? " check=ok" : " check=MISMATCH") << "\n";
        if (!ok) ++failures;
    }
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "write" && (argc == 8 || argc == 9)) return writeJob(argv);
    if (command == "check" && argc == 3) return checkJob(argv[2]);
    if (command == "range" && argc == 2) {
        const SelectedHeightRange r = easternGround();
        std::cout << r.zMin << " " << r.zMax << "\n";
        return 0;
    }
    std::cerr << "usage: demo_job write INPUT OUTPUT FORMAT MODE CONTENT JOB [overlap] | check JOB "
                 "| range\n";
    return 2;
}
