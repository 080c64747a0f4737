// Every real sample file must read exactly as the reference answers in expected/ say.

#include <gtest/gtest.h>

#include <E57SimpleReader.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace {

using KeyValues = std::map<std::string, std::string>;

KeyValues loadExpected(const std::filesystem::path& path) {
    KeyValues kv;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) kv[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return kv;
}

std::vector<double> numbers(const std::string& s) {
    std::vector<double> out;
    std::istringstream in(s);
    std::string tok;
    while (in >> tok) out.push_back(std::strtod(tok.c_str(), nullptr));
    return out;
}

// "a=1 b=two words c=3" with the keys known in order.
std::map<std::string, std::string> fieldsOf(const std::string& s,
                                            const std::vector<std::string>& keys) {
    std::map<std::string, std::string> out;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        const std::string k = keys[i] + "=";
        std::size_t at = s.rfind(" " + k);
        at = (s.compare(0, k.size(), k) == 0) ? 0 : (at == std::string::npos ? at : at + 1);
        if (at == std::string::npos) continue;
        std::size_t end = s.size();
        if (i + 1 < keys.size()) {
            const std::size_t next = s.find(" " + keys[i + 1] + "=", at);
            if (next != std::string::npos) end = next;
        }
        out[keys[i]] = s.substr(at + k.size(), end - at - k.size());
    }
    return out;
}

std::uint64_t fnv1a64(const void* data, std::size_t n) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

std::string hex64(std::uint64_t v) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

void expectClose(double actual, const std::string& expected, double relTol,
                 const std::string& what) {
    if (expected == "none") return;
    const double e = std::strtod(expected.c_str(), nullptr);
    EXPECT_LE(std::fabs(actual - e), relTol * std::max(std::fabs(e), 1.0))
        << what << ": got " << actual << " expected " << expected;
}

const char* nodeTypeName(e57::NumericalNodeType t) {
    switch (t) {
        case e57::NumericalNodeType::Integer: return "Integer";
        case e57::NumericalNodeType::ScaledInteger: return "ScaledInteger";
        case e57::NumericalNodeType::Float: return "Float";
        case e57::NumericalNodeType::Double: return "Double";
    }
    return "?";
}

const char* projectionName(e57::Image2DProjection p) {
    switch (p) {
        case e57::ProjectionVisual: return "visual";
        case e57::ProjectionPinhole: return "pinhole";
        case e57::ProjectionSpherical: return "spherical";
        case e57::ProjectionCylindrical: return "cylindrical";
        default: return "none";
    }
}

const char* typeName(e57::Image2DType t) {
    switch (t) {
        case e57::ImageJPEG: return "jpeg";
        case e57::ImagePNG: return "png";
        case e57::ImageMaskPNG: return "mask";
        default: return "none";
    }
}

struct Stat {
    double min = INFINITY, max = -INFINITY, sum = 0;
    std::uint64_t nonzero = 0;
    void add(double v) {
        min = std::min(min, v);
        max = std::max(max, v);
        sum += v;
        if (v != 0) ++nonzero;
    }
};

