#pragma once

#include <cstdint>
#include <string>

#include "gui/gui_inputs.h"
#include "gui/gui_state.h"
#include "gui/tile_bounds.h"

// The build's flags and counters as one frame sees them (atomic loads, no lock); false and 0
// without a build state. failureMessage is copied under the mutex only when failed.
struct BuildFlags {
    bool running = false;
    bool ready = false;
    bool failed = false;
    bool selectionStageOpen = false;
    bool streaming = false;
    std::uint64_t pointsRead = 0;
    std::uint64_t bytesRead = 0;
    std::uint64_t inputFileBytes = 0;
    std::string failureMessage;
};

BuildFlags readBuildFlags(PreviewBuildState* buildState);

// Everything one frame's panels read and write.
struct GuiFrame {
    GuiInputs& in;
    TileSelectionGuiState& gui;
    GuiProcessState& proc;
    // The displayed maps: every panel and view of the frame reads these.
    const TileCountMap* counts = nullptr;
    const TileSampleMap* samples = nullptr;
    TileIndexBounds bounds;
    BuildFlags build;
    // The window's size in screen coordinates when the frame began (the automatic height).
    int windowWidth = 0;
    int windowHeight = 0;
    int wantedWindowHeight = -1;
};
