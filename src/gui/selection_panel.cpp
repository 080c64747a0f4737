#include "gui/selection_panel.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "gui/export_actions.h"
#include "gui/export_buttons.h"
#include "gui/export_status_view.h"
#include "gui/input_kind.h"
#include "gui/item_probe.h"
#include "gui/layout_fit.h"
#include "gui/output_formats.h"
#include "imgui.h"

namespace {

const TileCountMap& displayedCounts(const GuiFrame& f) {
    static const TileCountMap empty;
    return f.counts ? *f.counts : empty;
}

bool exportReady(const GuiFrame& f) {
    return !f.in.savedVerticalSelections.empty() || !f.in.savedTopSelections.empty();
}

bool validIndex(int i, std::size_t size) { return i >= 0 && static_cast<std::size_t>(i) < size; }

void toggleHighlight(int& highlight, int i) { highlight = highlight == i ? -1 : i; }

// The emphasised set is rebuilt every frame; when it already holds exactly these keys it is
// kept, so a map of 100,000 tiles costs lookups instead of as many node allocations.
template <class Source, class Key>
void assignKeys(TileSet& out, const Source& source, Key key) {
    if (out.size() == source.size() &&
        std::all_of(source.begin(), source.end(),
                    [&](const auto& item) { return out.count(key(item)) != 0; }))
        return;
    out.clear();
    out.reserve(source.size());
    for (const auto& item : source) out.insert(key(item));
}

// Selectable header colours of one saved list.
struct HeaderColours {
    ImU32 normal;
    ImU32 hovered;
    ImU32 active;
};

void pushHeaderColours(const HeaderColours& c) {
    ImGui::PushStyleColor(ImGuiCol_Header, c.normal);
    ImGui::PushStyleColor(ImGuiCol_HeaderHovered, c.hovered);
    ImGui::PushStyleColor(ImGuiCol_HeaderActive, c.active);
}

void drawTileLine(const std::vector<TileIndex>& tiles) {
    if (tiles.empty()) return;
    const std::string text = tileListText(tiles);
    ImGui::TextWrapped("%s", text.c_str());
}

void drawHeightSelection(GuiFrame& f) {
    TileSelectionGuiState& g = f.gui;
    GuiProcessState& p = f.proc;
    TileSet& buffer = f.in.selectedTiles;
    if (!p.heightSelectionMode) {
        ImGui::BeginDisabled(buffer.empty() || !g.haveZRange);
        if (ImGui::Button("Select by height")) {
            p.heightSelectionMode = true;
            g.heightFilterTiles = buffer;
            p.pendingZMin = g.zRangeMin;
            p.pendingZMax = g.zRangeMax;
        }
        probeLastItem("Select by height");
        ImGui::EndDisabled();
        if (!g.haveZRange)
            ImGui::TextDisabled("Height selection unavailable: no Z bounds.");
        else if (buffer.empty())
            ImGui::TextDisabled("Select at least one tile first.");
        return;
    }

    if (ImGui::Button("Back to top view")) {
        p.heightSelectionMode = false;
        g.heightFilterTiles.clear();
    }
    probeLastItem("Back to top view");
    ImGui::Text("Selected tiles for height filter: %d",
                static_cast<int>(g.heightFilterTiles.size()));
    ImGui::Text("Available Z range: %.3f .. %.3f m", g.zRangeMin, g.zRangeMax);
    ImGui::TextUnformatted("Side view rotation:");
    static const char* const rotations[] = {"Front##SideRot", "Right##SideRot", "Back##SideRot",
                                            "Left##SideRot"};
    for (int i = 0; i < 4; ++i) {
        if (i > 0) ImGui::SameLine();
        if (ImGui::RadioButton(rotations[i], p.sideViewRotation == i)) p.sideViewRotation = i;
        probeLastItem(rotations[i]);
    }

    const ImVec2 sliderSize(40.0f, 220.0f);
    ImGui::BeginGroup();
    ImGui::TextUnformatted("Z min");
    ImGui::VSliderScalar("##ZMinV", sliderSize, ImGuiDataType_Double, &p.pendingZMin, &g.zRangeMin,
                         &g.zRangeMax, "%.3f");
    probeLastItem("##ZMinV");
    ImGui::Text("%.3f m", p.pendingZMin);
    ImGui::EndGroup();
    ImGui::SameLine();
    ImGui::BeginGroup();
    ImGui::TextUnformatted("Z max");
    ImGui::VSliderScalar("##ZMaxV", sliderSize, ImGuiDataType_Double, &p.pendingZMax, &g.zRangeMin,
                         &g.zRangeMax, "%.3f");
    probeLastItem("##ZMaxV");
    ImGui::Text("%.3f m", p.pendingZMax);
    ImGui::EndGroup();
    if (p.pendingZMax < p.pendingZMin) std::swap(p.pendingZMin, p.pendingZMax);
    ImGui::Text("Chosen Z range: %.3f .. %.3f m", p.pendingZMin, p.pendingZMax);
}

void drawSavedVerticalSelections(GuiFrame& f) {
    TileSelectionGuiState& g = f.gui;
    GuiProcessState& p = f.proc;
    std::vector<SelectedHeightRange>& saved = f.in.savedVerticalSelections;

    ImGui::TextColored(ImVec4(1.0f, 0.6f, 0.2f, 1.0f), "Saved vertical selections: %d",
                       static_cast<int>(saved.size()));
    ImGui::BeginDisabled(g.heightFilterTiles.empty() || !p.heightSelectionMode);
    if (ImGui::Button("Save vertical view selection")) {
        SelectedHeightRange range;
        range.tiles.assign(g.heightFilterTiles.begin(), g.heightFilterTiles.end());
        range.zMin = p.pendingZMin;
        range.zMax = p.pendingZMax;
        if (!range.tiles.empty()) {
            saved.push_back(std::move(range));
            p.highlightedVerticalSelection = static_cast<int>(saved.size()) - 1;
            p.highlightedTopSelection = -1;
        }
        f.in.selectedTiles.clear();
        g.heightFilterTiles.clear();
        p.heightSelectionMode = false;
    }
    probeLastItem("Save vertical view selection");
    ImGui::EndDisabled();
    ImGui::SameLine();
    if (ImGui::Button("Clear vertical selections")) {
        saved.clear();
        p.highlightedVerticalSelection = -1;
    }
    probeLastItem("Clear vertical selections");

    if (saved.empty()) {
        ImGui::TextDisabled("No saved vertical selections yet.");
        return;
    }
    ImGui::BeginChild("saved_vertical_selections_list", ImVec2(0.0f, 160.0f), true);
    pushHeaderColours(
        {IM_COL32(180, 95, 20, 110), IM_COL32(220, 120, 20, 150), IM_COL32(245, 145, 30, 190)});
    for (std::size_t i = 0; i < saved.size(); ++i) {
        const int index = static_cast<int>(i);
        const SelectedHeightRange& range = saved[i];
        char label[256];
        std::snprintf(label, sizeof label,
                      "#%d  tiles: %d, z: %.2f - %.2f##saved_vertical_top_block_%d", index + 1,
                      static_cast<int>(range.tiles.size()), range.zMin, range.zMax, index);
        if (ImGui::Selectable(label, p.highlightedVerticalSelection == index)) {
            toggleHighlight(p.highlightedVerticalSelection, index);
            p.highlightedTopSelection = -1;
        }
        probeLastItem(label);
        drawTileLine(range.tiles);
        ImGui::Separator();
    }
    ImGui::PopStyleColor(3);
    ImGui::EndChild();
}

void drawSavedTopSelections(GuiFrame& f) {
    GuiProcessState& p = f.proc;
    TileSet& buffer = f.in.selectedTiles;
    std::vector<SavedTileSelection>& saved = f.in.savedTopSelections;
    const bool canSave = !buffer.empty() && !p.heightSelectionMode;

    ImGui::BeginDisabled(!canSave);
    if (ImGui::Button("Save top view selection")) {
        SavedTileSelection selection;
        selection.tiles.assign(buffer.begin(), buffer.end());
        if (!selection.tiles.empty()) {
            saved.push_back(std::move(selection));
            p.highlightedTopSelection = static_cast<int>(saved.size()) - 1;
            p.highlightedVerticalSelection = -1;
        }
        buffer.clear();
    }
    probeLastItem("Save top view selection");
    if (ImGui::Button("Save each selected tile separately")) {
        std::vector<TileIndex> tiles(buffer.begin(), buffer.end());
        std::sort(tiles.begin(), tiles.end(), [](const TileIndex& a, const TileIndex& b) {
            return a.ix != b.ix ? a.ix < b.ix : a.iy < b.iy;
        });
        for (const TileIndex& t : tiles) saved.push_back(SavedTileSelection{{t}});
        if (!tiles.empty()) {
            p.highlightedTopSelection = static_cast<int>(saved.size()) - 1;
            p.highlightedVerticalSelection = -1;
        }
        buffer.clear();
    }
    probeLastItem("Save each selected tile separately");
    ImGui::EndDisabled();
    if (ImGui::Button("Clear top view selections")) {
        saved.clear();
        p.highlightedTopSelection = -1;
    }
    probeLastItem("Clear top view selections");

    ImGui::Spacing();
    ImGui::TextColored(ImVec4(0.35f, 0.65f, 1.0f, 1.0f), "Saved top-view selections: %d",
                       static_cast<int>(saved.size()));
    if (saved.empty()) {
        ImGui::TextUnformatted("No saved tile selections yet.");
        return;
    }
    ImGui::BeginChild("saved_tile_selections_list", ImVec2(0.0f, 120.0f), true);
    pushHeaderColours(
        {IM_COL32(40, 95, 190, 110), IM_COL32(60, 120, 220, 150), IM_COL32(75, 145, 235, 190)});
    for (std::size_t i = 0; i < saved.size(); ++i) {
        const int index = static_cast<int>(i);
        const std::string label = "#" + std::to_string(index + 1) +
                                  "  tiles: " + std::to_string(saved[i].tiles.size()) +
                                  "##saved_top_" + std::to_string(index);
        if (ImGui::Selectable(label.c_str(), p.highlightedTopSelection == index)) {
            toggleHighlight(p.highlightedTopSelection, index);
            p.highlightedVerticalSelection = -1;
        }
        probeLastItem(label.c_str());
        drawTileLine(saved[i].tiles);
        ImGui::Separator();
    }
    ImGui::PopStyleColor(3);
    ImGui::EndChild();
}

void drawExportMode(GuiFrame& f) {
    const bool ready = exportReady(f);
    f.in.exportMode = shownExportMode(ready, f.in.exportMode);
    ImGui::Separator();
    ImGui::TextUnformatted("Export mode:");
    if (ImGui::RadioButton("Single combined output file", f.in.exportMode != 1))
        f.in.exportMode = 0;
    probeLastItem("Single combined output file");
    ImGui::BeginDisabled(!ready);
    if (ImGui::RadioButton("Several output files by saved selections", f.in.exportMode == 1))
        f.in.exportMode = 1;
    probeLastItem("Several output files by saved selections");
    ImGui::EndDisabled();
    if (!ready)
        ImGui::TextDisabled(
            "Several output files require at least one saved vertical or top selection.");
    else
        ImGui::TextDisabled(
            "Several output files are recommended for large scans and lower peak RAM.");
}

void drawBufferButtons(GuiFrame& f) {
    TileSet& buffer = f.in.selectedTiles;
    if (!f.proc.heightSelectionMode) {
        if (ImGui::Button("Select all in top view")) {
            buffer.clear();
            const TileCountMap& counts = displayedCounts(f);
            buffer.reserve(counts.size());
            for (const auto& entry : counts) buffer.insert(entry.first);
        }
        probeLastItem("Select all in top view");
        ImGui::SameLine();
        if (ImGui::Button("Clear all in top view")) buffer.clear();
        probeLastItem("Clear all in top view");
    } else {
        ImGui::BeginDisabled();
        ImGui::Button("Select all");
        probeLastItem("Select all");
        ImGui::SameLine();
        ImGui::Button("Clear top-view buffer");
        probeLastItem("Clear top-view buffer");
        ImGui::EndDisabled();
    }
    ImGui::Separator();
}

void drawExportButtons(GuiFrame& f, const ExportPanelRules& rules, int format, float width) {
    for (int i = 0; i < 3; ++i) {
        const ExportButton& button = rules.buttons[static_cast<std::size_t>(i)];
        const float w = std::max(width, buttonWidthFor(button.label));
        if (i > 0) sameLineIfFits(w);
        ImGui::BeginDisabled(!button.enabled);
        // The guard is read again here: a button earlier in this frame may have acted.
        if (ImGui::Button(button.label, ImVec2(w, 0.0f)) && !f.gui.actionTaken)
            requestExport(f, format, button.exportRGB, button.photoThirdPass, button.startMessage);
        probeLastItem(button.label);
        ImGui::EndDisabled();
    }
}

void drawCloseButton(GuiFrame& f, bool running, float width) {
    ImGui::BeginDisabled(running);
    if (ImGui::Button("Close", ImVec2(width, 0.0f))) f.gui.closeRequested = true;
    probeLastItem("Close");
    ImGui::EndDisabled();
}

}  // namespace

