#include "app/export_preparation.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "points/job/export_job_file.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// The program's state that the preparation reads, around one output folder. The helper is
// a script that ends at once without a report.
struct PreparationFixture {
    TempDir dir;
    std::vector<SelectedHeightRange> vertical;
    std::vector<SavedTileSelection> top;
    TileSet buffer{TileIndex{9, 9}};
    fs::path inputFile = "/data/site.scan.e57";
    fs::path outputFolder = dir / "out";
    fs::path outputFile;
    TileCountMap preview{{TileIndex{0, 0}, 100}, {TileIndex{1, 0}, 300}, {TileIndex{2, 0}, 600}};
    double tileSize = 2.0;
    std::uint64_t totalPoints = 2000;
    InputCloudInfo info;
    int exportMode = 0;
    std::string inputText = "/data/site.scan.e57";
    ExportHelperStatus status;
    std::thread monitor;
    platform::ChildProcess helper;
    ExportPreparation state{vertical,     top,        buffer,     inputFile,
                            outputFolder, outputFile, preview,    tileSize,
                            totalPoints,  info,       exportMode, inputText,
                            status,       monitor,    helper,     dir / "helper.sh"};
    std::string console;

    PreparationFixture() {
        testsupport::writeFile(dir / "helper.sh", "#!/bin/sh\nprintf %s \"$2\" > job_arg.txt\n");
        fs::permissions(dir / "helper.sh", fs::perms::owner_all);
        info.boundsValid = true;
        info.minZ = 0.0;
        info.maxZ = 10.0;
    }
    ~PreparationFixture() {
        if (monitor.joinable()) monitor.join();
    }

    void launch(int outputFormat, bool rgb, bool photo) {
        testing::internal::CaptureStdout();
        makeStartExportCallback(state)(outputFormat, rgb, photo);
        console = testing::internal::GetCapturedStdout();
    }
    void finish() {
        if (monitor.joinable()) monitor.join();
    }
    std::string details() {
        std::lock_guard<std::mutex> lock(status.mutex);
        return status.details;
    }
    ExportJob job(const std::string& project = "Project 1") {
        ExportJob j;
        std::string error;
        EXPECT_TRUE(
            loadExportJobFile(outputFolder / project / "site.scan_export_job.ini", j, &error))
            << error;
        return j;
    }
};

}  // namespace

// Top selections covering every preview tile, without a vertical one, export the whole cloud:
// the job's tile set stays empty. The names keep every dot of the input's stem.
TEST(ExportPreparation, FullCoarseSelectionAndTheJobFields) {
    PreparationFixture f;
    f.top = {{{TileIndex{0, 0}, TileIndex{1, 0}}}, {{TileIndex{2, 0}}}};
    f.launch(7, true, false);
    EXPECT_EQ(f.outputFile, f.outputFolder / "Project 1" / "site.scan_cut.e57");
    EXPECT_NE(f.console.find("[EXPORT PREP] full coarse selection detected -> skipping tile "
                             "expression filter."),
              std::string::npos);
    EXPECT_NE(f.console.find("[EXPORT PREP] buffered top-view tiles (not exported directly) = 1"),
              std::string::npos);
    f.finish();

    const ExportJob job = f.job();
    EXPECT_TRUE(job.selectedCoarseTiles.empty());
    EXPECT_EQ(job.inputE57Path, "/data/site.scan.e57");
    EXPECT_EQ(job.outputE57Path, f.outputFile.string());
    EXPECT_EQ(job.outputFormat, 0);  // the E57 its name says
    EXPECT_EQ(job.exportContent, 1);
    EXPECT_EQ(job.estimatedPointsToFilter, 2000u);
    EXPECT_DOUBLE_EQ(job.outputAreaM2, 12.0);
    EXPECT_EQ(job.savedTileSelections.size(), 2u);
    EXPECT_EQ(job.selectedCoarseTileCounts, f.preview);
    EXPECT_TRUE(job.hasGlobalZBounds);
    EXPECT_DOUBLE_EQ(job.globalMaxZ, 10.0);
}

