#include "gui/top_view.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "gui/height_color.h"
#include "gui/input_kind.h"
#include "gui/view_draw.h"
#include "imgui.h"

namespace {

enum : std::uint8_t {
    kInMap = 1,
    kSelected = 2,
    kHighlightTop = 4,
    kHighlightVertical = 8,
};

// Per-frame tables of the visible cells, kept between frames so that a frame allocates
// nothing once they have grown.
struct VisibleCell {
    const Sample2D* samples = nullptr;
    std::uint32_t sampleCount = 0;
    std::uint8_t flags = 0;
};

// Up to this cell size several samples of a tile meet on one pixel often enough that
// drawing each pixel once saves most of the squares; the merge grid stays small.
constexpr float kMergeMaxCell = 16.0f;
// A cell's samples cover ceil(cell) + 2 pixels a side at most, kept in rows of 8 (a cell of
// up to 6 px: one 64-bit word of flags) or of 32.
constexpr int kMergeMaxSide = static_cast<int>(kMergeMaxCell) + 2;
constexpr int kMergeSlots = kMergeMaxSide * 32;
constexpr int kMergeWords = kMergeSlots / 64;

// The pixels of one small cell while its samples are merged: the last sample on each pixel
// and which pixels have one; pixel (i, j) of the grid is the screen pixel from (x0 + i, y0 + j).
struct PixelMerge {
    std::uint32_t last[kMergeSlots];
    std::uint64_t occupied[kMergeWords];
    float x0 = 0.0f;
    float y0 = 0.0f;
    int rowShift = 3;  // a row holds 1 << rowShift pixels
    int used = 0;
};

// The merged pixels of a cell, ready to draw: pixel (key & (2^rowShift - 1), key >> rowShift)
// from the screen pixel at (x0, y0).
struct PixelRun {
    const std::uint16_t* keys = nullptr;
    const ImU32* colors = nullptr;
    int count = 0;
    float x0 = 0.0f;
    float y0 = 0.0f;
    int rowShift = 3;
};

// The merged pixels of small cells, kept from frame to frame while what they depend on stays:
// the maps (every change of them moves mapsVersion, or their address or size), the grid's
// size and sub-pixel phase. Copies, never pointers into the maps; kept only for consecutive
// frames of one ImGui context, so another window never sees them. A change of the colours
// alone only colours them again.
struct PixelCacheKey {
    const void* context = nullptr;
    const void* gui = nullptr;
    const void* counts = nullptr;
    const void* samples = nullptr;
    std::uint64_t mapsVersion = 0;
    std::size_t countSize = 0;
    std::size_t sampleSize = 0;
    std::int64_t minX = 0;
    std::int64_t minY = 0;
    std::int64_t maxX = 0;
    std::int64_t maxY = 0;
    double tileSize = 0.0;
    SampleOrigin origin;
    float cell = 0.0f;
    float stride = 0.0f;
    float phaseX = 0.0f;
    float phaseY = 0.0f;
    bool operator==(const PixelCacheKey&) const = default;
};

struct PixelColorKey {
    float heightScale = 0.0f;
    float heightOffset = 0.0f;
    std::uint32_t color = 0;  // the one colour, or the alpha bits of the ramp's
    float sensitivity = 0.0f;
    float centre = 0.0f;
    bool operator==(const PixelColorKey&) const = default;
};

struct CachedCell {
    std::uint32_t first = 0;  // into the pools
    std::uint16_t count = 0;
    bool known = false;
    bool inMap = false;
};

// Past this many grid cells (a sparse map over a large area) nothing is kept.
constexpr std::int64_t kMaxCachedCells = std::int64_t{1} << 20;

// Merged pixels one after another; grown in large steps, not per cell.
struct PixelPool {
    std::vector<std::uint16_t> keys;
    std::vector<ImU32> colors;
    std::vector<float> z;  // of the sample each pixel shows
    std::size_t used = 0;
    void makeRoom(std::size_t n) {
        if (keys.size() >= used + n) return;
        const std::size_t size = std::max(2 * keys.size(), used + n + 4096);
        keys.resize(size);
        colors.resize(size);
        z.resize(size);
    }
};

struct PixelCache {
    PixelCacheKey key;
    PixelColorKey colorKey;
    int lastFrame = -1;
    std::vector<CachedCell> cells;  // cols x rows, row r from minY
    PixelPool pool;
};

// The outlines of the cells, taken from ImGui's own calls on the first cell of each kind in a
// frame and drawn again for the others.
enum OutlineKind {
    kOutlineSelected,
    kOutlineInMap,
    kOutlineEmpty,
    kOutlineTop,
    kOutlineVertical,
    kOutlineKinds
};

// A walk over a whole map, which chases one node after another through memory. The nodes'
// addresses of the last walk are kept and fetched ahead: the map rarely changes between
// frames, and a stale address costs only a useless prefetch. Two walks stepped in turn keep
// two chains of loads going at once.
template <class Map>
class MapWalk {
public:
    MapWalk(const Map* map, std::vector<std::uintptr_t>& hints)
        : it_(map ? map->begin() : typename Map::const_iterator{}),
          end_(map ? map->end() : typename Map::const_iterator{}),
          hints_(hints),
          known_(hints.size()) {}
    ~MapWalk() { hints_.resize(i_); }
    MapWalk(const MapWalk&) = delete;
    MapWalk& operator=(const MapWalk&) = delete;

