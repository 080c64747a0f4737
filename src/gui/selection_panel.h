#pragma once

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
