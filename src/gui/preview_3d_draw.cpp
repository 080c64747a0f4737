#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>

#include "gui/height_color.h"
#include "gui/preview_3d.h"
#include "gui/preview_3d_projection.h"

namespace {

constexpr ImU32 kBackground = IM_COL32(16, 18, 24, 255);
constexpr ImU32 kOutline = IM_COL32(80, 90, 110, 255);
constexpr ImU32 kEmptyText = IM_COL32(220, 220, 220, 255);
constexpr ImU32 kGroundMarked = IM_COL32(255, 210, 70, 240);
constexpr ImU32 kGround = IM_COL32(235, 235, 235, 90);
constexpr ImU32 kGuide = IM_COL32(255, 230, 90, 120);
constexpr ImU32 kHeightOther = IM_COL32(110, 110, 115, 55);
constexpr ImU32 kHighlightSelected = IM_COL32(255, 210, 80, 235);
constexpr ImU32 kHighlightOther = IM_COL32(95, 95, 105, 50);
constexpr ImU32 kMonoSelected = IM_COL32(220, 230, 245, 220);
constexpr ImU32 kMonoOther = IM_COL32(90, 90, 100, 45);
constexpr ImU32 kScanner = IM_COL32(255, 60, 60, 255);
constexpr ImU32 kScannerRing = IM_COL32(255, 255, 255, 220);
constexpr ImU32 kStatus = IM_COL32(230, 235, 245, 255);
constexpr ImU32 kHint = IM_COL32(170, 180, 200, 255);

// A filled circle of n segments as the draw list's own convex fill makes it (with its
// anti-aliased fringe when the list has one), as offsets from the centre computed once.
struct CircleStamp {
    int n = 0;
    bool fringe = false;
    ImVec2 inner[12];
    ImVec2 outer[12];

    void build(float r, int segments, bool antiAliased) {
        n = segments;
        fringe = antiAliased;
        ImVec2 p[12];
        for (int i = 0; i < n; ++i) {
            const float a = 6.2831855f * static_cast<float>(i) / static_cast<float>(n);
            p[i] = ImVec2(std::cos(a) * r, std::sin(a) * r);
            inner[i] = p[i];
        }
        if (!fringe) return;
        ImVec2 normal[12];
        for (int i0 = n - 1, i1 = 0; i1 < n; i0 = i1++) {
            float dx = p[i1].x - p[i0].x;
            float dy = p[i1].y - p[i0].y;
            const float len = std::sqrt(dx * dx + dy * dy);
            if (len > 0.0f) {
                dx /= len;
                dy /= len;
            }
            normal[i0] = ImVec2(dy, -dx);
        }
        for (int i0 = n - 1, i1 = 0; i1 < n; i0 = i1++) {
            float mx = (normal[i0].x + normal[i1].x) * 0.5f;
            float my = (normal[i0].y + normal[i1].y) * 0.5f;
            const float d2 = std::max(mx * mx + my * my, 0.000001f);
            mx *= 0.5f / d2;
            my *= 0.5f / d2;
            inner[i1] = ImVec2(p[i1].x - mx, p[i1].y - my);
            outer[i1] = ImVec2(p[i1].x + mx, p[i1].y + my);
        }
    }
    int vertices() const { return fringe ? 2 * n : n; }
    int indices() const { return (n - 2) * 3 + (fringe ? 6 * n : 0); }
};

// Squares and circles written straight into room reserved in blocks, rather than one
// reservation (and for circles one sine and cosine per vertex) per shape. A block stays below
// 64K vertices so 16-bit indices can start a new vertex offset between blocks.
class MeshWriter {
public:
    explicit MeshWriter(ImDrawList* dl)
        : dl_(dl),
          uv_(ImGui::GetFontTexUvWhitePixel()),
          vtxOffsetAllowed_((dl->Flags & ImDrawListFlags_AllowVtxOffset) != 0) {}
    ~MeshWriter() { finish(); }
    MeshWriter(const MeshWriter&) = delete;
    MeshWriter& operator=(const MeshWriter&) = delete;

