// Files written by e57::Writer read back through e57::Reader.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "E57SimpleReader.h"
#include "E57SimpleWriter.h"
#include "writer_test_util.h"

namespace {

struct Points {
    std::vector<double> x, y, z, range, azimuth, elevation, intensity, time;
    std::vector<std::uint16_t> red, green, blue;
    std::vector<std::int32_t> row, column;

    // Calls f(mine, theirs) for every column.
    template <class F>
    void zip(const Points& o, F&& f) {
        f(x, o.x), f(y, o.y), f(z, o.z), f(range, o.range), f(azimuth, o.azimuth),
            f(elevation, o.elevation);
        f(intensity, o.intensity), f(time, o.time), f(red, o.red), f(green, o.green),
            f(blue, o.blue);
        f(row, o.row), f(column, o.column);
    }
    void resize(std::size_t n) {
        zip(*this, [n](auto& v, const auto&) { v.assign(n, 0); });
    }
};

Points makePoints(std::size_t n) {
    Points p;
    p.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double t = double(i);
        p.x[i] = 512345.678901 + 0.0001 * t;
        p.y[i] = 5401234.5 - 0.37 * t;
        p.z[i] = std::sin(t) * 30.0;
        p.range[i] = 1.0 + 0.01 * t;
        p.azimuth[i] = std::fmod(t * 0.001, 6.0) - 3.0;
        p.elevation[i] = std::fmod(t * 0.0007, 3.0) - 1.5;
        p.intensity[i] = double(i % 2048) / 2047.0;
        p.time[i] = 1.3e9 + 0.000123 * t;  // absolute GPS seconds need double precision
        p.red[i] = std::uint16_t(i % 256);
        p.green[i] = std::uint16_t((i * 3) % 256);
        p.blue[i] = std::uint16_t((i * 11) % 256);
        p.row[i] = std::int32_t(i / 100);
        p.column[i] = std::int32_t(i % 100);
    }
    return p;
}

e57::Data3D baseHeader(const std::string& guid, std::size_t n) {
    e57::Data3D h;
    h.guid = guid;
    h.pointCount = n;
    return h;
}

// Reads every point of a scan into double buffers, in batches of an odd size.
Points readScan(const e57::Reader& reader, int64_t index, const e57::Data3D& h) {
    const std::size_t cap = 7777;
    Points out, batch;
    batch.resize(cap);
    e57::Data3DPointsDouble b;
    const auto& f = h.pointFields;
    auto bind = [](bool on, auto*& slot, auto& column) { slot = on ? column.data() : nullptr; };
    bind(f.cartesianXField, b.cartesianX, batch.x);
    bind(f.cartesianYField, b.cartesianY, batch.y);
    bind(f.cartesianZField, b.cartesianZ, batch.z);
    bind(f.sphericalRangeField, b.sphericalRange, batch.range);
    bind(f.sphericalAzimuthField, b.sphericalAzimuth, batch.azimuth);
    bind(f.sphericalElevationField, b.sphericalElevation, batch.elevation);
    bind(f.intensityField, b.intensity, batch.intensity);
    bind(f.timeStampField, b.timeStamp, batch.time);
    bind(f.colorRedField, b.colorRed, batch.red);
    bind(f.colorGreenField, b.colorGreen, batch.green);
    bind(f.colorBlueField, b.colorBlue, batch.blue);
    bind(f.rowIndexField, b.rowIndex, batch.row);
    bind(f.columnIndexField, b.columnIndex, batch.column);
    if (h.pointCount == 0) return out;
    e57::CompressedVectorReader cv = reader.SetUpData3DPointsData(index, cap, b);
    for (unsigned got; (got = cv.read()) > 0;)
        out.zip(batch, [got](auto& dst, const auto& src) {
            dst.insert(dst.end(), src.begin(), src.begin() + got);
        });
    cv.close();
    const std::size_t n = h.pointCount;
    EXPECT_EQ(out.x.size(), n);
    out.zip(out,
            [n](auto& v, const auto&) { v.resize(n); });  // short reads fail above, not by indexing
    return out;
}

void expectFileFacts(const std::filesystem::path& path) {
    const auto f = writertest::loadE57(path);
    EXPECT_EQ(f.physical.size() % 1024, 0u);
    EXPECT_EQ(f.badPages, 0u);
    EXPECT_EQ(f.filePhysicalLength, f.physical.size());
}

struct Fields {
    const char* name;
    bool xyz, rgb, intensity, time, rowColumn, spherical;
};

