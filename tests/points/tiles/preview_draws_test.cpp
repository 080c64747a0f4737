#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "points/tiles/mersenne_twister_64.h"
#include "points/tiles/preview_tiles.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(MersenneTwister64, GivesStdMt19937_64sNumbers) {
    for (const std::uint64_t seed : {std::uint64_t{1234567}, std::uint64_t{0}, ~std::uint64_t{0}}) {
        std::mt19937_64 want(seed);
        MersenneTwister64 got(seed);
        // Several refills, then a discard that ends inside a block.
        for (int i = 0; i < 5000; ++i) ASSERT_EQ(got(), want()) << "seed " << seed << " draw " << i;
        want.discard(700);
        got.discard(700);
        for (int i = 0; i < 700; ++i) ASSERT_EQ(got(), want()) << "after discard, draw " << i;
        want.seed(seed + 1);
        got.seed(seed + 1);
        for (int i = 0; i < 400; ++i) ASSERT_EQ(got(), want()) << "after reseed, draw " << i;
        // In bulk, from inside a block across two refills.
        std::vector<std::uint64_t> bulk(700);
        got.generate(bulk.data(), bulk.size());
        for (std::size_t i = 0; i < bulk.size(); ++i) ASSERT_EQ(bulk[i], want()) << "bulk " << i;
        ASSERT_EQ(got(), want());
    }
}

// One E57 stream build's state, with either engine.
template <class Engine>
struct Stream {
    double minX = kInf, maxX = -kInf, minY = kInf, maxY = -kInf, minZ = kInf, maxZ = -kInf;
    std::uint64_t buildPoints = 0, accepted = 0, globalSamples = 0;
    TileCountMap counts;
    TileSampleMap samples;
    bool capReported = false;
    Engine gen{1234567};
    std::atomic<std::uint64_t> build{0};
    std::chrono::steady_clock::time_point lastProgress = std::chrono::steady_clock::now();
    PreviewStreamContext ctx{minX,          maxX,        minY, maxY,   minZ,         maxZ,
                             buildPoints,   accepted,    2.0,  counts, samples,      20,
                             globalSamples, capReported, gen,  build,  lastProgress, 0};
};

std::array<std::uint64_t, 6> boundBits(double a, double b, double c, double d, double e, double f) {
    return {std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b),
            std::bit_cast<std::uint64_t>(c), std::bit_cast<std::uint64_t>(d),
            std::bit_cast<std::uint64_t>(e), std::bit_cast<std::uint64_t>(f)};
}

// The build's engine through runs of points against std::mt19937_64 point by point: the same
// counts, samples, bounds to the bit (zeros of both signs, which come first) and draws.
TEST(PreviewDraws, RunsWithTheBuildEngineMatchStdPointByPoint) {
    std::mt19937_64 data(5);
    std::vector<double> xs, ys, zs;
    while (xs.size() < 40000) {
        const double x = static_cast<double>(data() % 3000) / 100.0;
        const double y = -static_cast<double>(data() % 2000) / 100.0;
        for (std::uint64_t k = data() % 30; k-- > 0;)
            xs.push_back(x), ys.push_back(y), zs.push_back(static_cast<double>(k));
        if (data() % 7 == 0) xs.push_back(kNaN), ys.push_back(1.0), zs.push_back(1.0);
        if (data() % 7 == 0) xs.push_back(1.0), ys.push_back(-kInf), zs.push_back(1.0);
        if (data() % 7 == 0) xs.push_back(2.0), ys.push_back(1.0), zs.push_back(kNaN);
        if (data() % 11 == 0) xs.push_back(1e12), ys.push_back(-3e10), zs.push_back(2.0);
    }
    // Signed zeros in both orders and lanes, on every coordinate.
    for (const double first : {-0.0, 0.0}) {
        xs.push_back(first), ys.push_back(first), zs.push_back(first);
        xs.push_back(-first), ys.push_back(-first), zs.push_back(-first);
        xs.push_back(-first), ys.push_back(first), zs.push_back(-first);
    }
    Stream<std::mt19937_64> a;
    Stream<MersenneTwister64> b;
    for (std::size_t k = 0; k < xs.size(); ++k)
        acceptPreviewPoint(a.ctx, xs[k], ys[k], zs[k], true);
    for (std::size_t i = 0, step = 1; i < xs.size(); i += step, step = step * 5 % 4099 + 1)
        acceptPreviewPoints(b.ctx, &xs[i], &ys[i], &zs[i], std::min(step, xs.size() - i), true);

    EXPECT_EQ(a.counts, b.counts);
    ASSERT_EQ(a.samples.size(), b.samples.size());
    for (const auto& [tile, list] : a.samples) {
        const auto& other = b.samples[tile];
        ASSERT_EQ(list.size(), other.size());
        for (std::size_t k = 0; k < list.size(); ++k) {
            EXPECT_EQ(list[k].x, other[k].x);
            EXPECT_EQ(list[k].y, other[k].y);
            EXPECT_EQ(list[k].z, other[k].z);
        }
    }
    EXPECT_EQ(boundBits(a.minX, a.maxX, a.minY, a.maxY, a.minZ, a.maxZ),
              boundBits(b.minX, b.maxX, b.minY, b.maxY, b.minZ, b.maxZ));
    EXPECT_EQ(a.buildPoints, b.buildPoints);
    EXPECT_EQ(a.globalSamples, b.globalSamples);
    EXPECT_EQ(a.gen(), b.gen());  // the same number of draws made
}

