#pragma once

#include <string>

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

// The panel's choices of words and colour, apart from the drawing.
enum class PreflightTone { Green, Yellow, Blue, Orange, Disabled };
struct PreflightLine {
    const char* text = "";
    PreflightTone tone = PreflightTone::Disabled;
};
// Scans exist and all of them have Cartesian XYZ.
bool allScansCartesian(const E57PreflightAnalysis& analysis);
PreflightLine cartesianSummaryLine(const E57PreflightAnalysis& analysis);
// The note's first line, and a second, disabled one (empty when there is none).
struct PhotoNote {
    PreflightLine first;
    const char* second = "";
};
PhotoNote photoPreservationNote(const E57PreflightAnalysis& analysis);
// One line of the per-image list.
std::string imageListLine(const E57ImageSummary& image);
enum class ScanTone { Cartesian, Structured, NonCartesian };
// NonCartesian without all three XYZ fields, Structured with a row or column index.
ScanTone scanTone(const E57ScanSummary& scan);
