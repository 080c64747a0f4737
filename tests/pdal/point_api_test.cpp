#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "pdal/Dimension.hpp"
#include "pdal/Options.hpp"
#include "pdal/PointRef.hpp"
#include "pdal/PointTable.hpp"

using pdal::Dimension::Id;

TEST(PdalApi, GetFieldAsConvertsLikePdal) {
    pdal::FixedPointTable table(4);
    pdal::PointLayoutPtr layout = table.layout();
    layout->registerDim(Id::X);
    layout->registerDim(Id::Red);
    layout->registerDim(Id::Classification);
    table.finalize();
    EXPECT_TRUE(layout->hasDim(Id::X));
    EXPECT_FALSE(layout->hasDim(Id::Green));
    EXPECT_EQ(layout->pointSize(), 8u + 2u + 1u);

    pdal::PointRef p(table, 1);
    // Missing dimension: zero, no error.
    EXPECT_EQ(p.getFieldAs<double>(Id::Green), 0.0);
    EXPECT_EQ(p.getFieldAs<int>(Id::Intensity), 0);
    EXPECT_FALSE(p.hasDim(Id::Green));

    p.setField(Id::X, 2.5);
    EXPECT_EQ(p.getFieldAs<int>(Id::X), 3);  // half away from zero
    p.setField(Id::X, -2.5);
    EXPECT_EQ(p.getFieldAs<int>(Id::X), -3);
    EXPECT_THROW(p.getFieldAs<unsigned>(Id::X), pdal::pdal_error);
    p.setField(Id::X, std::numeric_limits<double>::quiet_NaN());
    EXPECT_TRUE(std::isnan(p.getFieldAs<float>(Id::X)));
    EXPECT_THROW(p.getFieldAs<int>(Id::X), pdal::pdal_error);
    p.setField(Id::X, 1e300);
    EXPECT_THROW(p.getFieldAs<float>(Id::X), pdal::pdal_error);
    EXPECT_EQ(p.getFieldAs<double>(Id::X), 1e300);

    p.setField(Id::Red, 300);
    EXPECT_EQ(p.getFieldAs<unsigned int>(Id::Red), 300u);
    EXPECT_EQ(p.getFieldAs<uint16_t>(Id::Red), 300u);
    try {
        p.getFieldAs<uint8_t>(Id::Red);
        ADD_FAILURE();
    } catch (const pdal::pdal_error& e) {
        // PDAL names the target type as the compiler does ("unsigned char"), ours "uint8_t".
        const std::string what = e.what();
        EXPECT_EQ(
            what.rfind("Unable to fetch data and convert as requested: Red:uint16_t(300) -> ", 0),
            0u)
            << what;
    }
    // A value that does not fit the dimension leaves it unchanged.
    p.setField(Id::Red, 70000);
    p.setField(Id::Red, -1);
    p.setField(Id::Classification, 256);
    EXPECT_EQ(p.getFieldAs<int>(Id::Red), 300);
    EXPECT_EQ(p.getFieldAs<int>(Id::Classification), 0);

    // Other rows are untouched; clear zeroes the rows used.
    pdal::PointRef q(table, 0);
    EXPECT_EQ(q.getFieldAs<int>(Id::Red), 0);
    table.clear(4);
    EXPECT_EQ(p.getFieldAs<int>(Id::Red), 0);
    EXPECT_THROW(layout->registerDim(Id::Green), pdal::pdal_error);
}

TEST(PdalApi, OptionsKeepValuesAsText) {
    pdal::Options o;
    o.add("filename", std::string("a.e57"));
    o.add("filename", "b.e57");
    o.add("scale", 0.1);
    o.add("flag", true);
    o.add("count", 42);
    const auto names = o.getOptions("filename");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].getValue(), "a.e57");
    EXPECT_EQ(names[1].getValue(), "b.e57");
    EXPECT_EQ(o.getOptions("scale")[0].getValue(), "0.1");
    EXPECT_EQ(o.getOptions("flag")[0].getValue(), "true");
    EXPECT_EQ(o.getOptions("count")[0].getValue(), "42");
    EXPECT_EQ(o.getKeys(), (pdal::StringList{"count", "filename", "flag", "scale"}));
}
