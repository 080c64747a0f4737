#pragma once

#include <chrono>

#include "gui/gui_frame.h"

// The state of one call as the window starts: the startup screen when no tiles were handed
// in, the text buffers holding the input path and output folder, the Z range of the input's
// bounds when they are known.
void initTileSelectionGuiState(TileSelectionGuiState& gui, const GuiInputs& in);

// One frame of the window between ImGui::NewFrame and ImGui::Render, without the window
// system: the live snapshot (at `now`), the displayed maps, the switch to tile selection, the
// root window with its two panels and the automatic height measurement (from f.windowHeight).
// Tests run it in a window-less ImGui context.
void drawTileSelectionFrame(GuiFrame& f, std::chrono::steady_clock::time_point now);
