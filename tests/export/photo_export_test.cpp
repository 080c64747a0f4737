#include "export/photo_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include <sys/stat.h>

#include "export/output_naming.h"
#include "points/job/export_status.h"
#include "points/selection/selection.h"
#include "support/e57_test_files.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::ReadScan;
using testsupport::TestImage;
using testsupport::TestScan;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A scan far from the origin with every optional column; its raw points lie around (0, 0).
TestScan structuredScan(const std::string& guid, int points) {
    TestScan s;
    s.guid = guid;
    s.name = "scan " + guid;
    s.hasColour = s.hasIntensity = s.hasTime = s.hasRowColumn = true;
    s.pose.translation = {612345.678901234, 5432109.876543211, 123.456789012345};
    s.pose.rotation = {0.8, 0.0, 0.0, 0.6};  // about z
    for (int i = 0; i < points; ++i)
        s.add(-3.0 + i * 0.0123456789, 2.5 - i * 0.0098765432, 0.1 * (i % 17));
    s.indexBounds.rowMaximum = 3;
    s.indexBounds.columnMaximum = 999;
    return s;
}

struct RouteRun {
    bool ok = false;
    std::string error;
    std::string method = "untouched";
    std::string console;
};

RouteRun exportWithPhotos(const fs::path& input, const fs::path& output, const TileSet& tiles,
                          const std::vector<SelectedHeightRange>& ranges = {},
                          const fs::path* status = nullptr) {
    RouteRun r;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    r.ok = exportE57WithPhotos(input.string(), output.string(), tiles, ranges, 1.0, &r.error,
                               &r.method, status);
    r.console = testing::internal::GetCapturedStdout();
    testing::internal::GetCapturedStderr();
    return r;
}

RouteRun geometryPass(const fs::path& input, const fs::path& geometry,
                      std::vector<ScanGuidPair>* pairs) {
    RouteRun r;
    testing::internal::CaptureStdout();
    r.ok = exportPhotoGeometryE57(input.string(), geometry.string(), {}, {}, 1.0, pairs, &r.error,
                                  &r.method, nullptr);
    r.console = testing::internal::GetCapturedStdout();
    return r;
}

