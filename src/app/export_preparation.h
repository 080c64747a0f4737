#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/export_helper_status.h"
#include "platform/child_process.h"
#include "points/preview/preview_build_session.h"
#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// What the export preparation reads and sets of the program's state, by reference.
struct ExportPreparation {
    const std::vector<SelectedHeightRange>& savedVerticalSelections;
    const std::vector<SavedTileSelection>& savedTopSelections;
    const TileSet& selectedTiles;  // the top view's buffer: logged, never exported
    const std::filesystem::path& inputFilePath;
    const std::filesystem::path& outputFolder;
    std::filesystem::path& outputFilePath;  // set here
    const TileCountMap& previewTileCounts;
    const double& coarseTileSize;
    const std::uint64_t& inputTotalPoints;
    const InputCloudInfo& inputInfo;
    const int& exportMode;
    const std::string& inputPathText;
    ExportHelperStatus& status;
    std::thread& monitorThread;
    platform::ChildProcess& helperProcess;
    // The program started as the helper; empty means the running program itself.
    std::filesystem::path helperProgram;
};

// The export button's work on the GUI thread: turns the saved selections into a job file in a
// new "Project N" folder, starts the helper and its monitor thread and returns. Every outcome,
// failures included, is reported through the status record only.
void launchExportJob(ExportPreparation& state, int outputFormat, bool exportRGB,
                     bool photoThirdPass);

// What the window's export buttons call: launchExportJob over the given state.
using StartExportCallback =
    std::function<void(int outputFormat, bool exportRGB, bool photoThirdPass)>;
StartExportCallback makeStartExportCallback(ExportPreparation& state);

// Each listed tile found in previewCounts, with its count; a tile listed twice enters once.
TileCountMap collectSelectedTileCounts(const std::vector<TileIndex>& tiles,
                                       const TileCountMap& previewCounts);

// One saved top selection's expected points: the input total scaled by the share of the
// preview's points that lie in the selection's tiles, rounded to nearest. 0 for an empty
// total; the total itself when the preview holds no point.
std::uint64_t estimateTopSelectionPoints(std::uint64_t totalPoints,
                                         const TileCountMap& selectionCounts,
                                         const TileCountMap& previewCounts);