    bool done() const { return it_ == end_; }
    template <class Visit>
    void step(Visit&& visit) {
        constexpr std::size_t kAhead = 16;
        if (i_ + kAhead < known_) {
            // Kept as numbers: the address may be of a node long gone.
            const std::uintptr_t entry = hints_[i_ + kAhead];
            __builtin_prefetch(reinterpret_cast<const void*>(entry - 8));  // its link
            __builtin_prefetch(reinterpret_cast<const void*>(entry + 32));
        }
        const auto& entry = *it_;
        visit(entry);
        const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(&entry);
        if (i_ < known_)
            hints_[i_] = address;
        else
            hints_.push_back(address);
        ++i_;
        ++it_;
    }

private:
    typename Map::const_iterator it_;
    typename Map::const_iterator end_;
    std::vector<std::uintptr_t>& hints_;
    std::size_t known_;
    std::size_t i_ = 0;
};

struct TopViewScratch {
    std::vector<std::uintptr_t> countHints;
    std::vector<std::uintptr_t> sampleHints;
    std::vector<VisibleCell> cells;
    std::vector<float> voxelT;  // n x n, below 0 when empty
    std::vector<std::uint32_t> touchedVoxels;
    PixelMerge merge;
    PixelCache cache;
    DrawStamp outlines[kOutlineKinds];
    HeightColorTable ramp;  // kept while the sensitivity and centre stay
};

TopViewScratch& scratch() {
    static TopViewScratch s;
    return s;
}

// t = z * scale + offset gives the ramp input (the table clamps it).
struct HeightMap {
    float scale = 0.0f;
    float offset = 0.0f;
};

// originZ: the height the samples' z is measured from.
HeightMap heightMapOf(const TileSelectionGuiState& gui, double originZ) {
    HeightMap m;
    if (!gui.haveZRange) return m;
    if (!(gui.zRangeMax > gui.zRangeMin)) {
        m.offset = 0.5f;
        return m;
    }
    const double scale = 1.0 / (gui.zRangeMax - gui.zRangeMin);
    m.scale = static_cast<float>(scale);
    m.offset = static_cast<float>((originZ - gui.zRangeMin) * scale);
    return m;
}

const std::vector<TileIndex>* highlightedTopTiles(const GuiFrame& f) {
    const int i = f.proc.highlightedTopSelection;
    if (i < 0 || static_cast<std::size_t>(i) >= f.in.savedTopSelections.size()) return nullptr;
    return &f.in.savedTopSelections[static_cast<std::size_t>(i)].tiles;
}

const std::vector<TileIndex>* highlightedVerticalTiles(const GuiFrame& f) {
    const int i = f.proc.highlightedVerticalSelection;
    if (i < 0 || static_cast<std::size_t>(i) >= f.in.savedVerticalSelections.size()) return nullptr;
    return &f.in.savedVerticalSelections[static_cast<std::size_t>(i)].tiles;
}

struct ClipRect {
    float x0, y0, x1, y1;
};

// The samples of one cell as dots, by the chosen shape.
struct PointPass {
    ImDrawList* dl;
    ClipRect clip;
    SampleOrigin origin;
    double invTile;
    float cell;
    float radius;
    DotShape shape;
    DotExtent extent;
    HeightMap height;
    const HeightColors* colors;
    int mergeRowShift;  // a merge grid's row holds 1 << mergeRowShift pixels
};

// Where a sample lies in its cell (fractions of the tile, +Y up); false for a sample that has
// none (not finite, or outside the tile).
inline bool samplePointInCell(const PointPass& p, const Sample2D& s, const TileIndex& tile,
                              float cellX, float cellY, float& px, float& py) {
    double fx = 0.0;
    double fy = 0.0;
    if (!sampleFraction(p.origin.x, s.x, p.invTile, tile.ix, fx) ||
        !sampleFraction(p.origin.y, s.y, p.invTile, tile.iy, fy))
        return false;
    px = cellX + p.cell * static_cast<float>(fx);
    py = cellY + p.cell * (1.0f - static_cast<float>(fy));
    return true;
}

// One run of samples as squares (a 1-pixel square is one of side 1 from the position).
// kInside: the whole cell lies within the clip, so no sample needs the test.
template <bool kPixel, bool kInside>
void putPointRun(const PointPass& pass, QuadCursor& out, const Sample2D* list, std::size_t n,
                 const TileIndex& tile, float cellX, float cellY) {
    const PointPass p = pass;  // a local copy: the vertex stores cannot alias it
    const float r = p.radius;
    for (std::size_t k = 0; k < n; ++k) {
        const Sample2D& s = list[k];
        float px = 0.0f;
        float py = 0.0f;
        if (!samplePointInCell(p, s, tile, cellX, cellY, px, py)) continue;
        if (!kInside && (px + p.extent.after < p.clip.x0 || px - p.extent.before > p.clip.x1 ||
                         py + p.extent.after < p.clip.y0 || py - p.extent.before > p.clip.y1))
            continue;
        const ImU32 col = (*p.colors)(s.z * p.height.scale + p.height.offset);
        if (kPixel)
            out.put(px, py, px + 1.0f, py + 1.0f, col);
        else
            out.put(px - r, py - r, px + r, py + r, col);
    }
}

// One cell's 1-pixel samples, each pixel drawn once. A square of side 1 covers the one pixel
// whose centre lies in it; where several cover the same pixel the last one drawn is what shows
// (alpha 0.92 over the rest), so only that one is drawn, as the pixel's own square. Fills `m`
// with the pixels and their last samples, without a branch on whether a pixel is new (which
// would go either way).
//
// The fraction of a sample within its tile is taken in single precision from the tile's edge
// (from the origin) split in two floats: (x - hi) is exact and the result within a few 1e-7
// of the double one.
// A sample outside [0, 1) takes the double path, as the unmerged drawing does.
template <bool kInside, int kRowShift>
void mergeCellPixels(const PointPass& pass, PixelMerge& m, const Sample2D* list, std::size_t n,
                     const TileIndex& tile, float cellX, float cellY) {
    const PointPass p = pass;
    const float cell = p.cell;
    m.rowShift = kRowShift;
    m.x0 = std::floor(cellX);
    m.y0 = std::floor(cellY);
    // Pixel column of a square at px: floor(px - x0 + 0.5), the one whose centre lies in
    // [px, px + 1] (a centre on its very edge may go to either, as the GPU's snapping may);
    // px - x0 + 0.5 = ax + cell * fx, and row: ay - cell * fy.
    const float ax = cellX - m.x0 + 0.5f;
    const float ay = cellY - m.y0 + 0.5f + cell;
    const double edgeX = static_cast<double>(tile.ix) / p.invTile - p.origin.x;
    const double edgeY = static_cast<double>(tile.iy) / p.invTile - p.origin.y;
    const float hiX = static_cast<float>(edgeX);
    const float loX = static_cast<float>(edgeX - static_cast<double>(hiX));
    const float hiY = static_cast<float>(edgeY);
    const float loY = static_cast<float>(edgeY - static_cast<double>(hiY));
    const float inv = static_cast<float>(p.invTile);
    constexpr unsigned kMaxKey = kRowShift == 3 ? 63u : static_cast<unsigned>(kMergeSlots - 1);
    std::uint32_t* const last = m.last;
    std::uint64_t word = 0;
    if (kRowShift != 3)
        for (std::uint64_t& w : m.occupied) w = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const Sample2D& sample = list[k];
        float fx = ((sample.x - hiX) - loX) * inv;
        float fy = ((sample.y - hiY) - loY) * inv;
        if (!(fx >= 0.0f && fx < 1.0f && fy >= 0.0f && fy < 1.0f)) [[unlikely]] {
            double dx = 0.0;
            double dy = 0.0;
            if (!sampleFraction(p.origin.x, sample.x, p.invTile, tile.ix, dx) ||
                !sampleFraction(p.origin.y, sample.y, p.invTile, tile.iy, dy))
                continue;
            fx = static_cast<float>(dx);
            fy = static_cast<float>(dy);
        }
        if (!kInside) {
            const float px = cellX + cell * fx;
            const float py = cellY + cell * (1.0f - fy);
            if (px + 1.0f < p.clip.x0 || px > p.clip.x1 || py + 1.0f < p.clip.y0 || py > p.clip.y1)
                continue;
        }
        // Both at least 0 (fractions in 0..1) and below ceil(cell) + 2.
        const unsigned kx = static_cast<unsigned>(static_cast<int>(ax + cell * fx));
        const unsigned ky = static_cast<unsigned>(static_cast<int>(ay - cell * fy));
        const unsigned key = std::min((ky << kRowShift) + kx, kMaxKey);
        last[key] = static_cast<std::uint32_t>(k);
        const std::uint64_t bit = std::uint64_t{1} << (key & 63u);
        if (kRowShift == 3)
            word |= bit;
        else
            m.occupied[key >> 6] |= bit;
    }
    int used = 0;
    if (kRowShift == 3) {
        m.occupied[0] = word;
        used = std::popcount(word);
    } else {
        for (const std::uint64_t w : m.occupied) used += std::popcount(w);
    }
    m.used = used;
}

