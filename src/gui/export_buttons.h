#pragma once

#include <array>
#include <cstdint>

#include "gui/input_kind.h"

// What the export action area decides from, one frame's values.
struct ExportPanelFacts {
    InputKind input = InputKind::Unknown;
    int exportMode = 0;
    int outputFormat = 0;      // after correctedOutputFormat
    bool exportReady = false;  // a saved vertical or top selection exists
    bool actionTaken = false;
    bool streaming = false;
    bool preflightMatches = false;
    bool photoPassAvailable = false;
    std::int64_t image2DBlocks = 0;
};

struct ExportButton {
    const char* label;
    bool enabled;  // its own condition; the row's condition comes on top
    bool exportRGB;
    bool photoThirdPass;
    const char* startMessage;
};

struct ExportPanelRules {
    const char* readyLine = nullptr;
    bool rowEnabled = false;  // ready, no action taken, not streaming
    std::array<ExportButton, 3> buttons{};
    const char* formatNote = nullptr;       // null: none
    const char* firstPhotoNote = nullptr;   // null: none
    const char* secondPhotoNote = nullptr;  // null: none, or the same sentence as the first
    bool clickable(int i) const { return rowEnabled && buttons[i].enabled; }
};

ExportPanelRules exportPanelRules(const ExportPanelFacts& facts);

// The export mode the panel keeps: split modes need a saved selection.
inline int shownExportMode(bool exportReady, int exportMode) {
    return exportReady ? exportMode : 0;
}
