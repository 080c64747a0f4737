#pragma once

#include <vector>

#include "points/tiles/tile_index.h"

// A saved top-view selection: tiles in stored order, duplicates kept.
struct SavedTileSelection {
    std::vector<TileIndex> tiles;
};

// A saved vertical selection. The Z pair is stored as given and may be reversed;
// every consumer orders it.
struct SelectedHeightRange {
    std::vector<TileIndex> tiles;
    double zMin = 0.0;
    double zMax = 0.0;
};
