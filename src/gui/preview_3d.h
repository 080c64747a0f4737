#pragma once

#include "gui/gui_frame.h"

// The left panel's "3D preview" settings block, drawn while the 3D tab is active.
void drawPreview3DSettings(GuiFrame& f);
// The 3D tab's canvas at (x, y) of size w x h, with its mouse handling; the canvas's invisible
// button has just been drawn (hovered / active are its states).
void drawPreview3DCanvas(GuiFrame& f, float x, float y, float w, float h, bool hovered,
                         bool active);
