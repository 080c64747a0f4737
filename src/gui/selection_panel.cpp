#include "gui/selection_panel.h"

// Placeholder until the panel is written.
void rebuildEmphasisedTiles(GuiFrame&) {}
void drawSelectionControls(GuiFrame&) {}
void drawOutputInformation(GuiFrame&) {}
void drawExportActions(GuiFrame&) {}