std::string tileListText(const std::vector<TileIndex>& tiles) {
    std::string text;
    text.reserve(tiles.size() * 12);
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        if (i > 0) text += ", ";
        text += '(';
        text += std::to_string(tiles[i].ix);
        text += ',';
        text += std::to_string(tiles[i].iy);
        text += ')';
    }
    return text;
}

OutputEstimate estimateSelectedOutput(const std::vector<SelectedHeightRange>& vertical,
                                      const std::vector<SavedTileSelection>& top,
                                      const TileCountMap& counts, double tileSize) {
    TileSet tiles;
    for (const SavedTileSelection& s : top) tiles.insert(s.tiles.begin(), s.tiles.end());
    for (const SelectedHeightRange& s : vertical) tiles.insert(s.tiles.begin(), s.tiles.end());
    OutputEstimate e;
    e.tiles = tiles.size();
    for (const TileIndex& t : tiles) {
        const auto it = counts.find(t);
        if (it != counts.end()) e.points += it->second;
    }
    e.areaM2 = static_cast<double>(e.tiles) * tileSize * tileSize;
    e.densityMPerM2 = e.areaM2 > 1e-12 ? (static_cast<double>(e.points) / 1e6) / e.areaM2 : 0.0;
    return e;
}

void rebuildEmphasisedTiles(GuiFrame& f) {
    TileSet& out = f.gui.emphasisedTiles;
    const int vertical = f.proc.highlightedVerticalSelection;
    const int top = f.proc.highlightedTopSelection;
    if (!f.gui.heightFilterTiles.empty()) {
        assignKeys(out, f.gui.heightFilterTiles, [](const TileIndex& t) { return t; });
    } else if (validIndex(vertical, f.in.savedVerticalSelections.size())) {
        const auto& tiles = f.in.savedVerticalSelections[static_cast<std::size_t>(vertical)].tiles;
        out = TileSet(tiles.begin(), tiles.end());
    } else if (validIndex(top, f.in.savedTopSelections.size())) {
        const auto& tiles = f.in.savedTopSelections[static_cast<std::size_t>(top)].tiles;
        out = TileSet(tiles.begin(), tiles.end());
    } else if (!f.in.selectedTiles.empty()) {
        assignKeys(out, f.in.selectedTiles, [](const TileIndex& t) { return t; });
    } else if (f.proc.view.verticalTab) {
        assignKeys(out, displayedCounts(f), [](const auto& entry) { return entry.first; });
    } else {
        out.clear();
    }
}

