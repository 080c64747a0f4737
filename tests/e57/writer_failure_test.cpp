// A failing write leaves no trace in the file's description: the scan or image is not added,
// the writer stays usable, and the detailed reason is in context().

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "E57SimpleReader.h"
#include "E57SimpleWriter.h"
#include "writer_test_util.h"

namespace {

struct Xyz {
    std::vector<double> x, y, z;
    std::vector<std::uint16_t> red;
    explicit Xyz(std::size_t n) : x(n), y(n), z(n), red(n, 5) {
        for (std::size_t i = 0; i < n; ++i) {
            x[i] = double(i);
            y[i] = -double(i);
            z[i] = 0.5;
        }
    }
    e57::Data3DPointsDouble buffers() {
        e57::Data3DPointsDouble b;
        b.cartesianX = x.data();
        b.cartesianY = y.data();
        b.cartesianZ = z.data();
        return b;
    }
};

e57::Data3D xyzHeader(const std::string& guid, std::size_t n) {
    e57::Data3D h;
    h.guid = guid;
    h.pointCount = n;
    h.pointFields.cartesianXField = h.pointFields.cartesianYField = h.pointFields.cartesianZField =
        true;
    return h;
}

template <class F>
e57::E57Exception expectThrow(F&& f) {
    try {
        f();
    } catch (const e57::E57Exception& e) {
        return e;
    }
    ADD_FAILURE() << "no E57Exception";
    return e57::E57Exception(e57::Success, "");
}

TEST(WriterFailure, FailedScansAreNotCommittedAndCanBeRetried) {
    testsupport::TempDir dir;
    const auto path = dir / "fail.e57";
    const std::size_t n = 20000;
    Xyz p(n);
    {
        e57::WriterOptions options;
        e57::Writer writer(path.string(), options);
        EXPECT_EQ(writer.WriteData3DData(*std::make_unique<e57::Data3D>(xyzHeader("good-0", n)),
                                         p.buffers()),
                  0);

        // Colour flagged, no colour buffer.
        e57::Data3D h = xyzHeader("retry", n);
        h.pointFields.colorRedField = true;
        h.colorLimits.colorRedMaximum = 255;
        auto e = expectThrow([&] { writer.WriteData3DData(h, p.buffers()); });
        EXPECT_EQ(e.errorCode(), e57::ErrorNoBufferForElement);
        EXPECT_NE(e.context().find("colorRed"), std::string::npos) << e.context();
        EXPECT_NE(e.context().find("retry"), std::string::npos) << e.context();

        // Colour value outside the default 0..0 limits.
        e57::Data3D h2 = xyzHeader("retry", n);
        h2.pointFields.colorRedField = true;
        e57::Data3DPointsDouble b2 = p.buffers();
        b2.colorRed = p.red.data();
        e = expectThrow([&] { writer.WriteData3DData(h2, b2); });
        EXPECT_EQ(e.errorCode(), e57::ErrorValueOutOfBounds);
        EXPECT_NE(e.context().find("colorRed"), std::string::npos) << e.context();
        EXPECT_NE(e.context().find("at point 0"), std::string::npos) << e.context();

        // A value outside the row index maximum, late in the scan.
        std::vector<std::int32_t> rows(n, 3);
        rows[n - 5] = 11;
        e57::Data3D h3 = xyzHeader("retry", n);
        h3.pointFields.rowIndexField = true;
        h3.pointFields.rowIndexMaximum = 10;
        e57::Data3DPointsDouble b3 = p.buffers();
        b3.rowIndex = rows.data();
        e = expectThrow([&] { writer.WriteData3DData(h3, b3); });
        EXPECT_EQ(e.errorCode(), e57::ErrorValueOutOfBounds);
        EXPECT_NE(e.context().find("rowIndex: value 11 at point " + std::to_string(n - 5)),
                  std::string::npos)
            << e.context();

        // Scaled-integer coordinate outside given bounds, bad node types and scales.
        e57::Data3D h4 = xyzHeader("retry", n);
        h4.pointFields.pointRangeNodeType = e57::NumericalNodeType::ScaledInteger;
        h4.pointFields.pointRangeScale = 0.001;
        h4.pointFields.pointRangeMinimum = -100.0;
        h4.pointFields.pointRangeMaximum = 100.0;
        EXPECT_EQ(expectThrow([&] { writer.WriteData3DData(h4, p.buffers()); }).errorCode(),
                  e57::ErrorValueOutOfBounds);
        h4.pointFields.pointRangeScale = 0.0;
        EXPECT_EQ(expectThrow([&] { writer.WriteData3DData(h4, p.buffers()); }).errorCode(),
                  e57::ErrorInvalidData3DValue);
        h4.pointFields.pointRangeNodeType = e57::NumericalNodeType::Integer;
        EXPECT_EQ(expectThrow([&] { writer.WriteData3DData(h4, p.buffers()); }).errorCode(),
                  e57::ErrorInvalidNodeType);
        e57::Data3D h5 = xyzHeader("retry", n);
        h5.cartesianBounds.xMinimum = std::nan("");
        EXPECT_EQ(expectThrow([&] { writer.WriteData3DData(h5, p.buffers()); }).errorCode(),
                  e57::ErrorInvalidData3DValue);
        e57::Data3D h6 = xyzHeader("retry", n);
        h6.pointGroupingSchemes.groupingByLine.idElementName = "rowIndex";  // groupsSize 0
        EXPECT_EQ(expectThrow([&] { writer.WriteData3DData(h6, p.buffers()); }).errorCode(),
                  e57::ErrorValueOutOfBounds);

        // The second attempt with fixed data succeeds and gets the next real index.
        e57::Data3D fixed = xyzHeader("retry", n);
        EXPECT_EQ(writer.WriteData3DData(fixed, p.buffers()), 1);
        EXPECT_TRUE(writer.Close());
        EXPECT_EQ(expectThrow([&] { writer.WriteData3DData(fixed, p.buffers()); }).errorCode(),
                  e57::ErrorImageFileNotOpen);
    }
    const auto f = writertest::loadE57(path);
    EXPECT_EQ(f.badPages, 0u);
    EXPECT_EQ(f.physical.size() % 1024, 0u);
    e57::Reader reader(path.string(), e57::ReaderOptions{});
    ASSERT_EQ(reader.GetData3DCount(), 2);
    e57::Data3D h;
    ASSERT_TRUE(reader.ReadData3D(0, h));
    EXPECT_EQ(h.guid, "good-0");
    ASSERT_TRUE(reader.ReadData3D(1, h));
    EXPECT_EQ(h.guid, "retry");
    EXPECT_EQ(h.pointCount, n);
    EXPECT_FALSE(h.pointFields.colorRedField);
    std::vector<double> x(n), y(n), z(n);
    e57::Data3DPointsDouble b;
    b.cartesianX = x.data();
    b.cartesianY = y.data();
    b.cartesianZ = z.data();
    auto cv = reader.SetUpData3DPointsData(1, n, b);
    EXPECT_EQ(cv.read(), n);
    cv.close();
    EXPECT_EQ(x, p.x);
}

TEST(WriterFailure, FailedImagesAddNoImageBlock) {
    testsupport::TempDir dir;
    const auto path = dir / "img.e57";
    std::string jpeg(100, 'j');
    {
        e57::WriterOptions options;
        e57::Writer writer(path.string(), options);
        e57::Image2D image;
        image.guid = "img";
        image.visualReferenceRepresentation.jpegImageSize = 100;
        // Out of the blob's range.
        auto e = expectThrow([&] {
            writer.WriteImage2DData(image, e57::ImageJPEG, e57::ProjectionVisual, 50, jpeg.data(),
                                    51);
        });
        EXPECT_EQ(e.errorCode(), e57::ErrorBadAPIArgument);
        EXPECT_NE(e.context().find("img"), std::string::npos) << e.context();
        // Null buffer, wrong projection, wrong type, no representation: nothing written.
        EXPECT_EQ(expectThrow([&] {
                      writer.WriteImage2DData(image, e57::ImageJPEG, e57::ProjectionVisual, 0,
                                              nullptr, 10);
                  }).errorCode(),
                  e57::ErrorBadAPIArgument);
        EXPECT_EQ(writer.WriteImage2DData(image, e57::ImageJPEG, e57::ProjectionPinhole, 0,
                                          jpeg.data(), 100),
                  0);
        EXPECT_EQ(writer.WriteImage2DData(image, e57::ImagePNG, e57::ProjectionVisual, 0,
                                          jpeg.data(), 100),
                  0);
        e57::Image2D none;
        EXPECT_EQ(writer.WriteImage2DData(none, e57::ImageJPEG, e57::ProjectionVisual, 0,
                                          jpeg.data(), 100),
                  0);
        // Then the right call.
        EXPECT_EQ(writer.WriteImage2DData(image, e57::ImageJPEG, e57::ProjectionVisual, 0,
                                          jpeg.data(), 100),
                  100);
        writer.Close();
    }
    e57::Reader reader(path.string(), e57::ReaderOptions{});
    ASSERT_EQ(reader.GetImage2DCount(), 1);
    std::string got(100, '\0');
    EXPECT_EQ(reader.ReadImage2DData(0, e57::ProjectionVisual, e57::ImageJPEG, got.data(), 0, 100),
              100);
    EXPECT_EQ(got, jpeg);
}

}  // namespace
