#include "points/tiles/preview_tiles.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <regex>
#include <string>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

CloudPoint pointAt(double x, double y, double z) {
    CloudPoint p;
    p.x = x;
    p.y = y;
    p.z = z;
    return p;
}

// Everything the sampled accumulator touches, with the build's starting values.
struct SampledState {
    std::uint64_t accepted = 0;
    std::uint64_t globalSamples = 0;
    double minX = kInf, maxX = -kInf, minY = kInf, maxY = -kInf, minZ = kInf, maxZ = -kInf;
    TileCountMap counts;
    TileSampleMap samples;
    TileOfferMap offers;
    std::mt19937_64 gen{1234567};

    bool add(const CloudPoint& p, double tileSize = 5.0, std::uint64_t cap = 2000,
             std::uint64_t globalCap = globalPreviewSampleCap, std::uint64_t weight = 250,
             bool withSamples = true) {
        return accumulatePreviewPoint(p, tileSize, withSamples, cap, globalCap, accepted,
                                      globalSamples, minX, maxX, minY, maxY, minZ, maxZ, counts,
                                      samples, offers, gen, weight);
    }
};

// The program-state side of one E57 stream build.
struct StreamState {
    double minX = kInf, maxX = -kInf, minY = kInf, maxY = -kInf, minZ = kInf, maxZ = -kInf;
    std::uint64_t buildPoints = 0;
    std::uint64_t accepted = 0;
    TileCountMap counts;
    TileSampleMap samples;
    std::uint64_t globalSamples = 0;
    bool capReported = false;
    std::mt19937_64 gen{1234567};
    std::atomic<std::uint64_t> build{0};  // the build state's point counter
    std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
    PreviewStreamContext ctx;

    explicit StreamState(int requested = 2000, int mode = 0, double tileSize = 5.0)
        : ctx{minX,          maxX,        minY,     maxY,   minZ,         maxZ,
              buildPoints,   accepted,    tileSize, counts, samples,      requested,
              globalSamples, capReported, gen,      build,  lastProgress, mode} {}
};

}  // namespace

TEST(TileIndexTest, FloorsTowardsMinusInfinity) {
    EXPECT_EQ(tileIndexFor(4.999, 0.0, 5.0), (TileIndex{0, 0}));
    EXPECT_EQ(tileIndexFor(5.0, 0.0, 5.0), (TileIndex{1, 0}));
    EXPECT_EQ(tileIndexFor(-0.001, -5.0, 5.0), (TileIndex{-1, -1}));
    EXPECT_EQ(tileIndexFor(-5.001, 12.5, 5.0), (TileIndex{-2, 2}));

    TileIndex t{7, 7};
    EXPECT_TRUE(tryTileIndexFor(-0.001, 10.0, 5.0, t));
    EXPECT_EQ(t, (TileIndex{-1, 2}));
    TileIndex untouched{7, 7};
    EXPECT_FALSE(tryTileIndexFor(kNaN, 0.0, 5.0, untouched));
    EXPECT_FALSE(tryTileIndexFor(0.0, kInf, 5.0, untouched));
    EXPECT_FALSE(tryTileIndexFor(-kInf, 0.0, 5.0, untouched));
    EXPECT_FALSE(tryTileIndexFor(1.0, 1.0, 0.0, untouched));
    EXPECT_FALSE(tryTileIndexFor(1e300, 0.0, 5.0, untouched));  // beyond i64
    EXPECT_EQ(untouched, (TileIndex{7, 7}));
    // The last representable floors are accepted.
    EXPECT_TRUE(tryTileIndexFor(-9223372036854775808.0, 0.0, 1.0, t));
    EXPECT_EQ(t.ix, std::numeric_limits<std::int64_t>::min());
    EXPECT_FALSE(tryTileIndexFor(9223372036854775808.0, 0.0, 1.0, untouched));
}

