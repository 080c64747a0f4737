#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "gui/export_actions.h"
#include "gui/selection_panel.h"
#include "headless_imgui.h"

namespace {

// The program's state for one panel, drawn in a window covering the display.
struct Panel {
    TileCountMap tileCounts;
    TileSampleMap tileSamples;
    double tileSize = 2.0;
    int samplesPerTile = 2000;
    TileSet buffer;
    std::vector<SelectedHeightRange> vertical;
    std::vector<SavedTileSelection> top;
    int exportMode = 0;
    int previewMode = 0;
    std::string inputPath;
    std::string outputFolder;
    ExportHelperStatus status;
    std::vector<std::tuple<int, bool, bool>> exports;
    GuiInputs in{tileCounts, tileSamples, tileSize,  samplesPerTile, buffer,  vertical, top,
                 exportMode, previewMode, inputPath, outputFolder,   nullptr, nullptr,  &status,
                 {},         {},          {}};
    TileSelectionGuiState gui;
    GuiProcessState proc;
    GuiFrame f{.in = in, .gui = gui, .proc = proc, .bounds = {}, .build = {}};
    guitest::HeadlessImGui ui{1000.0f, 2400.0f};

    explicit Panel(const char* input) {
        std::strcpy(gui.inputPathText, input);
        f.counts = &gui.selectionTileCounts;
        in.startExportCallback = [this](int format, bool rgb, bool photo) {
            exports.emplace_back(format, rgb, photo);
        };
    }
    void draw() {
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
        ImGui::Begin("panel", nullptr, ImGuiWindowFlags_NoSavedSettings);
        rebuildEmphasisedTiles(f);
        drawSelectionControls(f);
        drawExportActions(f);
        ImGui::End();
    }
    void frame() {
        ui.frame([this] { draw(); });
    }
    bool click(const std::string& label) {
        frame();
        return ui.click(label, [this] { draw(); });
    }
};

TEST(ExportActions, OneClickRequestsOneExportAndTheGuardHoldsUntilContinue) {
    Panel p("  /data/site.e57 ");
    p.top.push_back({{{1, 1}}});
    p.proc.exportProgressFraction = 0.7f;
    p.proc.exportProgressLastTime = 3.0;
    ASSERT_TRUE(p.click("Export XYZ+RGB"));
    ASSERT_EQ(p.exports.size(), 1u);
    EXPECT_EQ(p.exports[0], std::make_tuple(0, true, false));
    EXPECT_TRUE(p.gui.actionTaken && p.gui.exportRequested && p.status.running);
    EXPECT_EQ(p.status.message, "Preparing helper XYZ+RGB export process...");
    EXPECT_EQ(p.proc.exportProgressFraction, 0.0f);
    EXPECT_EQ(p.proc.exportProgressLastTime, -1.0);

    ASSERT_TRUE(p.click("Export XYZ only"));
    ASSERT_TRUE(p.click("Close"));  // disabled while the helper runs
    EXPECT_EQ(p.exports.size(), 1u);
    EXPECT_FALSE(p.gui.closeRequested);

    // A failed export offers only "Close".
    p.status.running = false;
    p.status.finished = p.status.failed = true;
    EXPECT_FALSE(p.click("Continue with new selection"));
    ASSERT_TRUE(p.click("Close"));
    EXPECT_TRUE(p.gui.closeRequested);
}

// Photos come along only into an E57: for XYZ or LAS output the photo button stays disabled.
TEST(ExportActions, PhotoButtonActsOnlyForE57Output) {
    for (int format : {0, 1, 2}) {
        SCOPED_TRACE(format);
        Panel p("/data/site.e57");
        p.top.push_back({{{1, 1}}});
        E57PreflightAnalysis& preflight = p.gui.preflight;
        preflight.attempted = preflight.ok = true;
        preflight.inputPath = "/data/site.e57";
        preflight.data3DScans = preflight.image2DBlocks = 1;
        p.proc.outputFormatChoice = format;
        ASSERT_TRUE(p.click("Export XYZ+RGB+ph"));
        if (format == 0) {
            ASSERT_EQ(p.exports.size(), 1u);
            EXPECT_EQ(p.exports[0], std::make_tuple(0, true, true));
        } else {
            EXPECT_TRUE(p.exports.empty());
        }
    }
}

TEST(ExportActions, ContinueClearsTheSelectionsAndKeepsThePreview) {
    Panel p("/data/site.e57");
    p.gui.selectionTileCounts = {{{0, 0}, 10}, {{1, 0}, 20}};
    p.buffer = {{0, 0}};
    p.top.push_back({{{1, 0}}});
    p.vertical.push_back({{{0, 0}}, 1.0, 2.0});
    p.gui.heightFilterTiles = {{1, 0}};
    p.proc.heightSelectionMode = true;
    p.proc.highlightedTopSelection = p.proc.highlightedVerticalSelection = 0;
    p.proc.outputFormatChoice = 1;
    p.gui.actionTaken = p.gui.exportRequested = true;
    p.status.finished = true;
    p.status.message = p.status.details = "done";
    ASSERT_TRUE(p.click("Continue with new selection"));
    EXPECT_TRUE(p.buffer.empty() && p.top.empty() && p.vertical.empty());
    EXPECT_TRUE(p.gui.heightFilterTiles.empty() && p.gui.emphasisedTiles.empty());
    EXPECT_TRUE(p.proc.highlightedTopSelection == -1 && p.proc.highlightedVerticalSelection == -1);
    EXPECT_FALSE(p.proc.heightSelectionMode || p.gui.actionTaken || p.gui.exportRequested ||
                 p.gui.closeRequested);
    EXPECT_FALSE(p.status.running || p.status.finished || p.status.failed);
    EXPECT_TRUE(p.status.message.empty() && p.status.details.empty());
    EXPECT_TRUE(p.gui.selectionTileCounts.size() == 2 && p.tileSize == 2.0 &&
                p.proc.outputFormatChoice == 1);
}

TEST(SelectionControls, EachTileSavedSeparatelyInTileOrderAndHighlightToggles) {
    Panel p("/data/site.xyz");
    p.buffer = {{2, 1}, {1, 5}, {1, 2}};
    p.proc.highlightedVerticalSelection = 0;
    ASSERT_TRUE(p.click("Save each selected tile separately"));
    std::vector<std::vector<TileIndex>> saved;
    for (const SavedTileSelection& s : p.top) saved.push_back(s.tiles);
    EXPECT_EQ(saved, (std::vector<std::vector<TileIndex>>{{{1, 2}}, {{1, 5}}, {{2, 1}}}));
    EXPECT_TRUE(p.proc.highlightedTopSelection == 2 && p.proc.highlightedVerticalSelection == -1);
    EXPECT_TRUE(p.buffer.empty());

    ASSERT_TRUE(p.click("#1  tiles: 1##saved_top_0"));
    EXPECT_EQ(p.proc.highlightedTopSelection, 0);
    ASSERT_TRUE(p.click("#1  tiles: 1##saved_top_0"));
    EXPECT_EQ(p.proc.highlightedTopSelection, -1);
}

TEST(SelectionControls, HeightSelectionTakesTheBufferOrdersTheRangeAndSaves) {
    Panel p("/data/site.e57");
    p.buffer = {{0, 0}, {1, 0}};
    ASSERT_TRUE(p.click("Select by height"));  // no Z range yet
    EXPECT_FALSE(p.proc.heightSelectionMode);

    p.gui.haveZRange = true, p.gui.zRangeMin = 1.0, p.gui.zRangeMax = 5.0;
    ASSERT_TRUE(p.click("Select by height"));
    ASSERT_TRUE(p.proc.heightSelectionMode);
    EXPECT_EQ(p.gui.heightFilterTiles, p.buffer);
    EXPECT_EQ(p.buffer.size(), 2u);
    EXPECT_EQ(std::pair(p.proc.pendingZMin, p.proc.pendingZMax), std::pair(1.0, 5.0));

    p.proc.pendingZMin = 3.0, p.proc.pendingZMax = 2.0;  // Z max dragged below Z min
    p.frame();
    EXPECT_EQ(std::pair(p.proc.pendingZMin, p.proc.pendingZMax), std::pair(2.0, 3.0));

    ASSERT_TRUE(p.click("Save vertical view selection"));
    ASSERT_EQ(p.vertical.size(), 1u);
    EXPECT_EQ(p.vertical[0].tiles.size(), 2u);
    EXPECT_EQ(std::pair(p.vertical[0].zMin, p.vertical[0].zMax), std::pair(2.0, 3.0));
    EXPECT_TRUE(p.proc.highlightedVerticalSelection == 0 && p.proc.highlightedTopSelection == -1);
    EXPECT_TRUE(p.buffer.empty() && p.gui.heightFilterTiles.empty());
    EXPECT_FALSE(p.proc.heightSelectionMode);
}

TEST(EmphasisedTiles, FirstRuleThatAppliesWins) {
    Panel p("/data/site.e57");
    const TileIndex a{0, 0}, b{1, 0}, c{2, 0};
    p.gui.selectionTileCounts = {{a, 1}, {b, 1}, {c, 1}};
    p.gui.heightFilterTiles = {a};
    p.vertical.push_back({{b}, 0.0, 1.0});
    p.top.push_back({{c, c}});
    p.buffer = {a, b};
    p.proc.highlightedVerticalSelection = p.proc.highlightedTopSelection = 0;
    p.proc.view.verticalTab = true;
    const auto step = [&](auto change, const TileSet& expected) {
        change();
        rebuildEmphasisedTiles(p.f);
        EXPECT_EQ(p.gui.emphasisedTiles, expected);
    };
    step([] {}, TileSet{a});
    step([&] { p.gui.heightFilterTiles.clear(); }, TileSet{b});
    step([&] { p.proc.highlightedVerticalSelection = 5; }, TileSet{c});
    step([&] { p.proc.highlightedTopSelection = -1; }, TileSet{a, b});
    step([&] { p.buffer = {a}; }, TileSet{a});  // b left the buffer
    step([&] { p.buffer = {a, c}; }, TileSet{a, c});
    step([&] { p.buffer.clear(); }, TileSet{a, b, c});
    step([&] { p.proc.view.verticalTab = false; }, TileSet{});
}

TEST(OutputInformation, UnionOfBothListsAreaAndDensity) {
    const TileIndex a{0, 0}, b{1, -2}, missing{9, 9};
    const TileCountMap counts = {{a, 100}, {b, 2'000'000}};
    const std::vector<SavedTileSelection> top = {{{a, b}}, {{b}}};
    const std::vector<SelectedHeightRange> vertical = {{{b, missing}, 0.0, 1.0}};
    const OutputEstimate e = estimateSelectedOutput(vertical, top, counts, 2.0);
    EXPECT_EQ(e.tiles, 3u);
    EXPECT_EQ(e.points, 2'000'100u);
    EXPECT_DOUBLE_EQ(e.areaM2, 12.0);
    EXPECT_DOUBLE_EQ(e.densityMPerM2, 2.0001 / 12.0);
    EXPECT_EQ(estimateSelectedOutput(vertical, top, counts, 0.0).densityMPerM2, 0.0);
    EXPECT_EQ(tileListText({a, b}), "(0,0), (1,-2)");
}

}  // namespace
