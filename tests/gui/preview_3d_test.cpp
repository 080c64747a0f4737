#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "gui/height_color.h"
#include "gui/preview_3d.h"
#include "gui/preview_3d_projection.h"
#include "headless_imgui.h"

namespace {

SampleBounds3D boundsOf(float x0, float x1, float y0, float y1, float z0, float z1) {
    SampleBounds3D b;
    b.n = 1;
    b.minX = x0;
    b.maxX = x1;
    b.minY = y0;
    b.maxY = y1;
    b.minZ = z0;
    b.maxZ = z1;
    return b;
}

TEST(Preview3DProjection, PitchZeroLooksDownAndAFlatCloudKeepsAFiniteScale) {
    const ImVec2 pos(100, 50);
    const ImVec2 size(400, 300);
    // Pitch 0, yaw 0: x to the right, y up the screen, z has no effect.
    const Projection3D down =
        makeProjection3D(boundsOf(0, 10, 0, 4, 0, 2), pos, size, 1.0f, ImVec2(0, 0), 0.0f, 0.0f);
    EXPECT_FLOAT_EQ(down.k, 300.0f * 0.82f / 10.0f);
    const ImVec2 low = down.project(6.0, 2.0, 0.0);
    const ImVec2 high = down.project(6.0, 3.0, 2.0);
    EXPECT_FLOAT_EQ(low.x, 300.0f + down.k);
    EXPECT_FLOAT_EQ(low.y, 200.0f);
    EXPECT_FLOAT_EQ(high.x, low.x);
    EXPECT_FLOAT_EQ(high.y, 200.0f - down.k);
    // Yaw 90 turns the cloud a quarter: +Y goes left, +X up the screen.
    const Projection3D turned =
        makeProjection3D(boundsOf(0, 10, 0, 4, 0, 2), pos, size, 1.0f, ImVec2(0, 0), 90.0f, 0.0f);
    EXPECT_NEAR(turned.project(5.0, 3.0, 1.0).x, 300.0f - turned.k, 1e-3f);
    EXPECT_NEAR(turned.project(6.0, 2.0, 1.0).y, 200.0f - turned.k, 1e-3f);
    // Pitch 89 looks from the side: height moves the point up the screen.
    const Projection3D side =
        makeProjection3D(boundsOf(0, 10, 0, 4, 0, 2), pos, size, 1.0f, ImVec2(0, 0), 0.0f, 89.0f);
    EXPECT_LT(side.project(5.0, 2.0, 2.0).y, side.project(5.0, 2.0, 0.0).y - 0.9f * side.k);

    // One point: every span is 0, the extent is taken as 1e-6.
    const Projection3D flat =
        makeProjection3D(boundsOf(3, 3, 4, 4, 5, 5), pos, size, 2.0f, ImVec2(10, -5), 45.0f, 30.0f);
    EXPECT_TRUE(std::isfinite(flat.k));
    EXPECT_NEAR(flat.k, 300.0f * 0.82f / 1e-6f * 2.0f, flat.k * 1e-5f);
    const ImVec2 c = flat.projectSample(3.0f, 4.0f, 5.0f);
    EXPECT_FLOAT_EQ(c.x, 310.0f);
    EXPECT_FLOAT_EQ(c.y, 195.0f);
}

TEST(Preview3DNumbers, StrideVoxelSizeWashAndHeightFraction) {
    EXPECT_EQ(previewPointStride(900000), 3u);
    EXPECT_EQ(previewPointStride(599999), 1u);
    EXPECT_EQ(previewPointStride(0), 1u);
    // Half size: the size ramp, the voxel on screen, the point size; then 0.75..6.
    EXPECT_FLOAT_EQ(voxelHalfSizePx(0.001f, 1.0f, 0.75f), 0.9375f);
    EXPECT_FLOAT_EQ(voxelHalfSizePx(0.1f, 1.0f, 0.75f), 5.0f);
    EXPECT_FLOAT_EQ(voxelHalfSizePx(0.02f, 1000.0f, 0.75f), 6.0f);
    EXPECT_EQ(washTowardGrey(IM_COL32(255, 0, 128, 200)), IM_COL32(240, 15, 128, 200));
    EXPECT_FLOAT_EQ(heightFraction(5.0, 0.0, 10.0), 0.5f);
    EXPECT_FLOAT_EQ(heightFraction(-3.0, 0.0, 10.0), 0.0f);
    EXPECT_FLOAT_EQ(heightFraction(7.0, 2.0, 2.0), 0.5f);
}

TEST(Preview3DTileState, HighlightThenBufferThenEveryTile) {
    const TileIndex a{0, 0};
    const TileIndex b{1, 0};
    const TileSet none;
    const TileSet onlyA{a};
    const TileSet onlyB{b};
    struct Row {
        const TileSet* buffer;
        const TileSet* highlight;
        bool aSelected, bSelected, aMarked, bMarked;
    } rows[] = {
        {&none, &none, true, true, false, false},
        {&onlyA, &none, true, false, true, false},
        {&onlyA, &onlyB, false, true, false, true},
        {&none, &onlyB, false, true, false, true},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(tileCountsSelected(a, *r.buffer, *r.highlight), r.aSelected);
        EXPECT_EQ(tileCountsSelected(b, *r.buffer, *r.highlight), r.bSelected);
        const TileSet& marking = markingSet(*r.buffer, *r.highlight);
        EXPECT_EQ(marking.count(a) != 0, r.aMarked);
        EXPECT_EQ(marking.count(b) != 0, r.bMarked);
    }
}

TEST(Preview3DText, NoSamplesNoValidPointsOrTheCloud) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const TileSampleMap empty;
    const TileSampleMap allNan{{TileIndex{0, 0}, {{nan, 1, 2}, {1, nan, 2}, {1, 2, nan}}}};
    const TileSampleMap good{{TileIndex{0, 0}, {{nan, 1, 2}, {1, 1, 2}}}};
    EXPECT_STREQ(preview3DEmptyText(empty, computeSampleBounds3D(empty)),
                 "3D preview: no cached samples.");
    EXPECT_STREQ(preview3DEmptyText(allNan, computeSampleBounds3D(allNan)),
                 "3D preview: no valid sampled points.");
    EXPECT_EQ(preview3DEmptyText(good, computeSampleBounds3D(good)), nullptr);
    EXPECT_EQ(computeSampleBounds3D(good).n, 1u);
}

