// Decoding of hand-built files: every bit width, straddling records, interleaved packets,
// index/empty packets, page-crossing headers, strings.

#include <gtest/gtest.h>

#include <E57SimpleReader.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "reader_cv.h"
#include "reader_impl.h"
#include "reader_test_builder.h"
#include "support/test_support.h"

using e57test::Bytes;
using e57test::FileBuilder;
using e57test::scanXml;

namespace {

std::string writeTemp(const testsupport::TempDir& dir, const std::string& bytes,
                      const std::string& name = "t.e57") {
    testsupport::writeFile(dir / name, bytes);
    return (dir / name).string();
}

// Cuts each of `streams` streams into packets of the given byte counts (cycled per packet).
FileBuilder::Plan cutPlan(std::size_t packets,
                          const std::vector<std::vector<std::size_t>>& sizesPerStream) {
    FileBuilder::Plan plan;
    for (std::size_t p = 0; p < packets; ++p) {
        std::vector<std::size_t> cut;
        for (const auto& sizes : sizesPerStream) cut.push_back(sizes[p % sizes.size()]);
        plan.cuts.push_back(cut);
    }
    return plan;
}

}  // namespace

TEST(E57ReaderFormat, IntegerFieldsOfEveryBitWidthDecodeExactly) {
    testsupport::TempDir dir;
    std::mt19937_64 rng(42);
    for (unsigned bits : {0u,  1u,  2u,  3u,  5u,  7u,  8u,  9u,  13u, 16u, 17u,
                          31u, 32u, 33u, 47u, 53u, 55u, 56u, 57u, 58u, 63u, 64u}) {
        SCOPED_TRACE("bits=" + std::to_string(bits));
        const std::int64_t minimum = bits == 64 ? INT64_MIN : -12345;
        const std::uint64_t span = bits == 0 ? 0 : (bits == 64 ? ~0ull : (1ull << bits) - 1);
        const std::int64_t maximum =
            static_cast<std::int64_t>(static_cast<std::uint64_t>(minimum) + span);
        const std::size_t n = 1001;
        std::vector<std::int64_t> values(n);
        for (std::size_t i = 0; i < n; ++i) {
            // Keep values exact in a double: drop the low bits of wide fields.
            std::uint64_t u = bits == 0 ? 0 : (rng() & span);
            if (bits > 53) u &= ~((1ull << (bits - 53)) - 1);
            if (i == 0) u = 0;
            if (i == 1) u = bits > 53 ? span & ~((1ull << (bits - 53)) - 1) : span;
            values[i] = static_cast<std::int64_t>(static_cast<std::uint64_t>(minimum) + u);
        }
        FileBuilder fb;
        // Odd cuts so that records straddle bytes, words and packets.
        const auto offset =
            fb.addVector({e57test::packBits(values, minimum, bits)}, cutPlan(9, {{37, 1, 250, 3}}));
        const std::string proto = "<intensity type=\"Integer\" minimum=\"" +
                                  std::to_string(minimum) + "\" maximum=\"" +
                                  std::to_string(maximum) + "\"/>";
        e57::Reader r(writeTemp(dir, fb.finish(scanXml(offset, n, proto))), e57::ReaderOptions{});
        e57::Data3D h;
        ASSERT_TRUE(r.ReadData3D(0, h));
        EXPECT_EQ(h.pointCount, n);
        EXPECT_EQ(h.pointFields.intensityNodeType, e57::NumericalNodeType::Integer);
        std::vector<double> got(333);
        e57::Data3DPointsDouble b;
        b.intensity = got.data();
        auto cv = r.SetUpData3DPointsData(0, got.size(), b);
        std::size_t at = 0;
        unsigned k = 0;
        while ((k = cv.read()) > 0) {
            for (unsigned i = 0; i < k; ++i, ++at)
                ASSERT_EQ(got[i], static_cast<double>(values[at])) << "record " << at;
        }
        EXPECT_EQ(at, n);
    }
}

