#pragma once

#include <chrono>

#include "gui/gui_frame.h"

// One frame of the window between ImGui::NewFrame and ImGui::Render, without the window
// system: the live snapshot (at `now`), the displayed maps, the switch to tile selection, the
// root window with its two panels and the automatic height measurement. Tests run it in a
// window-less ImGui context.
void drawTileSelectionFrame(GuiFrame& f, std::chrono::steady_clock::time_point now);
