#include "gui/preview_3d.h"

#include <algorithm>
#include <cmath>

#include "gui/input_kind.h"
#include "gui/item_probe.h"
#include "gui/layout_fit.h"
#include "gui/preview_3d_projection.h"

namespace {

const TileSampleMap& displayedSamples(const GuiFrame& f) {
    static const TileSampleMap none;
    return f.samples ? *f.samples : none;
}

// The tiles of the highlighted saved selection (vertical first), or none.
void fillHighlightSet(const GuiFrame& f, TileSet& out) {
    out.clear();
    const int v = f.proc.highlightedVerticalSelection;
    const int t = f.proc.highlightedTopSelection;
    if (v >= 0 && static_cast<std::size_t>(v) < f.in.savedVerticalSelections.size()) {
        const auto& tiles = f.in.savedVerticalSelections[static_cast<std::size_t>(v)].tiles;
        out.insert(tiles.begin(), tiles.end());
    } else if (t >= 0 && static_cast<std::size_t>(t) < f.in.savedTopSelections.size()) {
        const auto& tiles = f.in.savedTopSelections[static_cast<std::size_t>(t)].tiles;
        out.insert(tiles.begin(), tiles.end());
    }
}

// Measured from the samples' origin, as the samples are.
void fillScanners(const GuiFrame& f, std::vector<std::array<float, 3>>& out) {
    out.clear();
    if (!f.proc.view3D.showScanners) return;
    const SampleOrigin origin = displayedOrigin(f);
    if (!preflightMatchesInput(f.gui.preflight, trimmedText(f.gui.inputPathText))) return;
    for (const E57ScanSummary& s : f.gui.preflight.scans) {
        out.push_back({static_cast<float>(s.translationX - origin.x),
                       static_cast<float>(s.translationY - origin.y),
                       static_cast<float>(s.translationZ - origin.z)});
    }
}

void setView(Preview3DSettings& s, float yaw, float pitch) {
    s.yawDeg = yaw;
    s.pitchDeg = pitch;
}

}  // namespace

void drawPreview3DCanvas(GuiFrame& f, float x, float y, float w, float h, bool hovered,
                         bool active) {
    Preview3DSettings& s = f.proc.view3D;
    const ImGuiIO& io = ImGui::GetIO();
    const bool click = hovered && io.KeyCtrl && ImGui::IsMouseClicked(ImGuiMouseButton_Left);
    if (hovered && std::fabs(io.MouseWheel) > 0.0001f) zoomPreview3D(s, io.MouseWheel);
    if ((hovered || active) && ImGui::IsMouseDown(ImGuiMouseButton_Middle)) {
        s.panX += io.MouseDelta.x;
        s.panY += io.MouseDelta.y;
    }
    if ((hovered || active) && ImGui::IsMouseDown(ImGuiMouseButton_Left) && !io.KeyCtrl) {
        orbitPreview3D(s, io.MouseDelta.x, io.MouseDelta.y);
    }

    // Kept between frames so their storage is reused.
    static TileSet highlight;
    static std::vector<std::array<float, 3>> scanners;
    fillHighlightSet(f, highlight);
    fillScanners(f, scanners);

    const bool toggled = drawPreview3D(
        ImGui::GetWindowDrawList(), ImVec2(x, y), ImVec2(w, h), displayedSamples(f),
        f.in.selectedTiles, highlight, f.gui.zRangeMin, f.gui.zRangeMax, f.in.coarseTileSize,
        s.zoom, ImVec2(s.panX, s.panY), click, io.MousePos, s.yawDeg, s.pitchDeg, s.pointSize,
        s.colorMode, f.proc.view.zSensitivity, f.proc.view.zCenterM, s.style, s.voxelSizeM,
        scanners, s.showScanners, s.showGuides, s.scannerMarkerSize, s.guideLineWidth, nullptr,
        displayedOrigin(f));
    if (toggled) {
        f.proc.highlightedVerticalSelection = -1;
        f.proc.highlightedTopSelection = -1;
    }
}

