#include "gui/tile_bounds.h"

#include <algorithm>
#include <limits>

TileIndexBounds computeTileIndexBounds(const TileCountMap& counts) {
    if (counts.empty()) return {};
    TileIndexBounds b{
        std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min(),
        std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()};
    for (const auto& [tile, count] : counts) {
        b.minX = std::min(b.minX, tile.ix);
        b.maxX = std::max(b.maxX, tile.ix);
        b.minY = std::min(b.minY, tile.iy);
        b.maxY = std::max(b.maxY, tile.iy);
    }
    return b;
}

std::uint64_t countCachedSamples(const TileSampleMap& samples) {
    std::uint64_t n = 0;
    for (const auto& [tile, list] : samples) n += list.size();
    return n;
}
