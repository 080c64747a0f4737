#include "gui/tile_selection_gui.h"

// Placeholder until the window is written.
bool runTileSelectionGui(const TileCountMap&, const TileSampleMap&, double&, int&, TileSet&,
                         std::vector<SelectedHeightRange>&, std::vector<SavedTileSelection>&, int&,
                         int&, std::string&, std::string&, InputCloudInfo*, PreviewBuildState*,
                         ExportHelperStatus*, StartBuildCallback, StartExportCallback,
                         RetileCallback, std::string* windowError) {
    if (windowError) *windowError = "the window is not built yet";
    return false;
}
