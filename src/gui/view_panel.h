#pragma once

#include "gui/gui_frame.h"

// The right panel's content: the three view tabs, the active tab's settings and its canvas.
void drawViewPanel(GuiFrame& f);
