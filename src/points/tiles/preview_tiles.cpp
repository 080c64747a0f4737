#include "points/tiles/preview_tiles.h"

#include <emmintrin.h>
#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
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

// The origin samples are taken from, chosen here when it has not been yet.
inline SampleOrigin originFor(PreviewSampleOrigin* origin, const TileIndex& tile, double z,
                              double tileSize) {
    if (!origin) return SampleOrigin{};
    if (!origin->chosen) {
        origin->at = sampleOriginAt(tile, z, tileSize);
        origin->chosen = true;
    }
    return origin->at;
}

// Takes the coordinate only when the comparison holds, so NaN leaves a bound alone.
inline void widen(double v, double& lo, double& hi) {
    lo = v < lo ? v : lo;  // minsd and maxsd, with these operand orders
    hi = v > hi ? v : hi;
}

template <class Engine>
bool accumulateSampledPoint(const CloudPoint& point, double tileSize, bool withSamples,
                            std::uint64_t cap, std::uint64_t globalCap,
                            std::uint64_t& acceptedCounter, std::uint64_t& globalSamples,
                            double& minX, double& maxX, double& minY, double& maxY, double& minZ,
                            double& maxZ, TileCountMap& tileCounts, TileSampleMap& tileSamples,
                            TileOfferMap& tileOffers, Engine& generator, std::uint64_t weight,
                            PreviewSampleOrigin* origin) {
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
    const SampleOrigin from = originFor(origin, tile, point.z, tileSize);

    if (!withSamples || cap == 0) return true;
    const std::uint64_t offers = ++tileOffers[tile];
    std::vector<Sample2D>& list = tileSamples[tile];
    if (globalSamples < globalCap && list.size() < cap) {
        list.push_back(sampleFrom(from, point.x, point.y, point.z));
        ++globalSamples;
        return true;
    }
    if (list.empty()) return true;
    const std::uint64_t r = generator() % std::max<std::uint64_t>(offers, 1);
    if (r >= cap) return true;
    list[r % list.size()] = sampleFrom(from, point.x, point.y, point.z);
    return true;
}

}  // namespace

bool accumulatePreviewPoint(const CloudPoint& point, double tileSize, bool withSamples,
                            std::uint64_t cap, std::uint64_t globalCap,
                            std::uint64_t& acceptedCounter, std::uint64_t& globalSamples,
                            double& minX, double& maxX, double& minY, double& maxY, double& minZ,
                            double& maxZ, TileCountMap& tileCounts, TileSampleMap& tileSamples,
                            TileOfferMap& tileOffers, std::mt19937_64& generator,
                            std::uint64_t weight, PreviewSampleOrigin* origin) {
    return accumulateSampledPoint(point, tileSize, withSamples, cap, globalCap, acceptedCounter,
                                  globalSamples, minX, maxX, minY, maxY, minZ, maxZ, tileCounts,
                                  tileSamples, tileOffers, generator, weight, origin);
}

