// Reads and writes at the edges the other suites pass over: string reads smaller than a packet,
// scaled bounds taken from negative data, Integer limits of double values, narrow buffers at
// their type's extremes.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "E57SimpleReader.h"
#include "E57SimpleWriter.h"
#include "reader_cv.h"
#include "reader_impl.h"
#include "reader_test_builder.h"
#include "support/test_support.h"

using e57test::FileBuilder;
using e57test::scanXml;

namespace {

std::string writeTemp(const testsupport::TempDir& dir, const std::string& bytes) {
    testsupport::writeFile(dir / "t.e57", bytes);
    return (dir / "t.e57").string();
}

e57::Data3D xyzHeader(const std::string& guid, std::size_t n) {
    e57::Data3D h;
    h.guid = guid;
    h.pointCount = n;
    h.pointFields.cartesianXField = h.pointFields.cartesianYField = h.pointFields.cartesianZField =
        true;
    return h;
}

TEST(ReaderWriterLimits, StringReadsSmallerThanThePacketDeliverExactlyWhatTheyCount) {
    testsupport::TempDir dir;
    const std::vector<std::string> s = {"a", "", "bb", std::string(200, 'c'), "d", "ee", "f", "gg"};
    FileBuilder fb;
    const auto offset = fb.addVector({e57test::packStrings(s)});  // all eight in one packet
    const std::string path =
        writeTemp(dir, fb.finish(scanXml(offset, s.size(), "<label type=\"String\"/>")));
    e57::ReaderImpl impl(path, e57::ReaderOptions{});
    const e57::XmlNode& points = *impl.document().root.child("data3D")->children[0].child("points");
    // The Simple API has no string buffers.
    auto rf = std::make_shared<e57::ReaderFile>();
    rf->pages = std::make_unique<e57::PagedReader>(path, 100);
    std::vector<std::string> got, all;
    std::vector<unsigned> counts;
    e57::CompressedVectorReaderImpl cv(rf, points, {{"label", e57::DestKind::String, &got}}, 3);
    for (unsigned k = 0; (k = cv.read()) > 0;) {
        counts.push_back(k);
        ASSERT_EQ(got.size(), k);
        all.insert(all.end(), got.begin(), got.end());
    }
    EXPECT_EQ(counts, (std::vector<unsigned>{3, 3, 2}));
    EXPECT_EQ(all, s);
}

TEST(ReaderWriterLimits, ScaledBoundsFromNegativeDataRoundDown) {
    testsupport::TempDir dir;
    const auto path = dir / "neg.e57";
    // -1.27 / 0.01 + 0.5 = -126.5: the raw minimum is -127, one below what rounding toward zero
    // would give. The data hold 0, as the prototype node is built holding 0.
    std::vector<double> x = {-1.27, 0.0}, y = {-0.5, 0.0}, z = {-0.73, 0.0};
    {
        e57::WriterOptions options;
        e57::Writer writer(path.string(), options);
        e57::Data3D h = xyzHeader("neg", x.size());
        h.pointFields.pointRangeNodeType = e57::NumericalNodeType::ScaledInteger;
        h.pointFields.pointRangeScale = 0.01;
        writer.WriteData3DData(h, e57test::xyzBuffers(x.data(), y.data(), z.data()));
        writer.Close();
    }
    e57::Reader reader(path.string(), e57::ReaderOptions{});
    e57::Data3D h;
    ASSERT_TRUE(reader.ReadData3D(0, h));
    EXPECT_EQ(h.pointFields.pointRangeMinimum, -127 * 0.01);
    EXPECT_EQ(h.pointFields.pointRangeMaximum, 0.0);
    std::vector<double> gx(2), gy(2), gz(2);
    auto cv =
        reader.SetUpData3DPointsData(0, 2, e57test::xyzBuffers(gx.data(), gy.data(), gz.data()));
    ASSERT_EQ(cv.read(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_NEAR(gx[i], x[i], 1e-9);
        EXPECT_NEAR(gy[i], y[i], 1e-9);
        EXPECT_NEAR(gz[i], z[i], 1e-9);
    }
}

TEST(ReaderWriterLimits, IntegerIntensityAboveItsMaximumIsRefused) {
    testsupport::TempDir dir;
    std::vector<double> x = {1, 2, 3}, intensity = {12, 300, 7};
    e57::WriterOptions options;
    e57::Writer writer((dir / "i.e57").string(), options);
    e57::Data3D h = xyzHeader("intensity", x.size());
    h.pointFields.intensityField = true;
    h.pointFields.intensityNodeType = e57::NumericalNodeType::Integer;
    h.intensityLimits.intensityMinimum = 0;
    h.intensityLimits.intensityMaximum = 255;
    e57::Data3DPointsDouble b = e57test::xyzBuffers(x.data(), x.data(), x.data());
    b.intensity = intensity.data();
    try {
        writer.WriteData3DData(h, b);
        ADD_FAILURE() << "300 accepted in 0..255";
    } catch (const e57::E57Exception& e) {
        EXPECT_EQ(e.errorCode(), e57::ErrorValueOutOfBounds);
    }
    intensity[1] = 255;  // the maximum itself is in range
    EXPECT_EQ(writer.WriteData3DData(h, b), 0);
}

TEST(ReaderWriterLimits, NarrowBuffersTakeTheirTypesExtremes) {
    testsupport::TempDir dir;
    FileBuilder fb;
    // Each record holds the buffer type's largest value, then its smallest.
    const auto offset =
        fb.addVector({e57test::packBits({131070, 0}, 0, 17), e57test::packFloats({127.0f, -128.0f}),
                      e57test::packDoubles({2147483647.0, -2147483648.0})});
    const std::string proto =
        "<colorRed type=\"ScaledInteger\" minimum=\"0\" maximum=\"131070\" scale=\"0.5\"/>"
        "<cartesianInvalidState type=\"Float\" precision=\"single\"/>"
        "<rowIndex type=\"Float\"/>";
    e57::Reader r(writeTemp(dir, fb.finish(scanXml(offset, 2, proto))), e57::ReaderOptions{});
    std::vector<std::uint16_t> red(2);
    std::vector<std::int8_t> state(2);
    std::vector<std::int32_t> row(2);
    e57::Data3DPointsDouble b;
    b.colorRed = red.data();
    b.cartesianInvalidState = state.data();
    b.rowIndex = row.data();
    auto cv = r.SetUpData3DPointsData(0, 2, b);
    ASSERT_EQ(cv.read(), 2u);
    EXPECT_EQ(red, (std::vector<std::uint16_t>{65535, 0}));
    EXPECT_EQ(state, (std::vector<std::int8_t>{127, -128}));
    EXPECT_EQ(row, (std::vector<std::int32_t>{2147483647, -2147483647 - 1}));
}

}  // namespace