void drawSelectionControls(GuiFrame& f) {
    ImGui::Separator();
    ImGui::Checkbox("Auto window height", &f.proc.autoWindowHeight);
    probeLastItem("Auto window height");
    ImGui::Text("Tiles in map: %d", static_cast<int>(displayedCounts(f).size()));
    ImGui::Text("Current top-view buffer: %d", static_cast<int>(f.in.selectedTiles.size()));
    ImGui::Separator();
    drawHeightSelection(f);
    ImGui::Separator();
    if (f.gui.startupScreen) return;

    drawSavedVerticalSelections(f);
    ImGui::Separator();
    drawSavedTopSelections(f);
    drawExportMode(f);
    ImGui::Separator();
    ImGui::Separator();
    ImGui::TextDisabled("The output is written directly as a new file.");
    ImGui::Spacing();
    drawBufferButtons(f);
}

void drawOutputInformation(GuiFrame& f) {
    const OutputEstimate e =
        estimateSelectedOutput(f.in.savedVerticalSelections, f.in.savedTopSelections,
                               displayedCounts(f), f.in.coarseTileSize);
    ImGui::TextUnformatted("Information about output E57");
    ImGui::Separator();
    ImGui::Text("Selected coarse tiles: %d", static_cast<int>(e.tiles));
    ImGui::Text("Estimated selected points (Millions): %.3f", static_cast<double>(e.points) / 1e6);
    ImGui::Text("Estimated selected area (m2): %.2f", e.areaM2);
    ImGui::Text("Estimated selected density (M pts/m2): %.6f", e.densityMPerM2);
}

