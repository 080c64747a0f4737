#include "gui/view_panel.h"

// Placeholder until the panel is written.
void drawViewPanel(GuiFrame&) {}
