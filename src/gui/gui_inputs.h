#pragma once

#include <string>
#include <vector>

#include "app/export_helper_status.h"
#include "app/export_preparation.h"
#include "app/window_callbacks.h"
#include "points/preview/preview_build_session.h"
#include "points/preview/preview_build_state.h"
#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// What the program hands to the window, by reference; the pointers may be null.
// tileCounts / tileSamples are read, never written: the window draws its own copies.
struct GuiInputs {
    const TileCountMap& tileCounts;
    const TileSampleMap& tileSamples;
    double& coarseTileSize;
    int& previewSamplesPerTile;
    TileSet& selectedTiles;  // the top view's buffer
    std::vector<SelectedHeightRange>& savedVerticalSelections;
    std::vector<SavedTileSelection>& savedTopSelections;
    int& exportMode;
    int& previewMode;
    std::string& inputPath;     // written when a load starts
    std::string& outputFolder;  // written when a load starts
    InputCloudInfo* inputInfo = nullptr;
    PreviewBuildState* buildState = nullptr;
    ExportHelperStatus* exportStatus = nullptr;
    StartBuildCallback startBuildCallback;
    StartExportCallback startExportCallback;
    RetileCallback retileCallback;
};