void expectNoTemporaries(const fs::path& output) {
    EXPECT_FALSE(fs::exists(makeGeometryTempPath(output.string())));
    EXPECT_FALSE(fs::exists(makeWithPhotosTempPath(output.string())));
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(PhotoExport, KeepsTheSelectedPointsOfEachScanWithItsPhotos) {
    const testsupport::TempDir dir;
    const fs::path input = dir / "source.e57", output = dir / "out_cut.e57";
    const fs::path status = dir / "job.ini.status.ini";
    TestScan far = structuredScan("far", 300);
    TestScan elsewhere = structuredScan("elsewhere", 50);
    elsewhere.pose.translation.x += 1000.0;
    TestScan spherical = structuredScan("spherical", 20);
    spherical.cartesian = false;
    testsupport::writeE57Source(input.string(), "{FILE}", {spherical, elsewhere, far},
                                {{"img1", "far", std::string(500, 'p')},
                                 {"img2", "elsewhere", std::string(400, 'q')},
                                 {"img3", "far", std::string(300, 'r')}},
                                "EPSG:32632");
    testsupport::writeFile(output, "an older export");
    // A link left at the working (lock) name is removed; the file it leads to stays as it was.
    testsupport::writeFile(dir / "notes.txt", "user data");
    fs::create_symlink(dir / "notes.txt", makeGeometryTempPath(output.string()));

    // The world tiles of the first half of "far", and a height range over one of them that
    // keeps only its low points.
    TileSet tiles;
    for (int i = 0; i < 150; ++i) {
        const auto w = testsupport::worldPoint(far.pose, far.x[i], far.y[i], far.z[i]);
        tiles.insert({static_cast<std::int64_t>(std::floor(w[0])),
                      static_cast<std::int64_t>(std::floor(w[1]))});
    }
    SelectedHeightRange range;
    range.tiles = {*tiles.begin()};
    range.zMin = 124.5;
    range.zMax = 120.0;
    std::vector<double> ex, ey, ez, ei;
    std::vector<std::uint16_t> eg;
    for (std::size_t i = 0; i < far.size(); ++i) {
        const auto w = testsupport::worldPoint(far.pose, far.x[i], far.y[i], far.z[i]);
        if (!pointPassesSelection(w[0], w[1], w[2], tiles, {range}, 1.0)) continue;
        ex.push_back(far.x[i]);
        ey.push_back(far.y[i]);
        ez.push_back(far.z[i]);
        eg.push_back(far.green[i]);
        ei.push_back(far.intensity[i]);
    }
    ASSERT_GT(ex.size(), 20u);
    ASSERT_LT(ex.size(), far.size());

    const RouteRun r = exportWithPhotos(input, output, tiles, {range}, &status);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.method, "libE57 + temp-merge photos");
    EXPECT_EQ(r.error, "Image transfer summary | matched=2 | copied=2 | skipped=0");
    expectNoTemporaries(output);
    EXPECT_EQ(testsupport::readFile(dir / "notes.txt"), "user data");
    EXPECT_TRUE(has(r.console,
                    "[PHOTO GEOMETRY] scan 2 | guid=far | keptPoints=" + std::to_string(ex.size()) +
                        " | rgb=1 | row=1 | col=1 | intensity=1 | time=1\n"));
    std::string state, message;
    ASSERT_TRUE(readExportStatusFile(status, &state, &message));
    EXPECT_EQ(state, "Running");
    EXPECT_EQ(message, "Geometry export finished. Rebuilding final E57 with associated photos...");

    const ReadFile out = testsupport::readE57File(output.string());
    EXPECT_EQ(out.root.guid, "{FILE}");
    EXPECT_EQ(out.root.coordinateMetadata, "EPSG:32632");
    ASSERT_EQ(out.scans.size(), 1u);
    const ReadScan& s = out.scans[0];
    EXPECT_EQ(s.header.guid, "far");
    EXPECT_EQ(s.header.name, "scan far");
    EXPECT_EQ(s.header.pose, far.pose);
    EXPECT_EQ(s.x, ex);  // raw coordinates, bit for bit
    EXPECT_EQ(s.y, ey);
    EXPECT_EQ(s.z, ez);
    EXPECT_EQ(s.green, eg);
    EXPECT_EQ(s.intensity, ei);  // a 64-bit source intensity stays 64-bit
    const e57::CartesianBounds& b = s.header.cartesianBounds;
    EXPECT_EQ(b.xMinimum, *std::min_element(ex.begin(), ex.end()));
    EXPECT_EQ(b.xMaximum, *std::max_element(ex.begin(), ex.end()));
    EXPECT_EQ(b.yMinimum, *std::min_element(ey.begin(), ey.end()));
    EXPECT_EQ(b.zMaximum, *std::max_element(ez.begin(), ez.end()));
    // The final file holds positions, colour and intensity only.
    EXPECT_FALSE(s.header.pointFields.timeStampField);
    EXPECT_FALSE(s.header.pointFields.rowIndexField);
    EXPECT_FALSE(s.header.pointFields.columnIndexField);
    EXPECT_EQ(s.header.indexBounds, e57::IndexBounds{});
    EXPECT_EQ(s.header.pointGroupingSchemes.groupingByLine.idElementName, "");

    ASSERT_EQ(out.images.size(), 2u);
    EXPECT_EQ(out.images[0].header.guid, "img1");
    EXPECT_EQ(out.images[0].blob, std::string(500, 'p'));
    EXPECT_EQ(out.images[1].header.guid, "img3");
    for (const auto& im : out.images) EXPECT_EQ(im.header.associatedData3DGuid, "far");
}