TEST(PreviewTiles, SampleCapPerTile) {
    TileCountMap counts;
    EXPECT_EQ(sampleCapPerTile(2000, counts), 2000u);
    EXPECT_EQ(sampleCapPerTile(1, counts), 4u);
    EXPECT_EQ(sampleCapPerTile(-50, counts), 4u);
    EXPECT_EQ(sampleCapPerTile(9000, counts), 5000u);
    for (std::int64_t i = 0; i < 1000; ++i) counts[TileIndex{i, 0}] = 1;
    EXPECT_EQ(sampleCapPerTile(2000, counts), 2000u);
    for (std::int64_t i = 1000; i < 2000; ++i) counts[TileIndex{i, 0}] = 1;
    EXPECT_EQ(sampleCapPerTile(2000, counts), 1000u);
    EXPECT_EQ(sampleCapPerTile(1, counts), 4u);
    counts.reserve(3000000);
    for (std::int64_t i = 2000; i < 3000000; ++i) counts[TileIndex{i, 0}] = 1;
    EXPECT_EQ(sampleCapPerTile(2000, counts), 1u);
}

TEST(PreviewTiles, SampledRejectsChangeNothing) {
    SampledState s;
    ASSERT_TRUE(s.add(pointAt(1, 2, 3)));
    const SampledState before = s;
    EXPECT_FALSE(s.add(pointAt(1, 2, 3), 0.0));
    EXPECT_FALSE(s.add(pointAt(1, 2, 3), -5.0));
    EXPECT_FALSE(s.add(pointAt(kInf, 2, 3)));
    EXPECT_FALSE(s.add(pointAt(1, kNaN, 3)));
    EXPECT_FALSE(s.add(pointAt(1, 2, -kInf)));
    EXPECT_FALSE(s.add(pointAt(1e300, 2, 3)));  // finite but no i64 tile
    EXPECT_EQ(s.accepted, before.accepted);
    EXPECT_EQ(s.globalSamples, before.globalSamples);
    EXPECT_EQ(s.counts, before.counts);
    EXPECT_EQ(s.offers, before.offers);
    EXPECT_EQ(s.samples.size(), before.samples.size());
    EXPECT_EQ(s.minX, 1.0);
    EXPECT_EQ(s.maxX, 1.0);
    EXPECT_EQ(s.minZ, 3.0);
    EXPECT_EQ(s.maxZ, 3.0);
}

TEST(PreviewTiles, SampledWeightsOffersAndBounds) {
    SampledState s;
    ASSERT_TRUE(s.add(pointAt(1, 2, 3)));
    const TileIndex t{0, 0};
    EXPECT_EQ(s.counts[t], 250u);
    EXPECT_EQ(s.offers[t], 1u);
    ASSERT_EQ(s.samples[t].size(), 1u);
    EXPECT_EQ(s.samples[t][0].z, 3.0f);
    EXPECT_EQ(s.globalSamples, 1u);

    ASSERT_TRUE(s.add(pointAt(-1, 7, -4), 5.0, 2000, globalPreviewSampleCap, 0));
    EXPECT_EQ(s.counts[(TileIndex{-1, 1})], 1u);  // weight 0 counts as 1
    EXPECT_EQ(s.accepted, 2u);
    EXPECT_EQ(s.minX, -1.0);
    EXPECT_EQ(s.maxY, 7.0);
    EXPECT_EQ(s.minZ, -4.0);

    // Without samples only the count grows.
    ASSERT_TRUE(s.add(pointAt(11, 11, 0), 5.0, 2000, globalPreviewSampleCap, 250, false));
    EXPECT_EQ(s.counts[(TileIndex{2, 2})], 250u);
    EXPECT_EQ(s.offers.count(TileIndex{2, 2}), 0u);
    EXPECT_EQ(s.samples.count(TileIndex{2, 2}), 0u);
    EXPECT_EQ(s.globalSamples, 2u);
}

