#include "gui/gui_frame.h"

#include <mutex>

BuildFlags readBuildFlags(PreviewBuildState* buildState) {
    BuildFlags f;
    if (!buildState) return f;
    f.running = buildState->running.load();
    f.ready = buildState->ready.load();
    f.failed = buildState->failed.load();
    f.selectionStageOpen = buildState->selectionStageOpen.load();
    f.streaming = buildState->streaming.load();
    f.pointsRead = buildState->pointsRead.load();
    f.bytesRead = buildState->bytesRead.load();
    f.inputFileBytes = buildState->inputFileBytes.load();
    if (f.failed || buildState->hasWarning.load()) {
        std::lock_guard<std::mutex> lock(buildState->mutex);
        if (f.failed) f.failureMessage = buildState->message;
        f.warning = buildState->warning;
    }
    return f;
}

const InputCloudInfo* readableInputInfo(const GuiFrame& f) {
    const InputCloudInfo* info = f.in.inputInfo;
    PreviewBuildState* build = f.in.buildState;
    if (!info || !build || !build->running.load() || build->ready.load() || build->failed.load())
        return info;
    f.gui.inputInfoWhileBuilding = InputCloudInfo{};
    f.gui.inputInfoWhileBuilding.fileSizeMB =
        static_cast<double>(build->inputFileBytes.load()) * 9.5367431640625e-07;
    return &f.gui.inputInfoWhileBuilding;
}
