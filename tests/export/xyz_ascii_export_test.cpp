#include "export/xyz_ascii_export.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "export/export_test_util.h"
#include "export/output_file.h"
#include "platform/file_io.h"
#include "pdal/pdal_test_util.h"
#include "points/input/las_test_file.h"

namespace {

namespace fs = std::filesystem;
using exporttest::failureOf;
using exporttest::jobWithTiles;
using exporttest::readStatus;
using exporttest::readXyzBack;
using exporttest::runRoute;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

std::string g10(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

CloudPoint pointAt(double x, double y, double z) {
    CloudPoint p;
    p.x = x;
    p.y = y;
    p.z = z;
    return p;
}

std::string formatted(const CloudPoint& p, bool withRgb) {
    char buf[kMaxXyzAsciiLine];
    return std::string(buf, formatXyzAsciiLine(buf, p, withRgb));
}

std::string completedLine(const char* tag, std::uint64_t in, std::uint64_t written,
                          const std::string& out) {
    return std::string(tag) + " completed | inputPoints=" + std::to_string(in) +
           " | writtenPoints=" + std::to_string(written) + " | output=" + out + "\n";
}

// LAS 1.2, scale 0.01 with an offset, records i -> (1000 + 0.01 i, 0.02 i, -5 - 0.01 i), format 2
// with colour.
std::string numberedLas(std::size_t count, bool colour) {
    lastest::LasTestHeader h;
    h.formatByte = colour ? 2 : 0;
    h.recordLength = colour ? 26 : 20;
    h.legacyCount = static_cast<std::uint32_t>(count);
    h.offset[0] = 1000.0;
    h.offset[2] = -5.0;
    return lastest::makeLasFile(h, lastest::numberedRecords(count), colour ? 20 : -1);
}

}  // namespace

// Number formatting itself is tested with the formatter; here the columns and the buffer.
TEST(XyzAsciiFormat, ColourColumnsAndTheWidestLine) {
    CloudPoint c = pointAt(-1.2345678912345e-308, -1.2345678912345e-308, -1.2345678912345e-308);
    c.red = c.green = c.blue = 65535;
    EXPECT_EQ(formatted(c, true),
              "-1.234567891e-308 -1.234567891e-308 -1.234567891e-308\n");  // has no colour
    c.hasRGB = true;
    EXPECT_LE(formatted(c, true).size(), kMaxXyzAsciiLine);
    EXPECT_EQ(formatted(c, false).find(" 65535"), std::string::npos);
}

TEST(XyzAsciiExport, XyzInputMixesColumnsAndCountsOnlyGoodLines) {
    TempDir dir;
    const fs::path input = dir / "cloud.xyz";
    writeFile(input,
              "0.5 0.5 1\n"
              "1.25 0.75 -2 10 20 30\n"
              "not a point\n"
              "1 2\n"
              "5 5 5 1 2 3\n"                       // tile (5, 5): not selected
              "0.1 1.9 123456789.123 300 -4 7\n");  // colour clamped by the reader
    const fs::path output = dir / "out" / "cloud_cut.xyz";
    const fs::path status = dir / "job.ini.status.ini";
    ExportJob job = jobWithTiles(input.string(), output.string(), {{0, 0}, {1, 0}, {0, 1}});

    auto r = runRoute(exportXyzAscii, job, status);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(readFile(output), "0.5 0.5 1\n1.25 0.75 -2 10 20 30\n0.1 1.9 123456789.1 255 0 7\n");
    EXPECT_EQ(r.result.inputPoints, 4u);
    EXPECT_EQ(r.result.writtenPoints, 3u);
    EXPECT_EQ(r.result.badLines, 2u);
    EXPECT_EQ(r.result.outputPath, output.string());
    // Below 5,000,000 points: only the closing line and the lines left out, and the start
    // status stays.
    EXPECT_EQ(r.console, completedLine("[XYZ ASCII EXPORT]", 4, 3, output.string()) +
                             "[XYZ ASCII EXPORT] left out | badLines=2 | skipped_nonfinite_xyz=0 | "
                             "outside_tile_grid=0\n");
    EXPECT_EQ(readStatus(status).state, "Running");
    EXPECT_EQ(readStatus(status).message, "XYZ ASCII export started.");

    job.exportRGB = false;
    ASSERT_TRUE(runRoute(exportXyzAscii, job, status).ok);
    EXPECT_EQ(readFile(output), "0.5 0.5 1\n1.25 0.75 -2\n0.1 1.9 123456789.1\n");

    fs::copy_file(input, dir / "CLOUD.XYZ");  // the extension test is case-blind
    job.inputE57Path = (dir / "CLOUD.XYZ").string();
    r = runRoute(exportXyzAscii, job, status);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.result.writtenPoints, 3u);
}