// Flags the fields in the header (with the limits they need) and binds p's columns to them.
e57::Data3DPointsDouble describe(e57::Data3D& h, Points& p, const Fields& c) {
    auto& f = h.pointFields;
    // The default Float nodes would round these doubles to single precision.
    f.pointRangeNodeType = f.angleNodeType = f.timeNodeType = e57::NumericalNodeType::Double;
    e57::Data3DPointsDouble b;
    if (c.xyz) {
        f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
        b.cartesianX = p.x.data(), b.cartesianY = p.y.data(), b.cartesianZ = p.z.data();
    }
    if (c.spherical) {
        f.sphericalRangeField = f.sphericalAzimuthField = f.sphericalElevationField = true;
        b.sphericalRange = p.range.data(), b.sphericalAzimuth = p.azimuth.data(),
        b.sphericalElevation = p.elevation.data();
    }
    if (c.rgb) {
        f.colorRedField = f.colorGreenField = f.colorBlueField = true;
        h.colorLimits.colorRedMaximum = h.colorLimits.colorGreenMaximum =
            h.colorLimits.colorBlueMaximum = 255;
        b.colorRed = p.red.data(), b.colorGreen = p.green.data(), b.colorBlue = p.blue.data();
    }
    if (c.intensity) {
        f.intensityField = true;
        h.intensityLimits.intensityMaximum = 1.0;
        b.intensity = p.intensity.data();
    }
    if (c.time) {
        f.timeStampField = true;
        b.timeStamp = p.time.data();
    }
    if (c.rowColumn) {
        f.rowIndexField = f.columnIndexField = true;
        f.rowIndexMaximum = 100;
        f.columnIndexMaximum = 99;
        b.rowIndex = p.row.data(), b.columnIndex = p.column.data();
    }
    return b;
}

// Intensity is written as single precision.
std::vector<double> asFloats(const std::vector<double>& v) {
    std::vector<double> out;
    for (double d : v) out.push_back(double(float(d)));
    return out;
}

TEST(WriterRoundTrip, EveryFieldCombinationOfTheRoutes) {
    const Fields combos[] = {
        {"xyz", true, false, false, false, false, false},
        {"xyz+rgb", true, true, false, false, false, false},
        {"xyz+rgb+intensity", true, true, true, false, false, false},
        {"+time", true, true, true, true, false, false},
        {"+row/column", true, true, true, true, true, false},
        {"spherical", false, false, false, false, false, true},
    };
    testsupport::TempDir dir;
    const auto path = dir / "combos.e57";
    const std::size_t n = 5003;
    Points p = makePoints(n);
    {
        e57::WriterOptions options;
        options.guid = "combo-file";
        e57::Writer writer(path.string(), options);
        int64_t expectIndex = 0;
        for (const Fields& c : combos) {
            e57::Data3D h = baseHeader(std::string("scan-") + c.name, n);
            const e57::Data3DPointsDouble b = describe(h, p, c);
            EXPECT_EQ(writer.WriteData3DData(h, b), expectIndex++) << c.name;
        }
        EXPECT_TRUE(writer.Close());
    }
    expectFileFacts(path);

    e57::Reader reader(path.string(), e57::ReaderOptions{});
    e57::E57Root root;
    ASSERT_TRUE(reader.GetE57Root(root));
    EXPECT_EQ(root.guid, "combo-file");
    EXPECT_EQ(root.formatName, "ASTM E57 3D Imaging Data File");
    ASSERT_EQ(reader.GetData3DCount(), 6);
    for (int64_t s = 0; s < 6; ++s) {
        const Fields& c = combos[s];
        SCOPED_TRACE(c.name);
        e57::Data3D h;
        ASSERT_TRUE(reader.ReadData3D(s, h));
        EXPECT_EQ(h.guid, std::string("scan-") + c.name);
        EXPECT_EQ(h.pointCount, n);
        EXPECT_EQ(h.pointFields.cartesianXField, c.xyz);
        EXPECT_EQ(h.pointFields.colorRedField, c.rgb);
        EXPECT_EQ(h.pointFields.intensityField, c.intensity);
        EXPECT_EQ(h.pointFields.timeStampField, c.time);
        EXPECT_EQ(h.pointFields.rowIndexField, c.rowColumn);
        EXPECT_EQ(h.pointFields.sphericalRangeField, c.spherical);
        if (c.xyz) {
            EXPECT_EQ(h.pointFields.pointRangeNodeType, e57::NumericalNodeType::Double);
        }
        if (c.rgb) {
            EXPECT_EQ(h.colorLimits.colorRedMaximum, 255.0);
        }
        const Points r = readScan(reader, s, h);
        // Double buffers keep every bit.
        EXPECT_TRUE(!c.xyz || (r.x == p.x && r.y == p.y && r.z == p.z));
        EXPECT_TRUE(!c.spherical ||
                    (r.range == p.range && r.azimuth == p.azimuth && r.elevation == p.elevation));
        EXPECT_TRUE(!c.rgb || (r.red == p.red && r.green == p.green && r.blue == p.blue));
        EXPECT_TRUE(!c.intensity || (r.intensity == asFloats(p.intensity)));
        EXPECT_TRUE(!c.time || (r.time == p.time));
        EXPECT_TRUE(!c.rowColumn || (r.row == p.row && r.column == p.column));
    }
}

