#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "gui/preview_3d_settings.h"
#include "imgui.h"
#include "points/tiles/tile_index.h"

// The pure parts of the 3D preview: bounds, projection, thinning, tile states, ground picking,
// voxel sizes and the camera moves. The drawing itself is in preview_3d_draw.cpp.

inline bool isFiniteSample(const Sample2D& s) {
    return std::isfinite(s.x) && std::isfinite(s.y) && std::isfinite(s.z);
}

// Over the samples whose x, y and z are all finite; n = 0 leaves the bounds meaningless.
struct SampleBounds3D {
    std::uint64_t n = 0;
    float minX = 0.0f;
    float maxX = 0.0f;
    float minY = 0.0f;
    float maxY = 0.0f;
    float minZ = 0.0f;
    float maxZ = 0.0f;
};

SampleBounds3D computeSampleBounds3D(const TileSampleMap& samples);

// The text that stands in for the cloud, or nullptr when there is a cloud to draw.
const char* preview3DEmptyText(const TileSampleMap& samples, const SampleBounds3D& bounds);

struct CanvasRect {
    float x0 = 0.0f;
    float y0 = 0.0f;
    float x1 = 0.0f;
    float y1 = 0.0f;
    // Edges included.
    bool contains(ImVec2 p) const { return p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1; }
};

// Orbit camera around the bounds' centre: yaw turns about Z, pitch 0 looks straight down.
// project() takes a point, projectSample() a sample (measured from the samples' origin).
struct Projection3D {
    double cx = 0.0;  // the centre as a point: origin + the samples' centre
    double cy = 0.0;
    double cz = 0.0;
    float k = 1.0f;  // pixels per metre
    float ox = 0.0f;
    float oy = 0.0f;
    // screen x = ox + u * ux + v * vx; screen y = oy + u * uy + v * vy + w * wy
    float ux = 0.0f;
    float vx = 0.0f;
    float uy = 0.0f;
    float vy = 0.0f;
    float wy = 0.0f;
    // The centre as a sample, in single precision for the per-sample path.
    float cxf = 0.0f;
    float cyf = 0.0f;
    float czf = 0.0f;

    ImVec2 projectSample(float x, float y, float z) const {
        const float u = x - cxf;
        const float v = y - cyf;
        const float w = z - czf;
        return ImVec2(ox + u * ux + v * vx, oy + u * uy + v * vy + w * wy);
    }
    ImVec2 project(double x, double y, double z) const {
        const float u = static_cast<float>(x - cx);
        const float v = static_cast<float>(y - cy);
        const float w = static_cast<float>(z - cz);
        return ImVec2(ox + u * ux + v * vx, oy + u * uy + v * vy + w * wy);
    }
};

// bounds are the samples', measured from origin.
Projection3D makeProjection3D(const SampleBounds3D& bounds, ImVec2 canvasPos, ImVec2 canvasSize,
                              float zoom, ImVec2 pan, float yawDeg, float pitchDeg,
                              const SampleOrigin& origin = {});

// Every stride-th sample is drawn, so fewer than 600,000 points per frame.
std::uint64_t previewPointStride(std::uint64_t finiteSamples);

// (z - zMin) / (zMax - zMin) clamped to 0..1, or 0.5 when the range is empty.
float heightFraction(double z, double zMin, double zMax);

// Points and voxels: the highlight set decides when it has tiles, else a non-empty buffer,
// else every tile counts as selected.
inline bool tileCountsSelected(const TileIndex& t, const TileSet& buffer,
                               const TileSet& highlight) {
    if (!highlight.empty()) return highlight.count(t) != 0;
    if (!buffer.empty()) return buffer.count(t) != 0;
    return true;
}
// Ground grid and guides: only tiles of this set are marked.
inline const TileSet& markingSet(const TileSet& buffer, const TileSet& highlight) {
    return highlight.empty() ? buffer : highlight;
}

// A ground tile's four projected corners at the ground height, in the order
// (ix, iy), (ix + 1, iy), (ix + 1, iy + 1), (ix, iy + 1); drawn when a corner is on the canvas.
struct GroundQuad {
    ImVec2 c[4];
    bool drawn = false;
};

// The ground tiles' corners: one corner projected in double precision, the other three by
// the projected tile edges.
class GroundGrid {
public:
    GroundGrid(const Projection3D& p, double tileSize, double groundZ, const CanvasRect& canvas)
        : p_(p), size_(tileSize), z_(groundZ), canvas_(canvas) {
        const float s = static_cast<float>(tileSize);
        ex_ = ImVec2(p.ux * s, p.uy * s);
        ey_ = ImVec2(p.vx * s, p.vy * s);
    }
    GroundQuad quad(const TileIndex& t) const {
        GroundQuad q;
        const ImVec2 a =
            p_.project(static_cast<double>(t.ix) * size_, static_cast<double>(t.iy) * size_, z_);
        q.c[0] = a;
        q.c[1] = ImVec2(a.x + ex_.x, a.y + ex_.y);
        q.c[2] = ImVec2(a.x + ex_.x + ey_.x, a.y + ex_.y + ey_.y);
        q.c[3] = ImVec2(a.x + ey_.x, a.y + ey_.y);
        q.drawn = canvas_.contains(q.c[0]) || canvas_.contains(q.c[1]) ||
                  canvas_.contains(q.c[2]) || canvas_.contains(q.c[3]);
        return q;
    }

private:
    Projection3D p_;
    double size_;
    double z_;
    CanvasRect canvas_;
    ImVec2 ex_;
    ImVec2 ey_;
};