// The geometry file keeps what the final file drops: time stamps (GPS seconds, to the
// microsecond), row and column indices and index bounds. A non-finite intensity or time stamp
// takes that field from its scan only; a non-finite coordinate drops its point.
TEST(PhotoExport, GeometryPassKeepsStructuredFieldsWhereTheyAreWhole) {
    const testsupport::TempDir dir;
    const fs::path input = dir / "source.e57", geometry = dir / "geometry.e57";
    TestScan full = structuredScan("full", 40);
    // A line grouping whose groups were never written reads back without groups.
    full.grouping.groupingByLine = {"rowIndex", 4, 10};
    TestScan holes = structuredScan("holes", 40);
    holes.intensity[5] = kNaN;
    holes.time[7] = std::numeric_limits<double>::infinity();
    holes.x[9] = kNaN;
    testsupport::writeE57Source(input.string(), "{FILE}", {full, holes});

    std::vector<ScanGuidPair> pairs = {{"stale", "stale"}};
    const RouteRun r = geometryPass(input, geometry, &pairs);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.method, "libE57 structured photo geometry");
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(pairs.size(), 2u);
    EXPECT_EQ(pairs[0].srcGuid, "full");
    EXPECT_EQ(pairs[0].dstGuid, "full");
    EXPECT_EQ(pairs[1].srcGuid, "holes");
    EXPECT_TRUE(has(r.console,
                    "[E57 EXPORT] scan 1 | skipped_nonfinite_xyz=1 | "
                    "skipped_nonfinite_intensity=1\n"));
    EXPECT_TRUE(has(r.console,
                    "[PHOTO GEOMETRY] scan 1 | guid=holes | keptPoints=39 | rgb=1 | "
                    "row=1 | col=1 | intensity=0 | time=0\n"));

    const ReadFile out = testsupport::readE57File(geometry.string());
    ASSERT_EQ(out.scans.size(), 2u);
    const ReadScan& a = out.scans[0];
    EXPECT_EQ(a.x, full.x);
    EXPECT_EQ(a.time, full.time);  // not rounded to 32 bits
    EXPECT_EQ(a.row, full.row);
    EXPECT_EQ(a.column, full.column);
    EXPECT_EQ(a.header.indexBounds, full.indexBounds);
    EXPECT_TRUE(a.header.pointFields.intensityField);
    EXPECT_EQ(a.header.pose, full.pose);

    const ReadScan& b = out.scans[1];
    EXPECT_EQ(b.header.pointCount, 39u);
    EXPECT_FALSE(b.header.pointFields.intensityField);
    EXPECT_FALSE(b.header.pointFields.timeStampField);
    EXPECT_TRUE(b.header.pointFields.colorRedField);
    EXPECT_EQ(b.row.size(), 39u);
    EXPECT_EQ(b.y[9], holes.y[10]);
}

TEST(PhotoExport, NothingToWriteFailsAndLeavesNoFile) {
    const testsupport::TempDir dir;
    const fs::path output = dir / "out_cut.e57";
    TestScan spherical = structuredScan("spherical", 20);
    spherical.cartesian = false;
    TestScan outside = structuredScan("outside", 20);
    const fs::path input = dir / "source.e57";
    testsupport::writeE57Source(input.string(), "{FILE}", {spherical, outside},
                                {{"img", "outside", "jpeg"}});

    testsupport::writeFile(output, "an older export");
    RouteRun r = exportWithPhotos(input, output, {{-5, -5}});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Photo geometry export produced zero output points.");
    EXPECT_EQ(r.method, "untouched");
    EXPECT_FALSE(fs::exists(output));
    expectNoTemporaries(output);

    const fs::path empty = dir / "empty.e57";
    testsupport::writeE57Source(empty.string(), "{EMPTY}", {});
    r = exportWithPhotos(empty, output, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Input E57 contains no Data3D scans.");
    expectNoTemporaries(output);

    r = exportWithPhotos(dir / "missing.e57", output, {});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error, "");
    EXPECT_NE(r.error, "E57 exception");
    expectNoTemporaries(output);

    if (fs::exists(testsupport::sharedTestData())) {
        // A real file whose only scan holds no records.
        r = exportWithPhotos(testsupport::sharedTestData() / "e57" / "ZeroPoints.e57", output, {});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "Photo geometry export produced zero output points.");
        expectNoTemporaries(output);
    }
}

TEST(PhotoExport, AFailedMoveLeavesNoOutputAndNoTemporary) {
    const testsupport::TempDir dir;
    const fs::path input = dir / "source.e57";
    testsupport::writeE57Source(input.string(), "{FILE}", {structuredScan("s", 10)},
                                {{"img", "s", "jpeg"}});
    // A folder where the output should go, empty or not, is refused, never replaced.
    const fs::path output = dir / "out_cut.e57";
    fs::create_directories(output);
    const RouteRun empty = exportWithPhotos(input, output, {});
    EXPECT_EQ(empty.error, "E57 export failed: the output path is a folder: " + output.string());
    EXPECT_TRUE(fs::is_directory(output));
    testsupport::writeFile(output / "keep.txt", "user data");

    const RouteRun r = exportWithPhotos(input, output, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, empty.error);
    EXPECT_EQ(r.method, "untouched");
    expectNoTemporaries(output);
    EXPECT_EQ(testsupport::readFile(output / "keep.txt"), "user data");
}