TEST(PreviewTiles, SampledGlobalCapStopsAppendingButNotReplacing) {
    SampledState s;
    // Tile A fills to its cap of 3, then tile B takes the remaining 2 of a global cap of 5.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(s.add(pointAt(1, 1, i), 5.0, 3, 5));
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(s.add(pointAt(6, 1, i), 5.0, 3, 5));
    EXPECT_EQ(s.globalSamples, 5u);
    // A new tile gets an empty list and keeps it.
    ASSERT_TRUE(s.add(pointAt(11, 1, 0), 5.0, 3, 5));
    EXPECT_TRUE(s.samples[(TileIndex{2, 0})].empty());
    EXPECT_EQ(s.offers[(TileIndex{2, 0})], 1u);
    // Tile B (not full) no longer appends but still replaces.
    bool replaced = false;
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(s.add(pointAt(6, 1, 100 + i), 5.0, 3, 5));
        for (const Sample2D& smp : s.samples[(TileIndex{1, 0})]) replaced |= smp.z >= 100.0f;
    }
    EXPECT_EQ(s.samples[(TileIndex{1, 0})].size(), 2u);
    EXPECT_TRUE(replaced);
    EXPECT_EQ(s.globalSamples, 5u);
}

// Offer 100 numbered points to one tile many times; every decile must be kept about equally.
TEST(PreviewTiles, ReservoirIsRoughlyUniformOnBothPaths) {
    constexpr int trials = 2000;
    constexpr int n = 100;
    constexpr int cap = 10;
    std::array<int, 10> sampledDeciles{};
    std::array<int, 10> streamDeciles{};
    std::mt19937_64 sharedGen{1234567};
    for (int trial = 0; trial < trials; ++trial) {
        SampledState s;
        s.gen = sharedGen;
        StreamState st(cap);
        st.gen = sharedGen;
        for (int i = 0; i < n; ++i) {
            s.add(pointAt(1, 1, i), 5.0, cap);
            acceptPreviewPoint(st.ctx, 1, 1, i, true);
        }
        sharedGen = st.gen;
        sharedGen.discard(1);
        const auto& a = s.samples[(TileIndex{0, 0})];
        const auto& b = st.samples[(TileIndex{0, 0})];
        ASSERT_EQ(a.size(), static_cast<std::size_t>(cap));
        ASSERT_EQ(b.size(), static_cast<std::size_t>(cap));
        for (const Sample2D& smp : a) ++sampledDeciles[static_cast<int>(smp.z) / 10];
        for (const Sample2D& smp : b) ++streamDeciles[static_cast<int>(smp.z) / 10];
    }
    // Expected trials * cap / 10 = 2000 per decile; sigma about 42.
    for (int d = 0; d < 10; ++d) {
        EXPECT_NEAR(sampledDeciles[d], 2000, 200) << "decile " << d;
        EXPECT_NEAR(streamDeciles[d], 2000, 200) << "decile " << d;
    }
}

TEST(PreviewTiles, StreamCountsEveryPointAndCapsSamples) {
    StreamState st(4);
    for (int i = 0; i < 50; ++i) acceptPreviewPoint(st.ctx, 2.0, -3.0, i, true);
    const TileIndex t{0, -1};
    EXPECT_EQ(st.counts[t], 50u);
    EXPECT_EQ(st.samples[t].size(), 4u);
    EXPECT_EQ(st.globalSamples, 4u);
    EXPECT_EQ(st.buildPoints, 50u);
    EXPECT_EQ(st.accepted, 50u);
    EXPECT_EQ(st.minZ, 0.0);
    EXPECT_EQ(st.maxZ, 49.0);

    // withSamples false: counted, no sample list.
    acceptPreviewPoint(st.ctx, 100.0, 0.0, 0.0, false);
    EXPECT_EQ(st.counts[(TileIndex{20, 0})], 1u);
    EXPECT_EQ(st.samples.count(TileIndex{20, 0}), 0u);
}

