// The window's road on inputs whose sampled preview misses tiles: the build, "Select all in top
// view" saved as one top selection, the export by the real helper on every route of the input,
// and the output read back. Also a vertical selection over the whole Z range the window offers.

#include <gtest/gtest.h>

#include <E57SimpleReader.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/program_state.h"
#include "points/input/las_reader.h"
#include "points/input/las_test_file.h"
#include "points/input/xyz_ascii_reader.h"
#include "points/preview/preview_build.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// Records 0..999 in one tile of 5 m, the rest one to a tile of their own: the preview samples
// every 250th record, so all but four of those tiles have no count. The highest and the lowest
// point lie in the dense tile and are not sampled.
constexpr std::size_t kPoints = 2000;
constexpr std::size_t kHighest = 17;
constexpr std::size_t kLowest = 333;

std::vector<lastest::LasTestRecord> sparseRecords() {
    std::vector<lastest::LasTestRecord> out(kPoints);
    for (std::size_t i = 0; i < kPoints; ++i) {
        const auto k = static_cast<std::int32_t>(i);
        out[i].x = i < 1000 ? (k % 40) * 10 : 1000 * (k - 1000);  // cm from the offset
        out[i].y = i < 1000 ? (k / 40) * 10 : 700;
        out[i].z = 1000 + (k % 97);
    }
    out[kHighest].z = 2500;
    out[kLowest].z = 500;
    return out;
}

void writeSparseLas(const fs::path& path) {
    lastest::LasTestHeader h;
    h.legacyCount = kPoints;
    h.offset[0] = 500000.0;
    h.offset[1] = 5400000.0;
    std::string bytes = lastest::makeLasFile(h, sparseRecords());
    const double bounds[6] = {500000.0 + 9990.0, 500000.0, 5400007.0, 5400000.0, 25.0, 5.0};
    for (int i = 0; i < 6; ++i) lastest::put<double>(bytes, 179 + 8 * i, bounds[i]);
    testsupport::writeFile(path, bytes);
}

void writeSparseXyz(const fs::path& path) {
    std::ostringstream text;
    text.precision(12);
    for (const lastest::LasTestRecord& r : sparseRecords())
        text << 500000.0 + r.x / 100.0 << ' ' << 5400000.0 + r.y / 100.0 << ' ' << r.z / 100.0
             << '\n';
    testsupport::writeFile(path, text.str());
}

// Points of an output by our own readers; the heights too for LAS.
std::uint64_t countPoints(const fs::path& path, std::vector<double>* zs = nullptr) {
    const std::string ext = path.extension().string();
    std::string error;
    CloudPoint p;
    std::uint64_t n = 0;
    if (ext == ".las") {
        LasBinaryPointReader reader;
        EXPECT_TRUE(reader.open(path.string(), &error)) << error;
        while (reader.readNext(p, &error)) {
            ++n;
            if (zs) zs->push_back(p.z);
        }
    } else if (ext == ".xyz") {
        XyzAsciiPointReader reader(1.0);
        EXPECT_TRUE(reader.open(path.string(), &error)) << error;
        while (reader.readNext(p, &error)) ++n;
    } else {
        e57::Reader reader(path.string(), e57::ReaderOptions{});
        for (std::int64_t i = 0; i < reader.GetData3DCount(); ++i) {
            e57::Data3D header;
            reader.ReadData3D(i, header);
            n += static_cast<std::uint64_t>(header.pointCount);
        }
    }
    return n;
}

// The program's state after the input's build, with the real program as its helper.
struct Road {
    ProgramState state;

    Road(const fs::path& input, const fs::path& output) {
        state.inputPath = input.string();
        state.outputFolder = output.string();
        state.exportInputPath = input;
        state.exportOutputFolder = output;
        state.exportPreparation.helperProgram = BRINDLEWICK_PROGRAM_PATH;
        testing::internal::CaptureStdout();
        startBuildThread(state, EXACT_POINT_STREAM);
        joinBuildThread(state);
        testing::internal::GetCapturedStdout();
    }
    // One export as the buttons start it; the path written, or empty when it failed.
    fs::path exportTo(int format) {
        testing::internal::CaptureStdout();
        launchExportJob(state.exportPreparation, format, true, false);
        joinExportMonitorThread(state);
        testing::internal::GetCapturedStdout();
        std::lock_guard<std::mutex> lock(state.exportStatus.mutex);
        EXPECT_FALSE(state.exportStatus.failed.load()) << state.exportStatus.details;
        return state.exportStatus.failed.load() ? fs::path() : state.exportOutputFile;
    }
};

}  // namespace

TEST(SelectAllExport, EveryPointOnEveryRoute) {
    TempDir dir;
    writeSparseLas(dir / "sparse.las");
    writeSparseXyz(dir / "sparse.xyz");
    std::vector<std::pair<fs::path, std::uint64_t>> inputs = {{dir / "sparse.las", kPoints},
                                                              {dir / "sparse.xyz", kPoints}};
    const fs::path colour = testsupport::sharedTestData() / "las" / "1.2-with-color.las";
    if (fs::exists(colour))
        inputs.push_back({colour, 1065});
    else
        std::cout << "[ SKIPPED part ] " << colour << " is not there\n";

    for (const auto& [input, points] : inputs) {
        Road road(input, dir / ("out_" + input.stem().string()));
        ASSERT_TRUE(road.state.buildState.ready.load()) << input;
        ASSERT_LT(road.state.tileCounts.size(), 10u) << input;  // the preview misses tiles
        SavedTileSelection all;
        for (const auto& entry : road.state.tileCounts) all.tiles.push_back(entry.first);
        road.state.savedTopSelections = {all};
        for (const int format : {0, 1, 2}) {
            SCOPED_TRACE(input.string() + " format " + std::to_string(format));
            const fs::path out = road.exportTo(format);
            ASSERT_FALSE(out.empty());
            EXPECT_EQ(countPoints(out), points);
        }
    }
}

// The window offers the input's Z range, which for LAS takes in the header's bounds: a
// vertical selection over all of it keeps the points the sampled read never saw.
TEST(SelectAllExport, WholeOfferedZRangeKeepsTheHighestAndLowestLasPoints) {
    TempDir dir;
    writeSparseLas(dir / "sparse.las");
    Road road(dir / "sparse.las", dir / "out");
    ASSERT_TRUE(road.state.buildState.ready.load());
    const InputCloudInfo& info = road.state.inputInfo;
    ASSERT_TRUE(info.boundsValid);
    EXPECT_EQ(info.minZ, 5.0);
    EXPECT_EQ(info.maxZ, 25.0);
    SelectedHeightRange range;
    for (const auto& entry : road.state.tileCounts) range.tiles.push_back(entry.first);
    range.zMin = info.minZ;
    range.zMax = info.maxZ;
    road.state.savedVerticalSelections = {range};
    const fs::path out = road.exportTo(2);
    ASSERT_FALSE(out.empty());
    std::vector<double> zs;
    countPoints(out, &zs);
    EXPECT_NE(std::find(zs.begin(), zs.end(), 25.0), zs.end());
    EXPECT_NE(std::find(zs.begin(), zs.end(), 5.0), zs.end());
}
