#include "app/export_route_table.h"

#include <gtest/gtest.h>

#include "app/export_helper_mode.h"

// The rows the end-to-end runs leave out: either output test suffices, in any case, and the
// photo split's method words.
TEST(ExportRouteTable, FormatOrExtensionDecides) {
    struct Row {
        const char *input, *output;
        int format, mode;
        bool photo;
        ExportRoute route;
    };
    const Row rows[] = {
        {"a.e57", "b.Xyz", 0, 0, false, ExportRoute::XyzAscii},
        {"a.xyz", "b.e57", 2, 1, false, ExportRoute::SyntheticLas},
        {"a.las", "b.e57", 1, 0, false, ExportRoute::LasToE57},
        {"a.las", "b.las", 1, 0, false, ExportRoute::LasRawCopy},
        {"a.LAS", "b.txt", 1, 3, true, ExportRoute::LasToXyz},
        {"a.XYZ", "b.e57", 0, 0, false, ExportRoute::XyzCombinedThroughSplit},
        {"a.e57", "b.e57", 0, -1, true, ExportRoute::PhotoCombined},
        // Photos of XYZ input are refused in every mode before a split could open it as E57.
        {"a.xyz", "b.e57", 0, 0, true, ExportRoute::XyzPhotosRefused},
        {"a.xyz", "b.e57", 0, 1, true, ExportRoute::XyzPhotosRefused},
        {"a.xyz", "b.e57", 0, 2, true, ExportRoute::XyzPhotosRefused},
        {"a.xyz", "b.e57", 0, 3, true, ExportRoute::XyzPhotosRefused},
    };
    for (const Row& r : rows) {
        ExportJob job;
        job.inputE57Path = r.input;
        job.outputE57Path = r.output;
        job.outputFormat = r.format;
        job.exportMode = r.mode;
        job.enablePhotoThirdPass = r.photo;
        EXPECT_EQ(chooseExportRoute(job).route, r.route)
            << r.input << " -> " << r.output << " mode " << r.mode;
    }
    ExportJob top;
    top.exportMode = 3;
    top.enablePhotoThirdPass = true;
    const ExportRouteChoice c = chooseExportRoute(top);
    EXPECT_EQ(c.method, "split_by_saved_top_selections + per-file photo merge");
    EXPECT_EQ(c.consoleLine,
              "[EXPORT METHOD] split_by_saved_top_selections | native libE57 multi geometry + "
              "photo merge | XYZ+RGB+photos");
}

TEST(ExportHelperMode, CommandLine) {
    const char* helper[] = {"e57_brindlewick", "--export-job", "job.ini"};
    const char* noJob[] = {"e57_brindlewick", "--export-job"};
    const char* upper[] = {"e57_brindlewick", "--Export-job", "job.ini"};
    EXPECT_TRUE(isHelperModeCommandLine(3, helper));
    EXPECT_FALSE(isHelperModeCommandLine(2, noJob));
    EXPECT_FALSE(isHelperModeCommandLine(3, upper));
    EXPECT_EQ(helperStatusPath("/a b/j.ini").string(), "/a b/j.ini.status.ini");
}
