#pragma once

#include "gui/gui_frame.h"

// Below the action area of both screens: the four stage lines, the reading progress and the
// sentence saying what happens now, with the export's progress, failure or result.
void drawStageLines(GuiFrame& f);
