#include "gui/export_actions.h"

#include <mutex>

void requestExport(GuiFrame& f, int outputFormat, bool exportRGB, bool photoThirdPass,
                   const char* startMessage) {
    f.proc.exportProgressFraction = 0.0f;
    f.proc.exportProgressLastTime = -1.0;
    f.gui.exportRequested = true;
    f.gui.actionTaken = true;
    f.gui.closeRequested = false;
    if (ExportHelperStatus* status = f.in.exportStatus) {
        status->running = true;
        status->finished = false;
        status->failed = false;
        std::lock_guard<std::mutex> lock(status->mutex);
        status->message = startMessage ? startMessage : "";
        status->details.clear();
    }
    if (f.in.startExportCallback) f.in.startExportCallback(outputFormat, exportRGB, photoThirdPass);
}

void continueWithNewSelection(GuiFrame& f) {
    f.in.selectedTiles.clear();
    f.in.savedVerticalSelections.clear();
    f.in.savedTopSelections.clear();
    f.gui.heightFilterTiles.clear();
    f.gui.emphasisedTiles.clear();
    f.proc.heightSelectionMode = false;
    f.proc.highlightedTopSelection = -1;
    f.proc.highlightedVerticalSelection = -1;
    f.gui.exportRequested = false;
    f.gui.actionTaken = false;
    f.gui.closeRequested = false;
    if (ExportHelperStatus* status = f.in.exportStatus) {
        status->running = false;
        status->finished = false;
        status->failed = false;
        std::lock_guard<std::mutex> lock(status->mutex);
        status->message.clear();
        status->details.clear();
    }
}
