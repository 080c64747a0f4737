#include "gui/progress_bars.h"

#include <gtest/gtest.h>

namespace {

TEST(ParsePercentFromMessage, TakesTheNumberBeforeTheFirstPercentSign) {
    struct Case {
        const char* message;
        bool found;
        float percent;
    };
    const Case cases[] = {
        {"Exporting 37.5 % | read=3M / 8M", true, 37.5f},
        {"Exporting 12.5%", true, 12.5f},
        {"Exporting 12M / 50M pts | 24.6% | kept=1M | outputs=2", true, 24.6f},
        {"Exporting 140%", true, 100.0f},
        {"Exporting -3%", true, 0.0f},
        {"Exporting a%", false, 0.0f},
        {"%37.5", false, 0.0f},
        {"   %", false, 0.0f},
        {"Exporting -%", false, 0.0f},
        {"", false, 0.0f},
        {"Export started", false, 0.0f},
    };
    for (const Case& c : cases) {
        float percent = -1.0f;
        EXPECT_EQ(parsePercentFromMessage(c.message, percent), c.found) << c.message;
        EXPECT_FLOAT_EQ(percent, c.percent) << c.message;
    }
}

TEST(ExportProgress, FollowsThePercentageElseCreepsUpToNinetyFivePercent) {
    GuiProcessState proc;
    ExportBarView v = advanceExportProgress(proc, "Exporting 37.5 % | read=3M", 10.0);
    EXPECT_FLOAT_EQ(v.fraction, 0.375f);
    EXPECT_EQ(v.overlay, "38%");

    GuiProcessState creeping;
    v = advanceExportProgress(creeping, "Export started", 10.0);
    EXPECT_FLOAT_EQ(v.fraction, 0.02f);
    EXPECT_EQ(v.overlay, "2%");
    v = advanceExportProgress(creeping, "Export started", 20.0);
    EXPECT_NEAR(v.fraction, 0.05f, 1e-6);
    v = advanceExportProgress(creeping, "Export started", 1e6);
    EXPECT_FLOAT_EQ(v.fraction, 0.95f);

    GuiProcessState small;
    v = advanceExportProgress(small, "Exporting 0.5%", 0.0);
    EXPECT_FLOAT_EQ(v.fraction, 0.02f);  // a sliver is drawn at least 2 % wide
    EXPECT_EQ(v.overlay, "0.5%");
}

TEST(StageProgressOverlay, AppendsTheWholePercentage) {
    EXPECT_EQ(stageProgressOverlay("12.5% loaded", 0.125f, true, true), "12.5% loaded 12%");
    EXPECT_EQ(stageProgressOverlay("x", 0.7f, false, true), "x 0%");
    EXPECT_EQ(stageProgressOverlay(nullptr, 0.5f, true, false), "");
}

}  // namespace
