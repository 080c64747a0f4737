#include "points/input/e57_point_stream.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "pdal/pdal_test_util.h"
#include "points/input/e57_direct_read.h"
#include "points/input/exception_text.h"
#include "support/test_support.h"

namespace {

using Xyz = std::array<double, 3>;

std::vector<Xyz> perPoint(const std::string& path) {
    std::vector<Xyz> out;
    bool hasColour = false;
    streamE57File(path, hasColour, [&](pdal::PointRef& p) {
        out.push_back({p.getFieldAs<double>(pdal::Dimension::Id::X),
                       p.getFieldAs<double>(pdal::Dimension::Id::Y),
                       p.getFieldAs<double>(pdal::Dimension::Id::Z)});
        return true;
    });
    return out;
}

pdaltest::ScanSpec scanOf(std::size_t n, double offset) {
    pdaltest::ScanSpec s;
    for (std::size_t i = 0; i < n; ++i) {
        s.x.push_back(offset + static_cast<double>(i));
        s.y.push_back(-static_cast<double>(i) / 8.0);
        s.z.push_back(static_cast<double>(i % 13));
    }
    return s;
}

TEST(E57PointStream, BatchesDeliverThePerPointStreamInOrder) {
    testsupport::TempDir dir;
    const std::string path = (dir / "scans.e57").string();
    pdaltest::ScanSpec posed = scanOf(3, 0.5);
    posed.pose.translation = {10, 20, 30};
    pdaltest::writeE57(path, {scanOf(9000, 0), posed, scanOf(4097, 1e6)});

    std::vector<Xyz> got;
    std::size_t batches = 0;
    ASSERT_TRUE(streamE57FileInBatches(
        path, [&](const double* x, const double* y, const double* z, std::size_t n) {
            EXPECT_GT(n, 0u);
            EXPECT_LE(n, 4096u);
            ++batches;
            for (std::size_t i = 0; i < n; ++i) got.push_back({x[i], y[i], z[i]});
        }));
    EXPECT_EQ(got, perPoint(path));
    EXPECT_EQ(got.size(), 9000u + 3u + 4097u);
    // PDAL fills each chunk across decoded blocks and scans; ours ends one at each block.
    EXPECT_GE(batches, (got.size() + 4095) / 4096);
}

// Files whose /data3D holds no scan stream no point and no error, either way.
TEST(E57PointStream, FilesWithoutScansStreamNothing) {
    REQUIRE_SHARED_TESTDATA();
    for (const char* name : {"empty.e57", "PinholeImageWithDistortionParameters.e57"}) {
        const std::string path = (testsupport::sharedTestData() / "e57" / name).string();
        EXPECT_TRUE(perPoint(path).empty()) << name;
        bool called = false;
        EXPECT_TRUE(streamE57FileInBatches(path, [&](const double*, const double*, const double*,
                                                     std::size_t) {
            called = true;
        })) << name;
        EXPECT_FALSE(called) << name;
    }
}

TEST(E57PointStream, BatchErrorsAreThoseOfThePerPointStream) {
    testsupport::TempDir dir;
    const std::string missing = (dir / "absent.e57").string();
    std::string perPointError, batchError;
    try {
        perPoint(missing);
    } catch (const std::exception& e) {
        perPointError = exceptionText(e);
    }
    try {
        streamE57FileInBatches(missing,
                               [](const double*, const double*, const double*, std::size_t) {
                                   ADD_FAILURE() << "points from nothing";
                               });
    } catch (const std::exception& e) {
        batchError = exceptionText(e);
    }
    EXPECT_NE(perPointError.find("No such file or directory"), std::string::npos) << perPointError;
    EXPECT_EQ(batchError, perPointError);
}

// PDAL's stage computes every point of a file that mixes Cartesian and spherical-only scans from
// the spherical fields; such a file is read through libE57Format, scan by scan, either way.
TEST(E57PointStream, MixedCartesianAndSphericalFileKeepsEveryScansCoordinates) {
    testsupport::TempDir dir;
    const std::string path = (dir / "mixed.e57").string();
    pdaltest::ScanSpec cart = scanOf(5000, 2.0);  // more than one read
    cart.pose.rotation = {0.5, 0.5, 0.5, 0.5};    // x->y->z->x
    cart.pose.translation = {100, 200, 300};
    for (std::size_t i = 0; i < cart.x.size(); ++i) {
        cart.red.push_back(255);
        cart.green.push_back(static_cast<uint16_t>(i % 256));
        cart.blue.push_back(0);
    }
    pdaltest::ScanSpec sph;
    sph.range = {10, 2};
    sph.azimuth = {M_PI / 2, 0};
    sph.elevation = {0, M_PI / 2};
    sph.pose.translation = {1, 1, 1};
    pdaltest::writeE57(path, {cart, sph, scanOf(3, -7.0)});
    EXPECT_TRUE(e57MixesCoordinateKinds(path));

    std::vector<Xyz> want;
    for (std::size_t i = 0; i < cart.x.size(); ++i)
        want.push_back({cart.z[i] + 100, cart.x[i] + 200, cart.y[i] + 300});
    want.push_back({1, 11, 1});
    want.push_back({1, 1, 3});
    for (const Xyz& p : {Xyz{-7, 0, 0}, Xyz{-6, -0.125, 1}, Xyz{-5, -0.25, 2}}) want.push_back(p);

    std::vector<Xyz> got;
    std::vector<CloudPoint> points;
    bool hasColour = false;
    ASSERT_TRUE(streamE57File(path, hasColour, [&](pdal::PointRef& p) {
        points.push_back(cloudPointFromStream(p, hasColour, ColourReadErrors::EndTheStream));
        got.push_back({points.back().x, points.back().y, points.back().z});
        return true;
    }));
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        for (int k = 0; k < 3; ++k) ASSERT_NEAR(got[i][k], want[i][k], 1e-9) << i << " " << k;
    ASSERT_TRUE(hasColour);
    EXPECT_EQ(points[0].red, 255);
    EXPECT_EQ(points[300].green, 300 % 256);
    EXPECT_EQ(points[5000].red, 0);  // the spherical scan has no colour

    std::vector<Xyz> batched;
    ASSERT_TRUE(streamE57FileInBatches(
        path,
        [&](const double* x, const double* y, const double* z, std::size_t n) {
            EXPECT_LE(n, 1000u);
            for (std::size_t i = 0; i < n; ++i) batched.push_back({x[i], y[i], z[i]});
        },
        1000));
    EXPECT_EQ(batched, got);
}

}  // namespace