    // False when a draw list without vertex offsets is full (the shape is not drawn).
    bool square(ImVec2 a, ImVec2 b, ImU32 col) {
        if (!room(4, 6)) return false;
        // As PrimRect writes it, without the call.
        const ImDrawIdx i = static_cast<ImDrawIdx>(dl_->_VtxCurrentIdx);
        dl_->PrimWriteIdx(i);
        dl_->PrimWriteIdx(static_cast<ImDrawIdx>(i + 1));
        dl_->PrimWriteIdx(static_cast<ImDrawIdx>(i + 2));
        dl_->PrimWriteIdx(i);
        dl_->PrimWriteIdx(static_cast<ImDrawIdx>(i + 2));
        dl_->PrimWriteIdx(static_cast<ImDrawIdx>(i + 3));
        dl_->PrimWriteVtx(a, uv_, col);
        dl_->PrimWriteVtx(ImVec2(b.x, a.y), uv_, col);
        dl_->PrimWriteVtx(b, uv_, col);
        dl_->PrimWriteVtx(ImVec2(a.x, b.y), uv_, col);
        return true;
    }
    bool circle(const CircleStamp& c, ImVec2 p, ImU32 col) {
        if (!room(c.vertices(), c.indices())) return false;
        const unsigned base = dl_->_VtxCurrentIdx;
        const unsigned step = c.fringe ? 2 : 1;
        for (int i = 2; i < c.n; ++i) {
            dl_->PrimWriteIdx(static_cast<ImDrawIdx>(base));
            dl_->PrimWriteIdx(static_cast<ImDrawIdx>(base + (i - 1) * step));
            dl_->PrimWriteIdx(static_cast<ImDrawIdx>(base + i * step));
        }
        if (c.fringe) {
            const ImU32 clear = col & ~IM_COL32_A_MASK;
            for (int i0 = c.n - 1, i1 = 0; i1 < c.n; i0 = i1++) {
                const unsigned in0 = base + 2 * i0;
                const unsigned in1 = base + 2 * i1;
                dl_->PrimWriteIdx(static_cast<ImDrawIdx>(in1));
                dl_->PrimWriteIdx(static_cast<ImDrawIdx>(in0));
                dl_->PrimWriteIdx(static_cast<ImDrawIdx>(in0 + 1));
                dl_->PrimWriteIdx(static_cast<ImDrawIdx>(in0 + 1));
                dl_->PrimWriteIdx(static_cast<ImDrawIdx>(in1 + 1));
                dl_->PrimWriteIdx(static_cast<ImDrawIdx>(in1));
            }
            for (int i = 0; i < c.n; ++i) {
                dl_->PrimWriteVtx(ImVec2(p.x + c.inner[i].x, p.y + c.inner[i].y), uv_, col);
                dl_->PrimWriteVtx(ImVec2(p.x + c.outer[i].x, p.y + c.outer[i].y), uv_, clear);
            }
        } else {
            for (int i = 0; i < c.n; ++i) {
                dl_->PrimWriteVtx(ImVec2(p.x + c.inner[i].x, p.y + c.inner[i].y), uv_, col);
            }
        }
        return true;
    }
    // Gives back the unused room; needed before any other drawing call on the list.
    void finish() {
        if (leftVtx_ != 0 || leftIdx_ != 0) dl_->PrimUnreserve(leftIdx_, leftVtx_);
        leftVtx_ = 0;
        leftIdx_ = 0;
    }

private:
    static constexpr int kBlockVertices = 65520;
    static constexpr int kIndicesPerVertex = 5;  // squares take 1.5, fringed circles 4.25
    bool room(int vertices, int indices) {
        if (leftVtx_ < vertices || leftIdx_ < indices) {
            finish();
            int n = kBlockVertices;
            if (!vtxOffsetAllowed_) {
                n = static_cast<int>(std::min<long>(65535L - static_cast<long>(dl_->_VtxCurrentIdx),
                                                    kBlockVertices));
                if (n < vertices) return false;
            }
            dl_->PrimReserve(n * kIndicesPerVertex, n);
            leftVtx_ = n;
            leftIdx_ = n * kIndicesPerVertex;
        }
        leftVtx_ -= vertices;
        leftIdx_ -= indices;
        return true;
    }
    ImDrawList* dl_;
    ImVec2 uv_;
    bool vtxOffsetAllowed_;
    int leftVtx_ = 0;
    int leftIdx_ = 0;
};

// One point's shape: a pixel, a square of half size r, or a circle of radius r.
struct PointShape {
    int kind = 0;  // 0 pixel, 1 square, 2 circle
    float r = 0.0f;
    CircleStamp circle;