TEST(WriterRoundTrip, FloatBuffersAndScaledIntegerCoordinates) {
    testsupport::TempDir dir;
    const auto path = dir / "scaled.e57";
    const std::size_t n = 3001;
    std::vector<float> fx(n), fy(n), fz(n);
    std::vector<double> sx(n), sy(n), sz(n);
    for (std::size_t i = 0; i < n; ++i) {
        fx[i] = 1.5f + 0.25f * float(i);
        fy[i] = -float(i) / 3.0f;
        fz[i] = 100.0f;
        sx[i] = -10.0 + 0.0073 * double(i);  // bounds from the data must hold 0
        sy[i] = 20.0 + 0.0041 * double(i);
        sz[i] = 32.0 - 0.001 * double(i);
    }
    e57::Data3D scaledHeader = baseHeader("scaled", n);
    {
        e57::WriterOptions options;
        e57::Writer writer(path.string(), options);
        e57::Data3D h = baseHeader("float", n);
        h.pointFields.cartesianXField = h.pointFields.cartesianYField =
            h.pointFields.cartesianZField = true;
        e57::Data3DPointsFloat b;
        b.cartesianX = fx.data();
        b.cartesianY = fy.data();
        b.cartesianZ = fz.data();
        writer.WriteData3DData(h, b);

        auto& f = scaledHeader.pointFields;
        f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
        f.pointRangeNodeType = e57::NumericalNodeType::ScaledInteger;
        f.pointRangeScale = 0.001;
        e57::Data3DPointsDouble d;
        d.cartesianX = sx.data();
        d.cartesianY = sy.data();
        d.cartesianZ = sz.data();
        writer.WriteData3DData(scaledHeader, d);
        writer.Close();
    }
    // The bounds taken from the data are written back into the caller's header.
    EXPECT_EQ(scaledHeader.pointFields.pointRangeMinimum, -10.0);
    EXPECT_EQ(scaledHeader.pointFields.pointRangeMaximum,
              sy[n - 1]);  // 32.3, the largest of x, y, z
    expectFileFacts(path);

    e57::Reader reader(path.string(), e57::ReaderOptions{});
    ASSERT_EQ(reader.GetData3DCount(), 2);
    e57::Data3D h;
    ASSERT_TRUE(reader.ReadData3D(0, h));
    EXPECT_EQ(h.pointFields.pointRangeNodeType, e57::NumericalNodeType::Float);
    Points r = readScan(reader, 0, h);
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(r.x[i], double(fx[i]));
        ASSERT_EQ(r.y[i], double(fy[i]));
        ASSERT_EQ(r.z[i], double(fz[i]));
    }
    ASSERT_TRUE(reader.ReadData3D(1, h));
    EXPECT_EQ(h.pointFields.pointRangeNodeType, e57::NumericalNodeType::ScaledInteger);
    EXPECT_DOUBLE_EQ(h.pointFields.pointRangeScale, 0.001);
    r = readScan(reader, 1, h);
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_NEAR(r.x[i], sx[i], 0.0005 + 1e-12);
        ASSERT_NEAR(r.y[i], sy[i], 0.0005 + 1e-12);
        ASSERT_NEAR(r.z[i], sz[i], 0.0005 + 1e-12);
    }
    // Proper rounding: the raw value is the nearest multiple of the scale (-9.9927 -> -9993).
    EXPECT_DOUBLE_EQ(r.x[1], -9.993);
}

