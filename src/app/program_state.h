#pragma once

#include <string>
#include <vector>

#include "points/preview/preview_build_session.h"
#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// The output folder used when neither the command line nor settings.ini names one:
// "$HOME/Brindlewick/OUTPUT", or "Brindlewick/OUTPUT" in the working folder without a home.
std::string defaultOutputFolder();

// The interactive program's state for the whole run: the preview build with its settings,
// and what the GUI edits on top of it.
struct ProgramState : PreviewBuildSession {
    ProgramState();

    // The GUI's working copies and selections.
    TileCountMap guiTileCounts;
    TileSampleMap guiTileSamples;
    TileSet selectedTiles;
    std::vector<SelectedHeightRange> savedVerticalSelections;
    std::vector<SavedTileSelection> savedTopSelections;
    int exportMode = 0;
};