// Reads every point of a scan with every field it has, accumulating per-field statistics.
std::map<std::string, Stat> readAllPoints(const e57::Reader& r, int64_t index, const e57::Data3D& h,
                                          size_t capacity, std::uint64_t& count, Stat world[3]) {
    const auto& f = h.pointFields;
    std::vector<double> x(capacity), y(capacity), z(capacity), intensity(capacity), time(capacity);
    std::vector<double> range(capacity), azimuth(capacity), elevation(capacity);
    std::vector<std::uint16_t> red(capacity), green(capacity), blue(capacity);
    std::vector<std::int8_t> cis(capacity), sis(capacity), ri(capacity), rc(capacity),
        iii(capacity), ici(capacity), iti(capacity);
    std::vector<std::int32_t> row(capacity), col(capacity);
    e57::Data3DPointsDouble b;
    std::vector<std::pair<std::string, std::function<double(size_t)>>> fields;
    auto on = [&](bool flag, const char* name, auto*& ptr, auto& vec) {
        if (!flag) return;
        ptr = vec.data();
        fields.emplace_back(name, [&vec](size_t i) { return static_cast<double>(vec[i]); });
    };
    on(f.cartesianXField, "cartesianX", b.cartesianX, x);
    on(f.cartesianYField, "cartesianY", b.cartesianY, y);
    on(f.cartesianZField, "cartesianZ", b.cartesianZ, z);
    on(f.cartesianInvalidStateField, "cartesianInvalidState", b.cartesianInvalidState, cis);
    on(f.sphericalRangeField, "sphericalRange", b.sphericalRange, range);
    on(f.sphericalAzimuthField, "sphericalAzimuth", b.sphericalAzimuth, azimuth);
    on(f.sphericalElevationField, "sphericalElevation", b.sphericalElevation, elevation);
    on(f.sphericalInvalidStateField, "sphericalInvalidState", b.sphericalInvalidState, sis);
    on(f.intensityField, "intensity", b.intensity, intensity);
    on(f.isIntensityInvalidField, "isIntensityInvalid", b.isIntensityInvalid, iii);
    on(f.colorRedField, "colorRed", b.colorRed, red);
    on(f.colorGreenField, "colorGreen", b.colorGreen, green);
    on(f.colorBlueField, "colorBlue", b.colorBlue, blue);
    on(f.isColorInvalidField, "isColorInvalid", b.isColorInvalid, ici);
    on(f.rowIndexField, "rowIndex", b.rowIndex, row);
    on(f.columnIndexField, "columnIndex", b.columnIndex, col);
    on(f.returnIndexField, "returnIndex", b.returnIndex, ri);
    on(f.returnCountField, "returnCount", b.returnCount, rc);
    on(f.timeStampField, "timeStamp", b.timeStamp, time);
    on(f.isTimeStampInvalidField, "isTimeStampInvalid", b.isTimeStampInvalid, iti);

    std::map<std::string, Stat> stats;
    count = 0;
    e57::CompressedVectorReader cv = r.SetUpData3DPointsData(index, capacity, b);
    const auto& q = h.pose.rotation;
    const auto& t = h.pose.translation;
    const double m[3][3] = {
        {1 - 2 * (q.y * q.y + q.z * q.z), 2 * (q.x * q.y - q.w * q.z), 2 * (q.x * q.z + q.w * q.y)},
        {2 * (q.x * q.y + q.w * q.z), 1 - 2 * (q.x * q.x + q.z * q.z), 2 * (q.y * q.z - q.w * q.x)},
        {2 * (q.x * q.z - q.w * q.y), 2 * (q.y * q.z + q.w * q.x),
         1 - 2 * (q.x * q.x + q.y * q.y)}};
    const double tt[3] = {t.x, t.y, t.z};
    unsigned n = 0;
    while ((n = cv.read()) > 0) {
        EXPECT_LE(n, capacity);
        for (size_t i = 0; i < n; ++i) {
            for (auto& [name, get] : fields) stats[name].add(get(i));
            if (f.cartesianXField) {
                const double p[3] = {x[i], y[i], z[i]};
                for (int k = 0; k < 3; ++k)
                    world[k].add(m[k][0] * p[0] + m[k][1] * p[1] + m[k][2] * p[2] + tt[k]);
            }
        }
        count += n;
    }
    EXPECT_EQ(cv.read(), 0u);  // keeps returning 0 at the end
    cv.close();
    return stats;
}

