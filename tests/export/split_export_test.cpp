#include "export/split_export.h"
#include "export/xyz_split_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "points/input/cloud_point.h"
#include "points/input/xyz_line_grammar.h"
#include "export/export_test_util.h"
#include "support/e57_test_files.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::readE57File;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

constexpr const char* kSourceGuid = "xyz-split-export-source_s0_p1";

struct SplitRun {
    bool ok = false;
    ExportResult result;
    std::string error;
    std::string console;
};

SplitRun runSplit(const fs::path& input, const fs::path& output,
                  const std::vector<SelectedHeightRange>& vertical,
                  const std::vector<SavedTileSelection>& top, bool photo = false,
                  bool colour = true, std::uint64_t total = 0, double tileSize = 1.0) {
    SplitRun r;
    r.result.outputAreaM2 = 99.0;  // must be reset
    testing::internal::CaptureStdout();
    r.ok = exportSplitSelections(input.string(), output.string(), vertical, top, TileCountMap{},
                                 tileSize, total, photo, &r.result, &r.error, nullptr, colour);
    r.console = testing::internal::GetCapturedStdout();
    return r;
}

void expectFailure(const SplitRun& r, const std::string& message) {
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.result.success);
    EXPECT_EQ(r.error, message);
    EXPECT_EQ(r.result.errorMessage, message);
}

SelectedHeightRange vertical(std::vector<TileIndex> tiles, double zMin, double zMax) {
    SelectedHeightRange r;
    r.tiles = std::move(tiles);
    r.zMin = zMin;
    r.zMax = zMax;
    return r;
}

}  // namespace

TEST(SplitExport, OutputNaming) {
    const SplitOutputNaming one{true, "/data/scan_cut.e57", "/data/scan_cut.e57"};
    EXPECT_EQ(makeSplitOutputPath(one, "top", 1), "/data/scan_cut.e57");
    const SplitOutputNaming many{false, "/data/scan_cut.e57", "/data/scan_cut.e57"};
    EXPECT_EQ(makeSplitOutputPath(many, "vertical", 1), "/data/scan_cut_vertical_01.e57");
    EXPECT_EQ(makeSplitOutputPath(many, "vertical", 2), "/data/scan_cut_vertical_02.e57");
    EXPECT_EQ(makeSplitOutputPath(many, "top", 1), "/data/scan_cut_top_01.e57");
    EXPECT_EQ(makeSplitOutputPath(many, "vertical", 99), "/data/scan_cut_vertical_99.e57");
    EXPECT_EQ(makeSplitOutputPath(many, "vertical", 100), "/data/scan_cut_vertical_100.e57");
}

TEST(SplitExport, RefusalsKeepTheInputAndLeaveNoOutput) {
    TempDir dir;
    const fs::path xyz = dir / "in.xyz";
    writeFile(xyz, "0.5 0.5 1\n");
    const std::vector<SavedTileSelection> top{{{{0, 0}}}};

    // The checks come in this order: no selection before a bad input, which is before photo.
    expectFailure(runSplit(dir / "in.las", dir / "out.e57", {}, {}, true),
                  "Split export requires at least one saved vertical or top selection.");
    expectFailure(runSplit(dir / "in.las", dir / "out.e57", {}, top, true),
                  "Split export supports only .e57 and .xyz input files.");
    expectFailure(runSplit(xyz, dir / "out.e57", {}, top, true),
                  "Photo third-pass export is not supported for XYZ input. Disable photo "
                  "preservation for XYZ files.");

    // An output that is the input would be truncated (XYZ) or removed (E57) before reading.
    expectFailure(runSplit(xyz, xyz, {}, top),
                  "Split export failed: the output file is the input file: " + xyz.string());
    EXPECT_EQ(testsupport::readFile(xyz), "0.5 0.5 1\n");
    const fs::path e57 = dir / "in.e57";
    writeFile(e57, "E57 bytes");
    expectFailure(runSplit(e57, e57, {vertical({{0, 0}}, 0, 1)}, {}),
                  "Split export failed: the output file is the input file: " + e57.string());
    EXPECT_EQ(testsupport::readFile(e57), "E57 bytes");

    // An input that cannot be opened leaves none of the outputs already created.
    const fs::path missing = dir / "missing.xyz";
    expectFailure(runSplit(missing, dir / "out.e57", {}, {top[0], top[0]}),
                  "Could not open XYZ input for split export: " + missing.string() +
                      " (No such file or directory)");
    EXPECT_FALSE(fs::exists(dir / "out_top_01.e57"));
    EXPECT_FALSE(fs::exists(dir / "out_top_02.e57"));
}

