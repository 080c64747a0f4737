#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imgui.h"

// Drawing pieces the top and vertical views share.

// Fractional part of coord / tileSize for a sample of tile index k: the subtraction is exact
// when the sample lies in its tile, the floor serves the rest. False for a non-finite value.
inline bool sampleFraction(double origin, float coord, double invTile, std::int64_t k,
                           double& out) {
    const double d = (origin + static_cast<double>(coord)) * invTile;
    double f = d - static_cast<double>(k);
    if (!(f >= 0.0 && f < 1.0)) {
        f = d - std::floor(d);
        if (!(f >= 0.0 && f <= 1.0)) return false;
    }
    out = f;
    return true;
}

// Without vertex offsets in the renderer one draw list is indexed with 16 bits, and past
// 65,536 vertices ImGui stops on an assertion; the views then stop drawing before that,
// leaving room for the labels and markers drawn after the samples.
inline bool drawListHasRoom(const ImDrawList* dl, std::size_t vertices) {
    if (sizeof(ImDrawIdx) > 2 || (dl->Flags & ImDrawListFlags_AllowVtxOffset)) return true;
    constexpr std::size_t kLimit = 65536 - 4096;
    return dl->_VtxCurrentIdx + vertices < kLimit;
}

// Vertices of one dot, at most (a filled circle with its anti-aliased fringe).
inline std::size_t dotVertices(float r) { return r > 1.4f ? 2u * (r < 3.0f ? 8u : 12u) : 4u; }

// The vertices and indices one draw-list call made, relative to a point, so that the same
// shape can be drawn at other points without the call (an outline's anti-aliased fringe is a
// good deal of work for ImGui). Positions come back to within a rounding of the call's own.
class DrawStamp {
public:
    bool ready() const { return ready_; }
    void reset() { ready_ = false; }
    int vertices() const { return static_cast<int>(vtx_.size()); }
    int indices() const { return static_cast<int>(idx_.size()); }
    const ImDrawVert* vertexData() const { return vtx_.data(); }
    const ImDrawIdx* indexData() const { return idx_.data(); }

    // Runs draw(), which must add to dl only, and keeps what it added.
    template <class Draw>
    void capture(ImDrawList* dl, float x, float y, Draw&& draw) {
        const int v0 = dl->VtxBuffer.Size;
        const int i0 = dl->IdxBuffer.Size;
        draw();
        const int nv = dl->VtxBuffer.Size - v0;
        const int ni = dl->IdxBuffer.Size - i0;
        // The call's indices count from its first vertex, whatever vertex offset it took.
        const unsigned first = dl->_VtxCurrentIdx - static_cast<unsigned>(nv);
        vtx_.assign(dl->VtxBuffer.Data + v0, dl->VtxBuffer.Data + v0 + nv);
        for (ImDrawVert& v : vtx_) v.pos = ImVec2(v.pos.x - x, v.pos.y - y);
        idx_.resize(static_cast<std::size_t>(ni));
        for (int i = 0; i < ni; ++i)
            idx_[static_cast<std::size_t>(i)] =
                static_cast<ImDrawIdx>(dl->IdxBuffer.Data[i0 + i] - first);
        ready_ = true;
    }

private:
    std::vector<ImDrawVert> vtx_;
    std::vector<ImDrawIdx> idx_;
    bool ready_ = false;
};

// Shapes written straight into reserved draw-list room, through local pointers: the list's
// own cursor fields could alias the stores and be reloaded every time.
struct QuadCursor {
    ImDrawVert* vtx = nullptr;
    ImDrawIdx* idx = nullptr;
    unsigned int base = 0;
    ImVec2 uv;

