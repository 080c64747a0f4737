#include "gui/view_panel.h"

#include <algorithm>
#include <cmath>

#include "gui/item_probe.h"
#include "gui/preview_3d.h"
#include "gui/top_view.h"
#include "gui/vertical_view.h"
#include "gui/view_geometry.h"
#include "imgui.h"

namespace {

void insertTiles(TileSet& out, const std::vector<TileIndex>& tiles) {
    out.insert(tiles.begin(), tiles.end());
}

// The tiles the vertical view starts from when none are chosen yet: the buffer, else the
// highlighted saved vertical selection, else the highlighted saved top selection, else all.
void fillHeightFilterTiles(GuiFrame& f) {
    TileSet& out = f.gui.heightFilterTiles;
    if (!f.in.selectedTiles.empty()) {
        out = f.in.selectedTiles;
        return;
    }
    const int v = f.proc.highlightedVerticalSelection;
    if (v >= 0 && static_cast<std::size_t>(v) < f.in.savedVerticalSelections.size() &&
        !f.in.savedVerticalSelections[static_cast<std::size_t>(v)].tiles.empty()) {
        insertTiles(out, f.in.savedVerticalSelections[static_cast<std::size_t>(v)].tiles);
        return;
    }
    const int t = f.proc.highlightedTopSelection;
    if (t >= 0 && static_cast<std::size_t>(t) < f.in.savedTopSelections.size() &&
        !f.in.savedTopSelections[static_cast<std::size_t>(t)].tiles.empty()) {
        insertTiles(out, f.in.savedTopSelections[static_cast<std::size_t>(t)].tiles);
        return;
    }
    if (f.counts)
        for (const auto& [tile, n] : *f.counts) out.insert(tile);
}

void drawTabButtons(GuiFrame& f) {
    ViewSettings& view = f.proc.view;
    if (ImGui::Button("Top view")) {
        view.verticalTab = false;
        view.preview3DTab = false;
    }
    probeLastItem("Top view");
    ImGui::SameLine();
    if (ImGui::Button("Vertical view")) {
        if (f.gui.heightFilterTiles.empty()) fillHeightFilterTiles(f);
        view.verticalTab = true;
        view.preview3DTab = false;
    }
    probeLastItem("Vertical view");
    ImGui::SameLine();
    if (ImGui::Button("3D preview")) {
        view.preview3DTab = true;
        view.verticalTab = false;
    }
    probeLastItem("3D preview");
}

const char* rotationName(int rotation) {
    static const char* const names[] = {"Front (+X)", "Right (+Y)", "Back (-X)", "Left (-Y)"};
    return names[clampedRotation(rotation)];
}

void drawVerticalHeader(GuiFrame& f) {
    ViewSettings& view = f.proc.view;
    ImGui::TextUnformatted("Vertical view");
    ImGui::TextUnformatted("Temporary independent preview mode.");
    ImGui::Text("Selected tiles: %d", static_cast<int>(f.gui.emphasisedTiles.size()));
    if (f.gui.haveZRange)
        ImGui::Text("Available Z range: %.3f .. %.3f m", f.gui.zRangeMin, f.gui.zRangeMax);
    else
        ImGui::TextUnformatted("Available Z range: n/a");
    ImGui::Text("Rotation: %s", rotationName(f.proc.sideViewRotation));
    ImGui::Text("Pending Z range: %.3f .. %.3f m", f.proc.pendingZMin, f.proc.pendingZMax);
    ImGui::Text("Vertical zoom: %.2fx", static_cast<double>(view.verticalZoom));
    if (ImGui::Button("Reset vertical zoom")) view.verticalZoom = 1.0f;
    probeLastItem("Reset vertical zoom");
    ImGui::SameLine();
    if (ImGui::Button("Reset vertical pan")) {
        view.verticalPanX = 0.0f;
        view.verticalPanY = 0.0f;
    }
    probeLastItem("Reset vertical pan");
}

void drawTopSettings(GuiFrame& f) {
    ViewSettings& view = f.proc.view;
    ImGui::SliderFloat("Point ball radius (px)", &view.pointBallRadiusPx, 0.1f, 2.0f, "%.2f");
    probeLastItem("Point ball radius (px)");
    static const char* const styles[] = {"Points", "Visual voxels", "Points + visual voxels"};
    ImGui::Combo("Top view style", &view.topViewStyle, styles, 3);
    probeLastItem("Top view style");
    ImGui::SliderFloat("Visual voxel size (m)", &view.visualVoxelSizeM, 0.1f, 5.0f, "%.2f");
    probeLastItem("Visual voxel size (m)");
    view.visualVoxelSizeM = std::clamp(view.visualVoxelSizeM, 0.05f, 50.0f);
    ImGui::SliderFloat("Scanner marker radius (px)", &view.scannerMarkerRadiusPx, 1.0f, 12.0f,
                       "%.1f");
    probeLastItem("Scanner marker radius (px)");
    ImGui::SliderFloat("Z sensitivity", &view.zSensitivity, 0.2f, 5.0f, "%.2f");
    probeLastItem("Z sensitivity");
    ImGui::SliderScalar("Z center (m)", ImGuiDataType_Double, &view.zCenterM, &f.gui.zRangeMin,
                        &f.gui.zRangeMax, "%.3f");
    probeLastItem("Z center (m)");
    ImGui::SliderFloat("Gap (px)", &f.gui.tileGapPx, 0.0f, 10.0f, "%.0f");
    probeLastItem("Gap (px)");
    ImGui::TextUnformatted(
        "Left drag = orbit | wheel = zoom | middle drag = pan | Ctrl + left click = select "
        "tile.");
    if (ImGui::Button("Auto-fit top view")) view.topViewAutoFit = true;
    probeLastItem("Auto-fit top view");
    ImGui::SameLine();
    if (ImGui::Button("Reset top zoom")) {
        view.topViewAutoFit = false;
        view.topCellSizePx = 22.0f;
    }
    probeLastItem("Reset top zoom");
    ImGui::SameLine();
    if (ImGui::Button("Reset top pan")) {
        view.topPanX = 0.0f;
        view.topPanY = 0.0f;
    }
    probeLastItem("Reset top pan");
    ImGui::TextColored(ImVec4(1.0f, 0.3f, 0.3f, 1.0f), "Red = lower Z");
    ImGui::SameLine();
    ImGui::TextColored(ImVec4(0.3f, 0.5f, 1.0f, 1.0f), "Blue/Violet = higher Z");
    if (!view.topViewAutoFit) {
        ImGui::SliderFloat("Tile cell size (px)", &view.topCellSizePx, 8.0f, 250.0f, "%.0f");
        probeLastItem("Tile cell size (px)");
    }
}

// The shared canvas: the invisible button, the wheel and middle drag of the top and vertical
// tabs, and the active tab's drawing.
void drawCanvas(GuiFrame& f) {
    ViewSettings& view = f.proc.view;
    const ImVec2 p0 = ImGui::GetCursorScreenPos();
    const ImVec2 avail = ImGui::GetContentRegionAvail();
    // The button needs a size above zero.
    const ImVec2 size(std::max(avail.x, 1.0f), std::max(avail.y, 1.0f));
    ImGui::InvisibleButton("canvas", size,
                           ImGuiButtonFlags_MouseButtonLeft | ImGuiButtonFlags_MouseButtonMiddle);
    probeLastItem("canvas");
    const bool hovered = ImGui::IsItemHovered();
    const bool active = ImGui::IsItemActive();
    const CanvasRect canvas{p0.x, p0.y, size.x, size.y};

    if (view.preview3DTab) {
        drawPreview3DCanvas(f, canvas.x, canvas.y, canvas.w, canvas.h, hovered, active);
        return;
    }

    const ImGuiIO& io = ImGui::GetIO();
    const bool top = !view.verticalTab;
    TopViewClick click;
    if (top && hovered && io.KeyCtrl && ImGui::IsMouseClicked(0)) {
        click.pending = true;
        click.x = io.MousePos.x;
        click.y = io.MousePos.y;
    }
    if (hovered && std::fabs(io.MouseWheel) > 0.0001f) {
        const float factor = std::pow(1.15f, io.MouseWheel);
        if (top) {
            const float cell = topViewCellSize(f, canvas);
            view.topViewAutoFit = false;
            view.topCellSizePx = std::clamp(cell * factor, 4.0f, 500.0f);
        } else {
            view.verticalZoom = std::clamp(view.verticalZoom * factor, 0.25f, 25.0f);
        }
    }
    if ((hovered || active) && io.MouseDown[2]) {
        float& panX = top ? view.topPanX : view.verticalPanX;
        float& panY = top ? view.topPanY : view.verticalPanY;
        panX += io.MouseDelta.x;
        panY += io.MouseDelta.y;
    }

    ImDrawList* dl = ImGui::GetWindowDrawList();
    const ImVec2 p1(canvas.x + canvas.w, canvas.y + canvas.h);
    dl->PushClipRect(p0, p1, true);
    dl->AddRectFilled(p0, p1, IM_COL32(18, 18, 18, 255));
    dl->AddRect(p0, p1, IM_COL32(90, 90, 90, 255));
    if (top)
        drawTopView(f, dl, canvas, topViewCellSize(f, canvas), click);
    else
        drawVerticalView(f, dl, canvas);
    dl->PopClipRect();
}

}  // namespace

void drawViewPanel(GuiFrame& f) {
    ViewSettings& view = f.proc.view;
    // Centred once on the input's own heights: on the startup screen the range is still the
    // placeholder 0..1, and a centre taken there would put every height on one side of it.
    if (!view.zCenterSet && !f.gui.startupScreen && f.gui.haveZRange) {
        view.zCenterM = (f.gui.zRangeMin + f.gui.zRangeMax) * 0.5;
        view.zCenterSet = true;
    }
    drawTabButtons(f);
    // The 3D tab colours by the same Z sensitivity and centre, so it keeps these settings too.
    if (view.verticalTab)
        drawVerticalHeader(f);
    else
        drawTopSettings(f);
    ImGui::BeginChild("PreviewRegion", ImVec2(0.0f, 0.0f), true,
                      ImGuiWindowFlags_NoScrollWithMouse | ImGuiWindowFlags_NoScrollbar);
    drawCanvas(f);
    ImGui::EndChild();
}
