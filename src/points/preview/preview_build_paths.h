#pragma once

// Shared between the input paths of the preview build; not for other callers.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "points/tiles/preview_tiles.h"
#include "points/preview/preview_build_session.h"

namespace pdal {
class PointRef;
}
class XyzSampledReadAhead;

// Opens the selection stage; the session's observer hears of the first opening only.
inline void openSelectionStage(PreviewBuildSession& state) {
    const bool wasOpen = state.buildState.selectionStageOpen.exchange(true);
    if (!wasOpen && state.onSelectionStageOpen) state.onSelectionStageOpen(state.buildState);
}

// Per-build scratch of buildPreviewFromInput.
struct PreviewReadRun {
    std::chrono::steady_clock::time_point buildStart;
    std::chrono::steady_clock::time_point readingStart;
    std::chrono::steady_clock::time_point lastProgress;
    std::uint64_t sampledPoints = 0;  // accepted sampled points (XYZ, LAS), stream points (E57)
    std::uint64_t globalSamples = 0;
    bool capReported = false;
    XyzSampledReadAhead* xyzReadAhead = nullptr;  // the self-tests' read, for an XYZ build
};

// Opening threshold of the sampled paths.
inline std::uint64_t sampledOpeningThreshold(int previewMode) {
    return previewMode == QUICK_THEN_EXACT_BACKGROUND ? 5000000u : 10000000u;
}
inline constexpr std::uint64_t kSampledLineStep = 250;
inline constexpr std::uint64_t kSampledRefreshPoints = 100000000;
inline constexpr std::uint64_t kSampledProgressEvery = 4000;
inline constexpr std::uint64_t kProgressLineEvery = 10000000;

inline long long millisecondsSince(std::chrono::steady_clock::time_point from,
                                   std::chrono::steady_clock::time_point to) {
    return static_cast<long long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count());
}

// Opening and refresh publications of the sampled XYZ and LAS paths.
struct SampledPublication {
    const char* tag;  // e.g. "[LAS PREVIEW - STREAM]"
    std::uint64_t threshold;
    bool opened = false;
    std::uint64_t lastPublished = 0;

    // Called after each counted point: publishes at the opening point, then every
    // kSampledRefreshPoints points, with its console line.
    void step(PreviewBuildSession& state, const PreviewReadRun& run, std::uint64_t counter);
};

bool buildLasPreview(PreviewBuildSession& state, PreviewReadRun& run);
bool buildXyzPreview(PreviewBuildSession& state, PreviewReadRun& run);
bool buildE57ExactPreview(PreviewBuildSession& state, PreviewReadRun& run);
bool buildE57QuickPreview(PreviewBuildSession& state, PreviewReadRun& run);

// One E57 point stream of a build.
struct E57StreamRun {
    PreviewStreamContext ctx;
    bool quick = false;
    std::uint64_t targetPoints = 0;
    bool selectionOpened = false;

    // Fed point by point, the exact stream hands its points on in runs, in stream order (the
    // build itself gives it whole chunks); the quick one checks its openings after every point
    // and takes them one by one.
    static constexpr std::size_t kRun = 256;
    std::size_t pending = 0;
    std::array<double, kRun> xs{};
    std::array<double, kRun> ys{};
    std::array<double, kRun> zs{};
};

E57StreamRun makeE57StreamRun(PreviewBuildSession& state, PreviewReadRun& run, bool quick,
                              std::uint64_t targetPoints);

// The whole E57 stream through PDAL's readers.e57; false when the stage cannot be created.
// PDAL's exceptions pass to the caller.
bool runE57PointStreamPreview(PreviewBuildSession& state, E57StreamRun& stream);

// Hands the points the exact stream has taken but not yet passed on to the accumulator.
void flushE57StreamPoints(E57StreamRun& stream);

// The stream callback; always true (the stream goes on).
bool acceptE57StreamPoint(PreviewBuildSession& state, E57StreamRun& stream, pdal::PointRef& point);
