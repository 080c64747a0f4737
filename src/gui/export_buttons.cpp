#include "gui/export_buttons.h"

namespace {

constexpr const char* kNoImage2D =
    "Photo third pass is disabled because no Image2D photo blocks were found.";

const char* readyLine(const ExportPanelFacts& f) {
    if (!f.exportReady) return "Save a top-view selection or save a vertical selection.";
    // The LAS routes write one combined file in every export mode.
    if (f.input == InputKind::Las && f.exportMode != 0)
        return "Ready: one new E57 will be exported. Several output files are not connected "
               "for LAS input.";
    switch (f.exportMode) {
        case 1: return "Ready: one new file will be exported per saved vertical or top selection.";
        case 2: return "Ready: one new file will be exported per saved vertical selection.";
        case 3: return "Ready: one new file will be exported per saved top selection.";
        default: break;
    }
    if (f.outputFormat == 1) return "Ready: one new XYZ ASCII file will be exported.";
    if (f.outputFormat == 2) return "Ready: one new LAS file will be exported.";
    return "Ready: one new E57 will be exported. Optional third pass can preserve associated "
           "photos when native libE57 export is available.";
}

}  // namespace

ExportPanelRules exportPanelRules(const ExportPanelFacts& f) {
    ExportPanelRules r;
    r.readyLine = readyLine(f);
    r.rowEnabled = f.exportReady && !f.actionTaken && !f.streaming;

    const bool lasToLas = f.input == InputKind::Las && f.outputFormat == 2;
    const bool photo = f.outputFormat == 0 && f.input == InputKind::E57 && f.photoPassAvailable;
    r.buttons[0] = {"Export XYZ only", !lasToLas, false, false,
                    "Preparing helper XYZ-only export process..."};
    r.buttons[1] = lasToLas ? ExportButton{"Export XYZ+RGB/LAS orig", true, true, false,
                                           "Preparing helper LAS binary full-record export "
                                           "process..."}
                            : ExportButton{"Export XYZ+RGB", true, true, false,
                                           "Preparing helper XYZ+RGB export process..."};
    r.buttons[2] = {"Export XYZ+RGB+ph", photo, true, true,
                    "Preparing helper export process with third-pass photo copy..."};

    if (lasToLas)
        r.formatNote = "LAS input -> LAS output currently preserves full original point records.";
    else if (f.outputFormat == 2)
        r.formatNote =
            "E57/XYZ -> LAS uses a synthetic LAS 1.2 writer: XYZ only = point format 0, XYZ+RGB = "
            "point format 2.";

    if (!photo && f.outputFormat == 0 && f.preflightMatches)
        r.firstPhotoNote = f.image2DBlocks < 1 ? kNoImage2D
                                               : "Photo third pass is disabled for this E57 "
                                                 "because safe native photo export is not "
                                                 "available.";
    if (!f.photoPassAvailable && f.preflightMatches) {
        const char* second = f.image2DBlocks < 1 ? kNoImage2D
                                                 : "Photo third pass is disabled for this file "
                                                   "type because PDAL fallback may be required.";
        if (second != r.firstPhotoNote) r.secondPhotoNote = second;
    }
    return r;
}
