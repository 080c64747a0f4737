#pragma once

#include "gui/gui_frame.h"

// The tile-selection screen's input block: the loading notice, "Information about input E57"
// with the preflight panel, and "Preview retile from cache".
void drawInputInformation(GuiFrame& f);

// The retile can run: a callback, a positive new tile size, a pair that differs from the
// current one (tile sizes closer than 1e-9 m count as equal), and no export running.
bool retileEnabled(bool hasCallback, double newTileSize, int newSamplesPerTile, double tileSize,
                   int samplesPerTile, bool exportRunning);
