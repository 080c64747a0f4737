// Behaviour of the Simple reader API that callers rely on.

#include <gtest/gtest.h>

#include <E57SimpleReader.h>

#include <string>
#include <type_traits>
#include <vector>

#include "reader_test_builder.h"
#include "support/test_support.h"

using e57test::Bytes;
using e57test::FileBuilder;

static_assert(!std::is_copy_constructible_v<e57::Image2D>,
              "Image2D is move-only, as in the reference");
static_assert(std::is_move_constructible_v<e57::Image2D>);
static_assert(
    std::is_same_v<decltype(std::declval<e57::CompressedVectorReader&>().read()), unsigned>);

namespace {

int codeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const e57::E57Exception& e) {
        return e.errorCode();
    }
    return -1;
}

// Two scans (xyz; spherical only) and five images.
std::string apiFile() {
    FileBuilder fb;
    const Bytes jpeg = {0xff, 0xd8, 0xff, 0xe0, 1, 2, 3, 4, 5, 6, 7};
    const Bytes mask = {0x89, 'P', 'N', 'G', 9};
    const Bytes png = {0x89, 'P', 'N', 'G', 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    const auto jpegAt = fb.addBlob(jpeg);
    const auto maskAt = fb.addBlob(mask);
    const auto pngAt = fb.addBlob(png);
    std::vector<double> v(10);
    for (int i = 0; i < 10; ++i) v[i] = i;
    const auto scan0 =
        fb.addVector({e57test::packDoubles(v), e57test::packDoubles(v), e57test::packDoubles(v)});
    const auto scan1 = fb.addVector({e57test::packDoubles(v)});
    auto blob = [](const char* name, std::uint64_t at, std::size_t n) {
        return std::string("<") + name + " type=\"Blob\" fileOffset=\"" + std::to_string(at) +
               "\" length=\"" + std::to_string(n) + "\"/>";
    };
    const std::string wh =
        "<imageWidth type=\"Integer\">10</imageWidth><imageHeight "
        "type=\"Integer\">20</imageHeight>";
    const std::string xml =
        "<data3D type=\"Vector\" allowHeterogeneousChildren=\"1\">"
        "<vectorChild type=\"Structure\"><guid type=\"String\">scan-a</guid>"
        "<points type=\"CompressedVector\" fileOffset=\"" +
        std::to_string(scan0) +
        "\" recordCount=\"10\">"
        "<prototype type=\"Structure\"><cartesianX type=\"Float\"/><cartesianY "
        "type=\"Float\"/><cartesianZ type=\"Float\"/>"
        "</prototype><codecs type=\"Vector\" "
        "allowHeterogeneousChildren=\"1\"/></points></vectorChild>"
        "<vectorChild type=\"Structure\"><guid type=\"String\">scan-b</guid>"
        "<points type=\"CompressedVector\" fileOffset=\"" +
        std::to_string(scan1) +
        "\" recordCount=\"10\">"
        "<prototype type=\"Structure\"><sphericalRange type=\"Float\"/></prototype><codecs "
        "type=\"Vector\"/></points>"
        "</vectorChild></data3D>"
        "<images2D type=\"Vector\" allowHeterogeneousChildren=\"1\">"
        // 0: visual jpeg + mask and a pinhole png: Visual wins
        "<vectorChild type=\"Structure\"><guid type=\"String\">img0</guid>"
        "<associatedData3DGuid type=\"String\">scan-a</associatedData3DGuid>"
        "<visualReferenceRepresentation type=\"Structure\">" +
        blob("jpegImage", jpegAt, jpeg.size()) + blob("imageMask", maskAt, mask.size()) + wh +
        "</visualReferenceRepresentation>"
        "<pinholeRepresentation type=\"Structure\">" +
        blob("pngImage", pngAt, png.size()) + wh +
        "<focalLength type=\"Float\">0.035</focalLength></pinholeRepresentation></vectorChild>"
        // 1: pinhole png
        "<vectorChild type=\"Structure\"><guid type=\"String\">img1</guid>"
        "<pinholeRepresentation type=\"Structure\">" +
        blob("pngImage", pngAt, png.size()) + wh +
        "<principalPointX type=\"Float\">5</principalPointX></pinholeRepresentation></vectorChild>"
        // 2: spherical with only a mask
        "<vectorChild type=\"Structure\"><guid type=\"String\">img2</guid>"
        "<sphericalRepresentation type=\"Structure\">" +
        blob("imageMask", maskAt, mask.size()) + wh +
        "<pixelWidth type=\"Float\">0.001</pixelWidth></sphericalRepresentation></vectorChild>"
        // 3: cylindrical without height
        "<vectorChild type=\"Structure\"><guid type=\"String\">img3</guid>"
        "<cylindricalRepresentation type=\"Structure\">" +
        blob("jpegImage", jpegAt, jpeg.size()) +
        "<imageWidth type=\"Integer\">7</imageWidth><radius "
        "type=\"Float\">2</radius></cylindricalRepresentation></vectorChild>"
        // 4: no representation
        "<vectorChild type=\"Structure\"><guid type=\"String\">img4</guid></vectorChild>"
        // 5: a blob longer than the file
        "<vectorChild type=\"Structure\"><guid type=\"String\">img5</guid><pinholeRepresentation "
        "type=\"Structure\">" +
        blob("jpegImage", jpegAt, 1u << 30) + wh +
        "</pinholeRepresentation></vectorChild>"
        "</images2D>";
    return fb.finish(xml);
}

}  // namespace

