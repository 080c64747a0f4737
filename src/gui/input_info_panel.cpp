#include "gui/input_info_panel.h"

// Placeholder until the panel is written.
void drawInputInformation(GuiFrame&) {}
