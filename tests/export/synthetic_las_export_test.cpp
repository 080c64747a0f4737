#include "export/synthetic_las_export.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <limits>
#include <streambuf>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "export/export_test_util.h"
#include "export/output_file.h"
#include "pdal/pdal_test_util.h"

namespace fs = std::filesystem;
using exporttest::at;
using exporttest::failureOf;
using exporttest::jobWithTiles;
using exporttest::readLasBack;
using exporttest::runRoute;
using testsupport::TempDir;

namespace {

struct Src {
    double x, y, z;
    int r = -1, g = 0, b = 0;  // r < 0: no colour
};

std::string xyzText(const std::vector<Src>& pts) {
    std::string s;
    for (const Src& p : pts) {
        s += std::to_string(p.x) + " " + std::to_string(p.y) + " " + std::to_string(p.z);
        if (p.r >= 0)
            s += " " + std::to_string(p.r) + " " + std::to_string(p.g) + " " + std::to_string(p.b);
        s += "\n";
    }
    return s;
}

pdaltest::ScanSpec scanOf(const std::vector<Src>& pts, bool colour) {
    pdaltest::ScanSpec s;
    for (const Src& p : pts) {
        s.x.push_back(p.x);
        s.y.push_back(p.y);
        s.z.push_back(p.z);
        if (!colour) continue;
        s.red.push_back(static_cast<std::uint16_t>(p.r < 0 ? 0 : p.r));
        s.green.push_back(static_cast<std::uint16_t>(p.g));
        s.blue.push_back(static_cast<std::uint16_t>(p.b));
    }
    return s;
}

// Decoded points within half a step of the source, and each record's colour at 20..25.
void expectRecords(const exporttest::LasBack& back, const std::vector<Src>& want,
                   const std::vector<std::array<int, 3>>& colours = {}) {
    ASSERT_EQ(back.points.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(back.points[i].x, want[i].x, back.scale[0] / 2 * 1.0001);
        EXPECT_NEAR(back.points[i].y, want[i].y, back.scale[1] / 2 * 1.0001);
        EXPECT_NEAR(back.points[i].z, want[i].z, back.scale[2] / 2 * 1.0001);
        if (colours.empty()) continue;
        for (std::size_t c = 0; c < 3; ++c)
            EXPECT_EQ(at<std::uint16_t>(back.records[i], 20 + 2 * c), colours[i][c]);
    }
}

}  // namespace

TEST(SyntheticLasFormat, ScaleFitsInt32AndTheCountFitsLas12) {
    EXPECT_DOUBLE_EQ(lasScaleForExtent(0.0, 10000.0), 10000.0 / 2140000000.0 * 1.01);
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [lo, hi] : std::vector<std::pair<double, double>>{
             {0.0, 100.0}, {3.0, 3.0}, {10.0, 0.0}, {std::nan(""), 1.0}, {-inf, inf}, {0.0, inf}})
        EXPECT_EQ(lasScaleForExtent(lo, hi), 0.000001) << lo << " " << hi;
    for (const double span : {2118.0, 2119.0, 1e6, 1e12, 1e300})
        EXPECT_LT(span / lasScaleForExtent(0.0, span), 2147483647.0) << span;

    const auto h =
        buildSyntheticLasHeader(4294967295ULL, false, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(at<std::uint32_t>(std::string(h.begin(), h.end()), 107), 4294967295u);
    try {
        buildSyntheticLasHeader(4294967296ULL, false, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0);
        ADD_FAILURE() << "no error above the LAS 1.2 count";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(),
                     "Synthetic LAS 1.2 writer cannot write more than 4,294,967,295 points. LAS "
                     "1.4 extended count "
                     "writer is planned later.");
    }
}

