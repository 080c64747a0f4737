#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "points/tiles/tile_index.h"

enum PreviewMode : int {
    EXACT_POINT_STREAM = 0,
    QUICK_THEN_EXACT_BACKGROUND = 1,
};

// Shared by the build thread and the GUI: flags and counters atomic, the live maps and the
// message under the mutex; generation counts publications.
struct PreviewBuildState {
    std::mutex mutex;
    std::atomic<bool> running{false};
    std::atomic<bool> ready{false};
    std::atomic<bool> failed{false};
    std::atomic<bool> selectionStageOpen{false};
    std::atomic<bool> streaming{false};
    std::atomic<std::uint64_t> pointsRead{0};
    std::atomic<std::uint64_t> bytesRead{0};
    std::atomic<std::uint64_t> inputFileBytes{0};
    TileCountMap liveTileCounts;
    TileSampleMap liveTileSamples;
    SampleOrigin liveOrigin;  // of liveTileSamples
    std::atomic<std::uint64_t> generation{0};
    std::string message;
    // A fault the build read past (a truncated LAS file): under the mutex, hasWarning set after.
    std::string warning;
    std::atomic<bool> hasWarning{false};
};
