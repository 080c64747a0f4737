#include "gui/startup_panel.h"

// Placeholder until the panel is written.
void drawStartupConfiguration(GuiFrame&) {}
void drawStartupActions(GuiFrame&) {}
