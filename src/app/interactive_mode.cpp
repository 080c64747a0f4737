#include "app/interactive_mode.h"

#include <charconv>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <system_error>

#include "app/settings_file.h"
#include "points/preview/preview_build.h"
#include "points/preview/preview_retile.h"
#include "points/tiles/preview_tiles.h"

namespace fs = std::filesystem;

namespace {

// settings.ini of the working folder, named absolutely so that a warning says where.
fs::path settingsFilePath() {
    std::error_code ec;
    const fs::path absolute = fs::absolute("settings.ini", ec);
    return ec ? fs::path("settings.ini") : absolute;
}

// Both threads of the run, then the helper's handle (the monitor lets it go itself; a monitor
// that never started leaves it to us).
void endRunThreads(ProgramState& state) {
    joinBuildThread(state);
    joinExportMonitorThread(state);
    if (state.helperProcess.isOpen()) state.helperProcess.close();
}

std::string buildMessage(ProgramState& state) {
    std::lock_guard<std::mutex> lock(state.buildState.mutex);
    return state.buildState.message;
}

void printBuildMessage(ProgramState& state) {
    const std::string message = buildMessage(state);
    if (!message.empty()) std::cerr << message << '\n';
    std::cerr.flush();
}

int closedWithoutExport(ProgramState& state, const std::string& windowError) {
    endRunThreads(state);
    if (!windowError.empty()) {
        std::cerr << "ERROR: " << windowError << std::endl;
        return kInteractiveExitNoWindow;
    }
    if (state.buildState.failed) {
        std::cerr << "UI closed after startup-build failure.\n";
        printBuildMessage(state);
        return kInteractiveExitBuildFailed;
    }
    std::cout << "UI closed by user." << std::endl;
    return kInteractiveExitSuccess;
}

std::string pointsPerSecondText(std::uint64_t points, std::int64_t readerMs) {
    const double rate = readerMs > 0 ? (static_cast<double>(points) / 1e6) /
                                           (static_cast<double>(readerMs) / 1000.0)
                                     : 0.0;
    char digits[64];
    const auto r = std::to_chars(digits, digits + sizeof digits, rate, std::chars_format::fixed, 2);
    return std::string(digits, r.ptr);
}

void printPreviewReport(const ProgramState& state) {
    std::cout << "\n[PREVIEW] mode="
              << (state.previewMode == QUICK_THEN_EXACT_BACKGROUND ? "QUICK_THEN_EXACT_BACKGROUND"
                                                                   : "EXACT_POINT_STREAM")
              << " | build_wall_ms=" << state.buildWallMs
              << "\n[PREVIEW] reader_ms=" << state.readerMs
              << " | points=" << state.totalInputPoints
              << " | coarse_tiles=" << state.tileCounts.size() << " | effective_tile_cap="
              << sampleCapPerTile(state.previewSamplesPerTile, state.tileCounts)
              << " | Mpts_per_s=" << pointsPerSecondText(state.totalInputPoints, state.readerMs)
              << "\n\n";
}

// After a window that asked for an export: the settings, the checks, the wait for the build
// and the helper, the preview report. Returns the exit code; the threads may still run.
int reportAfterExport(ProgramState& state, const fs::path& settingsFile) {
    saveSettings(settingsFile, state.inputPath, state.outputFolder);
    if (state.inputPath.empty()) {
        std::cerr << "ERROR: input .e57/.xyz path is empty." << std::endl;
        return kInteractiveExitEmptyPath;
    }
    if (state.outputFolder.empty()) {
        std::cerr << "ERROR: output directory is empty." << std::endl;
        return kInteractiveExitEmptyPath;
    }

    const char* driverPath = std::getenv("PDAL_DRIVER_PATH");
    std::cout << "Reading file: " << state.inputPath << "\nOutput dir:   " << state.outputFolder
              << "\nPDAL_DRIVER_PATH: " << (driverPath ? driverPath : "<not set>") << std::endl;

    std::error_code ec;
    fs::create_directories(state.outputFolder, ec);
    if (ec) {
        std::cerr << "ERROR: cannot create output directory: " << state.outputFolder << " | "
                  << ec.message() << std::endl;
        return kInteractiveExitBadSetting;
    }
    if (!fs::exists(state.inputPath, ec)) {
        std::cerr << "ERROR: input file does not exist: " << state.inputPath << std::endl;
        return kInteractiveExitNoInput;
    }

    // A helper still exporting keeps the console until it has ended.
    endRunThreads(state);
    if (state.buildState.failed) {
        std::cerr << "ERROR: startup build failed.\n";
        printBuildMessage(state);
        return kInteractiveExitBuildFailed;
    }
    {
        std::lock_guard<std::mutex> lock(state.buildState.mutex);
        state.tileCounts = state.buildState.liveTileCounts;
        state.tileSamples = state.buildState.liveTileSamples;
    }
    if (!(state.coarseTileSize > 0.0)) {  // NaN included
        std::cerr << "ERROR: coarse tile size must be > 0." << std::endl;
        return kInteractiveExitBadSetting;
    }
    printPreviewReport(state);
    if (state.savedVerticalSelections.empty() && state.savedTopSelections.empty())
        std::cout << "Tile selection cancelled.\n";
    std::cout.flush();
    return kInteractiveExitSuccess;
}

}  // namespace

ProgramCallbacks makeProgramCallbacks(ProgramState& state) {
    ProgramCallbacks callbacks;
    callbacks.startBuildCallback = [&state](int previewMode) {
        if (!startBuildThread(state, previewMode)) return;
        // The exports cut the input that was loaded, into the folder of that load.
        state.exportInputPath = state.inputPath;
        state.exportOutputFolder = state.outputFolder;
    };
    callbacks.startExportCallback = makeStartExportCallback(state.exportPreparation);
    callbacks.retileCallback = [&state](double newTileSize, int newSamplesPerTile,
                                        TileCountMap& tileCounts, TileSampleMap& tileSamples,
                                        std::string* error) {
        return retilePreviewSessionCache(state, newTileSize, newSamplesPerTile, tileCounts,
                                         tileSamples, error);
    };
    return callbacks;
}

int runInteractiveMode(int argc, char** argv, const TileSelectionWindow& window) {
    std::string inputText = argc > 1 ? argv[1] : "";
    std::string outputText = argc > 2 ? argv[2] : "";
    const fs::path settingsFile = settingsFilePath();
    std::string savedInput;
    std::string savedOutput = defaultOutputFolder();
    loadSettings(settingsFile, &savedInput, &savedOutput);
    if (inputText.empty()) inputText = savedInput;
    if (outputText.empty()) outputText = savedOutput;

    ProgramState state;
    state.inputPath = inputText;
    state.outputFolder = outputText;
    const ProgramCallbacks callbacks = makeProgramCallbacks(state);

    std::string windowError;
    const bool exportRequested =
        window(state, callbacks.startBuildCallback, callbacks.startExportCallback,
               callbacks.retileCallback, &windowError);
    if (!exportRequested) return closedWithoutExport(state, windowError);

    const int code = reportAfterExport(state, settingsFile);
    endRunThreads(state);
    return code;
}
