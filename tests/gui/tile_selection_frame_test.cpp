#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>

#include "gui/tile_selection_frame.h"
#include "headless_imgui.h"
#include "imgui_internal.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const char* const kStartupTitle = "Startup configuration##root";
const char* const kSelectionTitle = "Tile selection (coarse tiles)##root";

// The program's state as main holds it, a build record the tests publish into by hand, and
// one window-less frame at a time at an injected time.
struct FrameRig {
    TileCountMap tileCounts;
    TileSampleMap tileSamples;
    double tileSize = 5.0;
    int samplesPerTile = 2000;
    TileSet selected;
    std::vector<SelectedHeightRange> vertical;
    std::vector<SavedTileSelection> top;
    int exportMode = 0;
    int previewMode = 0;
    std::string inputPath = "scan.e57";
    std::string outputFolder = "/tmp/out";
    InputCloudInfo info;
    PreviewBuildState build;
    GuiInputs in{tileCounts, tileSamples, tileSize,  samplesPerTile, selected, vertical, top,
                 exportMode, previewMode, inputPath, outputFolder,   &info,    &build,   nullptr,
                 {},         {},          {}};
    TileSelectionGuiState gui;
    GuiProcessState proc;
    guitest::HeadlessImGui ui;
    Clock::time_point t0 = Clock::time_point{} + std::chrono::hours(1);
    const TileCountMap* shown = nullptr;
    int wantedHeight = 0;

    void start() { initTileSelectionGuiState(gui, in); }

    // The build publishes `tiles` tiles of one sample each.
    void publish(int tiles, float z = 0.0f) {
        std::lock_guard<std::mutex> lock(build.mutex);
        build.liveTileCounts.clear();
        build.liveTileSamples.clear();
        for (int i = 0; i < tiles; ++i) {
            build.liveTileCounts[TileIndex{i, 0}] = 10;
            build.liveTileSamples[TileIndex{i, 0}].push_back(Sample2D{0.0f, 0.0f, z});
        }
        build.generation.fetch_add(1);
    }

    void frame(int ms, int windowHeight = 1000) {
        ui.frame([&] {
            GuiFrame f{in, gui, proc, nullptr, nullptr, TileIndexBounds{}, BuildFlags{}};
            f.windowHeight = windowHeight;
            drawTileSelectionFrame(f, t0 + milliseconds(ms));
            shown = f.counts;
            wantedHeight = f.wantedWindowHeight;
        });
    }

    bool titleShown(const char* title) const {
        const ImGuiWindow* w = ImGui::FindWindowByName(title);
        return w && w->LastFrameActive == ImGui::GetFrameCount();
    }
};

TEST(TileSelectionFrame, LiveSnapshotCopiesTheFirstPublicationAtOnceThenAtMostEvery700ms) {
    FrameRig r;
    r.start();
    ASSERT_TRUE(r.gui.startupScreen);
    r.frame(0);
    EXPECT_EQ(r.proc.lastSnapshotGeneration, 0u);  // nothing published yet

    r.publish(1);
    r.frame(10);
    ASSERT_EQ(r.shown, &r.proc.liveSnapshotTileCounts);
    EXPECT_EQ(r.shown->size(), 1u);

    r.publish(2);  // 100 ms after the first: held back until 700 ms have passed
    r.frame(110);
    r.publish(3);
    r.frame(709);
    EXPECT_EQ(r.shown->size(), 1u);
    r.frame(710);
    EXPECT_EQ(r.shown->size(), 3u);
    EXPECT_EQ(r.proc.lastSnapshotGeneration, 3u);
    r.frame(2000);  // no new publication: nothing to copy
    EXPECT_EQ(r.proc.lastSnapshotTime, r.t0 + milliseconds(710));
}