// Checked before any work: a numbered name past the file system's limit would fail only when
// the finished output is moved into place, a photo split's working file must not be the input
// once an old output was removed, and a folder at the output path is refused, not written beside.
TEST(SplitExport, NamesTooLongOrWorkingFilesOnTheInputAreRefusedBeforeAnything) {
    TempDir dir;
    const fs::path xyz = dir / "in.xyz";
    writeFile(xyz, "0.5 0.5 1\n");
    const fs::path e57 = dir / "in.e57";
    testsupport::TestScan scan;
    scan.add(0.5, 0.5, 1.0);
    testsupport::writeE57Source(e57.string(), "file-guid", {scan});
    // 244 bytes: the "_top_01" name fits, the "_vertical_01" one (256) does not.
    const fs::path output = dir / (std::string(240, 'n') + ".e57");
    const std::string stem = output.parent_path() / output.stem();
    for (const fs::path& input : {xyz, e57}) {
        SCOPED_TRACE(input);
        expectFailure(runSplit(input, output, {vertical({{0, 0}}, 0, 2)}, {{{{0, 0}}}}),
                      "Split export failed: the output name is too long for the file system: " +
                          stem + "_vertical_01.e57 (File name too long)");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
        // A folder at the output path, though the split writes only numbered names.
        fs::create_directory(dir / "o7");
        expectFailure(runSplit(input, dir / "o7", {}, {{{{0, 0}}}, {{{0, 0}}}}),
                      "Split export failed: the output path is a folder: " + (dir / "o7").string());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 3);
        fs::remove(dir / "o7");
    }

    const fs::path input = dir / "cut_top_01_geom_tmp.e57";
    fs::rename(e57, input);
    writeFile(dir / "cut_top_01.e57", "old");
    expectFailure(runSplit(input, dir / "cut.e57", {}, {{{{0, 0}}}}, true),
                  "Split export failed: the output file is the input file: " + input.string());
    EXPECT_EQ(testsupport::readFile(dir / "cut_top_01.e57"), "old");
}

TEST(SplitExport, SplitGrammarLeavesIntensityUnreadAndColoursEveryLine) {
    double x = 0, y = 0, z = 0;
    std::uint16_t r = 9, g = 9, b = 9;
    CloudPoint reader;
    ASSERT_TRUE(parseXyzSplitLine("1 2 3", &x, &y, &z, &r, &g, &b));
    EXPECT_EQ(std::vector<double>({x, y, z}), std::vector<double>({1, 2, 3}));
    EXPECT_EQ(r + g + b, 0);
    EXPECT_TRUE(parseXyzSplitLine("1 2 3 abc", &x, &y, &z, &r, &g, &b));
    EXPECT_FALSE(parseXyzLine("1 2 3 abc", reader));
    ASSERT_TRUE(parseXyzSplitLine("1 2 3 300 -5 128 x", &x, &y, &z, &r, &g, &b));
    EXPECT_EQ(std::vector<int>({r, g, b}), std::vector<int>({255, 0, 128}));
    EXPECT_FALSE(parseXyzLine("1 2 3 300 -5 128 x", reader));
    for (const char* rejected : {"", "   ", "1 2 3 4 5", "1 2 3 4 5 6 7 8", "inf 2 3", "1 nan 3",
                                 "1 2 3 255.0 1 1", "1 2 3 +1 1 1"})
        EXPECT_FALSE(parseXyzSplitLine(rejected, &x, &y, &z, &r, &g, &b)) << rejected;
}