TEST(SyntheticLasRecord, BytesRoundingAndRange) {
    TempDir dir;
    const fs::path path = dir / "rec.bin";
    OutputFile out;
    ASSERT_TRUE(out.open(path.string()));
    CloudPoint p;
    p.x = 10.25;  // (10.25 - 10) / 0.5 = 0.5 -> 1, half away from zero
    p.y = -0.25;  // -0.5 -> -1
    p.z = 2147483647.0 * 0.5 + 0.2;
    writeLasPointRecord(out, p, true, 0.5, 0.5, 0.5, 10.0, 0.0, 0.0);
    writeLasPointRecord(out, p, false, 0.5, 0.5, 0.5, 10.0, 0.0, 0.0);

    // 3e9 steps, 2^31 after rounding, below -2^31 and NaN do not fit and write nothing.
    for (const auto& [x, z, scale] : std::vector<std::array<double, 3>>{{3000.0, 0.0, 1e-6},
                                                                        {0.0, 2147483647.5, 1.0},
                                                                        {0.0, -2147483648.5, 1.0},
                                                                        {0.0, std::nan(""), 1.0}}) {
        CloudPoint bad = p;
        bad.x = x;
        bad.z = z;
        try {
            writeLasPointRecord(out, bad, true, scale, 1.0, 1.0, 0.0, 0.0, 0.0);
            ADD_FAILURE() << "written: " << x << " " << z;
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(
                e.what(),
                "Synthetic LAS coordinate is outside int32 range. A larger LAS scale is needed.");
        }
    }
    CloudPoint low = p;
    low.x = 0.0;
    low.z = -2147483648.4;  // the lowest value that still fits
    writeLasPointRecord(out, low, false, 1.0, 1.0, 1.0, 0.0, 0.0, 0.0);
    ASSERT_TRUE(out.close());

    const std::string b = testsupport::readFile(path);
    ASSERT_EQ(b.size(), 66u);
    EXPECT_EQ(at<std::int32_t>(b, 0), 1);
    EXPECT_EQ(at<std::int32_t>(b, 4), -1);
    EXPECT_EQ(at<std::int32_t>(b, 8), 2147483647);
    EXPECT_EQ(at<std::uint16_t>(b, 12), 0);
    EXPECT_EQ(b[14], 9);  // return 1 of 1
    for (int i = 15; i < 20; ++i) EXPECT_EQ(b[static_cast<std::size_t>(i)], 0) << i;
    EXPECT_EQ(at<std::int32_t>(b, 26), 1);  // the format 0 record follows at once
    EXPECT_EQ(b[26 + 14], 9);
    EXPECT_EQ(at<std::int32_t>(b, 46 + 8), std::numeric_limits<std::int32_t>::min());
}