// The tile set is the union of the vertical and top selections; the estimate scales by tiles
// and the Z share; XYZ and LAS outputs get their names.
TEST(ExportPreparation, EffectiveTilesEstimateAndNames) {
    PreparationFixture f;
    f.vertical = {{{TileIndex{1, 0}, TileIndex{2, 0}}, 5.0, 2.5}};
    f.top = {{{TileIndex{0, 0}, TileIndex{1, 0}}}};
    f.exportMode = 5;  // not a split mode: one combined output
    f.launch(1, false, false);
    EXPECT_EQ(f.outputFile.filename(), "site.scan_cut.xyz");
    EXPECT_NE(f.console.find("[EXPORT PREP] height selection #1 | tiles=2 | zMin=5 | zMax=2.5"),
              std::string::npos)
        << f.console;
    EXPECT_NE(f.console.find("[EXPORT JOB] inputPath=/data/site.scan.e57 | exportMode=0 | "
                             "selectedTiles=3 | coarseTileSize=2 | totalPoints=2000 | exportRGB=0"),
              std::string::npos)
        << f.console;
    f.finish();
    const ExportJob job = f.job();
    EXPECT_EQ(job.selectedCoarseTiles.size(), 3u);
    EXPECT_EQ(job.exportMode, 0);
    EXPECT_EQ(job.exportContent, 0);
    EXPECT_EQ(job.estimatedPointsToFilter, 500u);  // 3/3 tiles x 2.5/10 of the Z span
    ASSERT_EQ(job.selectedHeightRanges.size(), 1u);

    PreparationFixture las;
    las.top = {{{TileIndex{0, 0}}}};
    las.launch(2, true, true);
    EXPECT_EQ(las.outputFile.filename(), "site.scan_cut.las");
    las.finish();
    EXPECT_EQ(las.job().exportContent, 2);

    // An input name long enough that "<stem>_export_job.ini.status.ini" would pass the limit:
    // the job's name is cut, the output's kept.
    PreparationFixture named;
    named.inputFile = "/data/" + std::string(241, 's') + ".e57";
    named.top = {{{TileIndex{0, 0}}}};
    named.launch(0, true, false);
    named.finish();
    EXPECT_EQ(named.outputFile.filename(), std::string(241, 's') + "_cut.e57");
    const fs::path jobPath = testsupport::readFile(named.dir / "job_arg.txt");
    EXPECT_LE(jobPath.filename().string().size() + std::string(".status.ini").size(), 255u);
    ExportJob loaded;
    std::string error;
    EXPECT_TRUE(loadExportJobFile(jobPath, loaded, &error)) << error;
}

// Relative paths would name other files in the helper, which runs in its program's folder.
TEST(ExportPreparation, TheHelperGetsAbsolutePaths) {
    PreparationFixture f;
    const fs::path here = fs::current_path();
    f.outputFolder = fs::relative(f.dir / "rel out", here);
    f.inputText = fs::relative(f.dir / "in.e57", here).string();
    f.top = {{{TileIndex{0, 0}}}};
    f.launch(0, true, false);
    f.finish();
    const fs::path jobPath = f.dir / "rel out" / "Project 1" / "site.scan_export_job.ini";
    const fs::path given = testsupport::readFile(f.dir / "job_arg.txt");
    EXPECT_TRUE(given.is_absolute());
    EXPECT_TRUE(fs::equivalent(given, jobPath));
    ExportJob job;
    std::string error;
    ASSERT_TRUE(loadExportJobFile(jobPath, job, &error)) << error;
    EXPECT_EQ(fs::path(job.inputE57Path), here / f.inputText);
    EXPECT_EQ(fs::path(job.outputE57Path), f.outputFile);
    EXPECT_TRUE(f.outputFile.is_absolute());
    EXPECT_TRUE(fs::equivalent(f.outputFile.parent_path(), jobPath.parent_path()));
}

