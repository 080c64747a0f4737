#include "gui/vertical_view.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "gui/height_color.h"
#include "gui/top_view.h"
#include "gui/view_draw.h"
#include "imgui.h"

namespace {

// Marked columns among the visible ones, kept between frames.
std::vector<std::uint8_t>& columnMarks() {
    static std::vector<std::uint8_t> marks;
    return marks;
}

// More separators than this in view would only paint the plot solid.
constexpr std::int64_t kMaxSeparators = 65536;

}  // namespace

void drawVerticalView(GuiFrame& f, ImDrawList* dl, const CanvasRect& canvas) {
    const ImVec2 p0(canvas.x, canvas.y);
    const ImVec2 p1(canvas.x + canvas.w, canvas.y + canvas.h);
    if (f.gui.startupScreen) {
        dl->AddRectFilled(p0, p1, IM_COL32(18, 18, 18, 255));
        dl->AddRect(p0, p1, IM_COL32(70, 70, 70, 255));
        dl->AddText(ImVec2(p0.x + 12.0f, p0.y + 12.0f), IM_COL32(180, 180, 180, 255),
                    "Side view is disabled during startup preview.");
        return;
    }

    const ViewSettings& view = f.proc.view;
    const TileIndexBounds& b = f.bounds;
    const TileSet& tiles = f.gui.emphasisedTiles;
    const int rot = clampedRotation(f.proc.sideViewRotation);
    const bool alongX = sideAxisIsX(rot);
    const SidePlotLayout plot =
        sidePlotLayout(canvas, view.verticalZoom, view.verticalPanX, view.verticalPanY);
    const std::int64_t n = std::max<std::int64_t>(sideColumnCount(rot, b), 1);
    const float cw = plot.width / static_cast<float>(n);
    const ImVec2 clipMin = dl->GetClipRectMin();
    const ImVec2 clipMax = dl->GetClipRectMax();

    // The columns' fill is one rectangle.
    dl->AddRectFilled(ImVec2(plot.left, plot.top), ImVec2(plot.right(), plot.bottom()),
                      IM_COL32(22, 22, 22, 255));

    // Separators k = 0..n at left + k * cw; only those in view.
    const double k0 = std::max(std::floor(static_cast<double>(clipMin.x - plot.left) / cw), 0.0);
    const double k1 = std::min(std::ceil(static_cast<double>(clipMax.x - plot.left) / cw),
                               static_cast<double>(n));
    if (k0 <= k1 && k1 - k0 < static_cast<double>(kMaxSeparators)) {
        const std::int64_t first = static_cast<std::int64_t>(k0);
        const std::int64_t last = static_cast<std::int64_t>(k1);
        // marks[k - first + 1] for column k in first - 1 .. last.
        std::vector<std::uint8_t>& marks = columnMarks();
        marks.assign(static_cast<std::size_t>(last - first + 2), 0);
        for (const TileIndex& t : tiles) {
            const std::int64_t col = sideColumnOf(rot, b, t);
            if (col >= 0 && col < n && col >= first - 1 && col <= last)
                marks[static_cast<std::size_t>(col - first + 1)] = 1;
        }
        for (std::int64_t k = first; k <= last; ++k) {
            const bool inner = k > 0 && k < n;
            const bool nextToMarked = marks[static_cast<std::size_t>(k - first)] ||
                                      marks[static_cast<std::size_t>(k - first + 1)];
            const float x = plot.left + static_cast<float>(k) * cw;
            dl->AddLine(
                ImVec2(x, plot.top), ImVec2(x, plot.bottom()),
                inner && nextToMarked ? IM_COL32(95, 95, 95, 190) : IM_COL32(55, 55, 55, 140));
        }
    }

    // Height: y = bottom - height * (z * ys + yo); the ramp input is the same fraction.
    const SampleOrigin origin = displayedOrigin(f);
    const double zMin = f.gui.zRangeMin;
    const double zMax = f.gui.zRangeMax;
    float ys = 0.0f;
    float yo = 0.5f;
    if (zMax > zMin) {  // for the samples' z, measured from the origin's
        ys = static_cast<float>(1.0 / (zMax - zMin));
        yo = static_cast<float>((origin.z - zMin) / (zMax - zMin));
    }
    const bool haveZ = f.gui.haveZRange;
    static HeightColorTable ramp;  // kept while the sensitivity and centre stay
    ramp.prepare(view.zSensitivity, rampCentreOffset(view.zCenterM, zMin, zMax));
    const HeightColors colors(ramp, 0.92f);
    const double tileSize = f.in.coarseTileSize;
    const bool sizeOk = tileSize > 0.0 && std::isfinite(tileSize);
    const double invTile = 1.0 / tileSize;
    const float rv = std::min(view.pointBallRadiusPx * 1.2f, 6.0f);
    const DotShape shape = dotShape(rv);
    const DotExtent ext = dotExtent(rv);
    const float colW = std::max(cw, 1.0f);
    const bool flip = rot >= 2;

    std::size_t drawn = 0;
    if (f.samples && sizeOk) {
        QuadWriter quads(dl);
        for (const TileIndex& t : tiles) {
            const std::int64_t col = sideColumnOf(rot, b, t);
            if (col < 0 || col >= n) continue;
            const auto it = f.samples->find(t);
            if (it == f.samples->end()) continue;
            const std::vector<Sample2D>& list = it->second;
            if (!drawListHasRoom(dl, list.size() * dotVertices(rv))) break;
            const float left = plot.left + static_cast<float>(col) * cw;
            const std::int64_t k = alongX ? t.ix : t.iy;
            for (std::size_t start = 0; start < list.size(); start += QuadWriter::kMaxQuads) {
                const std::size_t end = std::min(list.size(), start + QuadWriter::kMaxQuads);
                QuadCursor out;
                if (shape != DotShape::Circle) out = quads.begin(static_cast<int>(end - start));
                for (std::size_t i = start; i < end; ++i) {
                    const Sample2D& s = list[i];
                    double fu = 0.0;
                    if (!sampleFraction(alongX ? origin.x : origin.y, alongX ? s.x : s.y, invTile,
                                        k, fu))
                        continue;
                    const float u = flip ? 1.0f - static_cast<float>(fu) : static_cast<float>(fu);
                    const float x = left + std::clamp(u, 0.0f, 1.0f) * colW;
                    const float h = s.z * ys + yo;
                    const float y = plot.bottom() - plot.height * h;
                    if (!(x + ext.after >= clipMin.x && x - ext.before <= clipMax.x &&
                          y + ext.after >= clipMin.y && y - ext.before <= clipMax.y))
                        continue;
                    const ImU32 col32 = colors(haveZ ? h : 0.0f);
                    switch (shape) {
                        case DotShape::Pixel: out.put(x, y, x + 1.0f, y + 1.0f, col32); break;
                        case DotShape::Square:
                            out.put(x - rv, y - rv, x + rv, y + rv, col32);
                            break;
                        case DotShape::Circle:
                            dl->AddCircleFilled(ImVec2(x, y), rv, col32, dotSegments(rv));
                            break;
                    }
                    ++drawn;
                }
                if (shape != DotShape::Circle) quads.end(out);
            }
        }
    }

    char text[160];
    if (drawn == 0 || !haveZ) {
        std::snprintf(text, sizeof(text),
                      "Side view has no visible samples. verticalPreviewTiles=%d, haveZ=%s",
                      static_cast<int>(tiles.size()), haveZ ? "true" : "false");
        dl->AddText(ImVec2(plot.left + 12.0f, plot.top + 12.0f), IM_COL32(220, 220, 220, 255),
                    text);
    }

    if (const auto* scans = markedScans(f); scans && haveZ && sizeOk) {
        for (const E57ScanSummary& scan : *scans) {
            TileIndex t;
            if (!tryTileIndexFor(scan.translationX, scan.translationY, tileSize, t)) continue;
            const std::int64_t col = sideColumnOf(rot, b, t);
            if (col < 0 || col >= n) continue;
            const float u = sideU(rot, scan.translationX, scan.translationY, tileSize);
            const float x = plot.left + static_cast<float>(col) * cw + u * colW;
            const float y = sideHeightY(scan.translationZ, zMin, zMax, plot.bottom(), plot.height);
            if (!drawListHasRoom(dl, 64)) break;
            drawScannerMarker(dl, x, y, view.scannerMarkerRadiusPx);
        }
    }

    struct ZLine {
        double z;
        ImU32 color;
        const char* label;
    };
    const ZLine lines[] = {{f.proc.pendingZMin, IM_COL32(255, 180, 80, 255), "Z min"},
                           {f.proc.pendingZMax, IM_COL32(80, 220, 255, 255), "Z max"}};
    for (const ZLine& line : lines) {
        const float y = sideHeightY(line.z, zMin, zMax, plot.bottom(), plot.height);
        dl->AddLine(ImVec2(plot.left, y), ImVec2(plot.right(), y), line.color, 2.0f);
        dl->AddText(ImVec2(plot.right() - 110.0f, y - 18.0f), line.color, line.label);
    }

    dl->AddRect(ImVec2(plot.left, plot.top), ImVec2(plot.right(), plot.bottom()),
                IM_COL32(110, 110, 110, 255));

    const char* axis = alongX ? "X" : "Y";
    const ImU32 light = IM_COL32(220, 220, 220, 255);
    const ImU32 dim = IM_COL32(190, 190, 190, 255);
    dl->AddText(ImVec2(plot.right() - 20.0f, plot.bottom() + 8.0f), light, axis);
    dl->AddText(ImVec2(plot.left - 22.0f, plot.top - 6.0f), light, "Z");
    std::snprintf(text, sizeof(text), "%s span: %.2f m (%d tiles)", axis,
                  static_cast<double>(n) * tileSize, static_cast<int>(n));
    dl->AddText(ImVec2(plot.left, plot.bottom() + 8.0f), dim, text);
    std::snprintf(text, sizeof(text), "Z: %.2f .. %.2f m", zMin, zMax);
    dl->AddText(ImVec2(plot.left, plot.top - 18.0f), dim, text);
}