TEST(PreviewTiles, StreamRunsAndSwitchesOfTilesKeepEveryCount) {
    StreamState st(4);
    for (int i = 0; i < 3; ++i) acceptPreviewPoint(st.ctx, 1.0, 1.0, i, true);
    for (int i = 0; i < 2; ++i) acceptPreviewPoint(st.ctx, 6.0, 1.0, i, false);
    acceptPreviewPoint(st.ctx, 6.0, 1.0, 9.0, true);  // same tile, first sample
    // Thousands of new tiles rehash both maps between two visits of tile (0,0).
    for (int i = 0; i < 5000; ++i) acceptPreviewPoint(st.ctx, 10.0 * i + 20.0, 50.0, 0.0, true);
    for (int i = 0; i < 3; ++i) acceptPreviewPoint(st.ctx, 4.0, 4.0, 10.0 + i, true);
    acceptPreviewPoint(st.ctx, kNaN, 4.0, 0.0, true);  // a tile-less point between a run
    acceptPreviewPoint(st.ctx, 4.0, 4.0, 20.0, true);
    EXPECT_EQ(st.counts[(TileIndex{0, 0})], 7u);
    EXPECT_EQ(st.counts[(TileIndex{1, 0})], 3u);
    EXPECT_EQ(st.samples[(TileIndex{0, 0})].size(), 4u);
    ASSERT_EQ(st.samples[(TileIndex{1, 0})].size(), 1u);
    EXPECT_EQ(st.samples[(TileIndex{1, 0})][0].z, 9.0f);
    EXPECT_EQ(st.counts.size(), 5002u);
    EXPECT_EQ(st.buildPoints, 5011u);
}

TEST(PreviewTiles, StreamNonFinitePointsAreCountedButGetNoTile) {
    StreamState st;
    acceptPreviewPoint(st.ctx, 1.0, 1.0, 1.0, true);
    acceptPreviewPoint(st.ctx, kNaN, 2.0, 2.0, true);
    acceptPreviewPoint(st.ctx, 3.0, 3.0, kNaN, true);
    acceptPreviewPoint(st.ctx, kInf, 0.0, 0.0, true);
    acceptPreviewPoint(st.ctx, 1e300, 0.0, 0.0, true);
    EXPECT_EQ(st.buildPoints, 5u);
    EXPECT_EQ(st.accepted, 5u);
    EXPECT_EQ(st.counts.size(), 1u);
    EXPECT_EQ(st.samples.size(), 1u);
    EXPECT_EQ(st.globalSamples, 1u);
    // Bounds are widened where the comparison holds: NaN never, infinity yes.
    EXPECT_EQ(st.minX, 1.0);
    EXPECT_EQ(st.maxX, kInf);
    EXPECT_EQ(st.maxY, 3.0);
    EXPECT_EQ(st.maxZ, 2.0);
}

TEST(PreviewTiles, StreamReportsGlobalCapOnce) {
    StreamState st;
    acceptPreviewPoint(st.ctx, 1.0, 1.0, 1.0, true);
    st.globalSamples = globalPreviewSampleCap;  // as if 2,000,000 samples were appended

    testing::internal::CaptureStdout();
    acceptPreviewPoint(st.ctx, 1.0, 1.0, 2.0, true);
    acceptPreviewPoint(st.ctx, 6.0, 1.0, 3.0, true);
    acceptPreviewPoint(st.ctx, 11.0, 1.0, 3.0, true);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "[XYZ PREVIEW] global preview sample cap reached | acceptedPts=2 | tiles=1 | "
              "samples=2000000\n");
    EXPECT_TRUE(st.capReported);
    EXPECT_EQ(st.globalSamples, globalPreviewSampleCap);
    EXPECT_EQ(st.samples[(TileIndex{0, 0})].size(), 1u);
    EXPECT_TRUE(st.samples[(TileIndex{1, 0})].empty());  // tile born after the cap
    EXPECT_TRUE(st.samples[(TileIndex{2, 0})].empty());
}

