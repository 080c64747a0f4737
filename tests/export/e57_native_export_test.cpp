#include "export/e57_native_export.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "export/export_test_util.h"
#include "points/selection/selection.h"
#include "support/e57_test_files.h"
#include "support/file_size_limit.h"

namespace fs = std::filesystem;
using testsupport::ReadScan;
using testsupport::TempDir;
using testsupport::TestScan;

namespace {

struct Selection {
    TileSet tiles;
    std::vector<SelectedHeightRange> ranges;
    double tileSize = 2.0;
};

struct E57Run {
    bool ok = false;
    std::string error, method, console;
};

E57Run runNative(const fs::path& in, const fs::path& out, const Selection& sel, bool colour,
                 const fs::path* status = nullptr) {
    E57Run r;
    testing::internal::CaptureStdout();
    r.ok = exportE57Native(in.string(), out.string(), sel.tiles, sel.ranges, sel.tileSize, &r.error,
                           &r.method, status, colour);
    r.console = testing::internal::GetCapturedStdout();
    return r;
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// n points on a slanted grid around (ox, oy), with digits down to the last bit.
TestScan gridScan(const std::string& guid, std::size_t n, double ox, double oy) {
    TestScan s;
    s.guid = guid;
    s.name = "scan " + guid;
    for (std::size_t i = 0; i < n; ++i)
        s.add(ox + static_cast<double>(i % 50) * 0.731234567891 + 1e-7 * static_cast<double>(i),
              oy + static_cast<double>(i / 50) * 0.612345678901,
              static_cast<double>(i % 17) * 0.377777777777 - 2.0);
    return s;
}

// Every other tile the scans reach in world coordinates, and a reversed height range up to a
// metre below their top listing tiles of both kinds; kept[s] are the source indices of scan s
// that the route must keep, in order.
Selection halfSelection(const std::vector<TestScan>& scans,
                        std::vector<std::vector<std::size_t>>& kept) {
    Selection sel;
    SelectedHeightRange range;
    range.zMin = 0.0;
    range.zMax = -1e9;
    for (const TestScan& s : scans)
        for (std::size_t i = 0; i < s.size(); ++i) {
            const auto w = testsupport::worldPoint(s.pose, s.x[i], s.y[i], s.z[i]);
            const TileIndex t = tileIndexFor(w[0], w[1], sel.tileSize);
            if ((t.ix + t.iy) % 2 == 0) sel.tiles.insert(t);
            if ((t.ix + 3 * t.iy) % 5 == 0) range.tiles.push_back(t);
            range.zMin = std::max(range.zMin, w[2] - 1.0);
        }
    sel.ranges.push_back(range);
    for (const TestScan& s : scans) {
        kept.emplace_back();
        for (std::size_t i = 0; i < s.size(); ++i) {
            const auto w = testsupport::worldPoint(s.pose, s.x[i], s.y[i], s.z[i]);
            if (pointPassesSelection(w[0], w[1], w[2], sel.tiles, sel.ranges, sel.tileSize))
                kept.back().push_back(i);
        }
    }
    return sel;
}

// The block holds the source's points first.. of `kept`, bit for bit, with their own bounds.
void expectBlockPoints(const ReadScan& block, const TestScan& src,
                       const std::vector<std::size_t>& kept, std::size_t first = 0) {
    ASSERT_LE(first + block.x.size(), kept.size());
    double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (std::size_t j = 0; j < block.x.size(); ++j) {
        const std::size_t i = kept[first + j];
        const double p[3] = {src.x[i], src.y[i], src.z[i]};
        ASSERT_EQ(bits(block.x[j]), bits(p[0])) << j;
        ASSERT_EQ(bits(block.y[j]), bits(p[1])) << j;
        ASSERT_EQ(bits(block.z[j]), bits(p[2])) << j;
        for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], p[k]), hi[k] = std::max(hi[k], p[k]);
    }
    const e57::CartesianBounds& b = block.header.cartesianBounds;
    EXPECT_EQ((std::array{b.xMinimum, b.xMaximum, b.yMinimum, b.yMaximum, b.zMinimum, b.zMaximum}),
              (std::array{lo[0], hi[0], lo[1], hi[1], lo[2], hi[2]}));
}

}  // namespace

