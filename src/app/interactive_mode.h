#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include "app/export_preparation.h"
#include "app/program_state.h"
#include "app/window_callbacks.h"

// Exit codes of the interactive program.
inline constexpr int kInteractiveExitSuccess = 0;
// After an export request: the input path or the output folder is empty.
inline constexpr int kInteractiveExitEmptyPath = 1;
// After an export request: the input file does not exist.
inline constexpr int kInteractiveExitNoInput = 2;
// After an export request: the output folder cannot be made, or the tile size is not positive.
inline constexpr int kInteractiveExitBadSetting = 3;
// The window could not be opened (no display, no OpenGL).
inline constexpr int kInteractiveExitNoWindow = 4;
// The startup build failed.
inline constexpr int kInteractiveExitBuildFailed = 5;

// The callbacks the program builds over its state; they own nothing. (The build thread runs
// the build's body itself: startBuildThread.)
struct ProgramCallbacks {
    StartBuildCallback startBuildCallback;
    StartExportCallback startExportCallback;
    RetileCallback retileCallback;
};
ProgramCallbacks makeProgramCallbacks(ProgramState& state);

// The window as the program runs it: true when an export was requested. A window that cannot
// be opened returns false with *windowError saying why. The program's window is
// runTileSelectionGui; tests hand in their own.
using TileSelectionWindow = std::function<bool(ProgramState& state, StartBuildCallback startBuild,
                                               StartExportCallback startExport,
                                               RetileCallback retile, std::string* windowError)>;

// The whole interactive mode: the paths from the command line (input, output folder) or
// settings.ini in the working folder, the window, then the settings, the console report and
// the exit code. Every thread of the run has ended when it returns.
int runInteractiveMode(int argc, char** argv, const TileSelectionWindow& window);
