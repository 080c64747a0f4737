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

// One preview sample; keeps z despite the name (the side and 3D views use it). Measured from
// its build's SampleOrigin: single precision keeps a millimetre only within some 16 km.
struct Sample2D {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    friend bool operator==(const Sample2D&, const Sample2D&) = default;
};

// Where a build's samples are measured from; a sample's point is origin + offset, in double.
struct SampleOrigin {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    friend bool operator==(const SampleOrigin&, const SampleOrigin&) = default;
};

// The origin of a build as its accumulators fill it: chosen at the first point with a tile
// and then kept.
struct PreviewSampleOrigin {
    SampleOrigin at;
    bool chosen = false;
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

// The origin taken at a build's first point with a tile: that tile's corner and the floor of
// the point's height, so that offsets stay small and tile edges fall on whole offsets.
inline SampleOrigin sampleOriginAt(const TileIndex& tile, double z, double tileSize) {
    return SampleOrigin{static_cast<double>(tile.ix) * tileSize,
                        static_cast<double>(tile.iy) * tileSize, std::floor(z)};
}

// A sample of the point (x, y, z) from the origin.
inline Sample2D sampleFrom(const SampleOrigin& o, double x, double y, double z) {
    return Sample2D{static_cast<float>(x - o.x), static_cast<float>(y - o.y),
                    static_cast<float>(z - o.z)};
}
