#pragma once

#include <cstdint>
#include <vector>

#include "points/tiles/tile_index.h"

// Every preview sample of the finished build in one flat list, so that the map can be
// regrouped at another tile size without reading the source again.
struct PreviewSessionCache {
    std::vector<Sample2D> samples;  // tile after tile, in the build map's iteration order
    bool ready = false;             // samples is not empty
    double sourceTileSize = 0.0;
    std::uint64_t sourceTiles = 0;
    SampleOrigin origin;  // the build's: a sample's point is origin + sample, in double
    // The build's tile of each run of samples and where the run ends: at the build's own size
    // a sample keeps its tile even where its single-precision offset rounds onto an edge.
    std::vector<TileIndex> sourceTileOfRun;
    std::vector<std::size_t> sourceRunEnd;
};

void clearPreviewSessionCache(PreviewSessionCache& cache);

void buildPreviewSessionCache(PreviewSessionCache& cache, const TileSampleMap& tileSamples,
                              double tileSize, const SampleOrigin& origin = {});

// Regroups the cached samples into tiles of a new size; counts become samples per tile.
// Deterministic: the same cache and arguments always give the same maps. Leaves both maps
// empty when the cache is not ready or the size is not positive.
void retilePreview(const PreviewSessionCache& cache, double tileSize, int samplesPerTile,
                   TileCountMap& tileCounts, TileSampleMap& tileSamples);
