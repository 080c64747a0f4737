#pragma once

#include <string>
#include <vector>

#include "gui/gui_inputs.h"

// The whole interactive window. Returns true when an export was requested and not followed
// by "Continue with new selection". Returns false at once when the window or its OpenGL
// context cannot be made; windowError (when given) then says why, and is left empty otherwise.
bool runTileSelectionGui(const TileCountMap& tileCounts, const TileSampleMap& tileSamples,
                         double& coarseTileSize, int& previewSamplesPerTile, TileSet& selectedTiles,
                         std::vector<SelectedHeightRange>& savedVerticalSelections,
                         std::vector<SavedTileSelection>& savedTopSelections, int& exportMode,
                         int& previewMode, std::string& inputPath, std::string& outputFolder,
                         InputCloudInfo* inputInfo, PreviewBuildState* buildState,
                         ExportHelperStatus* exportStatus, StartBuildCallback startBuildCallback,
                         StartExportCallback startExportCallback, RetileCallback retileCallback,
                         std::string* windowError = nullptr);
