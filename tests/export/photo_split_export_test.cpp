#include "export/photo_split_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "support/e57_test_files.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::readE57File;
using testsupport::TempDir;
using testsupport::TestImage;
using testsupport::TestScan;

namespace {

// Scan A sits at x 100..110 (raw 0..10 under a translation), scan B at x 200..210 (identity
// pose, far-out raw values), scan C is stored spherical-only; each has a photo.
void writeSource(const std::string& path, bool nanIntensityInA = false) {
    TestScan a, b, c;
    a.guid = "A", b.guid = "B", c.guid = "C";
    a.pose.translation.x = 100.0;
    for (TestScan* s : {&a, &b, &c}) s->hasColour = s->hasIntensity = true;
    c.cartesian = false;
    for (int i = 0; i < 100; ++i) {
        a.add(i % 10 + 0.5, 0.5, i * 0.1 + 0.05);
        b.add(200.0 + i % 10 + 0.25, 0.5, i * 0.1 + 0.05);
        c.add(i % 10 + 1.0, 1.0, 1.0);
    }
    if (nanIntensityInA) a.intensity[3] = std::numeric_limits<double>::quiet_NaN();
    testsupport::writeE57Source(
        path, "file-guid", {a, b, c},
        {{"img-A", "A", "jpeg-of-A"}, {"img-B", "B", "jpeg-of-B"}, {"img-C", "C", "jpeg-of-C"}});
}

std::vector<TileIndex> rowOfTiles(std::int64_t x0) {
    std::vector<TileIndex> tiles;
    for (std::int64_t ix = x0; ix < x0 + 10; ++ix) tiles.push_back({ix, 0});
    return tiles;
}

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(dir)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(PhotoMultiSplit, EachOutputHoldsItsScansWithTheirPhotosAndNothingTemporaryStays) {
    TempDir dir;
    const std::string input = (dir / "src.e57").string();
    writeSource(input, true);
    fs::create_directory(dir / "out");
    const std::vector<SelectedHeightRange> vertical{{rowOfTiles(100), 0.0, 5.0},
                                                    {rowOfTiles(200), 100.0, 0.0}};
    std::vector<TileIndex> both = rowOfTiles(100);
    for (const TileIndex& t : rowOfTiles(200)) both.push_back(t);
    both.push_back(both.front());  // a duplicate counts once
    const std::vector<SavedTileSelection> top{{both}};

    ExportResult result;
    result.errorMessage = "stale";
    std::string error;
    testing::internal::CaptureStdout();
    const bool ok = exportPhotoMultiSplit(input, (dir / "out" / "cut.e57").string(), vertical, top,
                                          1.0, 300, &result, &error);
    const std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(filesIn(dir / "out"), (std::vector<fs::path>{"cut_top_01.e57", "cut_vertical_01.e57",
                                                           "cut_vertical_02.e57"}));
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.inputPoints, 300u);
    EXPECT_EQ(result.writtenPoints, 50u + 100u + 200u);
    EXPECT_EQ(result.errorMessage, "");
    EXPECT_EQ(result.outputPath, (dir / "out" / "cut.e57").string());
    EXPECT_GT(result.outputSizeMB, 0.0);
    EXPECT_NE(console.find("[PHOTO MULTI SPLIT] scan skipped: non-cartesian | scanIndex=2 | "
                           "points=100"),
              std::string::npos);

    const testsupport::ReadFile v1 = readE57File((dir / "out" / "cut_vertical_01.e57").string());
    EXPECT_EQ(v1.root.guid, "file-guid");
    ASSERT_EQ(v1.scans.size(), 1u);
    const testsupport::ReadScan& a = v1.scans[0];
    EXPECT_EQ(a.header.guid, "A");
    EXPECT_EQ(a.header.pose.translation.x, 100.0);
    ASSERT_EQ(a.x.size(), 50u);
    EXPECT_EQ(a.x[7], 7.5);  // raw, not world
    EXPECT_EQ(a.z[49], 49 * 0.1 + 0.05);
    EXPECT_EQ(a.header.cartesianBounds.zMaximum, 49 * 0.1 + 0.05);
    EXPECT_FALSE(a.header.pointFields.intensityField);  // one kept intensity was NaN
    EXPECT_TRUE(a.header.pointFields.colorRedField);
    ASSERT_EQ(v1.images.size(), 1u);
    EXPECT_EQ(v1.images[0].header.associatedData3DGuid, "A");
    EXPECT_EQ(v1.images[0].blob, "jpeg-of-A");