TEST(E57NativeExport, PosedScansKeepPoseColourIntensityAndExactCoordinatesPerScan) {
    TempDir dir;
    TestScan a = gridScan("A", 3000, -15.0, -9.0);
    // Not a unit quaternion: the pose is used, and copied, as stored.
    a.pose.rotation = {0.9, 0.1, -0.2, 0.3};
    a.pose.translation = {612345.678901234, 5812345.125, 48.5};
    a.hasColour = a.hasIntensity = a.hasTime = a.hasRowColumn = true;
    TestScan empty;
    empty.guid = "E";
    TestScan c = gridScan("C", 2000, 612345.678901234, 5812340.000000001);
    c.hasColour = c.hasIntensity = true;
    for (double& v : c.intensity) v /= 3.0;  // not representable in 32 bits
    const std::vector<TestScan> scans{a, empty, c};
    const fs::path in = dir / "in.e57", status = dir / "job.ini.status.ini";
    testsupport::writeE57Source(in.string(), "{root}", scans, {}, "EPSG:25832");
    std::vector<std::vector<std::size_t>> kept;
    const Selection sel = halfSelection(scans, kept);
    ASSERT_GT(kept[0].size(), a.size() / 10);
    ASSERT_LT(kept[0].size(), a.size() * 9 / 10);
    ASSERT_GT(kept[2].size(), 0u);

    for (const bool colour : {true, false}) {
        SCOPED_TRACE(colour);
        const fs::path out = dir / (colour ? "colour.e57" : "plain.e57");
        const E57Run r = runNative(in, out, sel, colour, &status);
        ASSERT_TRUE(r.ok) << r.error;
        EXPECT_EQ(r.method, "libE57");
        EXPECT_EQ(exporttest::readStatus(status).message,
                  "Exporting 100.0% | finalizing output file");
        const testsupport::ReadFile file = testsupport::readE57File(out.string());
        EXPECT_EQ(file.root.guid, "{root}");
        EXPECT_EQ(file.root.coordinateMetadata, "EPSG:25832");
        // The empty scan is passed over; a block's guid carries its source scan's index.
        ASSERT_EQ(file.scans.size(), 2u);
        for (const std::size_t k : {0u, 1u}) {
            const ReadScan& block = file.scans[k];
            const std::size_t s = k == 0 ? 0 : 2;
            const TestScan& src = scans[s];
            const e57::PointStandardizedFieldsAvailable& f = block.header.pointFields;
            EXPECT_EQ(block.header.guid, src.guid + "_s" + std::to_string(s) + "_p1");
            EXPECT_EQ(block.header.name, src.name);
            EXPECT_EQ(block.header.pose, src.pose);
            EXPECT_EQ(f.pointRangeNodeType, e57::NumericalNodeType::Double);
            EXPECT_FALSE(f.timeStampField || f.rowIndexField || f.columnIndexField);
            ASSERT_EQ(block.header.pointCount, kept[s].size());
            expectBlockPoints(block, src, kept[s]);
            EXPECT_EQ(f.colorRedField && f.colorGreenField && f.colorBlueField, colour);
            EXPECT_EQ(f.intensityField, colour);
            if (!colour) continue;
            EXPECT_EQ(block.header.colorLimits.colorRedMaximum, 255);
            for (std::size_t j = 0; j < kept[s].size(); ++j) {
                const std::size_t i = kept[s][j];
                ASSERT_EQ(block.red[j], src.red[i]);
                ASSERT_EQ(block.blue[j], src.blue[i]);
                ASSERT_EQ(bits(block.intensity[j]), bits(src.intensity[i])) << j;
            }
        }
    }
}

TEST(E57NativeExport, ALargeScanIsWrittenInBlocksOfAMillionWithTheirOwnBounds) {
    TempDir dir;
    TestScan s;
    s.guid = "G";
    const std::size_t n = 2500000;
    for (auto* v : {&s.x, &s.y, &s.z}) v->resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        s.x[i] = static_cast<double>(i) * 0.001;
        s.y[i] = -static_cast<double>(i % 1000);
        s.z[i] = static_cast<double>(i % 7);
    }
    const fs::path in = dir / "in.e57", out = dir / "out.e57";
    testsupport::writeE57Source(in.string(), "{big}", {s});
    const E57Run r = runNative(in, out, Selection{}, true);  // no tiles, no ranges: everything
    ASSERT_TRUE(r.ok) << r.error;

    const testsupport::ReadFile file = testsupport::readE57File(out.string());
    ASSERT_EQ(file.scans.size(), 3u);
    std::vector<std::size_t> every(n);
    for (std::size_t i = 0; i < n; ++i) every[i] = i;
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(file.scans[k].header.guid, "G_s0_p" + std::to_string(k + 1));
        ASSERT_EQ(file.scans[k].x.size(), k < 2 ? 1000000u : 500000u);
        expectBlockPoints(file.scans[k], s, every, k * 1000000);
    }
}

