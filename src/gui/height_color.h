#pragma once

#include <cstdint>
#include <vector>

// The Z colour ramp of the top, vertical and 3D views: low points red, the centre white, high
// points blue-violet. t is the height fraction (clamped to 0..1, NaN as 0), centreOffset moves
// the white centre from 0.5, sensitivity stretches the ramp around it. Packed as ImU32: R in
// the low byte, then G, B, A.
std::uint32_t heightToColor(float t, float alpha, float sensitivity, float centreOffset);

// The ramp's red, green and blue for one sensitivity and centre, looked up by t: exactly
// heightToColor's. Within a bucket of t each channel only moves one way (the ramp turns at the
// centre alone), so a bucket holds its colour below an edge and the colour above it, in one
// 64-bit word (32 KB in all): 24 bits each and the edge's place in the bucket in 16, which
// holds every edge from t = 1/32 up. Buckets with more than one change, those at the centre
// and those with an edge the 16 bits cannot hold call the ramp itself.
class HeightColorTable {
public:
    static constexpr int kBuckets = 4096;  // a power of two: t * kBuckets is exact
    HeightColorTable() = default;
    HeightColorTable(float sensitivity, float centreOffset) { prepare(sensitivity, centreOffset); }
    // Rebuilds only when a value changes, so a table kept between frames costs nothing.
    void prepare(float sensitivity, float centreOffset);
    // Alpha byte 0. Call prepare first.
    std::uint32_t rgb(float t) const {
        float c = t > 0.0f ? t : 0.0f;  // NaN as 0
        c = c < 1.0f ? c : 1.0f;
        const float x = c * static_cast<float>(kBuckets);
        const int i = static_cast<int>(x);
        // Both exact: x - i has no more bits than x, and * 65536 only moves them.
        const int at = static_cast<int>((x - static_cast<float>(i)) * 65536.0f);
        const std::uint64_t w = buckets_[static_cast<std::size_t>(i)];
        const std::uint32_t below = static_cast<std::uint32_t>(w) & 0xFFFFFFu;
        const std::uint32_t above = static_cast<std::uint32_t>(w >> 24) & 0xFFFFFFu;
        // Without a branch: which side of the edge is as good as random.
        const std::uint32_t past = 0u - static_cast<std::uint32_t>(at >= static_cast<int>(w >> 48));
        const std::uint32_t col = below ^ ((below ^ above) & past);
        if (col == 0) [[unlikely]]  // no colour of the ramp is black
            return slow(c);
        return col;
    }

private:
    std::uint32_t slow(float t) const;
    std::vector<std::uint64_t> buckets_;  // kBuckets + 1, t = 1 in the last
    float sensitivity_ = 0.0f;
    float centreOffset_ = 0.0f;
};

// The colours of one alpha: heightToColor(t, alpha, sensitivity, centreOffset) through a
// table, or one colour for every t. The table must outlive it.
class HeightColors {
public:
    HeightColors(const HeightColorTable& table, float alpha);
    explicit HeightColors(std::uint32_t color) : alpha_(color) {}
    std::uint32_t operator()(float t) const { return table_ ? table_->rgb(t) | alpha_ : alpha_; }
    std::uint32_t alphaByte() const { return alpha_ >> 24; }

private:
    const HeightColorTable* table_ = nullptr;
    std::uint32_t alpha_ = 0;  // the alpha bits, or the whole colour without a table
};