bool accumulatePreviewPoint(const CloudPoint& point, double tileSize, bool withSamples,
                            std::uint64_t cap, std::uint64_t globalCap,
                            std::uint64_t& acceptedCounter, std::uint64_t& globalSamples,
                            double& minX, double& maxX, double& minY, double& maxY, double& minZ,
                            double& maxZ, TileCountMap& tileCounts, TileSampleMap& tileSamples,
                            TileOfferMap& tileOffers, MersenneTwister64& generator,
                            std::uint64_t weight, PreviewSampleOrigin* origin) {
    return accumulateSampledPoint(point, tileSize, withSamples, cap, globalCap, acceptedCounter,
                                  globalSamples, minX, maxX, minY, maxY, minZ, maxZ, tileCounts,
                                  tileSamples, tileOffers, generator, weight, origin);
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
    slot.quickKey = PreviewStreamContext::kNotDrawsOnly;
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

// A tile's key for takeQuickPoints: both indices offset into 31 bits, one in each half of the
// word (so that two 32-bit lanes interleave into it), or kUnkeyedPoint beyond that. A key never
// has the top bit, which kUnkeyedPoint, kUnkeyedDrawsOnly (a draws-only slot of such a tile)
// and kNotDrawsOnly all have in different words, so a slot's quickKey only matches its own tile.
constexpr std::int64_t kKeyHalf = std::int64_t{1} << 30;
constexpr std::uint64_t kUnkeyedPoint = std::uint64_t{3} << 62;
constexpr std::uint64_t kUnkeyedDrawsOnly = std::uint64_t{5} << 61;
static_assert(kUnkeyedPoint != PreviewStreamContext::kNotDrawsOnly &&
              kUnkeyedDrawsOnly != PreviewStreamContext::kNotDrawsOnly &&
              (PreviewStreamContext::kNotDrawsOnly >> 63) == 1);
inline std::uint64_t tileKeyOf(std::int64_t ix, std::int64_t iy) {
    if (ix < -kKeyHalf || ix >= kKeyHalf || iy < -kKeyHalf || iy >= kKeyHalf) return kUnkeyedPoint;
    return static_cast<std::uint64_t>(ix + kKeyHalf) | static_cast<std::uint64_t>(iy + kKeyHalf)
                                                           << 32;
}

// The minimum (or maximum) of two lanes, each kept as widen() keeps it over every other point
// of a block, equal to widen() over the whole block in order: the lane with the smaller value,
// or, when the values tie with different bits (zeros of both signs, where the first one seen
// stays), widen() itself over the block.
template <bool kMin>
inline double joinLanes(__m128d lanes, double before, const double* v, std::size_t m) {
    const double a = _mm_cvtsd_f64(lanes);
    const double b = _mm_cvtsd_f64(_mm_unpackhi_pd(lanes, lanes));
    if (kMin ? b < a : b > a) return b;
    if (kMin ? a < b : a > b) return a;
    if (std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b)) return a;
    double r = before;
    for (std::size_t k = 0; k < m; ++k) r = kMin ? (v[k] < r ? v[k] : r) : (v[k] > r ? v[k] : r);
    return r;
}

// Bounds, tiles and window slots of a block's points, two at a time: minpd and maxpd keep
// widen()'s operand order lane by lane, and divpd is the same division as divsd. A pair whose
// quotients lie within 32 bits (and z is finite) is floored in SSE2; any other pair goes
// through streamTileFor.
inline void blockTiles(const double* bx, const double* by, const double* bz, std::size_t m,
                       double tileSize, double bounds[6], std::uint64_t* keys, std::uint32_t* slots,
                       std::uint32_t noTile) {
    const std::size_t pairs = m & ~std::size_t{1};
    __m128d lo[3], hi[3];
    for (int c = 0; c < 3; ++c) {
        lo[c] = _mm_set1_pd(bounds[2 * c]);
        hi[c] = _mm_set1_pd(bounds[2 * c + 1]);
    }
    const __m128d ts = _mm_set1_pd(tileSize);
    const __m128d low = _mm_set1_pd(-2147483648.0);  // -2^31
    const __m128d high = _mm_set1_pd(2147483648.0);  // 2^31, first value out of range
    const __m128i low5 = _mm_set1_epi32(31);
    auto scalarTile = [&](std::size_t k) {
        TileIndex tile{};
        const bool hasTile = std::isfinite(bz[k]) && streamTileFor(bx[k], by[k], tileSize, tile);
        keys[k] = tileKeyOf(tile.ix, tile.iy);
        slots[k] = hasTile ? slotOf(tile) : noTile;
    };
    for (std::size_t i = 0; i < pairs; i += 2) {
        const __m128d x = _mm_loadu_pd(bx + i);
        const __m128d y = _mm_loadu_pd(by + i);
        const __m128d z = _mm_loadu_pd(bz + i);
        lo[0] = _mm_min_pd(x, lo[0]);
        hi[0] = _mm_max_pd(x, hi[0]);
        lo[1] = _mm_min_pd(y, lo[1]);
        hi[1] = _mm_max_pd(y, hi[1]);
        lo[2] = _mm_min_pd(z, lo[2]);
        hi[2] = _mm_max_pd(z, hi[2]);
        const __m128d qx = _mm_div_pd(x, ts);
        const __m128d qy = _mm_div_pd(y, ts);
        // z - z is 0 exactly when z is finite; NaN quotients fail the range tests.
        const __m128d ok =
            _mm_and_pd(_mm_and_pd(_mm_cmpeq_pd(_mm_sub_pd(z, z), _mm_setzero_pd()),
                                  _mm_and_pd(_mm_cmpge_pd(qx, low), _mm_cmplt_pd(qx, high))),
                       _mm_and_pd(_mm_cmpge_pd(qy, low), _mm_cmplt_pd(qy, high)));
        if (_mm_movemask_pd(ok) != 3) [[unlikely]] {
            scalarTile(i);
            scalarTile(i + 1);
            continue;
        }
        // Truncated, then one down where that rounded a negative quotient up.
        const __m128i tx = _mm_cvttpd_epi32(qx);
        const __m128i ty = _mm_cvttpd_epi32(qy);
        const __m128i upX = _mm_castpd_si128(_mm_cmpgt_pd(_mm_cvtepi32_pd(tx), qx));
        const __m128i upY = _mm_castpd_si128(_mm_cmpgt_pd(_mm_cvtepi32_pd(ty), qy));
        const __m128i fx = _mm_add_epi32(tx, _mm_shuffle_epi32(upX, _MM_SHUFFLE(3, 1, 2, 0)));
        const __m128i fy = _mm_add_epi32(ty, _mm_shuffle_epi32(upY, _MM_SHUFFLE(3, 1, 2, 0)));
        const __m128i slot =
            _mm_or_si128(_mm_and_si128(fx, low5), _mm_slli_epi32(_mm_and_si128(fy, low5), 5));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(slots + i), slot);
        keys[i] = tileKeyOf(_mm_cvtsi128_si32(fx), _mm_cvtsi128_si32(fy));
        keys[i + 1] = tileKeyOf(_mm_cvtsi128_si32(_mm_shuffle_epi32(fx, 1)),
                                _mm_cvtsi128_si32(_mm_shuffle_epi32(fy, 1)));
    }
    const double* v[3] = {bx, by, bz};
    for (int c = 0; c < 3; ++c) {
        bounds[2 * c] = joinLanes<true>(lo[c], bounds[2 * c], v[c], pairs);
        bounds[2 * c + 1] = joinLanes<false>(hi[c], bounds[2 * c + 1], v[c], pairs);
    }
    if (pairs < m) {
        widen(bx[pairs], bounds[0], bounds[1]);
        widen(by[pairs], bounds[2], bounds[3]);
        widen(bz[pairs], bounds[4], bounds[5]);
        scalarTile(pairs);
    }
}

