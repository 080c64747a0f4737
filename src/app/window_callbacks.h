#pragma once

#include <functional>
#include <string>

#include "points/tiles/tile_index.h"

// What the window calls back into the program: the load buttons start the preview build,
// the retile panel regroups the cached samples. (The export buttons' callback is
// StartExportCallback, next to the export preparation.)
using StartBuildCallback = std::function<void(int previewMode)>;
using RetileCallback =
    std::function<bool(double newTileSize, int newSamplesPerTile, TileCountMap& tileCounts,
                       TileSampleMap& tileSamples, std::string* error)>;