TEST(SplitExport, FileLinesFollowTheSplitGrammar) {
    TempDir dir;
    const fs::path input = dir / "in.xyz";
    const std::string longBlank(std::size_t{3} << 20, ' ');
    const std::string longFourth = "7 7 7 " + std::string(std::size_t{3} << 20, 'a');
    writeFile(input, "1 2 3\n\n   \n1 2 3 abc\n1 2 3 300 -5 128 x\n1 2 3 4 5 6 7 8\ninf 2 3\n" +
                         longBlank + "\n" + longFourth + "\n4 5 6 7 8 9");
    const SplitRun run = runSplit(input, dir / "out.e57", {}, {{{}}});
    ASSERT_TRUE(run.ok) << run.error;
    // Ten lines: the empty one is no bad line, the blank ones are.
    EXPECT_NE(run.console.find("[MULTI SPLIT] XYZ bad lines skipped=4 | rawLines=10\n"),
              std::string::npos)
        << run.console;

    const testsupport::ReadFile file = readE57File((dir / "out.e57").string());
    ASSERT_EQ(file.scans.size(), 1u);
    const testsupport::ReadScan& s = file.scans[0];
    EXPECT_EQ(s.x, std::vector<double>({1, 1, 1, 7, 4}));
    EXPECT_EQ(s.z, std::vector<double>({3, 3, 3, 7, 6}));
    EXPECT_EQ(s.red, std::vector<std::uint16_t>({0, 0, 255, 0, 7}));
    EXPECT_EQ(s.green, std::vector<std::uint16_t>({0, 0, 0, 0, 8}));
    EXPECT_EQ(s.blue, std::vector<std::uint16_t>({0, 0, 128, 0, 9}));
}

TEST(SplitExport, RoutesEachPointToEveryOutputThatTakesIt) {
    TempDir dir;
    const fs::path input = dir / "in.xyz";
    // Tile (0, 0) twice: inside and above the vertical range; a point far away; survey digits.
    writeFile(input, "0.5 0.5 5 10 20 30\n0.5 0.5 20 40 50 60\n612345.678901234 0.5 1 1 2 3\n");
    const std::vector<SelectedHeightRange> verticals{vertical({{0, 0}}, 10, 0)};  // reversed
    const std::vector<SavedTileSelection> tops{{{{0, 0}, {0, 0}}}, {{}}};
    const SplitRun run = runSplit(input, dir / "scan_cut.e57", verticals, tops, false, true, 7);
    ASSERT_TRUE(run.ok) << run.error;

    const auto xs = [&dir](const char* name) {
        const testsupport::ReadFile f = readE57File((dir / name).string());
        EXPECT_EQ(f.root.guid, kSourceGuid);
        std::vector<double> x;
        for (const testsupport::ReadScan& s : f.scans) {
            EXPECT_TRUE(s.header.pointFields.colorRedField);
            x.insert(x.end(), s.x.begin(), s.x.end());
        }
        return x;
    };
    EXPECT_EQ(xs("scan_cut_vertical_01.e57"), std::vector<double>({0.5}));
    EXPECT_EQ(xs("scan_cut_top_01.e57"), std::vector<double>({0.5, 0.5}));
    EXPECT_EQ(xs("scan_cut_top_02.e57"), std::vector<double>({0.5, 0.5, 612345.678901234}));

    const testsupport::ReadFile all = readE57File((dir / "scan_cut_top_02.e57").string());
    ASSERT_EQ(all.scans.size(), 1u);
    const e57::Data3D& h = all.scans[0].header;
    EXPECT_EQ(h.guid, std::string(kSourceGuid) + "_s0_p1");
    EXPECT_EQ(h.cartesianBounds.xMaximum, 612345.678901234);
    EXPECT_EQ(h.cartesianBounds.zMaximum, 20.0);
    EXPECT_EQ(all.scans[0].red, std::vector<std::uint16_t>({10, 40, 1}));

    // A point kept twice counts twice; the job's total is the input count.
    const ExportResult& r = run.result;
    EXPECT_TRUE(r.success);
    EXPECT_EQ(r.inputPoints, 7u);
    EXPECT_EQ(r.writtenPoints, 6u);
    EXPECT_EQ(r.skippedPoints, 0u);
    EXPECT_EQ(r.outputAreaM2, 0.0);
    EXPECT_EQ(r.outputPath, (dir / "scan_cut.e57").string());
    EXPECT_EQ(r.errorMessage, "");
    double mb = 0.0;
    for (const char* name :
         {"scan_cut_vertical_01.e57", "scan_cut_top_01.e57", "scan_cut_top_02.e57"})
        mb += static_cast<double>(fs::file_size(dir / name)) / 1048576.0;
    EXPECT_DOUBLE_EQ(r.outputSizeMB, mb);
}

