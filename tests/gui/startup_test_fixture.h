#pragma once

#include <string>
#include <vector>

#include "gui/gui_frame.h"
#include "headless_imgui.h"

namespace guitest {

// The program's state as the window receives it, with one frame's record over it.
struct StartupFixture {
    TileCountMap counts;
    TileSampleMap samples;
    double tileSize = 5.0;
    int samplesPerTile = 2000;
    TileSet selected;
    std::vector<SelectedHeightRange> vertical;
    std::vector<SavedTileSelection> top;
    int exportMode = 0;
    int previewMode = -1;
    std::string inputPath;
    std::string outputFolder;
    GuiInputs in{counts,     samples,     tileSize,  samplesPerTile, selected, vertical, top,
                 exportMode, previewMode, inputPath, outputFolder,   nullptr,  nullptr,  nullptr,
                 {},         {},          {}};
    TileSelectionGuiState gui;
    GuiProcessState proc;

    GuiFrame frame() {
        const bool own = gui.switchedToSelection;
        return GuiFrame{in,
                        gui,
                        proc,
                        own ? &gui.selectionTileCounts : &counts,
                        own ? &gui.selectionTileSamples : &samples,
                        {},
                        readBuildFlags(in.buildState),
                        0,
                        0,
                        -1};
    }
    // Draws one panel function inside a plain window.
    template <typename Draw>
    auto drawer(Draw draw) {
        return [this, draw] {
            ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
            ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
            ImGui::Begin("panel test", nullptr, ImGuiWindowFlags_NoSavedSettings);
            GuiFrame f = frame();
            draw(f);
            ImGui::End();
        };
    }
};

}  // namespace guitest