TEST(SyntheticLasExport, XyzInputWithMixedColour) {
    TempDir dir;
    const fs::path in = dir / "cloud.xyz";
    const fs::path out = dir / "sub" / "deeper" / "cloud_cut.las";
    const fs::path status = dir / "job.status.ini";
    // Tile size 100; x spans 5,000 units so its scale exceeds 1e-6.
    const std::vector<Src> kept = {{0.5, 10.25, -3.0, 255, 128, 0},
                                   {5000.5, 20.0, 7.5},
                                   {150.0, 99.999, 0.0, 1, 2, 3},
                                   {2500.123456, 0.0, 1.0}};
    const std::vector<Src> all = {
        kept[0], {-5.0, 5.0, 0.0, 9, 9, 9}, kept[1], {50.0, 250.0, 0.0}, kept[2], kept[3]};
    testsupport::writeFile(in, xyzText(all) + "not a point\n");
    ExportJob job =
        jobWithTiles(in.string(), out.string(), {{0, 0}, {1, 0}, {50, 0}, {25, 0}}, 100.0);

    const auto run = runRoute(exportSyntheticLas, job, status);
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.result.inputPoints, 6u);  // the bad line is not a point read
    EXPECT_EQ(run.result.writtenPoints, 4u);
    EXPECT_EQ(fs::file_size(out), 227u + 26u * 4);
    EXPECT_EQ(exporttest::readStatus(status).message,
              "Synthetic LAS export pass 2/2: writing LAS records...");

    const auto back = readLasBack(out);
    EXPECT_EQ(back.format, 2);
    EXPECT_EQ(back.recordLength, 26);
    EXPECT_EQ(back.scale[0], lasScaleForExtent(0.5, 5000.5));
    EXPECT_GT(back.scale[0], 0.000001);
    EXPECT_EQ(back.scale[1], 0.000001);
    EXPECT_EQ(back.scale[2], 0.000001);
    EXPECT_EQ(back.offset, (std::array<double, 3>{0.5, 0.0, -3.0}));  // the minima
    const std::string b = testsupport::readFile(out).substr(0, 227);
    EXPECT_EQ(b.substr(0, 4), "LASF");
    EXPECT_EQ(b[24], 1);
    EXPECT_EQ(b[25], 2);
    EXPECT_EQ(b.substr(26, 32), std::string("Brindlewick") + std::string(21, '\0'));
    EXPECT_EQ(b.substr(58, 32), std::string("Brindlewick synthetic LAS") + std::string(7, '\0'));
    EXPECT_EQ(at<std::uint16_t>(b, 94), 227);
    EXPECT_EQ(at<std::uint32_t>(b, 96), 227u);
    EXPECT_EQ(at<std::uint32_t>(b, 100), 0u);  // no VLRs
    EXPECT_EQ(at<std::uint32_t>(b, 107), 4u);
    EXPECT_EQ(at<std::uint32_t>(b, 111), 4u);  // all first returns
    const double wantBounds[] = {5000.5, 0.5, 99.999, 0.0, 7.5, -3.0};
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(at<double>(b, 179 + 8 * i), wantBounds[i]) << i;
    // Source id, encoding, GUID, dates and returns 2 to 5 stay zero.
    for (const auto& [from, to] : std::vector<std::pair<int, int>>{{4, 24}, {90, 94}, {115, 131}})
        for (int i = from; i < to; ++i) EXPECT_EQ(b[static_cast<std::size_t>(i)], 0) << i;
    // A point without colour is black; 8-bit colour is spread over 16 bits.
    expectRecords(back, kept, {{65535, 32896, 0}, {0, 0, 0}, {257, 514, 771}, {0, 0, 0}});
    EXPECT_EQ(at<std::int32_t>(back.records[0], 0), 0);  // the minimum sits on the offset

    for (const std::string& line : std::vector<std::string>{
             "[SYNTHETIC LAS EXPORT] bounds and scale | spanX=5000 | spanY=99.999 | spanZ=10.5 | "
             "scaleX=",
             "[SYNTHETIC LAS EXPORT] file size check | expectedBytes=331 | actualBytes=331 | "
             "recordLength=26\n",
             "[SYNTHETIC LAS EXPORT] completed | input=" + in.string() + " | output=" +
                 out.string() + " | selectedPoints=4 | pointFormat=2 | rgb=1 | scale=("})
        EXPECT_NE(run.console.find(line), std::string::npos) << line << "\n" << run.console;

    job.exportRGB = false;
    const auto plain = runRoute(exportSyntheticLas, job, status);
    ASSERT_TRUE(plain.ok) << plain.error;
    const auto back0 = readLasBack(out);
    EXPECT_EQ(back0.format, 0);
    EXPECT_EQ(back0.recordLength, 20);
    EXPECT_EQ(fs::file_size(out), 227u + 20u * 4);
    expectRecords(back0, kept);
    EXPECT_NE(plain.console.find("| pointFormat=0 | rgb=0 |"), std::string::npos);
}

TEST(SyntheticLasExport, E57InputColourAndNonFinitePoints) {
    TempDir dir;
    const fs::path in = dir / "scan.e57";
    const fs::path out = dir / "scan_cut.las";
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    // A plain tile set keeps its tiles whatever z is, so only the finiteness test and the LAS
    // range refuse these; the "no return" z would coarsen the others' scale to about 1.6e29.
    const std::vector<Src> pts = {{1.0, 1.0, 1.0, 255, 128, 0}, {0.5, 0.5, nan, 1, 1, 1},
                                  {2.5, 3.5, -1.0, 10, 20, 30}, {0.75, 0.5, inf, 1, 1, 1},
                                  {1.5, 2.5, 3.4e38, 1, 1, 1},  {7.0, 8.0, 9.0, 1, 1, 1}};
    pdaltest::writeE57(in.string(), {scanOf(pts, true)});
    ExportJob job = jobWithTiles(in.string(), out.string(), exporttest::tileBlock(0, 0, 4, 4), 1.0);
    const auto run = runRoute(exportSyntheticLas, job, dir / "s.ini");
    ASSERT_TRUE(run.ok) << run.error;
    EXPECT_EQ(run.result.inputPoints, 6u);
    EXPECT_EQ(run.result.writtenPoints, 2u);
    EXPECT_EQ(run.result.outsideLasRangePoints, 1u);
    const auto back = readLasBack(out);
    EXPECT_EQ(back.format, 2);
    EXPECT_EQ(back.scale[2], 0.000001);
    expectRecords(back, {pts[0], pts[2]}, {{65535, 32896, 0}, {2570, 5140, 7710}});
    EXPECT_EQ(back.offset[2], -1.0);
    EXPECT_EQ(at<double>(testsupport::readFile(out), 211), 1.0);  // max z

    pdaltest::writeE57(in.string(), {scanOf(pts, false)});
    ASSERT_TRUE(runRoute(exportSyntheticLas, job, dir / "s.ini").ok);
    EXPECT_EQ(readLasBack(out).format, 0);  // asked for, but no colour seen
}