// Zeros of both signs in different lanes of a block's eight-lane bounds, the later lane first
// in the stream: the bounds keep the first zero seen, as point by point.
TEST(PreviewDraws, SignedZeroBoundsAcrossLanesMatchPointByPoint) {
    for (const double first : {-0.0, 0.0}) {
        std::vector<double> v(16, 1.0);
        v[1] = first;
        v[8] = -first;
        std::vector<double> w(16);
        for (std::size_t k = 0; k < w.size(); ++k) w[k] = -v[k];
        Stream<std::mt19937_64> a;
        Stream<MersenneTwister64> b;
        for (std::size_t k = 0; k < v.size(); ++k)
            acceptPreviewPoint(a.ctx, v[k], w[k], v[k], true);
        acceptPreviewPoints(b.ctx, v.data(), w.data(), v.data(), v.size(), true);
        EXPECT_EQ(boundBits(a.minX, a.maxX, a.minY, a.maxY, a.minZ, a.maxZ),
                  boundBits(b.minX, b.maxX, b.minY, b.maxY, b.minZ, b.maxZ));
    }
}

// Tiles whose counts pass 2^13, where the draw's remainder is no longer taken by the integer
// division: the reservoir rule written out with std::mt19937_64 and % gives the same samples.
TEST(PreviewDraws, LargeTileCountsDrawAsTheModuloRule) {
    std::mt19937_64 data(11);
    std::vector<double> xs, ys, zs;
    for (int k = 0; k < 200000; ++k) {
        xs.push_back(static_cast<double>(data() % 400) / 100.0);  // two tiles of 2 m
        ys.push_back(1.0);
        zs.push_back(static_cast<double>(k));
    }
    constexpr std::uint64_t kCap = 20;  // requested 20, two tiles
    std::mt19937_64 gen(1234567);
    std::uint64_t counts[2] = {0, 0};
    std::vector<float> want[2];
    for (std::size_t k = 0; k < xs.size(); ++k) {
        const int t = xs[k] < 2.0 ? 0 : 1;
        const std::uint64_t count = ++counts[t];
        if (want[t].size() < kCap) {
            want[t].push_back(static_cast<float>(zs[k]));
        } else if (const std::uint64_t r = gen() % count; r < kCap) {
            want[t][r % want[t].size()] = static_cast<float>(zs[k]);
        }
    }
    // In runs (remainders of a block at once) and point by point (one at a time).
    Stream<MersenneTwister64> runs;
    for (std::size_t i = 0; i < xs.size(); i += 4096)
        acceptPreviewPoints(runs.ctx, &xs[i], &ys[i], &zs[i],
                            std::min<std::size_t>(4096, xs.size() - i), true);
    Stream<std::mt19937_64> single;
    for (std::size_t k = 0; k < xs.size(); ++k)
        acceptPreviewPoint(single.ctx, xs[k], ys[k], zs[k], true);

    for (auto* samples : {&runs.samples, &single.samples}) {
        for (int t = 0; t < 2; ++t) {
            const std::vector<Sample2D>& got = (*samples)[TileIndex{t, 0}];
            ASSERT_EQ(got.size(), want[t].size());
            for (std::size_t k = 0; k < got.size(); ++k)
                EXPECT_EQ(got[k].z, want[t][k]) << t << " " << k;
        }
    }
    EXPECT_EQ(runs.counts, single.counts);
    EXPECT_EQ(runs.counts[(TileIndex{0, 0})], counts[0]);
    const std::uint64_t next = gen();
    EXPECT_EQ(runs.gen(), next);
    EXPECT_EQ(single.gen(), next);
}

}  // namespace
