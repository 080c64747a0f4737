#include "points/preview/preview_retile.h"
#include "points/preview/preview_session_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>

#include "points/preview/preview_build_session.h"
#include "points/tiles/preview_tiles.h"

namespace {

// Tiles of size 1: tile (i, 0) holds perTile[i] samples spread inside it.
TileSampleMap makeSamples(const std::vector<int>& perTile) {
    TileSampleMap m;
    for (std::size_t t = 0; t < perTile.size(); ++t)
        for (int k = 0; k < perTile[t]; ++k)
            m[TileIndex{static_cast<std::int64_t>(t), 0}].push_back(
                Sample2D{static_cast<float>(t) + 0.001f * static_cast<float>(k % 900), 0.5f,
                         static_cast<float>(k)});
    return m;
}

void makeReady(PreviewBuildSession& state, const TileSampleMap& samples, double tileSize) {
    buildPreviewSessionCache(state.previewCache, samples, tileSize);
    state.buildState.ready = true;
}

}  // namespace

TEST(PreviewSessionCache, BuildFlattensEveryTileAndClearResets) {
    PreviewSessionCache cache;
    buildPreviewSessionCache(cache, TileSampleMap{}, 5.0);
    EXPECT_FALSE(cache.ready);
    EXPECT_EQ(cache.sourceTiles, 0u);

    const TileSampleMap m = makeSamples({3, 1, 7});
    buildPreviewSessionCache(cache, m, 1.0);
    EXPECT_TRUE(cache.ready);
    EXPECT_EQ(cache.samples.size(), 11u);
    EXPECT_EQ(cache.sourceTiles, 3u);
    EXPECT_EQ(cache.sourceTileSize, 1.0);
    // Tile after tile in map order, list order within a tile.
    std::size_t at = 0;
    for (const auto& [tile, list] : m)
        for (const Sample2D& s : list) {
            EXPECT_EQ(cache.samples[at].x, s.x);
            EXPECT_EQ(cache.samples[at].z, s.z);
            ++at;
        }
    clearPreviewSessionCache(cache);
    EXPECT_TRUE(cache.samples.empty());
    EXPECT_FALSE(cache.ready);
    EXPECT_EQ(cache.sourceTileSize, 0.0);
    EXPECT_EQ(cache.sourceTiles, 0u);
}

TEST(PreviewSessionCache, RetileAtSourceSizeKeepsTilesAndCountsSamples) {
    const TileSampleMap m = makeSamples({3, 1, 7});
    PreviewSessionCache cache;
    buildPreviewSessionCache(cache, m, 1.0);
    TileCountMap counts;
    TileSampleMap samples;
    retilePreview(cache, 1.0, 2000, counts, samples);
    ASSERT_EQ(counts.size(), 3u);
    EXPECT_EQ(counts.at(TileIndex{0, 0}), 3u);
    EXPECT_EQ(counts.at(TileIndex{1, 0}), 1u);
    EXPECT_EQ(counts.at(TileIndex{2, 0}), 7u);
    EXPECT_TRUE(samples == m);

    // Not ready or a size that is not positive: both maps cleared and left empty.
    retilePreview(cache, 0.0, 2000, counts, samples);
    EXPECT_TRUE(counts.empty());
    EXPECT_TRUE(samples.empty());
    retilePreview(cache, std::nan(""), 2000, counts, samples);
    EXPECT_TRUE(counts.empty());
    retilePreview(PreviewSessionCache{}, 1.0, 2000, counts, samples);
    EXPECT_TRUE(counts.empty());
}

