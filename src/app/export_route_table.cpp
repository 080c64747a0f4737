#include "app/export_route_table.h"

#include "app/export_helper_mode.h"
#include "points/input/text_utils.h"

namespace {

ExportRouteChoice outputRow(ExportRoute route, const char* success, const char* failure,
                            int exitCode) {
    return {route, {}, {}, success, failure, exitCode};
}

ExportRouteChoice e57Row(ExportRoute route, std::string method, std::string consoleLine) {
    return {route,   std::move(method),       std::move(consoleLine),
            nullptr, "Helper export failed.", kHelperExitRouteFailed};
}

ExportRouteChoice splitRow(ExportRoute route, const char* method, bool photo) {
    std::string text = method;
    if (photo) text += " + per-file photo merge";
    std::string line = std::string("[EXPORT METHOD] ") + method + " | " +
                       (photo ? "native libE57 multi geometry + photo merge | XYZ+RGB+photos"
                              : "optimized PDAL multi-writer | XYZ+RGB_if_available");
    return e57Row(route, std::move(text), std::move(line));
}

}  // namespace

ExportRouteChoice chooseExportRoute(const ExportJob& job) {
    const std::string extension = lowerExtension(job.outputE57Path);
    const bool lasOutput = job.outputFormat == 2 || extension == ".las";
    const bool e57Output = job.outputFormat == 0 || extension == ".e57";
    const bool xyzOutput = job.outputFormat == 1 || extension == ".xyz";
    const bool photo = job.enablePhotoThirdPass;

    if (isLasPath(job.inputE57Path)) {
        // LAS input ignores the export mode.
        if (lasOutput)
            return outputRow(ExportRoute::LasRawCopy,
                             "LAS binary export finished successfully. Output: ",
                             "LAS export failed.", kHelperExitRouteFailed);
        if (e57Output)
            return outputRow(ExportRoute::LasToE57,
                             "LAS E57 export finished successfully. Output: ", "LAS export failed.",
                             kHelperExitRouteFailed);
        return outputRow(ExportRoute::LasToXyz,
                         "LAS XYZ export finished successfully. Output: ", "LAS export failed.",
                         kHelperExitRouteFailed);
    }
    if (lasOutput)
        return outputRow(ExportRoute::SyntheticLas,
                         "Synthetic LAS export finished successfully. Output: ",
                         "Synthetic LAS export failed.", kHelperExitSyntheticLasFailed);
    if (xyzOutput)
        return outputRow(ExportRoute::XyzAscii, "XYZ ASCII export finished successfully. Output: ",
                         "XYZ ASCII export failed.", kHelperExitRouteFailed);

    // Before the mode: no mode preserves photos of XYZ input, and a split would open it as E57.
    if (photo && hasXyzExtension(job.inputE57Path))
        return outputRow(ExportRoute::XyzPhotosRefused, nullptr,
                         "Photo-preserving export is not supported for XYZ input. Disable "
                         "XYZ+RGB+ph and use XYZ or XYZ+RGB.",
                         kHelperExitRouteFailed);
    switch (job.exportMode) {
        case 1:
            return splitRow(ExportRoute::SplitAllSelections, "split_by_all_saved_selections",
                            photo);
        case 2:
            return splitRow(ExportRoute::SplitVertical, "split_by_saved_vertical_selections",
                            photo);
        case 3: return splitRow(ExportRoute::SplitTop, "split_by_saved_top_selections", photo);
        default: break;
    }
    if (hasXyzExtension(job.inputE57Path))
        return e57Row(ExportRoute::XyzCombinedThroughSplit,
                      "single_combined_xyz_via_saved_selection_writer",
                      "[EXPORT METHOD] single_combined XYZ | routed to XYZ-aware saved-selection "
                      "writer | XYZ+RGB_if_available");
    if (photo)
        return e57Row(ExportRoute::PhotoCombined, "single_combined + photo merge",
                      "[EXPORT METHOD] single_combined | native libE57 temp geometry + photo "
                      "merge | XYZ+RGB+photos");
    return e57Row(ExportRoute::NativeCombined, "single_combined",
                  "[EXPORT METHOD] single_combined | native libE57 plain export | "
                  "XYZ+RGB_if_available");
}
