#pragma once

#include "gui/gui_frame.h"

// The tile-selection screen's input block: the loading notice, "Information about input E57"
// with the preflight panel, and "Preview retile from cache".
void drawInputInformation(GuiFrame& f);