TEST(WriterRoundTrip, HeaderMetadataPosesAndSeveralScans) {
    testsupport::TempDir dir;
    const auto path = dir / "meta.e57";
    const std::size_t n = 100;
    Points p = makePoints(n);
    {
        e57::WriterOptions options;
        options.guid = "meta-file";
        options.coordinateMetadata = "PROJCS[\"ETRS89 / UTM 33N\"]";
        e57::Writer writer(path.string(), options);
        for (int s = 0; s < 3; ++s) {
            e57::Data3D h = baseHeader("", n);  // guid generated
            h.name = "station " + std::to_string(s);
            h.description = "desc & <stuff>";
            h.originalGuids = {"orig-a", "orig-b"};
            h.sensorVendor = "Vendor";
            h.sensorModel = "Model X";
            h.sensorSerialNumber = "SN-" + std::to_string(s);
            h.sensorHardwareVersion = "hw";
            h.sensorSoftwareVersion = "sw";
            h.sensorFirmwareVersion = "fw";
            h.temperature = 21.5f;
            h.relativeHumidity = 40.25f;
            h.atmosphericPressure = 101325.0f;
            h.acquisitionStart = {1.25e9 + s, 1};
            h.acquisitionEnd = {1.25e9 + s + 60.5, 0};
            h.pose.rotation = {0.7071067811865476, 0.0, 0.0, 0.7071067811865476};
            h.pose.translation = {1000.0 * s, -5.5, 0.125};
            h.indexBounds.rowMaximum = 99;
            h.indexBounds.columnMaximum = 4;
            h.cartesianBounds = {1.0, 2.0, 3.0, 4.0, 5.0, 6.5};
            h.sphericalBounds.rangeMaximum = 120.0;
            h.pointGroupingSchemes.groupingByLine.idElementName = "columnIndex";
            h.pointGroupingSchemes.groupingByLine.groupsSize = 5;
            h.pointGroupingSchemes.groupingByLine.pointCountSize = 20;
            EXPECT_EQ(writer.WriteData3DData(
                          h, describe(h, p, {"xyz", true, false, false, false, false, false})),
                      s);
            EXPECT_EQ(h.guid.size(), 38u);  // written back
        }
        writer.Close();
    }
    expectFileFacts(path);
    e57::Reader reader(path.string(), e57::ReaderOptions{});
    e57::E57Root root;
    ASSERT_TRUE(reader.GetE57Root(root));
    EXPECT_EQ(root.coordinateMetadata, "PROJCS[\"ETRS89 / UTM 33N\"]");
    EXPECT_EQ(root.data3DSize, 3);
    ASSERT_EQ(reader.GetData3DCount(), 3);
    std::vector<std::string> guids;
    for (int s = 0; s < 3; ++s) {
        e57::Data3D h;
        ASSERT_TRUE(reader.ReadData3D(s, h));
        guids.push_back(h.guid);
        EXPECT_EQ(h.name, "station " + std::to_string(s));
        EXPECT_EQ(h.description, "desc & <stuff>");
        EXPECT_EQ(h.originalGuids, (std::vector<std::string>{"orig-a", "orig-b"}));
        EXPECT_EQ(h.sensorSerialNumber, "SN-" + std::to_string(s));
        EXPECT_EQ(h.sensorFirmwareVersion, "fw");
        EXPECT_EQ(h.temperature, 21.5f);
        EXPECT_EQ(h.relativeHumidity, 40.25f);
        EXPECT_EQ(h.atmosphericPressure, 101325.0f);
        EXPECT_EQ(h.acquisitionStart.dateTimeValue, 1.25e9 + s);
        EXPECT_EQ(h.acquisitionStart.isAtomicClockReferenced, 1);
        EXPECT_EQ(h.acquisitionEnd.dateTimeValue, 1.25e9 + s + 60.5);
        EXPECT_EQ(h.pose.rotation.w, 0.7071067811865476);
        EXPECT_EQ(h.pose.rotation.z, 0.7071067811865476);
        EXPECT_EQ(h.pose.translation.x, 1000.0 * s);
        EXPECT_EQ(h.pose.translation.y, -5.5);
        EXPECT_EQ(h.indexBounds.rowMaximum, 99);
        EXPECT_EQ(h.indexBounds.columnMaximum, 4);
        EXPECT_EQ(h.cartesianBounds.zMaximum, 6.5);
        EXPECT_EQ(h.sphericalBounds.rangeMaximum, 120.0);
        EXPECT_EQ(h.pointGroupingSchemes.groupingByLine.idElementName, "columnIndex");
        EXPECT_EQ(h.pointGroupingSchemes.groupingByLine.groupsSize,
                  0);  // the groups themselves are not written
        const Points r = readScan(reader, s, h);
        EXPECT_EQ(r.x, p.x);
    }
    EXPECT_NE(guids[0], guids[1]);
    EXPECT_NE(guids[1], guids[2]);
}

