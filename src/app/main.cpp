// e57_brindlewick [input] [output-folder]: the interactive window; with `--export-job JOB.ini`
// the export helper that the window starts for each export (and that scripts may run directly).

#include <utility>

#include "app/export_helper_mode.h"
#include "app/interactive_mode.h"
#include "gui/tile_selection_gui.h"

int main(int argc, char** argv) {
    // A console window needs no showing here: the program runs in its terminal.
    if (isHelperModeCommandLine(argc, argv)) return runExportHelperMode(argv[2]);
    return runInteractiveMode(
        argc, argv,
        [](ProgramState& s, StartBuildCallback startBuild, StartExportCallback startExport,
           RetileCallback retile, std::string* windowError) {
            return runTileSelectionGui(
                s.guiTileCounts, s.guiTileSamples, s.coarseTileSize, s.previewSamplesPerTile,
                s.selectedTiles, s.savedVerticalSelections, s.savedTopSelections, s.exportMode,
                s.previewMode, s.inputPath, s.outputFolder, &s.inputInfo, &s.buildState,
                &s.exportStatus, std::move(startBuild), std::move(startExport), std::move(retile),
                windowError);
        });
}
