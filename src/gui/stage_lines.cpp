#include "gui/stage_lines.h"

#include <algorithm>
#include <cstdio>

#include "gui/export_status_view.h"
#include "gui/progress_bars.h"
#include "imgui.h"

namespace {

StageMark pick(bool failed, bool done, bool spinner) {
    if (failed) return StageMark::Failed;
    if (done) return StageMark::Done;
    if (spinner) return StageMark::Spinner;
    return StageMark::Blank;
}

void drawStageLine(const char* label, StageMark mark) {
    ImGui::TextUnformatted(label);
    ImGui::SameLine();
    switch (mark) {
        case StageMark::Done: ImGui::TextColored(ImVec4(0.2f, 1.0f, 0.2f, 1.0f), "DONE"); break;
        case StageMark::Failed:
            ImGui::TextColored(ImVec4(1.0f, 0.35f, 0.35f, 1.0f), "FAILED");
            break;
        case StageMark::Spinner: {
            static const char* const kSpinner[4] = {"-", "/", "|", "\\"};
            ImGui::TextUnformatted(kSpinner[static_cast<int>(ImGui::GetTime() * 8.0) & 3]);
            break;
        }
        case StageMark::Blank: ImGui::TextDisabled(" "); break;
    }
}

void drawReadingProgress(const GuiFrame& f) {
    const ReadingProgress p =
        readingProgress(f.build, readingTotal(readableInputInfo(f), f.gui.preflight));
    if (p.hasFraction) {
        drawStageProgressBar(p.text.c_str(), p.fraction, true, true, 18.0f);
    } else {
        drawBusyBar(p.text.empty() ? "Reading..." : p.text.c_str(), 18.0f);
    }
}

void drawSelectionSentence(GuiFrame& f) {
    const bool streaming = f.build.streaming;
    if (streaming) {
        ImGui::TextColored(ImVec4(1.0f, 0.85f, 0.25f, 1.0f),
                           "Full reading stage is running in background...");
        ImGui::TextDisabled("You can select tiles now. The preview will continue...");
    }
    ExportHelperStatus* status = f.in.exportStatus;
    if (isExportRunning(status)) {
        drawExportProgressBar(f.proc, readExportStatusMessage(status), 18.0f);
    } else if (isExportFailed(status)) {
        ImGui::TextUnformatted("Export failed. Close the window or check the error below.");
        const std::string details = readExportStatusDetails(status);
        if (!details.empty()) ImGui::TextWrapped("Error: %s", details.c_str());
    } else if (isExportFinished(status)) {
        const std::string message = readExportStatusMessage(status);
        if (message.empty()) {
            ImGui::TextWrapped("Export finished. You can close the window.");
        } else {
            ImGui::TextWrapped("%s", message.c_str());
        }
    } else if (streaming) {
        ImGui::TextUnformatted(
            "Selection is available. Export will be safest after full reading is complete.");
    } else {
        ImGui::TextUnformatted("Ready to start export.");
    }
}

}  // namespace

StageMarks stageMarks(const StageSituation& s, const BuildFlags& b) {
    const bool selectionScreen = !s.startupScreen;
    StageMarks m;
    m.preview =
        pick(s.startupScreen && s.loadStarted && b.failed,
             selectionScreen || (s.startupScreen && b.selectionStageOpen) ||
                 (s.startupScreen && s.loadStarted && b.ready && !b.failed),
             s.startupScreen && s.loadStarted && b.running && !b.selectionStageOpen && !b.failed);
    m.selection = pick(false,
                       selectionScreen && (s.exportRequested || s.exportRunning ||
                                           s.exportFinished || s.exportFailed),
                       selectionScreen);
    m.fullReading = pick(b.failed, selectionScreen && b.ready && !b.failed,
                         b.streaming && !b.ready && !b.failed);
    m.exporting = pick(s.exportFailed, s.exportFinished && !s.exportFailed, s.exportRunning);
    return m;
}

std::uint64_t readingTotal(const InputCloudInfo* info, const E57PreflightAnalysis& preflight) {
    if (info && info->totalPoints != 0) return info->totalPoints;
    if (preflight.attempted && preflight.ok) return preflight.totalPoints;
    return 0;
}

ReadingProgress readingProgress(const BuildFlags& b, std::uint64_t total) {
    ReadingProgress p;
    char text[64] = {};
    const double read = static_cast<double>(b.pointsRead);
    if (total > 0 && b.pointsRead > 0) {
        const double t = static_cast<double>(total);
        std::snprintf(text, sizeof(text), "%.1f%% loaded",
                      std::clamp(read * 100.0 / t, 0.0, 100.0));
        p.hasFraction = true;
        p.fraction = static_cast<float>(std::clamp(read / t, 0.0, 1.0));
    } else if (b.inputFileBytes > 0) {
        const double bytes = static_cast<double>(b.bytesRead);
        const double size = static_cast<double>(b.inputFileBytes);
        std::snprintf(text, sizeof(text), "%.1f%% loaded | %.0f M processed",
                      std::clamp(bytes * 100.0 / size, 0.0, 100.0), read / 1e6);
        p.hasFraction = true;
        p.fraction = static_cast<float>(std::clamp(bytes / size, 0.0, 1.0));
    } else if (b.pointsRead > 0) {
        std::snprintf(text, sizeof(text), "%.0f M processed", read / 1e6);
    }
    p.text = text;
    return p;
}

const char* startupStageSentence(bool loadStarted, const BuildFlags& b) {
    if (!loadStarted) return "No processing started yet.";
    if (b.failed) return "Preview stage failed.";
    if (b.selectionStageOpen) return "Preview is ready. Switching to tile selection...";
    if (b.ready) return "Preview and full reading are complete. Switching to tile selection...";
    return "Preview stage is running...";
}

void drawStageLines(GuiFrame& f) {
    ImGui::Spacing();
    ImGui::Separator();
    StageSituation s;
    s.startupScreen = f.gui.startupScreen;
    s.loadStarted = f.gui.loadStarted;
    s.exportRequested = f.gui.exportRequested;
    s.exportRunning = isExportRunning(f.in.exportStatus);
    s.exportFinished = isExportFinished(f.in.exportStatus);
    s.exportFailed = isExportFailed(f.in.exportStatus);
    const StageMarks marks = stageMarks(s, f.build);
    drawStageLine("PREVIEW STAGE:", marks.preview);
    drawStageLine("SELECTION STAGE:", marks.selection);
    drawStageLine("FULL READING STAGE:", marks.fullReading);
    if (f.build.running && !f.build.ready && !f.build.failed) drawReadingProgress(f);
    if (!f.build.warning.empty())
        ImGui::TextColored(ImVec4(1.0f, 0.85f, 0.25f, 1.0f), "%s", f.build.warning.c_str());
    drawStageLine("EXPORT STAGE:", marks.exporting);
    if (f.gui.startupScreen) {
        ImGui::TextUnformatted(startupStageSentence(f.gui.loadStarted, f.build));
    } else {
        drawSelectionSentence(f);
    }
}
