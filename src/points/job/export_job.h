#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

enum class ExportMode : std::int32_t {
    single_combined = 0,
    split_by_all_saved_selections = 1,
    split_by_saved_vertical_selections = 2,
    split_by_saved_top_selections = 3,
};

enum class OutputFormat : std::int32_t { E57 = 0, XYZ = 1, LAS = 2 };

enum class ExportContent : std::int32_t { Xyz = 0, XyzRgb = 1, XyzRgbPhotos = 2 };

// Everything the export helper process needs; crosses the process boundary as the job file.
// The enumerations are held as plain i32, as the job file stores them; its reader refuses values
// outside them.
struct ExportJob {
    std::string inputE57Path;   // E57, XYZ or LAS despite the name
    std::string outputE57Path;  // whatever the output format
    double coarseTileSize = 1.0;
    std::uint64_t inputTotalPoints = 0;
    std::uint64_t estimatedPointsToFilter = 0;
    double outputAreaM2 = 0.0;
    std::int32_t exportMode = 0;
    bool hasGlobalZBounds = false;
    double globalMinZ = 0.0;
    double globalMaxZ = 0.0;
    std::int32_t outputFormat = 0;
    std::int32_t exportContent = 1;
    bool enablePhotoThirdPass = false;
    bool exportRGB = true;
    TileSet selectedCoarseTiles;
    std::vector<SelectedHeightRange> selectedHeightRanges;
    std::vector<SavedTileSelection> savedTileSelections;
    TileCountMap selectedCoarseTileCounts;
};