void checkFile(const std::string& stem) {
    const auto dir = testsupport::sharedTestData() / "e57";
    const KeyValues ex = loadExpected(dir / "expected" / (stem + ".txt"));
    ASSERT_FALSE(ex.empty()) << "no reference answers for " << stem;
    auto has = [&](const std::string& k) { return ex.count(k) != 0; };
    auto at = [&](const std::string& k) { return ex.at(k); };

    int expectedCode = -1;
    if (has("error")) {
        const std::string& e = at("error");
        const auto c = e.find("[code=");
        ASSERT_NE(c, std::string::npos);
        expectedCode = std::atoi(e.c_str() + c + 6);
    }

    try {
        e57::Reader r((dir / (stem + ".e57")).string(), e57::ReaderOptions{});
        e57::E57Root root;
        ASSERT_TRUE(r.GetE57Root(root));
        EXPECT_EQ(root.formatName, at("formatName"));
        EXPECT_EQ(root.guid, at("guid"));
        EXPECT_EQ(std::to_string(root.versionMajor), at("versionMajor"));
        EXPECT_EQ(std::to_string(root.versionMinor), at("versionMinor"));
        EXPECT_EQ(root.e57LibraryVersion, at("e57LibraryVersion"));
        expectClose(root.creationDateTime.dateTimeValue, at("creationDateTime"), 1e-15,
                    "creationDateTime");
        EXPECT_EQ(std::to_string(root.coordinateMetadata.size()), at("coordinateMetadata.length"));
        EXPECT_EQ(hex64(fnv1a64(root.coordinateMetadata.data(), root.coordinateMetadata.size())),
                  at("coordinateMetadata.fnv1a64"));
        EXPECT_EQ(std::to_string(r.GetData3DCount()), at("data3D.count"));
        EXPECT_EQ(root.data3DSize, r.GetData3DCount());

        std::uint64_t totalRead = 0;
        Stat totalWorld[3];
        for (int64_t i = 0; i < r.GetData3DCount(); ++i) {
            const std::string s = "scan." + std::to_string(i) + ".";
            e57::Data3D h;
            ASSERT_TRUE(r.ReadData3D(i, h));
            EXPECT_EQ(h.guid, at(s + "guid"));
            EXPECT_EQ(h.name, at(s + "name"));
            EXPECT_EQ(h.description, at(s + "description"));
            EXPECT_EQ(std::to_string(h.pointCount), at(s + "pointCount"));
            const auto& f = h.pointFields;
            const std::pair<const char*, bool> flags[] = {
                {"cartesianX", f.cartesianXField},
                {"cartesianY", f.cartesianYField},
                {"cartesianZ", f.cartesianZField},
                {"cartesianInvalidState", f.cartesianInvalidStateField},
                {"sphericalRange", f.sphericalRangeField},
                {"sphericalAzimuth", f.sphericalAzimuthField},
                {"sphericalElevation", f.sphericalElevationField},
                {"sphericalInvalidState", f.sphericalInvalidStateField},
                {"colorRed", f.colorRedField},
                {"colorGreen", f.colorGreenField},
                {"colorBlue", f.colorBlueField},
                {"isColorInvalid", f.isColorInvalidField},
                {"intensity", f.intensityField},
                {"isIntensityInvalid", f.isIntensityInvalidField},
                {"timeStamp", f.timeStampField},
                {"isTimeStampInvalid", f.isTimeStampInvalidField},
                {"rowIndex", f.rowIndexField},
                {"columnIndex", f.columnIndexField},
                {"returnIndex", f.returnIndexField},
                {"returnCount", f.returnCountField},
                {"normalX", f.normalXField},
                {"normalY", f.normalYField},
                {"normalZ", f.normalZField}};
            for (const auto& [name, flag] : flags)
                EXPECT_EQ(flag ? "1" : "0", at(s + "fields." + name)) << s << name;
            EXPECT_EQ(nodeTypeName(f.pointRangeNodeType), at(s + "fields.pointRangeNodeType"));
            EXPECT_EQ(nodeTypeName(f.angleNodeType), at(s + "fields.angleNodeType"));
            EXPECT_EQ(nodeTypeName(f.intensityNodeType), at(s + "fields.intensityNodeType"));
            EXPECT_EQ(nodeTypeName(f.timeNodeType), at(s + "fields.timeNodeType"));
            expectClose(f.pointRangeScale, at(s + "fields.pointRangeScale"), 1e-15,
                        s + "pointRangeScale");
            if (has(s + "fields.pointRangeMinimum")) {
                expectClose(f.pointRangeMinimum, at(s + "fields.pointRangeMinimum"), 1e-15,
                            s + "pointRangeMinimum");
                expectClose(f.pointRangeMaximum, at(s + "fields.pointRangeMaximum"), 1e-15,
                            s + "pointRangeMaximum");
            }
            EXPECT_EQ(std::to_string(f.rowIndexMaximum), at(s + "fields.rowIndexMaximum"));
            EXPECT_EQ(std::to_string(f.columnIndexMaximum), at(s + "fields.columnIndexMaximum"));

            // Each reference line holds the numbers of one structure in order.
            auto expectNumbers = [&](const std::string& key, std::initializer_list<double> got) {
                const auto want = numbers(at(s + key));
                ASSERT_GE(want.size(), got.size()) << s << key;
                std::size_t k = 0;
                for (double g : got) EXPECT_EQ(g, want[k++]) << s << key << " " << k - 1;
            };
            const auto& cl = h.colorLimits;
            expectNumbers("colorLimits",
                          {cl.colorRedMinimum, cl.colorRedMaximum, cl.colorGreenMinimum,
                           cl.colorGreenMaximum, cl.colorBlueMinimum, cl.colorBlueMaximum});
            expectNumbers("intensityLimits",
                          {h.intensityLimits.intensityMinimum, h.intensityLimits.intensityMaximum});
            const auto& q = h.pose.rotation;
            const auto& t = h.pose.translation;
            expectNumbers("pose.rotation", {q.w, q.x, q.y, q.z});
            expectNumbers("pose.translation", {t.x, t.y, t.z});
            const auto& cb = h.cartesianBounds;
            expectNumbers("cartesianBounds", {cb.xMinimum, cb.xMaximum, cb.yMinimum, cb.yMaximum,
                                              cb.zMinimum, cb.zMaximum});
            const auto& sb = h.sphericalBounds;
            expectNumbers("sphericalBounds", {sb.rangeMinimum, sb.rangeMaximum, sb.elevationMinimum,
                                              sb.elevationMaximum, sb.azimuthStart, sb.azimuthEnd});
            const auto& ib = h.indexBounds;
            expectNumbers("indexBounds", {double(ib.rowMinimum), double(ib.rowMaximum),
                                          double(ib.columnMinimum), double(ib.columnMaximum),
                                          double(ib.returnMinimum), double(ib.returnMaximum)});

            if (expectedCode >= 0 && !has(s + "read.points")) {
                // The point data of this scan is what the reference refuses.
                try {
                    readAllPoints(r, i, h, 1000, totalRead, totalWorld);
                    ADD_FAILURE() << stem << ": reading the points should have failed";
                } catch (const e57::E57Exception& e) {
                    EXPECT_EQ(e.errorCode(), expectedCode) << e.context();
                    const std::string& ctx = at("error").substr(at("error").find("context=") + 8);
                    EXPECT_NE(e.context().find(ctx), std::string::npos) << e.context();
                }
                return;
            }
            // Odd capacities make batches end at every kind of position.
            for (size_t capacity : {size_t(10000), size_t(777)}) {
                std::uint64_t count = 0;
                Stat world[3];
                const auto stats = readAllPoints(r, i, h, capacity, count, world);
                EXPECT_EQ(std::to_string(count), at(s + "read.points"));
                for (const auto& [name, st] : stats) {
                    const std::string k = s + "read." + name + ".";
                    if (!has(k + "sum")) continue;
                    expectClose(st.min, at(k + "min"), 1e-15, k + "min");
                    expectClose(st.max, at(k + "max"), 1e-15, k + "max");
                    expectClose(st.sum, at(k + "sum"), 1e-12, k + "sum");
                    if (has(k + "nonzero")) {
                        EXPECT_EQ(std::to_string(st.nonzero), at(k + "nonzero"));
                    }
                }
                const char* axes[3] = {"x", "y", "z"};
                for (int a = 0; a < 3 && has(s + "world.x.sum"); ++a) {
                    const std::string k = s + "world." + axes[a] + ".";
                    expectClose(world[a].min, at(k + "min"), 1e-9, k + "min");
                    expectClose(world[a].max, at(k + "max"), 1e-9, k + "max");
                    expectClose(world[a].sum, at(k + "sum"), 1e-9, k + "sum");
                }
                if (capacity == 10000) {
                    totalRead += count;
                    for (int a = 0; a < 3; ++a) {
                        if (world[a].sum == 0 && world[a].min == INFINITY) continue;
                        totalWorld[a].min = std::min(totalWorld[a].min, world[a].min);
                        totalWorld[a].max = std::max(totalWorld[a].max, world[a].max);
                        totalWorld[a].sum += world[a].sum;
                    }
                }
            }
        }
        EXPECT_EQ(std::to_string(totalRead), at("total.read.points"));
        const char* axes[3] = {"x", "y", "z"};
        for (int a = 0; a < 3; ++a) {
            const std::string k = std::string("total.world.") + axes[a] + ".";
            expectClose(totalWorld[a].sum, at(k + "sum"), 1e-9, k + "sum");
            if (at(k + "min") == "none") {
                EXPECT_EQ(totalWorld[a].min, INFINITY);
            }
        }

        EXPECT_EQ(std::to_string(r.GetImage2DCount()), at("images2D.count"));
        for (int64_t i = 0; i < r.GetImage2DCount(); ++i) {
            const std::string s = "image." + std::to_string(i) + ".";
            e57::Image2D im;
            ASSERT_TRUE(r.ReadImage2D(i, im));
            EXPECT_EQ(im.guid, at(s + "guid"));
            EXPECT_EQ(im.name, at(s + "name"));
            EXPECT_EQ(im.description, at(s + "description"));
            EXPECT_EQ(im.associatedData3DGuid, at(s + "associatedData3DGuid"));
            const auto rot = numbers(at(s + "pose.rotation"));
            EXPECT_EQ(im.pose.rotation.w, rot.at(0));
            e57::Image2DProjection proj{};
            e57::Image2DType type{}, mask{}, visual{};
            int64_t w = -1, hgt = -1, size = -1;
            const bool ok = r.GetImage2DSizes(i, proj, type, w, hgt, size, mask, visual);
            EXPECT_EQ(ok ? "1" : "0", at(s + "sizes.ok"));
            EXPECT_EQ(projectionName(proj), at(s + "sizes.projection"));
            EXPECT_EQ(typeName(type), at(s + "sizes.type"));
            EXPECT_EQ(std::to_string(w), at(s + "sizes.width"));
            EXPECT_EQ(std::to_string(hgt), at(s + "sizes.height"));
            EXPECT_EQ(std::to_string(size), at(s + "sizes.size"));
            EXPECT_EQ(typeName(mask), at(s + "sizes.maskType"));
            EXPECT_EQ(typeName(visual), at(s + "sizes.visualType"));
            std::vector<unsigned char> blob(static_cast<size_t>(size));
            const int64_t got = r.ReadImage2DData(i, proj, type, blob.data(), 0, size);
            EXPECT_EQ(std::to_string(got), at(s + "data.bytesRead"));
            EXPECT_EQ(hex64(fnv1a64(blob.data(), blob.size())), at(s + "data.fnv1a64"));
            if (has(s + "pinhole")) {
                const auto p = fieldsOf(at(s + "pinhole"),
                                        {"jpegImageSize", "pngImageSize", "imageMaskSize",
                                         "imageWidth", "imageHeight", "focalLength", "pixelWidth",
                                         "pixelHeight", "principalPointX", "principalPointY"});
                const auto& ph = im.pinholeRepresentation;
                EXPECT_EQ(std::to_string(ph.jpegImageSize), p.at("jpegImageSize"));
                EXPECT_EQ(std::to_string(ph.pngImageSize), p.at("pngImageSize"));
                EXPECT_EQ(std::to_string(ph.imageMaskSize), p.at("imageMaskSize"));
                EXPECT_EQ(std::to_string(ph.imageWidth), p.at("imageWidth"));
                EXPECT_EQ(std::to_string(ph.imageHeight), p.at("imageHeight"));
                expectClose(ph.focalLength, p.at("focalLength"), 1e-15, "focalLength");
                expectClose(ph.principalPointY, p.at("principalPointY"), 1e-15, "principalPointY");
            }
            if (has(s + "pinholeCameraDistortion")) {
                ASSERT_NE(im.pinholeCameraDistortionExt, nullptr);
                const auto& d = *im.pinholeCameraDistortionExt;
                const auto p = fieldsOf(at(s + "pinholeCameraDistortion"),
                                        {"cameraNumber", "type", "K1", "K2", "K3", "K4", "K5", "K6",
                                         "P1", "P2", "CX", "CY", "FX", "FY", "HEIGHT", "WIDTH"});
                EXPECT_EQ(std::to_string(d.cameraNumber), p.at("cameraNumber"));
                EXPECT_EQ(d.type, p.at("type"));
                const double got2[] = {d.CV_K1, d.CV_K2, d.CV_K3, d.CV_K4, d.CV_K5, d.CV_K6,
                                       d.CV_P1, d.CV_P2, d.CV_CX, d.CV_CY, d.CV_FX, d.CV_FY};
                const char* names[] = {"K1", "K2", "K3", "K4", "K5", "K6",
                                       "P1", "P2", "CX", "CY", "FX", "FY"};
                for (int k = 0; k < 12; ++k) expectClose(got2[k], p.at(names[k]), 1e-15, names[k]);
                EXPECT_EQ(std::to_string(d.CV_HEIGHT), p.at("HEIGHT"));
                EXPECT_EQ(std::to_string(d.CV_WIDTH), p.at("WIDTH"));
            } else {
                EXPECT_EQ(im.pinholeCameraDistortionExt, nullptr);
            }
        }
        EXPECT_TRUE(r.Close());
        EXPECT_EQ(expectedCode, -1) << stem << " should have failed with code " << expectedCode;
    } catch (const e57::E57Exception& e) {
        ASSERT_NE(expectedCode, -1) << stem << ": unexpected " << e.errorStr() << e.context();
        EXPECT_EQ(e.errorCode(), expectedCode) << e.context();
    }
}

}  // namespace