    void build(float radius, bool antiAliased) {
        r = radius;
        kind = r <= 0.6f ? 0 : (r <= 1.4f ? 1 : 2);
        if (kind == 2) circle.build(r, r < 3.0f ? 8 : 12, antiAliased);
    }
    bool draw(MeshWriter& w, ImVec2 p, ImU32 col) const {
        if (kind == 0) return w.square(p, ImVec2(p.x + 1.0f, p.y + 1.0f), col);
        if (kind == 1) return w.square(ImVec2(p.x - r, p.y - r), ImVec2(p.x + r, p.y + r), col);
        return w.circle(circle, p, col);
    }
};

struct Colouring {
    int mode = PREVIEW_3D_HEIGHT_Z;
    float zMin = 0.0f;
    float invRange = 0.0f;               // 0: every t is 0.5
    const HeightColors* ramp = nullptr;  // the ramp at alpha 0.82

    float t(float z) const {
        if (invRange == 0.0f) return 0.5f;
        return std::clamp((z - zMin) * invRange, 0.0f, 1.0f);
    }
    ImU32 selected(float t) const {
        if (mode == PREVIEW_3D_SELECTION_HIGHLIGHT) return kHighlightSelected;
        if (mode == PREVIEW_3D_MONOCHROME) return kMonoSelected;
        return (*ramp)(t);
    }
    ImU32 other() const {
        if (mode == PREVIEW_3D_SELECTION_HIGHLIGHT) return kHighlightOther;
        if (mode == PREVIEW_3D_MONOCHROME) return kMonoOther;
        return kHeightOther;
    }
};

// floor(c / s) as a voxel index, held inside the 64-bit range.
std::int64_t voxelIndex(float c, double s) {
    const double f = std::floor(static_cast<double>(c) / s);
    return static_cast<std::int64_t>(std::clamp(f, -9.0e18, 9.0e18));
}

// floor(c * inv) where it converts; any value serves where it does not.
std::int64_t guessIndex(float c, float inv) {
    const float f = std::floor(c * inv);
    return f > -9.0e18f && f < 9.0e18f ? static_cast<std::int64_t>(f) : 0;
}

VoxelGrid& voxelScratch() {
    static VoxelGrid grid;
    return grid;
}

std::uint64_t drawVoxels(ImDrawList* dl, const TileSampleMap& samples, const SampleOrigin& origin,
                         const TileSet& selection, const TileSet& highlight,
                         const Projection3D& proj, const CanvasRect& canvas,
                         const Colouring& colours, float voxelSize, float pointSize, bool washed,
                         std::uint64_t n) {
    const double s = std::max(voxelSize, 0.001f);
    VoxelGrid& grid = voxelScratch();
    grid.clear(static_cast<std::size_t>(std::min<std::uint64_t>(n, 250000)));
    const float inv = static_cast<float>(1.0 / s);
    constexpr std::size_t kAhead = 12;
    for (const auto& [tile, list] : samples) {
        const bool sel = tileCountsSelected(tile, selection, highlight);
        const std::size_t count = list.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (i + kAhead < count) {
                // A guess of the later sample's voxel is enough to fetch its slot.
                const Sample2D& a = list[i + kAhead];
                grid.prefetch(VoxelGrid::hash(guessIndex(a.x, inv), guessIndex(a.y, inv),
                                              guessIndex(a.z, inv)));
            }
            const Sample2D& p = list[i];
            if (!isFiniteSample(p)) continue;
            Voxel3D& v = grid.at(voxelIndex(p.x, s), voxelIndex(p.y, s), voxelIndex(p.z, s));
            v.sumX += p.x;
            v.sumY += p.y;
            v.sumZ += p.z;
            const float t = colours.t(p.z);
            v.maxT = v.count == 0 ? t : std::max(v.maxT, t);
            ++v.count;
            v.selected = v.selected || sel;
        }
    }
    const float hSelected = voxelHalfSizePx(static_cast<float>(s), proj.k, pointSize);
    const float hOther = std::max(hSelected * 0.85f, 1.0f);
    const ImU32 other = washed ? washTowardGrey(colours.other()) : colours.other();
    MeshWriter w(dl);
    std::uint64_t drawn = 0;
    for (const Voxel3D& v : grid.voxels()) {
        const double inv = 1.0 / v.count;
        const ImVec2 c =
            proj.project(origin.x + v.sumX * inv, origin.y + v.sumY * inv, origin.z + v.sumZ * inv);
        if (!canvas.contains(c)) continue;
        ImU32 col = other;
        if (v.selected) {
            col = colours.selected(v.maxT);
            if (washed) col = washTowardGrey(col);
        }
        const float h = v.selected ? hSelected : hOther;
        if (w.square(ImVec2(c.x - h, c.y - h), ImVec2(c.x + h, c.y + h), col)) ++drawn;
    }
    return drawn;
}