// clipped: leave out samples outside the clip (pixels kept for later frames must have all).
void mergeCell(const PointPass& p, PixelMerge& m, const Sample2D* list, std::size_t n,
               const TileIndex& tile, float cellX, float cellY, bool clipped) {
    const bool inside = !clipped || (cellX >= p.clip.x0 && cellX + p.cell + 1.0f <= p.clip.x1 &&
                                     cellY >= p.clip.y0 && cellY + p.cell + 1.0f <= p.clip.y1);
    const bool small = p.mergeRowShift == 3;
    if (inside && small)
        mergeCellPixels<true, 3>(p, m, list, n, tile, cellX, cellY);
    else if (inside)
        mergeCellPixels<true, 5>(p, m, list, n, tile, cellX, cellY);
    else if (small)
        mergeCellPixels<false, 3>(p, m, list, n, tile, cellX, cellY);
    else
        mergeCellPixels<false, 5>(p, m, list, n, tile, cellX, cellY);
}

// The merged pixels as squares, each in its last sample's colour; kept in `keep` as well when
// there is one. The squares are written as the colours come: a loop of lookups first and one
// of squares after it turned out slower.
void putMergedPixels(const PointPass& p, const PixelMerge& m, const Sample2D* list, QuadCursor& out,
                     PixelPool* keep) {
    std::uint16_t* k = nullptr;
    ImU32* c = nullptr;
    float* zs = nullptr;
    if (keep) {
        keep->makeRoom(static_cast<std::size_t>(m.used));
        k = keep->keys.data() + keep->used;
        c = keep->colors.data() + keep->used;
        zs = keep->z.data() + keep->used;
        keep->used += static_cast<std::size_t>(m.used);
    }
    const int words = m.rowShift == 3 ? 1 : kMergeWords;
    const unsigned rowMask = (1u << m.rowShift) - 1;
    for (int w = 0; w < words; ++w)
        for (std::uint64_t bits = m.occupied[w]; bits != 0; bits &= bits - 1) {
            const unsigned key = static_cast<unsigned>(w * 64 + std::countr_zero(bits));
            const float z = list[m.last[key]].z;
            const ImU32 col = (*p.colors)(z * p.height.scale + p.height.offset);
            const float x = m.x0 + static_cast<float>(key & rowMask);
            const float y = m.y0 + static_cast<float>(key >> m.rowShift);
            out.put(x, y, x + 1.0f, y + 1.0f, col);
            if (k) {
                *k++ = static_cast<std::uint16_t>(key);
                *c++ = col;
                *zs++ = z;
            }
        }
}