TEST(SyntheticLasExport, FailuresAndTheirOrder) {
    TempDir dir;
    const fs::path xyz = dir / "in.xyz";
    testsupport::writeFile(xyz, "0.5 0.5 0.5\n");
    const fs::path out = dir / "out.las";
    const fs::path status = dir / "s.ini";
    const ExportJob job = jobWithTiles(xyz.string(), out.string(), {{0, 0}});

    // Tile size, input kind and selection come before the output folder.
    const std::string fresh = (dir / "new" / "out.las").string();
    ExportJob j = jobWithTiles(xyz.string(), fresh, {{0, 0}}, 0.0);
    EXPECT_EQ(failureOf(exportSyntheticLas, j, status),
              "Synthetic LAS export failed: coarse tile size must be > 0.");
    j = jobWithTiles((dir / "in.las").string(), fresh, {{0, 0}});
    EXPECT_EQ(
        failureOf(exportSyntheticLas, j, status),
        "Synthetic LAS export failed: the input is not an .e57 or .xyz file: " + j.inputE57Path);
    j = jobWithTiles(xyz.string(), fresh, {});
    EXPECT_EQ(failureOf(exportSyntheticLas, j, status),
              "Synthetic LAS export failed: no selected tiles or height ranges.");
    EXPECT_FALSE(fs::exists(dir / "new"));

    // An outlier that is kept would coarsen its axis past 1 mm for every other point.
    const fs::path farZ = dir / "far_z.xyz";
    testsupport::writeFile(farZ, "0.5 0.5 0.5\n0.25 0.5 -12.5\n0.5 0.25 1000000000\n");
    const struct {
        std::string input, output, want;
        bool prefix;
    } cases[] = {
        {farZ.string(), out.string(),
         "Synthetic LAS export failed: the selected points' Z extent, -12.5 to 1000000000, needs "
         "a LAS scale of 0.4719626227; the coarsest it writes is 0.001.",
         false},
        {(dir / "missing.xyz").string(), out.string(),
         "Cannot open XYZ input for synthetic LAS export: ", true},
        {(dir / "missing.e57").string(), out.string(), "", true},  // the reader's own text
        {xyz.string(), dir.path().string(),
         "Synthetic LAS export failed: the output path is a folder: " + dir.path().string(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input + " -> " + c.output);
        j = jobWithTiles(c.input, c.output, {{0, 0}});
        const std::string e = failureOf(exportSyntheticLas, j, status);
        exporttest::expectFailureText(e, c.want, c.prefix);
        EXPECT_NE(e, "Synthetic LAS pass 1 failed.");
    }
    EXPECT_FALSE(fs::exists(out));
    const fs::path full = dir / "full";
    if (testsupport::makeFullDevice(full)) {
        EXPECT_EQ(failureOf(exportSyntheticLas, jobWithTiles(xyz.string(), full.string(), {{0, 0}}),
                            status),
                  "Synthetic LAS export failed while writing output file: " + full.string() +
                      " (No space left on device)");
    }

    // No selected point: fails after pass 1 has made its end report, before any output exists.
    j = job;
    j.selectedCoarseTiles = {{5, 5}};
    j.inputTotalPoints = 1;
    EXPECT_EQ(failureOf(exportSyntheticLas, j, status),
              "Synthetic LAS export produced zero selected points.");
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(exporttest::readStatus(status).message,
              "Exporting 50.0% | read=0M / 0M | written=0 | method=Synthetic LAS export | pass 1/2 "
              "scanning bounds");
}

// Pass 2 reports on records written: at 5,000,000, not on either side of it.
TEST(SyntheticLasExport, PassTwoReportsEveryFiveMillionWritten) {
    TempDir dir;
    const fs::path status = dir / "s.ini";
    const fs::path null = dir / "null";
    REQUIRE_CHAR_DEVICE(testsupport::makeNullDevice(null), null);
    OutputFile out;
    ASSERT_TRUE(out.open(null.string()));
    std::uint64_t written = 4999998, lastProgress = 0;
    SyntheticLasRecordWriter writer{false,   out,          1,      1,       1, 0, 0, 0,
                                    written, lastProgress, status, 10000000};
    const CloudPoint p;
    writeSyntheticLasPoint(writer, p);
    EXPECT_FALSE(fs::exists(status));
    writeSyntheticLasPoint(writer, p);
    EXPECT_EQ(exporttest::readStatus(status).message,
              "Exporting 75.0% | read=5M / 10M | written=5000000 | method=Synthetic LAS export | "
              "pass 2/2 writing "
              "LAS records");
    fs::remove(status);
    writeSyntheticLasPoint(writer, p);
    EXPECT_FALSE(fs::exists(status));
    EXPECT_EQ(written, 5000001u);
}

// Pass 1 reports on points read: at each multiple of 5,000,000 and once at the end. A 30 MB
// input: too slow under the sanitizers.
TEST(SyntheticLasExport, PassOneReportsEveryFiveMillionRead) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "5,000,002-point input: optimised build only";
#endif
    TempDir dir;
    std::string text = "0 0 0\n";
    while (text.size() < 6 * 5000002) text += text;
    text.resize(6 * 5000002);
    testsupport::writeFile(dir / "big.xyz", text);
    const ExportJob job = jobWithTiles((dir / "big.xyz").string(), "unused.las", {{0, 0}});
    std::vector<std::uint64_t> calls;
    SyntheticLasBounds bounds;
    SyntheticLasPassCounts read;
    std::string error;
    ASSERT_TRUE(streamSelectedPoints(job, buildExportSelectionFilter(job), bounds, &read, &error,
                                     [&](std::uint64_t n) { calls.push_back(n); }))
        << error;
    EXPECT_EQ(calls, (std::vector<std::uint64_t>{5000000, 5000002}));
    EXPECT_EQ(bounds.selectedPoints, 5000002u);
}

