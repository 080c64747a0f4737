#include "gui/stage_lines.h"

#include <gtest/gtest.h>

namespace {

using M = StageMark;

TEST(StageMarks, FailedThenDoneThenSpinnerThenBlank) {
    struct Case {
        const char* name;
        StageSituation s;
        BuildFlags b;
        StageMarks expected;
    };
    BuildFlags none;
    BuildFlags running;
    running.running = running.streaming = true;
    BuildFlags failed = running;
    failed.failed = true;
    BuildFlags open = running;
    open.selectionStageOpen = true;
    BuildFlags ready;
    ready.ready = true;
    StageSituation startup{true, false, false, false, false, false};
    StageSituation loading{true, true, false, false, false, false};
    StageSituation selecting{false, false, false, false, false, false};
    StageSituation exporting{false, false, true, true, false, false};
    StageSituation exportFailed{false, false, true, false, true, true};
    const Case cases[] = {
        {"before a load", startup, none, {M::Blank, M::Blank, M::Blank, M::Blank}},
        {"building", loading, running, {M::Spinner, M::Blank, M::Spinner, M::Blank}},
        {"build failed", loading, failed, {M::Failed, M::Blank, M::Failed, M::Blank}},
        {"selection open", loading, open, {M::Done, M::Blank, M::Spinner, M::Blank}},
        {"read whole at startup", loading, ready, {M::Done, M::Blank, M::Blank, M::Blank}},
        {"streaming on", selecting, running, {M::Done, M::Spinner, M::Spinner, M::Blank}},
        {"read whole", selecting, ready, {M::Done, M::Spinner, M::Done, M::Blank}},
        {"exporting", exporting, ready, {M::Done, M::Done, M::Done, M::Spinner}},
        {"export failed", exportFailed, ready, {M::Done, M::Done, M::Done, M::Failed}},
    };
    for (const Case& c : cases) {
        const StageMarks m = stageMarks(c.s, c.b);
        EXPECT_EQ(m.preview, c.expected.preview) << c.name;
        EXPECT_EQ(m.selection, c.expected.selection) << c.name;
        EXPECT_EQ(m.fullReading, c.expected.fullReading) << c.name;
        EXPECT_EQ(m.exporting, c.expected.exporting) << c.name;
    }
}

TEST(ReadingProgress, ByPointsElseBytesElseCountOnly) {
    struct Case {
        std::uint64_t total, points, bytes, fileBytes;
        const char* text;
        bool hasFraction;
        float fraction;
    };
    const Case cases[] = {
        {8000000, 1000000, 0, 0, "12.5% loaded", true, 0.125f},
        {100, 250, 0, 0, "100.0% loaded", true, 1.0f},
        {0, 3000000, 250, 1000, "25.0% loaded | 3 M processed", true, 0.25f},
        {0, 7400000, 0, 0, "7 M processed", false, 0.0f},
        {0, 0, 0, 0, "", false, 0.0f},
    };
    for (const Case& c : cases) {
        BuildFlags b;
        b.pointsRead = c.points;
        b.bytesRead = c.bytes;
        b.inputFileBytes = c.fileBytes;
        const ReadingProgress p = readingProgress(b, c.total);
        EXPECT_EQ(p.text, c.text);
        EXPECT_EQ(p.hasFraction, c.hasFraction) << c.text;
        EXPECT_FLOAT_EQ(p.fraction, c.fraction) << c.text;
    }
    E57PreflightAnalysis preflight;
    preflight.attempted = preflight.ok = true;
    preflight.totalPoints = 40;
    InputCloudInfo info;
    EXPECT_EQ(readingTotal(&info, preflight), 40u);
    info.totalPoints = 90;
    EXPECT_EQ(readingTotal(&info, preflight), 90u);
}

}  // namespace
