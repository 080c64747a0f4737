#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "points/tile_index.h"

struct ProgramState;

// Every preview sample of the finished build in one flat list, so that the map can be
// regrouped at another tile size without reading the source again.
struct PreviewSessionCache {
    std::vector<Sample2D> samples;  // tile after tile, in the build map's iteration order
    bool ready = false;             // samples is not empty
    double sourceTileSize = 0.0;
    std::uint64_t sourceTiles = 0;
};

void clearPreviewSessionCache(PreviewSessionCache& cache);

void buildPreviewSessionCache(PreviewSessionCache& cache, const TileSampleMap& tileSamples,
                              double tileSize);

// Regroups the cached samples into tiles of a new size; counts become samples per tile.
// Deterministic: the same cache and arguments always give the same maps. Leaves both maps
// empty when the cache is not ready or the size is not positive.
void retilePreview(const PreviewSessionCache& cache, double tileSize, int samplesPerTile,
                   TileCountMap& tileCounts, TileSampleMap& tileSamples);

// The retile behind the GUI's retile panel: regroups the cache into the caller's maps, then
// makes them the build's maps and the live maps and stores the clamped samples per tile.
// On failure nothing of the program state changes. Runs on the GUI thread after the build
// has reported ready.
bool retilePreviewSessionCache(ProgramState& state, double newTileSize, int newSamplesPerTile,
                               TileCountMap& tileCounts, TileSampleMap& tileSamples,
                               std::string* error);
