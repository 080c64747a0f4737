#include "gui/height_color.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

std::uint32_t rgba(std::uint32_t r, std::uint32_t g, std::uint32_t b, std::uint32_t a) {
    return r | (g << 8) | (b << 16) | (a << 24);
}

TEST(HeightToColor, RampEndsCentreAndClamps) {
    struct Case {
        float t, alpha, sensitivity, offset;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {0.5f, 1.0f, 2.0f, 0.0f, rgba(255, 255, 255, 255)},
        {0.0f, 1.0f, 2.0f, 0.0f, rgba(255, 0, 0, 255)},
        {1.0f, 1.0f, 2.0f, 0.0f, rgba(101, 0, 255, 255)},  // 0.4 x 255 in float, truncated
        {-3.0f, 0.5f, 2.0f, 0.0f, rgba(255, 0, 0, 127)},   // t clamped; alpha truncated
        {0.75f, 1.0f, 1.0f, 0.0f, rgba(178, 127, 255, 255)},
        {0.9f, 1.0f, 2.0f, 0.4f, rgba(255, 255, 255, 255)},  // the centre moved to 0.9
        {0.2f, 1.0f, 0.0f, 0.0f, rgba(255, 253, 253, 255)},  // sensitivity floor 0.01
    };
    for (const Case& c : cases)
        EXPECT_EQ(heightToColor(c.t, c.alpha, c.sensitivity, c.offset), c.expected)
            << "t=" << c.t << " sens=" << c.sensitivity << " offset=" << c.offset;
}

TEST(HeightToColor, TableKeepsWithinOneLevelOfTheRamp) {
    const HeightColorTable table(0.92f, 5.0f, 0.1f);
    for (float t : {-1.0f, 0.0f, 0.13f, 0.5f, 0.6001f, 0.87f, 1.0f, 2.0f}) {
        const std::uint32_t a = table(t);
        const std::uint32_t b = heightToColor(t, 0.92f, 5.0f, 0.1f);
        for (int shift = 0; shift < 32; shift += 8) {
            const int ca = static_cast<int>((a >> shift) & 255u);
            const int cb = static_cast<int>((b >> shift) & 255u);
            EXPECT_LE(std::abs(ca - cb), 1) << "t=" << t << " shift=" << shift;
        }
    }
}

}  // namespace
