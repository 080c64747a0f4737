#pragma once

#include <vector>

#include "gui/gui_frame.h"
#include "gui/view_geometry.h"

struct ImDrawList;

// A Ctrl + left click on the canvas this frame, at the mouse position.
struct TopViewClick {
    bool pending = false;
    float x = 0.0f;
    float y = 0.0f;
};

// The top view's cell size for this frame: auto-fit to the canvas, or the set size.
float topViewCellSize(const GuiFrame& f, const CanvasRect& canvas);

// Draws the grid, the samples and the scanner markers into the canvas (the caller has pushed
// the canvas clip), then applies a pending click to the selected-tile buffer: a tile with a
// count is added, or removed when already there; nothing in height selection mode.
void drawTopView(GuiFrame& f, ImDrawList* dl, const CanvasRect& canvas, float cell,
                 const TopViewClick& click);

// The scans whose positions the views mark: those of the preflight record when it belongs to
// the input, else none.
const std::vector<E57ScanSummary>* markedScans(const GuiFrame& f);
