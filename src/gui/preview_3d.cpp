#include "gui/preview_3d.h"

// Placeholder until the panel is written.
void drawPreview3DSettings(GuiFrame&) {}
void drawPreview3DCanvas(GuiFrame&, float, float, float, float, bool, bool) {}
