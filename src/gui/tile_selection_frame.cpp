#include "gui/tile_selection_frame.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "gui/file_browse.h"
#include "gui/input_info_panel.h"
#include "gui/live_snapshot.h"
#include "gui/preview_3d.h"
#include "gui/selection_panel.h"
#include "gui/stage_lines.h"
#include "gui/startup_panel.h"
#include "gui/view_panel.h"
#include "gui/window_size.h"
#include "imgui.h"

namespace {

constexpr float kLeftPanelWidth = 500.0f;

// True when the input's bounds gave the range.
bool zRangeFromInputInfo(TileSelectionGuiState& gui, const InputCloudInfo* info) {
    if (!info || !info->boundsValid) return false;
    gui.zRangeMin = info->minZ;
    gui.zRangeMax = info->maxZ > info->minZ ? info->maxZ : info->minZ + 1e-6;
    gui.haveZRange = true;
    return true;
}

// The bounds and (once asked for) the samples' Z range of the displayed maps, worked out
// again only when the maps changed: with 40,000 tiles each walk is several milliseconds.
DisplayedMapSummary& displayedSummary(GuiFrame& f) {
    DisplayedMapSummary& sum = f.gui.displayedSummary;
    if (sum.counts != f.counts || sum.mapsVersion != f.gui.mapsVersion) {
        sum = DisplayedMapSummary{};
        sum.counts = f.counts;
        sum.mapsVersion = f.gui.mapsVersion;
        sum.bounds = computeTileIndexBounds(*f.counts);
    }
    return sum;
}

void zRangeFromSamples(GuiFrame& f) {
    DisplayedMapSummary& sum = displayedSummary(f);
    if (!sum.sampleZKnown) {
        sum.sampleZKnown = true;
        for (const auto& entry : *f.samples) {
            for (const Sample2D& s : entry.second) {
                if (!sum.anySample) {
                    sum.sampleZMin = sum.sampleZMax = s.z;
                    sum.anySample = true;
                }
                sum.sampleZMin = std::min(sum.sampleZMin, s.z);
                sum.sampleZMax = std::max(sum.sampleZMax, s.z);
            }
        }
    }
    if (!sum.anySample) return;  // the range stays as it was
    TileSelectionGuiState& gui = f.gui;
    const double originZ = displayedOrigin(f).z;
    gui.zRangeMin = originZ + static_cast<double>(sum.sampleZMin);
    gui.zRangeMax = sum.sampleZMax > sum.sampleZMin ? originZ + static_cast<double>(sum.sampleZMax)
                                                    : gui.zRangeMin + 1e-6;
    gui.haveZRange = true;
}

void selectDisplayedMaps(GuiFrame& f) {
    const bool own = f.gui.startupScreen ? f.in.buildState != nullptr : f.gui.switchedToSelection;
    if (!own) {
        f.counts = &f.in.tileCounts;
        f.samples = &f.in.tileSamples;
    } else if (f.gui.startupScreen) {
        f.counts = &f.proc.liveSnapshotTileCounts;
        f.samples = &f.proc.liveSnapshotTileSamples;
    } else {
        f.counts = &f.gui.selectionTileCounts;
        f.samples = &f.gui.selectionTileSamples;
    }
}

// The live snapshot as the window's own maps, with the origin its samples are measured from.
void selectionFromSnapshot(TileSelectionGuiState& gui, const GuiProcessState& proc) {
    copyTileMaps(gui.selectionTileCounts, gui.selectionTileSamples, proc.liveSnapshotTileCounts,
                 proc.liveSnapshotTileSamples);
    gui.selectionOrigin = proc.liveSnapshotOrigin;
}

void switchToTileSelection(GuiFrame& f) {
    TileSelectionGuiState& gui = f.gui;
    PreviewBuildState* build = f.in.buildState;
    if (!gui.startupScreen || !gui.loadStarted || !build) return;
    if (f.build.failed) {
        gui.closeRequested = true;  // the program reports the failed build
        return;
    }
    if (!f.build.selectionStageOpen && !f.build.ready) return;
    {
        std::lock_guard<std::mutex> lock(build->mutex);
        copyTileMaps(gui.selectionTileCounts, gui.selectionTileSamples, build->liveTileCounts,
                     build->liveTileSamples);
        gui.selectionOrigin = build->liveOrigin;
    }
    if (gui.selectionTileCounts.empty() && !f.proc.liveSnapshotTileCounts.empty())
        selectionFromSnapshot(gui, f.proc);
    gui.switchedToSelection = true;
    ++gui.mapsVersion;
    zRangeFromInputInfo(gui, readableInputInfo(f));
    gui.startupScreen = false;
    gui.actionTaken = false;
    gui.loadStarted = false;
    f.proc.heightSelectionMode = false;
}

void drawLeftPanel(GuiFrame& f) {
    ImGui::BeginChild("left_panel", ImVec2(kLeftPanelWidth, 0.0f), true);
    // Long notes wrap at the panel's edge instead of running out of sight.
    ImGui::PushTextWrapPos(0.0f);
    const bool startup = f.gui.startupScreen;
    ImGui::BeginDisabled(f.gui.actionTaken);
    if (startup) {
        drawStartupConfiguration(f);
    } else {
        drawInputInformation(f);
        drawOutputInformation(f);
    }
    drawSelectionControls(f);
    ImGui::EndDisabled();
    // View settings only: usable while a load or an export runs.
    if (f.proc.view.preview3DTab) drawPreview3DSettings(f);
    if (startup) {
        drawStartupActions(f);
    } else {
        drawExportActions(f);
    }
    drawStageLines(f);
    if (f.proc.autoWindowHeight) {
        f.wantedWindowHeight = measureWantedWindowHeight(
            ImGui::GetScrollMaxY(), ImGui::GetWindowHeight(), ImGui::GetCursorPosY(),
            ImGui::GetStyle().WindowPadding.y, f.windowHeight);
    }
    ImGui::PopTextWrapPos();
    ImGui::EndChild();
}

}  // namespace

