// e57_brindlewick: the interactive window, or with `--export-job JOB.ini` the export helper
// that the window starts for each export (and that scripts may run directly).

#include <iostream>

#include "app/export_helper_mode.h"

int main(int argc, char** argv) {
    // A console window needs no showing here: the program runs in its terminal.
    if (isHelperModeCommandLine(argc, argv)) return runExportHelperMode(argv[2]);
    std::cerr << "e57_brindlewick: the interactive window is not built yet; run an export with "
                 "e57_brindlewick --export-job JOB.ini\n";
    return 1;
}