void drawExportActions(GuiFrame& f) {
    const std::string path = trimmedText(f.gui.inputPathText);
    const InputKind input = inputKindOf(path);
    const AllowedOutputFormats allowed = allowedOutputFormats(input, f.in.exportMode);
    int& format = f.proc.outputFormatChoice;
    format = correctedOutputFormat(format, allowed);

    ExportPanelFacts facts;
    facts.input = input;
    facts.exportMode = f.in.exportMode;
    facts.outputFormat = format;
    facts.exportReady = exportReady(f);
    facts.actionTaken = f.gui.actionTaken;
    facts.streaming = buildStillReading(f.build);
    facts.preflightMatches = preflightMatchesInput(f.gui.preflight, path);
    facts.photoPassAvailable = photoPassAvailable(f.gui.preflight, path);
    facts.image2DBlocks = f.gui.preflight.image2DBlocks;
    const ExportPanelRules rules = exportPanelRules(facts);

    const float w = ImGui::GetContentRegionAvail().x;
    const float b = (w - 16.0f) / 3.0f;

    ImGui::TextDisabled("%s", rules.readyLine);
    ImGui::TextUnformatted("Output format:");
    static const char* const formatLabels[] = {"E57##final_output_format",
                                               "XYZ ASCII##final_output_format",
                                               "LAS binary##final_output_format"};
    for (int i = 0; i < 3; ++i) {
        if (i > 0) ImGui::SameLine();
        ImGui::BeginDisabled(!allowed.allows(i) || f.gui.actionTaken);
        if (ImGui::RadioButton(formatLabels[i], format == i)) format = i;
        probeLastItem(formatLabels[i]);
        ImGui::EndDisabled();
    }
    if (const char* note = unavailableFormatNote(allowed, f.in.exportMode))
        ImGui::TextDisabled("%s", note);
    if (input == InputKind::Las) {
        ImGui::TextColored(ImVec4(0.35f, 1.0f, 0.35f, 1.0f),
                           "LAS input: LAS binary, XYZ ASCII and E57 export are connected.");
        ImGui::TextDisabled("LAS binary currently copies full selected LAS point records.");
    }

    ImGui::BeginDisabled(!rules.rowEnabled);
    drawExportButtons(f, rules, format, b);
    if (rules.formatNote) ImGui::TextDisabled("%s", rules.formatNote);
    if (rules.firstPhotoNote) ImGui::TextDisabled("%s", rules.firstPhotoNote);
    ImGui::EndDisabled();

    ExportHelperStatus* status = f.in.exportStatus;
    const bool running = isExportRunning(status);
    if (!isExportFinished(status) || isExportFailed(status)) {
        // Three export buttons already fill the row: "Close" goes below when it cannot fit.
        ImGui::SameLine();
        if (ImGui::GetContentRegionAvail().x < b) ImGui::NewLine();
        drawCloseButton(f, running, b);
    } else {
        ImGui::Spacing();
        if (ImGui::Button("Continue with new selection", ImVec2((w - 8.0f) * 0.62f, 0.0f)))
            continueWithNewSelection(f);
        probeLastItem("Continue with new selection");
        ImGui::SameLine();
        drawCloseButton(f, running, (w - 8.0f) * 0.38f);
        ImGui::TextDisabled(
            "Export finished. Continue clears the previous selection but keeps the loaded "
            "preview.");
    }

    if (buildStillReading(f.build)) {
        ImGui::TextColored(ImVec4(1.0f, 0.75f, 0.25f, 1.0f),
                           "Export disabled until FULL READING STAGE is complete.");
        ImGui::TextUnformatted(
            "You can select tiles now. Export will be enabled when the full preview is loaded.");
    }
    if (rules.secondPhotoNote) ImGui::TextDisabled("%s", rules.secondPhotoNote);
}