TEST(Preview3DOrbit, YawWrapsAcross180PitchStopsAt89AndResetRestores) {
    Preview3DSettings s;
    s.orbitSpeed = 1.0f;
    s.yawDeg = 179.0f;
    orbitPreview3D(s, 3.0f, 0.0f);
    EXPECT_FLOAT_EQ(s.yawDeg, -178.0f);
    orbitPreview3D(s, -4.0f, 0.0f);
    EXPECT_FLOAT_EQ(s.yawDeg, 178.0f);
    orbitPreview3D(s, 0.0f, -200.0f);
    EXPECT_FLOAT_EQ(s.pitchDeg, 89.0f);
    orbitPreview3D(s, 0.0f, 500.0f);
    EXPECT_FLOAT_EQ(s.pitchDeg, -89.0f);
    for (int i = 0; i < 40; ++i) zoomPreview3D(s, 1.0f);
    EXPECT_FLOAT_EQ(s.zoom, 50.0f);
}

TEST(Preview3DPick, OverlappingCandidatesGoToTheNearestCentroid) {
    GroundPick pick;
    const GroundQuad big{{ImVec2(0, 0), ImVec2(100, 0), ImVec2(100, 100), ImVec2(0, 100)}, true};
    const GroundQuad small{{ImVec2(40, 40), ImVec2(60, 40), ImVec2(60, 60), ImVec2(40, 60)}, true};
    GroundQuad hidden = small;
    hidden.drawn = false;
    pick.consider(TileIndex{9, 9}, hidden, ImVec2(50, 50));
    EXPECT_FALSE(pick.found);
    pick.consider(TileIndex{1, 0}, small, ImVec2(45, 45));
    pick.consider(TileIndex{0, 0}, big, ImVec2(45, 45));
    ASSERT_TRUE(pick.found);
    EXPECT_EQ(pick.tile, (TileIndex{1, 0}));
    GroundPick outside;
    outside.consider(TileIndex{1, 0}, small, ImVec2(61, 50));
    EXPECT_FALSE(outside.found);
}

TEST(Preview3DDraw, TheStrideRunsAcrossTilesAndVoxelsGatherTheirSamples) {
    guitest::HeadlessImGui ui;
    ui.io().BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // 900,001 samples in tiles of uneven sizes, the one at counter 2 not finite: stride 3, and
    // the counter runs over that one too, so 0, 3, ... 900,000 are drawn wherever they fall.
    TileSampleMap cloud;
    std::size_t total = 0;
    for (std::int64_t i = 0; total < 900001; ++i) {
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(i % 7) * 331 + 1, 900001 - total);
        std::vector<Sample2D>& list = cloud[TileIndex{i, 0}];
        for (std::size_t j = 0; j < n; ++j) {
            list.push_back({static_cast<float>(i) + 0.5f, static_cast<float>(j % 10) * 0.1f,
                            static_cast<float>(j % 5)});
        }
        total += n;
    }
    TileSet none;
    std::vector<TileIndex> order;
    for (const auto& e : cloud) order.push_back(e.first);
    std::size_t before = 0;
    for (const TileIndex& t : order) {
        std::vector<Sample2D>& list = cloud[t];
        if (before <= 2 && 2 < before + list.size()) list[2 - before].z = nan;
        before += list.size();
    }
    Preview3DDrawStats stats;
    auto draw = [&](int style, float voxel) {
        ui.frame([&] {
            ImGui::Begin("draw");
            drawPreview3D(ImGui::GetWindowDrawList(), ImVec2(0, 0), ImVec2(800, 600), cloud, none,
                          none, 0.0, 5.0, 1.0, 1.0f, ImVec2(0, 0), false, ImVec2(0, 0), 45.0f,
                          30.0f, 0.75f, 0, 2.0f, 2.5, style, voxel, {}, false, false, 5.0f, 0.75f,
                          &stats);
            ImGui::End();
        });
    };
    draw(0, 0.02f);
    EXPECT_EQ(stats.finiteSamples, 900000u);
    EXPECT_EQ(stats.points, 300001u);
    EXPECT_EQ(stats.voxels, 0u);
    // Per tile the samples repeat 10 positions, each its own 0.1 m voxel.
    draw(1, 0.1f);
    EXPECT_EQ(stats.points, 0u);
    std::uint64_t voxels = 0;
    for (const auto& e : cloud) {
        bool seen[10] = {};
        for (std::size_t j = 0; j < e.second.size(); ++j) {
            if (!isFiniteSample(e.second[j]) || seen[j % 10]) continue;
            seen[j % 10] = true;
            ++voxels;
        }
    }
    EXPECT_EQ(stats.voxels, voxels);
}