TEST(E57ReaderTestData, EverySampleFileMatchesItsExpectedAnswers) {
    REQUIRE_SHARED_TESTDATA();
    for (const char* stem :
         {"bunnyDouble", "ColouredCubeFloat", "ColourRepresentation",
          "PinholeImageWithDistortionParameters", "ZeroPoints", "InvalidCVHeader", "empty"}) {
        SCOPED_TRACE(stem);
        checkFile(stem);
    }
}

TEST(E57ReaderTestData, BadCrcIsRefusedUnlessChecksumsAreOff) {
    REQUIRE_SHARED_TESTDATA();
    const std::string path = (testsupport::sharedTestData() / "e57" / "bad-crc.e57").string();
    try {
        e57::Reader r(path, e57::ReaderOptions{});
        FAIL() << "bad-crc.e57 opened";
    } catch (const e57::E57Exception& e) {
        EXPECT_EQ(e.errorCode(), e57::ErrorBadChecksum);
        EXPECT_NE(e.errorStr().find("checksum"), std::string::npos) << e.errorStr();
        EXPECT_NE(e.context().find("page=0"), std::string::npos) << e.context();
#if !defined( \
    BRINDLEWICK_SYSTEM_E57FORMAT)  // libE57Format shows the stored bytes the other way round
        EXPECT_NE(e.context().find("storedChecksum=328393747"), std::string::npos) << e.context();
#endif
    }
    e57::ReaderOptions unchecked;
    unchecked.checksumPolicy = e57::ChecksumNone;
    e57::Reader r(path, unchecked);
    e57::E57Root root;
    ASSERT_TRUE(r.GetE57Root(root));
    EXPECT_EQ(root.e57LibraryVersion.find("E57Formad"), 0u);  // the altered byte
    EXPECT_EQ(r.GetData3DCount(), 0);
}