void putPixels(QuadCursor& out, const PixelRun& run) {
    const unsigned rowMask = (1u << run.rowShift) - 1;
    for (int i = 0; i < run.count; ++i) {
        const unsigned key = run.keys[i];
        const float x = run.x0 + static_cast<float>(key & rowMask);
        const float y = run.y0 + static_cast<float>(key >> run.rowShift);
        out.put(x, y, x + 1.0f, y + 1.0f, run.colors[i]);
    }
}

// What a cell draws after its fills and outlines: pixels kept from an earlier frame, or those
// merged in this one (kept in `keep` when there is one).
struct CellPixels {
    const PixelRun* kept = nullptr;
    const PixelMerge* merged = nullptr;
    const Sample2D* samples = nullptr;
    PixelPool* keep = nullptr;
    int count() const { return kept ? kept->count : merged ? merged->used : 0; }
};

void putCellPixels(const PointPass& p, QuadCursor& out, const CellPixels& px) {
    if (px.kept)
        putPixels(out, *px.kept);
    else if (px.merged)
        putMergedPixels(p, *px.merged, px.samples, out, px.keep);
}

void drawCellPoints(const PointPass& p, QuadWriter& quads, const Sample2D* list, std::size_t n,
                    const TileIndex& tile, float cellX, float cellY) {
    if (p.shape == DotShape::Circle) {
        const float r = p.radius;
        for (std::size_t k = 0; k < n; ++k) {
            const Sample2D& s = list[k];
            float px = 0.0f;
            float py = 0.0f;
            if (!samplePointInCell(p, s, tile, cellX, cellY, px, py)) continue;
            if (px + r < p.clip.x0 || px - r > p.clip.x1 || py + r < p.clip.y0 ||
                py - r > p.clip.y1)
                continue;
            const ImU32 col = (*p.colors)(s.z * p.height.scale + p.height.offset);
            p.dl->AddCircleFilled(ImVec2(px, py), r, col, dotSegments(r));
        }
        return;
    }
    const bool inside =
        cellX - p.extent.before >= p.clip.x0 && cellX + p.cell + p.extent.after <= p.clip.x1 &&
        cellY - p.extent.before >= p.clip.y0 && cellY + p.cell + p.extent.after <= p.clip.y1;
    for (std::size_t start = 0; start < n; start += QuadWriter::kMaxQuads) {
        const std::size_t count = std::min<std::size_t>(n - start, QuadWriter::kMaxQuads);
        QuadCursor out = quads.begin(static_cast<int>(count));
        const Sample2D* run = list + start;
        if (p.shape == DotShape::Pixel) {
            if (inside)
                putPointRun<true, true>(p, out, run, count, tile, cellX, cellY);
            else
                putPointRun<true, false>(p, out, run, count, tile, cellX, cellY);
        } else if (inside) {
            putPointRun<false, true>(p, out, run, count, tile, cellX, cellY);
        } else {
            putPointRun<false, false>(p, out, run, count, tile, cellX, cellY);
        }
        quads.end(out);
    }
}

struct VoxelPass {
    ClipRect clip;
    SampleOrigin origin;
    double invTile;
    float cell;
    int n;  // voxels per cell side
    HeightMap height;
    const HeightColors* colors;
};

