#pragma once

#include <cstdint>
#include <string>

#include "gui/gui_frame.h"

// Below the action area of both screens: the four stage lines, the reading progress and the
// sentence saying what happens now, with the export's progress, failure or result.
void drawStageLines(GuiFrame& f);

enum class StageMark { Blank, Spinner, Done, Failed };

struct StageMarks {
    StageMark preview = StageMark::Blank;
    StageMark selection = StageMark::Blank;
    StageMark fullReading = StageMark::Blank;
    StageMark exporting = StageMark::Blank;
};

struct StageSituation {
    bool startupScreen = false;
    bool loadStarted = false;
    bool exportRequested = false;
    bool exportRunning = false;
    bool exportFinished = false;
    bool exportFailed = false;
};

StageMarks stageMarks(const StageSituation& s, const BuildFlags& build);

// The reading stage's bar: text, and a fraction when the total or the file size is known.
struct ReadingProgress {
    std::string text;
    bool hasFraction = false;
    float fraction = 0.0f;
};
// The cloud info's total, else an analysed preflight's, else 0.
std::uint64_t readingTotal(const InputCloudInfo* info, const E57PreflightAnalysis& preflight);
ReadingProgress readingProgress(const BuildFlags& build, std::uint64_t total);

// The startup screen's sentence below the stage lines.
const char* startupStageSentence(bool loadStarted, const BuildFlags& build);