TEST(PreviewSessionCache, MergingCapsSamplesDeterministically) {
    PreviewSessionCache cache;
    buildPreviewSessionCache(cache, makeSamples({600, 600, 5, 5}), 1.0);
    TileCountMap c1, c2;
    TileSampleMap s1, s2;
    // Tile size 2 merges tiles 0+1 (1200 samples) and 2+3 (10 samples).
    retilePreview(cache, 2.0, 4, c1, s1);
    ASSERT_EQ(c1.size(), 2u);
    EXPECT_EQ(c1.at(TileIndex{0, 0}), 1200u);
    EXPECT_EQ(c1.at(TileIndex{1, 0}), 10u);
    EXPECT_EQ(s1.at(TileIndex{0, 0}).size(), 4u);  // cap 4 (1 clamps up to 4 below)
    EXPECT_EQ(s1.at(TileIndex{1, 0}).size(), 4u);
    retilePreview(cache, 2.0, 1, c2, s2);
    EXPECT_EQ(c1, c2);
    EXPECT_TRUE(s1 == s2);  // same generator seed every time

    // Replacement really happened: the kept samples are not just the first four appended.
    const auto& kept = s1.at(TileIndex{0, 0});
    bool replaced = false;
    for (const Sample2D& s : kept) replaced = replaced || s.z >= 4.0f || s.x >= 1.0f;
    EXPECT_TRUE(replaced);

    retilePreview(cache, 1000.0, 10000, c1, s1);
    ASSERT_EQ(c1.size(), 1u);
    EXPECT_EQ(c1.begin()->second, 1210u);
    EXPECT_EQ(s1.begin()->second.size(), 1210u);  // below the 5000 cap, all kept
}

TEST(PreviewSessionCache, CallbackChecksAndLeavesStateOnFailure) {
    PreviewBuildSession state;
    state.previewSamplesPerTile = 2000;
    TileCountMap counts{{TileIndex{9, 9}, 1}};
    TileSampleMap samples;
    std::string error;

    // Before the build has reported ready (also with a filled cache).
    EXPECT_FALSE(retilePreviewSessionCache(state, 1.0, 100, counts, samples, &error));
    EXPECT_EQ(error, "PreviewSessionCache is not ready yet.");
    buildPreviewSessionCache(state.previewCache, makeSamples({2}), 1.0);
    EXPECT_FALSE(retilePreviewSessionCache(state, 1.0, 100, counts, samples, &error));
    EXPECT_EQ(error, "PreviewSessionCache is not ready yet.");
    state.buildState.ready = true;

    EXPECT_FALSE(retilePreviewSessionCache(state, 0.0, 100, counts, samples, &error));
    EXPECT_EQ(error, "New preview tile size must be > 0.");
    EXPECT_FALSE(retilePreviewSessionCache(state, -2.0, 100, counts, samples, nullptr));

    // Every sample out of the i64 tile range: empty map, caller's maps left empty.
    EXPECT_FALSE(retilePreviewSessionCache(state, 1e-300, 100, counts, samples, &error));
    EXPECT_EQ(error, "Retile produced an empty preview map.");
    EXPECT_TRUE(counts.empty());
    EXPECT_TRUE(samples.empty());

    EXPECT_EQ(state.previewSamplesPerTile, 2000);
    EXPECT_TRUE(state.tileCounts.empty());
    EXPECT_EQ(state.buildState.generation.load(), 0u);
}

TEST(PreviewSessionCache, CallbackPublishesAndNeverChangesTheCache) {
    PreviewBuildSession state;
    makeReady(state, makeSamples({600, 600, 5, 5}), 1.0);
    const std::vector<Sample2D> before = state.previewCache.samples;

    TileCountMap counts;
    TileSampleMap samples;
    std::string error = "old";
    ASSERT_TRUE(retilePreviewSessionCache(state, 2.0, 10000, counts, samples, &error));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(state.previewSamplesPerTile, 5000);
    EXPECT_EQ(counts.size(), 2u);
    EXPECT_EQ(state.tileCounts, counts);
    EXPECT_TRUE(state.tileSamples == samples);
    EXPECT_EQ(state.buildState.generation.load(), 1u);
    {
        std::lock_guard<std::mutex> lock(state.buildState.mutex);
        EXPECT_EQ(state.buildState.liveTileCounts, counts);
        EXPECT_TRUE(state.buildState.liveTileSamples == samples);
    }

    // A second retile starts again from the build's samples, not from the first result.
    TileCountMap c2;
    TileSampleMap s2;
    ASSERT_TRUE(retilePreviewSessionCache(state, 1.0, 4, c2, s2, &error));
    EXPECT_EQ(state.previewSamplesPerTile, 4);
    EXPECT_EQ(c2.size(), 4u);
    EXPECT_EQ(c2.at(TileIndex{0, 0}), 600u);
    EXPECT_EQ(c2.at(TileIndex{3, 0}), 5u);
    EXPECT_EQ(state.buildState.generation.load(), 2u);

    ASSERT_EQ(state.previewCache.samples.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(state.previewCache.samples[i].x, before[i].x);
        EXPECT_EQ(state.previewCache.samples[i].z, before[i].z);
    }
    EXPECT_EQ(state.previewCache.sourceTileSize, 1.0);
    EXPECT_EQ(state.previewCache.sourceTiles, 4u);
}

