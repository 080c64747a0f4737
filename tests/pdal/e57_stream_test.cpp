#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <map>

#include "pdal/PointRef.hpp"
#include "e57/reader_test_builder.h"
#include "pdal_test_util.h"
#include "support/test_support.h"

using pdal::Dimension::Id;
using pdaltest::ScanSpec;

using pdaltest::cartesianScan;
using pdaltest::collectXyz;
using pdaltest::Xyz;

TEST(E57Stream, PosedScansArriveInFileOrderAndWorldCoordinates) {
    testsupport::TempDir dir;
    const std::string path = (dir / "posed.e57").string();
    ScanSpec a = cartesianScan({{1, 0, 0}, {0, 2, 0}, {0, 0, 3}});
    // 90 degrees about Z, then a translation.
    a.pose.rotation.w = std::sqrt(0.5);
    a.pose.rotation.z = std::sqrt(0.5);
    a.pose.translation = {10, 20, 30};
    ScanSpec b = cartesianScan({{5, 6, 7}, {-1, -2, -3}});
    // Not unit length on purpose: the matrix is built as given.
    ScanSpec c = cartesianScan({{1, 1, 1}});
    c.pose.rotation = {0.5, 0.5, 0.5, 0.5};  // 120 degrees about (1,1,1): x->y->z->x
    c.pose.translation = {0, 0, -1};
    pdaltest::writeE57(path, {a, b, c});

    const std::vector<Xyz> got = collectXyz(path);
    const std::vector<Xyz> want = {{10, 21, 30}, {8, 20, 30},  {10, 20, 33},
                                   {5, 6, 7},    {-1, -2, -3}, {1, 1, 0}};
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_NEAR(got[i].x, want[i].x, 1e-12) << i;
        EXPECT_NEAR(got[i].y, want[i].y, 1e-12) << i;
        EXPECT_NEAR(got[i].z, want[i].z, 1e-12) << i;
    }
}

TEST(E57Stream, SphericalOnlyScanIsConvertedAndPosed) {
    testsupport::TempDir dir;
    const std::string path = (dir / "spherical.e57").string();
    ScanSpec s;
    s.range = {2.0, 5.0, 1.5};
    s.azimuth = {0.3, -2.0, 1.0};
    s.elevation = {0.2, -0.7, 1.5};
    s.pose.translation = {100, 0, 0};
    pdaltest::writeE57(path, {s});

    std::vector<Xyz> got;
    bool layoutOk = false;
    pdaltest::streamE57(path, 2, [&](pdal::PointRef& p, pdal::PointLayoutPtr layout) {
        layoutOk =
            layout->hasDim(Id::X) && layout->hasDim(Id::SphericalRange) && !layout->hasDim(Id::Red);
        got.push_back({p.getFieldAs<double>(Id::X), p.getFieldAs<double>(Id::Y),
                       p.getFieldAs<double>(Id::Z)});
        EXPECT_EQ(p.getFieldAs<double>(Id::SphericalRange), s.range[got.size() - 1]);
        return true;
    });
    EXPECT_TRUE(layoutOk);
    ASSERT_EQ(got.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const double r = s.range[i], az = s.azimuth[i], el = s.elevation[i];
        EXPECT_NEAR(got[i].x, r * std::cos(el) * std::cos(az) + 100, 1e-12);
        EXPECT_NEAR(got[i].y, r * std::cos(el) * std::sin(az), 1e-12);
        EXPECT_NEAR(got[i].z, r * std::sin(el), 1e-12);
    }
}

TEST(E57Stream, ColourAndIntensityAreRescaledAsPdalDoes) {
    testsupport::TempDir dir;
    const std::string path = (dir / "colour.e57").string();
    ScanSpec eight = cartesianScan({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}});
    eight.red = {0, 255, 128};
    eight.green = {1, 2, 3};
    eight.blue = {255, 0, 7};
    eight.intensity = {0.0, 1.0, 0.5};
    ScanSpec sixteen = cartesianScan({{3, 3, 3}, {4, 4, 4}});
    sixteen.red = {65535, 1000};
    sixteen.green = {0, 2};
    sixteen.blue = {12345, 3};
    sixteen.colourMax = 65535;
    sixteen.intensity = {-5, 100};
    sixteen.intensityMin = -2048;
    sixteen.intensityMax = 2047;
    ScanSpec plain = cartesianScan({{5, 5, 5}});
    pdaltest::writeE57(path, {eight, sixteen, plain});

    using Row = std::array<unsigned, 4>;  // red, green, blue, intensity
    std::vector<Row> rows;
    bool hasRgb = false;
    pdaltest::streamE57(path, 100000, [&](pdal::PointRef& p, pdal::PointLayoutPtr layout) {
        hasRgb = layout->hasDim(Id::Red) && layout->hasDim(Id::Green) && layout->hasDim(Id::Blue) &&
                 layout->hasDim(Id::Intensity);
        rows.push_back({p.getFieldAs<unsigned>(Id::Red), p.getFieldAs<unsigned>(Id::Green),
                        p.getFieldAs<unsigned>(Id::Blue), p.getFieldAs<unsigned>(Id::Intensity)});
        return true;
    });
    EXPECT_TRUE(hasRgb);
    const std::vector<Row> want = {
        // 8-bit colour times 257; intensity over 0..1 to 0..65535, 32767.5 rounding away from zero.
        {0, 257, 65535, 0},
        {65535, 514, 0, 65535},
        {128 * 257, 3 * 257, 7 * 257, 32768},
        // 16-bit colour as it is. Limits -2048..2047 give a factor of 16 without subtracting the
        // minimum; a negative result does not fit and stays 0.
        {65535, 0, 12345, 0},
        {1000, 2, 3, 1600},
        {0, 0, 0, 0},  // no colour: the table's zero
    };
    EXPECT_EQ(rows, want);
}