void initTileSelectionGuiState(TileSelectionGuiState& gui, const GuiInputs& in) {
    gui.startupScreen = in.tileCounts.empty();
    gui.tileGapPx = 2.0f;
    std::memset(gui.inputPathText, 0, sizeof gui.inputPathText);
    std::memset(gui.outputFolderText, 0, sizeof gui.outputFolderText);
    copyToTextBuffer(gui.inputPathText, in.inputPath, sizeof gui.inputPathText);
    copyToTextBuffer(gui.outputFolderText, in.outputFolder, sizeof gui.outputFolderText);
    zRangeFromInputInfo(gui, in.inputInfo);
}

void drawTileSelectionFrame(GuiFrame& f, std::chrono::steady_clock::time_point now) {
    f.wantedWindowHeight = -1;
    if (f.in.buildState && refreshLiveSnapshot(*f.in.buildState, f.proc, now)) {
        ++f.gui.mapsVersion;
        if (!f.gui.startupScreen && f.gui.switchedToSelection) {
            // A quick preview keeps refining the map after the switch. The snapshot is ours,
            // so this copy needs no lock.
            selectionFromSnapshot(f.gui, f.proc);
        }
    }
    selectDisplayedMaps(f);
    rebuildEmphasisedTiles(f);
    f.bounds = displayedSummary(f).bounds;
    if (!f.gui.startupScreen && !zRangeFromInputInfo(f.gui, readableInputInfo(f)))
        zRangeFromSamples(f);
    f.build = readBuildFlags(f.in.buildState);
    switchToTileSelection(f);

    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->WorkPos, ImGuiCond_Always);
    ImGui::SetNextWindowSize(viewport->WorkSize, ImGuiCond_Always);
    const ImGuiWindowFlags rootFlags =
        ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
        ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
        ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus;
    ImGui::Begin(
        f.gui.startupScreen ? "Startup configuration##root" : "Tile selection (coarse tiles)##root",
        nullptr, rootFlags);
    drawLeftPanel(f);
    ImGui::SameLine(0.0f, -1.0f);
    ImGui::BeginChild("right_panel", ImVec2(0.0f, 0.0f), true,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    ImGui::PushTextWrapPos(0.0f);
    drawViewPanel(f);
    ImGui::PopTextWrapPos();
    ImGui::Separator();
    ImGui::EndChild();
    ImGui::End();
}