TEST(E57ReaderFormat, InterleavedStreamsWithIndexAndEmptyPacketsAndPageCrossingHeaders) {
    testsupport::TempDir dir;
    const std::size_t n = 5000;
    std::vector<double> x(n), y(n);
    std::vector<float> z(n);
    std::vector<std::int64_t> raw(n), red(n), flag(n);
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = std::sin(double(i)) * 1000.0 + 1e-9 * double(i);
        y[i] = -double(i) / 7.0;
        z[i] = static_cast<float>(i) * 0.25f - 3.0f;
        raw[i] = static_cast<std::int64_t>(i % 8192) - 4000;  // 13-bit ScaledInteger
        red[i] = static_cast<std::int64_t>((i * 37) % 256);
        flag[i] = static_cast<std::int64_t>(i % 3);
    }
    FileBuilder fb;
    // The first data packet's header straddles the end of page 0 (in-page offset 1016).
    fb.padTo(1016 - 32);
    FileBuilder::Plan plan = cutPlan(11, {{4001, 17}, {333}, {1000, 3}, {77, 1}, {100}, {9, 300}});
    plan.extrasBefore = "-ie-i-e";
    plan.indexAtEnd = true;
    const auto offset = fb.addVector({e57test::packDoubles(x), e57test::packDoubles(y),
                                      e57test::packFloats(z), e57test::packBits(raw, -4000, 13),
                                      e57test::packBits(red, 0, 8), e57test::packBits(flag, 0, 2)},
                                     plan);
    const std::string proto =
        "<cartesianX type=\"Float\"/><cartesianY type=\"Float\"/><cartesianZ type=\"Float\" "
        "precision=\"single\"/>"
        "<sphericalRange type=\"ScaledInteger\" minimum=\"-4000\" maximum=\"4191\" scale=\"0.01\" "
        "offset=\"100\"/>"
        "<colorRed type=\"Integer\" minimum=\"0\" maximum=\"255\"/>"
        "<cartesianInvalidState type=\"Integer\" minimum=\"0\" maximum=\"2\"/>";
    const std::string path = writeTemp(dir, fb.finish(scanXml(offset, n, proto)));

    for (std::size_t capacity : {std::size_t(1), std::size_t(999), std::size_t(8192)}) {
        SCOPED_TRACE("capacity=" + std::to_string(capacity));
        e57::Reader r(path, e57::ReaderOptions{});
        std::vector<double> gx(capacity), gy(capacity), gz(capacity), gr(capacity);
        std::vector<std::uint16_t> gred(capacity);
        std::vector<std::int8_t> gflag(capacity);
        e57::Data3DPointsDouble b;
        b.cartesianX = gx.data();
        b.cartesianY = gy.data();
        b.cartesianZ = gz.data();
        b.sphericalRange = gr.data();
        b.colorRed = gred.data();
        b.cartesianInvalidState = gflag.data();
        auto cv = r.SetUpData3DPointsData(0, capacity, b);
        std::size_t at = 0;
        unsigned k = 0;
        while ((k = cv.read()) > 0) {
            ASSERT_EQ(k, std::min(capacity, n - at));
            for (unsigned i = 0; i < k; ++i, ++at) {
                ASSERT_EQ(gx[i], x[at]);
                ASSERT_EQ(gy[i], y[at]);
                ASSERT_EQ(gz[i], static_cast<double>(z[at]));
                ASSERT_EQ(gr[i], static_cast<double>(raw[at]) * 0.01 + 100.0);
                ASSERT_EQ(gred[i], red[at]);
                ASSERT_EQ(gflag[i], flag[at]);
            }
        }
        EXPECT_EQ(at, n);
        EXPECT_EQ(cv.read(), 0u);  // and again: the end stays the end
        EXPECT_EQ(cv.read(), 0u);
        cv.close();
        cv.close();
        EXPECT_FALSE(cv.isOpen());
        try {
            cv.read();
            ADD_FAILURE() << "read after close";
        } catch (const e57::E57Exception& e) {
            EXPECT_EQ(e.errorCode(), e57::ErrorReaderNotOpen);
        }
    }

    // Float buffers from double fields, and a reader that binds only one of the streams.
    e57::Reader r(path, e57::ReaderOptions{});
    std::vector<float> fx(4096);
    e57::Data3DPointsFloat fb2;
    fb2.cartesianX = fx.data();
    auto cv = r.SetUpData3DPointsData(0, fx.size(), fb2);
    ASSERT_EQ(cv.read(), 4096u);
    for (std::size_t i = 0; i < 4096; ++i) ASSERT_EQ(fx[i], static_cast<float>(x[i]));
    EXPECT_EQ(cv.read(), unsigned(n - 4096));
}

