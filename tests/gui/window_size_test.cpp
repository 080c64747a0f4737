#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "gui/file_browse.h"
#include "gui/window_size.h"

namespace {

TEST(WindowSize, FirstSizeIsHalfTheMonitorWithAFloor) {
    struct Case {
        int modeW, modeH;  // 0: no monitor
        int w, h;
    };
    const Case cases[] = {
        {1920, 1080, 1100, 800}, {3840, 2160, 1920, 1080}, {1280, 720, 1100, 800},
        {2561, 1601, 1280, 800}, {0, 0, 1200, 800},
    };
    for (const Case& c : cases) {
        std::optional<WindowExtent> mode;
        if (c.modeW > 0) mode = WindowExtent{c.modeW, c.modeH};
        const WindowExtent s = initialWindowSize(mode);
        EXPECT_EQ(s.width, c.w) << c.modeW;
        EXPECT_EQ(s.height, c.h) << c.modeW;
    }
}

TEST(WindowSize, MeasuredHeightGrowsToTheScrollRangeOrShrinksTo120pxOfSlack) {
    struct Case {
        float scrollMaxY, panelHeight, cursorY;
        int wanted;
    };
    const Case cases[] = {
        {100.2f, 880.0f, 980.0f, 101 + 900 + 48},
        // slack = 880 - (cursor + 8 + 16); above 180 the window keeps 120 px of it
        {4.0f, 880.0f, 600.0f, 900 - 136},
        {0.0f, 880.0f, 675.5f, 900 - 61},
        {0.0f, 880.0f, 676.0f, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(measureWantedWindowHeight(c.scrollMaxY, c.panelHeight, c.cursorY, 8.0f, 900),
                  c.wanted)
            << c.scrollMaxY << " " << c.cursorY;
    }
}

TEST(WindowSize, ResizeTargetClampsToTheMonitorAndWaitsForABigEnoughChange) {
    struct Case {
        const char* name;
        int wanted, current, monitor;  // monitor 0: none
        double now;
        bool maximised;
        int target;
    };
    const Case cases[] = {
        {"tall panel on a 1080 px monitor", 3000, 800, 1080, 10.0, false, 1000},
        {"no monitor", 3000, 800, 0, 10.0, false, 1600},
        {"small monitor keeps 800", 3000, 700, 600, 10.0, false, 800},
        {"below the floor", 300, 1000, 1080, 10.0, false, 800},
        {"change under 32 px", 831, 800, 1080, 10.0, false, -1},
        {"change of 32 px", 832, 800, 1080, 10.0, false, 832},
        {"too soon after the last resize", 1000, 800, 1080, 5.25, false, -1},
        {"maximised", 1000, 800, 1080, 10.0, true, -1},
        {"nothing wanted", -1, 800, 1080, 10.0, false, -1},
    };
    for (const Case& c : cases) {
        const std::optional<int> monitor =
            c.monitor > 0 ? std::optional<int>(c.monitor) : std::nullopt;
        EXPECT_EQ(autoResizeTarget(c.wanted, c.current, monitor, c.now, 5.0, c.maximised), c.target)
            << c.name;
    }
}

TEST(CopyToTextBuffer, CopiesAtMostCountMinusOneAndTerminates) {
    char buffer[8];
    std::memset(buffer, 'x', sizeof buffer);
    copyToTextBuffer(buffer, "abcdefghij", 5);
    EXPECT_STREQ(buffer, "abcd");
    EXPECT_EQ(buffer[5], 'x');  // nothing past count
    copyToTextBuffer(buffer, "ab", 5);
    EXPECT_STREQ(buffer, "ab");
    copyToTextBuffer(buffer, "", 5);
    EXPECT_STREQ(buffer, "");
    copyToTextBuffer(buffer, "abc", 1);
    EXPECT_STREQ(buffer, "");
}

}  // namespace
