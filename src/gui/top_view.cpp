#include "gui/top_view.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

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

struct TopViewScratch {
    std::vector<VisibleCell> cells;
    std::vector<float> voxelT;  // n x n, below 0 when empty
    std::vector<std::uint32_t> touchedVoxels;
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

HeightMap heightMapOf(const TileSelectionGuiState& gui) {
    HeightMap m;
    if (!gui.haveZRange) return m;
    if (!(gui.zRangeMax > gui.zRangeMin)) {
        m.offset = 0.5f;
        return m;
    }
    const double scale = 1.0 / (gui.zRangeMax - gui.zRangeMin);
    m.scale = static_cast<float>(scale);
    m.offset = static_cast<float>(-gui.zRangeMin * scale);
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
    double invTile;
    float cell;
    float radius;
    DotShape shape;
    DotExtent extent;
    HeightMap height;
    const HeightColorTable* colors;
};

// One run of samples as squares (a 1-pixel square is one of side 1 from the position).
// kInside: the whole cell lies within the clip, so no sample needs the test.
template <bool kPixel, bool kInside>
void putPointRun(const PointPass& pass, QuadCursor& out, const Sample2D* list, std::size_t n,
                 const TileIndex& tile, float cellX, float cellY) {
    const PointPass p = pass;  // a local copy: the vertex stores cannot alias it
    const float r = p.radius;
    for (std::size_t k = 0; k < n; ++k) {
        const Sample2D& s = list[k];
        double fx = 0.0;
        double fy = 0.0;
        if (!sampleFraction(s.x, p.invTile, tile.ix, fx) ||
            !sampleFraction(s.y, p.invTile, tile.iy, fy))
            continue;
        const float px = cellX + p.cell * static_cast<float>(fx);
        const float py = cellY + p.cell * (1.0f - static_cast<float>(fy));
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

void drawCellPoints(const PointPass& p, QuadWriter& quads, const Sample2D* list, std::size_t n,
                    const TileIndex& tile, float cellX, float cellY) {
    if (p.shape == DotShape::Circle) {
        const float r = p.radius;
        for (std::size_t k = 0; k < n; ++k) {
            const Sample2D& s = list[k];
            double fx = 0.0;
            double fy = 0.0;
            if (!sampleFraction(s.x, p.invTile, tile.ix, fx) ||
                !sampleFraction(s.y, p.invTile, tile.iy, fy))
                continue;
            const float px = cellX + p.cell * static_cast<float>(fx);
            const float py = cellY + p.cell * (1.0f - static_cast<float>(fy));
            if (px + r < p.clip.x0 || px - r > p.clip.x1 || py + r < p.clip.y0 ||
                py - r > p.clip.y1)
                continue;
            const ImU32 col = (*p.colors)(s.z * p.height.scale + p.height.offset);
            p.dl->AddCircleFilled(ImVec2(px, py), r, col, dotSegments(r));
        }
        return;
    }
    for (std::size_t start = 0; start < n; start += QuadWriter::kMaxQuads) {
        const std::size_t count = std::min<std::size_t>(n - start, QuadWriter::kMaxQuads);
        QuadCursor out = quads.begin(static_cast<int>(count));
        const Sample2D* run = list + start;
        const bool inside =
            cellX - p.extent.before >= p.clip.x0 && cellX + p.cell + p.extent.after <= p.clip.x1 &&
            cellY - p.extent.before >= p.clip.y0 && cellY + p.cell + p.extent.after <= p.clip.y1;
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
    double invTile;
    float cell;
    int n;  // voxels per cell side
    HeightMap height;
    const HeightColorTable* colors;  // null on the startup screen
    ImU32 flatColor;
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
        if (!sampleFraction(sample.x, p.invTile, tile.ix, fx) ||
            !sampleFraction(sample.y, p.invTile, tile.iy, fy))
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
            out.put(x0, y0, x0 + side, y0 + side, p.colors ? (*p.colors)(t) : p.flatColor);
        }
        quads.end(out);
    }
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
        // The maps are looked up per visible cell, in a pass of their own so that the lookups
        // overlap: walking a whole map chases one node after another through memory.
        const TileSet& selected = f.in.selectedTiles;
        const bool lookUpSelected = selected.size() > cells;
        for (std::int64_t r = vis.r0; r <= vis.r1; ++r)
            for (std::int64_t c = vis.c0; c <= vis.c1; ++c) {
                VisibleCell& cell =
                    s.cells[static_cast<std::size_t>((r - vis.r0) * vc + (c - vis.c0))];
                const TileIndex t{b.minX + c, b.minY + r};
                if (counts && counts->find(t) != counts->end()) cell.flags |= kInMap;
                if (samples) {
                    const auto it = samples->find(t);
                    if (it != samples->end()) {
                        cell.samples = it->second.data();
                        cell.sampleCount = static_cast<std::uint32_t>(it->second.size());
                    }
                }
                if (lookUpSelected && selected.count(t)) cell.flags |= kSelected;
            }
        if (!lookUpSelected)
            for (const TileIndex& t : selected) mark(t, kSelected);
        if (const auto* tiles = highlightedTopTiles(f))
            for (const TileIndex& t : *tiles) mark(t, kHighlightTop);
        if (const auto* tiles = highlightedVerticalTiles(f))
            for (const TileIndex& t : *tiles) mark(t, kHighlightVertical);

        const double tileSize = f.in.coarseTileSize;
        const bool drawSamples = samples && tileSize > 0.0 && std::isfinite(tileSize);
        const int style = std::clamp(view.topViewStyle, 0, 2);
        const bool startup = f.gui.startupScreen;
        const float sens = view.zSensitivity;
        const float centre = rampCentreOffset(view.zCenterM, f.gui.zRangeMin, f.gui.zRangeMax);
        const HeightMap height = heightMapOf(f.gui);
        const float voxelAlpha = style == 1 ? 0.88f : 0.42f;
        std::optional<HeightColorTable> pointColors;
        std::optional<HeightColorTable> voxelColors;
        if (style != 1) {
            if (startup)
                pointColors.emplace(IM_COL32(120, 200, 255, 235));
            else
                pointColors.emplace(0.92f, sens, centre);
        }
        if (!startup && style != 0) voxelColors.emplace(voxelAlpha, sens, centre);

        float rp = std::min(g.cell * 0.45f, view.pointBallRadiusPx * 1.15f);
        if (startup) {
            const float pulse = std::sin(4.0f * static_cast<float>(ImGui::GetTime()));
            rp *= (pulse * 0.5f + 0.5f) * 0.3f + 0.8f;
        }
        const PointPass points{dl,
                               clip,
                               1.0 / tileSize,
                               g.cell,
                               rp,
                               dotShape(rp),
                               dotExtent(rp),
                               height,
                               pointColors ? &*pointColors : nullptr};
        int n = 2;
        if (drawSamples)
            n = static_cast<int>(std::clamp(
                std::ceil(tileSize / std::max(0.05, static_cast<double>(view.visualVoxelSizeM))),
                2.0, 128.0));
        const VoxelPass voxels{clip,
                               1.0 / tileSize,
                               g.cell,
                               n,
                               height,
                               voxelColors ? &*voxelColors : nullptr,
                               withAlpha(120, 200, 255, voxelAlpha)};
        if (style != 0) s.voxelT.assign(static_cast<std::size_t>(n * n), -1.0f);

        const std::size_t perSample = (style != 1 ? dotVertices(rp) : 0) + (style != 0 ? 4 : 0);
        QuadWriter quads(dl);
        bool room = true;
        for (std::int64_t r = vis.r0; r <= vis.r1 && room; ++r) {
            const float y = g.cellY(r);
            for (std::int64_t c = vis.c0; c <= vis.c1; ++c) {
                const std::size_t k = static_cast<std::size_t>((r - vis.r0) * vc + (c - vis.c0));
                const VisibleCell& cell = s.cells[k];
                if (!drawListHasRoom(dl, 64 + cell.sampleCount * perSample)) {
                    room = false;
                    break;
                }
                const std::uint8_t fl = cell.flags;
                const float x = g.cellX(c);
                const ImVec2 a(x, y);
                const ImVec2 e(x + g.cell, y + g.cell);
                // A cell without a count is the canvas colour: nothing to fill.
                if (fl & kInMap) dl->AddRectFilled(a, e, IM_COL32(26, 26, 26, 255));
                if (fl & kHighlightTop) dl->AddRectFilled(a, e, IM_COL32(50, 110, 220, 55));
                if (fl & kHighlightVertical) dl->AddRectFilled(a, e, IM_COL32(230, 130, 30, 65));
                if ((fl & kInMap) && (fl & kSelected))
                    dl->AddRect(a, e, IM_COL32(255, 255, 255, 255), 0.0f, 0, 2.5f);
                else if (fl & kInMap)
                    dl->AddRect(a, e, IM_COL32(90, 90, 90, 255));
                else
                    dl->AddRect(a, e, IM_COL32(28, 28, 28, 255));
                if (fl & kHighlightTop)
                    dl->AddRect(a, e, IM_COL32(70, 140, 255, 255), 0.0f, 0, 3.0f);
                if (fl & kHighlightVertical)
                    dl->AddRect(a, e, IM_COL32(255, 150, 35, 255), 0.0f, 0, 3.0f);

                if (!drawSamples || cell.sampleCount == 0) continue;
                const TileIndex tile{b.minX + c, b.minY + r};
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
