#pragma once

#include <string>

#include "points/preview/preview_build_session.h"
#include "points/tiles/tile_index.h"

// The retile behind the GUI's retile panel: regroups the cache into the caller's maps, then
// makes them the build's maps and the live maps and stores the clamped samples per tile.
// On failure nothing of the program state changes. Runs on the GUI thread after the build
// has reported ready.
bool retilePreviewSessionCache(PreviewBuildSession& state, double newTileSize,
                               int newSamplesPerTile, TileCountMap& tileCounts,
                               TileSampleMap& tileSamples, std::string* error);
