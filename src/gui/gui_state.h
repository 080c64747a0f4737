#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "gui/preview_3d_settings.h"
#include "gui/tile_bounds.h"
#include "gui/view_settings.h"
#include "points/input/e57_preflight.h"
#include "points/preview/preview_build_session.h"
#include "points/tiles/tile_index.h"

constexpr std::size_t kGuiTextBufferSize = 1024;

// What the frame derives from the displayed maps alone, kept until they change.
struct DisplayedMapSummary {
    const void* counts = nullptr;  // the displayed count map it was made from
    std::uint64_t mapsVersion = 0;
    TileIndexBounds bounds;
    bool sampleZKnown = false;  // the samples' Z range below, made on first use
    bool anySample = false;
    float sampleZMin = 0.0f;
    float sampleZMax = 0.0f;
};

// One call of the window: its screens, guard flags, text buffers and own maps.
struct TileSelectionGuiState {
    bool startupScreen = false;
    bool loadStarted = false;
    bool actionTaken = false;  // a load or export was requested; guards every such button
    bool switchedToSelection = false;
    bool closeRequested = false;
    bool exportRequested = false;  // the window's result
    char inputPathText[kGuiTextBufferSize] = {};
    char outputFolderText[kGuiTextBufferSize] = {};
    TileCountMap selectionTileCounts;
    TileSampleMap selectionTileSamples;
    SampleOrigin selectionOrigin;  // of selectionTileSamples
    TileSet heightFilterTiles;
    TileSet emphasisedTiles;
    double zRangeMin = 0.0;
    double zRangeMax = 1.0;
    bool haveZRange = false;
    float tileGapPx = 2.0f;
    E57PreflightAnalysis preflight;
    bool preflightBusy = false;
    // Counts every change of the window's own maps (live snapshot, switch, retile): what
    // depends only on the displayed maps is worked out again only when they change.
    std::uint64_t mapsVersion = 0;
    DisplayedMapSummary displayedSummary;
    InputCloudInfo inputInfoWhileBuilding;  // see readableInputInfo
};

// What the window keeps for the whole process (survives a second call).
struct GuiProcessState {
    bool autoWindowHeight = true;
    int highlightedTopSelection = -1;
    int highlightedVerticalSelection = -1;
    bool heightSelectionMode = false;
    double pendingZMin = 0.0;
    double pendingZMax = 0.0;
    int sideViewRotation = 0;      // 0 Front, 1 Right, 2 Back, 3 Left
    double retileTileSize = 0.0;   // 0: not set yet
    int retileSamplesPerTile = 0;  // 0: not set yet
    std::string retileMessage;
    int outputFormatChoice = 0;  // OutputFormat
    TileCountMap liveSnapshotTileCounts;
    TileSampleMap liveSnapshotTileSamples;
    SampleOrigin liveSnapshotOrigin;  // of liveSnapshotTileSamples
    std::uint64_t lastSnapshotGeneration = 0;
    std::optional<std::chrono::steady_clock::time_point> lastSnapshotTime;
    double lastAutoResizeTime = 0.0;
    float exportProgressFraction = 0.0f;
    double exportProgressLastTime = -1.0;
    ViewSettings view;
    Preview3DSettings view3D;
};

// The process's one instance.
GuiProcessState& guiProcessState();
