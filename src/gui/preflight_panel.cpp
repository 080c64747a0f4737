#include "gui/preflight_panel.h"

// Placeholder until the panel is written.
void drawE57PreflightPanel(PreflightPanelContext&, const char*, bool) {}
