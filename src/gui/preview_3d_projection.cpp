#include "gui/preview_3d_projection.h"

#include <algorithm>
#include <limits>

#include "gui/height_color.h"

namespace {

constexpr double kDegToRad = 0.017453292519943295;

float side(ImVec2 p, ImVec2 a, ImVec2 b) {
    return (p.x - b.x) * (a.y - b.y) - (a.x - b.x) * (p.y - b.y);
}

bool triangleContains(ImVec2 p, ImVec2 a, ImVec2 b, ImVec2 c) {
    const float d1 = side(p, a, b);
    const float d2 = side(p, b, c);
    const float d3 = side(p, c, a);
    const bool negative = d1 < 0.0f || d2 < 0.0f || d3 < 0.0f;
    const bool positive = d1 > 0.0f || d2 > 0.0f || d3 > 0.0f;
    return !(negative && positive);
}

}  // namespace

SampleBounds3D computeSampleBounds3D(const TileSampleMap& samples) {
    SampleBounds3D b;
    float lo[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                   std::numeric_limits<float>::max()};
    float hi[3] = {-lo[0], -lo[0], -lo[0]};
    std::uint64_t n = 0;
    for (const auto& [tile, list] : samples) {
        for (const Sample2D& s : list) {
            if (!isFiniteSample(s)) continue;
            lo[0] = std::min(lo[0], s.x);
            hi[0] = std::max(hi[0], s.x);
            lo[1] = std::min(lo[1], s.y);
            hi[1] = std::max(hi[1], s.y);
            lo[2] = std::min(lo[2], s.z);
            hi[2] = std::max(hi[2], s.z);
            ++n;
        }
    }
    b.n = n;
    if (n == 0) return b;
    b.minX = lo[0];
    b.maxX = hi[0];
    b.minY = lo[1];
    b.maxY = hi[1];
    b.minZ = lo[2];
    b.maxZ = hi[2];
    return b;
}

const char* preview3DEmptyText(const TileSampleMap& samples, const SampleBounds3D& bounds) {
    if (samples.empty()) return "3D preview: no cached samples.";
    if (bounds.n == 0) return "3D preview: no valid sampled points.";
    return nullptr;
}

Projection3D makeProjection3D(const SampleBounds3D& b, ImVec2 canvasPos, ImVec2 canvasSize,
                              float zoom, ImVec2 pan, float yawDeg, float pitchDeg,
                              const SampleOrigin& origin) {
    Projection3D p;
    const double mx = (static_cast<double>(b.minX) + b.maxX) * 0.5;
    const double my = (static_cast<double>(b.minY) + b.maxY) * 0.5;
    const double mz = (static_cast<double>(b.minZ) + b.maxZ) * 0.5;
    p.cx = origin.x + mx;
    p.cy = origin.y + my;
    p.cz = origin.z + mz;
    p.cxf = static_cast<float>(mx);
    p.cyf = static_cast<float>(my);
    p.czf = static_cast<float>(mz);
    // A flat (or single-point) cloud keeps a finite scale.
    const double e =
        std::max({static_cast<double>(b.maxX) - b.minX, static_cast<double>(b.maxY) - b.minY,
                  static_cast<double>(b.maxZ) - b.minZ, 1e-6});
    p.k = static_cast<float>(std::min(canvasSize.x, canvasSize.y) * 0.82 / e * zoom);
    p.ox = canvasPos.x + canvasSize.x * 0.5f + pan.x;
    p.oy = canvasPos.y + canvasSize.y * 0.5f + pan.y;
    const double yaw = yawDeg * kDegToRad;
    const double pitch = pitchDeg * kDegToRad;
    const double sy = std::sin(yaw);
    const double cy = std::cos(yaw);
    const double sp = std::sin(pitch);
    const double cp = std::cos(pitch);
    p.ux = static_cast<float>(cy * p.k);
    p.vx = static_cast<float>(-sy * p.k);
    p.uy = static_cast<float>(-sy * cp * p.k);
    p.vy = static_cast<float>(-cy * cp * p.k);
    p.wy = static_cast<float>(-sp * p.k);
    return p;
}

std::uint64_t previewPointStride(std::uint64_t finiteSamples) {
    return std::max<std::uint64_t>(finiteSamples / 300000, 1);
}

float heightFraction(double z, double zMin, double zMax) {
    if (!(zMax > zMin)) return 0.5f;
    return static_cast<float>(std::clamp((z - zMin) / (zMax - zMin), 0.0, 1.0));
}

bool quadContains(const ImVec2 (&c)[4], ImVec2 p) {
    return triangleContains(p, c[0], c[1], c[2]) || triangleContains(p, c[0], c[2], c[3]);
}

