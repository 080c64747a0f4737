#include "app/export_route_table.h"

#include <gtest/gtest.h>

#include "app/export_helper_mode.h"

namespace {

ExportJob job(const std::string& input, const std::string& output, int format, int mode = 0,
              bool photo = false) {
    ExportJob j;
    j.inputE57Path = input;
    j.outputE57Path = output;
    j.outputFormat = format;
    j.exportMode = mode;
    j.enablePhotoThirdPass = photo;
    return j;
}

}  // namespace

TEST(ExportRouteTable, OutputKindByFormatOrExtension) {
    // Either test suffices, and the extension's case does not matter.
    EXPECT_EQ(chooseExportRoute(job("a.las", "b.LAS", 0)).route, ExportRoute::LasRawCopy);
    EXPECT_EQ(chooseExportRoute(job("a.e57", "b.LAS", 0)).route, ExportRoute::SyntheticLas);
    EXPECT_EQ(chooseExportRoute(job("a.LAS", "b.e57", 0)).route, ExportRoute::LasToE57);
    EXPECT_EQ(chooseExportRoute(job("a.las", "b.txt", 1)).route, ExportRoute::LasToXyz);
    EXPECT_EQ(chooseExportRoute(job("a.las", "b.e57", 1)).route, ExportRoute::LasToE57);
    EXPECT_EQ(chooseExportRoute(job("a.e57", "b.Xyz", 0)).route, ExportRoute::XyzAscii);
    EXPECT_EQ(chooseExportRoute(job("a.xyz", "b.e57", 2)).route, ExportRoute::SyntheticLas);
    // LAS input ignores the export mode and the photo flag.
    EXPECT_EQ(chooseExportRoute(job("a.las", "b.las", 2, 2, true)).route, ExportRoute::LasRawCopy);

    const ExportRouteChoice las = chooseExportRoute(job("a.las", "b.las", 2));
    EXPECT_STREQ(las.successPrefix, "LAS binary export finished successfully. Output: ");
    EXPECT_STREQ(las.failureText, "LAS export failed.");
    EXPECT_EQ(las.failureExit, kHelperExitRouteFailed);
    const ExportRouteChoice synthetic = chooseExportRoute(job("a.e57", "b.las", 2));
    EXPECT_STREQ(synthetic.failureText, "Synthetic LAS export failed.");
    EXPECT_EQ(synthetic.failureExit, 102);
    EXPECT_TRUE(las.method.empty());
}

TEST(ExportRouteTable, E57OutputByModeAndPhotoFlag) {
    const ExportRouteChoice native = chooseExportRoute(job("a.e57", "b.e57", 0, 7));
    EXPECT_EQ(native.route, ExportRoute::NativeCombined);
    EXPECT_EQ(native.method, "single_combined");
    EXPECT_EQ(native.consoleLine,
              "[EXPORT METHOD] single_combined | native libE57 plain export | "
              "XYZ+RGB_if_available");
    EXPECT_EQ(native.successPrefix, nullptr);
    EXPECT_STREQ(native.failureText, "Helper export failed.");

    const ExportRouteChoice photo = chooseExportRoute(job("a.e57", "b.e57", 0, 0, true));
    EXPECT_EQ(photo.route, ExportRoute::PhotoCombined);
    EXPECT_EQ(photo.method, "single_combined + photo merge");

    const ExportRouteChoice top = chooseExportRoute(job("a.e57", "b.e57", 0, 3, true));
    EXPECT_EQ(top.route, ExportRoute::SplitTop);
    EXPECT_EQ(top.method, "split_by_saved_top_selections + per-file photo merge");
    EXPECT_EQ(top.consoleLine,
              "[EXPORT METHOD] split_by_saved_top_selections | native libE57 multi geometry + "
              "photo merge | XYZ+RGB+photos");
    const ExportRouteChoice vertical = chooseExportRoute(job("a.xyz", "b.e57", 0, 2));
    EXPECT_EQ(vertical.route, ExportRoute::SplitVertical);
    EXPECT_EQ(vertical.consoleLine,
              "[EXPORT METHOD] split_by_saved_vertical_selections | optimized PDAL multi-writer | "
              "XYZ+RGB_if_available");
    EXPECT_EQ(chooseExportRoute(job("a.e57", "b.e57", 0, 1)).method,
              "split_by_all_saved_selections");

    const ExportRouteChoice xyz = chooseExportRoute(job("a.XYZ", "b.e57", 0));
    EXPECT_EQ(xyz.route, ExportRoute::XyzCombinedThroughSplit);
    EXPECT_EQ(xyz.method, "single_combined_xyz_via_saved_selection_writer");
    const ExportRouteChoice refused = chooseExportRoute(job("a.xyz", "b.e57", 0, 0, true));
    EXPECT_EQ(refused.route, ExportRoute::XyzPhotosRefused);
    EXPECT_EQ(refused.failureExit, kHelperExitRouteFailed);
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
