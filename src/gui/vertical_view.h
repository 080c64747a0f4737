#pragma once

#include "gui/gui_frame.h"
#include "gui/view_geometry.h"

struct ImDrawList;

// The side view of the emphasised tiles into the canvas (the caller has pushed the canvas
// clip): tile columns along the rotation's axis, samples by position and height, scanner
// markers and the pending Z range.
void drawVerticalView(GuiFrame& f, ImDrawList* dl, const CanvasRect& canvas);
