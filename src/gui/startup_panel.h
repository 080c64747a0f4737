#pragma once

#include "gui/gui_frame.h"

// The startup screen's configuration block (inside the guarded upper part of the left panel).
void drawStartupConfiguration(GuiFrame& f);
// The startup screen's action area: the load gating line, the load buttons and "Close".
void drawStartupActions(GuiFrame& f);
