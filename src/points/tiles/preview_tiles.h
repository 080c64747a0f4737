#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "points/input/cloud_point.h"
#include "points/tiles/mersenne_twister_64.h"
#include "points/tiles/tile_index.h"

// Samples offered to each tile on the sampled path (1 per sampled line or record); drives the
// reservoir draw there.
using TileOfferMap = std::unordered_map<TileIndex, std::uint64_t, TileIndexHash>;

// Most samples all tiles hold together while samples are still appended.
inline constexpr std::uint64_t globalPreviewSampleCap = 2000000;

// Per-tile sample cap: the request clamped to 4..5000, lowered so that all current tiles
// together stay within the global cap, never below 1.
std::uint64_t sampleCapPerTile(int requestedSamplesPerTile, const TileCountMap& tileCounts);

// Minima to the largest finite double, maxima to its negative: min > max until a point widens.
void resetBounds(double& minX, double& maxX, double& minY, double& maxY, double& minZ,
                 double& maxZ);

// One sampled XYZ line or LAS record. False, changing nothing, when the tile size is not
// positive, a coordinate is not finite, or the point has no representable tile. Samples are
// kept from `origin` (chosen at the first point with a tile), or absolute without one.
bool accumulatePreviewPoint(const CloudPoint& point, double tileSize, bool withSamples,
                            std::uint64_t cap, std::uint64_t globalCap,
                            std::uint64_t& acceptedCounter, std::uint64_t& globalSamples,
                            double& minX, double& maxX, double& minY, double& maxY, double& minZ,
                            double& maxZ, TileCountMap& tileCounts, TileSampleMap& tileSamples,
                            TileOfferMap& tileOffers, std::mt19937_64& generator,
                            std::uint64_t weight, PreviewSampleOrigin* origin = nullptr);
// The same with the build's engine; the same numbers give the same result.
bool accumulatePreviewPoint(const CloudPoint& point, double tileSize, bool withSamples,
                            std::uint64_t cap, std::uint64_t globalCap,
                            std::uint64_t& acceptedCounter, std::uint64_t& globalSamples,
                            double& minX, double& maxX, double& minY, double& maxY, double& minZ,
                            double& maxZ, TileCountMap& tileCounts, TileSampleMap& tileSamples,
                            TileOfferMap& tileOffers, MersenneTwister64& generator,
                            std::uint64_t weight, PreviewSampleOrigin* origin = nullptr);

// Where the stream accumulator draws from: the build's own engine, or a std::mt19937_64 of a
// test or a benchmark. Both give the same numbers in the same order.
class PreviewDraws {
public:
    // Not explicit, so that a context is made from either engine as it was from the std one.
    PreviewDraws(MersenneTwister64& engine) : fast_(&engine) {}
    PreviewDraws(std::mt19937_64& engine) : standard_(&engine) {}

    MersenneTwister64* fast() const { return fast_; }
    std::mt19937_64* standard() const { return standard_; }

private:
    MersenneTwister64* fast_ = nullptr;
    std::mt19937_64* standard_ = nullptr;
};

// What the E57 stream accumulator works on. The mutable parts live in the program state and
// are held by reference; tile size, requested samples and mode are fixed for one build.
struct PreviewStreamContext {
    double& minX;
    double& maxX;
    double& minY;
    double& maxY;
    double& minZ;
    double& maxZ;
    std::uint64_t& buildPointCounter;
    std::uint64_t& acceptedCounter;  // this stream's own count; drives the progress lines
    double tileSize;
    TileCountMap& tileCounts;
    TileSampleMap& tileSamples;
    int requestedSamplesPerTile;
    std::uint64_t& globalSamples;
    bool& capReported;
    PreviewDraws generator;
    std::atomic<std::uint64_t>& pointsRead;  // the build state's counter, for the GUI
    std::chrono::steady_clock::time_point& lastProgressTime;
    int previewMode;

    // Entries of recently seen tiles, one slot per tile index modulo a 32 x 32 window: a scan
    // keeps revisiting a few neighbouring tiles, which then skip both hash lookups. Entry
    // addresses survive rehashing, so this holds as long as no entry is erased while the
    // context is in use (the build clears its maps before it makes the context).
    static constexpr std::uint64_t kNotDrawsOnly = std::uint64_t{1} << 63;
    struct TileSlot {
        TileIndex tile{};
        std::uint64_t* count = nullptr;  // null: the slot is empty
        std::vector<Sample2D>* samples = nullptr;
        // Other than kNotDrawsOnly once the tile's list has taken a draw: it is not empty and
        // gets no more appends (its cap only falls, the global count only grows), so its later
        // points only count and draw. Then mostly the tile's key, which its points carry too.
        std::uint64_t quickKey = kNotDrawsOnly;
    };
    static constexpr std::size_t kTileSlotsSide = 32;
    std::array<TileSlot, kTileSlotsSide * kTileSlotsSide> recentTiles{};

    // sampleCapPerTile for the tile count it was computed at; it only moves with a new tile.
    std::size_t capTileCount = static_cast<std::size_t>(-1);
    std::uint64_t capForTileCount = 0;

    // The build's origin, chosen at the first point with a tile (absolute samples without
    // one), and the one the samples are taken from.
    PreviewSampleOrigin* origin = nullptr;
    SampleOrigin sampleFrom{};
};

// One point of the E57 stream (every point is offered). A point with a non-finite coordinate
// is counted and widens the bounds where it compares, but gets no tile and no sample.
void acceptPreviewPoint(PreviewStreamContext& ctx, double x, double y, double z, bool withSamples);

// Points 0..n-1 in order, exactly as n calls of acceptPreviewPoint.
void acceptPreviewPoints(PreviewStreamContext& ctx, const double* x, const double* y,
                         const double* z, std::size_t n, bool withSamples);