// A 10 km x 10 km site at survey coordinates, built by the sampled and the stream accumulator:
// the origin is the first point's tile corner and height floor, every sample lies within 1 mm
// of its point, and a point on a tile's west or south edge is in that tile in the build and
// after retiles from the cache (each point has a tile of its own at every size used).
TEST(PreviewSampleOrigin, MillimetresAndTileEdgesAtSurveyCoordinates) {
    const SampleOrigin sites[] = {{500000.0, 5400000.0, 100.0}, {-4000000.0, 9999000.0, 0.0}};
    for (const SampleOrigin& o : sites) {
        // 101 x 101 points 100 m apart; even columns and rows on tile edges.
        std::vector<double> xs, ys, zs;
        for (int i = 0; i <= 100; ++i)
            for (int j = 0; j <= 100; ++j) {
                xs.push_back(o.x + 100.0 * i + (i % 2 ? 2.345 : 0.0));
                ys.push_back(o.y + 100.0 * j + (j % 2 ? 4.001 : 0.0));
                zs.push_back(o.z + 0.25 + 0.001 * ((i * 7 + j) % 600));
            }
        for (const bool stream : {false, true}) {
            SCOPED_TRACE(std::to_string(o.x) + (stream ? " stream" : " sampled"));
            PreviewSampleOrigin origin;
            TileCountMap counts;
            TileSampleMap samples;
            double minX = 0, maxX = 0, minY = 0, maxY = 0, minZ = 0, maxZ = 0;
            resetBounds(minX, maxX, minY, maxY, minZ, maxZ);
            std::uint64_t accepted = 0, buildPoints = 0, globalSamples = 0;
            std::mt19937_64 gen(1);
            if (stream) {
                bool capReported = false;
                std::atomic<std::uint64_t> read{0};
                auto last = std::chrono::steady_clock::now();
                PreviewStreamContext ctx{minX,          maxX,        minY, maxY,   minZ,    maxZ,
                                         buildPoints,   accepted,    5.0,  counts, samples, 2000,
                                         globalSamples, capReported, gen,  read,   last,    0};
                ctx.origin = &origin;
                acceptPreviewPoints(ctx, xs.data(), ys.data(), zs.data(), xs.size(), true);
            } else {
                TileOfferMap offers;
                for (std::size_t k = 0; k < xs.size(); ++k)
                    accumulatePreviewPoint(CloudPoint{xs[k], ys[k], zs[k]}, 5.0, true, 2000,
                                           globalPreviewSampleCap, accepted, globalSamples, minX,
                                           maxX, minY, maxY, minZ, maxZ, counts, samples, offers,
                                           gen, 1, &origin);
            }
            ASSERT_TRUE(origin.chosen);
            EXPECT_EQ(origin.at, o);

            PreviewSessionCache cache;
            buildPreviewSessionCache(cache, samples, 5.0, origin.at);
            for (const double size : {5.0, 2.5, 10.0}) {
                TileCountMap c;
                TileSampleMap m;
                retilePreview(cache, size, 2000, c, m);
                ASSERT_EQ(m.size(), xs.size()) << size;
                for (std::size_t k = 0; k < xs.size(); ++k) {
                    const auto it = m.find(tileIndexFor(xs[k], ys[k], size));
                    ASSERT_NE(it, m.end()) << size << " point " << k;
                    ASSERT_EQ(it->second.size(), 1u);
                    const Sample2D& s = it->second[0];
                    EXPECT_NEAR(o.x + s.x, xs[k], 1e-3);
                    EXPECT_NEAR(o.y + s.y, ys[k], 1e-3);
                    EXPECT_NEAR(o.z + s.z, zs[k], 1e-3);
                }
                if (size == 5.0) {
                    EXPECT_TRUE(m == samples);
                }
            }
        }
    }
}
