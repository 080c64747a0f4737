#pragma once

#include "gui/gui_frame.h"

// An export button's action: guard set, status record running with startMessage, then the
// export preparation through startExportCallback.
void requestExport(GuiFrame& f, int outputFormat, bool exportRGB, bool photoThirdPass,
                   const char* startMessage);
// Clears the selections and the export's outcome, keeps the loaded preview.
void continueWithNewSelection(GuiFrame& f);
