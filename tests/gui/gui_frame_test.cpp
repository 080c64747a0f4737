#include "gui/gui_frame.h"

#include <gtest/gtest.h>

namespace {

// While a build is finishing it writes the input's record; the window must not read it then,
// and the export buttons wait for the build to end.
TEST(GuiFrame, TheInputRecordAndTheExportsWaitUntilTheBuildHasEnded) {
    TileCountMap counts;
    TileSampleMap samples;
    double tileSize = 5.0;
    int samplesPerTile = 50;
    TileSet selected;
    std::vector<SelectedHeightRange> vertical;
    std::vector<SavedTileSelection> top;
    int exportMode = 0;
    int previewMode = 0;
    std::string input = "a.xyz";
    std::string output = "out";
    InputCloudInfo info;
    info.fileSizeMB = 3.0;
    info.totalPoints = 7;
    info.boundsValid = true;
    PreviewBuildState build;
    GuiInputs in{counts,     samples,     tileSize, samplesPerTile, selected, vertical, top,
                 exportMode, previewMode, input,    output,         &info,    &build,   nullptr,
                 {},         {},          {}};
    TileSelectionGuiState gui;
    GuiProcessState proc;
    GuiFrame f{in, gui, proc, nullptr, nullptr, TileIndexBounds{}, BuildFlags{}};

    EXPECT_EQ(readableInputInfo(f), &info);  // no build yet
    build.running = true;
    build.inputFileBytes = 2 * 1048576;
    const InputCloudInfo* during = readableInputInfo(f);
    ASSERT_NE(during, &info);
    EXPECT_DOUBLE_EQ(during->fileSizeMB, 2.0);
    EXPECT_FALSE(during->boundsValid);
    EXPECT_EQ(during->totalPoints, 0u);
    EXPECT_TRUE(buildStillReading(readBuildFlags(&build)));  // read, not yet ready

    build.ready = true;
    EXPECT_EQ(readableInputInfo(f), &info);
    EXPECT_FALSE(buildStillReading(readBuildFlags(&build)));
    build.ready = false;
    build.failed = true;
    EXPECT_EQ(readableInputInfo(f), &info);
    EXPECT_FALSE(buildStillReading(readBuildFlags(&build)));

    // A build's warning reaches the stage lines once it is published.
    build.failed = false;
    build.warning = "Warning: truncated";
    EXPECT_EQ(readBuildFlags(&build).warning, "");
    build.hasWarning = true;
    EXPECT_EQ(readBuildFlags(&build).warning, "Warning: truncated");
}

}  // namespace
