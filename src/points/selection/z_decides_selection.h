#pragma once

#include <emmintrin.h>

#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// The Z-decides rule prepared once per export: a tile listed by a vertical selection keeps the
// points within one of its ranges, another tile of selectedTiles keeps every point, and with
// neither list every point passes. The answers are pointPassesSelection's.
//
// Each tile is reduced to one entry of a small table: keep none, keep all, or the merged,
// sorted and disjoint z intervals of the ranges that list it (one entry per distinct set). A
// grid over the box of the tiles that keep anything holds each tile's entry number. A point's
// tile comes from x and y times 1 / size, both in one SSE2 register, kept only where it is
// sure to be the tile x / size gives; so a point costs a few vector operations, a grid read
// and a compare or two, whatever the number of tiles and ranges. Without the grid (a box too
// large) a hash lookup finds the entry.
class ZDecidesSelectionTest {
public:
    static constexpr std::uint64_t kMaxGridCells = std::uint64_t{1} << 23;  // 16 MiB at most

    ZDecidesSelectionTest(const TileSet& selectedTiles,
                          const std::vector<SelectedHeightRange>& heightRanges, double tileSize);

    bool accepts(double x, double y, double z) const {
        if (keepEverything_) return true;
        const std::uint32_t entry = entryOf(x, y);
        const Entry& e = entries_[entry];
        const bool in = e.all | ((e.lower <= z) & (z <= e.upper));  // NaN z fails the interval
        if (entry < firstSplitEntry_) return in;
        return in || inRest(e, z);
    }

    bool usesGrid() const { return !grid_.empty(); }

private:
    struct ZInterval {
        double lower;
        double upper;
    };
    // all: every z, NaN included. Otherwise [lower, upper] and, from firstSplitEntry_ on,
    // intervals_[restBegin, restEnd).
    struct Entry {
        double lower;
        double upper;
        std::uint32_t restBegin;
        std::uint32_t restEnd;
        bool all;
    };
    static constexpr std::uint16_t kKeepNone = 0;
    static constexpr std::uint16_t kKeepAll = 1;

    // Both coordinates at once in SSE2 lanes (x, y). Needs round-to-nearest, the default.
    std::uint32_t entryOf(double x, double y) const {
        const __m128d abs = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffff));
        const __m128d one = _mm_set1_pd(1.0);
        const __m128d zero = _mm_setzero_pd();
        const __m128d toInteger = _mm_set1_pd(6755399441055744.0);  // 1.5 * 2^52
        const __m128d q = _mm_mul_pd(_mm_set_pd(y, x), inverse_);
        const __m128d a = _mm_and_pd(q, abs);
        // The nearest integer of q (|q| < 2^51) and the exact distance to it.
        const __m128d r = _mm_sub_pd(_mm_add_pd(q, toInteger), toInteger);
        const __m128d d = _mm_sub_pd(q, r);
        // q may differ from x / size by a few units in the last place; farther than that
        // from an integer, both have the same floor. NaN and far-out coordinates fail here.
        const __m128d fast =
            _mm_and_pd(_mm_cmplt_pd(a, _mm_set1_pd(0x1p51)),
                       _mm_cmpge_pd(_mm_and_pd(d, abs), _mm_mul_pd(_mm_add_pd(a, one), margin_)));
        if (_mm_movemask_pd(fast) != 3) [[unlikely]]
            return entryOfExact(x, y);
        // floor(q) less the box origin, and the cell number: small integers, exact in doubles.
        const __m128d f =
            _mm_sub_pd(_mm_sub_pd(r, _mm_and_pd(_mm_cmplt_pd(d, zero), one)), gridOrigin_);
        __m128d in = _mm_and_pd(_mm_cmpge_pd(f, zero), _mm_cmplt_pd(f, gridSize_));
        in = _mm_and_pd(in, _mm_unpackhi_pd(in, in));
        const __m128d rows = _mm_mul_pd(f, gridStride_);
        const __m128d cell = _mm_add_sd(rows, _mm_unpackhi_pd(rows, rows));
        // Outside the box: the cell past the end, which keeps none.
        const __m128d chosen = _mm_or_pd(_mm_and_pd(in, cell), _mm_andnot_pd(in, gridOutside_));
        return grid_[static_cast<std::size_t>(_mm_cvttsd_si32(chosen))];
    }

    // floor(x / size) as pointPassesSelection computes it, then the grid or the hash map.
    std::uint32_t entryOfExact(double x, double y) const;
    bool inRest(const Entry& e, double z) const;

    bool keepEverything_;
    double tileSize_;
    // Per lane: 1 / size; the relative margin for the floor of the product (0 when 1 / size
    // is exact, a power of two; infinite when the product is not used: no grid or an extreme
    // size); the box origin, size, (1, width) and the cell past the end, all exact.
    __m128d inverse_ = _mm_setzero_pd();
    __m128d margin_ = _mm_set1_pd(INFINITY);
    __m128d gridOrigin_ = _mm_setzero_pd();
    __m128d gridSize_ = _mm_setzero_pd();
    __m128d gridStride_ = _mm_setzero_pd();
    __m128d gridOutside_ = _mm_setzero_pd();
    // kKeepNone, kKeepAll, the one-interval sets, then from firstSplitEntry_ on the others.
    std::vector<Entry> entries_;
    std::uint32_t firstSplitEntry_ = 2;
    std::vector<ZInterval> intervals_;  // the second and later intervals of each set
    // Entry of tile (ix - gridX0_) + (iy - gridY0_) * gridWidth_, then one cell of kKeepNone;
    // empty without a grid.
    std::vector<std::uint16_t> grid_;
    std::int64_t gridX0_ = 0;
    std::int64_t gridY0_ = 0;
    std::uint64_t gridWidth_ = 0;
    std::uint64_t gridHeight_ = 0;
    std::unordered_map<TileIndex, std::uint32_t, TileIndexHash> entryByTile_;  // without a grid
};