TEST(E57ReaderFormat, StringFieldsAcrossPackets) {
    testsupport::TempDir dir;
    std::vector<std::string> s = {"",
                                  "a",
                                  std::string(127, 'x'),
                                  std::string(128, 'y'),
                                  std::string(300, 'z'),
                                  "h\xC3\xA9llo",
                                  std::string(5000, 'q'),
                                  "end"};
    std::vector<std::int64_t> ids = {0, 1, 2, 3, 4, 5, 6, 7};
    FileBuilder fb;
    const auto offset = fb.addVector({e57test::packBits(ids, 0, 3), e57test::packStrings(s)},
                                     cutPlan(12, {{1}, {3, 200, 1}}));
    const std::string path = writeTemp(
        dir,
        fb.finish(scanXml(
            offset, s.size(),
            "<rowIndex type=\"Integer\" minimum=\"0\" maximum=\"7\"/><label type=\"String\"/>")));
    e57::ReaderImpl impl(path, e57::ReaderOptions{});
    const e57::XmlNode& points = *impl.document().root.child("data3D")->children[0].child("points");
    // The String codec is reached through the internal reader: the Simple API has no string
    // buffers.
    std::vector<std::string> got;
    {
        auto rf = std::make_shared<e57::ReaderFile>();
        rf->pages = std::make_unique<e57::PagedReader>(path, 100);
        e57::CompressedVectorReaderImpl cv(rf, points, {{"label", e57::DestKind::String, &got}}, 3);
        std::vector<std::string> all;
        while (cv.read() > 0) all.insert(all.end(), got.begin(), got.end());
        EXPECT_EQ(all, s);
    }
    // The Simple API reads the numeric field next to it.
    e57::Reader r(path, e57::ReaderOptions{});
    std::vector<std::int32_t> rows(8);
    e57::Data3DPointsDouble b;
    b.rowIndex = rows.data();
    auto cv = r.SetUpData3DPointsData(0, 8, b);
    EXPECT_EQ(cv.read(), 8u);
    EXPECT_EQ(rows[7], 7);
}