TEST(PreviewTiles, StreamProgressLinesAndPointsRead) {
    for (int mode : {0, 1}) {
        StreamState st(2000, mode);
        st.accepted = 999999;
        testing::internal::CaptureStdout();
        acceptPreviewPoint(st.ctx, 0.0, 0.0, 0.0, true);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(st.build.load(), 1000000u);

        st.accepted = 19999999;
        const auto start = std::chrono::steady_clock::now() - std::chrono::milliseconds(1500);
        st.lastProgress = start;
        testing::internal::CaptureStdout();
        acceptPreviewPoint(st.ctx, 0.0, 0.0, 0.0, true);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string modeText = mode == 1 ? "FAST" : "REGULAR";
        std::smatch m;
        ASSERT_TRUE(std::regex_match(
            out, m,
            std::regex("Reading 20M accepted pts \\| preview=([0-9]+) ms \\| mode=" + modeText +
                       "\n")))
            << out;
        EXPECT_GE(std::stoll(m[1].str()), 1500);
        EXPECT_EQ(st.build.load(), 20000000u);
        EXPECT_GT(st.lastProgress, start);
        // The build's own counter plays no part in the cadence.
        EXPECT_EQ(st.buildPoints, 2u);
    }
}

// Far tiles sharing memo slots, in short runs, also on both sides of the indices' 2^30 and
// 2^31 edges: runs leave the counts, samples and draws as one by one.
TEST(PreviewTiles, StreamRunsMatchPointByPointAtFarTiles) {
    std::vector<double> at;
    for (double v : {-0x1p31, -0x1p30 - 32, -0x1p30, -64.0, 0.0, 0x1p30 - 32, 0x1p30, 0x1p31 - 32})
        at.push_back(v + 0.5);
    at.push_back(0x1p30 - 0.5);
    std::vector<double> xs, ys, zs;
    for (std::size_t k = 0; k < 6000; ++k) {
        // Runs of seven, the next tile's slot mostly the same: one index moves, then the other.
        const std::size_t run = k / 7;
        const std::size_t tile = (k < 3000 ? run * 9 + run / 9 : run) % (at.size() * at.size());
        xs.push_back(at[tile % at.size()]);
        ys.push_back(at[tile / at.size()]);
        zs.push_back(static_cast<double>(k));
    }
    StreamState a(4, 0, 1.0), b(4, 0, 1.0);
    for (std::size_t k = 0; k < xs.size(); ++k)
        acceptPreviewPoint(a.ctx, xs[k], ys[k], zs[k], true);
    for (std::size_t i = 0; i < xs.size(); i += 300)
        acceptPreviewPoints(b.ctx, &xs[i], &ys[i], &zs[i],
                            std::min<std::size_t>(300, xs.size() - i), true);
    EXPECT_EQ(a.counts.size(), at.size() * at.size());
    EXPECT_EQ(a.counts, b.counts);
    ASSERT_EQ(a.samples.size(), b.samples.size());
    for (const auto& [tile, list] : a.samples) {
        const auto& other = b.samples[tile];
        ASSERT_EQ(list.size(), other.size());
        for (std::size_t k = 0; k < list.size(); ++k) EXPECT_EQ(list[k].z, other[k].z);
    }
    EXPECT_TRUE(a.gen == b.gen);
}