TEST(TileSelectionFrame, SwitchToTileSelectionByBuildFlags) {
    struct Case {
        const char* name;
        bool loadStarted, stageOpen, ready, failed, liveEmptiedBeforeSwitch;
        bool switched, closes;
    };
    const Case cases[] = {
        {"selection stage opens", true, true, false, false, false, true, false},
        {"build ready", true, false, true, false, false, true, false},
        {"live maps gone: the snapshot", true, false, true, false, true, true, false},
        {"still building", true, false, false, false, false, false, false},
        {"failed", true, true, false, true, false, false, true},
        {"no load started", false, true, true, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameRig r;
        r.start();
        r.publish(2);
        r.frame(0);  // the snapshot takes the two tiles
        if (c.liveEmptiedBeforeSwitch) {
            std::lock_guard<std::mutex> lock(r.build.mutex);
            r.build.liveTileCounts.clear();
            r.build.liveTileSamples.clear();
        }
        r.gui.loadStarted = c.loadStarted;
        r.gui.actionTaken = c.loadStarted;
        r.proc.heightSelectionMode = true;
        r.build.selectionStageOpen = c.stageOpen;
        r.build.ready = c.ready;
        r.build.failed = c.failed;
        r.frame(100);
        EXPECT_EQ(r.titleShown(kSelectionTitle), c.switched);
        EXPECT_EQ(r.titleShown(kStartupTitle), !c.switched);
        EXPECT_EQ(r.gui.closeRequested, c.closes);
        EXPECT_EQ(r.shown, &r.proc.liveSnapshotTileCounts);  // the new maps from the next frame
        if (!c.switched) continue;
        EXPECT_FALSE(r.gui.startupScreen || r.gui.actionTaken || r.gui.loadStarted ||
                     r.proc.heightSelectionMode);
        r.frame(200);
        EXPECT_EQ(r.shown, &r.gui.selectionTileCounts);
        EXPECT_EQ(r.shown->size(), 2u);
    }
}

TEST(TileSelectionFrame, AfterTheSwitchPublicationsRefreshTheSelectionMapsAndFailureKeepsItOpen) {
    FrameRig r;
    r.start();
    r.gui.loadStarted = true;
    r.build.selectionStageOpen = true;
    r.publish(1);
    r.frame(0);
    ASSERT_TRUE(r.gui.switchedToSelection);

    r.publish(4);
    r.frame(100);
    EXPECT_EQ(r.gui.selectionTileCounts.size(), 1u);
    r.frame(700);
    EXPECT_EQ(r.gui.selectionTileCounts.size(), 4u);
    EXPECT_EQ(r.gui.selectionTileSamples.size(), 4u);

    r.build.failed = true;
    r.frame(800);
    EXPECT_FALSE(r.gui.closeRequested);
    EXPECT_TRUE(r.titleShown(kSelectionTitle));
}

TEST(TileSelectionFrame, TilesHandedInShowTileSelectionInTheFirstFrame) {
    FrameRig r;
    r.tileCounts[TileIndex{0, 0}] = 5;
    r.tileSamples[TileIndex{0, 0}] = {Sample2D{0, 0, 2.0f}, Sample2D{0, 0, 5.0f}};
    r.in.inputInfo = nullptr;
    r.start();
    EXPECT_EQ(std::string(r.gui.inputPathText), "scan.e57");
    EXPECT_EQ(std::string(r.gui.outputFolderText), "/tmp/out");
    r.frame(0);
    EXPECT_TRUE(r.titleShown(kSelectionTitle));
    EXPECT_EQ(r.shown, &r.tileCounts);
    // Without input bounds the range comes from the samples shown.
    EXPECT_TRUE(r.gui.haveZRange);
    EXPECT_DOUBLE_EQ(r.gui.zRangeMin, 2.0);
    EXPECT_DOUBLE_EQ(r.gui.zRangeMax, 5.0);

    r.info.boundsValid = true;
    r.info.minZ = r.info.maxZ = 3.0;
    r.in.inputInfo = &r.info;
    r.frame(10);
    EXPECT_DOUBLE_EQ(r.gui.zRangeMin, 3.0);
    EXPECT_DOUBLE_EQ(r.gui.zRangeMax, 3.0 + 1e-6);
}

// At the window's size without a monitor (1200 x 800), the left panel's buttons, checkboxes and
// sliders with long labels lie within the panel and show their whole labels.
TEST(TileSelectionFrame, LabelsStayWholeWithinTheLeftPanel) {
    FrameRig r;
    r.ui.io().DisplaySize = ImVec2(1200.0f, 800.0f);
    r.inputPath = "scan.las";
    r.tileCounts[TileIndex{0, 0}] = 5;
    r.top = {{{TileIndex{0, 0}}}};  // ready to export
    r.in.retileCallback = [](double, int, TileCountMap&, TileSampleMap&, std::string*) {
        return false;
    };
    r.proc.outputFormatChoice = 2;  // LAS to LAS: the longest export button
    r.proc.view.preview3DTab = true;
    r.start();
    r.frame(0);
    r.frame(10);
    const char* const labels[] = {"Use recommended##retile_preview_samples_per_tile",
                                  "Export XYZ+RGB/LAS orig", "Show selected tile vertical guides",
                                  "3D scanner marker size (px)", "3D visual voxel size (m)"};
    const float panelRight = ImGui::GetStyle().WindowPadding.x + 500.0f;
    for (const char* label : labels) {
        SCOPED_TRACE(label);
        ASSERT_TRUE(r.ui.has(label));
        const ItemRect& item = r.ui.item(label);
        EXPECT_LE(item.maxX, panelRight);
        EXPECT_GE(item.maxX - item.minX, ImGui::CalcTextSize(label, nullptr, true).x);
    }
}

TEST(TileSelectionFrame, AutomaticHeightIsMeasuredOnlyWhileEnabled) {
    FrameRig r;
    r.start();
    // The panels draw little, so the window would shrink towards 120 px of empty space.
    r.frame(0, 1000);
    EXPECT_GT(r.wantedHeight, 0);
    EXPECT_LT(r.wantedHeight, 1000);
    r.proc.autoWindowHeight = false;
    r.frame(10, 1000);
    EXPECT_EQ(r.wantedHeight, -1);
}

}  // namespace
