// Our "readers.e57"'s own texts, and its per-scan coordinates for a file that mixes Cartesian
// and spherical-only scans (PDAL's stage recomputes every point of such a file from the
// spherical fields). Left out when an installed PDAL stands in.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "pdal/PointRef.hpp"
#include "pdal_test_util.h"
#include "support/test_support.h"

using pdal::Dimension::Id;
using pdaltest::cartesianScan;
using pdaltest::collectXyz;
using pdaltest::ScanSpec;
using pdaltest::Xyz;

TEST(E57Stream, MixedFileGivesCorrectCoordinatesForEveryScan) {
    testsupport::TempDir dir;
    const std::string path = (dir / "mixed.e57").string();
    ScanSpec cart = cartesianScan({{1, 2, 3}, {4, 5, 6}});
    cart.pose.translation = {1, 1, 1};
    cart.cartesianInvalid = {0, 2};  // delivered as they are, state in Omit
    ScanSpec sph;
    sph.range = {10};
    sph.azimuth = {M_PI / 2};
    sph.elevation = {0};
    pdaltest::writeE57(path, {cart, sph, cartesianScan({{7, 8, 9}})});

    const std::vector<Xyz> got = collectXyz(path);
    std::vector<int> omit;
    pdaltest::streamE57(path, 100, [&](pdal::PointRef& p, pdal::PointLayoutPtr layout) {
        EXPECT_TRUE(layout->hasDim(Id::Omit));
        omit.push_back(p.getFieldAs<int>(Id::Omit));
        return true;
    });
    EXPECT_EQ(omit, (std::vector<int>{0, 2, 0, 0}));
    ASSERT_EQ(got.size(), 4u);
    EXPECT_DOUBLE_EQ(got[0].x, 2);
    EXPECT_DOUBLE_EQ(got[0].z, 4);
    EXPECT_DOUBLE_EQ(got[1].y, 6);
    EXPECT_NEAR(got[2].x, 0, 1e-12);
    EXPECT_NEAR(got[2].y, 10, 1e-12);
    EXPECT_NEAR(got[2].z, 0, 1e-12);
    EXPECT_DOUBLE_EQ(got[3].x, 7);
    EXPECT_DOUBLE_EQ(got[3].z, 9);
}

TEST(E57Stream, LibraryErrorsReachTheCallerWithTheirMessage) {
    testsupport::TempDir dir;
    // Missing file: fails in prepare, as a stage error built from the library's detail.
    try {
        pdaltest::streamE57((dir / "absent.e57").string(), 10,
                            [](pdal::PointRef&, pdal::PointLayoutPtr) { return true; });
        ADD_FAILURE() << "no error for a missing file";
    } catch (const pdal::pdal_error& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("readers.e57: open() failed (ErrorOpenFailed): ", 0), 0u) << what;
        EXPECT_NE(what.find("absent.e57"), std::string::npos) << what;
    }
    // Junk: fails in prepare with the library's diagnosis.
    const auto junk = dir / "junk.e57";
    testsupport::writeFile(junk, std::string(1024, 'x'));
    try {
        pdaltest::streamE57(junk.string(), 10,
                            [](pdal::PointRef&, pdal::PointLayoutPtr) { return true; });
        ADD_FAILURE() << "no error for a damaged file";
    } catch (const std::exception& e) {
        EXPECT_NE(pdaltest::errorText(e).find("(ErrorBadChecksum)"), std::string::npos)
            << pdaltest::errorText(e);
    }
}
