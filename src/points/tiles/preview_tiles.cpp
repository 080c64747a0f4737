#include "points/tiles/preview_tiles.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

std::uint64_t sampleCapPerTile(int requestedSamplesPerTile, const TileCountMap& tileCounts) {
    const auto c = static_cast<std::uint64_t>(std::clamp(requestedSamplesPerTile, 4, 5000));
    if (tileCounts.empty()) return c;
    const std::uint64_t q = std::max<std::uint64_t>(globalPreviewSampleCap / tileCounts.size(), 1);
    return std::max<std::uint64_t>(1, std::min(q, c));
}

void resetBounds(double& minX, double& maxX, double& minY, double& maxY, double& minZ,
                 double& maxZ) {
    constexpr double big = std::numeric_limits<double>::max();
    minX = minY = minZ = big;
    maxX = maxY = maxZ = -big;
}

namespace {

inline Sample2D toSample(double x, double y, double z) {
    return Sample2D{static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
}

// Takes the coordinate only when the comparison holds, so NaN leaves a bound alone.
inline void widen(double v, double& lo, double& hi) {
    lo = v < lo ? v : lo;  // minsd and maxsd, with these operand orders
    hi = v > hi ? v : hi;
}

}  // namespace

bool accumulatePreviewPoint(const CloudPoint& point, double tileSize, bool withSamples,
                            std::uint64_t cap, std::uint64_t globalCap,
                            std::uint64_t& acceptedCounter, std::uint64_t& globalSamples,
                            double& minX, double& maxX, double& minY, double& maxY, double& minZ,
                            double& maxZ, TileCountMap& tileCounts, TileSampleMap& tileSamples,
                            TileOfferMap& tileOffers, std::mt19937_64& generator,
                            std::uint64_t weight) {
    if (!(tileSize > 0.0) || !std::isfinite(point.x) || !std::isfinite(point.y) ||
        !std::isfinite(point.z))
        return false;
    TileIndex tile;
    if (!tryTileIndexFor(point.x, point.y, tileSize, tile)) return false;

    widen(point.x, minX, maxX);
    widen(point.y, minY, maxY);
    widen(point.z, minZ, maxZ);
    ++acceptedCounter;
    tileCounts[tile] += (weight == 0 ? 1 : weight);

    if (!withSamples || cap == 0) return true;
    const std::uint64_t offers = ++tileOffers[tile];
    std::vector<Sample2D>& list = tileSamples[tile];
    if (globalSamples < globalCap && list.size() < cap) {
        list.push_back(toSample(point.x, point.y, point.z));
        ++globalSamples;
        return true;
    }
    if (list.empty()) return true;
    const std::uint64_t r = generator() % std::max<std::uint64_t>(offers, 1);
    if (r >= cap) return true;
    list[r % list.size()] = toSample(point.x, point.y, point.z);
    return true;
}

namespace {

[[gnu::noinline]] void reportGlobalCap(const PreviewStreamContext& ctx, std::uint64_t buildPoints,
                                       std::uint64_t globalSamples) {
    std::cout << "[XYZ PREVIEW] global preview sample cap reached"
              << " | acceptedPts=" << buildPoints << " | tiles=" << ctx.tileCounts.size()
              << " | samples=" << globalSamples << std::endl;
}

[[gnu::noinline]] void reportProgress(PreviewStreamContext& ctx, std::uint64_t accepted) {
    const auto now = std::chrono::steady_clock::now();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(now - ctx.lastProgressTime).count();
    std::cout << "Reading " << accepted / 1000000 << "M accepted pts | preview=" << ms << " ms"
              << " | mode=" << (ctx.previewMode == 1 ? "FAST" : "REGULAR") << std::endl;
    ctx.lastProgressTime = now;
}

[[gnu::noinline]] PreviewStreamContext::TileSlot& refillSlot(PreviewStreamContext& ctx,
                                                             PreviewStreamContext::TileSlot& slot,
                                                             TileIndex tile) {
    slot.tile = tile;
    slot.count = &ctx.tileCounts[tile];
    slot.samples = nullptr;
    return slot;
}

[[gnu::noinline]] std::uint64_t refreshCap(PreviewStreamContext& ctx, std::size_t tiles) {
    ctx.capTileCount = tiles;
    ctx.capForTileCount = sampleCapPerTile(ctx.requestedSamplesPerTile, ctx.tileCounts);
    return ctx.capForTileCount;
}

// tryTileIndexFor's result, with the floor done by truncation: without SSE4.1 (not in the
// baseline ISA) std::floor is a long sequence, and this runs for every point. The quotient is
// range-checked itself, which is the same test since both bounds are integers.
inline bool streamTileFor(double x, double y, double tileSize, TileIndex& out) {
    const double qx = x / tileSize;
    const double qy = y / tileSize;
    constexpr double lo = -9223372036854775808.0;  // -2^63
    constexpr double hi = 9223372036854775808.0;   // 2^63, first value out of range
    if (!(qx >= lo && qx < hi && qy >= lo && qy < hi)) return false;
    // A truncated double converts back exactly; above the quotient, it was a negative one
    // rounded up.
    std::int64_t ix = static_cast<std::int64_t>(qx);
    std::int64_t iy = static_cast<std::int64_t>(qy);
    ix -= static_cast<double>(ix) > qx;
    iy -= static_cast<double>(iy) > qy;
    out = TileIndex{ix, iy};
    return true;
}

inline std::uint32_t slotOf(TileIndex tile) {
    constexpr std::uint64_t side = PreviewStreamContext::kTileSlotsSide;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(tile.ix) % side) +
                                      side * (static_cast<std::uint64_t>(tile.iy) % side));
}

