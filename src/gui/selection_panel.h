#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "gui/gui_frame.h"

// Frame step 5: the tiles the views emphasise, by the first rule that applies.
void rebuildEmphasisedTiles(GuiFrame& f);
// The guarded upper part's selection controls ("Auto window height", the buffer, height
// selection, on the tile-selection screen the saved lists, export mode and buffer buttons).
void drawSelectionControls(GuiFrame& f);
// "Information about output E57" (tile-selection screen, after the retile panel).
void drawOutputInformation(GuiFrame& f);
// The tile-selection screen's action area: ready line, output format, export buttons,
// "Close" and "Continue with new selection".
void drawExportActions(GuiFrame& f);

// What the saved selections would export, from the preview's counts.
struct OutputEstimate {
    std::size_t tiles = 0;  // distinct tiles over both saved lists
    std::uint64_t points = 0;
    double areaM2 = 0.0;
    double densityMPerM2 = 0.0;  // million points per m2; 0 for no area
};
OutputEstimate estimateSelectedOutput(const std::vector<SelectedHeightRange>& vertical,
                                      const std::vector<SavedTileSelection>& top,
                                      const TileCountMap& counts, double tileSize);

// "(ix,iy), (ix,iy), ..." in list order.
std::string tileListText(const std::vector<TileIndex>& tiles);
