#include "gui/tile_selection_frame.h"

// Placeholder until the panel is written.
void drawTileSelectionFrame(GuiFrame&, std::chrono::steady_clock::time_point) {}