// The count and the reservoir of a point with a tile. buildPoints and globalSamples are the
// caller's running values (buildPoints already counts this point).
[[gnu::always_inline]] inline void takeTilePoint(PreviewStreamContext& ctx, TileIndex tile,
                                                 std::uint32_t at, double x, double y, double z,
                                                 bool withSamples, std::uint64_t buildPoints,
                                                 std::uint64_t& globalSamples) {
    PreviewStreamContext::TileSlot* slot = &ctx.recentTiles[at];
    if (slot->count == nullptr || slot->tile.ix != tile.ix || slot->tile.iy != tile.iy)
        slot = &refillSlot(ctx, *slot, tile);
    const std::uint64_t tileCount = ++*slot->count;
    if (!withSamples) return;
    if (slot->samples == nullptr) slot->samples = &ctx.tileSamples[tile];
    std::vector<Sample2D>& list = *slot->samples;
    const std::size_t tiles = ctx.tileCounts.size();
    const std::uint64_t cap =
        tiles == ctx.capTileCount ? ctx.capForTileCount : refreshCap(ctx, tiles);
    if (globalSamples >= globalPreviewSampleCap && !ctx.capReported) {
        ctx.capReported = true;
        reportGlobalCap(ctx, buildPoints, globalSamples);
    }
    if (cap == 0) return;
    if (globalSamples < globalPreviewSampleCap && list.size() < cap) {
        list.push_back(toSample(x, y, z));
        ++globalSamples;
    } else if (!list.empty()) {
        const std::uint64_t r = ctx.generator() % std::max<std::uint64_t>(tileCount, 1);
        // A full list mostly holds cap samples, so the second division is rarely needed.
        if (r < cap) list[r < list.size() ? r : r % list.size()] = toSample(x, y, z);
    }
}

constexpr std::uint64_t kPublishEvery = 1000000;
constexpr std::uint64_t kLineEvery = 10000000;  // a multiple of kPublishEvery

inline void publishProgress(PreviewStreamContext& ctx, std::uint64_t accepted) {
    if (accepted % kPublishEvery != 0) return;
    ctx.pointsRead.store(accepted);
    if (accepted % kLineEvery == 0) reportProgress(ctx, accepted);
}

}  // namespace

