#include "export/e57_pdal_fallback_export.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "export/e57_native_export.h"
#include "export/export_test_util.h"
#include "points/input/e57_point_stream.h"
#include "points/selection/selection.h"
#include "support/e57_test_files.h"
#include "support/file_size_limit.h"

namespace fs = std::filesystem;
using testsupport::TempDir;
using testsupport::TestScan;

namespace {

struct E57Run {
    bool ok = false;
    std::string error, console;
};

E57Run runFallback(const fs::path& in, const fs::path& out, const TileSet& tiles,
                   const fs::path* status = nullptr) {
    E57Run r;
    testing::internal::CaptureStdout();
    r.ok = exportE57PdalXyzFallback(in.string(), out.string(), tiles, {}, 1.0, &r.error, nullptr,
                                    status);
    r.console = testing::internal::GetCapturedStdout();
    return r;
}

TestScan ringScan(const std::string& guid, std::size_t n) {
    TestScan s;
    s.guid = guid;
    for (std::size_t i = 0; i < n; ++i) {
        const double a = static_cast<double>(i) * 0.01;
        const double d = 3.0 + static_cast<double>(i % 97) * 0.1;
        s.add(d * std::cos(a), d * std::sin(a), static_cast<double>(i % 13) * 0.25 - 1.0);
    }
    return s;
}

}  // namespace

TEST(E57PdalFallbackExport, SphericalOnlyScansAreWrittenAsTheStreamDeliversThem) {
    TempDir dir;
    TestScan a = ringScan("A", 700), b = ringScan("B", 500);
    a.cartesian = b.cartesian = false;
    a.hasColour = a.hasIntensity = true;
    a.pose.rotation = {0.8, 0.0, 0.0, 0.6};
    a.pose.translation = {612345.678901234, 5812345.25, 12.0};
    const fs::path in = dir / "in.e57", out = dir / "out.e57", status = dir / "s.status.ini";
    testsupport::writeE57Source(in.string(), "{sph-root}", {a, b});

    // The expectation is what the stage delivers, selected as delivered.
    std::vector<std::array<double, 3>> delivered, kept;
    ASSERT_TRUE(streamE57FileInBatches(
        in.string(), [&](const double* x, const double* y, const double* z, std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) delivered.push_back({x[i], y[i], z[i]});
        }));
    TileSet tiles;
    for (const auto& p : delivered)
        if (p[2] > 11.5) tiles.insert(tileIndexFor(p[0], p[1], 2.0));
    for (const auto& p : delivered)
        if (pointPassesSelection(p[0], p[1], p[2], tiles, {}, 2.0)) kept.push_back(p);
    ASSERT_GT(kept.size(), 100u);
    ASSERT_LT(kept.size(), delivered.size());

    // Through the native route, which finds no Cartesian scan and hands over.
    std::string error, method;
    testing::internal::CaptureStdout();
    const bool ok =
        exportE57Native(in.string(), out.string(), tiles, {}, 2.0, &error, &method, &status, true);
    const std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(method, "PDAL XYZ fallback");
    EXPECT_EQ(exporttest::readStatus(status).message,
              "Starting PDAL XYZ fallback export | input=" + in.string() +
                  " | output=" + out.string() + " | selectedTiles=" + std::to_string(tiles.size()) +
                  " | selectedHeightRanges=0 | coarseTileSize=2");
    EXPECT_NE(console.find("[E57 PDAL STREAM] completed | read=1200 | kept=" +
                           std::to_string(kept.size()) + " | partsWritten=1"),
              std::string::npos)
        << console;

    const testsupport::ReadFile file = testsupport::readE57File(out.string());
    EXPECT_EQ(file.root.guid, "{sph-root}");
    ASSERT_EQ(file.scans.size(), 1u);
    const testsupport::ReadScan& block = file.scans[0];
    EXPECT_EQ(block.header.guid, "{sph-root}_s0_p1");
    EXPECT_EQ(block.header.pose, e57::RigidBodyTransform::identity());
    const e57::PointStandardizedFieldsAvailable& f = block.header.pointFields;
    EXPECT_FALSE(f.colorRedField || f.intensityField || f.sphericalRangeField);
    ASSERT_EQ(block.x.size(), kept.size());
    using Bits = std::array<std::uint64_t, 3>;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const std::array<double, 3> got{block.x[i], block.y[i], block.z[i]};
        ASSERT_EQ(std::bit_cast<Bits>(got), std::bit_cast<Bits>(kept[i])) << i;
    }
}