// Longer scans take the colour eight points at a time, with a tail; every row as one by one.
TEST(E57Stream, ColourOfLongerScansIsRescaledInEveryRow) {
    testsupport::TempDir dir;
    const std::string path = (dir / "colour-long.e57").string();
    std::vector<ScanSpec> scans;
    for (double max : {255.0, 65535.0}) {
        std::vector<Xyz> pts(21);
        ScanSpec s = cartesianScan(pts);
        s.colourMax = max;
        for (unsigned i = 0; i < 21; ++i) {
            s.red.push_back(static_cast<uint16_t>(i * 12 % 256));
            s.green.push_back(static_cast<uint16_t>(255 - i));
            s.blue.push_back(static_cast<uint16_t>(i * 37 % 256));
        }
        scans.push_back(s);
    }
    pdaltest::writeE57(path, scans);

    std::vector<std::array<unsigned, 3>> got, want;
    for (const ScanSpec& s : scans) {
        const unsigned k = s.colourMax == 255.0 ? 257 : 1;
        for (std::size_t i = 0; i < s.red.size(); ++i)
            want.push_back({s.red[i] * k, s.green[i] * k, s.blue[i] * k});
    }
    pdaltest::streamE57(path, 100000, [&](pdal::PointRef& p, pdal::PointLayoutPtr) {
        got.push_back({p.getFieldAs<unsigned>(Id::Red), p.getFieldAs<unsigned>(Id::Green),
                       p.getFieldAs<unsigned>(Id::Blue)});
        return true;
    });
    EXPECT_EQ(got, want);
}

TEST(E57Stream, ChunksHoldAtMostTheCapacityAndDeliverEveryPointOnce) {
    testsupport::TempDir dir;
    const std::string path = (dir / "chunks.e57").string();
    std::vector<Xyz> a, b;
    for (int i = 0; i < 2500; ++i) a.push_back({double(i), 0, 0});
    for (int i = 2500; i < 13201; ++i) b.push_back({double(i), 1, 0});
    pdaltest::writeE57(path, {cartesianScan(a), cartesianScan(b)});

    for (pdal::point_count_t capacity : {1u, 7u, 1000u, 2500u, 5000u, 100000u}) {
        std::vector<double> xs;
        const uint64_t calls =
            pdaltest::streamE57(path, capacity, [&](pdal::PointRef& p, pdal::PointLayoutPtr) {
                EXPECT_LT(p.pointId(), capacity);
                xs.push_back(p.getFieldAs<double>(Id::X));
                return true;
            });
        EXPECT_EQ(calls, 13201u) << capacity;
        ASSERT_EQ(xs.size(), 13201u) << capacity;
        for (std::size_t i = 0; i < xs.size(); ++i) ASSERT_EQ(xs[i], double(i)) << capacity;
    }
}

TEST(E57Stream, CallbackFalseSkipsThatPointAndTheStreamGoesOn) {
    testsupport::TempDir dir;
    const std::string path = (dir / "skip.e57").string();
    std::vector<Xyz> a;
    for (int i = 0; i < 50; ++i) a.push_back({double(i), 0, 0});
    pdaltest::writeE57(path, {cartesianScan(a), cartesianScan(a)});
    pdal::StageFactory factory(true);
    pdal::Stage* reader = factory.createStage("readers.e57");
    ASSERT_NE(reader, nullptr);
    pdal::Options options;
    options.add("filename", path);
    reader->setOptions(options);
    // The first filter drops every fifth point; the second sees the others, in order.
    pdal::StreamCallbackFilter first, second;
    first.setInput(*reader);
    second.setInput(first);
    uint64_t firstCalls = 0;
    std::vector<double> seen;
    first.setCallback([&](pdal::PointRef& p) {
        ++firstCalls;
        return static_cast<int>(p.getFieldAs<double>(Id::X)) % 5 != 0;
    });
    second.setCallback([&](pdal::PointRef& p) {
        seen.push_back(p.getFieldAs<double>(Id::X));
        return true;
    });
    pdal::FixedPointTable table(3);
    second.prepare(table);
    second.execute(table);
    EXPECT_EQ(firstCalls, 100u);
    std::vector<double> want;
    for (int scan = 0; scan < 2; ++scan)
        for (int i = 0; i < 50; ++i)
            if (i % 5 != 0) want.push_back(i);
    EXPECT_EQ(seen, want);
}