void drawPreview3DSettings(GuiFrame& f) {
    Preview3DSettings& s = f.proc.view3D;
    ImGui::TextUnformatted("3D preview");
    ImGui::TextUnformatted("Sampled-cloud view. Ctrl + left click on a ground tile selects it.");
    ImGui::Text("Cached preview samples: %.3f M",
                static_cast<double>(countCachedSamples(displayedSamples(f))) / 1000000.0);
    if (f.in.selectedTiles.empty()) {
        ImGui::TextUnformatted("No top-view tiles selected: drawing all cached samples.");
    } else {
        ImGui::Text("Selected top-view tiles highlighted: %d",
                    static_cast<int>(f.in.selectedTiles.size()));
    }

    ImGui::Separator();
    static const char* const labels[] = {"Orbit speed",
                                         "Point size",
                                         "3D style",
                                         "3D visual voxel size (m)",
                                         "3D scanner marker size (px)",
                                         "3D guide line width (px)",
                                         "Color mode"};
    pushItemWidthForLabels(labels);
    ImGui::TextUnformatted("3D camera angles");
    ImGui::Text("3D angles: yaw %.1f deg | pitch %.1f deg", s.yawDeg, s.pitchDeg);
    ImGui::SliderFloat("Orbit speed", &s.orbitSpeed, 0.05f, 1.5f, "%.2f deg/px");
    probeLastItem("Orbit speed");
    ImGui::SliderFloat("Point size", &s.pointSize, 0.25f, 4.0f, "%.2f");
    probeLastItem("Point size");
    static const char* const styles[] = {"Points", "Visual voxels", "Points + visual voxels"};
    ImGui::Combo("3D style", &s.style, styles, 3);
    probeLastItem("3D style");
    ImGui::SliderFloat("3D visual voxel size (m)", &s.voxelSizeM, 0.001f, 0.1f, "%.3f");
    probeLastItem("3D visual voxel size (m)");
    s.voxelSizeM = std::clamp(s.voxelSizeM, 0.001f, 0.1f);

    ImGui::Checkbox("Show scanner positions in 3D", &s.showScanners);
    probeLastItem("Show scanner positions in 3D");
    sameLineIfFits(checkboxWidthFor("Show selected tile vertical guides"));
    ImGui::Checkbox("Show selected tile vertical guides", &s.showGuides);
    probeLastItem("Show selected tile vertical guides");
    ImGui::SliderFloat("3D scanner marker size (px)", &s.scannerMarkerSize, 2.0f, 14.0f, "%.1f");
    probeLastItem("3D scanner marker size (px)");
    ImGui::SliderFloat("3D guide line width (px)", &s.guideLineWidth, 0.25f, 2.0f, "%.2f");
    probeLastItem("3D guide line width (px)");

    ImGui::Text("3D zoom: %.2fx", s.zoom);
    ImGui::TextUnformatted("Mouse wheel = zoom | middle mouse drag = pan.");
    static const char* const modes[] = {"Height Z", "Selection highlight", "Monochrome"};
    ImGui::Combo("Color mode", &s.colorMode, modes, 3);
    probeLastItem("Color mode");
    ImGui::PopItemWidth();

    if (ImGui::Button("Top-like")) setView(s, 0.0f, 0.0f);
    probeLastItem("Top-like");
    ImGui::SameLine();
    if (ImGui::Button("Front")) setView(s, 0.0f, 89.0f);
    probeLastItem("Front");
    ImGui::SameLine();
    if (ImGui::Button("Right")) setView(s, 90.0f, 89.0f);
    probeLastItem("Right");
    ImGui::SameLine();
    if (ImGui::Button("Reset 3D view")) resetPreview3DView(s);
    probeLastItem("Reset 3D view");
}