// Each voxel keeps the highest ramp input of its samples; drawn in the order first reached.
void drawCellVoxels(const VoxelPass& p, QuadWriter& quads, TopViewScratch& s, const Sample2D* list,
                    std::size_t count, const TileIndex& tile, float cellX, float cellY) {
    const int n = p.n;
    const float fn = static_cast<float>(n);
    s.touchedVoxels.clear();
    for (std::size_t k = 0; k < count; ++k) {
        const Sample2D& sample = list[k];
        double fx = 0.0;
        double fy = 0.0;
        if (!sampleFraction(p.origin.x, sample.x, p.invTile, tile.ix, fx) ||
            !sampleFraction(p.origin.y, sample.y, p.invTile, tile.iy, fy))
            continue;
        const float cx = std::min(static_cast<float>(fx), 0.999999f);
        const float cy = std::min(static_cast<float>(fy), 0.999999f);
        const int i = std::clamp(static_cast<int>(fn * cx), 0, n - 1);
        const int j = std::clamp(static_cast<int>(fn * cy), 0, n - 1);
        const std::uint32_t key = static_cast<std::uint32_t>(j * n + i);
        const float t = sample.z * p.height.scale + p.height.offset;
        float& slot = s.voxelT[key];
        if (slot < 0.0f) {
            s.touchedVoxels.push_back(key);
            slot = t > 0.0f ? t : 0.0f;  // NaN as 0
        } else if (t > slot) {
            slot = t;
        }
    }
    const float v = p.cell / fn;
    const float side = std::max(v + 0.25f, 1.0f);
    const std::size_t voxelCount = s.touchedVoxels.size();
    for (std::size_t start = 0; start < voxelCount; start += QuadWriter::kMaxQuads) {
        const std::size_t end = std::min(voxelCount, start + QuadWriter::kMaxQuads);
        QuadCursor out = quads.begin(static_cast<int>(end - start));
        for (std::size_t k = start; k < end; ++k) {
            const std::uint32_t key = s.touchedVoxels[k];
            const float t = s.voxelT[key];
            s.voxelT[key] = -1.0f;
            const int i = static_cast<int>(key % static_cast<std::uint32_t>(n));
            const int j = static_cast<int>(key / static_cast<std::uint32_t>(n));
            const float x0 = cellX + static_cast<float>(i) * v;
            const float y0 = cellY + static_cast<float>(n - j - 1) * v;
            if (x0 + side < p.clip.x0 || x0 > p.clip.x1 || y0 + side < p.clip.y0 || y0 > p.clip.y1)
                continue;
            out.put(x0, y0, x0 + side, y0 + side, (*p.colors)(t));
        }
        quads.end(out);
    }
}

constexpr std::size_t kPrefetchCells = 3;

void prefetchSamples(const VisibleCell& cell) {
    const char* p = reinterpret_cast<const char*>(cell.samples);
    const char* end = reinterpret_cast<const char*>(cell.samples + cell.sampleCount);
    for (; p < end; p += 64) __builtin_prefetch(p);
}

struct OutlineStyle {
    ImU32 color;
    float thickness;
};
constexpr OutlineStyle kOutlines[kOutlineKinds] = {
    {IM_COL32(255, 255, 255, 255), 2.5f},  // selected
    {IM_COL32(90, 90, 90, 255), 1.0f},     // in the count map
    {IM_COL32(28, 28, 28, 255), 1.0f},     // not in the map
    {IM_COL32(70, 140, 255, 255), 3.0f},   // highlighted saved top selection
    {IM_COL32(255, 150, 35, 255), 3.0f},   // highlighted saved vertical selection
};
constexpr ImU32 kCellFill = IM_COL32(26, 26, 26, 255);
constexpr ImU32 kTopFill = IM_COL32(50, 110, 220, 55);
constexpr ImU32 kVerticalFill = IM_COL32(230, 130, 30, 65);

// A cell's fills and outlines, then its merged pixels when there are any, in one reservation
// once every outline it needs has been seen in this frame; before that through ImGui.
void drawCellFrame(ImDrawList* dl, QuadWriter& quads, TopViewScratch& s, std::uint8_t fl, float x,
                   float y, float cell, const PointPass& points, const CellPixels& pixels) {
    const bool inMap = fl & kInMap;
    const bool top = fl & kHighlightTop;
    const bool vertical = fl & kHighlightVertical;
    const int outline =
        inMap ? ((fl & kSelected) ? kOutlineSelected : kOutlineInMap) : kOutlineEmpty;
    DrawStamp* const st = s.outlines;
    const ImVec2 a(x, y);
    const ImVec2 e(x + cell, y + cell);
    if (!st[outline].ready() || (top && !st[kOutlineTop].ready()) ||
        (vertical && !st[kOutlineVertical].ready())) {
        // A cell without a count is the canvas colour: nothing to fill.
        if (inMap) dl->AddRectFilled(a, e, kCellFill);
        if (top) dl->AddRectFilled(a, e, kTopFill);
        if (vertical) dl->AddRectFilled(a, e, kVerticalFill);
        auto stroke = [&](int kind) {
            const OutlineStyle& o = kOutlines[kind];
            auto draw = [&] { dl->AddRect(a, e, o.color, 0.0f, 0, o.thickness); };
            if (st[kind].ready())
                draw();
            else
                st[kind].capture(dl, x, y, draw);
        };
        stroke(outline);
        if (top) stroke(kOutlineTop);
        if (vertical) stroke(kOutlineVertical);
        if (pixels.count() > 0) {
            QuadCursor out = quads.begin(pixels.count());
            putCellPixels(points, out, pixels);
            quads.end(out);
        }
        return;
    }
    const int fills = (inMap ? 1 : 0) + (top ? 1 : 0) + (vertical ? 1 : 0);
    const int squares = fills + pixels.count();
    int vertices = 4 * squares + st[outline].vertices();
    int indices = 6 * squares + st[outline].indices();
    if (top) {
        vertices += st[kOutlineTop].vertices();
        indices += st[kOutlineTop].indices();
    }
    if (vertical) {
        vertices += st[kOutlineVertical].vertices();
        indices += st[kOutlineVertical].indices();
    }
    QuadCursor out = quads.begin(vertices, indices);
    if (inMap) out.put(a.x, a.y, e.x, e.y, kCellFill);
    if (top) out.put(a.x, a.y, e.x, e.y, kTopFill);
    if (vertical) out.put(a.x, a.y, e.x, e.y, kVerticalFill);
    out.put(st[outline], x, y);
    if (top) out.put(st[kOutlineTop], x, y);
    if (vertical) out.put(st[kOutlineVertical], x, y);
    putCellPixels(points, out, pixels);
    quads.end(out);
}

