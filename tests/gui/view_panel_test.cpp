#include "gui/view_panel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gui/height_color.h"
#include "gui/view_geometry.h"
#include "headless_imgui.h"

namespace {

// A side x side tile map (1 m tiles from (0, 0)) with `perTile` samples each, and the panel
// drawn in a window of its own.
struct PanelFixture {
    TileCountMap counts;
    TileSampleMap samples;
    double tileSize = 1.0;
    int samplesPerTile = 10;
    TileSet selected;
    std::vector<SelectedHeightRange> savedVertical;
    std::vector<SavedTileSelection> savedTop;
    int exportMode = 0;
    int previewMode = 0;
    std::string inputPath;
    std::string outputFolder;
    GuiInputs in{
        counts,     samples,     tileSize,  samplesPerTile, selected, savedVertical, savedTop,
        exportMode, previewMode, inputPath, outputFolder,   nullptr,  nullptr,       nullptr,
        {},         {},          {}};
    TileSelectionGuiState gui;
    GuiProcessState proc;
    GuiFrame frame{in, gui, proc, &counts, &samples, {}, {}, 0, 0, -1};
    guitest::HeadlessImGui ui;

    PanelFixture(int side, int perTile, bool vertexOffsets = true) {
        for (int iy = 0; iy < side; ++iy)
            for (int ix = 0; ix < side; ++ix) {
                counts[{ix, iy}] = 5;
                std::vector<Sample2D>& list = samples[{ix, iy}];
                for (int k = 0; k < perTile; ++k)
                    list.push_back({ix + (k + 0.5f) / perTile, iy + 0.5f, 10.0f + k});
            }
        frame.bounds = computeTileIndexBounds(counts);
        gui.zRangeMin = 10.0;
        gui.zRangeMax = 20.0;
        gui.haveZRange = true;
        if (vertexOffsets) ui.io().BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
    }
    void removeTile(TileIndex t) {
        counts.erase(t);
        samples.erase(t);
    }
    void draw() {
        ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
        ImGui::SetNextWindowSize(ImVec2(700.0f, 900.0f));
        ImGui::Begin("right_panel", nullptr, ImGuiWindowFlags_NoTitleBar);
        drawViewPanel(frame);
        ImGui::End();
    }
    void run() {
        ui.frame([&] { draw(); });
    }
    bool click(const char* label) {
        return ui.click(label, [&] { draw(); });
    }
    // Screen centre of a tile's cell in the auto-fitted top view of the last frame.
    ImVec2 cellCentre(TileIndex t) {
        const ItemRect& r = ui.item("canvas");
        const CanvasRect canvas{r.minX, r.minY, r.maxX - r.minX, r.maxY - r.minY};
        const TileIndexBounds& b = frame.bounds;
        const float cell = autoFitCellSize(canvas.w, canvas.h, b.cols(), b.rows(), gui.tileGapPx);
        const TopGridLayout g = topGridLayout(canvas, cell, gui.tileGapPx, b, 0.0f, 0.0f);
        return ImVec2(g.cellX(t.ix - b.minX) + cell * 0.5f, g.cellY(t.iy - b.minY) + cell * 0.5f);
    }
    void ctrlClickTile(TileIndex t, bool ctrl = true) {
        const ImVec2 p = cellCentre(t);
        ui.clickAt(
            p.x, p.y, [&] { draw(); }, ctrl);
    }
};

TEST(ViewPanel, CtrlClickTogglesOnlyTilesWithACount) {
    PanelFixture fx(10, 4);
    fx.removeTile({4, 4});
    fx.frame.bounds = computeTileIndexBounds(fx.counts);
    fx.run();
    ASSERT_TRUE(fx.ui.has("canvas"));

    fx.ctrlClickTile({2, 3});
    EXPECT_EQ(fx.selected, (TileSet{{2, 3}}));
    fx.ctrlClickTile({2, 3});
    EXPECT_TRUE(fx.selected.empty());
    fx.ctrlClickTile({2, 3}, false);  // a plain click selects nothing
    fx.ctrlClickTile({4, 4});         // no count
    EXPECT_TRUE(fx.selected.empty());

    fx.proc.heightSelectionMode = true;
    fx.ctrlClickTile({2, 3});
    EXPECT_TRUE(fx.selected.empty());
    EXPECT_TRUE(fx.gui.heightFilterTiles.empty());  // a tile click changes only the buffer
}

TEST(ViewPanel, WheelAndMiddleDragZoomAndPanTheTopView) {
    PanelFixture fx(10, 4);
    fx.run();
    const ItemRect r = fx.ui.item("canvas");
    const float autoCell = autoFitCellSize(r.maxX - r.minX, r.maxY - r.minY, 10, 10, 2.0f);
    ImGuiIO& io = fx.ui.io();
    io.MousePos = ImVec2(r.centreX(), r.centreY());

    io.MouseWheel = 1.0f;
    fx.run();
    EXPECT_FALSE(fx.proc.view.topViewAutoFit);
    EXPECT_FLOAT_EQ(fx.proc.view.topCellSizePx, autoCell * 1.15f);
    io.MouseWheel = 40.0f;
    fx.run();
    EXPECT_EQ(fx.proc.view.topCellSizePx, 500.0f);
    io.MouseWheel = -80.0f;
    fx.run();
    EXPECT_EQ(fx.proc.view.topCellSizePx, 4.0f);

    io.MouseDown[2] = true;
    fx.run();
    io.MousePos.x += 10.0f;
    io.MousePos.y -= 4.0f;
    fx.run();
    io.MouseDown[2] = false;
    fx.run();
    EXPECT_FLOAT_EQ(fx.proc.view.topPanX, 10.0f);
    EXPECT_FLOAT_EQ(fx.proc.view.topPanY, -4.0f);

    ASSERT_TRUE(fx.click("Auto-fit top view"));
    EXPECT_TRUE(fx.proc.view.topViewAutoFit);
}

TEST(ViewPanel, VerticalTabStartsFromTheFirstSourceThatHasTiles) {
    enum Source { Buffer, HighlightedVertical, HighlightedTop, AllTiles, AlreadyChosen };
    struct Case {
        const char* name;
        bool buffer;
        int vertical;  // highlighted indices; 5 is out of range
        int top;
        bool alreadyChosen;
        Source expected;
    };
    const Case cases[] = {
        {"buffer first", true, 0, 0, false, Buffer},
        {"highlighted vertical", false, 0, 0, false, HighlightedVertical},
        {"stale vertical index", false, 5, 0, false, HighlightedTop},
        {"nothing highlighted", false, -1, -1, false, AllTiles},
        {"kept when chosen", true, 0, 0, true, AlreadyChosen},
    };
    for (const Case& c : cases) {
        PanelFixture fx(3, 1);
        if (c.buffer) fx.selected = {{0, 0}, {1, 0}};
        fx.savedVertical.push_back({{{2, 2}, {2, 1}}, 10.0, 12.0});
        fx.savedTop.push_back({{{0, 2}}});
        fx.proc.highlightedVerticalSelection = c.vertical;
        fx.proc.highlightedTopSelection = c.top;
        if (c.alreadyChosen) fx.gui.heightFilterTiles = {{1, 1}};
        fx.run();
        EXPECT_DOUBLE_EQ(fx.proc.view.zCenterM, 15.0) << c.name;
        ASSERT_TRUE(fx.click("Vertical view")) << c.name;
        EXPECT_TRUE(fx.proc.view.verticalTab) << c.name;
        EXPECT_FALSE(fx.proc.view.preview3DTab) << c.name;
        TileSet expected;
        switch (c.expected) {
            case Buffer: expected = fx.selected; break;
            case HighlightedVertical: expected = {{2, 2}, {2, 1}}; break;
            case HighlightedTop: expected = {{0, 2}}; break;
            case AllTiles:
                for (const auto& [t, n] : fx.counts) expected.insert(t);
                break;
            case AlreadyChosen: expected = {{1, 1}}; break;
        }
        EXPECT_EQ(fx.gui.heightFilterTiles, expected) << c.name;
    }
}

// The squares of side 1 in the last frame's draw data, by the pixel at their top-left corner,
// with their colours in drawing order.
std::map<std::pair<int, int>, std::vector<ImU32>> unitSquares() {
    std::map<std::pair<int, int>, std::vector<ImU32>> found;
    const ImDrawData* data = ImGui::GetDrawData();
    for (int l = 0; l < data->CmdListsCount; ++l) {
        const ImVector<ImDrawVert>& v = data->CmdLists[l]->VtxBuffer;
        for (int i = 0; i + 3 < v.Size; ++i) {
            const ImVec2 a = v[i].pos;
            auto at = [&](int k, float dx, float dy) {
                return std::fabs(v[i + k].pos.x - a.x - dx) < 1e-3f &&
                       std::fabs(v[i + k].pos.y - a.y - dy) < 1e-3f && v[i + k].col == v[i].col;
            };
            if (at(1, 1.0f, 0.0f) && at(2, 1.0f, 1.0f) && at(3, 0.0f, 1.0f))
                found[{static_cast<int>(std::lround(a.x)), static_cast<int>(std::lround(a.y))}]
                    .push_back(v[i].col);
        }
    }
    return found;
}

TEST(ViewPanel, SmallCellsDrawEachCoveredPixelOnceInItsLastSamplesColour) {
    PanelFixture fx(1, 0);
    fx.proc.view.topViewAutoFit = false;
    for (float cell : {4.0f, 20.0f}) {
        fx.proc.view.topCellSizePx = cell;
        fx.samples[{0, 0}].clear();
        ++fx.gui.mapsVersion;
        fx.run();
        const ItemRect& r = fx.ui.item("canvas");
        const CanvasRect canvas{r.minX, r.minY, r.maxX - r.minX, r.maxY - r.minY};
        const TopGridLayout g =
            topGridLayout(canvas, cell, fx.gui.tileGapPx, fx.frame.bounds, 0.0f, 0.0f);
        const float cx = g.cellX(0);
        const float cy = g.cellY(0);
        // Samples whose squares sit on three pixels of the cell: three, two and one of them.
        const int px = static_cast<int>(std::floor(cx));
        const int py = static_cast<int>(std::floor(cy));
        const std::pair<int, int> pixels[] = {{px + 1, py + 1}, {px + 2, py + 1}, {px + 1, py + 3}};
        const int onPixel[] = {0, 0, 0, 1, 1, 2};
        std::vector<Sample2D>& list = fx.samples[{0, 0}];
        for (int k = 0; k < 6; ++k) {
            const auto [x, y] = pixels[onPixel[k]];
            list.push_back({(static_cast<float>(x) - cx) / cell,
                            1.0f - (static_cast<float>(y) - cy) / cell, 11.0f + k});
        }
        ++fx.gui.mapsVersion;  // as the window does on every change of its maps

        for (float sensitivity : {2.0f, 3.5f}) {
            fx.proc.view.zSensitivity = sensitivity;
            fx.run();
            HeightColorTable ramp(sensitivity, rampCentreOffset(fx.proc.view.zCenterM, 10.0, 20.0));
            const HeightColors colors(ramp, 0.92f);
            auto color = [&](int k) { return colors((11.0f + k) * 0.1f - 1.0f); };
            std::map<std::pair<int, int>, std::vector<ImU32>> expected;
            if (cell <= 16.0f)
                expected = {
                    {pixels[0], {color(2)}}, {pixels[1], {color(4)}}, {pixels[2], {color(5)}}};
            else
                expected = {{pixels[0], {color(0), color(1), color(2)}},
                            {pixels[1], {color(3), color(4)}},
                            {pixels[2], {color(5)}}};
            EXPECT_EQ(unitSquares(), expected) << "cell " << cell << " sensitivity " << sensitivity;
            fx.run();  // nothing changed: the pixels kept from the last frame
            EXPECT_EQ(unitSquares(), expected) << "cell " << cell << ", next frame";
        }
        fx.proc.view.zSensitivity = 2.0f;
    }
}

// At survey coordinates the window's own maps hold samples from the build's origin: at the
// largest zoom (500 px a tile, here a retile's 3 m ones, whose edges the origin is not on) each
// sample's square sits within half a pixel of where its point lies.
TEST(ViewPanel, SamplesAtSurveyCoordinatesLandOnTheirPixels) {
    const SampleOrigin origins[] = {{500000.0, 5400000.0, 100.0}, {-4000000.0, 9999000.0, 0.0}};
    const double fractions[][2] = {{0.1, 0.37}, {0.5, 0.5}, {0.83, 0.91}, {0.0, 0.0}};
    for (const SampleOrigin& o : origins) {
        PanelFixture fx(0, 0);
        fx.tileSize = 3.0;
        fx.proc.view.topViewAutoFit = false;
        fx.proc.view.topCellSizePx = 500.0f;
        const TileIndex tile = tileIndexFor(o.x + 10.0, o.y + 10.0, 3.0);
        fx.gui.selectionOrigin = o;
        fx.gui.selectionTileCounts[tile] = 4;
        for (const auto& f : fractions) {
            const double x = (static_cast<double>(tile.ix) + f[0]) * 3.0;
            const double y = (static_cast<double>(tile.iy) + f[1]) * 3.0;
            fx.gui.selectionTileSamples[tile].push_back(
                {static_cast<float>(x - o.x), static_cast<float>(y - o.y), 0.5f});
        }
        fx.frame.counts = &fx.gui.selectionTileCounts;
        fx.frame.samples = &fx.gui.selectionTileSamples;
        fx.frame.bounds = computeTileIndexBounds(fx.gui.selectionTileCounts);
        fx.run();
        const ItemRect& r = fx.ui.item("canvas");
        const CanvasRect canvas{r.minX, r.minY, r.maxX - r.minX, r.maxY - r.minY};
        const TopGridLayout g =
            topGridLayout(canvas, 500.0f, fx.gui.tileGapPx, fx.frame.bounds, 0.0f, 0.0f);
        const ImDrawData* data = ImGui::GetDrawData();
        for (const auto& f : fractions) {
            const float x = g.cellX(0) + 500.0f * static_cast<float>(f[0]);
            const float y = g.cellY(0) + 500.0f * (1.0f - static_cast<float>(f[1]));
            bool found = false;  // a square of side 1 from within half a pixel of (x, y)
            for (int l = 0; l < data->CmdListsCount; ++l) {
                const ImVector<ImDrawVert>& v = data->CmdLists[l]->VtxBuffer;
                for (int i = 0; i + 2 < v.Size; ++i)
                    found = found || (std::fabs(v[i].pos.x - x) <= 0.5f &&
                                      std::fabs(v[i].pos.y - y) <= 0.5f &&
                                      v[i + 2].pos.x - v[i].pos.x == 1.0f &&
                                      v[i + 2].pos.y - v[i].pos.y == 1.0f);
            }
            EXPECT_TRUE(found) << o.x << ": no square at " << x << ", " << y;
        }
    }
}

TEST(ViewPanel, ManySamplesStayWithinSixteenBitIndicesWithoutVertexOffsets) {
    // ImGui stops on an assertion past 65,536 vertices in one list when the renderer takes
    // no vertex offsets; both views must keep below that.
    PanelFixture fx(100, 20, false);
    for (bool vertical : {false, true}) {
        fx.proc.view.verticalTab = vertical;
        fx.gui.emphasisedTiles.clear();
        if (vertical)
            for (const auto& [t, n] : fx.counts) fx.gui.emphasisedTiles.insert(t);
        fx.run();
        const ImDrawData* data = ImGui::GetDrawData();
        ASSERT_NE(data, nullptr);
        for (int i = 0; i < data->CmdListsCount; ++i)
            EXPECT_LT(data->CmdLists[i]->VtxBuffer.Size, 65536) << vertical;
    }
}

TEST(ViewPanel, TheZCentreWaitsForTheTileSelectionScreensHeights) {
    PanelFixture fx(3, 1);
    fx.gui.startupScreen = true;  // its Z range is still the placeholder
    fx.run();
    EXPECT_FALSE(fx.proc.view.zCenterSet);
    fx.gui.startupScreen = false;
    fx.run();
    EXPECT_DOUBLE_EQ(fx.proc.view.zCenterM, 15.0);
}

}  // namespace
