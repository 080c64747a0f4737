#include "gui/startup_panel.h"

#include <algorithm>
#include <cstring>

#include "gui/export_status_view.h"
#include "gui/input_kind.h"
#include "gui/item_probe.h"
#include "gui/layout_fit.h"
#include "gui/load_gating.h"
#include "gui/preflight_panel.h"
#include "gui/sample_recommendation.h"
#include "gui/tile_bounds.h"
#include "imgui.h"
#include "points/preview/preview_build_session.h"
#include "points/preview/preview_build_state.h"
#include "points/tiles/preview_tiles.h"

namespace {

StartupBrowseHooks browseHooks;

const ImVec4 kRed(1.0f, 0.35f, 0.35f, 1.0f);
const ImVec4 kYellow(1.0f, 0.85f, 0.25f, 1.0f);

void browseInto(bool (*browse)(std::string&), char* buffer) {
    if (!browse) return;
    std::string path;
    if (browse(path)) copyToTextBuffer(buffer, path, kGuiTextBufferSize);
}

void drawPathField(const char* fieldLabel, char* buffer, const char* browseLabel,
                   bool (*browse)(std::string&)) {
    ImGui::SetNextItemWidth(ImGui::GetContentRegionAvail().x - 110.0f);
    ImGui::InputText(fieldLabel, buffer, kGuiTextBufferSize);
    probeLastItem(fieldLabel);
    ImGui::SameLine();
    if (ImGui::Button(browseLabel, ImVec2(100.0f, 0.0f))) browseInto(browse, buffer);
    probeLastItem(browseLabel);
}

void drawInputTypeBlock(GuiFrame& f) {
    switch (inputKindOf(f.gui.inputPathText)) {
        case InputKind::E57: {
            PreflightPanelContext context{f.gui.inputPathText, f.gui.preflight,
                                          f.gui.preflightBusy};
            drawE57PreflightPanel(context, "startup", true);
            ImGui::Spacing();
            ImGui::TextUnformatted("E57 preview mode");
            ImGui::TextDisabled(
                "Quick preview uses E57 metadata bounds. Exact preview reads the point stream.");
            break;
        }
        case InputKind::Xyz:
            ImGui::TextDisabled("XYZ input: no E57 header / XML metadata preview.");
            ImGui::TextDisabled("Supported ASCII variants:");
            ImGui::TextDisabled("  X Y Z");
            ImGui::TextDisabled("  X Y Z R G B");
            ImGui::TextDisabled("  X Y Z I");
            ImGui::TextDisabled("  X Y Z R G B I");
            break;
        case InputKind::Las:
            ImGui::TextColored(ImVec4(0.35f, 1.0f, 0.25f, 1.0f),
                               "LAS input recognized. Streaming preview reader is connected.");
            ImGui::TextDisabled("Export from LAS: LAS binary, XYZ ASCII and E57 output.");
            break;
        case InputKind::Laz:
            ImGui::TextColored(kYellow, "LAZ input recognized.");
            ImGui::TextDisabled("LAZ reader is not connected yet.");
            ImGui::TextDisabled("LAZ will be investigated after LAS preview/export.");
            break;
        case InputKind::Ptx:
            ImGui::TextColored(kYellow, "PTX input recognized.");
            ImGui::TextDisabled("Reader is not connected yet.");
            ImGui::TextDisabled("Next step: Phase 9B — add PTX route through PDAL PointReader.");
            break;
        case InputKind::Unknown:
            ImGui::TextDisabled("Supported input files: .e57, .xyz, .las, .laz, .ptx");
            break;
    }
    ImGui::Separator();
}

void drawBuildStatus(const GuiFrame& f) {
    ImGui::TextUnformatted("Background build status");
    ImGui::Separator();
    if (f.build.failed) {
        ImGui::TextColored(kRed, "Status: FAILED");
        if (!f.build.failureMessage.empty())
            ImGui::TextWrapped("Error: %s", f.build.failureMessage.c_str());
    } else if (f.build.ready) {
        ImGui::TextColored(ImVec4(0.35f, 1.0f, 0.45f, 1.0f), "Status: DONE");
    } else if (f.build.running) {
        ImGui::TextColored(kYellow, "Status: BUILDING...");
    } else {
        ImGui::TextDisabled("Status: waiting...");
    }
    ImGui::Spacing();
    const unsigned long long tiles = f.counts ? f.counts->size() : 0;
    const unsigned long long samples = f.samples ? countCachedSamples(*f.samples) : 0;
    ImGui::Text("Processed points: %.3f M", static_cast<double>(f.build.pointsRead) / 1e6);
    ImGui::Text("Preview tiles loaded: %llu", tiles);
    ImGui::Text("Preview sample points shown: %llu", samples);
    ImGui::Separator();
    ImGui::Text("Live preview tiles: %llu", tiles);
    ImGui::TextDisabled("Live startup preview uses tile counts only.");
    ImGui::TextWrapped("The preview map below is updated while the E57 file is being read.");
    ImGui::Separator();
}

enum class LoadChoice { Progressive, Exact, File };

void startLoad(GuiFrame& f, LoadChoice choice) {
    if (f.gui.actionTaken) return;
    // Trimmed as the gating and the preflight read them: "scan.e57 " loads scan.e57.
    f.in.inputPath = trimmedText(f.gui.inputPathText);
    f.in.outputFolder = trimmedText(f.gui.outputFolderText);
    if (choice == LoadChoice::Progressive) f.in.previewMode = QUICK_THEN_EXACT_BACKGROUND;
    if (choice == LoadChoice::Exact) f.in.previewMode = EXACT_POINT_STREAM;
    f.gui.loadStarted = true;
    f.gui.actionTaken = true;
    f.gui.closeRequested = false;
    if (f.in.startBuildCallback) f.in.startBuildCallback(choice == LoadChoice::Progressive ? 1 : 0);
}

void loadButton(GuiFrame& f, const char* label, float width, LoadChoice choice) {
    if (ImGui::Button(label, ImVec2(width, 0.0f))) startLoad(f, choice);
    probeLastItem(label);
}

void closeButton(GuiFrame& f, float width) {
    ImGui::BeginDisabled(isExportRunning(f.in.exportStatus));
    if (ImGui::Button("Close", ImVec2(width, 0.0f))) f.gui.closeRequested = true;
    probeLastItem("Close");
    ImGui::EndDisabled();
}

}  // namespace