TEST(E57NativeExport, NonFiniteCoordinatesAndIntensitiesAreSkippedAndCounted) {
    TempDir dir;
    TestScan s = gridScan("N", 40, 0.0, 0.0);
    s.hasColour = s.hasIntensity = true;
    s.x[3] = std::numeric_limits<double>::quiet_NaN();
    s.z[5] = INFINITY;
    s.pose.translation.x = 1e308;
    s.x[7] = 1e308;  // finite as stored, infinite in the world
    s.intensity[11] = std::numeric_limits<double>::quiet_NaN();
    const fs::path in = dir / "in.e57", out = dir / "out.e57";
    testsupport::writeE57Source(in.string(), "{nf}", {s});

    const E57Run r = runNative(in, out, Selection{}, true);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(r.console.find(
                  "[E57 EXPORT] scan 0 | skipped_nonfinite_xyz=3 | skipped_nonfinite_intensity=1"),
              std::string::npos)
        << r.console;
    const testsupport::ReadFile file = testsupport::readE57File(out.string());
    ASSERT_EQ(file.scans.size(), 1u);
    EXPECT_EQ(file.scans[0].header.pointCount, 37u);
    // One intensity short of the points: the block goes without intensity, colour stays.
    EXPECT_FALSE(file.scans[0].header.pointFields.intensityField);
    EXPECT_TRUE(file.scans[0].header.pointFields.colorRedField);
}

TEST(E57NativeExport, FieldsTheLibraryWouldRefuseAreLeftOutBeforeTheCall) {
    // libE57Format refuses limits that leave out 0, and a refused call leaves a broken scan entry
    // behind; each block is written once, with the fields that can be written.
    TempDir dir;
    TestScan k = gridScan("K", 30, 0.0, 0.0), l = gridScan("L", 30, 0.0, 0.0);
    k.hasColour = k.hasIntensity = l.hasColour = l.hasIntensity = true;
    // Our writer refuses such limits too, so the source is written with limits holding 0 and
    // its header limits are then edited to what another writer could have stored.
    k.colourMinimum = -1;
    for (auto* v : {&k.red, &k.green, &k.blue})
        for (std::uint16_t& c : *v) c = std::max<std::uint16_t>(c, 10);
    l.intensityMinimum = -0.5;
    l.intensityMaximum = 2.0;
    for (double& v : l.intensity) v += 0.5;
    const fs::path in = dir / "in.e57", out = dir / "out.e57";
    testsupport::writeE57Source(in.string(), "{ladder}", {k, l});
    for (const char* c : {"Red", "Green", "Blue"}) {
        const std::string tag = std::string("color") + c + "Minimum";
        testsupport::patchE57Payload(in.string(), ">-1</" + tag + ">", ">10</" + tag + ">");
    }
    testsupport::patchE57Payload(in.string(), ">-5e-01</intensityMinimum>",
                                 ">5.0e-1</intensityMinimum>");
    testsupport::patchE57Payload(in.string(), "minimum=\"-5e-01\"", "minimum=\"5.0e-1\"");
    {
        const testsupport::ReadFile source = testsupport::readE57File(in.string());
        ASSERT_EQ(source.scans.size(), 2u);
        ASSERT_EQ(source.scans[0].header.colorLimits.colorRedMinimum, 10.0);
        ASSERT_EQ(source.scans[1].header.intensityLimits.intensityMinimum, 0.5);
    }

    const E57Run r = runNative(in, out, Selection{}, true);
    ASSERT_TRUE(r.ok) << r.error;
    const testsupport::ReadFile file = testsupport::readE57File(out.string());
    ASSERT_EQ(file.scans.size(), 2u);
    const e57::PointStandardizedFieldsAvailable& kf = file.scans[0].header.pointFields;
    EXPECT_FALSE(kf.colorRedField || kf.intensityField);
    const e57::PointStandardizedFieldsAvailable& lf = file.scans[1].header.pointFields;
    EXPECT_TRUE(lf.colorRedField && lf.colorGreenField && lf.colorBlueField);
    EXPECT_FALSE(lf.intensityField);
    EXPECT_EQ(file.scans[1].red, l.red);
}

