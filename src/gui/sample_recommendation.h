#pragma once

#include <string>

#include "gui/gui_frame.h"
#include "points/input/e57_preflight.h"
#include "points/preview/preview_build_session.h"

// The preview samples per tile offered to the user. With usable XY bounds and a positive tile
// size it is the retile entry clamped to the build's range; otherwise it follows the total
// point count (preflight first, then the cloud info).
int recommendedPreviewSamplesPerTile(double tileSize, const E57PreflightAnalysis& preflight,
                                     const InputCloudInfo* info, int retileSamplesPerTile);
int recommendedPreviewSamplesPerTile(const GuiFrame& f, double tileSize);
int recommendedPreviewSamplesPerTileForCurrent(const GuiFrame& f);

// Which reader the reading stage will use, as far as the preflight of this input tells.
std::string readerMethodNote(const char* inputPathText, const E57PreflightAnalysis& preflight);
