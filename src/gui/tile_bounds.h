#pragma once

#include <cstdint>

#include "points/tiles/tile_index.h"

// The tile-index rectangle of a count map; all four 0 for an empty map.
struct TileIndexBounds {
    std::int64_t minX = 0;
    std::int64_t maxX = 0;
    std::int64_t minY = 0;
    std::int64_t maxY = 0;
    std::int64_t cols() const { return maxX - minX + 1; }
    std::int64_t rows() const { return maxY - minY + 1; }
};

TileIndexBounds computeTileIndexBounds(const TileCountMap& counts);

// Samples in all tiles of the map.
std::uint64_t countCachedSamples(const TileSampleMap& samples);