// Runs of any length must leave the state, the draws and the console lines exactly as taking
// the points one by one: tiles far apart sharing a memo slot, tile-less points, the global cap
// and a progress line falling inside a run.
TEST(PreviewTiles, StreamRunsMatchPointByPoint) {
    std::mt19937_64 data{99};
    std::vector<double> xs, ys, zs;
    while (xs.size() < 6000) {
        const double x = -100.0 + static_cast<double>(data() % 40000) / 100.0;
        const double y = -100.0 + static_cast<double>(data() % 40000) / 100.0;
        for (std::uint64_t k = data() % 20; k-- > 0;) {
            xs.push_back(x + static_cast<double>(k % 3));
            ys.push_back(y);
            zs.push_back(static_cast<double>(xs.size() % 17));
        }
        if (data() % 9 == 0) xs.push_back(kNaN), ys.push_back(1.0), zs.push_back(1.0);
        if (data() % 9 == 0) xs.push_back(1.0), ys.push_back(1.0), zs.push_back(kInf);
        xs.push_back(x + 160.0), ys.push_back(y), zs.push_back(-1.0);  // 32 tiles to the right
    }
    // Tile edges and the ends of the i64 range.
    for (double v : {-5.0, -0.0, -1e-300, std::nextafter(5.0, 0.0), -4.611686018427388e19,
                     -4.611686018427389e19, 4.611686018427387e19, 4.611686018427388e19, 1e300}) {
        xs.push_back(v), ys.push_back(-v), zs.push_back(0.0);
        xs.push_back(3.0), ys.push_back(v), zs.push_back(0.0);
    }
    auto run = [&](StreamState& st, bool oneByOne) {
        st.globalSamples = globalPreviewSampleCap - 300;
        st.accepted = 9997000;
        testing::internal::CaptureStdout();
        std::size_t i = 0;
        for (std::size_t step = 1; i < xs.size(); step = step * 7 % 613 + 1) {
            const std::size_t n = std::min(step, xs.size() - i);
            if (oneByOne)
                for (std::size_t k = i; k < i + n; ++k)
                    acceptPreviewPoint(st.ctx, xs[k], ys[k], zs[k], true);
            else
                acceptPreviewPoints(st.ctx, &xs[i], &ys[i], &zs[i], n, true);
            i += n;
        }
        acceptPreviewPoints(st.ctx, xs.data(), ys.data(), zs.data(), 50, false);
        return std::regex_replace(testing::internal::GetCapturedStdout(), std::regex("=[0-9]+ ms"),
                                  "");
    };
    StreamState a(4), b(4);
    const std::string outA = run(a, true);
    const std::string outB = run(b, false);
    EXPECT_NE(outA.find("cap reached"), std::string::npos);
    EXPECT_NE(outA.find("Reading 10M"), std::string::npos);
    EXPECT_EQ(outA, outB);
    TileCountMap expected;
    for (std::size_t k = 0; k < xs.size() + 50; ++k) {
        const std::size_t j = k < xs.size() ? k : k - xs.size();
        TileIndex t;
        if (std::isfinite(zs[j]) && tryTileIndexFor(xs[j], ys[j], 5.0, t)) ++expected[t];
    }
    EXPECT_EQ(a.counts, expected);
    EXPECT_EQ(b.counts, expected);
    ASSERT_EQ(a.samples.size(), b.samples.size());
    for (const auto& [tile, list] : a.samples) {
        const auto& other = b.samples[tile];
        ASSERT_EQ(list.size(), other.size());
        for (std::size_t k = 0; k < list.size(); ++k) {
            EXPECT_EQ(list[k].x, other[k].x);
            EXPECT_EQ(list[k].z, other[k].z);
        }
    }
    EXPECT_TRUE(a.gen == b.gen);
    EXPECT_EQ(a.build.load(), b.build.load());
    EXPECT_EQ(a.buildPoints, b.buildPoints);
    EXPECT_EQ(a.accepted, b.accepted);
    EXPECT_EQ(a.globalSamples, b.globalSamples);
    EXPECT_EQ(a.capReported, b.capReported);
    EXPECT_EQ((std::array{a.minX, a.maxX, a.minY, a.maxY, a.minZ, a.maxZ}),
              (std::array{b.minX, b.maxX, b.minY, b.maxY, b.minZ, b.maxZ}));
}