// This route's own selection rule: saved selections, when there are any, replace the tile set.
TEST(XyzAsciiExport, SavedSelectionsReplaceTheTileSet) {
    TempDir dir;
    const fs::path input = dir / "in.xyz";
    writeFile(input, "0.5 0.5 -100\n1.5 0.5 2\n1.5 0.5 10\n1.5 0.5 10.5\n2.5 0.5 5\n");
    const fs::path output = dir / "out.xyz";
    ExportJob job = jobWithTiles(input.string(), output.string(), {{2, 0}});
    job.savedTileSelections.push_back(SavedTileSelection{{{0, 0}}});  // any z
    job.selectedHeightRanges.push_back(
        SelectedHeightRange{{{1, 0}}, 10.0, 2.0});  // bounds included
    ASSERT_TRUE(runRoute(exportXyzAscii, job, dir / "s").ok);
    EXPECT_EQ(readFile(output), "0.5 0.5 -100\n1.5 0.5 2\n1.5 0.5 10\n");
    job.savedTileSelections.clear();
    job.selectedHeightRanges.clear();
    ASSERT_TRUE(runRoute(exportXyzAscii, job, dir / "s").ok);
    EXPECT_EQ(readFile(output), "2.5 0.5 5\n");
}

TEST(XyzAsciiExport, FailuresAndTheirOrder) {
    TempDir dir;
    const fs::path input = dir / "in.xyz";
    writeFile(input, "0.5 0.5 0.5\n");
    writeFile(dir / "in.txt", "0.5 0.5 0.5\n");
    const fs::path status = dir / "status.ini";
    const fs::path fresh = dir / "new" / "out.xyz";

    // Tile size, the split check, then the input's kind: all before any file work.
    ExportJob job = jobWithTiles((dir / "in.txt").string(), fresh.string(), {{0, 0}}, 0.0);
    job.exportMode = 1;
    EXPECT_EQ(failureOf(exportXyzAscii, job, status),
              "XYZ ASCII export failed: coarse tile size must be > 0.");
    job.coarseTileSize = 1.0;
    for (int mode : {1, 2, 3}) {
        job.exportMode = mode;
        EXPECT_EQ(failureOf(exportXyzAscii, job, status),
                  "XYZ ASCII split export is not connected yet. Use single combined output for "
                  "this patch.");
    }
    job.exportMode = 0;
    EXPECT_EQ(failureOf(exportXyzAscii, job, status),
              "XYZ ASCII export failed: the input is not an .e57 or .xyz file: " +
                  (dir / "in.txt").string());
    job.inputE57Path.clear();
    EXPECT_EQ(failureOf(exportXyzAscii, job, status),
              "XYZ ASCII export failed: the job names no input file (InputE57Path is empty).");
    EXPECT_FALSE(fs::exists(dir / "new"));
    EXPECT_FALSE(fs::exists(status));

    const fs::path out = dir / "empty_sel.xyz";
    job = jobWithTiles(input.string(), out.string(), {});
    job.savedTileSelections.push_back(SavedTileSelection{});
    EXPECT_EQ(failureOf(exportXyzAscii, job, status),
              "XYZ ASCII export failed: no selected tiles or height ranges.");
    EXPECT_FALSE(fs::exists(out));
    // Nothing kept is a failure too, never an empty file reported as a success.
    job = jobWithTiles(input.string(), out.string(), {{7, 7}});
    EXPECT_EQ(failureOf(exportXyzAscii, job, status),
              "XYZ ASCII export produced zero output points.");
    EXPECT_FALSE(fs::exists(out));

    fs::create_directories(dir / "adir");
    // A name of exactly the folder's limit is exported below; one byte more is refused first.
    const std::size_t limit = platform::maxNameLength(dir.path().string());
    const fs::path longest = dir / (std::string(limit - 4, 'n') + ".xyz");
    const fs::path tooLong = dir / (std::string(limit - 3, 'n') + ".xyz");
    const struct {
        std::string input, output, want;
        bool prefix;
    } cases[] = {
        {(dir / "missing.xyz").string(), out.string(),
         "Cannot open XYZ input for XYZ ASCII export: ", true},
        {(dir / "missing.e57").string(), out.string(), "", true},  // PDAL's own text
        {input.string(), (dir / "adir").string(),
         "XYZ ASCII export failed: the output path is a folder: " + (dir / "adir").string(), false},
        {input.string(), tooLong.string(),
         "XYZ ASCII export failed: the output name is too long for the file system: " +
             tooLong.string() + " (File name too long)",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " -> " + c.output);
        exporttest::expectFailureText(
            failureOf(exportXyzAscii, jobWithTiles(c.input, c.output, {{0, 0}}), status), c.want,
            c.prefix);
    }
    EXPECT_TRUE(
        runRoute(exportXyzAscii, jobWithTiles(input.string(), longest.string(), {{0, 0}})).ok);
    EXPECT_TRUE(fs::is_regular_file(longest));

    const fs::path full = dir / "full";
    REQUIRE_CHAR_DEVICE(testsupport::makeFullDevice(full), full);
    EXPECT_EQ(
        failureOf(exportXyzAscii, jobWithTiles(input.string(), full.string(), {{0, 0}}), status),
        "XYZ ASCII export failed while writing output file: " + full.string() +
            " (No space left on device)");
}

