#include "gui/height_color.h"

#include <algorithm>

namespace {

// Truncated, as the ramp's documented values (0.4 x 255 -> 101) rely on.
std::uint32_t channel(float v) {
    const float c = v > 0.0f ? std::min(v, 1.0f) : 0.0f;
    return static_cast<std::uint32_t>(c * 255.0f);
}

}  // namespace

std::uint32_t heightToColor(float t, float alpha, float sensitivity, float centreOffset) {
    const float c = std::clamp(centreOffset + 0.5f, 0.0f, 1.0f);
    const float tc = t > 0.0f ? std::min(t, 1.0f) : 0.0f;
    const float u = (tc - c) * std::max(sensitivity, 0.01f) + c;
    const float d = std::clamp(u, 0.0f, 1.0f) - c;
    float r = 1.0f;
    float g = 1.0f;
    float b = 1.0f;
    if (d < 0.0f) {
        const float k = std::min(-2.0f * d, 1.0f);
        g = 1.0f - k;
        b = 1.0f - k;
    } else {
        const float k = std::min(2.0f * d, 1.0f);
        r = 1.0f - 0.6f * k;
        g = 1.0f - k;
    }
    return channel(r) | (channel(g) << 8) | (channel(b) << 16) | (channel(alpha) << 24);
}

HeightColorTable::HeightColorTable(float alpha, float sensitivity, float centreOffset) {
    for (int i = 0; i < kSteps; ++i)
        table_[i] = heightToColor(static_cast<float>(i) / static_cast<float>(kSteps - 1), alpha,
                                  sensitivity, centreOffset);
}
