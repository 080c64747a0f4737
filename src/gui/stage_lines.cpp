#include "gui/stage_lines.h"

// Placeholder until the panel is written.
void drawStageLines(GuiFrame&) {}
