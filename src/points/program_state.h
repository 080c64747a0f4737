#pragma once

#include <cstdint>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "points/preview_build_state.h"
#include "points/preview_session_cache.h"
#include "points/preview_tiles.h"
#include "points/selection_types.h"
#include "points/tile_index.h"

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

// The output folder used when neither the command line nor settings.ini names one:
// "$HOME/Brindlewick/OUTPUT", or "Brindlewick/OUTPUT" in the working folder without a home.
std::string defaultOutputFolder();

// The interactive program's state for the whole run. The build thread, the retile and the
// GUI all work on this one object; the build thread is a member and is joined by the owner
// (the destructor joins it as a last resort, since a joinable thread must never be dropped).
struct ProgramState {
    static constexpr int kMinSamplesPerTile = 4;
    static constexpr int kMaxSamplesPerTile = 5000;
    static constexpr std::size_t kBuildMapReserve = 2000000;

    ProgramState();
    ~ProgramState();
    ProgramState(const ProgramState&) = delete;
    ProgramState& operator=(const ProgramState&) = delete;

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

    PreviewSessionCache previewCache;

    // The GUI's working copies and selections.
    TileCountMap guiTileCounts;
    TileSampleMap guiTileSamples;
    TileSet selectedTiles;
    std::vector<SelectedHeightRange> savedVerticalSelections;
    std::vector<SavedTileSelection> savedTopSelections;
    int exportMode = 0;

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

    std::mt19937_64 generator{1234567};

    PreviewBuildState buildState;
    PreviewMapBuffers publishSpare;  // used by the build thread, or by a retile after it

    // The input as the build callback reads it (copied from inputPath when the thread starts).
    std::filesystem::path buildInputPath;

    std::thread buildThread;
    bool buildStarted = false;  // the build runs once per run
};

// Joins the build thread when it is joinable.
void joinBuildThread(ProgramState& state);
