#pragma once

#include "points/input/e57_preflight.h"

// What the E57 preflight panel reads and starts.
struct PreflightPanelContext {
    char* inputPathText;  // the window's 1024-byte input path buffer
    E57PreflightAnalysis& analysis;
    bool& busy;  // true only while the analysis runs
};

// idSuffix "startup" with startup true on the startup screen (it can start the analysis),
// "persistent" with false on the tile-selection screen.
void drawE57PreflightPanel(PreflightPanelContext& context, const char* idSuffix, bool startup);