ImU32 withAlpha(int r, int g, int b, float alpha) {
    return IM_COL32(r, g, b, static_cast<int>(alpha * 255.0f));
}

}  // namespace

const std::vector<E57ScanSummary>* markedScans(const GuiFrame& f) {
    if (f.gui.preflight.scans.empty()) return nullptr;
    if (!preflightMatchesInput(f.gui.preflight, trimmedText(f.gui.inputPathText))) return nullptr;
    return &f.gui.preflight.scans;
}

float topViewCellSize(const GuiFrame& f, const CanvasRect& canvas) {
    if (!f.proc.view.topViewAutoFit) return f.proc.view.topCellSizePx;
    return autoFitCellSize(canvas.w, canvas.h, f.bounds.cols(), f.bounds.rows(),
                           std::max(f.gui.tileGapPx, 0.0f));
}

void drawTopView(GuiFrame& f, ImDrawList* dl, const CanvasRect& canvas, float cell,
                 const TopViewClick& click) {
    const ViewSettings& view = f.proc.view;
    const TileIndexBounds& b = f.bounds;
    const TopGridLayout g =
        topGridLayout(canvas, cell, f.gui.tileGapPx, b, view.topPanX, view.topPanY);
    const ImVec2 clipMin = dl->GetClipRectMin();
    const ImVec2 clipMax = dl->GetClipRectMax();
    const ClipRect clip{clipMin.x, clipMin.y, clipMax.x, clipMax.y};
    const TileCountMap* counts = f.counts;
    const TileSampleMap* samples = f.samples;
    const SampleOrigin origin = displayedOrigin(f);

    CellRange vis;
    if (topVisibleCells(g, clip.x0, clip.y0, clip.x1, clip.y1, vis)) {
        TopViewScratch& s = scratch();
        const std::int64_t vc = vis.c1 - vis.c0 + 1;
        const std::int64_t vr = vis.r1 - vis.r0 + 1;
        const std::size_t cells = static_cast<std::size_t>(vc * vr);
        s.cells.assign(cells, VisibleCell{});
        // Slot of a tile among the visible cells, or -1.
        auto slot = [&](const TileIndex& t) -> std::int64_t {
            if (t.ix < b.minX || t.ix > b.maxX || t.iy < b.minY || t.iy > b.maxY) return -1;
            const std::int64_t c = t.ix - b.minX;
            const std::int64_t r = t.iy - b.minY;
            if (c < vis.c0 || c > vis.c1 || r < vis.r0 || r > vis.r1) return -1;
            return (r - vis.r0) * vc + (c - vis.c0);
        };
        auto mark = [&](const TileIndex& t, std::uint8_t bit) {
            const std::int64_t k = slot(t);
            if (k >= 0) s.cells[static_cast<std::size_t>(k)].flags |= bit;
        };
        const double tileSize = f.in.coarseTileSize;
        const bool drawSamples = samples && tileSize > 0.0 && std::isfinite(tileSize);
        const int style = std::clamp(view.topViewStyle, 0, 2);
        const bool startup = f.gui.startupScreen;
        const float sens = view.zSensitivity;
        const float centre = rampCentreOffset(view.zCenterM, f.gui.zRangeMin, f.gui.zRangeMax);
        const HeightMap height = heightMapOf(f.gui, origin.z);
        const float voxelAlpha = style == 1 ? 0.88f : 0.42f;
        if (!startup) s.ramp.prepare(sens, centre);
        const ImU32 startupPoint = IM_COL32(120, 200, 255, 235);
        const HeightColors pointColors =
            startup ? HeightColors(startupPoint) : HeightColors(s.ramp, 0.92f);
        const HeightColors voxelColors = startup
                                             ? HeightColors(withAlpha(120, 200, 255, voxelAlpha))
                                             : HeightColors(s.ramp, voxelAlpha);

        float rp = std::min(g.cell * 0.45f, view.pointBallRadiusPx * 1.15f);
        if (startup) {
            const float pulse = std::sin(4.0f * static_cast<float>(ImGui::GetTime()));
            rp *= (pulse * 0.5f + 0.5f) * 0.3f + 0.8f;
        }
        const DotShape shape = dotShape(rp);
        // Cells below a pixel keep their squares: a grid of side 1 or 2 merges nothing.
        const bool merge = drawSamples && style == 0 && shape == DotShape::Pixel &&
                           g.cell >= 1.0f && g.cell <= kMergeMaxCell;
        const int mergeSide = merge ? static_cast<int>(std::ceil(g.cell)) + 2 : 0;
        const int rowShift = mergeSide <= 8 ? 3 : 5;
        const PointPass points{dl,    clip,          origin, 1.0 / tileSize, g.cell,  rp,
                               shape, dotExtent(rp), height, &pointColors,   rowShift};

        // The kept pixels, when they are still those of this frame.
        PixelCache& cache = s.cache;
        const std::int64_t cols = b.cols();
        const std::int64_t rows = b.rows();
        const bool cached = merge && cols <= kMaxCachedCells && rows <= kMaxCachedCells / cols;
        const int frame = ImGui::GetFrameCount();
        if (cached) {
            PixelCacheKey key;
            key.context = ImGui::GetCurrentContext();
            key.gui = &f.gui;
            key.counts = counts;
            key.samples = samples;
            key.mapsVersion = f.gui.mapsVersion;
            key.countSize = counts ? counts->size() : 0;
            key.sampleSize = samples->size();
            key.minX = b.minX;
            key.minY = b.minY;
            key.maxX = b.maxX;
            key.maxY = b.maxY;
            key.tileSize = tileSize;
            key.origin = origin;
            key.cell = g.cell;
            key.stride = g.stride();
            key.phaseX = g.originX - std::floor(g.originX);
            key.phaseY = g.originY - std::floor(g.originY);
            PixelColorKey colorKey;
            colorKey.heightScale = height.scale;
            colorKey.heightOffset = height.offset;
            colorKey.color = startup ? startupPoint : pointColors(0.0f) & 0xFF000000u;
            colorKey.sensitivity = startup ? 0.0f : sens;
            colorKey.centre = startup ? 0.0f : centre;
            if (!(key == cache.key) || frame != cache.lastFrame + 1) {
                cache.key = key;
                cache.colorKey = colorKey;
                cache.cells.assign(static_cast<std::size_t>(cols * rows), CachedCell{});
                cache.pool.used = 0;
            } else if (!(colorKey == cache.colorKey)) {
                cache.colorKey = colorKey;
                PixelPool& pool = cache.pool;
                for (std::size_t i = 0; i < pool.used; ++i)
                    pool.colors[i] = pointColors(pool.z[i] * height.scale + height.offset);
            }
        }
        cache.lastFrame = frame;
        auto cachedCell = [&](std::int64_t c, std::int64_t r) -> CachedCell& {
            return cache.cells[static_cast<std::size_t>(r * cols + c)];
        };

        // Cells whose tile must be found in the maps this frame: all without kept pixels.
        std::size_t needed = cells;
        if (cached) {
            needed = 0;
            for (std::int64_t r = vis.r0; r <= vis.r1; ++r)
                for (std::int64_t c = vis.c0; c <= vis.c1; ++c) {
                    const CachedCell& kept = cachedCell(c, r);
                    if (kept.known) {
                        if (kept.inMap)
                            s.cells[static_cast<std::size_t>((r - vis.r0) * vc + (c - vis.c0))]
                                .flags |= kInMap;
                    } else {
                        ++needed;
                    }
                }
        }
        // A lookup costs a few misses in memory, a step of a walk with its node fetched ahead
        // much less: the maps are walked once the cells to find are a good part of them.
        auto walks = [&](std::size_t mapSize) { return needed > 0 && mapSize <= 4 * needed; };
        const bool walkCounts = counts && walks(counts->size());
        const bool walkSamples = samples && walks(samples->size());
        {
            MapWalk<TileCountMap> countWalk(walkCounts ? counts : nullptr, s.countHints);
            MapWalk<TileSampleMap> sampleWalk(walkSamples ? samples : nullptr, s.sampleHints);
            auto visitCount = [&](const auto& entry) { mark(entry.first, kInMap); };
            auto visitSamples = [&](const auto& entry) {
                const std::int64_t k = slot(entry.first);
                if (k < 0) return;
                VisibleCell& cell = s.cells[static_cast<std::size_t>(k)];
                cell.samples = entry.second.data();
                cell.sampleCount = static_cast<std::uint32_t>(entry.second.size());
            };
            while (!countWalk.done() && !sampleWalk.done()) {
                countWalk.step(visitCount);
                sampleWalk.step(visitSamples);
            }
            while (!countWalk.done()) countWalk.step(visitCount);
            while (!sampleWalk.done()) sampleWalk.step(visitSamples);
        }
        const TileSet& selected = f.in.selectedTiles;
        const bool lookUpSelected = selected.size() > cells;
        const bool lookUpCounts = counts && !walkCounts && needed > 0;
        const bool lookUpSamples = samples && !walkSamples && needed > 0;
        if (lookUpSelected || lookUpCounts || lookUpSamples)
            for (std::int64_t r = vis.r0; r <= vis.r1; ++r)
                for (std::int64_t c = vis.c0; c <= vis.c1; ++c) {
                    VisibleCell& cell =
                        s.cells[static_cast<std::size_t>((r - vis.r0) * vc + (c - vis.c0))];
                    const TileIndex t{b.minX + c, b.minY + r};
                    if (lookUpSelected && selected.count(t)) cell.flags |= kSelected;
                    if (cached && cachedCell(c, r).known) continue;
                    if (lookUpCounts && counts->find(t) != counts->end()) cell.flags |= kInMap;
                    if (lookUpSamples) {
                        const auto it = samples->find(t);
                        if (it != samples->end()) {
                            cell.samples = it->second.data();
                            cell.sampleCount = static_cast<std::uint32_t>(it->second.size());
                        }
                    }
                }
        if (!lookUpSelected)
            for (const TileIndex& t : selected) mark(t, kSelected);
        if (const auto* tiles = highlightedTopTiles(f))
            for (const TileIndex& t : *tiles) mark(t, kHighlightTop);
        if (const auto* tiles = highlightedVerticalTiles(f))
            for (const TileIndex& t : *tiles) mark(t, kHighlightVertical);

        int n = 2;
        if (drawSamples)
            n = static_cast<int>(std::clamp(
                std::ceil(tileSize / std::max(0.05, static_cast<double>(view.visualVoxelSizeM))),
                2.0, 128.0));
        const VoxelPass voxels{clip, origin, 1.0 / tileSize, g.cell, n, height, &voxelColors};
        if (style != 0) s.voxelT.assign(static_cast<std::size_t>(n * n), -1.0f);

        const std::size_t perSample = (style != 1 ? dotVertices(rp) : 0) + (style != 0 ? 4 : 0);
        for (DrawStamp& stamp : s.outlines) stamp.reset();  // the cell size may have changed
        QuadWriter quads(dl);
        bool room = true;
        for (std::int64_t r = vis.r0; r <= vis.r1 && room; ++r) {
            const float y = g.cellY(r);
            for (std::int64_t c = vis.c0; c <= vis.c1; ++c) {
                const std::size_t k = static_cast<std::size_t>((r - vis.r0) * vc + (c - vis.c0));
                const VisibleCell& cell = s.cells[k];
                CachedCell* kept = cached ? &cachedCell(c, r) : nullptr;
                // Each tile's samples lie somewhere else in memory: ask for a later cell's
                // while this one is drawn, or every cell starts with a wait.
                if (k + kPrefetchCells < cells) prefetchSamples(s.cells[k + kPrefetchCells]);
                const std::size_t vertices =
                    kept && kept->known ? 4u * kept->count : cell.sampleCount * perSample;
                if (!drawListHasRoom(dl, 64 + vertices)) {
                    room = false;
                    break;
                }
                const float x = g.cellX(c);
                const TileIndex tile{b.minX + c, b.minY + r};
                const bool withSamples = drawSamples && cell.sampleCount != 0;
                PixelRun run;
                CellPixels pixels;
                if (merge && kept && kept->known) {
                    run.keys = cache.pool.keys.data() + kept->first;
                    run.colors = cache.pool.colors.data() + kept->first;
                    run.count = kept->count;
                    run.x0 = std::floor(x);
                    run.y0 = std::floor(y);
                    run.rowShift = rowShift;
                    pixels.kept = &run;
                } else if (merge) {
                    if (withSamples) {
                        // Pixels kept for later frames must hold every sample, not only those
                        // in this frame's clip.
                        mergeCell(points, s.merge, cell.samples, cell.sampleCount, tile, x, y,
                                  kept == nullptr);
                        pixels.merged = &s.merge;
                        pixels.samples = cell.samples;
                    }
                    if (kept) {
                        kept->known = true;
                        kept->inMap = (cell.flags & kInMap) != 0;
                        kept->first = static_cast<std::uint32_t>(cache.pool.used);
                        kept->count = static_cast<std::uint16_t>(pixels.count());
                        pixels.keep = &cache.pool;
                    }
                }
                drawCellFrame(dl, quads, s, cell.flags, x, y, g.cell, points, pixels);
                if (!withSamples || merge) continue;
                if (style != 0)
                    drawCellVoxels(voxels, quads, s, cell.samples, cell.sampleCount, tile, x, y);
                if (style != 1)
                    drawCellPoints(points, quads, cell.samples, cell.sampleCount, tile, x, y);
            }
        }
    }

    const ImU32 labelColor = IM_COL32(220, 220, 220, 255);
    dl->AddText(ImVec2(g.originX + 10.0f, g.originY + g.gridH - 20.0f), labelColor, "X+");
    dl->AddText(ImVec2(g.originX + 10.0f, g.originY + g.gridH - 36.0f), labelColor, "Y+");

    const double tileSize = f.in.coarseTileSize;
    if (const auto* scans = markedScans(f); scans && tileSize > 0.0) {
        const float radius = view.scannerMarkerRadiusPx;
        for (const E57ScanSummary& scan : *scans) {
            TileIndex t;
            if (!tryTileIndexFor(scan.translationX, scan.translationY, tileSize, t)) continue;
            if (t.ix < b.minX || t.ix > b.maxX || t.iy < b.minY || t.iy > b.maxY) continue;
            const float fx =
                static_cast<float>(std::clamp(tileFraction(scan.translationX, tileSize), 0.0, 1.0));
            const float fy =
                static_cast<float>(std::clamp(tileFraction(scan.translationY, tileSize), 0.0, 1.0));
            const float px = g.cellX(t.ix - b.minX) + g.cell * fx;
            const float py = g.cellY(t.iy - b.minY) + g.cell * (1.0f - fy);
            if (!drawListHasRoom(dl, 64)) break;
            drawScannerMarker(dl, px, py, radius);
        }
    }

    if (click.pending && !f.proc.heightSelectionMode && counts) {
        TileIndex t;
        if (topTileAt(g, b, click.x, click.y, t) && counts->count(t) != 0) {
            auto it = f.in.selectedTiles.find(t);
            if (it != f.in.selectedTiles.end())
                f.in.selectedTiles.erase(it);
            else
                f.in.selectedTiles.insert(t);
        }
    }
}