// Whether the CPU has AVX-512 F and DQ, for the eight-lane forms of the block loops. The tests
// set BRINDLEWICK_SCALAR_BLOCKS to run the other forms on such a CPU as well.
bool hasAvx512() {
    static const bool wide = [] {
        if (const char* scalar = std::getenv("BRINDLEWICK_SCALAR_BLOCKS"); scalar && *scalar)
            return false;
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    }();
    return wide;
}

// GCC 12 warns about the placeholder operand inside its own AVX-512 intrinsics.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// joinLanes over eight lanes: the lanes' extreme value when every lane holding it has the
// same bits, else widen() itself over the block.
template <bool kMin>
[[gnu::target("avx512f,avx512dq")]] double joinWideLanes(__m512d lanes, double before,
                                                         const double* v, std::size_t m) {
    alignas(64) double l[8];
    _mm512_store_pd(l, lanes);
    double r = l[0];
    for (int j = 1; j < 8; ++j) r = (kMin ? l[j] < r : l[j] > r) ? l[j] : r;
    bool tie = false;
    for (int j = 0; j < 8; ++j)
        tie |= l[j] == r && std::bit_cast<std::uint64_t>(l[j]) != std::bit_cast<std::uint64_t>(r);
    if (!tie) return r;
    r = before;
    for (std::size_t k = 0; k < m; ++k) r = kMin ? (v[k] < r ? v[k] : r) : (v[k] > r ? v[k] : r);
    return r;
}

