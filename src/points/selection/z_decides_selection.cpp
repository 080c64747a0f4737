#include "points/selection/z_decides_selection.h"

#include <algorithm>
#include <map>
#include <utility>

namespace {

using Interval = std::pair<double, double>;

// The ranges listing one tile as sorted, disjoint closed intervals. Ranges with a NaN bound
// hold no z and are already left out.
std::vector<Interval> merged(std::vector<Interval> in) {
    std::sort(in.begin(), in.end());
    std::vector<Interval> out;
    for (const Interval& i : in) {
        if (!out.empty() && i.first <= out.back().second)
            out.back().second = std::max(out.back().second, i.second);
        else
            out.push_back(i);
    }
    return out;
}

}  // namespace

ZDecidesSelectionTest::ZDecidesSelectionTest(const TileSet& selectedTiles,
                                             const std::vector<SelectedHeightRange>& heightRanges,
                                             double tileSize)
    : keepEverything_(selectedTiles.empty() && heightRanges.empty()), tileSize_(tileSize) {
    entries_.push_back(Entry{INFINITY, -INFINITY, 0, 0, false});  // kKeepNone
    entries_.push_back(Entry{INFINITY, -INFINITY, 0, 0, true});   // kKeepAll

    // A listed tile is decided by the ranges that list it, even when none of them holds any z.
    std::unordered_map<TileIndex, std::vector<Interval>, TileIndexHash> listed;
    for (const SelectedHeightRange& r : heightRanges) {
        const double lower = std::min(r.zMin, r.zMax);
        const double upper = std::max(r.zMin, r.zMax);
        const bool holdsZ = !std::isnan(r.zMin) && !std::isnan(r.zMax);
        for (const TileIndex& t : r.tiles) {
            std::vector<Interval>& list = listed[t];
            if (holdsZ) list.emplace_back(lower, upper);
        }
    }

    // Distinct interval sets, numbered after the two fixed entries: the one-interval sets
    // first, so that accepts() can tell the others by their number.
    std::map<std::vector<Interval>, std::uint32_t> entryOfSet;
    std::unordered_map<TileIndex, const std::uint32_t*, TileIndexHash> numberOf;
    for (auto& [tile, list] : listed) {
        std::vector<Interval> set = merged(std::move(list));
        if (set.empty()) continue;  // keeps none, as a tile outside every list
        numberOf.emplace(tile, &entryOfSet.try_emplace(std::move(set), 0).first->second);
    }
    for (const bool split : {false, true}) {
        if (split) firstSplitEntry_ = static_cast<std::uint32_t>(entries_.size());
        for (auto& [set, number] : entryOfSet) {
            if ((set.size() > 1) != split) continue;
            number = static_cast<std::uint32_t>(entries_.size());
            Entry e{set[0].first, set[0].second, static_cast<std::uint32_t>(intervals_.size()), 0,
                    false};
            for (std::size_t i = 1; i < set.size(); ++i)
                intervals_.push_back(ZInterval{set[i].first, set[i].second});
            e.restEnd = static_cast<std::uint32_t>(intervals_.size());
            entries_.push_back(e);
        }
    }
    std::unordered_map<TileIndex, std::uint32_t, TileIndexHash> entryOf;
    for (const auto& [tile, number] : numberOf) entryOf.emplace(tile, *number);
    for (const TileIndex& t : selectedTiles)
        if (listed.find(t) == listed.end()) entryOf.emplace(t, kKeepAll);

    // The grid covers only the tiles that keep something; every other tile keeps none.
    if (entryOf.empty()) return;
    std::int64_t x0 = INT64_MAX, x1 = INT64_MIN, y0 = INT64_MAX, y1 = INT64_MIN;
    for (const auto& entry : entryOf) {
        x0 = std::min(x0, entry.first.ix);
        x1 = std::max(x1, entry.first.ix);
        y0 = std::min(y0, entry.first.iy);
        y1 = std::max(y1, entry.first.iy);
    }
    // Unsigned differences cannot overflow; a box spanning the whole i64 range wraps to 0.
    const std::uint64_t width = static_cast<std::uint64_t>(x1) - static_cast<std::uint64_t>(x0) + 1;
    const std::uint64_t height =
        static_cast<std::uint64_t>(y1) - static_cast<std::uint64_t>(y0) + 1;
    const bool gridFits = width != 0 && height != 0 && width <= kMaxGridCells &&
                          height <= kMaxGridCells / width && entries_.size() <= 65536;
    if (!gridFits) {
        entryByTile_ = std::move(entryOf);
        return;
    }
    gridX0_ = x0;
    gridY0_ = y0;
    gridWidth_ = width;
    gridHeight_ = height;
    grid_.assign(static_cast<std::size_t>(width * height) + 1, kKeepNone);
    for (const auto& [t, e] : entryOf)
        grid_[static_cast<std::size_t>(
            (static_cast<std::uint64_t>(t.ix) - static_cast<std::uint64_t>(x0)) +
            (static_cast<std::uint64_t>(t.iy) - static_cast<std::uint64_t>(y0)) * width)] =
            static_cast<std::uint16_t>(e);

    // The fast path needs the box in exact doubles next to floors below 2^51.
    constexpr std::int64_t kNear = std::int64_t{1} << 40;
    if (x0 <= -kNear || x0 >= kNear || y0 <= -kNear || y0 >= kNear) return;
    gridOrigin_ = _mm_set_pd(static_cast<double>(y0), static_cast<double>(x0));
    gridSize_ = _mm_set_pd(static_cast<double>(height), static_cast<double>(width));
    gridStride_ = _mm_set_pd(static_cast<double>(width), 1.0);
    gridOutside_ = _mm_set1_pd(static_cast<double>(width * height));
    // x * (1 / size) is within 3 units in the last place of x / size when 1 / size is a normal
    // double, so 2^-50 of (|q| + 1) is a safe distance from a tile edge.
    const double magnitude = std::fabs(tileSize);
    if (magnitude > 0x1p-1000 && magnitude < 0x1p1000) {
        inverse_ = _mm_set1_pd(1.0 / tileSize);
        int exponent = 0;
        margin_ = _mm_set1_pd(std::frexp(magnitude, &exponent) == 0.5 ? 0.0 : 0x1p-50);
    }
}

std::uint32_t ZDecidesSelectionTest::entryOfExact(double x, double y) const {
    TileIndex tile;
    if (!tryTileIndexFor(x, y, tileSize_, tile)) return kKeepNone;
    if (grid_.empty()) {
        const auto it = entryByTile_.find(tile);
        return it == entryByTile_.end() ? kKeepNone : it->second;
    }
    const std::uint64_t dx =
        static_cast<std::uint64_t>(tile.ix) - static_cast<std::uint64_t>(gridX0_);
    const std::uint64_t dy =
        static_cast<std::uint64_t>(tile.iy) - static_cast<std::uint64_t>(gridY0_);
    if (dx >= gridWidth_ || dy >= gridHeight_) return kKeepNone;
    return grid_[static_cast<std::size_t>(dx + dy * gridWidth_)];
}

bool ZDecidesSelectionTest::inRest(const Entry& e, double z) const {
    for (std::uint32_t i = e.restBegin; i < e.restEnd; ++i)
        if (intervals_[i].lower <= z && z <= intervals_[i].upper) return true;
    return false;
}
