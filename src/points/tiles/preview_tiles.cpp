#include "points/tiles/preview_tiles.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <vector>

std::uint64_t sampleCapPerTile(int requestedSamplesPerTile, const TileCountMap& tileCounts) {
    const auto c = static_cast<std::uint64_t>(std::clamp(requestedSamplesPerTile, 4, 5000));
    if (tileCounts.empty()) return c;
    const std::uint64_t q =
        std::max<std::uint64_t>(globalPreviewSampleCap / tileCounts.size(), 1);
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
    if (v < lo) lo = v;
    if (v > hi) hi = v;
}

}  // namespace

bool accumulatePreviewPoint(const CloudPoint& point, double tileSize, bool withSamples,
                            std::uint64_t cap, std::uint64_t globalCap,
                            std::uint64_t& acceptedCounter, std::uint64_t& globalSamples,
                            double& minX, double& maxX, double& minY, double& maxY,
                            double& minZ, double& maxZ, TileCountMap& tileCounts,
                            TileSampleMap& tileSamples, TileOfferMap& tileOffers,
                            std::mt19937_64& generator, std::uint64_t weight) {
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

void acceptPreviewPoint(PreviewStreamContext& ctx, double x, double y, double z,
                        bool withSamples) {
    widen(x, ctx.minX, ctx.maxX);
    widen(y, ctx.minY, ctx.maxY);
    widen(z, ctx.minZ, ctx.maxZ);
    ++ctx.buildPointCounter;
    const std::uint64_t accepted = ++ctx.acceptedCounter;

    // floor of a non-finite or huge quotient has no i64 value: such a point stays tile-less.
    TileIndex tile;
    if (std::isfinite(z) && tryTileIndexFor(x, y, ctx.tileSize, tile)) {
        if (ctx.lastCount == nullptr || !(tile == ctx.lastTile)) {
            ctx.lastTile = tile;
            ctx.lastCount = &ctx.tileCounts[tile];
            ctx.lastSamples = nullptr;
        }
        const std::uint64_t tileCount = ++*ctx.lastCount;
        if (withSamples) {
            if (ctx.lastSamples == nullptr) ctx.lastSamples = &ctx.tileSamples[tile];
            std::vector<Sample2D>& list = *ctx.lastSamples;
            const std::uint64_t cap = sampleCapPerTile(ctx.requestedSamplesPerTile, ctx.tileCounts);
            if (ctx.globalSamples >= globalPreviewSampleCap && !ctx.capReported) {
                ctx.capReported = true;
                std::cout << "[XYZ PREVIEW] global preview sample cap reached"
                          << " | acceptedPts=" << ctx.buildPointCounter
                          << " | tiles=" << ctx.tileCounts.size()
                          << " | samples=" << ctx.globalSamples << std::endl;
            }
            if (cap != 0) {
                if (ctx.globalSamples < globalPreviewSampleCap && list.size() < cap) {
                    list.push_back(toSample(x, y, z));
                    ++ctx.globalSamples;
                } else if (!list.empty()) {
                    const std::uint64_t r = ctx.generator() % std::max<std::uint64_t>(tileCount, 1);
                    if (r < cap) list[r % list.size()] = toSample(x, y, z);
                }
            }
        }
    }

    if (accepted % 1000000 == 0) ctx.pointsRead.store(accepted);
    if (accepted % 10000000 == 0) {
        const auto now = std::chrono::steady_clock::now();
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - ctx.lastProgressTime).count();
        std::cout << "Reading " << accepted / 1000000 << "M accepted pts | preview=" << ms
                  << " ms" << " | mode=" << (ctx.previewMode == 1 ? "FAST" : "REGULAR")
                  << std::endl;
        ctx.lastProgressTime = now;
    }
}
