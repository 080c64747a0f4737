#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "gui/gui_frame.h"
#include "imgui.h"
#include "points/tiles/tile_index.h"

// What one drawPreview3D call drew.
struct Preview3DDrawStats {
    std::uint64_t finiteSamples = 0;
    std::uint64_t points = 0;
    std::uint64_t voxels = 0;
};

// The sampled cloud as an orbit view in the canvas at pos (size in pixels). With click set,
// Ctrl + left click at mouse toggles the ground tile under it in the selection buffer; true
// when it did. The samples and the scanner positions (x, y, z each) are measured from origin;
// zMin, zMax and zCenter are heights.
bool drawPreview3D(ImDrawList* drawList, ImVec2 canvasPos, ImVec2 canvasSize,
                   const TileSampleMap& samples, TileSet& selection, const TileSet& highlight,
                   double zMin, double zMax, double tileSize, float zoom, ImVec2 pan, bool click,
                   ImVec2 mouse, float yawDeg, float pitchDeg, float pointSize, int colorMode,
                   float zSensitivity, double zCenter, int style, float voxelSize,
                   const std::vector<std::array<float, 3>>& scanners, bool showScanners,
                   bool showGuides, float markerSize, float guideWidth,
                   Preview3DDrawStats* stats = nullptr, const SampleOrigin& origin = {});

// The left panel's "3D preview" settings block, drawn while the 3D tab is active.
void drawPreview3DSettings(GuiFrame& f);
// The 3D tab's canvas at (x, y) of size w x h, with its mouse handling; the canvas's invisible
// button has just been drawn (hovered / active are its states).
void drawPreview3DCanvas(GuiFrame& f, float x, float y, float w, float h, bool hovered,
                         bool active);