std::uint64_t drawPoints(ImDrawList* dl, const TileSampleMap& samples, const TileSet& selection,
                         const TileSet& highlight, const Projection3D& proj,
                         const CanvasRect& canvas, const Colouring& colours, float pointSize,
                         std::uint64_t n) {
    const std::uint64_t stride = previewPointStride(n);
    const bool antiAliased = (dl->Flags & ImDrawListFlags_AntiAliasedFill) != 0;
    PointShape shapeSelected;
    PointShape shapeOther;
    shapeSelected.build(pointSize, antiAliased);
    shapeOther.build(std::max(pointSize * 0.65f, 0.25f), antiAliased);
    const ImU32 other = colours.other();
    const bool byHeight =
        colours.mode != PREVIEW_3D_SELECTION_HIGHLIGHT && colours.mode != PREVIEW_3D_MONOCHROME;
    MeshWriter w(dl);
    std::uint64_t drawn = 0;
    std::uint64_t skip = 0;  // samples left before the next one on the stride
    for (const auto& [tile, list] : samples) {
        const bool sel = tileCountsSelected(tile, selection, highlight);
        const PointShape& shape = sel ? shapeSelected : shapeOther;
        const ImU32 fixed = sel ? colours.selected(0.0f) : other;
        const bool perPoint = sel && byHeight;
        const std::size_t count = list.size();
        // Jump straight to the next sample on the stride.
        if (skip >= count) {
            skip -= count;
            continue;
        }
        std::size_t i = static_cast<std::size_t>(skip);
        for (; i < count; i += static_cast<std::size_t>(stride)) {
            const Sample2D& p = list[i];
            if (!isFiniteSample(p)) continue;
            const ImVec2 q = proj.projectSample(p.x, p.y, p.z);
            if (!canvas.contains(q)) continue;
            const ImU32 col = perPoint ? colours.selected(colours.t(p.z)) : fixed;
            if (shape.draw(w, q, col)) ++drawn;
        }
        skip = i - count;
    }
    return drawn;
}

}  // namespace

