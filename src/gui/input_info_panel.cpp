#include "gui/input_info_panel.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>

#include "gui/export_status_view.h"
#include "gui/item_probe.h"
#include "gui/layout_fit.h"
#include "gui/preflight_panel.h"
#include "gui/sample_recommendation.h"
#include "gui/startup_panel.h"
#include "gui/tile_bounds.h"
#include "imgui.h"
#include "points/input/exception_text.h"

namespace {

std::uint64_t displayedTotalPoints(const GuiFrame& f) {
    const InputCloudInfo* info = readableInputInfo(f);
    if (info && info->totalPoints != 0) return info->totalPoints;
    std::uint64_t total = 0;
    if (f.counts)
        for (const auto& [tile, count] : *f.counts) total += count;
    return total;
}

void drawInputFacts(GuiFrame& f) {
    const InputCloudInfo* info = readableInputInfo(f);
    const std::uint64_t total = displayedTotalPoints(f);
    ImGui::TextUnformatted("Information about input E57");
    ImGui::Separator();
    ImGui::Text("Size of E57 (MB): %.1f", info ? info->fileSizeMB : 0.0);
    ImGui::Text("Total quantity points (Millions): %.3f", static_cast<double>(total) / 1e6);
    ImGui::Spacing();
    PreflightPanelContext context{f.gui.inputPathText, f.gui.preflight, f.gui.preflightBusy};
    drawE57PreflightPanel(context, "persistent", false);
    if (info && info->boundsValid) {
        const double area =
            std::max(info->maxX - info->minX, 0.0) * std::max(info->maxY - info->minY, 0.0);
        const double density = area > 1e-12 ? (static_cast<double>(total) / 1e6) / area : 0.0;
        ImGui::Text("Area (m2): %.2f", area);
        ImGui::Text("Average cloud density (M pts/m2): %.6f", density);
    } else {
        ImGui::TextUnformatted("Area (m2): n/a");
        ImGui::TextUnformatted("Average cloud density (M pts/m2): n/a");
    }
    ImGui::Text("Coarse tile size (m): %.2f", f.in.coarseTileSize);
    ImGui::Text("Preview samples per tile: %d", f.in.previewSamplesPerTile);
    ImGui::Spacing();
    ImGui::Separator();
}

void runRetile(GuiFrame& f) {
    GuiProcessState& proc = f.proc;
    TileCountMap counts;
    TileSampleMap samples;
    std::string error;
    bool ok = false;
    try {
        ok = f.in.retileCallback(proc.retileTileSize, proc.retileSamplesPerTile, counts, samples,
                                 &error);
    } catch (const std::exception& e) {
        ok = false;
        error = exceptionText(e);
    }
    if (!ok) {
        proc.retileMessage = error.empty() ? "Preview retile failed." : error;
        return;
    }
    f.in.coarseTileSize = proc.retileTileSize;
    f.in.previewSamplesPerTile = proc.retileSamplesPerTile;
    f.gui.selectionTileCounts = std::move(counts);
    f.gui.selectionTileSamples = std::move(samples);
    if (PreviewBuildState* build = f.in.buildState) {  // the retile keeps the build's origin
        std::lock_guard<std::mutex> lock(build->mutex);
        f.gui.selectionOrigin = build->liveOrigin;
    }
    f.gui.switchedToSelection = true;
    ++f.gui.mapsVersion;
    f.in.selectedTiles.clear();
    f.in.savedVerticalSelections.clear();
    f.in.savedTopSelections.clear();
    f.gui.heightFilterTiles.clear();
    f.gui.emphasisedTiles.clear();
    proc.heightSelectionMode = false;
    proc.highlightedTopSelection = -1;
    proc.highlightedVerticalSelection = -1;
    proc.retileMessage = "Preview map rebuilt from cache. Previous selections were cleared.";
    // The rest of this frame draws the new grid at the new tile size.
    f.counts = &f.gui.selectionTileCounts;
    f.samples = &f.gui.selectionTileSamples;
    f.bounds = computeTileIndexBounds(f.gui.selectionTileCounts);
}

void drawRetilePanel(GuiFrame& f) {
    GuiProcessState& proc = f.proc;
    ImGui::TextUnformatted("Preview retile from cache");
    if (proc.retileTileSize <= 0.0) proc.retileTileSize = f.in.coarseTileSize;
    ImGui::SetNextItemWidth(180.0f);
    ImGui::InputDouble("New preview tile size (m)", &proc.retileTileSize, 1.0, 5.0, "%.3f");
    probeLastItem("New preview tile size (m)");
    if (proc.retileTileSize <= 0.0) proc.retileTileSize = f.in.coarseTileSize;

    if (proc.retileSamplesPerTile < 1) proc.retileSamplesPerTile = f.in.previewSamplesPerTile;
    ImGui::SetNextItemWidth(180.0f);
    ImGui::InputInt("New preview samples per tile", &proc.retileSamplesPerTile, 100, 500);
    probeLastItem("New preview samples per tile");
    proc.retileSamplesPerTile = acceptedSamplesPerTile(proc.retileSamplesPerTile);

    const int recommended = recommendedPreviewSamplesPerTile(f, proc.retileTileSize);
    sameLineIfFits(buttonWidthFor("Use recommended##retile_preview_samples_per_tile"));
    if (ImGui::Button("Use recommended##retile_preview_samples_per_tile"))
        proc.retileSamplesPerTile = recommended;
    probeLastItem("Use recommended##retile_preview_samples_per_tile");
    ImGui::TextDisabled("Recommended for this tile size: %d samples/tile.", recommended);

    const bool enabled = retileEnabled(
        static_cast<bool>(f.in.retileCallback), proc.retileTileSize, proc.retileSamplesPerTile,
        f.in.coarseTileSize, f.in.previewSamplesPerTile, isExportRunning(f.in.exportStatus));
    ImGui::BeginDisabled(!enabled);
    const bool clicked = ImGui::Button("Rebuild preview map from cache");
    probeLastItem("Rebuild preview map from cache");
    ImGui::EndDisabled();
    if (clicked && enabled) runRetile(f);

    if (!proc.retileMessage.empty()) ImGui::TextWrapped("%s", proc.retileMessage.c_str());
    ImGui::TextDisabled(
        "Retile uses existing preview samples only. Export remains exact because it rereads the "
        "source file.");
    ImGui::TextDisabled("Increasing preview samples per tile requires loading the source again.");
    ImGui::Spacing();
}

}  // namespace

bool retileEnabled(bool hasCallback, double newTileSize, int newSamplesPerTile, double tileSize,
                   int samplesPerTile, bool exportRunning) {
    const bool differs =
        std::abs(newTileSize - tileSize) >= 1e-9 || newSamplesPerTile != samplesPerTile;
    return hasCallback && newTileSize > 0.0 && differs && !exportRunning;
}

void drawInputInformation(GuiFrame& f) {
    if (f.build.streaming) {
        ImGui::TextColored(ImVec4(1.0f, 0.85f, 0.25f, 1.0f),
                           "Real preview is loading in background...");
        ImGui::TextDisabled("The map will be progressively refined with real E57 points.");
        ImGui::Separator();
    }
    drawInputFacts(f);
    drawRetilePanel(f);
}