void GroundPick::candidate(const TileIndex& t, const GroundQuad& q, ImVec2 mouse) {
    if (!quadContains(q.c, mouse)) return;
    const float mx = (q.c[0].x + q.c[1].x + q.c[2].x + q.c[3].x) * 0.25f - mouse.x;
    const float my = (q.c[0].y + q.c[1].y + q.c[2].y + q.c[3].y) * 0.25f - mouse.y;
    const float d2 = mx * mx + my * my;
    if (found && d2 >= distance2) return;
    found = true;
    tile = t;
    distance2 = d2;
}

GroundPick pickGroundTile(const TileSampleMap& samples, const Projection3D& p, double tileSize,
                          double groundZ, const CanvasRect& canvas, ImVec2 mouse) {
    GroundPick pick;
    if (!(tileSize > 0.0)) return pick;
    const GroundGrid grid(p, tileSize, groundZ, canvas);
    for (const auto& entry : samples) pick.consider(entry.first, grid.quad(entry.first), mouse);
    return pick;
}

float voxelHalfSizePx(float voxelSize, float k, float pointSize) {
    const float q = std::clamp((voxelSize - 0.001f) / 0.099f, 0.0f, 1.0f);
    const float h = std::max({q * 4.25f + 0.75f, voxelSize * k * 0.5f, pointSize * 1.25f});
    return std::clamp(h, 0.75f, 6.0f);
}

ImU32 washTowardGrey(ImU32 colour) {
    auto wash = [](ImU32 c) {
        const float v = static_cast<float>(c);
        return static_cast<ImU32>(std::lround(v + (128.0f - v) * 0.12f));
    };
    const ImU32 r = wash((colour >> IM_COL32_R_SHIFT) & 0xFF);
    const ImU32 g = wash((colour >> IM_COL32_G_SHIFT) & 0xFF);
    const ImU32 b = wash((colour >> IM_COL32_B_SHIFT) & 0xFF);
    return (r << IM_COL32_R_SHIFT) | (g << IM_COL32_G_SHIFT) | (b << IM_COL32_B_SHIFT) |
           (colour & IM_COL32_A_MASK);
}

void orbitPreview3D(Preview3DSettings& s, float dxPx, float dyPx) {
    s.yawDeg += s.orbitSpeed * dxPx;
    s.pitchDeg -= s.orbitSpeed * dyPx;
    // Whole turns, so a fast drag cannot leave the yaw outside the range.
    if (s.yawDeg > 180.0f) s.yawDeg -= 360.0f * std::ceil((s.yawDeg - 180.0f) / 360.0f);
    if (s.yawDeg < -180.0f) s.yawDeg += 360.0f * std::ceil((-180.0f - s.yawDeg) / 360.0f);
    s.pitchDeg = std::clamp(s.pitchDeg, -89.0f, 89.0f);
}

void zoomPreview3D(Preview3DSettings& s, float wheel) {
    s.zoom = std::clamp(s.zoom * std::pow(1.15f, wheel), 0.1f, 50.0f);
}

void resetPreview3DView(Preview3DSettings& s) {
    s.yawDeg = 45.0f;
    s.pitchDeg = 30.0f;
    s.zoom = 1.0f;
    s.panX = 0.0f;
    s.panY = 0.0f;
}

void VoxelGrid::clear(std::size_t reserveVoxels) {
    voxels_.clear();
    voxels_.reserve(reserveVoxels);
    std::size_t want = 1024;
    while (want * 3 < reserveVoxels * 4) want *= 2;
    if (slots_.size() < want) {
        slots_.assign(want, kEmpty);
        mask_ = want - 1;
    } else {
        std::fill(slots_.begin(), slots_.end(), kEmpty);
    }
}

void VoxelGrid::rehash(std::size_t slotCount) {
    slots_.assign(slotCount, kEmpty);
    mask_ = slotCount - 1;
    for (std::size_t i = 0; i < voxels_.size(); ++i) {
        const Voxel3D& v = voxels_[i];
        const std::uint64_t h = hash(v.ix, v.iy, v.iz);
        std::size_t slot = h & mask_;
        while (slots_[slot] != kEmpty) slot = (slot + 1) & mask_;
        slots_[slot] = (h & ~kIndexMask) | i;
    }
}

Voxel3D& VoxelGrid::insert(std::size_t slot, std::uint64_t tag, std::int64_t ix, std::int64_t iy,
                           std::int64_t iz) {
    voxels_.push_back(Voxel3D{ix, iy, iz});
    // Three quarters full at most, so probes stay short.
    if (voxels_.size() * 4 > slots_.size() * 3) {
        rehash(slots_.size() * 2);
    } else {
        slots_[slot] = tag | (voxels_.size() - 1);
    }
    return voxels_.back();
}