// A /data3D without scans is a file of no points; a file without /data3D is refused.
TEST(E57Stream, FileWithoutScansStreamsNoPoints) {
    testsupport::TempDir dir;
    pdaltest::writeE57((dir / "none.e57").string(), {});
    EXPECT_EQ(pdaltest::streamE57((dir / "none.e57").string(), 10,
                                  [](pdal::PointRef&, pdal::PointLayoutPtr) { return true; }),
              0u);
    EXPECT_EQ(pdaltest::streamReaderAlone((dir / "none.e57").string()), 0u);

    const auto bare = dir / "bare.e57";
    testsupport::writeFile(bare, e57test::FileBuilder().finish(""));
    for (const bool alone : {false, true}) {
        try {
            if (alone)
                pdaltest::streamReaderAlone(bare.string());
            else
                pdaltest::streamE57(bare.string(), 10,
                                    [](pdal::PointRef&, pdal::PointLayoutPtr) { return true; });
            ADD_FAILURE() << "no error for a file without /data3D";
        } catch (const pdal::pdal_error& e) {
            // PDAL puts "readers.e57: " before it twice.
            EXPECT_NE(std::string(e.what()).find("readers.e57: File doesn't contain 3D data"),
                      std::string::npos)
                << e.what();
        }
    }
}

TEST(E57Stream, UnknownStageIsNullAndUnknownOptionIsRejected) {
    pdal::StageFactory factory(true);
    EXPECT_EQ(factory.createStage("readers.las_nonexistent"), nullptr);
    EXPECT_EQ(factory.createStage(""), nullptr);
    pdal::Stage* reader = factory.createStage("readers.e57");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->getName(), "readers.e57");
    pdal::Stage* filter = factory.createStage("filters.streamcallback");
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->getName(), "filters.streamcallback");

    pdal::Options options;
    options.add("filename", "x.e57");
    options.add("bogus", 1);
    reader->setOptions(options);
    pdal::FixedPointTable table(10);
    try {
        reader->prepare(table);
        ADD_FAILURE();
    } catch (const pdal::pdal_error& e) {
        EXPECT_STREQ(e.what(), "readers.e57: Unexpected argument 'bogus'.");
    }
}

// The shared reference files: errors as the reference library reports them, and world sums.
TEST(E57Stream, SharedFilesMatchTheReferenceAnswers) {
    REQUIRE_SHARED_TESTDATA();
    const auto base = testsupport::sharedTestData() / "e57";
    for (const char* name :
         {"bunnyDouble", "ColouredCubeFloat", "ColourRepresentation", "ZeroPoints",
          "InvalidCVHeader", "bad-crc", "empty", "PinholeImageWithDistortionParameters"}) {
        std::map<std::string, std::string> expected;
        std::ifstream in(base / "expected" / (std::string(name) + ".txt"));
        for (std::string line; std::getline(in, line);) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) expected[line.substr(0, eq)] = line.substr(eq + 1);
        }
        double sum[3] = {0, 0, 0};
        uint64_t count = 0;
        std::string error;
        try {
            count = pdaltest::streamE57((base / (std::string(name) + ".e57")).string(), 4096,
                                        [&](pdal::PointRef& p, pdal::PointLayoutPtr) {
                                            sum[0] += p.getFieldAs<double>(Id::X);
                                            sum[1] += p.getFieldAs<double>(Id::Y);
                                            sum[2] += p.getFieldAs<double>(Id::Z);
                                            return true;
                                        });
        } catch (const std::exception& e) {
            error = pdaltest::errorText(e);
        }
        if (expected.count("error")) {
            // The library's sentence, e.g. "checksum mismatch, file is corrupted
            // (ErrorBadChecksum)"; PDAL gives the error's number instead ("readers.e57: 16 : ").
            const std::string& ref = expected["error"];
            const auto from = ref.find(": ") + 2;
            const std::string sentence = ref.substr(from, ref.find(" [code") - from);
            const auto code = ref.find("[code=") + 6;
            const std::string numbered =
                "readers.e57: " + ref.substr(code, ref.find(']') - code) + " : ";
            EXPECT_TRUE(error.find(sentence) != std::string::npos || error.rfind(numbered, 0) == 0)
                << name << ": " << error;
            continue;
        }
        ASSERT_EQ(error, "") << name;
        if (expected["data3D.count"] == "0") {
            // No scan in the file: no points, in either way of streaming.
            EXPECT_EQ(count, 0u) << name;
            EXPECT_EQ(pdaltest::streamReaderAlone((base / (std::string(name) + ".e57")).string()),
                      0u)
                << name;
        }
        const char* keys[3] = {"total.world.x.sum", "total.world.y.sum", "total.world.z.sum"};
        for (int k = 0; k < 3; ++k) {
            const double want = std::stod(expected[keys[k]]);
            EXPECT_NEAR(sum[k], want, 1e-9 * std::max(1.0, std::fabs(want)))
                << name << " " << keys[k];
        }
        EXPECT_EQ(std::to_string(count), expected["total.read.points"]) << name;
    }
}