TEST(WriterRoundTrip, EmptyScans) {
    testsupport::TempDir dir;
    const auto path = dir / "zero.e57";
    {
        e57::WriterOptions options;
        e57::Writer writer(path.string(), options);
        for (int s = 0; s < 2; ++s) {
            e57::Data3D h = baseHeader("zero-" + std::to_string(s), 0);
            h.pointFields.cartesianXField = h.pointFields.cartesianYField =
                h.pointFields.cartesianZField = true;
            h.pointFields.colorRedField = true;
            // libE57Format wants a buffer behind each field even for no points.
            double xyz[1];
            uint16_t red[1];
            e57::Data3DPointsDouble b;
            b.cartesianX = b.cartesianY = b.cartesianZ = xyz;
            b.colorRed = red;
            EXPECT_EQ(writer.WriteData3DData(h, b), s);
        }
        writer.Close();
    }
    expectFileFacts(path);
    e57::Reader reader(path.string(), e57::ReaderOptions{});
    ASSERT_EQ(reader.GetData3DCount(), 2);
    e57::Data3D h;
    ASSERT_TRUE(reader.ReadData3D(1, h));
    EXPECT_EQ(h.guid, "zero-1");
    EXPECT_EQ(h.pointCount, 0u);
    std::vector<double> x(10), y(10), z(10);
    e57::Data3DPointsDouble b;
    b.cartesianX = x.data();
    b.cartesianY = y.data();
    b.cartesianZ = z.data();
    e57::CompressedVectorReader cv = reader.SetUpData3DPointsData(1, 10, b);
    EXPECT_EQ(cv.read(), 0u);
    cv.close();
}

TEST(WriterRoundTrip, LargeScanSpansManyPacketsAndPages) {
    testsupport::TempDir dir;
    const auto path = dir / "large.e57";
    const std::size_t n = 2'500'000;
    Points p = makePoints(n);
    {
        e57::WriterOptions options;
        e57::Writer writer(path.string(), options);
        e57::Data3D h = baseHeader("large", n);
        writer.WriteData3DData(h, describe(h, p, {"large", true, true, true, false, false, false}));
        writer.Close();
    }
    expectFileFacts(path);
    e57::Reader reader(path.string(), e57::ReaderOptions{});
    e57::Data3D h;
    ASSERT_TRUE(reader.ReadData3D(0, h));
    ASSERT_EQ(h.pointCount, n);
    const Points r = readScan(reader, 0, h);
    EXPECT_TRUE(r.x == p.x && r.y == p.y && r.z == p.z);
    EXPECT_TRUE(r.red == p.red && r.green == p.green && r.blue == p.blue);
    EXPECT_TRUE(r.intensity == asFloats(p.intensity));
}