// Inside when inside either triangle c0-c1-c2 or c0-c2-c3 (edges included).
bool quadContains(const ImVec2 (&c)[4], ImVec2 p);

// The drawn tile under the mouse whose corner centroid is nearest to it.
struct GroundPick {
    bool found = false;
    TileIndex tile;
    float distance2 = 0.0f;
    void consider(const TileIndex& t, const GroundQuad& q, ImVec2 mouse) {
        if (!q.drawn) return;
        // Most tiles are far from the mouse: their box rules them out.
        const float x0 = std::min(std::min(q.c[0].x, q.c[1].x), std::min(q.c[2].x, q.c[3].x));
        const float x1 = std::max(std::max(q.c[0].x, q.c[1].x), std::max(q.c[2].x, q.c[3].x));
        const float y0 = std::min(std::min(q.c[0].y, q.c[1].y), std::min(q.c[2].y, q.c[3].y));
        const float y1 = std::max(std::max(q.c[0].y, q.c[1].y), std::max(q.c[2].y, q.c[3].y));
        if (mouse.x < x0 || mouse.x > x1 || mouse.y < y0 || mouse.y > y1) return;
        candidate(t, q, mouse);
    }

private:
    void candidate(const TileIndex& t, const GroundQuad& q, ImVec2 mouse);
};

// The whole picking pass over the ground grid; nothing without a positive tile size.
GroundPick pickGroundTile(const TileSampleMap& samples, const Projection3D& p, double tileSize,
                          double groundZ, const CanvasRect& canvas, ImVec2 mouse);

// Half size in pixels of a selected voxel's square.
float voxelHalfSizePx(float voxelSize, float k, float pointSize);

// Red, green and blue moved 12 % toward 128, alpha kept (voxels under points).
ImU32 washTowardGrey(ImU32 colour);

// Left drag: yaw wraps across +-180, pitch stops at +-89.
void orbitPreview3D(Preview3DSettings& s, float dxPx, float dyPx);
// Wheel: zoom by 1.15 per notch, 0.1..50.
void zoomPreview3D(Preview3DSettings& s, float wheel);
void resetPreview3DView(Preview3DSettings& s);

// One voxel of the visual-voxel styles.
struct Voxel3D {
    std::int64_t ix = 0;
    std::int64_t iy = 0;
    std::int64_t iz = 0;
    double sumX = 0.0;
    double sumY = 0.0;
    double sumZ = 0.0;
    std::uint32_t count = 0;
    float maxT = 0.0f;
    bool selected = false;
};

// Voxels by their three indices, rebuilt every frame in storage kept between frames.
// Iterates in the order voxels were first met. clear() comes before the first at().
class VoxelGrid {
public:
    static std::uint64_t hash(std::int64_t ix, std::int64_t iy, std::int64_t iz) {
        std::uint64_t h = static_cast<std::uint64_t>(ix) * 0x9e3779b97f4a7c15ULL;
        h ^= static_cast<std::uint64_t>(iy) * 0xc2b2ae3d27d4eb4fULL;
        h ^= static_cast<std::uint64_t>(iz) * 0x165667b19e3779f9ULL;
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        return h ^ (h >> 33);
    }
    void clear(std::size_t reserveVoxels);
    // The slot a key of this hash starts probing at, fetched ahead of use: with one voxel per
    // sample, as small voxels give, the table is mostly missed in cache otherwise.
    void prefetch(std::uint64_t h) const { __builtin_prefetch(slots_.data() + (h & mask_)); }
    Voxel3D& at(std::int64_t ix, std::int64_t iy, std::int64_t iz) {
        return at(hash(ix, iy, iz), ix, iy, iz);
    }
    Voxel3D& at(std::uint64_t h, std::int64_t ix, std::int64_t iy, std::int64_t iz) {
        const std::uint64_t tag = h & ~kIndexMask;
        std::size_t slot = h & mask_;
        for (;;) {
            const std::uint64_t e = slots_[slot];
            if (e == kEmpty) break;
            // The hash's upper half in the slot spares most reads of other voxels.
            if ((e & ~kIndexMask) == tag) {
                Voxel3D& v = voxels_[e & kIndexMask];
                if (v.ix == ix && v.iy == iy && v.iz == iz) return v;
            }
            slot = (slot + 1) & mask_;
        }
        return insert(slot, tag, ix, iy, iz);
    }
    const std::vector<Voxel3D>& voxels() const { return voxels_; }

private:
    static constexpr std::uint64_t kIndexMask = 0xFFFFFFFFULL;
    static constexpr std::uint64_t kEmpty = ~0ULL;
    Voxel3D& insert(std::size_t slot, std::uint64_t tag, std::int64_t ix, std::int64_t iy,
                    std::int64_t iz);
    void rehash(std::size_t slotCount);
    std::vector<Voxel3D> voxels_;
    std::vector<std::uint64_t> slots_;  // hash's upper half | index into voxels_
    std::size_t mask_ = 0;
};
