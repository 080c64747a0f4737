// The window's live snapshot of a large preview: 40,000 tiles (a 200 x 200 grid) of 50
// samples each. BM_LiveSnapshotCopy is the time the build mutex is held per refresh; with
// arg 1 the snapshot starts empty every time (the first copy of a run), with 0 it already
// holds the same tiles (every later refresh). BM_Frame is one window-less frame between two
// refreshes (at most one frame in 700 ms pays for a refresh): arg 0 on the startup screen,
// arg 1 on the tile-selection screen with the same tiles handed in and no input bounds, so
// the Z range comes from the samples.

#include <benchmark/benchmark.h>

#include <chrono>
#include <mutex>

#include "gui/live_snapshot.h"
#include "gui/tile_selection_frame.h"
#include "imgui.h"

namespace {

constexpr int kGrid = 200;
constexpr int kSamplesPerTile = 50;

void fillLiveMaps(PreviewBuildState& build) {
    std::lock_guard<std::mutex> lock(build.mutex);
    for (int ix = 0; ix < kGrid; ++ix) {
        for (int iy = 0; iy < kGrid; ++iy) {
            const TileIndex t{ix, iy};
            build.liveTileCounts[t] = 1000;
            std::vector<Sample2D>& s = build.liveTileSamples[t];
            for (int k = 0; k < kSamplesPerTile; ++k) {
                s.push_back(Sample2D{static_cast<float>(ix), static_cast<float>(iy),
                                     static_cast<float>(k)});
            }
        }
    }
}

void BM_LiveSnapshotCopy(benchmark::State& state) {
    PreviewBuildState build;
    fillLiveMaps(build);
    GuiProcessState proc;
    const bool fresh = state.range(0) != 0;
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    for (auto _ : state) {
        if (fresh) {
            state.PauseTiming();
            proc.liveSnapshotTileCounts = TileCountMap();
            proc.liveSnapshotTileSamples = TileSampleMap();
            state.ResumeTiming();
        }
        build.generation.fetch_add(1);
        now += kLiveSnapshotInterval;
        benchmark::DoNotOptimize(refreshLiveSnapshot(build, proc, now));
    }
    state.counters["tiles"] = static_cast<double>(proc.liveSnapshotTileCounts.size());
}
BENCHMARK(BM_LiveSnapshotCopy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Frame(benchmark::State& state) {
    const bool selection = state.range(0) != 0;
    ImGuiContext* context = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(1600.0f, 1000.0f);
    io.DeltaTime = 1.0f / 60.0f;
    io.IniFilename = nullptr;
    io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;  // as the OpenGL3 backend
    unsigned char* pixels = nullptr;
    int w = 0;
    int h = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &w, &h);

    TileCountMap counts;
    TileSampleMap samples;
    double tileSize = 5.0;
    int samplesPerTile = kSamplesPerTile;
    TileSet selected;
    std::vector<SelectedHeightRange> vertical;
    std::vector<SavedTileSelection> top;
    int exportMode = 0;
    int previewMode = 0;
    std::string inputPath = "scan.e57";
    std::string outputFolder = "out";
    PreviewBuildState build;
    fillLiveMaps(build);
    if (selection) {
        counts = build.liveTileCounts;
        samples = build.liveTileSamples;
    }
    GuiInputs in{counts,     samples,     tileSize,  samplesPerTile, selected, vertical, top,
                 exportMode, previewMode, inputPath, outputFolder,   nullptr,  &build,   nullptr,
                 {},         {},          {}};
    TileSelectionGuiState gui;
    initTileSelectionGuiState(gui, in);
    GuiProcessState proc;
    auto now = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    build.generation.fetch_add(1);  // one publication, copied by the first frame
    for (auto _ : state) {
        now += std::chrono::milliseconds(16);
        ImGui::NewFrame();
        GuiFrame f{in, gui, proc, nullptr, nullptr, TileIndexBounds{}, BuildFlags{}};
        drawTileSelectionFrame(f, now);
        ImGui::Render();
    }
    ImGui::DestroyContext(context);
}
BENCHMARK(BM_Frame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
