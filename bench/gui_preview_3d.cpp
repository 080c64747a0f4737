// One headless frame of the 3D preview (NewFrame, the canvas drawn into a window's draw list,
// Render; no renderer), with the default camera and settings on a 1200 x 800 canvas.
// Points: 599,999 samples over 30 x 20 tiles of 1 m, the most that keeps a stride of 1, all on
// the canvas. Voxels: the same cloud in the voxel styles (1 voxels, 2 voxels under points).
// Pick: the ground-tile picking pass over 200 x 200 tiles, and that frame whole.

#include <benchmark/benchmark.h>

#include <random>

#include "gui/preview_3d.h"
#include "gui/preview_3d_projection.h"
#include "imgui.h"

namespace {

constexpr float kCanvasW = 1200.0f;
constexpr float kCanvasH = 800.0f;

class Headless {
public:
    Headless() {
        context_ = ImGui::CreateContext();
        ImGuiIO& io = ImGui::GetIO();
        io.DisplaySize = ImVec2(1600.0f, 1000.0f);
        io.DeltaTime = 1.0f / 60.0f;
        io.IniFilename = nullptr;
        // As the OpenGL3 backend does: draw lists may pass 64K vertices.
        io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
        unsigned char* pixels = nullptr;
        int w = 0;
        int h = 0;
        io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);
    }
    ~Headless() { ImGui::DestroyContext(context_); }
    Headless(const Headless&) = delete;
    Headless& operator=(const Headless&) = delete;

private:
    ImGuiContext* context_ = nullptr;
};

// tilesX x tilesY tiles of 1 m, `total` samples spread over them, z over 0..5 m.
TileSampleMap makeCloud(int tilesX, int tilesY, std::size_t total) {
    TileSampleMap map;
    std::mt19937 gen(11);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const std::size_t tiles = static_cast<std::size_t>(tilesX) * static_cast<std::size_t>(tilesY);
    std::size_t left = total;
    for (int ix = 0; ix < tilesX; ++ix) {
        for (int iy = 0; iy < tilesY; ++iy) {
            const std::size_t tilesLeft = tiles - map.size();
            const std::size_t n = (left + tilesLeft - 1) / tilesLeft;
            std::vector<Sample2D>& list = map[TileIndex{ix, iy}];
            list.reserve(n);
            for (std::size_t i = 0; i < n; ++i) {
                list.push_back({static_cast<float>(ix) + unit(gen),
                                static_cast<float>(iy) + unit(gen), 5.0f * unit(gen)});
            }
            left -= n;
        }
    }
    return map;
}

Preview3DDrawStats frame(const TileSampleMap& cloud, TileSet& selection, int style, bool click,
                         float pointSize = Preview3DSettings{}.pointSize) {
    static const TileSet highlight;
    static const std::vector<std::array<float, 3>> scanners{{5.0f, 5.0f, 1.5f},
                                                            {15.0f, 10.0f, 1.5f}};
    const Preview3DSettings s;
    Preview3DDrawStats stats;
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(1600, 1000));
    ImGui::Begin("bench");
    const ImVec2 pos(100.0f, 100.0f);
    drawPreview3D(ImGui::GetWindowDrawList(), pos, ImVec2(kCanvasW, kCanvasH), cloud, selection,
                  highlight, 0.0, 5.0, 1.0, s.zoom, ImVec2(0, 0), click,
                  ImVec2(pos.x + kCanvasW * 0.5f, pos.y + kCanvasH * 0.5f), s.yawDeg, s.pitchDeg,
                  pointSize, s.colorMode, 2.0f, 2.5, style, s.voxelSizeM, scanners, s.showScanners,
                  s.showGuides, s.scannerMarkerSize, s.guideLineWidth, &stats);
    ImGui::End();
    ImGui::Render();
    return stats;
}

void BM_Preview3DPoints(benchmark::State& state) {
    Headless ui;
    const TileSampleMap cloud = makeCloud(30, 20, 599999);
    TileSet selection;
    // Point size in hundredths: 0.75 (default) squares, 2.0 circles.
    const float size = static_cast<float>(state.range(0)) / 100.0f;
    Preview3DDrawStats stats = frame(cloud, selection, 0, false, size);  // the draw list's room
    for (auto _ : state) stats = frame(cloud, selection, 0, false, size);
    state.counters["points"] = static_cast<double>(stats.points);
}
BENCHMARK(BM_Preview3DPoints)->Arg(75)->Arg(200)->Unit(benchmark::kMillisecond);

void BM_Preview3DVoxels(benchmark::State& state) {
    Headless ui;
    const TileSampleMap cloud = makeCloud(30, 20, 599999);
    TileSet selection;
    const int style = static_cast<int>(state.range(0));
    Preview3DDrawStats stats = frame(cloud, selection, style, false);
    for (auto _ : state) stats = frame(cloud, selection, style, false);
    state.counters["points"] = static_cast<double>(stats.points);
    state.counters["voxels"] = static_cast<double>(stats.voxels);
}
BENCHMARK(BM_Preview3DVoxels)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void BM_Preview3DPick(benchmark::State& state) {
    const TileSampleMap cloud = makeCloud(200, 200, 40000);
    const SampleBounds3D bounds = computeSampleBounds3D(cloud);
    const Projection3D proj = makeProjection3D(bounds, ImVec2(100, 100), ImVec2(kCanvasW, kCanvasH),
                                               1.0f, ImVec2(0, 0), 45.0f, 30.0f);
    const CanvasRect canvas{100, 100, 100 + kCanvasW, 100 + kCanvasH};
    const ImVec2 mouse(100 + kCanvasW * 0.5f, 100 + kCanvasH * 0.5f);
    GroundPick pick;
    for (auto _ : state) {
        pick = pickGroundTile(cloud, proj, 1.0, bounds.minZ, canvas, mouse);
        benchmark::DoNotOptimize(pick);
    }
    state.counters["found"] = pick.found ? 1.0 : 0.0;
}
BENCHMARK(BM_Preview3DPick)->Unit(benchmark::kMicrosecond);

// The whole frame with the 40,000-tile ground grid and a Ctrl + click on it.
void BM_Preview3DPickFrame(benchmark::State& state) {
    Headless ui;
    const TileSampleMap cloud = makeCloud(200, 200, 40000);
    TileSet selection;
    frame(cloud, selection, 0, true);
    for (auto _ : state) frame(cloud, selection, 0, true);
}
BENCHMARK(BM_Preview3DPickFrame)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