TEST(SplitExport, TilesAreTheQuotientsFloor) {
    TempDir dir;
    const fs::path input = dir / "in.xyz";
    // 0.3 / 0.1 is just below 3 (tile 2), though 0.3 * (1 / 0.1) rounds to 3.
    writeFile(input, "0.3 0 0.5\n0.35 0 0.5\n");
    const SplitRun run = runSplit(input, dir / "out.e57", {vertical({{3, 0}}, 0, 1)}, {{{{2, 0}}}},
                                  false, false, 2, 0.1);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(readE57File((dir / "out_vertical_01.e57").string()).scans.at(0).x,
              std::vector<double>({0.35}));
    EXPECT_EQ(readE57File((dir / "out_top_01.e57").string()).scans.at(0).x,
              std::vector<double>({0.3}));
}

TEST(SplitExport, ModeEntriesKeepTheAreaAndALoneOutputTakesTheJobPath) {
    TempDir dir;
    const fs::path input = dir / "in.xyz";
    writeFile(input, "0.5 0.5 5 1 2 3\n");
    const fs::path output = dir / "cut.e57";
    ExportResult result;
    std::string error;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(exportSplitTop(input.string(), output.string(), {{{{0, 0}}}}, 1.0, 1, 12.5,
                               TileCountMap{}, false, &result, &error, false))
        << error;
    EXPECT_EQ(result.outputAreaM2, 12.5);
    ASSERT_TRUE(exportSplitVertical(input.string(), output.string(), {vertical({{0, 0}}, 0, 10)},
                                    1.0, 1, 3.5, TileCountMap{}, false, &result, &error, true))
        << error;
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(result.outputAreaM2, 3.5);
    const testsupport::ReadFile f = readE57File(output.string());
    ASSERT_EQ(f.scans.size(), 1u);
    EXPECT_EQ(f.scans[0].x, std::vector<double>({0.5}));
    EXPECT_EQ(f.scans[0].red, std::vector<std::uint16_t>({1}));
}

TEST(SplitExport, AMillionPointsMakeOnePart) {
    TempDir dir;
    const fs::path input = dir / "in.xyz";
    std::string text;
    text.reserve(std::size_t{10} * 1000000);
    for (int i = 0; i < 1000000; ++i) text += "0.5 0.5 1\n";
    writeFile(input, text);
    const SplitRun run = runSplit(input, dir / "out.e57", {}, {{{}}}, false, false, 1000000);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_NE(run.console.find("part=1 | points=1000000 | rgb=0 | final=0"), std::string::npos);
    e57::Reader reader((dir / "out.e57").string(), e57::ReaderOptions{});
    ASSERT_EQ(reader.GetData3DCount(), 1);
    e57::Data3D header;
    ASSERT_TRUE(reader.ReadData3D(0, header));
    EXPECT_EQ(header.pointCount, 1000000u);
    EXPECT_EQ(header.guid, std::string(kSourceGuid) + "_s0_p1");
    reader.Close();
}