// blockTiles for a multiple of eight points, eight at a time, with the same operations lane by
// lane; a group with a point that does not take the fast floor goes through streamTileFor.
[[gnu::target("avx512f,avx512dq")]] void blockTilesWide(const double* bx, const double* by,
                                                        const double* bz, std::size_t m,
                                                        double tileSize, double bounds[6],
                                                        std::uint64_t* keys, std::uint32_t* slots,
                                                        std::uint32_t noTile) {
    __m512d lo[3], hi[3];
    for (int c = 0; c < 3; ++c) {
        lo[c] = _mm512_set1_pd(bounds[2 * c]);
        hi[c] = _mm512_set1_pd(bounds[2 * c + 1]);
    }
    const __m512d ts = _mm512_set1_pd(tileSize);
    const __m512d low = _mm512_set1_pd(-2147483648.0);  // -2^31
    const __m512d high = _mm512_set1_pd(2147483648.0);  // 2^31, first value out of range
    // The 32-bit lanes below sit in the low half of a register; the high half is unused.
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i low5 = _mm512_set1_epi32(31);
    const __m512i half = _mm512_set1_epi32(static_cast<int>(kKeyHalf));
    const __m512i span = _mm512_set1_epi32(static_cast<int>(2 * kKeyHalf));
    const __m512i unkeyed = _mm512_set1_epi64(static_cast<std::int64_t>(kUnkeyedPoint));
    // Lane j of the keys takes x's lane j low and y's lane j high.
    const __m512i interleave =
        _mm512_set_epi32(23, 7, 22, 6, 21, 5, 20, 4, 19, 3, 18, 2, 17, 1, 16, 0);
    for (std::size_t i = 0; i < m; i += 8) {
        const __m512d x = _mm512_loadu_pd(bx + i);
        const __m512d y = _mm512_loadu_pd(by + i);
        const __m512d z = _mm512_loadu_pd(bz + i);
        lo[0] = _mm512_min_pd(x, lo[0]);
        hi[0] = _mm512_max_pd(x, hi[0]);
        lo[1] = _mm512_min_pd(y, lo[1]);
        hi[1] = _mm512_max_pd(y, hi[1]);
        lo[2] = _mm512_min_pd(z, lo[2]);
        hi[2] = _mm512_max_pd(z, hi[2]);
        const __m512d qx = _mm512_div_pd(x, ts);
        const __m512d qy = _mm512_div_pd(y, ts);
        const __mmask8 ok =
            _mm512_cmp_pd_mask(_mm512_sub_pd(z, z), _mm512_setzero_pd(), _CMP_EQ_OQ) &
            _mm512_cmp_pd_mask(qx, low, _CMP_GE_OQ) & _mm512_cmp_pd_mask(qx, high, _CMP_LT_OQ) &
            _mm512_cmp_pd_mask(qy, low, _CMP_GE_OQ) & _mm512_cmp_pd_mask(qy, high, _CMP_LT_OQ);
        if (ok != 0xff) [[unlikely]] {
            for (std::size_t k = i; k < i + 8; ++k) {
                TileIndex tile{};
                const bool hasTile =
                    std::isfinite(bz[k]) && streamTileFor(bx[k], by[k], tileSize, tile);
                keys[k] = tileKeyOf(tile.ix, tile.iy);
                slots[k] = hasTile ? slotOf(tile) : noTile;
            }
            continue;
        }
        const __m256i tx = _mm512_cvttpd_epi32(qx);
        const __m256i ty = _mm512_cvttpd_epi32(qy);
        const __mmask8 upX = _mm512_cmp_pd_mask(_mm512_cvtepi32_pd(tx), qx, _CMP_GT_OQ);
        const __mmask8 upY = _mm512_cmp_pd_mask(_mm512_cvtepi32_pd(ty), qy, _CMP_GT_OQ);
        // The floors fit 32 bits, so the rest works in 32-bit lanes.
        const __m512i fx =
            _mm512_mask_sub_epi32(_mm512_castsi256_si512(tx), upX, _mm512_castsi256_si512(tx), one);
        const __m512i fy =
            _mm512_mask_sub_epi32(_mm512_castsi256_si512(ty), upY, _mm512_castsi256_si512(ty), one);
        // tileKeyOf in every lane: offset indices below 2^31, compared as unsigned (an index
        // at or past 2^30 wraps to 2^31 or more).
        const __m512i ox = _mm512_add_epi32(fx, half);
        const __m512i oy = _mm512_add_epi32(fy, half);
        const auto keyed = static_cast<__mmask8>(_mm512_cmplt_epu32_mask(ox, span) &
                                                 _mm512_cmplt_epu32_mask(oy, span));
        const __m512i both = _mm512_permutex2var_epi32(ox, interleave, oy);
        _mm512_storeu_si512(keys + i, _mm512_mask_mov_epi64(unkeyed, keyed, both));
        const __m512i slot = _mm512_or_si512(_mm512_and_si512(fx, low5),
                                             _mm512_slli_epi32(_mm512_and_si512(fy, low5), 5));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(slots + i), _mm512_castsi512_si256(slot));
    }
    const double* v[3] = {bx, by, bz};
    for (int c = 0; c < 3; ++c) {
        bounds[2 * c] = joinWideLanes<true>(lo[c], bounds[2 * c], v[c], m);
        bounds[2 * c + 1] = joinWideLanes<false>(hi[c], bounds[2 * c + 1], v[c], m);
    }
}

#pragma GCC diagnostic pop

