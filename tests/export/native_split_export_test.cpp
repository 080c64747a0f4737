#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "export/split_export.h"
#include "points/job/export_status.h"
#include "support/e57_test_files.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::readE57File;
using testsupport::TempDir;
using testsupport::TestScan;

namespace {

// One posed scan over tiles x 100..109 (z 0.05..9.95) and one over x 200..209, colour and
// intensity on both, and a photo of the first.
void writeSource(const std::string& path) {
    TestScan a, b;
    a.guid = "A", b.guid = "B";
    a.pose.translation.x = 100.0;
    for (TestScan* s : {&a, &b}) s->hasColour = s->hasIntensity = true;
    for (int i = 0; i < 100; ++i) {
        a.add(i % 10 + 0.5, 0.5, i * 0.1 + 0.05);
        b.add(200.0 + i % 10 + 0.5, 0.5, i * 0.1 + 0.05);
    }
    testsupport::writeE57Source(path, "file-guid", {a, b}, {{"img-A", "A", "jpeg-of-A"}});
}

std::vector<TileIndex> rowOfTiles(std::int64_t x0) {
    std::vector<TileIndex> tiles;
    for (std::int64_t ix = x0; ix < x0 + 10; ++ix) tiles.push_back({ix, 0});
    return tiles;
}

std::size_t pointsIn(const std::string& path) {
    std::size_t n = 0;
    for (const testsupport::ReadScan& s : readE57File(path).scans) n += s.x.size();
    return n;
}

}  // namespace

TEST(NativeSplitExport, OneFilePerSelectionEachWithItsOwnSelectionAlone) {
    TempDir dir;
    const std::string input = (dir / "src.e57").string();
    writeSource(input);
    const std::vector<SelectedHeightRange> vertical{{rowOfTiles(100), 5.0, 0.0},
                                                    {rowOfTiles(200), 0.0, 100.0}};
    std::vector<TileIndex> top = rowOfTiles(200);
    top.push_back(top.front());  // a duplicate counts once
    TileCountMap counts;
    for (const TileIndex& t : rowOfTiles(200)) counts[t] = 7;
    const fs::path status = dir / "job.ini.status.ini";
    ExportResult result;
    std::string error;
    testing::internal::CaptureStdout();
    const bool ok = exportSplitSelections(input, (dir / "cut.e57").string(), vertical, {{top}},
                                          counts, 1.0, 200, false, &result, &error, &status, true);
    const std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok) << error;

    EXPECT_EQ(pointsIn((dir / "cut_vertical_01.e57").string()), 50u);  // z range reversed
    EXPECT_EQ(pointsIn((dir / "cut_vertical_02.e57").string()), 100u);
    const testsupport::ReadFile t1 = readE57File((dir / "cut_top_01.e57").string());
    ASSERT_EQ(t1.scans.size(), 1u);
    EXPECT_EQ(t1.scans[0].header.guid, "B_s1_p1");
    EXPECT_EQ(t1.scans[0].x[3], 203.5);
    EXPECT_FALSE(fs::exists(dir / "cut.e57"));

    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.inputPoints, 200u);
    EXPECT_EQ(result.writtenPoints, 70u);  // the preview counts of the top selection's tiles
    EXPECT_EQ(result.outputPath, (dir / "cut.e57").string());
    EXPECT_GT(result.outputSizeMB, 0.0);
    std::string state, message;
    ASSERT_TRUE(readExportStatusFile(status, &state, &message));
    EXPECT_EQ(message, "Exporting 100.0% | native E57 split export completed");
    EXPECT_NE(
        console.find("[NATIVE SPLIT] vertical #1 | output=" +
                     (dir / "cut_vertical_01.e57").string() + " | tiles=10 | zMin=5 | zMax=0"),
        std::string::npos);
    EXPECT_NE(console.find("[NATIVE SPLIT] top #1 | output=" + (dir / "cut_top_01.e57").string() +
                           " | tiles=10"),
              std::string::npos);
    EXPECT_NE(console.find("[NATIVE SPLIT] completed | outputs=3"), std::string::npos);
}

TEST(NativeSplitExport, AFailedOutputStopsTheSplitWithItsOwnTextAndKeepsEarlierFiles) {
    TempDir dir;
    const std::string input = (dir / "src.e57").string();
    writeSource(input);
    ExportResult result;
    std::string error;
    testing::internal::CaptureStdout();
    const bool ok =
        exportSplitVertical(input, (dir / "cut.e57").string(),
                            {{rowOfTiles(100), 0.0, 100.0}, {rowOfTiles(500), 0.0, 1.0}}, 1.0, 200,
                            12.5, {}, false, &result, &error, true);
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(ok);
    EXPECT_EQ(error,
              "Export selection produced zero output points. Check tile indices / coarse tile size "
              "/ selection mode. | vertical #2 | output=" +
                  (dir / "cut_vertical_02.e57").string());
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.errorMessage, "");
    EXPECT_EQ(pointsIn((dir / "cut_vertical_01.e57").string()), 100u);
    EXPECT_FALSE(fs::exists(dir / "cut_vertical_02.e57"));

    // One selection: the job's own output path, and the mode entry stores the output area.
    testing::internal::CaptureStdout();
    ASSERT_TRUE(exportSplitTop(input, (dir / "one.e57").string(), {{rowOfTiles(100)}}, 1.0, 200,
                               12.5, {}, false, &result, &error, true))
        << error;
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(pointsIn((dir / "one.e57").string()), 100u);
    EXPECT_EQ(result.outputAreaM2, 12.5);
}
