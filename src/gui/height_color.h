#pragma once

#include <array>
#include <cstdint>

// The Z colour ramp of the top, vertical and 3D views: low points red, the centre white, high
// points blue-violet. t is the height fraction (clamped to 0..1, NaN as 0), centreOffset moves
// the white centre from 0.5, sensitivity stretches the ramp around it. Packed as ImU32: R in
// the low byte, then G, B, A.
std::uint32_t heightToColor(float t, float alpha, float sensitivity, float centreOffset);

// The ramp tabulated for one frame's alpha, sensitivity and centre, for loops over many
// samples: within one step of heightToColor in each channel.
class HeightColorTable {
public:
    static constexpr int kSteps = 4096;
    HeightColorTable(float alpha, float sensitivity, float centreOffset);
    // Every height in one colour.
    explicit HeightColorTable(std::uint32_t color) { table_.fill(color); }
    std::uint32_t operator()(float t) const {
        float c = t > 0.0f ? t : 0.0f;
        c = c < 1.0f ? c : 1.0f;
        return table_[static_cast<int>(c * static_cast<float>(kSteps - 1) + 0.5f)];
    }

private:
    std::array<std::uint32_t, kSteps> table_;
};