// A close that fails (a file system that reports a lost write only there) fails the export,
// and nothing is published.
TEST(XyzAsciiExport, AFailedCloseIsReportedAndPublishesNothing) {
    TempDir dir;
    const fs::path input = dir / "in.xyz", output = dir / "out.xyz";
    writeFile(input, "0.5 0.5 0.5\n");
    platform::failNextWriteCloseForTesting(EIO);
    const std::string error =
        failureOf(exportXyzAscii, jobWithTiles(input.string(), output.string(), {{0, 0}}),
                  dir / "status.ini");
    platform::failNextWriteCloseForTesting(0);
    EXPECT_EQ(error, "XYZ ASCII export failed while writing output file: " + output.string() +
                         " (Input/output error)");
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(exporttest::unfinishedFiles(dir.path()).empty());
}

TEST(XyzAsciiExport, E57InputWithAndWithoutColour) {
    TempDir dir;
    pdaltest::ScanSpec s;
    s.x = {0.5, 1.5, 0.25, 7.5};
    s.y = {0.5, 0.5, 0.75, 7.5};
    s.z = {1.0, -2.0, 123456789.123, 0.0};
    s.red = {65535, 256, 255, 1};
    s.green = {256, 255, 65535, 2};
    s.blue = {255, 65535, 0, 3};
    s.colourMax = 65535;
    const fs::path coloured = dir / "coloured.e57";
    pdaltest::writeE57(coloured.string(), {s});
    const fs::path output = dir / "out.xyz";
    ExportJob job = jobWithTiles(coloured.string(), output.string(), {{0, 0}, {1, 0}});

    auto r = runRoute(exportXyzAscii, job, dir / "status.ini");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(readFile(output),
              "0.5 0.5 1 255 1 255\n1.5 0.5 -2 1 255 255\n0.25 0.75 123456789.1 255 255 0\n");
    EXPECT_EQ(r.result.inputPoints, 4u);
    EXPECT_EQ(r.result.writtenPoints, 3u);

    const std::string plainText = "0.5 0.5 1\n1.5 0.5 -2\n0.25 0.75 123456789.1\n";
    job.exportRGB = false;
    ASSERT_TRUE(runRoute(exportXyzAscii, job, dir / "status.ini").ok);
    EXPECT_EQ(readFile(output), plainText);

    s.red.clear();
    s.green.clear();
    s.blue.clear();
    pdaltest::writeE57((dir / "plain.E57").string(), {s});
    job.inputE57Path = (dir / "plain.E57").string();
    job.exportRGB = true;
    ASSERT_TRUE(runRoute(exportXyzAscii, job, dir / "status.ini").ok);
    EXPECT_EQ(readFile(output), plainText);
}