TEST(SplitExport, AnOutputWithoutPointsFailsTheSplitAndTakesTheUnfinishedFilesAlong) {
    TempDir dir;
    const fs::path input = dir / "in.xyz";
    writeFile(input, "0.5 0.5 5\n");
    const std::vector<SelectedHeightRange> verticals{vertical({{0, 0}}, 0, 10),
                                                     vertical({{0, 0}}, 50, 60)};
    const fs::path out = dir / "out.e57";
    const SplitRun run = runSplit(input, out, verticals, {{{{0, 0}}}});
    const fs::path second = dir / "out_vertical_02.e57";
    expectFailure(
        run, "Single-pass split produced zero points for vertical #2 | output=" + second.string());
    // The finished output stays whole; the empty one and the unclosed one after it go.
    EXPECT_EQ(readE57File((dir / "out_vertical_01.e57").string()).scans.at(0).x,
              std::vector<double>({0.5}));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_FALSE(fs::exists(dir / "out_top_01.e57"));

    const SplitRun first = runSplit(input, out, {vertical({{5, 5}}, 0, 10)}, {{{{0, 0}}}});
    expectFailure(first, "Single-pass split produced zero points for vertical #1 | output=" +
                             (dir / "out_vertical_01.e57").string());
    EXPECT_FALSE(fs::exists(dir / "out_vertical_01.e57"));
}

// A disk that fills while the split writes: the failure carries the system's reason, whichever
// E57 library wrote, and no file stays.
TEST(SplitExport, AFullDiskKeepsTheSystemsReason) {
    TempDir dir;
    const fs::path input = dir / "in.xyz";
    std::string lines;
    for (int i = 0; i < 100000; ++i)
        lines += std::to_string(i % 100 * 0.01) + " 0.5 " + std::to_string(i * 0.001) + "\n";
    writeFile(input, lines);
    const testsupport::SmallDisk disk(dir / "disk", 256 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs (needs root)";
    const SplitRun run =
        runSplit(input, disk.path() / "out.e57", {vertical({{0, 0}}, -1, 1000)}, {{{{0, 0}}}});
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.error.find("No space left on device"), std::string::npos) << run.error;
    EXPECT_TRUE(fs::is_empty(disk.path()));
}

TEST(SplitExport, ProgressEveryTenMillionPointsRead) {
    TempDir dir;
    std::vector<MultiSplitOutput> outputs(1);
    outputs[0].label = "top #1";
    outputs[0].reach = multiSplitReach(outputs[0].tiles, outputs[0].heightRanges);
    outputs[0].selection.emplace(outputs[0].tiles, outputs[0].heightRanges, 1.0);
    resetMultiSplitBounds(outputs[0].bounds);
    std::uint64_t read = 9999999;
    std::uint64_t nonFinite = 0;
    const double tileSize = 1.0;
    const std::uint64_t perPart = kMultiSplitPartPoints;
    const std::string guid = kSourceGuid;
    const bool colour = true;
    MultiSplitPartContext part{guid, colour};
    std::uint64_t total = 40000000;
    const fs::path status = dir / "job.ini.status.ini";
    MultiSplitRouteContext ctx{read,    nonFinite, outputs, tileSize, tileSize,
                               perPart, part,      total,   &status};

    std::ostream::fmtflags flags = std::cout.flags();
    const std::streamsize precision = std::cout.precision();
    testing::internal::CaptureStdout();
    routeMultiSplitPoint(ctx, 0.5, 0.5, 0.5, 1, 2, 3, true);
    std::cout << 3.14159 << "\n";  // the fixed notation stays set
    const exporttest::StatusSeen first = exporttest::readStatus(status);
    read = 19999999;
    total = 0;
    routeMultiSplitPoint(ctx, 0.5, 0.5, 0.5, 1, 2, 3, true);
    const std::string console = testing::internal::GetCapturedStdout();
    std::cout.flags(flags);
    std::cout.precision(precision);

    EXPECT_EQ(
        console,
        "[MULTI SPLIT] read=10000000 | keptAcrossOutputs=1 | pointHasRGB=1 | progress=25.0%\n"
        "3.1\n"
        "[MULTI SPLIT] read=20000000 | keptAcrossOutputs=2 | pointHasRGB=1 | progress=0.0%\n");
    EXPECT_EQ(first.state, "Running");
    EXPECT_EQ(first.message, "Exporting 10M / 40M pts | 25.0% | kept=0M | outputs=1");
    EXPECT_EQ(exporttest::readStatus(status).message,
              "Exporting 20M / 0M pts | 0.0% | kept=0M | outputs=1");
}
