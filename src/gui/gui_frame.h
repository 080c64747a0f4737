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
    std::string warning;  // copied under the mutex only when the build has one
};

BuildFlags readBuildFlags(PreviewBuildState* buildState);

// The export buttons wait for this to end: the stream is still being read, or it has been
// read and the build is still finishing (it writes the input's bounds and totals, which the
// export preparation reads, before it reports ready).
inline bool buildStillReading(const BuildFlags& b) {
    return b.streaming || (b.running && !b.ready && !b.failed);
}

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

// What the displayed samples are measured from (a sample's point is origin + sample): the
// build's origin for the window's own maps; the program's maps hold points themselves.
inline SampleOrigin displayedOrigin(const GuiFrame& f) {
    if (f.samples == &f.gui.selectionTileSamples) return f.gui.selectionOrigin;
    if (f.samples == &f.proc.liveSnapshotTileSamples) return f.proc.liveSnapshotOrigin;
    return SampleOrigin{};
}

// The input's record as the window may read it. The build thread writes the program's record
// at the end of its reading, so while a build runs (not yet ready or failed) the window gets a
// copy holding only the file size, taken from the build's atomic byte count; before a load and
// once the build has ended, the program's own record (null when there is none).
const InputCloudInfo* readableInputInfo(const GuiFrame& f);