TEST(WriterRoundTrip, ImagesOfEveryTypeAndProjection) {
    testsupport::TempDir dir;
    const auto path = dir / "images.e57";
    auto bytes = [](std::size_t n, unsigned seed) {
        std::string s(n, '\0');
        for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed * 7) & 0xFF);
        return s;
    };
    std::string jpeg = bytes(1021, 1), png = bytes(3000, 2), mask = bytes(77, 3), cyl = bytes(5, 4);
    {
        e57::WriterOptions options;
        e57::Writer writer(path.string(), options);
        e57::Image2D visual;
        visual.guid = "img-visual";
        visual.name = "visual";
        visual.associatedData3DGuid = "scan-0";
        visual.acquisitionDateTime = {1.2e9, 0};
        visual.pose.translation = {1.0, 2.0, 3.0};
        visual.visualReferenceRepresentation = {static_cast<int64_t>(jpeg.size()), 0,
                                                static_cast<int64_t>(mask.size()), 64, 32};
        EXPECT_EQ(writer.WriteImage2DData(visual, e57::ImageJPEG, e57::ProjectionVisual, 0,
                                          jpeg.data(), static_cast<int64_t>(jpeg.size())),
                  static_cast<int64_t>(jpeg.size()));

        e57::Image2D pinhole;
        pinhole.pinholeRepresentation.pngImageSize = static_cast<int64_t>(png.size());
        pinhole.pinholeRepresentation.imageWidth = 100;
        pinhole.pinholeRepresentation.imageHeight = 50;
        pinhole.pinholeRepresentation.focalLength = 0.035;
        pinhole.pinholeRepresentation.pixelWidth = 1e-5;
        pinhole.pinholeRepresentation.pixelHeight = 1.1e-5;
        pinhole.pinholeRepresentation.principalPointX = 50.5;
        pinhole.pinholeRepresentation.principalPointY = 25.25;
        pinhole.pinholeCameraDistortionExt =
            std::make_unique<e57::Extension::PinholeCameraDistortion>();
        pinhole.pinholeCameraDistortionExt->type = "CV";
        pinhole.pinholeCameraDistortionExt->CV_K1 = -0.125;
        pinhole.pinholeCameraDistortionExt->CV_WIDTH = 100;
        // Written in two pieces.
        EXPECT_EQ(writer.WriteImage2DData(pinhole, e57::ImagePNG, e57::ProjectionPinhole, 0,
                                          png.data(), 3000),
                  3000);
        EXPECT_FALSE(pinhole.guid.empty());

        e57::Image2D spherical;
        spherical.guid = "img-spherical";
        spherical.sphericalRepresentation = {static_cast<int64_t>(jpeg.size()),
                                             0,
                                             static_cast<int64_t>(mask.size()),
                                             360,
                                             180,
                                             0.01,
                                             0.02};
        EXPECT_EQ(writer.WriteImage2DData(spherical, e57::ImageMaskPNG, e57::ProjectionSpherical, 0,
                                          mask.data(), static_cast<int64_t>(mask.size())),
                  static_cast<int64_t>(mask.size()));

        e57::Image2D cylindrical;
        cylindrical.guid = "img-cyl";
        cylindrical.cylindricalRepresentation = {
            0, static_cast<int64_t>(cyl.size()), 0, 2, 3, 0.5, 0.25, 4.0, 1.5};
        EXPECT_EQ(writer.WriteImage2DData(cylindrical, e57::ImagePNG, e57::ProjectionCylindrical, 2,
                                          cyl.data() + 2, 3),
                  3);
        writer.Close();
    }
    expectFileFacts(path);
    e57::Reader reader(path.string(), e57::ReaderOptions{});
    ASSERT_EQ(reader.GetImage2DCount(), 4);
    struct Expect {
        e57::Image2DProjection projection;
        e57::Image2DType type;
        e57::Image2DType maskType;
        int64_t w, h;
        std::string data;
    };
    std::string cylExpected = cyl;
    cylExpected[0] = cylExpected[1] = '\0';  // only bytes 2..4 were given
    const Expect expect[] = {
        {e57::ProjectionVisual, e57::ImageJPEG, e57::ImageMaskPNG, 64, 32, jpeg},
        {e57::ProjectionPinhole, e57::ImagePNG, e57::ImageNone, 100, 50, png},
        {e57::ProjectionSpherical, e57::ImageJPEG, e57::ImageMaskPNG, 360, 180,
         std::string(jpeg.size(), '\0')},
        {e57::ProjectionCylindrical, e57::ImagePNG, e57::ImageNone, 2, 3, cylExpected},
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        e57::Image2DProjection projection;
        e57::Image2DType type, maskType, visualType;
        int64_t w = 0, h = 0, size = 0;
        ASSERT_TRUE(reader.GetImage2DSizes(i, projection, type, w, h, size, maskType, visualType));
        EXPECT_EQ(projection, expect[i].projection);
        EXPECT_EQ(type, expect[i].type);
        EXPECT_EQ(maskType, expect[i].maskType);
        EXPECT_EQ(w, expect[i].w);
        EXPECT_EQ(h, expect[i].h);
        ASSERT_EQ(size, static_cast<int64_t>(expect[i].data.size()));
        std::string got(static_cast<std::size_t>(size), '\x7f');
        EXPECT_EQ(reader.ReadImage2DData(i, projection, type, got.data(), 0, size), size);
        EXPECT_EQ(got, expect[i].data);
    }
    std::string gotMask(mask.size(), '\0');
    EXPECT_EQ(reader.ReadImage2DData(2, e57::ProjectionSpherical, e57::ImageMaskPNG, gotMask.data(),
                                     0, static_cast<int64_t>(mask.size())),
              static_cast<int64_t>(mask.size()));
    EXPECT_EQ(gotMask, mask);

    e57::Image2D image;
    ASSERT_TRUE(reader.ReadImage2D(0, image));
    EXPECT_EQ(image.guid, "img-visual");
    EXPECT_EQ(image.associatedData3DGuid, "scan-0");
    EXPECT_EQ(image.acquisitionDateTime.dateTimeValue, 1.2e9);
    EXPECT_EQ(image.pose.translation.z, 3.0);
    ASSERT_TRUE(reader.ReadImage2D(1, image));
    EXPECT_EQ(image.pinholeRepresentation.focalLength, 0.035);
    EXPECT_EQ(image.pinholeRepresentation.principalPointY, 25.25);
    ASSERT_TRUE(image.pinholeCameraDistortionExt);
    EXPECT_EQ(image.pinholeCameraDistortionExt->type, "CV");
    EXPECT_EQ(image.pinholeCameraDistortionExt->CV_K1, -0.125);
    EXPECT_EQ(image.pinholeCameraDistortionExt->CV_WIDTH, 100);
    ASSERT_TRUE(reader.ReadImage2D(3, image));
    EXPECT_EQ(image.cylindricalRepresentation.radius, 4.0);
    EXPECT_EQ(image.cylindricalRepresentation.principalPointY, 1.5);
    ASSERT_TRUE(reader.ReadImage2D(2, image));
    EXPECT_EQ(image.sphericalRepresentation.pixelHeight, 0.02);
}

}  // namespace