TEST(E57PdalFallbackExport, BlocksOfTwoHundredThousandAreNamedAfterTheRootGuid) {
    TempDir dir;
    TestScan s;
    s.guid = "S";
    const std::size_t n = 450000;
    for (auto* v : {&s.x, &s.y, &s.z}) v->resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        s.x[i] = static_cast<double>(i) * 0.01;
        s.y[i] = static_cast<double>(i % 300);
        s.z[i] = -static_cast<double>(i % 11);
    }
    const fs::path in = dir / "in.e57", out = dir / "out.e57";
    testsupport::writeE57Source(in.string(), "G", {s});

    const E57Run r = runFallback(in, out, {});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(r.console.find("part=3 | kept=50000 | xyz=1 | rgb=0 | intensity=0 | final=1"),
              std::string::npos);
    const testsupport::ReadFile file = testsupport::readE57File(out.string());
    ASSERT_EQ(file.scans.size(), 3u);
    for (std::size_t k = 0, first = 0; k < 3; first += file.scans[k++].x.size()) {
        const testsupport::ReadScan& block = file.scans[k];
        EXPECT_EQ(block.header.guid, "G_s0_p" + std::to_string(k + 1));
        ASSERT_EQ(block.x.size(), k < 2 ? 200000u : 50000u);
        EXPECT_EQ(block.header.cartesianBounds.xMinimum, s.x[first]);
        EXPECT_EQ(block.header.cartesianBounds.xMaximum, s.x[first + block.x.size() - 1]);
        EXPECT_TRUE(std::equal(block.z.begin(), block.z.end(), s.z.begin() + first));
    }
}

TEST(E57PdalFallbackExport, ProgressSentenceIsCappedAndZeroWithoutATotal) {
    EXPECT_EQ(pdalFallbackProgressSentence(30000000, 80000000, 12500000, 62),
              "Exporting 37.5% | read=30M / 80M | kept=12M | parts=62 | method=PDAL XYZ fallback");
    EXPECT_EQ(pdalFallbackProgressSentence(20000000, 0, 0, 0),
              "Exporting 0.0% | read=20M / 0M | kept=0M | parts=0 | method=PDAL XYZ fallback");
    // More points streamed than the scan headers announced.
    EXPECT_EQ(pdalFallbackProgressSentence(20000000, 19000000, 5, 0),
              "Exporting 99.9% | read=20M / 19M | kept=0M | parts=0 | method=PDAL XYZ fallback");
}

TEST(E57PdalFallbackExport, FailuresRemoveTheOutputAndReturnTheirMessage) {
    TempDir dir;
    TestScan s = ringScan("F", 210000);
    s.x[4] = std::numeric_limits<double>::quiet_NaN();
    const fs::path in = dir / "in.e57", out = dir / "out.e57", status = dir / "f.status.ini";
    testsupport::writeE57Source(in.string(), "{f}", {s});
    {
        SCOPED_TRACE("nothing kept");
        const E57Run r = runFallback(in, out, TileSet{{500, 500}});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error,
                  "PDAL streaming fallback produced zero output points. Check tile indices / "
                  "coarse tile size / selection mode.");
        EXPECT_NE(r.console.find("[E57 PDAL STREAM] skipped_nonfinite_xyz=1"), std::string::npos);
        EXPECT_FALSE(fs::exists(out));
    }
    {
        SCOPED_TRACE("an input that cannot be read, after an earlier export");
        testsupport::writeFile(out, "earlier export");
        EXPECT_FALSE(runFallback(dir / "missing.e57", out, {}).ok);
        EXPECT_FALSE(fs::exists(out));
    }
    {
        SCOPED_TRACE("the output is the input");
        const std::string bytes = testsupport::readFile(in);
        EXPECT_FALSE(runFallback(in, in, {}).ok);
        EXPECT_EQ(testsupport::readFile(in), bytes);
    }
    {
        SCOPED_TRACE("a block the file cannot take");
        E57Run r;
        {
            const testsupport::FileSizeLimit limit(64 * 1024);
            r = runFallback(in, out, {}, &status);
        }
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error.rfind("PDAL streaming WriteData3DData failed | output=" + out.string() +
                                    " | part=1 | keptPoints=200000 | totalRead=200001 | "
                                    "totalKept=200000 | selectedTiles=0 | selectedHeightRanges=0 | "
                                    "xyz=1 rgb=0 intensity=0 | bounds.min=(",
                                0),
                  0u)
            << r.error;
        // The library's own text follows.
        EXPECT_LT(r.error.find(" | what="), r.error.size() - 8) << r.error;
        EXPECT_EQ(exporttest::readStatus(status).state, "Failed");
        EXPECT_FALSE(fs::exists(out));
    }
}
