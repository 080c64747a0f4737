#pragma once

#include <string>

#include "points/job/export_job.h"

// The one place that maps a job (input kind, output kind, export mode, photo flag) to the
// export route the helper runs, with the words it reports.

enum class ExportRoute {
    LasRawCopy,
    LasToE57,
    LasToXyz,
    SyntheticLas,
    XyzAscii,
    SplitAllSelections,
    SplitVertical,
    SplitTop,
    XyzPhotosRefused,  // runs nothing: photo preservation does not exist for XYZ input
    XyzCombinedThroughSplit,
    PhotoCombined,
    NativeCombined,
};

struct ExportRouteChoice {
    ExportRoute route;
    // E57-output rows: the method text of the "Chosen export method" status and the console
    // line; both empty for the other rows.
    std::string method;
    std::string consoleLine;
    const char* successPrefix;  // followed by the output path; null for E57-output rows
    const char* failureText;    // when the route gives no error text of its own
    int failureExit;
};

ExportRouteChoice chooseExportRoute(const ExportJob& job);