namespace {

std::vector<double> roundedToFloat(const std::vector<double>& v) {
    std::vector<double> out;
    for (double d : v) out.push_back(double(float(d)));
    return out;
}

}  // namespace

TEST(WriterNodeTypes, EachNodeTypeStoresWhatTheLibraryStores) {
    // 600 km coordinates and absolute time stamps: a 32-bit node visibly rounds them.
    const std::size_t n = 1000;
    Points p = makePoints(n);
    struct Case {
        e57::NumericalNodeType type;
        bool exact;
    };
    const Case cases[] = {{e57::NumericalNodeType::Float, false},
                          {e57::NumericalNodeType::Double, true}};
    testsupport::TempDir dir;
    const auto path = dir / "types.e57";
    {
        e57::WriterOptions options;
        e57::Writer writer(path.string(), options);
        for (const Case& c : cases) {
            e57::Data3D h = baseHeader("", n);
            e57::Data3DPointsDouble b = describe(h, p, {"", true, false, true, true, false, true});
            auto& f = h.pointFields;
            f.pointRangeNodeType = f.angleNodeType = f.timeNodeType = f.intensityNodeType = c.type;
            writer.WriteData3DData(h, b);
        }
        e57::Data3D h = baseHeader("scaled", n);
        e57::Data3DPointsDouble b = describe(h, p, {"", true, false, true, true, false, false});
        auto& f = h.pointFields;
        f.pointRangeNodeType = f.timeNodeType = f.intensityNodeType =
            e57::NumericalNodeType::ScaledInteger;
        f.pointRangeScale = f.timeScale = 0.001;
        f.intensityScale = 1.0 / 1024;
        f.pointRangeMinimum = -1e7;
        f.pointRangeMaximum = 1e7;
        f.timeMinimum = 0.0;
        f.timeMaximum = 2e9;
        writer.WriteData3DData(h, b);
        writer.Close();
    }
    e57::Reader reader(path.string(), e57::ReaderOptions{});
    ASSERT_EQ(reader.GetData3DCount(), 3);
    for (int64_t s = 0; s < 2; ++s) {
        const Case& c = cases[s];
        SCOPED_TRACE(s);
        e57::Data3D h;
        ASSERT_TRUE(reader.ReadData3D(s, h));
        EXPECT_EQ(h.pointFields.pointRangeNodeType, c.type);
        EXPECT_EQ(h.pointFields.angleNodeType, c.type);
        EXPECT_EQ(h.pointFields.timeNodeType, c.type);
        const Points r = readScan(reader, s, h);
        auto expected = [&](const std::vector<double>& v) {
            return c.exact ? v : roundedToFloat(v);
        };
        EXPECT_EQ(r.x, expected(p.x));
        EXPECT_EQ(r.y, expected(p.y));
        EXPECT_EQ(r.z, expected(p.z));
        EXPECT_EQ(r.range, expected(p.range));
        EXPECT_EQ(r.azimuth, expected(p.azimuth));
        EXPECT_EQ(r.elevation, expected(p.elevation));
        EXPECT_EQ(r.time, expected(p.time));
        EXPECT_EQ(r.intensity, expected(p.intensity));
    }
    EXPECT_NE(roundedToFloat(p.x), p.x);  // the Float case above proves something
    e57::Data3D h;
    ASSERT_TRUE(reader.ReadData3D(2, h));
    const Points r = readScan(reader, 2, h);
    auto scaled = [](double v, double scale) { return std::floor(v / scale + 0.5) * scale; };
    for (std::size_t i = 0; i < n; ++i) {
        ASSERT_DOUBLE_EQ(r.x[i], scaled(p.x[i], 0.001));
        ASSERT_DOUBLE_EQ(r.time[i], scaled(p.time[i], 0.001));
        ASSERT_EQ(r.intensity[i], scaled(p.intensity[i], 1.0 / 1024));
    }
}