// A folder at a working name, empty or not, stays as it is and refuses the export before its
// geometry pass, which would write the first status.
TEST(PhotoExport, AFolderAtAWorkingNameIsRefusedBeforeTheGeometryPass) {
    const testsupport::TempDir dir;
    const fs::path input = dir / "source.e57";
    testsupport::writeE57Source(input.string(), "{FILE}", {structuredScan("s", 10)},
                                {{"img", "s", "jpeg"}});
    const fs::path output = dir / "out_cut.e57";
    const fs::path status = dir / "status.ini";
    const std::string workingNames[] = {makeWithPhotosTempPath(output.string()),
                                        makeGeometryTempPath(output.string())};
    for (const std::string& working : workingNames)
        for (const bool empty : {true, false}) {
            SCOPED_TRACE(working + (empty ? " empty" : " holding a file"));
            fs::create_directory(working);
            if (!empty) testsupport::writeFile(fs::path(working) / "keep.txt", "user data");
            const RouteRun r = exportWithPhotos(input, output, {}, {}, &status);
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.error, "E57 export failed: the working file path is a folder: " + working);
            EXPECT_FALSE(fs::exists(status));
            EXPECT_FALSE(fs::exists(output));
            EXPECT_TRUE(fs::is_directory(working));
            EXPECT_EQ(fs::is_empty(working), empty);
            fs::remove_all(working);
            expectNoTemporaries(output);
        }
}

// A FIFO at the output path is refused: the route writes only a file it can move into place.
TEST(PhotoExport, AFifoAtTheOutputPathIsRefusedAndNothingIsMade) {
    const testsupport::TempDir dir;
    const fs::path input = dir / "source.e57";
    testsupport::writeE57Source(input.string(), "{FILE}", {structuredScan("s", 10)},
                                {{"img", "s", "jpeg"}});
    const fs::path output = dir / "out_cut.e57";
    ASSERT_EQ(::mkfifo(output.c_str(), 0600), 0);
    const RouteRun r = exportWithPhotos(input, output, {});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error,
              "E57 export failed: the output path is not a regular file: " + output.string());
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"out_cut.e57", "source.e57"}));
    EXPECT_TRUE(fs::is_fifo(output));
}

// A real double-precision scan exported without a selection comes back point for point.
TEST(PhotoExport, RealScanWithoutSelectionIsKeptWhole) {
    REQUIRE_SHARED_TESTDATA();
    const testsupport::TempDir dir;
    const fs::path input = testsupport::sharedTestData() / "e57" / "bunnyDouble.e57";
    const fs::path output = dir / "bunny_cut.e57";
    const RouteRun r = exportWithPhotos(input, output, {});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.error, "Image transfer summary | matched=0 | copied=0 | skipped=0");
    const ReadFile in = testsupport::readE57File(input.string());
    const ReadFile out = testsupport::readE57File(output.string());
    ASSERT_EQ(out.scans.size(), in.scans.size());
    for (std::size_t s = 0; s < in.scans.size(); ++s) {
        EXPECT_EQ(out.scans[s].header.guid, in.scans[s].header.guid);
        EXPECT_EQ(out.scans[s].header.pose, in.scans[s].header.pose);
        EXPECT_EQ(out.scans[s].x, in.scans[s].x);
        EXPECT_EQ(out.scans[s].y, in.scans[s].y);
        EXPECT_EQ(out.scans[s].z, in.scans[s].z);
    }
}

// A disk that fills in the geometry pass or in the merge: the export fails with the system's
// reason, which the merge must ask before its failed file frees the disk, and leaves nothing.
TEST(PhotoExport, AFullDiskInEitherPassSaysWhy) {
    const testsupport::TempDir dir;
    const fs::path input = dir / "source.e57";
    testsupport::writeE57Source(input.string(), "{FILE}",
                                {structuredScan("a", 20000), structuredScan("b", 20000)},
                                {{"img", "a", std::string(4000, 'p')}});
    const fs::path geometry = dir / "geometry.e57";
    ASSERT_TRUE(geometryPass(input, geometry, nullptr).ok);
    const std::uint64_t bytes = fs::file_size(geometry);
    const struct {
        const char* phase;
        std::uint64_t diskBytes;
        const char* words;  // the failing pass's own
    } cases[] = {{"geometry", bytes / 2, "Photo geometry export failed"},
                 {"merge", bytes + bytes / 2, "Final merge failed"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.phase);
        const testsupport::SmallDisk disk(dir / c.phase, c.diskBytes);
        if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs (needs root)";
        const RouteRun r = exportWithPhotos(input, disk.path() / "out.e57", {});
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(has(r.error, "No space left on device")) << r.error;
        EXPECT_TRUE(has(r.error, c.words)) << r.error;
        EXPECT_TRUE(fs::is_empty(disk.path()));
    }
}

}  // namespace