TEST(E57NativeExport, SphericalScansBesideCartesianOnesAreConvertedNotDropped) {
    TempDir dir;
    TestScan cart = gridScan("C", 200, 3.0, 3.0), sph = gridScan("S", 300, 2.0, -6.0);
    sph.cartesian = false;
    sph.hasColour = true;
    sph.pose.translation = {100.0, 200.0, 3.0};
    const fs::path in = dir / "in.e57", out = dir / "out.e57";
    testsupport::writeE57Source(in.string(), "{mixed}", {cart, sph});

    const E57Run r = runNative(in, out, Selection{}, true);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.method, "libE57");
    const testsupport::ReadFile file = testsupport::readE57File(out.string());
    ASSERT_EQ(file.scans.size(), 2u);
    EXPECT_EQ(file.scans[0].header.pointCount, 200u);
    const ReadScan& block = file.scans[1];
    EXPECT_EQ(block.header.guid, "S_s1_p1");
    EXPECT_EQ(block.header.pose, sph.pose);
    EXPECT_EQ(block.red, sph.red);
    const testsupport::SphericalScan stored = testsupport::readSphericalScan(in.string(), 1);
    ASSERT_EQ(block.x.size(), stored.x.size());
    for (std::size_t i = 0; i < block.x.size(); ++i) {
        ASSERT_EQ(bits(block.x[i]), bits(stored.x[i]));
        ASSERT_EQ(bits(block.y[i]), bits(stored.y[i]));
        ASSERT_EQ(bits(block.z[i]), bits(stored.z[i]));
    }
}

TEST(E57NativeExport, FailuresReturnTheirMessage) {
    TempDir dir;
    TestScan s = gridScan("W", 60000, 0.0, 0.0);
    s.hasColour = true;
    const fs::path in = dir / "in.e57", status = dir / "w.status.ini";
    testsupport::writeE57Source(in.string(), "{w}", {s});
    {
        SCOPED_TRACE("a selection that keeps nothing of a Cartesian file");
        Selection nowhere;
        nowhere.tiles.insert({100000, 100000});
        const fs::path out = dir / "none.e57";
        const E57Run r = runNative(in, out, nowhere, true);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error,
                  "Export selection produced zero output points. Check tile indices / coarse "
                  "tile size / selection mode.");
        EXPECT_FALSE(fs::exists(out));
        EXPECT_EQ(r.console.find("[E57 PDAL STREAM]"), std::string::npos);
    }
    {
        SCOPED_TRACE("a FIFO as input: the old output goes before the refusal");
        const fs::path fifo = dir / "fifo.e57", out = dir / "old.e57";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        testsupport::writeFile(out, "an earlier export");
        const E57Run r = runNative(fifo, out, Selection{}, true);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "E57 input is not a regular file: " + fifo.string());
        EXPECT_FALSE(fs::exists(out));
    }
    {
        SCOPED_TRACE("the output is the input");
        const std::string bytes = testsupport::readFile(in);
        EXPECT_FALSE(runNative(in, in, Selection{}, true).ok);
        EXPECT_EQ(testsupport::readFile(in), bytes);
    }
    {
        SCOPED_TRACE("a block the file cannot take");
        const fs::path out = dir / "out.e57";
        E57Run r;
        {
            const testsupport::FileSizeLimit limit(64 * 1024);
            r = runNative(in, out, Selection{}, true, &status);
        }
        EXPECT_FALSE(r.ok);
        const std::string report =
            "WriteData3DData failed for scan 0 | output=" + out.string() +
            " | srcGuid=W | part=1 | keptPoints=60000 | sourcePointCount=60000 | "
            "selectedTiles=0 | selectedHeightRanges=0 | sourceFields: cartesian=(1,1,1) "
            "rgb=(1,1,1) intensity=0 row=0 col=0 | triedFields: xyz=1 rgb=1 "
            "intensity=0 time=0 row=0 col=0 | what=E57 exception after fallback ladder";
        // The system's reason follows the route's own text.
        EXPECT_EQ(r.error, report + " | File too large");
        const exporttest::StatusSeen seen = exporttest::readStatus(status);
        EXPECT_EQ(seen.state, "Failed");
        EXPECT_EQ(seen.message, report);
        EXPECT_FALSE(fs::exists(out));
        EXPECT_TRUE(exporttest::unfinishedFiles(dir.path()).empty());
    }
}
