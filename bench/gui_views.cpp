// One window-less frame of the view panel's top view: 40,000 tiles (200 x 200 of 5 m) with 50
// samples each, 1-pixel points, 400 tiles in the buffer. Arguments: the right panel's size in
// pixels (580 x 780 in the 1100 x 800 window of a 1920 x 1080 monitor, 1400 x 1060 in the
// 1920 x 1080 window of a 3840 x 2160 one, 1300 x 1500 shows the whole grid), whether the
// renderer takes vertex offsets (without them ImGui allows 65,536 vertices per draw list and
// the view stops drawing before that), and what changes before every frame: nothing, the maps
// (as while a live preview refines them: nothing drawn can be kept from the last frame) or the
// Z sensitivity (as while its slider is dragged: only the colours change).
// BM_VerticalViewFrame: the vertical tab with every tile emphasised.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "gui/gui_frame.h"
#include "gui/view_panel.h"
#include "imgui.h"

namespace {

constexpr int kSide = 200;
constexpr int kSamplesPerTile = 50;
constexpr double kTileSize = 5.0;

struct ViewFixture {
    TileCountMap counts;
    TileSampleMap samples;
    double tileSize = kTileSize;
    int samplesPerTile = kSamplesPerTile;
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

    ViewFixture() {
        std::mt19937 gen(11);
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        counts.reserve(kSide * kSide);
        samples.reserve(kSide * kSide);
        for (int iy = 0; iy < kSide; ++iy)
            for (int ix = 0; ix < kSide; ++ix) {
                const TileIndex t{ix, iy};
                counts[t] = 1000;
                std::vector<Sample2D>& list = samples[t];
                list.resize(kSamplesPerTile);
                for (Sample2D& s : list) {
                    s.x = static_cast<float>((ix + unit(gen)) * kTileSize);
                    s.y = static_cast<float>((iy + unit(gen)) * kTileSize);
                    s.z = 100.0f + 30.0f * unit(gen);
                }
                if (ix % 10 == 0 && iy % 10 == 0) selected.insert(t);
            }
        gui.zRangeMin = 100.0;
        gui.zRangeMax = 130.0;
        gui.haveZRange = true;
        frame.bounds = computeTileIndexBounds(counts);
    }
};

enum class Change { Nothing, Maps, Colours };

void runViewFrames(benchmark::State& state, ViewFixture& fx, Change change) {
    const float w = static_cast<float>(state.range(0));
    const float h = static_cast<float>(state.range(1));
    const bool vtxOffset = state.range(2) != 0;
    ImGuiContext* context = ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.DisplaySize = ImVec2(w + 20.0f, h + 20.0f);
    io.DeltaTime = 1.0f / 60.0f;
    io.IniFilename = nullptr;
    if (vtxOffset) io.BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
    unsigned char* pixels = nullptr;
    int tw = 0;
    int th = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &tw, &th);
    auto frame = [&] {
        ImGui::NewFrame();
        ImGui::SetNextWindowPos(ImVec2(10.0f, 10.0f));
        ImGui::SetNextWindowSize(ImVec2(w, h));
        ImGui::Begin("right_panel", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                         ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
        drawViewPanel(fx.frame);
        ImGui::End();
        ImGui::Render();
    };
    for (int i = 0; i < 3; ++i) frame();  // the layout settles and the buffers grow
    for (auto _ : state) {
        if (change == Change::Maps) ++fx.gui.mapsVersion;
        if (change == Change::Colours)
            fx.proc.view.zSensitivity = fx.proc.view.zSensitivity == 2.0f ? 2.1f : 2.0f;
        frame();
    }
    const ImDrawData* data = ImGui::GetDrawData();
    state.counters["vertices"] = static_cast<double>(data->TotalVtxCount);
    ImGui::DestroyContext(context);
}

void BM_TopViewFrame(benchmark::State& state) {
    ViewFixture fx;
    runViewFrames(state, fx, static_cast<Change>(state.range(3)));
}

void BM_VerticalViewFrame(benchmark::State& state) {
    ViewFixture fx;
    fx.proc.view.verticalTab = true;
    for (const auto& entry : fx.counts) fx.gui.emphasisedTiles.insert(entry.first);
    runViewFrames(state, fx, Change::Nothing);
}

BENCHMARK(BM_TopViewFrame)
    ->Args({580, 780, 1, 0})
    ->Args({1400, 1060, 1, 0})
    ->Args({1300, 1500, 1, 0})
    ->Args({580, 780, 0, 0})
    ->Args({580, 780, 1, 1})
    ->Args({1400, 1060, 1, 1})
    ->Args({1300, 1500, 1, 1})
    ->Args({1400, 1060, 1, 2})
    ->Args({1300, 1500, 1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    // The least of the repetitions is the one least disturbed by the rest of the machine.
    ->ComputeStatistics("min", [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    });

BENCHMARK(BM_VerticalViewFrame)
    ->Args({1400, 1060, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->ComputeStatistics("min", [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    });

}  // namespace

BENCHMARK_MAIN();
