#pragma once

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/export_helper_status.h"
#include "app/export_preparation.h"
#include "platform/child_process.h"
#include "points/preview/preview_build_session.h"
#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// The output folder used when neither the command line nor settings.ini names one:
// "$HOME/Brindlewick/OUTPUT", or "Brindlewick/OUTPUT" in the working folder without a home.
std::string defaultOutputFolder();

// The interactive program's state for the whole run: the preview build with its settings
// (inputPath and outputFolder are the texts the window edits), what the window edits on top
// of it, and the exports with their helper and monitor. Threads and the window share it by
// reference; the destructor joins the monitor (the build thread is joined by the session).
struct ProgramState : PreviewBuildSession {
    ProgramState();
    ~ProgramState();

    // Handed to the window, which reads these two and draws its own copies.
    TileCountMap guiTileCounts;
    TileSampleMap guiTileSamples;
    TileSet selectedTiles;  // the top view's buffer
    std::vector<SelectedHeightRange> savedVerticalSelections;
    std::vector<SavedTileSelection> savedTopSelections;
    int exportMode = 0;

    ExportHelperStatus exportStatus;
    std::thread exportMonitorThread;
    platform::ChildProcess helperProcess;

    // The paths of the loaded input, taken from the texts when the build starts, and the
    // last export's output file.
    std::filesystem::path exportInputPath;
    std::filesystem::path exportOutputFolder;
    std::filesystem::path exportOutputFile;

    // The export buttons' view of the above (helperProgram empty: this program).
    ExportPreparation exportPreparation{savedVerticalSelections,
                                        savedTopSelections,
                                        selectedTiles,
                                        exportInputPath,
                                        exportOutputFolder,
                                        exportOutputFile,
                                        tileCounts,
                                        coarseTileSize,
                                        totalInputPoints,
                                        inputInfo,
                                        exportMode,
                                        inputPath,
                                        exportStatus,
                                        exportMonitorThread,
                                        helperProcess,
                                        {}};
};

// Joins the export monitor thread when it is joinable (it ends with its helper).
void joinExportMonitorThread(ProgramState& state);
