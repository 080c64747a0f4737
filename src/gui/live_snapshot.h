#pragma once

#include <chrono>

#include "gui/gui_state.h"
#include "points/preview/preview_build.h"
#include "points/preview/preview_build_state.h"

// Least time between two copies of the build's live maps.
constexpr std::chrono::milliseconds kLiveSnapshotInterval{700};

// Copies the build's live maps into the process's snapshot when the build published since
// the last copy and the last copy is at least kLiveSnapshotInterval (whole milliseconds) old;
// the first publication is copied at once. The build mutex is held only for the copy. True
// when it copied.
bool refreshLiveSnapshot(PreviewBuildState& build, GuiProcessState& proc,
                         std::chrono::steady_clock::time_point now);