// A frame: window, canvas button, then the tab's canvas handling and drawing.
struct CanvasFixture {
    TileCountMap counts;
    TileSampleMap samples{{TileIndex{0, 0}, {{0.0f, 0.0f, 0.0f}, {1.0f, 1.0f, 1.0f}}},
                          {TileIndex{3, 0}, {{3.5f, 0.5f, 0.5f}}}};
    double tileSize = 1.0;
    int samplesPerTile = 16;
    TileSet selected;
    std::vector<SelectedHeightRange> vertical{{{TileIndex{3, 0}}, 0.0, 1.0}};
    std::vector<SavedTileSelection> top;
    int exportMode = 0;
    int previewMode = 0;
    std::string inputPath;
    std::string outputFolder;
    GuiInputs in{counts,     samples,     tileSize,  samplesPerTile, selected, vertical, top,
                 exportMode, previewMode, inputPath, outputFolder,   nullptr,  nullptr,  nullptr,
                 {},         {},          {}};
    TileSelectionGuiState gui;
    GuiProcessState proc;
    GuiFrame f{in, gui, proc, &counts, &samples, {}, {}, 0, 0, -1};
    std::function<void()> draw = [this] {
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(1000, 900));
        ImGui::Begin("3d test");
        drawPreview3DSettings(f);
        const ImVec2 p = ImGui::GetCursorScreenPos();
        ImGui::InvisibleButton(
            "canvas", ImVec2(600, 400),
            ImGuiButtonFlags_MouseButtonLeft | ImGuiButtonFlags_MouseButtonMiddle);
        probeLastItem("canvas");
        drawPreview3DCanvas(f, p.x, p.y, 600, 400, ImGui::IsItemHovered(), ImGui::IsItemActive());
        ImGui::End();
    };
};

TEST(Preview3DCanvas, CtrlClickTogglesTheGroundTileAndClearsTheHighlight) {
    guitest::HeadlessImGui ui;
    CanvasFixture fx;
    ui.frame(fx.draw);
    ASSERT_TRUE(ui.click("Top-like", fx.draw));
    ASSERT_TRUE(ui.has("canvas"));
    const ItemRect c = ui.item("canvas");
    // Seen from above the cloud spans x 0..4 across the canvas centre: tile (0, 0) sits at
    // the left, a quarter of the extent from the centre.
    const Projection3D proj =
        makeProjection3D(computeSampleBounds3D(fx.samples), ImVec2(c.minX, c.minY),
                         ImVec2(600, 400), 1.0f, ImVec2(0, 0), 0.0f, 0.0f);
    const ImVec2 onTile = proj.project(0.5, 0.5, 0.0);
    fx.proc.highlightedVerticalSelection = 0;
    ui.clickAt(onTile.x, onTile.y, fx.draw, false);
    EXPECT_TRUE(fx.selected.empty());  // a plain click orbits, it does not pick
    ui.clickAt(onTile.x, onTile.y, fx.draw, true);
    EXPECT_EQ(fx.selected, (TileSet{TileIndex{0, 0}}));
    EXPECT_EQ(fx.proc.highlightedVerticalSelection, -1);
    ui.clickAt(onTile.x, onTile.y, fx.draw, true);
    EXPECT_TRUE(fx.selected.empty());

    fx.tileSize = 0.0;  // no ground grid, nothing to pick
    ui.clickAt(onTile.x, onTile.y, fx.draw, true);
    EXPECT_TRUE(fx.selected.empty());

    ui.io().MouseWheel = 1.0f;
    ui.frame(fx.draw);
    ui.io().MouseWheel = 0.0f;
    EXPECT_FLOAT_EQ(fx.proc.view3D.zoom, 1.15f);
    fx.proc.view3D.panX = 30.0f;
    ASSERT_TRUE(ui.click("Reset 3D view", fx.draw));
    EXPECT_FLOAT_EQ(fx.proc.view3D.yawDeg, 45.0f);
    EXPECT_FLOAT_EQ(fx.proc.view3D.pitchDeg, 30.0f);
    EXPECT_FLOAT_EQ(fx.proc.view3D.zoom, 1.0f);
    EXPECT_FLOAT_EQ(fx.proc.view3D.panX, 0.0f);
}

}  // namespace