// A draw of the reservoir: the tile's count and cap at its point, and the tile's list.
struct ReservoirDraw {
    std::uint64_t tileCount;
    std::uint64_t cap;
    std::vector<Sample2D>* list;
    std::size_t point;  // the point's index in its block
};

// The next count numbers of an engine, in order.
inline void drawNumbers(MersenneTwister64& generator, std::uint64_t* to, std::size_t count) {
    generator.generate(to, count);
}
inline void drawNumbers(std::mt19937_64& generator, std::uint64_t* to, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) to[i] = generator();
}

// number % n, the same value, mostly without the integer division, which is slower than a
// double one: for 2^13 <= n < 2^52 the quotient of the number's top 52 bits by n, truncated,
// is the true quotient or one off either way (the dropped bits move it by less than 1/2, the
// rounding by at most 1/8), and the remainder is then corrected once.
inline std::uint64_t remainderOf(std::uint64_t number, std::uint64_t n) {
    constexpr std::uint64_t kFrom = std::uint64_t{1} << 13;
    constexpr std::uint64_t kBelow = std::uint64_t{1} << 52;
    if (n < kFrom || n >= kBelow) [[unlikely]]
        return number % n;
    const double top = static_cast<double>(static_cast<std::int64_t>(number >> 12)) * 4096.0;
    const auto d = static_cast<std::int64_t>(n);
    const auto q = static_cast<std::int64_t>(top / static_cast<double>(d));
    auto r = static_cast<std::int64_t>(number - static_cast<std::uint64_t>(q) * n);
    r += r < 0 ? d : 0;
    r -= r >= d ? d : 0;
    return static_cast<std::uint64_t>(r);
}

// A draw's number and what it replaces.
inline void drawReservoir(std::uint64_t number, const ReservoirDraw& d, const SampleOrigin& from,
                          double x, double y, double z) {
    const std::uint64_t r = remainderOf(number, std::max<std::uint64_t>(d.tileCount, 1));
    // A full list mostly holds cap samples, so the second division is rarely needed.
    std::vector<Sample2D>& list = *d.list;
    if (r < d.cap) list[r < list.size() ? r : r % list.size()] = sampleFrom(from, x, y, z);
}

// The count a run of points last raised, kept in a register: a scan's points come in runs
// of one tile, and reloading the stored count would chain each point to the last one's store.
// Only valid while nothing else writes the counts, i.e. within one run of points.
struct LastCount {
    std::uint64_t* at = nullptr;
    std::uint64_t value = 0;
};

// The count and the reservoir of a point with a tile; a point that takes a draw is handed to
// draw(). buildPoints and globalSamples are the caller's running values (buildPoints already
// counts this point).
template <class Draw>
[[gnu::always_inline]] inline void takeTilePoint(PreviewStreamContext& ctx, TileIndex tile,
                                                 std::uint32_t at, double x, double y, double z,
                                                 bool withSamples, std::uint64_t buildPoints,
                                                 std::uint64_t& globalSamples, LastCount& last,
                                                 Draw&& draw) {
    PreviewStreamContext::TileSlot* slot = &ctx.recentTiles[at];
    if (slot->count == nullptr || slot->tile.ix != tile.ix || slot->tile.iy != tile.iy)
        slot = &refillSlot(ctx, *slot, tile);
    if (slot->count != last.at) last = LastCount{slot->count, *slot->count};
    const std::uint64_t tileCount = ++last.value;
    *slot->count = tileCount;
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
        list.push_back(sampleFrom(ctx.sampleFrom, x, y, z));
        ++globalSamples;
    } else if (!list.empty()) {
        if (slot->quickKey == PreviewStreamContext::kNotDrawsOnly) {
            const std::uint64_t key = tileKeyOf(tile.ix, tile.iy);
            slot->quickKey = key == kUnkeyedPoint ? kUnkeyedDrawsOnly : key;
        }
        draw(ReservoirDraw{tileCount, cap, &list, 0});
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
    if (std::isfinite(z) && streamTileFor(x, y, ctx.tileSize, tile)) {
        if (ctx.origin && !ctx.origin->chosen) [[unlikely]]
            ctx.sampleFrom = originFor(ctx.origin, tile, z, ctx.tileSize);
        LastCount last;
        takeTilePoint(ctx, tile, slotOf(tile), x, y, z, withSamples, buildPoints, ctx.globalSamples,
                      last, [&](const ReservoirDraw& d) {
                          MersenneTwister64* fast = ctx.generator.fast();
                          drawReservoir(fast ? (*fast)() : (*ctx.generator.standard())(), d,
                                        ctx.sampleFrom, x, y, z);
                      });
    }
    publishProgress(ctx, accepted);
}