// Export mode 3: the area counts a selection's distinct tiles, the estimate sums each
// selection's share of the preview's points.
TEST(ExportPreparation, TopSplitEstimateAndArea) {
    PreparationFixture f;
    f.exportMode = 3;
    f.top = {{{TileIndex{0, 0}, TileIndex{0, 0}, TileIndex{1, 0}}}, {{TileIndex{1, 0}}}};
    f.launch(0, true, false);
    f.finish();
    const ExportJob job = f.job();
    EXPECT_EQ(job.exportMode, 3);
    EXPECT_DOUBLE_EQ(job.outputAreaM2, 12.0);             // (2 + 1) tiles x 4 m2
    EXPECT_EQ(job.estimatedPointsToFilter, 800u + 600u);  // 400/1000 and 300/1000 of 2000

    EXPECT_EQ(
        collectSelectedTileCounts({TileIndex{1, 0}, TileIndex{7, 7}, TileIndex{1, 0}}, f.preview),
        (TileCountMap{{TileIndex{1, 0}, 300}}));
    const TileCountMap third{{TileIndex{0, 0}, 1}};
    const TileCountMap threeTiles{{TileIndex{0, 0}, 1}, {TileIndex{1, 0}, 1}, {TileIndex{2, 0}, 1}};
    EXPECT_EQ(estimateTopSelectionPoints(0, third, threeTiles), 0u);
    EXPECT_EQ(estimateTopSelectionPoints(10, third, threeTiles), 3u);  // 3.33 rounds down
    EXPECT_EQ(estimateTopSelectionPoints(20, third, threeTiles), 7u);  // 6.67 rounds up
    const TileCountMap half{{TileIndex{0, 0}, 1}, {TileIndex{1, 0}, 1}};
    EXPECT_EQ(estimateTopSelectionPoints(1, third, half), 1u);  // 0.5 rounds up
    EXPECT_EQ(estimateTopSelectionPoints(20, {}, threeTiles), 0u);
    EXPECT_EQ(estimateTopSelectionPoints(20, threeTiles, threeTiles), 20u);
    EXPECT_EQ(estimateTopSelectionPoints(20, {}, {}), 20u);
    const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(estimateTopSelectionPoints(most, third, threeTiles), most / 3);  // no overflow
}

// A single combined output without any saved selection fails before a helper is started and
// leaves the new project folder empty; a split mode passes on to the helper.
TEST(ExportPreparation, SingleOutputGuardAndFailures) {
    PreparationFixture f;
    f.status.message = "Exporting selection...";
    f.launch(0, true, false);
    EXPECT_TRUE(f.status.failed);
    EXPECT_TRUE(f.status.finished);
    EXPECT_FALSE(f.status.running);
    EXPECT_EQ(f.details(),
              "Single combined output file requires a saved vertical selection or a saved "
              "top-view selection.");
    EXPECT_EQ(f.status.message, "Exporting selection...");
    EXPECT_FALSE(f.monitor.joinable());
    EXPECT_FALSE(f.helper.isOpen());
    EXPECT_TRUE(fs::is_empty(f.outputFolder / "Project 1"));

    f.exportMode = 1;
    f.launch(0, true, false);
    f.finish();
    EXPECT_TRUE(fs::exists(f.outputFolder / "Project 2" / "site.scan_export_job.ini"));
    EXPECT_TRUE(f.status.finished);
    EXPECT_EQ(f.details(), "Helper export failed.");  // the stand-in wrote no report

    // A second export joins the first one's monitor before it starts its own.
    f.launch(0, true, false);
    f.launch(0, true, false);
    f.finish();
    EXPECT_TRUE(fs::exists(f.outputFolder / "Project 4" / "site.scan_export_job.ini"));

    f.state.helperProgram = f.dir / "missing-helper";
    f.launch(0, true, false);
    EXPECT_TRUE(f.status.failed);
    EXPECT_EQ(f.details(), "Could not start helper process: No such file or directory");
    EXPECT_EQ(f.status.message, "Starting helper export process...");
    EXPECT_FALSE(f.monitor.joinable());

    testsupport::writeFile(f.dir / "a file", "x");
    f.outputFolder = f.dir / "a file";
    f.launch(0, true, false);
    EXPECT_EQ(
        f.details().rfind("Cannot create base output directory: " + f.outputFolder.string(), 0), 0u)
        << f.details();

    // A path with a line break cannot go into the job file: refused before anything is made.
    f.outputFolder = f.dir / "out";
    f.top = {{{TileIndex{0, 0}}}};
    const std::pair<std::string, std::string> broken[] = {
        {"/data/a\nInputE57Path=/etc/b.e57", "input file path"},
        {"/data/a\r.e57", "input file path"}};
    for (const auto& [input, what] : broken) {
        f.inputText = input;
        f.launch(0, true, false);
        EXPECT_TRUE(f.status.failed);
        EXPECT_EQ(f.details().rfind("Cannot export: the " + what + " contains a line break.", 0),
                  0u)
            << f.details();
    }
    f.inputText = "/data/site.scan.e57";
    f.outputFolder = f.dir / "line\nbreak";
    f.launch(0, true, false);
    EXPECT_EQ(f.details().rfind("Cannot export: the output folder path contains a line break.", 0),
              0u);
    EXPECT_FALSE(fs::exists(f.outputFolder));
}