// A source that changes between the passes: the input loses a line when the route reports the
// bounds of its first pass, the moment between the two reads.
TEST(SyntheticLasExport, CountMismatchWhenTheSourceChanges) {
    TempDir dir;
    const fs::path in = dir / "changing.xyz";
    testsupport::writeFile(in, "0.1 0.1 0\n0.2 0.2 0\n0.3 0.3 0\n");
    struct RewriteOnBounds : std::streambuf {
        fs::path path;
        bool done = false;
        int overflow(int c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char* text, std::streamsize n) override {
            if (!done && std::string_view(text, static_cast<std::size_t>(n))
                                 .find("[SYNTHETIC LAS EXPORT] bounds and scale") !=
                             std::string_view::npos) {
                testsupport::writeFile(path, "0.1 0.1 0\n0.2 0.2 0\n");
                done = true;
            }
            return n;
        }
    } console;
    console.path = in;
    const fs::path out = dir / "changing.las";
    std::streambuf* saved = std::cout.rdbuf(&console);
    ExportResult result;
    std::string error;
    const bool ok = exportSyntheticLas(jobWithTiles(in.string(), out.string(), {{0, 0}}),
                                       (dir / "s.ini").string(), &result, &error);
    std::cout.rdbuf(saved);
    ASSERT_TRUE(console.done);
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, "Synthetic LAS export point count mismatch: expected 3, written 2");
    EXPECT_FALSE(fs::exists(out));  // no partial file
    EXPECT_TRUE(exporttest::unfinishedFiles(dir.path()).empty());
}