void setStartupBrowseHooks(const StartupBrowseHooks& hooks) { browseHooks = hooks; }

double acceptedStartupTileSize(double tileSize) { return tileSize <= 0.0 ? 1.0 : tileSize; }

int acceptedSamplesPerTile(int samplesPerTile) {
    return std::clamp(samplesPerTile, PreviewBuildSession::kMinSamplesPerTile,
                      PreviewBuildSession::kMaxSamplesPerTile);
}

void drawStartupConfiguration(GuiFrame& f) {
    ImGui::TextUnformatted("Startup configuration");
    ImGui::Separator();
    ImGui::TextWrapped(
        "Set the input scan, output folder and preview grid size before the preview scan "
        "starts.");
    ImGui::Spacing();

    ImGui::TextUnformatted("Input point-cloud path");
    drawPathField("##input_e57_path", f.gui.inputPathText, "Browse##input_e57",
                  browseHooks.browseInput);
    ImGui::Spacing();
    ImGui::TextUnformatted("Output folder");
    drawPathField("##output_dir", f.gui.outputFolderText, "Browse##output_dir",
                  browseHooks.browseOutput);

    ImGui::Spacing();
    ImGui::TextUnformatted("Coarse tile size (m)");
    ImGui::SetNextItemWidth(220.0f);
    ImGui::InputDouble("##coarse_tile_size_m", &f.in.coarseTileSize, 1.0, 5.0, "%.3f");
    probeLastItem("##coarse_tile_size_m");
    // Written only when it changes: once a load has started the build thread reads it.
    if (const double accepted = acceptedStartupTileSize(f.in.coarseTileSize);
        accepted != f.in.coarseTileSize)
        f.in.coarseTileSize = accepted;

    ImGui::Spacing();
    const int recommended = recommendedPreviewSamplesPerTileForCurrent(f);
    ImGui::TextUnformatted("Preview samples per tile");
    ImGui::SetNextItemWidth(120.0f);
    ImGui::InputInt("##preview_samples_per_tile", &f.in.previewSamplesPerTile, 100, 500);
    probeLastItem("##preview_samples_per_tile");
    if (const int accepted = acceptedSamplesPerTile(f.in.previewSamplesPerTile);
        accepted != f.in.previewSamplesPerTile)
        f.in.previewSamplesPerTile = accepted;
    sameLineIfFits(buttonWidthFor("Use recommended##preview_samples_per_tile"));
    if (ImGui::Button("Use recommended##preview_samples_per_tile"))
        f.in.previewSamplesPerTile = recommended;
    probeLastItem("Use recommended##preview_samples_per_tile");
    ImGui::TextDisabled(
        "Recommended: %d. Uses XY bounds + tile size when available; otherwise XML/preflight "
        "total points.",
        recommended);
    ImGui::TextDisabled(
        "Preview samples per tile range: %d .. %d. Global hard cap: %.1f M samples.",
        PreviewBuildSession::kMinSamplesPerTile, PreviewBuildSession::kMaxSamplesPerTile,
        static_cast<double>(globalPreviewSampleCap) / 1e6);
    ImGui::Separator();

    drawInputTypeBlock(f);

    if (!f.gui.loadStarted) {
        ImGui::TextUnformatted("No scan loaded yet.");
        ImGui::TextWrapped("%s", readerMethodNote(f.gui.inputPathText, f.gui.preflight).c_str());
        ImGui::TextUnformatted("The preview map will appear after the build starts.");
        ImGui::Separator();
    } else {
        drawBuildStatus(f);
    }
}

void drawStartupActions(GuiFrame& f) {
    TileSelectionGuiState& gui = f.gui;
    const double tileSize = f.in.coarseTileSize;
    ImGui::TextDisabled(
        "%s",
        loadGatingLine(tileSize, gui.inputPathText, gui.outputFolderText, gui.preflight).c_str());
    const bool enabled =
        isLoadReady(tileSize, gui.inputPathText, gui.outputFolderText, gui.preflight) &&
        !gui.actionTaken;
    const float w = ImGui::GetContentRegionAvail().x;
    if (inputKindOf(trimmedText(gui.inputPathText)) == InputKind::E57) {
        const float width = (w - 16.0f) / 3.0f;
        ImGui::BeginDisabled(!enabled);
        loadButton(f, "Progressive preview##startup_fast_load_button", width,
                   LoadChoice::Progressive);
        ImGui::SameLine();
        loadButton(f, "Exact preview##startup_regular_load_button", width, LoadChoice::Exact);
        ImGui::EndDisabled();
        ImGui::SameLine();
        closeButton(f, width);
    } else {
        const float width = (w - 8.0f) * 0.5f;
        ImGui::BeginDisabled(!enabled);
        loadButton(f, "Load file", width, LoadChoice::File);
        ImGui::EndDisabled();
        ImGui::SameLine();
        closeButton(f, width);
    }
}
