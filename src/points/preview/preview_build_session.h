#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <thread>

#include "points/preview/preview_build_state.h"
#include "points/preview/preview_session_cache.h"
#include "points/tiles/preview_tiles.h"
#include "points/tiles/tile_index.h"

// What the GUI shows about the input: the size from the build's start, the rest once the
// reading has ended successfully.
struct InputCloudInfo {
    double fileSizeMB = 0.0;
    std::uint64_t totalPoints = 0;
    double minX = 0.0;
    double maxX = 0.0;
    double minY = 0.0;
    double maxY = 0.0;
    double minZ = 0.0;
    double maxZ = 0.0;
    bool boundsValid = false;
};

struct QuickPreviewOptions {
    double selectionOpenPercent = 30.0;  // share of an E57 stream after which tiles can be picked
};

// Storage of the last replaced live maps, reused by the next publication.
struct PreviewMapBuffers {
    TileCountMap counts;
    TileSampleMap samples;
};

// One run's preview build: the paths and settings it reads, the maps it fills, the cache it
// leaves for retiling, the record it shares with the GUI, and its thread. The build thread
// and the retile work on this object; the thread is joined by the owner (the destructor joins
// it as a last resort, since a joinable thread must never be dropped).
struct PreviewBuildSession {
    static constexpr int kMinSamplesPerTile = 4;
    static constexpr int kMaxSamplesPerTile = 5000;
    static constexpr std::size_t kBuildMapReserve = 2000000;

    PreviewBuildSession();
    ~PreviewBuildSession();
    PreviewBuildSession(const PreviewBuildSession&) = delete;
    PreviewBuildSession& operator=(const PreviewBuildSession&) = delete;

    std::string inputPath;
    std::string outputFolder;
    double coarseTileSize = 5.0;
    int previewSamplesPerTile = 2000;
    int previewMode = EXACT_POINT_STREAM;
    QuickPreviewOptions quickPreview;

    // The build's own maps; written only by the build thread (and by a retile once the
    // build is ready).
    TileCountMap tileCounts;
    TileSampleMap tileSamples;
    TileOfferMap tileOffers;
    PreviewSampleOrigin sampleOrigin;  // what the samples of the maps are measured from

    PreviewSessionCache previewCache;

    std::uint64_t totalInputPoints = 0;  // the build's point counter
    InputCloudInfo inputInfo;

    double minX = std::numeric_limits<double>::infinity();
    double maxX = -std::numeric_limits<double>::infinity();
    double minY = std::numeric_limits<double>::infinity();
    double maxY = -std::numeric_limits<double>::infinity();
    double minZ = std::numeric_limits<double>::infinity();
    double maxZ = -std::numeric_limits<double>::infinity();

    std::int64_t readerMs = 0;
    std::int64_t buildWallMs = 0;

    MersenneTwister64 generator{1234567};  // std::mt19937_64's numbers, drawn faster

    PreviewBuildState buildState;
    PreviewMapBuffers publishSpare;  // used by the build thread, or by a retile after it

    // The input as the build callback reads it (copied from inputPath when the thread starts).
    std::filesystem::path buildInputPath;

    std::thread buildThread;
    bool buildStarted = false;  // the build runs once per run

    // Called on the build thread when the selection stage opens, with the flags
    // and counters as they are at that moment; lets tests see the moment without polling.
    std::function<void(const PreviewBuildState&)> onSelectionStageOpen;
};

// Joins the build thread when it is joinable.
void joinBuildThread(PreviewBuildSession& session);