// The per-point step alone, writing one tile's points into `device`.
struct XyzPointStep {
    XyzPointStep(const fs::path& device, const fs::path& statusPath)
        : status(statusPath), job(jobWithTiles("in.xyz", device.string(), {{0, 0}})) {
        opened = built && out.open(device.string());
    }
    fs::path status;
    ExportJob job;
    std::vector<TileSet> tops;
    std::vector<HeightRangeFilter> ranges;
    TileSet tiles;
    // Members start in this order: the selection is made from the filter once it is built.
    bool built = buildXyzExportSelectionFilter(job, tops, ranges, tiles);
    UnionSelectionTest selection{tops, ranges, tiles, job.coarseTileSize};
    OutputFile out;
    bool opened = false;
    std::uint64_t read = 0, written = 0, nonFinite = 0;
    RouteProgressCadence progress;
    XyzAsciiExportContext ctx{read,   progress, status, job,       written,  tops,
                              ranges, tiles,    out,    selection, nonFinite};
};

// No report before the 5,000,000th point read, then one with the written count as it stood
// before that point.
TEST(XyzAsciiExport, ProgressEveryFiveMillionPointsRead) {
    TempDir dir;
    const fs::path null = dir / "null";
    REQUIRE_CHAR_DEVICE(testsupport::makeNullDevice(null), null);
    XyzPointStep step(null, dir / "status.ini");
    ASSERT_TRUE(step.opened);

    const CloudPoint kept = pointAt(0.5, 0.5, 0.0);
    const CloudPoint refused = pointAt(5.5, 5.5, 0.0);
    testing::internal::CaptureStdout();
    writeXyzAsciiPoint(step.ctx, kept);
    writeXyzAsciiPoint(step.ctx, kept);
    for (int i = 2; i < 4999999; ++i) writeXyzAsciiPoint(step.ctx, refused);
    const bool reportedEarly = fs::exists(step.status);
    writeXyzAsciiPoint(step.ctx, kept);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "[XYZ ASCII EXPORT] read=5000000 | written=2\n");
    EXPECT_FALSE(reportedEarly);
    EXPECT_EQ(readStatus(step.status).message,
              "Exporting 0.0% | read=5M / 0M | written=2 | method=XYZ ASCII export");
    EXPECT_EQ(step.written, 3u);
    EXPECT_TRUE(step.out.close());
}

// A full device ends the per-point step at the first write that fails, not after the whole
// input: the points read stop within one buffer's worth of lines.
TEST(XyzAsciiExport, AFullDeviceStopsAtTheFirstFailedWrite) {
    TempDir dir;
    const fs::path full = dir / "full";
    REQUIRE_CHAR_DEVICE(testsupport::makeFullDevice(full), full);
    XyzPointStep step(full, dir / "status.ini");
    ASSERT_TRUE(step.opened);
    const CloudPoint kept = pointAt(0.5, 0.5, 0.0);  // "0.5 0.5 0\n": 10 bytes
    std::string error;
    try {
        for (int i = 0; i < 1000000; ++i) writeXyzAsciiPoint(step.ctx, kept);
    } catch (const std::runtime_error& e) {
        error = e.what();
    }
    EXPECT_EQ(error, "XYZ ASCII export failed while writing output file: " + full.string() +
                         " (No space left on device)");
    EXPECT_LE(step.read, OutputFile::kBufferBytes / 10 + 1);
}

