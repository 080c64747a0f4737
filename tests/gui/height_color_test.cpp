#include "gui/height_color.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

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

TEST(HeightToColor, TableGivesTheRampsOwnColours) {
    // Sensitivity and centre offset; the last ones put many colour changes in one bucket.
    const float cases[][2] = {{2.0f, 0.0f},  {8.0f, -0.13f}, {0.1f, 0.31f},
                              {5.0f, -0.5f}, {3.0f, 0.5f},   {40.0f, 0.2f}};
    HeightColorTable table;
    for (const auto& c : cases) {
        table.prepare(c[0], c[1]);
        const HeightColors colors(table, 0.82f);
        std::vector<float> ts;
        for (int i = 0; i <= 100000; ++i) ts.push_back(static_cast<float>(i) / 100000.0f);
        // Every float for a few thousand steps either side of the centre, where green turns,
        // and a few about every bucket edge.
        float t = std::clamp(c[1] + 0.5f, 0.0f, 1.0f);
        for (int i = 0; i < 3000 && t > 0.0f; ++i) t = std::nextafter(t, -1.0f);
        for (int i = 0; i < 6000 && t <= 1.0f; ++i, t = std::nextafter(t, 2.0f)) ts.push_back(t);
        for (int k = 1; k < HeightColorTable::kBuckets; ++k) {
            const float edge = static_cast<float>(k) / HeightColorTable::kBuckets;
            ts.push_back(std::nextafter(edge, 0.0f));
            ts.push_back(edge);
        }
        for (float odd : {-1.0f, 2.0f, std::nanf("")}) ts.push_back(odd);
        int wrong = 0;
        float firstWrong = 0.0f;
        for (float x : ts)
            if (colors(x) != heightToColor(x, 0.82f, c[0], c[1]) && wrong++ == 0) firstWrong = x;
        EXPECT_EQ(wrong, 0) << "sensitivity " << c[0] << " offset " << c[1] << " first at t "
                            << firstWrong;
    }
    const HeightColors one(rgba(120, 200, 255, 235));
    EXPECT_EQ(one(0.3f), rgba(120, 200, 255, 235));
    EXPECT_EQ(one.alphaByte(), 235u);
}

}  // namespace
