#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "pdal/PointRef.hpp"
#include "pdal_test_util.h"
#include "support/test_support.h"

using pdal::Dimension::Id;

namespace {

// A pose that is nothing but a lift in z still counts as a pose.
TEST(E57StreamPose, TranslationAlongZAloneShiftsZ) {
    testsupport::TempDir dir;
    const std::string path = (dir / "lift.e57").string();
    pdaltest::ScanSpec s;
    s.x = {1, -2};
    s.y = {3, 4};
    s.z = {5, -6};
    s.pose.translation = {0, 0, 2.5};
    pdaltest::writeE57(path, {s});

    std::vector<std::array<double, 3>> got;
    pdaltest::streamE57(path, 100, [&](pdal::PointRef& p, pdal::PointLayoutPtr) {
        got.push_back({p.getFieldAs<double>(Id::X), p.getFieldAs<double>(Id::Y),
                       p.getFieldAs<double>(Id::Z)});
        return true;
    });
    EXPECT_EQ(got, (std::vector<std::array<double, 3>>{{1, 3, 7.5}, {-2, 4, -3.5}}));
}

}  // namespace