bool drawPreview3D(ImDrawList* dl, ImVec2 canvasPos, ImVec2 canvasSize,
                   const TileSampleMap& samples, TileSet& selection, const TileSet& highlight,
                   double zMin, double zMax, double tileSize, float zoom, ImVec2 pan, bool click,
                   ImVec2 mouse, float yawDeg, float pitchDeg, float pointSize, int colorMode,
                   float zSensitivity, double zCenter, int style, float voxelSize,
                   const std::vector<std::array<float, 3>>& scanners, bool showScanners,
                   bool showGuides, float markerSize, float guideWidth, Preview3DDrawStats* stats,
                   const SampleOrigin& origin) {
    zoom = std::clamp(zoom, 0.1f, 50.0f);
    yawDeg = std::clamp(yawDeg, -180.0f, 180.0f);
    pitchDeg = std::clamp(pitchDeg, -89.0f, 89.0f);
    zSensitivity = std::clamp(zSensitivity, 0.1f, 8.0f);
    style = std::clamp(style, 0, 2);
    voxelSize = std::clamp(voxelSize, 0.001f, 0.1f);
    markerSize = std::clamp(markerSize, 1.0f, 20.0f);
    guideWidth = std::clamp(guideWidth, 0.25f, 3.0f);
    if (stats) *stats = {};

    const ImVec2 end(canvasPos.x + canvasSize.x, canvasPos.y + canvasSize.y);
    const ImVec2 textPos(canvasPos.x + 12.0f, canvasPos.y + 12.0f);
    dl->AddRectFilled(canvasPos, end, kBackground);
    dl->AddRect(canvasPos, end, kOutline, 0.0f, 0, 1.0f);

    const SampleBounds3D bounds = computeSampleBounds3D(samples);
    if (const char* empty = preview3DEmptyText(samples, bounds)) {
        dl->AddText(textPos, kEmptyText, empty);
        return false;
    }
    const std::uint64_t n = bounds.n;
    const Projection3D proj =
        makeProjection3D(bounds, canvasPos, canvasSize, zoom, pan, yawDeg, pitchDeg, origin);
    const CanvasRect canvas{canvasPos.x, canvasPos.y, end.x, end.y};

    Colouring colours;
    colours.mode = colorMode;
    colours.zMin = static_cast<float>(zMin - origin.z);  // compared with the samples' z
    // A range too small for single precision still gives finite fractions.
    colours.invRange = zMax > zMin
                           ? static_cast<float>(std::min(1.0 / (zMax - zMin),
                                                         double{std::numeric_limits<float>::max()}))
                           : 0.0f;
    static HeightColorTable ramp;  // kept while the sensitivity and centre stay
    ramp.prepare(zSensitivity, heightFraction(zCenter, zMin, zMax) - 0.5f);
    const HeightColors rampColours(ramp, 0.82f);
    colours.ramp = &rampColours;

    dl->PushClipRect(canvasPos, end, true);

    const TileSet& marking = markingSet(selection, highlight);
    GroundPick pick;
    if (tileSize > 0.0) {
        const GroundGrid grid(proj, tileSize, origin.z + bounds.minZ, canvas);
        for (const auto& entry : samples) {
            const GroundQuad q = grid.quad(entry.first);
            if (!q.drawn) continue;
            const bool marked = marking.count(entry.first) != 0;
            dl->AddPolyline(q.c, 4, marked ? kGroundMarked : kGround, ImDrawFlags_Closed,
                            marked ? 2.4f : 1.0f);
            if (click) pick.consider(entry.first, q, mouse);
        }
    }

    if (showGuides && !marking.empty()) {
        for (const TileIndex& t : marking) {
            const double xs[2] = {static_cast<double>(t.ix) * tileSize,
                                  static_cast<double>(t.ix + 1) * tileSize};
            const double ys[2] = {static_cast<double>(t.iy) * tileSize,
                                  static_cast<double>(t.iy + 1) * tileSize};
            for (int c = 0; c < 4; ++c) {
                const double x = xs[c == 1 || c == 2];
                const double y = ys[c >= 2];
                const ImVec2 a = proj.project(x, y, origin.z + bounds.minZ);
                const ImVec2 b = proj.project(x, y, origin.z + bounds.maxZ);
                if (canvas.contains(a) || canvas.contains(b)) dl->AddLine(a, b, kGuide, guideWidth);
            }
        }
    }

    bool toggled = false;
    if (pick.found) {
        if (selection.erase(pick.tile) == 0) selection.insert(pick.tile);
        toggled = true;
    }

    std::uint64_t voxels = 0;
    if (style == 1 || style == 2) {
        voxels = drawVoxels(dl, samples, origin, selection, highlight, proj, canvas, colours,
                            voxelSize, pointSize, style == 2, n);
    }
    std::uint64_t points = 0;
    if (style == 0 || style == 2) {
        points = drawPoints(dl, samples, selection, highlight, proj, canvas, colours, pointSize, n);
    }

    if (showScanners) {
        const float m = markerSize;
        for (const auto& s : scanners) {
            const ImVec2 p = proj.project(origin.x + s[0], origin.y + s[1], origin.z + s[2]);
            if (!canvas.contains(p)) continue;
            if (m <= 1.4f) {
                dl->AddRectFilled(ImVec2(p.x - m, p.y - m), ImVec2(p.x + m, p.y + m), kScanner);
            } else {
                dl->AddCircleFilled(p, m, kScanner, m < 3.0f ? 8 : 12);
            }
            dl->AddCircle(p, m + 1.5f, kScannerRing, 12, 1.0f);
        }
    }

    dl->PopClipRect();
    char status[160];
    std::snprintf(status, sizeof status,
                  "3D preview | cached samples=%llu | drawn points=%llu | drawn voxels=%llu | "
                  "passive view",
                  static_cast<unsigned long long>(n), static_cast<unsigned long long>(points),
                  static_cast<unsigned long long>(voxels));
    // Both lines wrap within the canvas rather than run past its edge; the hint keeps its
    // place below a status of one line.
    const ImFont* font = ImGui::GetFont();
    const float fontSize = ImGui::GetFontSize();
    const float wrap = std::max(canvasSize.x - 24.0f, 1.0f);
    const float statusHeight = font->CalcTextSizeA(fontSize, FLT_MAX, wrap, status).y;
    dl->AddText(font, fontSize, textPos, kStatus, status, nullptr, wrap);
    dl->AddText(font, fontSize,
                ImVec2(canvasPos.x + 12.0f, canvasPos.y + std::max(34.0f, 22.0f + statusHeight)),
                kHint, "Phase 6B.3: Ctrl + left click selects tiles in 3D.", nullptr, wrap);
    if (stats) {
        stats->finiteSamples = n;
        stats->points = points;
        stats->voxels = voxels;
    }
    return toggled;
}