// The root's path test, as readers.e57 asks it for /data3D.
TEST(E57ReaderApi, RootTellsWhichPathsAreDefined) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "a.e57", apiFile());
    testsupport::writeFile(dir / "bare.e57", FileBuilder().finish(""));
    e57::Reader r((dir / "a.e57").string(), e57::ReaderOptions{});
    const e57::StructureNode root = r.GetRawE57Root();
    for (const char* path : {"/", "/data3D", "data3D", "/data3D/1/points/prototype/sphericalRange",
                             "/images2D/5/guid", "/guid"})
        EXPECT_TRUE(root.isDefined(path)) << path;
    for (const char* path :
         {"/data3D/2", "/data3D/x", "/data3D/0/pose", "/guid/more", "/images2D/-1", "/nothing"})
        EXPECT_FALSE(root.isDefined(path)) << path;
    EXPECT_EQ(codeOf([&] { root.isDefined(""); }), e57::ErrorBadPathName);
    EXPECT_EQ(codeOf([&] { root.isDefined("/data3D//0"); }), e57::ErrorBadPathName);

    e57::Reader bare((dir / "bare.e57").string(), e57::ReaderOptions{});
    EXPECT_EQ(bare.GetData3DCount(), 0);
    EXPECT_FALSE(bare.GetRawE57Root().isDefined("/data3D"));
    r.Close();
    EXPECT_EQ(codeOf([&] { root.isDefined("/data3D"); }), e57::ErrorImageFileNotOpen);
}

TEST(E57ReaderApi, LifecycleAndPointReaderRules) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "a.e57", apiFile());
    e57::Reader r((dir / "a.e57").string(), e57::ReaderOptions{});
    EXPECT_TRUE(r.IsOpen());
    EXPECT_EQ(r.GetData3DCount(), 2);
    e57::Data3D h;
    EXPECT_FALSE(r.ReadData3D(2, h));
    EXPECT_FALSE(r.ReadData3D(-1, h));
    ASSERT_TRUE(r.ReadData3D(0, h));
    EXPECT_EQ(h.guid, "scan-a");

    std::vector<double> x(4), y(4), z(4);
    const e57::Data3DPointsDouble b = e57test::xyzBuffers(x.data(), y.data(), z.data());
    EXPECT_EQ(codeOf([&] { r.SetUpData3DPointsData(5, 4, b); }), e57::ErrorChildIndexOutOfBounds);
    EXPECT_EQ(codeOf([&] { r.SetUpData3DPointsData(0, 4, e57::Data3DPointsDouble{}); }),
              e57::ErrorBadAPIArgument);
    // Spherical-only scan given only xyz buffers: nothing to bind, and the message says why.
    try {
        r.SetUpData3DPointsData(1, 4, b);
        FAIL();
    } catch (const e57::E57Exception& e) {
        EXPECT_EQ(e.errorCode(), e57::ErrorBadAPIArgument);
        EXPECT_NE(e.context().find("has no cartesianX, cartesianY, cartesianZ"), std::string::npos)
            << e.context();
    }

    {
        auto cv = r.SetUpData3DPointsData(0, 4, b);
        // One point reader per file at a time.
        EXPECT_EQ(codeOf([&] { r.SetUpData3DPointsData(0, 4, b); }), e57::ErrorTooManyReaders);
        e57::CompressedVectorReader copy = cv;  // copies share the read
        EXPECT_EQ(copy.read(), 4u);
        EXPECT_EQ(cv.read(), 4u);
        EXPECT_EQ(x[0], 4.0);
        EXPECT_EQ(codeOf([&] { cv.seek(0); }), e57::ErrorNotImplemented);
    }
    // The last copy going away closed it.
    auto cv2 = r.SetUpData3DPointsData(0, 4, b);
    EXPECT_EQ(cv2.read(), 4u);
    EXPECT_EQ(x[3], 3.0);

    e57::Reader shared = r;  // copies share the open file
    EXPECT_TRUE(shared.Close());
    EXPECT_FALSE(r.Close());
    EXPECT_FALSE(r.IsOpen());
    EXPECT_FALSE(r.ReadData3D(0, h));
    e57::E57Root root;
    EXPECT_FALSE(r.GetE57Root(root));
    EXPECT_EQ(codeOf([&] { r.GetData3DCount(); }), e57::ErrorImageFileNotOpen);
    EXPECT_EQ(codeOf([&] { r.GetImage2DCount(); }), e57::ErrorImageFileNotOpen);
    EXPECT_EQ(codeOf([&] { cv2.read(); }), e57::ErrorImageFileNotOpen);
    unsigned char byte = 0;
    EXPECT_EQ(
        codeOf([&] { r.ReadImage2DData(0, e57::ProjectionVisual, e57::ImageJPEG, &byte, 0, 1); }),
        e57::ErrorImageFileNotOpen);
}