    const testsupport::ReadFile v2 = readE57File((dir / "out" / "cut_vertical_02.e57").string());
    ASSERT_EQ(v2.scans.size(), 1u);
    EXPECT_EQ(v2.scans[0].header.guid, "B");
    EXPECT_TRUE(v2.scans[0].header.pointFields.intensityField);
    EXPECT_EQ(v2.scans[0].intensity[1], 0.001);  // a 64-bit source value, not float-rounded
    EXPECT_EQ(v2.scans[0].x[1], 201.25);
    ASSERT_EQ(v2.images.size(), 1u);
    EXPECT_EQ(v2.images[0].blob, "jpeg-of-B");

    const testsupport::ReadFile t1 = readE57File((dir / "out" / "cut_top_01.e57").string());
    ASSERT_EQ(t1.scans.size(), 2u);
    EXPECT_EQ(t1.images.size(), 2u);
}

TEST(PhotoMultiSplit, ASingleSelectionIsNumberedAndAnOutputWithoutPointsFailsTheExport) {
    TempDir dir;
    const std::string input = (dir / "src.e57").string();
    writeSource(input);
    ExportResult result;
    std::string error;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(exportPhotoMultiSplit(input, (dir / "scan_cut.e57").string(), {},
                                      {{rowOfTiles(200)}}, 1.0, 0, &result, &error))
        << error;
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(fs::exists(dir / "scan_cut_top_01.e57"));
    EXPECT_FALSE(fs::exists(dir / "scan_cut.e57"));

    // The vertical output is merged first and stays; the empty top output fails the export.
    fs::create_directory(dir / "fail");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(exportPhotoMultiSplit(input, (dir / "fail" / "cut.e57").string(),
                                       {{rowOfTiles(100), 0.0, 100.0}}, {{rowOfTiles(500)}}, 1.0, 0,
                                       &result, &error));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(error, "Photo multi split produced zero points for top #1");
    EXPECT_FALSE(result.success);
    EXPECT_EQ(result.errorMessage, error);
    EXPECT_EQ(filesIn(dir / "fail"), (std::vector<fs::path>{"cut_vertical_01.e57"}));

    EXPECT_FALSE(
        exportPhotoMultiSplit(input, (dir / "x.e57").string(), {}, {}, 1.0, 0, nullptr, &error));
    EXPECT_EQ(error, "Photo split export requires at least one saved vertical or top selection.");

    // An empty folder at a working name stays and refuses the split before its geometry pass.
    const fs::path working = dir / "scan_cut_top_01_with_photos_tmp.e57";
    fs::create_directory(working);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(exportPhotoMultiSplit(input, (dir / "scan_cut.e57").string(), {},
                                       {{rowOfTiles(200)}}, 1.0, 0, nullptr, &error));
    EXPECT_EQ(testing::internal::GetCapturedStdout().find("geometry pass"), std::string::npos);
    EXPECT_EQ(error, "Split export failed: the working file path is a folder: " + working.string());
    EXPECT_TRUE(fs::is_directory(working));
}

// A disk that fills in the geometry pass or in the merge: the split fails with the system's
// reason, which the merge must ask before its failed file frees the disk, and leaves nothing.
TEST(PhotoMultiSplit, AFullDiskInEitherPassSaysWhy) {
    TempDir dir;
    const std::string input = (dir / "src.e57").string();
    TestScan a;
    a.guid = "A";
    a.hasColour = a.hasIntensity = true;
    for (int i = 0; i < 40000; ++i) a.add(100.5 + i % 10, 0.5, i * 0.001);
    testsupport::writeE57Source(input, "file-guid", {a}, {{"img-A", "A", std::string(4000, 'p')}});
    const std::vector<SavedTileSelection> top{{rowOfTiles(100)}};
    std::string error;
    testing::internal::CaptureStdout();
    const bool whole =
        exportPhotoMultiSplit(input, (dir / "cut.e57").string(), {}, top, 1.0, 0, nullptr, &error);
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(whole) << error;
    const std::uint64_t bytes = fs::file_size(dir / "cut_top_01.e57");
    const struct {
        const char* phase;
        std::uint64_t diskBytes;
        const char* words;  // the failing pass's own
    } cases[] = {{"geometry", bytes / 2, "Photo multi split WriteData3DData failed"},
                 {"merge", bytes + bytes / 2, "final photo merge failed"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.phase);
        const testsupport::SmallDisk disk(dir / c.phase, c.diskBytes);
        if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs (needs root)";
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        const bool ok = exportPhotoMultiSplit(input, (disk.path() / "cut.e57").string(), {}, top,
                                              1.0, 0, nullptr, &error);
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find("No space left on device"), std::string::npos) << error;
        EXPECT_NE(error.find(c.words), std::string::npos) << error;
        EXPECT_TRUE(fs::is_empty(disk.path()));
    }
}