TEST(LasToXyzExport, RoundTripOfTheSelectedRecords) {
    TempDir dir;
    const fs::path input = dir / "in.las";
    writeFile(input, numberedLas(300, true));
    const fs::path output = dir / "sub" / "in_cut.xyz";
    const fs::path status = dir / "status.ini";
    ExportJob job = jobWithTiles(input.string(), output.string(), {});
    job.savedTileSelections.push_back(SavedTileSelection{{{1000, 0}, {1000, 1}}});
    job.selectedHeightRanges.push_back(SelectedHeightRange{{{1001, 2}, {1001, 3}}, -7.0, -6.5});

    auto r = runRoute(exportLasToXyz, job, status);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(readStatus(status).message, "LAS XYZ export started.");

    std::vector<CloudPoint> want;
    for (const CloudPoint& p : exporttest::readLasBack(input).points) {
        const auto ix = static_cast<long>(std::floor(p.x)), iy = static_cast<long>(std::floor(p.y));
        const bool top = ix == 1000 && (iy == 0 || iy == 1);
        const bool range = ix == 1001 && (iy == 2 || iy == 3) && p.z >= -7.0 && p.z <= -6.5;
        if (top || range) want.push_back(p);
    }
    ASSERT_GT(want.size(), 60u);
    const std::vector<CloudPoint> got = readXyzBack(output);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].x, std::stod(g10(want[i].x)));
        EXPECT_EQ(got[i].y, std::stod(g10(want[i].y)));
        EXPECT_EQ(got[i].z, std::stod(g10(want[i].z)));
        ASSERT_TRUE(got[i].hasRGB);
        EXPECT_EQ(got[i].red, want[i].red);
        EXPECT_EQ(got[i].green, want[i].green);
        EXPECT_EQ(got[i].blue, want[i].blue);
    }
    EXPECT_EQ(r.result.inputPoints, 300u);
    EXPECT_EQ(r.result.writtenPoints, want.size());
    EXPECT_EQ(r.console, completedLine("[LAS EXPORT - XYZ]", 300, want.size(), output.string()));

    // Without colour in the records, or with exportRGB cleared, every line has three columns.
    for (const bool colourRecords : {false, true}) {
        writeFile(input, numberedLas(300, colourRecords));
        job.exportRGB = !colourRecords;
        ASSERT_TRUE(runRoute(exportLasToXyz, job, status).ok);
        for (const CloudPoint& p : readXyzBack(output)) EXPECT_FALSE(p.hasRGB) << colourRecords;
    }
}

TEST(XyzAsciiExport, SharedFilesAllSelected) {
    REQUIRE_SHARED_TESTDATA();
    TempDir dir;
    const struct {
        exporttest::RouteFunction route;
        const char* file;
        std::vector<TileIndex> tiles;
        double tileSize;
        std::size_t points;
        double x, y, z, tolerance;
        std::uint64_t red, green, blue;
    } cases[] = {
        {exportXyzAscii, "e57/ColouredCubeFloat.e57", exporttest::tileBlock(-1, -1, 0, 0), 1.0,
         7680, -49.720847696065903, 17.862877547740936, -30.592817962169647, 1e-6, 652800, 652800,
         652800},
        {exportLasToXyz,
         "las/1.2-with-color.las",
         {{0, 0}},
         1e7,
         1065,
         678721022.97,
         906580758.4899988,
         462314.20000000024,
         1e-3,
         129567,
         118582,
         134764},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const fs::path output = dir / "out.xyz";
        const auto r =
            runRoute(c.route, jobWithTiles((testsupport::sharedTestData() / c.file).string(),
                                           output.string(), c.tiles, c.tileSize));
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.result.inputPoints, c.points);
        EXPECT_EQ(r.result.writtenPoints, c.points);
        const std::vector<CloudPoint> pts = readXyzBack(output);
        ASSERT_EQ(pts.size(), c.points);
        double x = 0, y = 0, z = 0;
        std::uint64_t red = 0, green = 0, blue = 0, coloured = 0;
        for (const CloudPoint& p : pts) {
            x += p.x, y += p.y, z += p.z;
            red += p.red, green += p.green, blue += p.blue, coloured += p.hasRGB;
        }
        EXPECT_EQ(coloured, c.points);
        EXPECT_NEAR(x, c.x, c.tolerance);
        EXPECT_NEAR(y, c.y, c.tolerance);
        EXPECT_NEAR(z, c.z, 1e-6);
        EXPECT_EQ(red, c.red);
        EXPECT_EQ(green, c.green);
        EXPECT_EQ(blue, c.blue);
    }
}

