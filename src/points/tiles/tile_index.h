#pragma once

#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Key of a square coarse tile: floor(x / size), floor(y / size).
struct TileIndex {
    std::int64_t ix = 0;
    std::int64_t iy = 0;
    friend bool operator==(const TileIndex&, const TileIndex&) = default;
};

struct TileIndexHash {
    std::size_t operator()(const TileIndex& t) const noexcept {
        const std::uint64_t h = static_cast<std::uint64_t>(t.ix) * 0x9e3779b97f4a7c15ULL;
        return static_cast<std::size_t>(
            h ^ (static_cast<std::uint64_t>(t.iy) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2)));
    }
};

// One preview sample; keeps z despite the name (the side and 3D views use it).
struct Sample2D {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

using TileSet = std::unordered_set<TileIndex, TileIndexHash>;
using TileCountMap = std::unordered_map<TileIndex, std::uint64_t, TileIndexHash>;
using TileSampleMap = std::unordered_map<TileIndex, std::vector<Sample2D>, TileIndexHash>;

// The caller guarantees finite x, y and a positive tile size.
inline TileIndex tileIndexFor(double x, double y, double tileSize) {
    return TileIndex{static_cast<std::int64_t>(std::floor(x / tileSize)),
                     static_cast<std::int64_t>(std::floor(y / tileSize))};
}

// Like tileIndexFor, but false (out untouched) when a quotient has no i64 floor: a
// non-finite coordinate, a zero size, or a coordinate so far out that the conversion
// would be undefined.
inline bool tryTileIndexFor(double x, double y, double tileSize, TileIndex& out) {
    const double fx = std::floor(x / tileSize);
    const double fy = std::floor(y / tileSize);
    constexpr double lo = -9223372036854775808.0;  // -2^63
    constexpr double hi = 9223372036854775808.0;   // 2^63, first value out of range
    if (!(fx >= lo && fx < hi && fy >= lo && fy < hi)) return false;
    out = TileIndex{static_cast<std::int64_t>(fx), static_cast<std::int64_t>(fy)};
    return true;
}