TEST(WriterNodeTypes, RangesWithoutZeroAndValuesOutsideIntegerBoundsAreRefused) {
    const std::size_t n = 50;
    Points p = makePoints(n);  // x, y and time all positive
    testsupport::TempDir dir;
    e57::WriterOptions options;
    e57::Writer writer((dir / "limits.e57").string(), options);
    const Fields all = {"", true, true, true, true, true, true};
    auto code = [&](auto&& edit) {
        e57::Data3D h = baseHeader("", n);
        e57::Data3DPointsDouble b = describe(h, p, all);
        edit(h, b);
        try {
            writer.WriteData3DData(h, b);
        } catch (const e57::E57Exception& e) {
            return static_cast<int>(e.errorCode());
        }
        return 0;
    };
    using NT = e57::NumericalNodeType;
    const int outOfBounds = e57::ErrorValueOutOfBounds;
    // The prototype is built holding 0 on every node.
    EXPECT_EQ(code([](auto& h, auto&) { h.pointFields.pointRangeMinimum = 5.0; }), outOfBounds);
    EXPECT_EQ(code([](auto& h, auto&) {
                  h.pointFields.pointRangeNodeType = NT::Float;
                  h.pointFields.pointRangeMaximum = -1.0;
              }),
              outOfBounds);
    EXPECT_EQ(code([](auto& h, auto&) { h.pointFields.angleMinimum = 0.1; }), outOfBounds);
    EXPECT_EQ(code([](auto& h, auto&) { h.intensityLimits = {0.5, 2.0}; }), outOfBounds);
    EXPECT_EQ(code([](auto& h, auto&) { h.colorLimits.colorGreenMinimum = 10; }), outOfBounds);
#if !defined(BRINDLEWICK_SYSTEM_E57FORMAT)  // libE57Format writes this scan
    EXPECT_EQ(code([](auto& h, auto&) {
                  h.pointFields.pointRangeNodeType = NT::ScaledInteger;  // bounds from the data
                  h.pointFields.pointRangeScale = 0.001;
                  h.pointFields.sphericalRangeField = false;
                  h.pointFields.cartesianZField = false;
              }),
              outOfBounds);
#endif
    EXPECT_EQ(code([](auto& h, auto&) {
                  h.pointFields.timeNodeType = NT::ScaledInteger;  // bounds from the data
                  h.pointFields.timeScale = 1e-6;
              }),
              outOfBounds);
    EXPECT_EQ(code([](auto& h, auto&) {
                  h.pointFields.timeNodeType = NT::Integer;
                  h.pointFields.timeMinimum = 1.0;
              }),
              outOfBounds);
    // Range errors come before missing buffers: the prototype is built first.
    EXPECT_EQ(code([](auto& h, auto& b) {
                  h.colorLimits.colorBlueMinimum = 10;
                  b.cartesianX = nullptr;
              }),
              outOfBounds);
    // Integer fields check every value.
    EXPECT_EQ(code([](auto& h, auto&) { h.colorLimits.colorBlueMaximum = 200; }), outOfBounds);
    EXPECT_EQ(code([](auto& h, auto&) { h.pointFields.columnIndexMaximum = 48; }), outOfBounds);
    // Float bounds that hold 0 are advisory: values outside them are written.
    EXPECT_EQ(code([](auto& h, auto&) {
                  h.pointFields.pointRangeMaximum = 1.0;
                  h.pointFields.angleMaximum = 0.5;
                  h.intensityLimits.intensityMaximum = 0.25;
                  h.pointFields.timeNodeType = NT::Float;
                  h.pointFields.timeMaximum = -5.0;
              }),
              0);
}