// The running totals stay in locals across the run and are stored back when it ends, also
// when it throws: the state is then as after the last point taken. Bounds and tiles of a
// block come first, in a loop without dependencies between points, so that the division and
// conversion chains of many points overlap; counts and reservoir then take the points in
// order.
namespace {

constexpr std::size_t kBlock = 256;

// A block's draws, made in point order once its counts are taken, their numbers drawn at
// once: that keeps the divisions out of the counting loop. Deferring them changes nothing,
// since a list that takes draws gets no more appends (its cap only falls, the global count
// only grows), so its size stays as it is, and nothing reads the samples meanwhile.
struct BlockDraws {
    std::uint64_t tileCount[kBlock];
    std::uint64_t cap[kBlock];
    std::vector<Sample2D>* list[kBlock];
    std::uint32_t point[kBlock];  // in the block
    std::uint64_t numbers[kBlock];

    void add(std::size_t& draws, std::uint64_t count, std::uint64_t c, std::vector<Sample2D>* l,
             std::size_t at) {
        tileCount[draws] = count;
        cap[draws] = c;
        list[draws] = l;
        point[draws++] = static_cast<std::uint32_t>(at);
    }
};

// As for blockTilesWide.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// remainderOf in eight lanes at once, where the CPU has AVX-512 F and DQ: the same steps in
// every lane (the division is then about four times cheaper per value). A group with a count
// outside the double quotient's range is taken by remainderOf itself. Gives the draws whose
// remainder lies below their cap, in order, packed without a branch: whether a draw replaces
// is as good as random, and a missed guess costs more than the whole test. picked needs room
// for seven more than the draws.
[[gnu::target("avx512f,avx512dq")]] std::size_t wideReplacing(std::uint64_t* numbers,
                                                              const std::uint64_t* counts,
                                                              const std::uint64_t* caps,
                                                              std::size_t draws,
                                                              std::uint32_t* picked) {
    const __m512i from = _mm512_set1_epi64(std::int64_t{1} << 13);
    const __m512i below = _mm512_set1_epi64(std::int64_t{1} << 52);
    const __m512i step = _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0);
    std::size_t taken = 0;
    for (std::size_t k = 0; k < draws; k += 8) {
        const __mmask8 in = draws - k >= 8 ? 0xff : static_cast<__mmask8>((1u << (draws - k)) - 1);
        const __m512i number = _mm512_maskz_loadu_epi64(in, numbers + k);
        const __m512i n = _mm512_maskz_loadu_epi64(in, counts + k);
        __m512i r;
        if (in != 0xff ||
            (_mm512_cmpge_epu64_mask(n, from) & _mm512_cmplt_epu64_mask(n, below)) != 0xff) {
            for (std::size_t j = k; j < k + 8 && j < draws; ++j)
                numbers[j] = remainderOf(numbers[j], std::max<std::uint64_t>(counts[j], 1));
            r = _mm512_maskz_loadu_epi64(in, numbers + k);
        } else {
            const __m512d top =
                _mm512_mul_pd(_mm512_cvtepi64_pd(_mm512_maskz_srli_epi64(0xff, number, 12)),
                              _mm512_set1_pd(4096.0));
            const __m512i q = _mm512_cvttpd_epi64(_mm512_div_pd(top, _mm512_cvtepi64_pd(n)));
            r = _mm512_sub_epi64(number, _mm512_mullo_epi64(q, n));
            r = _mm512_mask_add_epi64(r, _mm512_cmplt_epi64_mask(r, _mm512_setzero_si512()), r, n);
            r = _mm512_mask_sub_epi64(r, _mm512_cmpge_epi64_mask(r, n), r, n);
            _mm512_storeu_si512(numbers + k, r);
        }
        const __m512i cap = _mm512_maskz_loadu_epi64(in, caps + k);
        const __mmask8 replaces = _mm512_mask_cmplt_epu64_mask(in, r, cap);
        const __m512i at = _mm512_add_epi64(step, _mm512_set1_epi64(static_cast<std::int64_t>(k)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(picked + taken),
                            _mm512_cvtepi64_epi32(_mm512_maskz_compress_epi64(replaces, at)));
        taken += static_cast<std::size_t>(std::popcount(static_cast<unsigned>(replaces)));
    }
    return taken;
}
#pragma GCC diagnostic pop

// Out of line and given the count by value, so that the counting loop keeps its own locals
// in registers.
template <class Engine>
[[gnu::noinline]] void takeDraws(Engine& generator, BlockDraws& d, std::size_t draws,
                                 const SampleOrigin& origin, const double* bx, const double* by,
                                 const double* bz) {
    drawNumbers(generator, d.numbers, draws);
    const bool wide = hasAvx512();
    // The replaced samples first, their lines asked for all at once: the lists together are
    // far larger than the caches, and a store that waits for its line holds up all later ones.
    // The writes then follow in draw order, so a sample replaced twice keeps the later point.
    Sample2D* to[kBlock];
    std::uint32_t from[kBlock];
    std::size_t taken = 0;
    // A full list mostly holds cap samples, so the second division is rarely needed.
    auto replace = [&](std::size_t k, std::uint64_t r) {
        std::vector<Sample2D>& list = *d.list[k];
        Sample2D* at = list.data() + (r < list.size() ? r : r % list.size());
        __builtin_prefetch(at, 1);
        __builtin_prefetch(reinterpret_cast<const char*>(at) + sizeof(Sample2D) - 1, 1);
        to[taken] = at;
        from[taken++] = d.point[k];
    };
    if (wide) {
        std::uint32_t picked[kBlock + 8];
        const std::size_t replacing = wideReplacing(d.numbers, d.tileCount, d.cap, draws, picked);
        for (std::size_t j = 0; j < replacing; ++j) replace(picked[j], d.numbers[picked[j]]);
    } else {
        for (std::size_t k = 0; k < draws; ++k) {
            const std::uint64_t r =
                remainderOf(d.numbers[k], std::max<std::uint64_t>(d.tileCount[k], 1));
            if (r < d.cap[k]) replace(k, r);
        }
    }
    for (std::size_t k = 0; k < taken; ++k) {
        const std::size_t at = from[k];
        *to[k] = sampleFrom(origin, bx[at], by[at], bz[at]);
    }
}

// Where takeQuickPoints stopped, and the block's draws by then.
struct QuickRun {
    std::size_t end;
    std::size_t draws;
};

// Points from..end-1 of a block while each has no tile or the draws-only tile of its window
// slot: counted and queued for a draw at the given cap. Stops at the first other point. Out of
// line and without anything that throws, so that its loop keeps everything in registers.
[[gnu::noinline]] QuickRun takeQuickPoints(PreviewStreamContext::TileSlot* window,
                                           const std::uint32_t* slots, const std::uint64_t* keys,
                                           std::size_t from, std::size_t end, std::uint64_t cap,
                                           BlockDraws& d, std::size_t draws) {
    constexpr std::uint32_t kNoTile =
        PreviewStreamContext::kTileSlotsSide * PreviewStreamContext::kTileSlotsSide;
    std::size_t i = from;
    for (; i < end; ++i) {
        const std::uint32_t at = slots[i];
        if (at == kNoTile) continue;
        const PreviewStreamContext::TileSlot& slot = window[at];
        // One comparison: a slot's key matches only a point of its tile, and only once the
        // tile is draws-only (tiles beyond the keys' range take the slower path).
        if (slot.quickKey != keys[i]) break;
        const std::uint64_t tileCount = *slot.count + 1;
        *slot.count = tileCount;
        d.add(draws, tileCount, cap, slot.samples, i);
    }
    return QuickRun{i, draws};
}

// The origin at the block's first point with a tile, when the block has one.
[[gnu::noinline]] void chooseBlockOrigin(PreviewStreamContext& ctx, const double* bx,
                                         const double* by, const double* bz,
                                         const std::uint32_t* slots, std::size_t m,
                                         std::uint32_t noTile) {
    for (std::size_t k = 0; k < m; ++k) {
        TileIndex tile;
        if (slots[k] == noTile || !streamTileFor(bx[k], by[k], ctx.tileSize, tile)) continue;
        ctx.sampleFrom = originFor(ctx.origin, tile, bz[k], ctx.tileSize);
        return;
    }
}

template <class Engine>
void acceptPointRun(PreviewStreamContext& ctx, Engine& generator, const double* xs,
                    const double* ys, const double* zs, std::size_t n, bool withSamples) {
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
    std::uint64_t keys[kBlock];
    std::uint32_t slots[kBlock];  // kNoTile for a tile-less point
    std::size_t first = 0;
    std::size_t i = 0;
    double blockBounds[6] = {};
    BlockDraws pending;
    std::size_t draws = 0;
    LastCount last;
    // The progress check of every point, as a comparison: the next multiple to publish at.
    std::uint64_t nextPublish = (accepted / kPublishEvery + 1) * kPublishEvery;
    try {
        for (; first < n; first += kBlock) {
            const std::size_t m = std::min(kBlock, n - first);
            const double* bx = xs + first;
            const double* by = ys + first;
            const double* bz = zs + first;
            const double before[6] = {minX, maxX, minY, maxY, minZ, maxZ};
            std::copy(before, before + 6, blockBounds);
            double bounds[6] = {minX, maxX, minY, maxY, minZ, maxZ};
            const std::size_t wideM = hasAvx512() ? m & ~std::size_t{7} : 0;
            if (wideM != 0)
                blockTilesWide(bx, by, bz, wideM, tileSize, bounds, keys, slots, kNoTile);
            blockTiles(bx + wideM, by + wideM, bz + wideM, m - wideM, tileSize, bounds,
                       keys + wideM, slots + wideM, kNoTile);
            minX = bounds[0], maxX = bounds[1], minY = bounds[2];
            maxY = bounds[3], minZ = bounds[4], maxZ = bounds[5];
            if (ctx.origin && !ctx.origin->chosen) [[unlikely]]
                chooseBlockOrigin(ctx, bx, by, bz, slots, m, kNoTile);
            draws = 0;
            // A point of a draws-only tile skips takeTilePoint's checks while they cannot come
            // out otherwise: nothing is to be reported and the cap is the current one.
            auto quickDraws = [&] {
                return withSamples &&
                       !(globalSamples >= globalPreviewSampleCap && !ctx.capReported) &&
                       ctx.capTileCount == ctx.tileCounts.size();
            };
            bool quick = quickDraws();
            for (i = 0; i < m; ++i) {
                if (quick) {
                    // Up to the point before the next progress multiple, which is taken below.
                    const std::size_t limit = i + static_cast<std::size_t>(std::min<std::uint64_t>(
                                                      m - i, nextPublish - accepted - 1));
                    const QuickRun run =
                        takeQuickPoints(ctx.recentTiles.data(), slots, keys, i, limit,
                                        ctx.capForTileCount, pending, draws);
                    buildPoints += run.end - i;
                    accepted += run.end - i;
                    draws = run.draws;
                    last.at = nullptr;  // the slow path reloads the count it raises
                    i = run.end;
                    if (i == m) break;
                }
                ++buildPoints;
                ++accepted;
                const std::uint32_t at = slots[i];
                if (at != kNoTile) {
                    // The block pass keeps no tiles: this path is rare enough to floor again,
                    // to the same tile (the point has one, as it has a slot).
                    TileIndex tile;
                    streamTileFor(bx[i], by[i], tileSize, tile);
                    PreviewStreamContext::TileSlot& slot = ctx.recentTiles[at];
                    if (quick && slot.quickKey != PreviewStreamContext::kNotDrawsOnly &&
                        slot.tile.ix == tile.ix && slot.tile.iy == tile.iy) {
                        const std::uint64_t tileCount = *slot.count + 1;
                        *slot.count = tileCount;
                        last.at = nullptr;
                        pending.add(draws, tileCount, ctx.capForTileCount, slot.samples, i);
                    } else {
                        takeTilePoint(ctx, tile, at, bx[i], by[i], bz[i], withSamples, buildPoints,
                                      globalSamples, last, [&](const ReservoirDraw& d) {
                                          pending.add(draws, d.tileCount, d.cap, d.list, i);
                                      });
                        quick = quickDraws();
                    }
                }
                if (accepted == nextPublish) [[unlikely]] {
                    nextPublish += kPublishEvery;
                    publishProgress(ctx, accepted);
                }
            }
            takeDraws(generator, pending, draws, ctx.sampleFrom, bx, by, bz);
            draws = 0;
        }
    } catch (...) {
        // the draws of the points before the failing one
        takeDraws(generator, pending, draws, ctx.sampleFrom, xs + first, ys + first, zs + first);
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

}  // namespace

void acceptPreviewPoints(PreviewStreamContext& ctx, const double* xs, const double* ys,
                         const double* zs, std::size_t n, bool withSamples) {
    if (MersenneTwister64* fast = ctx.generator.fast())
        acceptPointRun(ctx, *fast, xs, ys, zs, n, withSamples);
    else
        acceptPointRun(ctx, *ctx.generator.standard(), xs, ys, zs, n, withSamples);
}
