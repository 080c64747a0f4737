#include "gui/height_color.h"

#include <algorithm>
#include <bit>
#include <cmath>

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

void HeightColorTable::prepare(float sensitivity, float centreOffset) {
    if (!buckets_.empty() &&
        std::bit_cast<std::uint32_t>(sensitivity) == std::bit_cast<std::uint32_t>(sensitivity_) &&
        std::bit_cast<std::uint32_t>(centreOffset) == std::bit_cast<std::uint32_t>(centreOffset_))
        return;
    sensitivity_ = sensitivity;
    centreOffset_ = centreOffset;
    auto ramp = [&](float t) { return heightToColor(t, 0.0f, sensitivity, centreOffset); };
    auto word = [](std::uint32_t below, std::uint32_t above, std::uint32_t edge) {
        return std::uint64_t{below} | (std::uint64_t{above} << 24) | (std::uint64_t{edge} << 48);
    };
    buckets_.resize(kBuckets + 1);
    const float step = 1.0f / static_cast<float>(kBuckets);
    const float centre = std::clamp(centreOffset + 0.5f, 0.0f, 1.0f);
    std::uint32_t first = ramp(0.0f);
    for (int i = 0; i < kBuckets; ++i) {
        const float t0 = static_cast<float>(i) * step;
        const float t1 = static_cast<float>(i + 1) * step;
        const std::uint32_t next = ramp(t1);
        const std::uint32_t last = ramp(std::nextafter(t1, 0.0f));
        std::uint64_t& b = buckets_[static_cast<std::size_t>(i)];
        b = word(first, first, 0);
        // At the centre green turns, and equal ends say nothing about the inside.
        if (std::fabs(t0 - centre) <= 2.0f * step) {
            b = 0;
        } else if (last != first) {
            // The first t of another colour; t >= 0, so the bits order as the values.
            std::uint32_t lo = std::bit_cast<std::uint32_t>(t0);
            std::uint32_t hi = std::bit_cast<std::uint32_t>(std::nextafter(t1, 0.0f));
            while (lo + 1 < hi) {
                const std::uint32_t mid = lo + (hi - lo) / 2;
                if (ramp(std::bit_cast<float>(mid)) == first)
                    lo = mid;
                else
                    hi = mid;
            }
            const float edge = std::bit_cast<float>(hi);
            const std::uint32_t above = ramp(edge);
            const float at =
                (edge * static_cast<float>(kBuckets) - static_cast<float>(i)) * 65536.0f;
            // One change only, and an edge the lookup can place exactly.
            if (above == last && at >= 1.0f && at <= 65535.0f && at == std::floor(at))
                b = word(first, above, static_cast<std::uint32_t>(at));
            else
                b = 0;
        }
        first = next;
    }
    buckets_[kBuckets] = word(first, first, 0);
}

std::uint32_t HeightColorTable::slow(float t) const {
    return heightToColor(t, 0.0f, sensitivity_, centreOffset_);
}

HeightColors::HeightColors(const HeightColorTable& table, float alpha)
    : table_(&table), alpha_(heightToColor(0.0f, alpha, 1.0f, 0.0f) & 0xFF000000u) {}