    // An axis-aligned rectangle, as ImDrawList::PrimRect writes it.
    void put(float x0, float y0, float x1, float y1, ImU32 col) {
        const ImDrawIdx b = static_cast<ImDrawIdx>(base);
        idx[0] = b;
        idx[1] = static_cast<ImDrawIdx>(b + 1);
        idx[2] = static_cast<ImDrawIdx>(b + 2);
        idx[3] = b;
        idx[4] = static_cast<ImDrawIdx>(b + 2);
        idx[5] = static_cast<ImDrawIdx>(b + 3);
        vtx[0] = ImDrawVert{ImVec2(x0, y0), uv, col};
        vtx[1] = ImDrawVert{ImVec2(x1, y0), uv, col};
        vtx[2] = ImDrawVert{ImVec2(x1, y1), uv, col};
        vtx[3] = ImDrawVert{ImVec2(x0, y1), uv, col};
        vtx += 4;
        idx += 6;
        base += 4;
    }
    // A captured shape again, moved to (x, y).
    void put(const DrawStamp& s, float x, float y) {
        const int nv = s.vertices();
        const int ni = s.indices();
        const ImDrawVert* sv = s.vertexData();
        const ImDrawIdx* si = s.indexData();
        for (int i = 0; i < nv; ++i)
            vtx[i] = ImDrawVert{ImVec2(sv[i].pos.x + x, sv[i].pos.y + y), sv[i].uv, sv[i].col};
        for (int i = 0; i < ni; ++i) idx[i] = static_cast<ImDrawIdx>(base + si[i]);
        vtx += nv;
        idx += ni;
        base += static_cast<unsigned>(nv);
    }
};

// Reserves room for a run of shapes and hands back what the run did not use. Between begin()
// and end() nothing else may draw into the list. One run stays below the 16-bit index range.
class QuadWriter {
public:
    static constexpr int kMaxQuads = 4096;
    explicit QuadWriter(ImDrawList* dl) : dl_(dl), uv_(ImGui::GetFontTexUvWhitePixel()) {}

    // Room for `quads` (1 to kMaxQuads) quads.
    QuadCursor begin(int quads) { return begin(quads * 4, quads * 6); }
    // Room for that many vertices (at most 4 x kMaxQuads) and indices.
    QuadCursor begin(int vertices, int indices) {
        reservedVtx_ = vertices;
        reservedIdx_ = indices;
        dl_->PrimReserve(indices, vertices);
        return QuadCursor{dl_->_VtxWritePtr, dl_->_IdxWritePtr, dl_->_VtxCurrentIdx, uv_};
    }
    void end(const QuadCursor& c) {
        const int unusedVtx = reservedVtx_ - static_cast<int>(c.vtx - dl_->_VtxWritePtr);
        const int unusedIdx = reservedIdx_ - static_cast<int>(c.idx - dl_->_IdxWritePtr);
        dl_->_VtxWritePtr = c.vtx;
        dl_->_IdxWritePtr = c.idx;
        dl_->_VtxCurrentIdx = c.base;
        if (unusedVtx > 0 || unusedIdx > 0) dl_->PrimUnreserve(unusedIdx, unusedVtx);
        reservedVtx_ = 0;
        reservedIdx_ = 0;
    }

private:
    ImDrawList* dl_;
    ImVec2 uv_;
    int reservedVtx_ = 0;
    int reservedIdx_ = 0;
};

// How a point of radius r is drawn: a 1-pixel square, a square of half side r, or a circle.
enum class DotShape { Pixel, Square, Circle };
inline DotShape dotShape(float r) {
    if (r <= 0.6f) return DotShape::Pixel;
    if (r <= 1.4f) return DotShape::Square;
    return DotShape::Circle;
}
inline int dotSegments(float r) { return r < 3.0f ? 8 : 12; }

// One dot through the ordinary draw calls (markers and other single dots).
inline void drawDot(ImDrawList* dl, float x, float y, float r, ImU32 col) {
    switch (dotShape(r)) {
        case DotShape::Pixel:
            dl->AddRectFilled(ImVec2(x, y), ImVec2(x + 1.0f, y + 1.0f), col);
            break;
        case DotShape::Square:
            dl->AddRectFilled(ImVec2(x - r, y - r), ImVec2(x + r, y + r), col);
            break;
        case DotShape::Circle: dl->AddCircleFilled(ImVec2(x, y), r, col, dotSegments(r)); break;
    }
}

// A scanner position: the red dot and its light ring.
inline void drawScannerMarker(ImDrawList* dl, float x, float y, float r) {
    drawDot(dl, x, y, r, IM_COL32(255, 60, 60, 255));
    dl->AddCircle(ImVec2(x, y), r + 1.0f, IM_COL32(255, 255, 255, 220), 10, 1.0f);
}

// The rectangle the dot covers, for the clip test before drawing.
struct DotExtent {
    float before = 0.0f;  // left of / above the position
    float after = 0.0f;   // right of / below it
};
inline DotExtent dotExtent(float r) {
    if (dotShape(r) == DotShape::Pixel) return {0.0f, 1.0f};
    return {r, r};
}