TEST(E57ReaderApi, ImagesSizesAndData) {
    testsupport::TempDir dir;
    testsupport::writeFile(dir / "a.e57", apiFile());
    e57::Reader r((dir / "a.e57").string(), e57::ReaderOptions{});
    ASSERT_EQ(r.GetImage2DCount(), 6);

    e57::Image2D im;
    ASSERT_TRUE(r.ReadImage2D(0, im));
    EXPECT_EQ(im.guid, "img0");
    EXPECT_EQ(im.associatedData3DGuid, "scan-a");
    EXPECT_EQ(im.visualReferenceRepresentation.jpegImageSize, 11);
    EXPECT_EQ(im.visualReferenceRepresentation.imageMaskSize, 5);
    EXPECT_EQ(im.visualReferenceRepresentation.imageHeight, 20);
    EXPECT_EQ(im.pinholeRepresentation.pngImageSize, 15);
    EXPECT_EQ(im.pinholeRepresentation.focalLength, 0.035);
    EXPECT_EQ(im.pinholeCameraDistortionExt, nullptr);
    ASSERT_TRUE(r.ReadImage2D(2, im));  // resets what the previous image filled
    EXPECT_EQ(im.visualReferenceRepresentation.jpegImageSize, 0);
    EXPECT_EQ(im.sphericalRepresentation.pixelWidth, 0.001);
    ASSERT_TRUE(r.ReadImage2D(3, im));
    EXPECT_EQ(im.cylindricalRepresentation.radius, 2.0);
    EXPECT_FALSE(r.ReadImage2D(6, im));

    struct Sizes {
        int64_t image;
        bool ok;
        e57::Image2DProjection proj;
        e57::Image2DType type;
        int64_t w, h, size;
        e57::Image2DType mask, visual;
    };
    const Sizes table[] = {
        {0, true, e57::ProjectionVisual, e57::ImageJPEG, 10, 20, 11, e57::ImageMaskPNG,
         e57::ImageJPEG},
        {1, true, e57::ProjectionPinhole, e57::ImagePNG, 10, 20, 15, e57::ImageNone,
         e57::ImageNone},
        {2, true, e57::ProjectionSpherical, e57::ImageMaskPNG, 10, 20, 5, e57::ImageMaskPNG,
         e57::ImageNone},
        {3, false, e57::ProjectionCylindrical, e57::ImageJPEG, 7, 0, 0, e57::ImageNone,
         e57::ImageNone},  // no height
    };
    e57::Image2DProjection proj{};
    e57::Image2DType type{}, mask{}, visual{};
    int64_t w = -1, h = -1, size = -1;
    for (const Sizes& t : table) {
        SCOPED_TRACE(t.image);
        EXPECT_EQ(r.GetImage2DSizes(t.image, proj, type, w, h, size, mask, visual), t.ok);
        EXPECT_EQ(proj, t.proj);
        EXPECT_EQ(w, t.w);
        EXPECT_EQ(h, t.h);
        EXPECT_EQ(size, t.size);
        if (!t.ok) continue;
        EXPECT_EQ(type, t.type);
        EXPECT_EQ(mask, t.mask);
        EXPECT_EQ(visual, t.visual);
    }

    w = h = size = 99;
    EXPECT_FALSE(r.GetImage2DSizes(4, proj, type, w, h, size, mask, visual));  // no representation
    EXPECT_EQ(proj, e57::ProjectionNone);
    EXPECT_EQ(type, e57::ImageNone);
    EXPECT_EQ(w, 99);
    proj = e57::ProjectionPinhole;
    EXPECT_FALSE(
        r.GetImage2DSizes(17, proj, type, w, h, size, mask, visual));  // out of range: untouched
    EXPECT_EQ(proj, e57::ProjectionPinhole);

    std::vector<unsigned char> buf(32, 0);
    EXPECT_EQ(r.ReadImage2DData(0, e57::ProjectionVisual, e57::ImageJPEG, buf.data(), 0, 11), 11);
    EXPECT_EQ(buf[0], 0xff);
    EXPECT_EQ(buf[10], 7);
    EXPECT_EQ(r.ReadImage2DData(0, e57::ProjectionVisual, e57::ImageJPEG, buf.data(), 4, 3), 3);
    EXPECT_EQ(buf[0], 1);
    EXPECT_EQ(r.ReadImage2DData(0, e57::ProjectionVisual, e57::ImageMaskPNG, buf.data(), 0, 5), 5);
    EXPECT_EQ(buf[1], 'P');
    EXPECT_EQ(r.ReadImage2DData(0, e57::ProjectionPinhole, e57::ImagePNG, buf.data(), 0, 15), 15);
    EXPECT_EQ(r.ReadImage2DData(0, e57::ProjectionVisual, e57::ImagePNG, buf.data(), 0, 1),
              0);  // absent blob
    EXPECT_EQ(r.ReadImage2DData(0, e57::ProjectionSpherical, e57::ImageJPEG, buf.data(), 0, 1),
              0);  // absent projection
    EXPECT_EQ(r.ReadImage2DData(0, e57::ProjectionVisual, e57::ImageNone, buf.data(), 0, 1), 0);
    EXPECT_EQ(r.ReadImage2DData(9, e57::ProjectionVisual, e57::ImageJPEG, buf.data(), 0, 1), 0);
    EXPECT_EQ(codeOf([&] {
                  r.ReadImage2DData(0, e57::ProjectionVisual, e57::ImageJPEG, buf.data(), 5, 7);
              }),
              e57::ErrorBadAPIArgument);
    EXPECT_EQ(codeOf([&] {
                  r.ReadImage2DData(0, e57::ProjectionVisual, e57::ImageJPEG, buf.data(), -1, 2);
              }),
              e57::ErrorBadAPIArgument);
    // A blob that claims more bytes than the file has is refused before a caller sizes a buffer by
    // it.
    EXPECT_EQ(codeOf([&] { r.ReadImage2D(5, im); }), e57::ErrorBadXMLFormat);
    EXPECT_EQ(codeOf([&] { r.GetImage2DSizes(5, proj, type, w, h, size, mask, visual); }),
              e57::ErrorBadXMLFormat);
}

