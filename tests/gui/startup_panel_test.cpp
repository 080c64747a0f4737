#include "gui/startup_panel.h"

#include <gtest/gtest.h>

#include <cstring>

#include "gui/load_gating.h"
#include "gui/sample_recommendation.h"
#include "startup_test_fixture.h"

namespace {

TEST(RecommendedSamplesPerTile, FollowsBoundsElseTheTotal) {
    struct Case {
        std::uint64_t preflightTotal;  // 0: no analysed preflight
        std::uint64_t infoTotal;
        bool bounds;
        double tileSize;
        int retileSamples;
        int expected;
    };
    const Case cases[] = {
        {0, 0, false, 5.0, 0, 32},
        {60000000, 0, false, 5.0, 0, 64},
        {50000000, 0, false, 5.0, 0, 128},
        {0, 250000000, false, 5.0, 0, 64},
        {0, 1000000001, false, 5.0, 0, 16},
        {60000000, 900000000, false, 5.0, 0, 64},  // the preflight wins
        {0, 0, true, 5.0, 700, 700},
        {0, 0, true, 5.0, 9000, 5000},
        {0, 0, true, 5.0, 0, 4},
        {0, 0, true, 0.0, 700, 32},  // no tile size: bounds are not used
    };
    for (const Case& c : cases) {
        E57PreflightAnalysis preflight;
        preflight.attempted = preflight.ok = c.preflightTotal != 0;
        preflight.totalPoints = c.preflightTotal;
        InputCloudInfo info;
        info.totalPoints = c.infoTotal;
        info.boundsValid = c.bounds;
        info.maxX = 100.0;
        info.maxY = 40.0;
        EXPECT_EQ(recommendedPreviewSamplesPerTile(c.tileSize, preflight, &info, c.retileSamples),
                  c.expected)
            << c.preflightTotal << " " << c.infoTotal << " " << c.bounds;
    }
}

TEST(LoadGating, FirstRuleThatAppliesAndWhetherLoadIsReady) {
    E57PreflightAnalysis none;
    E57PreflightAnalysis failed;
    failed.attempted = true;
    failed.inputPath = "/d/scan.e57";
    E57PreflightAnalysis ok = failed;
    ok.ok = true;
    struct Case {
        double tileSize;
        const char* input;
        const char* output;
        const E57PreflightAnalysis* preflight;
        const char* line;
        bool ready;
    };
    const Case cases[] = {
        {0.0, "/d/a.xyz", "/o", &none, "Coarse tile size must be > 0.", false},
        {5.0, "", "/o", &none, "Enter the input .e57 or .xyz file path.", false},
        {5.0, "/d/a.xyz", "", &none, "Enter the output folder path.", false},
        {5.0, "/d/a.xyz", " \t", &none, "Enter the output folder path.", false},
        {5.0, "/d/a.txt", "/o", &none, "Supported input files: .e57, .xyz, .las, .laz, .ptx",
         false},
        {5.0, "/d/a.laz", "/o", &none,
         "This format is recognized, but the reader is not connected yet. Phase 9A.2 will "
         "enable LAS/LAZ first.",
         false},
        {5.0, "/d/a.PTX", "/o", &none,
         "This format is recognized, but the reader is not connected yet. Phase 9A.2 will "
         "enable LAS/LAZ first.",
         false},
        {5.0, "/d/scan.e57", "/o", &none, "Read E57 header / metadata first.", false},
        {5.0, "/d/scan.e57", "/o", &failed,
         "Preflight analysis failed. Fix the input file/path first.", false},
        {5.0, "/d/other.e57", "/o", &ok, "Read E57 header / metadata first.", false},
        {5.0, "  /d/scan.e57  ", "/o", &ok, "Ready: choose Fast load or Regular load below.", true},
        {5.0, "/d/a.xyz", "/o", &none, "Ready: the preview map will be built from the input XYZ.",
         true},
        {5.0, "/d/a.las", "/o", &none, "Ready: the preview map will be built from the input LAS.",
         true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(loadGatingLine(c.tileSize, c.input, c.output, *c.preflight), c.line) << c.input;
        EXPECT_EQ(isLoadReady(c.tileSize, c.input, c.output, *c.preflight), c.ready) << c.input;
    }
}

TEST(StartupConfiguration, FieldsTakeOnlyAcceptedValuesInTheSameFrame) {
    guitest::HeadlessImGui ui;
    guitest::StartupFixture fx;
    const auto draw = fx.drawer([](GuiFrame& f) { drawStartupConfiguration(f); });
    const struct {
        double tileSize;
        int samples;
        double acceptedTileSize;
        int acceptedSamples;
    } cases[] = {{0.0, 2, 1.0, 4}, {-3.0, 9000, 1.0, 5000}, {2.5, 700, 2.5, 700}};
    for (const auto& c : cases) {
        fx.tileSize = c.tileSize;
        fx.samplesPerTile = c.samples;
        ui.frame(draw);
        EXPECT_EQ(fx.tileSize, c.acceptedTileSize);
        EXPECT_EQ(fx.samplesPerTile, c.acceptedSamples);
    }
}

TEST(StartupConfiguration, BrowseCopiesAChosenPathBoundedAndIgnoresACancel) {
    static std::string chosen;
    static bool accept = true;
    setStartupBrowseHooks({[](std::string& p) {
                               p = chosen;
                               return accept;
                           },
                           nullptr});
    guitest::HeadlessImGui ui;
    guitest::StartupFixture fx;
    const auto draw = fx.drawer([](GuiFrame& f) { drawStartupConfiguration(f); });
    chosen = std::string(2000, 'a');
    ui.frame(draw);
    ASSERT_TRUE(ui.click("Browse##input_e57", draw));
    EXPECT_EQ(std::strlen(fx.gui.inputPathText), kGuiTextBufferSize - 1);
    chosen = "/elsewhere.e57";
    accept = false;
    ASSERT_TRUE(ui.click("Browse##input_e57", draw));
    EXPECT_EQ(std::strlen(fx.gui.inputPathText), kGuiTextBufferSize - 1);
    ASSERT_TRUE(ui.click("Browse##output_dir", draw));  // no hook: nothing happens
    EXPECT_EQ(fx.gui.outputFolderText[0], '\0');
    setStartupBrowseHooks(StartupBrowseHooks{});  // the native dialogs again
}

TEST(StartupActions, ALoadClickStartsTheBuildOnceWithItsMode) {
    struct Case {
        const char* input;
        const char* button;
        int mode;  // the callback's argument and the preview mode afterwards (-1: left alone)
        int previewMode;
        const char* loaded;  // the path the build is given
    };
    const Case cases[] = {
        {" /d/scan.e57", "Progressive preview##startup_fast_load_button", 1, 1, "/d/scan.e57"},
        {"/d/scan.e57 ", "Exact preview##startup_regular_load_button", 0, 0, "/d/scan.e57"},
        {"/d/cloud.xyz", "Load file", 0, -1, "/d/cloud.xyz"},
    };
    for (const Case& c : cases) {
        guitest::HeadlessImGui ui;
        guitest::StartupFixture fx;
        std::vector<int> calls;
        fx.in.startBuildCallback = [&](int mode) { calls.push_back(mode); };
        std::strcpy(fx.gui.inputPathText, c.input);
        std::strcpy(fx.gui.outputFolderText, "/out");
        fx.gui.preflight.attempted = fx.gui.preflight.ok = true;
        fx.gui.preflight.inputPath = "/d/scan.e57";
        fx.gui.closeRequested = true;
        const auto draw = fx.drawer([](GuiFrame& f) { drawStartupActions(f); });
        ui.frame(draw);
        ASSERT_TRUE(ui.click(c.button, draw)) << c.button;
        ASSERT_TRUE(ui.click(c.button, draw)) << c.button;
        ASSERT_EQ(calls.size(), 1u) << c.button;
        EXPECT_EQ(calls[0], c.mode);
        EXPECT_EQ(fx.previewMode, c.previewMode);
        EXPECT_EQ(fx.inputPath, c.loaded);
        EXPECT_EQ(fx.outputFolder, "/out");
        EXPECT_TRUE(fx.gui.loadStarted && fx.gui.actionTaken);
        EXPECT_FALSE(fx.gui.closeRequested);
    }
}

}  // namespace
