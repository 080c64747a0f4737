#include "points/input/e57_point_stream.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "pdal/pdal_test_util.h"
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
    EXPECT_FALSE(perPointError.empty());
    EXPECT_EQ(batchError, perPointError);
}

}  // namespace