TEST(E57ReaderApi, BufferAllocationAndExceptionText) {
    e57::Data3D h;
    h.pointCount = 1000;
    h.pointFields.cartesianXField = true;
    h.pointFields.colorRedField = true;
    h.pointFields.pointRangeNodeType = e57::NumericalNodeType::Float;
    {
        e57::Data3DPointsDouble d(h);
        EXPECT_EQ(h.pointFields.pointRangeNodeType, e57::NumericalNodeType::Double);
        ASSERT_NE(d.cartesianX, nullptr);
        ASSERT_NE(d.colorRed, nullptr);
        EXPECT_EQ(d.cartesianY, nullptr);
        d.cartesianX[999] = 1.0;
        e57::Data3DPointsDouble copy = d;  // shares the arrays: no double free
        EXPECT_EQ(copy.cartesianX, d.cartesianX);
    }
    e57::Data3D f;
    f.pointCount = 10;
    f.pointFields.cartesianXField = true;
    e57::Data3DPointsFloat fl(f);
    EXPECT_EQ(f.pointFields.pointRangeMinimum, e57::FLOAT_MIN);
    EXPECT_EQ(f.pointFields.pointRangeNodeType, e57::NumericalNodeType::Float);
    e57::Data3D bad;
    bad.pointFields.angleNodeType = e57::NumericalNodeType::Integer;
    EXPECT_EQ(codeOf([&] { e57::Data3DPointsDouble x(bad); }), e57::ErrorInvalidNodeType);

    const e57::E57Exception e(e57::ErrorBadChecksum, "page=3");
    EXPECT_EQ(e.errorStr(), "checksum mismatch, file is corrupted (ErrorBadChecksum)");
    EXPECT_EQ(e.context(), "page=3");
}