TEST(LasToXyzExport, FailuresAndTheirOrder) {
    TempDir dir;
    const fs::path input = dir / "in.las";
    writeFile(input, numberedLas(10, false));
    const fs::path status = dir / "status.ini";

    ExportJob job = jobWithTiles((dir / "missing.las").string(), (dir / "new" / "out.xyz").string(),
                                 {{0, 0}}, -1.0);
    EXPECT_EQ(failureOf(exportLasToXyz, job, status),
              "LAS export failed: coarse tile size must be > 0.");
    EXPECT_FALSE(fs::exists(dir / "new"));

    // The folder comes before the input is opened; nothing is written for a missing input.
    job.coarseTileSize = 1.0;
    EXPECT_EQ(failureOf(exportLasToXyz, job, status),
              "Cannot open LAS input for export: LasBinaryPointReader: cannot open LAS file (No "
              "such file or directory).");
    EXPECT_TRUE(fs::is_directory(dir / "new"));
    EXPECT_FALSE(fs::exists(dir / "new" / "out.xyz"));

    fs::create_directories(dir / "adir");
    job = jobWithTiles(input.string(), (dir / "adir").string(), {{0, 0}});
    EXPECT_EQ(failureOf(exportLasToXyz, job, status),
              "LAS export failed: the output path is a folder: " + (dir / "adir").string());

    // The selection is checked once the output is begun, before the status.
    const fs::path out = dir / "out.xyz";
    job = jobWithTiles(input.string(), out.string(), {});
    EXPECT_EQ(failureOf(exportLasToXyz, job, status),
              "LAS export failed: no selected tiles or height ranges.");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(status));

    const fs::path full = dir / "full";
    if (testsupport::makeFullDevice(full)) {
        job = jobWithTiles(input.string(), full.string(), {{1000, 0}});
        EXPECT_EQ(failureOf(exportLasToXyz, job, status),
                  "LAS export failed while writing output file: " + full.string() +
                      " (No space left on device)");
    }

    // No selected point is a failure that leaves no file.
    job = jobWithTiles(input.string(), out.string(), {{5, 5}});
    EXPECT_EQ(failureOf(exportLasToXyz, job, status), "LAS export produced zero output points.");
    EXPECT_FALSE(fs::exists(out));
}

// 5,000,000 records as a sparse file, all zero but the kept last two: one report at
// read = 5,000,000 with the written count before that record. Too slow under the sanitizers.
TEST(LasToXyzExport, ProgressEveryFiveMillionRecords) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "5,000,000-record input: optimised build only";
#endif
    TempDir dir;
    const fs::path input = dir / "zeros.las";
    lastest::LasTestHeader h;
    h.legacyCount = 5000000;
    writeFile(input, lastest::makeLasFile(h, {}));
    fs::resize_file(input, 227 + std::uintmax_t{5000000} * 20);
    {
        std::fstream f(input, std::ios::binary | std::ios::in | std::ios::out);
        const std::int32_t z = 150;  // 1.5 at scale 0.01: inside the range
        for (const std::streamoff record : {4999998, 4999999}) {
            f.seekp(227 + record * 20 + 8);
            f.write(reinterpret_cast<const char*>(&z), sizeof z);
        }
        ASSERT_TRUE(f.good());
    }
    const fs::path status = dir / "status.ini";
    const fs::path output = dir / "out.xyz";
    ExportJob job = jobWithTiles(input.string(), output.string(), {{0, 0}});
    job.selectedHeightRanges.push_back(
        SelectedHeightRange{{{0, 0}}, 1.0, 2.0});  // z = 0 is outside
    const auto r = runRoute(exportLasToXyz, job, status);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.console, "[LAS EXPORT - XYZ] read=5000000 / 5000000 | written=1\n" +
                             completedLine("[LAS EXPORT - XYZ]", 5000000, 2, output.string()));
    EXPECT_EQ(readStatus(status).message,
              "Exporting 99.9% | read=5M / 5M | written=1 | method=LAS -> XYZ ASCII");
    EXPECT_EQ(readFile(output), "0 0 1.5\n0 0 1.5\n");
}