TEST(E57ReaderFormat, ZeroBitFieldsAndDefaultsAndExtensions) {
    testsupport::TempDir dir;
    std::vector<std::int64_t> v = {5, 5, 5, 5};
    std::vector<float> nrm = {0.5f, -0.5f, 1.0f, 0.0f};
    FileBuilder fb;
    const auto offset =
        fb.addVector({Bytes{}, e57test::packBits({1, 2, 3, 4}, 0, 16), e57test::packFloats(nrm),
                      e57test::packFloats(nrm), e57test::packFloats(nrm)});
    const std::string proto =
        "<colorRed type=\"Integer\" minimum=\"5\" maximum=\"5\"/>"
        "<ext:pointSourceId type=\"Integer\" minimum=\"0\" maximum=\"65535\">12</ext:pointSourceId>"
        "<nor:normalX type=\"Float\" precision=\"single\" minimum=\"-1\" maximum=\"1\"/>"
        "<nor:normalY type=\"Float\" precision=\"single\"/><nor:normalZ type=\"Float\" "
        "precision=\"single\"/>";
    const std::string extra =
        "<name type=\"String\">a &amp; <![CDATA[b]]]]><![CDATA[>c]]></name>"
        "<temperature type=\"Float\">2.05e+001</temperature>"
        "<pose type=\"Structure\"><rotation type=\"Structure\"><w type=\"Float\">0.5</w><z "
        "type=\"Float\">-0.5</z>"
        "</rotation></pose>"
        "<indexBounds type=\"Structure\"><rowMinimum type=\"Integer\">3</rowMinimum><rowMaximum "
        "type=\"Integer\">9"
        "</rowMaximum><columnMinimum type=\"Integer\">4</columnMinimum></indexBounds>"
        "<acquisitionStart type=\"Structure\"><dateTimeValue type=\"Float\">1.5e9</dateTimeValue>"
        "<isAtomicClockReferenced type=\"Integer\">1</isAtomicClockReferenced></acquisitionStart>"
        "<ext:anything type=\"Structure\"><ext:deep type=\"Vector\"/></ext:anything>";
    const std::string path = writeTemp(
        dir, fb.finish(scanXml(offset, 4, proto, extra),
                       " xmlns:ext=\"http://example.com/ext\" "
                       "xmlns:nor=\"http://www.libe57.org/E57_EXT_surface_normals.txt\""));
    e57::Reader r(path, e57::ReaderOptions{});
    e57::Data3D h;
    ASSERT_TRUE(r.ReadData3D(0, h));
    EXPECT_EQ(h.name, "a & b]]>c");
    EXPECT_FLOAT_EQ(h.temperature, 20.5f);
    EXPECT_EQ(h.relativeHumidity, e57::FLOAT_MAX);
    EXPECT_EQ(h.pose.rotation.w, 0.5);
    EXPECT_EQ(h.pose.rotation.x, 0.0);
    EXPECT_EQ(h.pose.rotation.z, -0.5);
    EXPECT_EQ(h.indexBounds.rowMinimum, 3);
    EXPECT_EQ(h.indexBounds.rowMaximum, 9);
    EXPECT_EQ(h.indexBounds.columnMinimum, 0);  // only read with its maximum
    EXPECT_EQ(h.acquisitionStart.dateTimeValue, 1.5e9);
    EXPECT_EQ(h.acquisitionStart.isAtomicClockReferenced, 1);
    EXPECT_TRUE(h.pointFields.normalXField && h.pointFields.normalYField &&
                h.pointFields.normalZField);
    EXPECT_EQ(h.colorLimits.colorRedMinimum, 5.0);  // from the leaf, no colorLimits given
    EXPECT_EQ(h.colorLimits.colorRedMaximum, 5.0);
    EXPECT_EQ(h.pointFields.pointRangeMinimum, 0.0);

    std::vector<std::uint16_t> red(4, 0);
    std::vector<float> nx(4), ny(4), nz(4);
    std::vector<double> x(4, -1.0);
    e57::Data3DPointsDouble b;
    b.colorRed = red.data();
    b.normalX = nx.data();
    b.normalY = ny.data();
    b.normalZ = nz.data();
    b.cartesianX = x.data();  // absent from the scan: left alone
    auto cv = r.SetUpData3DPointsData(0, 4, b);
    ASSERT_EQ(cv.read(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(red[i], 5);
        EXPECT_EQ(nx[i], nrm[i]);
        EXPECT_EQ(nz[i], nrm[i]);
        EXPECT_EQ(x[i], -1.0);
    }
}

TEST(E57ReaderFormat, FullScanHeader) {
    testsupport::TempDir dir;
    FileBuilder fb;
    const std::vector<std::int64_t> one = {1, 2};
    const auto off = fb.addVector({e57test::packBits(one, 0, 8), e57test::packFloats({0.5f, -0.5f}),
                                   e57test::packBits(one, 0, 8), e57test::packBits(one, -10, 12),
                                   e57test::packBits(one, 0, 20), e57test::packBits(one, 0, 7)});
    const auto groups = fb.addVector(
        {e57test::packBits({0}, 0, 1), e57test::packBits({0}, 0, 1), e57test::packBits({2}, 0, 4)});
    const std::string proto =
        "<sphericalRange type=\"ScaledInteger\" minimum=\"0\" maximum=\"255\" scale=\"0.5\"/>"
        "<sphericalAzimuth type=\"Float\" precision=\"single\" minimum=\"-3\" maximum=\"3\"/>"
        "<returnIndex type=\"Integer\" minimum=\"0\" maximum=\"200\"/>"
        "<intensity type=\"ScaledInteger\" minimum=\"-10\" maximum=\"4000\" scale=\"0.25\" "
        "offset=\"1\"/>"
        "<timeStamp type=\"ScaledInteger\" minimum=\"0\" maximum=\"1000000\" scale=\"1e-3\"/>"
        "<rowIndex type=\"Integer\" minimum=\"0\" maximum=\"99\"/>";
    const std::string extra =
        "<description type=\"String\">desc</description>"
        "<originalGuids type=\"Vector\"><vectorChild type=\"String\">g1</vectorChild><vectorChild "
        "type=\"String\">g2"
        "</vectorChild></originalGuids>"
        "<sensorVendor type=\"String\">V</sensorVendor><sensorModel type=\"String\">M</sensorModel>"
        "<sensorSerialNumber type=\"String\">S</sensorSerialNumber><sensorHardwareVersion "
        "type=\"String\">H</sensorHardwareVersion>"
        "<sensorSoftwareVersion type=\"String\">W</sensorSoftwareVersion><sensorFirmwareVersion "
        "type=\"String\">F</sensorFirmwareVersion>"
        "<relativeHumidity type=\"Float\">55.5</relativeHumidity><atmosphericPressure "
        "type=\"Float\">101325</atmosphericPressure>"
        "<sphericalBounds type=\"Structure\"><rangeMinimum type=\"Float\">1</rangeMinimum>"
        "<rangeMaximum type=\"ScaledInteger\" scale=\"0.5\">300</rangeMaximum><azimuthEnd "
        "type=\"Integer\">2</azimuthEnd>"
        "</sphericalBounds>"
        "<cartesianBounds type=\"Structure\"><xMinimum "
        "type=\"Float\">-4</xMinimum></cartesianBounds>"
        "<colorLimits type=\"Structure\"><colorRedMaximum "
        "type=\"Integer\">255</colorRedMaximum></colorLimits>"
        "<acquisitionEnd type=\"Structure\"><dateTimeValue "
        "type=\"Float\">7</dateTimeValue></acquisitionEnd>"
        "<pose type=\"Structure\"><translation type=\"Structure\"><x type=\"Float\">1</x><y "
        "type=\"Float\">2</y>"
        "<z type=\"Float\">3</z></translation></pose>"
        "<pointGroupingSchemes type=\"Structure\"><groupingByLine type=\"Structure\">"
        "<idElementName type=\"String\">rowIndex</idElementName>"
        "<groups type=\"CompressedVector\" fileOffset=\"" +
        std::to_string(groups) +
        "\" recordCount=\"1\">"
        "<prototype type=\"Structure\"><startPointIndex type=\"Integer\" minimum=\"0\" "
        "maximum=\"1\"/>"
        "<idElementValue type=\"Integer\" minimum=\"0\" maximum=\"1\"/><pointCount "
        "type=\"Integer\" minimum=\"0\" maximum=\"9\"/>"
        "</prototype><codecs type=\"Vector\"/></groups></groupingByLine></pointGroupingSchemes>";
    const std::string path = writeTemp(dir, fb.finish(scanXml(off, 2, proto, extra)));
    e57::Reader r(path, e57::ReaderOptions{});
    e57::Data3D h;
    ASSERT_TRUE(r.ReadData3D(0, h));
    EXPECT_EQ(h.description, "desc");
    EXPECT_EQ(h.originalGuids, (std::vector<std::string>{"g1", "g2"}));
    EXPECT_EQ(h.sensorVendor + h.sensorModel + h.sensorSerialNumber + h.sensorHardwareVersion +
                  h.sensorSoftwareVersion + h.sensorFirmwareVersion,
              "VMSHWF");
    EXPECT_EQ(h.temperature, e57::FLOAT_MAX);
    EXPECT_FLOAT_EQ(h.relativeHumidity, 55.5f);
    EXPECT_FLOAT_EQ(h.atmosphericPressure, 101325.0f);
    EXPECT_EQ(h.sphericalBounds.rangeMinimum, 1.0);
    EXPECT_EQ(h.sphericalBounds.rangeMaximum, 150.0);
    EXPECT_DOUBLE_EQ(h.sphericalBounds.azimuthEnd, M_PI);  // Integer bounds are ignored
    EXPECT_EQ(h.cartesianBounds.xMinimum, -4.0);
    EXPECT_EQ(h.cartesianBounds.xMaximum, e57::DOUBLE_MAX);
    EXPECT_EQ(h.colorLimits.colorRedMaximum, 255.0);
    EXPECT_EQ(h.acquisitionEnd.dateTimeValue, 7.0);
    EXPECT_EQ(h.pose.translation.z, 3.0);
    EXPECT_EQ(h.pose.rotation.w, 1.0);
    EXPECT_EQ(h.pointGroupingSchemes.groupingByLine.idElementName, "rowIndex");
    EXPECT_EQ(h.pointGroupingSchemes.groupingByLine.groupsSize, 1);
    EXPECT_EQ(h.pointGroupingSchemes.groupingByLine.pointCountSize, 9);
    const auto& f = h.pointFields;
    EXPECT_FALSE(f.cartesianXField);
    EXPECT_TRUE(f.sphericalRangeField && f.sphericalAzimuthField && !f.sphericalElevationField);
    EXPECT_EQ(f.pointRangeNodeType, e57::NumericalNodeType::ScaledInteger);  // from sphericalRange
    EXPECT_EQ(f.pointRangeScale, 0.5);
    EXPECT_EQ(f.pointRangeMaximum, 127.5);
    EXPECT_EQ(f.angleNodeType, e57::NumericalNodeType::Float);
    EXPECT_EQ(f.angleMinimum, -3.0);
    EXPECT_EQ(f.returnMaximum, 200);
    EXPECT_EQ(f.rowIndexMaximum, 99u);
    EXPECT_EQ(f.columnIndexMaximum, 0u);
    EXPECT_EQ(f.intensityNodeType, e57::NumericalNodeType::ScaledInteger);
    EXPECT_EQ(f.intensityScale, 0.25);
    EXPECT_EQ(h.intensityLimits.intensityMinimum,
              -10 * 0.25 + 1);  // from the leaf: no limits given
    EXPECT_EQ(h.intensityLimits.intensityMaximum, 4000 * 0.25 + 1);
    EXPECT_EQ(f.timeNodeType, e57::NumericalNodeType::ScaledInteger);
    EXPECT_EQ(f.timeScale, 1e-3);
    EXPECT_EQ(f.timeMaximum, 1000.0);

    std::vector<double> range(2), intensity(2), time(2);
    std::vector<std::int8_t> ret(2);
    e57::Data3DPointsDouble b;
    b.sphericalRange = range.data();
    b.intensity = intensity.data();
    b.timeStamp = time.data();
    b.returnIndex = ret.data();
    auto cv = r.SetUpData3DPointsData(0, 2, b);
    ASSERT_EQ(cv.read(), 2u);
    EXPECT_EQ(range[1], 1.0);
    EXPECT_EQ(intensity[0], 1 * 0.25 + 1);
    EXPECT_EQ(time[1], 2 * 1e-3);
    EXPECT_EQ(ret[1], 2);  // 200 does not fit int8, but stored values do
}