void acceptPreviewPoint(PreviewStreamContext& ctx, double x, double y, double z, bool withSamples) {
    widen(x, ctx.minX, ctx.maxX);
    widen(y, ctx.minY, ctx.maxY);
    widen(z, ctx.minZ, ctx.maxZ);
    const std::uint64_t buildPoints = ++ctx.buildPointCounter;
    const std::uint64_t accepted = ++ctx.acceptedCounter;

    // floor of a non-finite or huge quotient has no i64 value: such a point stays tile-less.
    TileIndex tile;
    if (std::isfinite(z) && streamTileFor(x, y, ctx.tileSize, tile))
        takeTilePoint(ctx, tile, slotOf(tile), x, y, z, withSamples, buildPoints,
                      ctx.globalSamples);
    publishProgress(ctx, accepted);
}

// The running totals stay in locals across the run and are stored back when it ends, also
// when it throws: the state is then as after the last point taken. Bounds and tiles of a
// block come first, in a loop without dependencies between points, so that the division and
// conversion chains of many points overlap; counts and reservoir then take the points in
// order.
void acceptPreviewPoints(PreviewStreamContext& ctx, const double* xs, const double* ys,
                         const double* zs, std::size_t n, bool withSamples) {
    constexpr std::size_t kBlock = 256;
    constexpr std::uint32_t kNoTile =
        PreviewStreamContext::kTileSlotsSide * PreviewStreamContext::kTileSlotsSide;
    double minX = ctx.minX, maxX = ctx.maxX, minY = ctx.minY, maxY = ctx.maxY, minZ = ctx.minZ,
           maxZ = ctx.maxZ;
    std::uint64_t buildPoints = ctx.buildPointCounter;
    std::uint64_t accepted = ctx.acceptedCounter;
    std::uint64_t globalSamples = ctx.globalSamples;
    const double tileSize = ctx.tileSize;
    auto storeBack = [&] {
        ctx.minX = minX;
        ctx.maxX = maxX;
        ctx.minY = minY;
        ctx.maxY = maxY;
        ctx.minZ = minZ;
        ctx.maxZ = maxZ;
        ctx.buildPointCounter = buildPoints;
        ctx.acceptedCounter = accepted;
        ctx.globalSamples = globalSamples;
    };
    std::int64_t tileX[kBlock];
    std::int64_t tileY[kBlock];
    std::uint32_t slots[kBlock];  // kNoTile for a tile-less point
    std::size_t first = 0;
    std::size_t i = 0;
    double blockBounds[6] = {};
    try {
        for (; first < n; first += kBlock) {
            const std::size_t m = std::min(kBlock, n - first);
            const double* bx = xs + first;
            const double* by = ys + first;
            const double* bz = zs + first;
            const double before[6] = {minX, maxX, minY, maxY, minZ, maxZ};
            std::copy(before, before + 6, blockBounds);
            for (i = 0; i < m; ++i) {
                const double x = bx[i], y = by[i], z = bz[i];
                widen(x, minX, maxX);
                widen(y, minY, maxY);
                widen(z, minZ, maxZ);
                // floor of a non-finite or huge quotient has no i64 value: such a point
                // stays tile-less.
                TileIndex tile{};
                const bool hasTile = std::isfinite(z) && streamTileFor(x, y, tileSize, tile);
                tileX[i] = tile.ix;
                tileY[i] = tile.iy;
                slots[i] = hasTile ? slotOf(tile) : kNoTile;
            }
            for (i = 0; i < m; ++i) {
                ++buildPoints;
                ++accepted;
                if (slots[i] != kNoTile)
                    takeTilePoint(ctx, TileIndex{tileX[i], tileY[i]}, slots[i], bx[i], by[i], bz[i],
                                  withSamples, buildPoints, globalSamples);
                publishProgress(ctx, accepted);
            }
        }
    } catch (...) {
        // The bounds of the block so far, the failing point included, as one by one.
        minX = blockBounds[0], maxX = blockBounds[1], minY = blockBounds[2];
        maxY = blockBounds[3], minZ = blockBounds[4], maxZ = blockBounds[5];
        for (std::size_t k = first; k <= first + i && k < n; ++k) {
            widen(xs[k], minX, maxX);
            widen(ys[k], minY, maxY);
            widen(zs[k], minZ, maxZ);
        }
        storeBack();
        throw;
    }
    storeBack();
}
