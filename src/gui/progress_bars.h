#pragma once

#include <string>

#include "gui/gui_state.h"

// The number just before the first '%' of an export status message (blanks between allowed),
// clamped to 0..100. False, with percent 0, when there is none.
bool parsePercentFromMessage(const std::string& message, float& percent);

// The overlay of a stage bar: the label, then the whole percentage when showPercent.
std::string stageProgressOverlay(const char* label, float fraction, bool hasFraction,
                                 bool showPercent);
void drawStageProgressBar(const char* label, float fraction, bool hasFraction, bool showPercent,
                          float height);

// An indeterminate bar with a moving block, over the full available width.
void drawBusyBar(const char* text, float height);

struct ExportBarView {
    float fraction = 0.0f;
    std::string overlay;
};
// One frame of the export bar: the message's percentage when it has one, else an estimate that
// creeps on from the last frame's (never past 95 %). Updates the process-wide bar state.
ExportBarView advanceExportProgress(GuiProcessState& proc, const std::string& message, double now);
void drawExportProgressBar(GuiProcessState& proc, const std::string& message, float height);
