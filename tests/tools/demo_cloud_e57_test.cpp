#include "demo_cloud/demo_cloud.h"

#include "support/e57_columns.h"
#include "support/e57_test_files.h"
#include "support/test_support.h"

#include <E57SimpleReader.h>
#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

using namespace democloud;
using testsupport::readFile;
using testsupport::TempDir;

namespace {

struct E57Cloud {
    std::vector<double> x, y, z;
    std::vector<unsigned> red, green, blue;
    std::vector<std::size_t> scanPoints;
    std::vector<std::string> guids;
    std::vector<e57::CartesianBounds> bounds;
    bool intensity = false;
};

E57Cloud readE57(const std::string& path) {
    E57Cloud c;
    e57::Reader reader(path, e57::ReaderOptions{});
    for (std::int64_t s = 0; s < reader.GetData3DCount(); ++s) {
        e57::Data3D h;
        EXPECT_TRUE(reader.ReadData3D(s, h));
        c.scanPoints.push_back(h.pointCount);
        c.guids.push_back(h.guid);
        c.bounds.push_back(h.cartesianBounds);
        c.intensity = c.intensity || h.pointFields.intensityField;
        EXPECT_TRUE(h.pointFields.colorRedField && h.pointFields.colorGreenField &&
                    h.pointFields.colorBlueField);
        EXPECT_EQ(h.colorLimits.colorRedMaximum, 255.0);
        const std::size_t chunk = 10000;
        testsupport::E57Columns got(chunk);
        auto cv = reader.SetUpData3DPointsData(s, chunk, got.buffers(false, true));
        while (const unsigned n = cv.read()) {
            c.x.insert(c.x.end(), got.x.begin(), got.x.begin() + n);
            c.y.insert(c.y.end(), got.y.begin(), got.y.begin() + n);
            c.z.insert(c.z.end(), got.z.begin(), got.z.begin() + n);
            c.red.insert(c.red.end(), got.red.begin(), got.red.begin() + n);
            c.green.insert(c.green.end(), got.green.begin(), got.green.begin() + n);
            c.blue.insert(c.blue.end(), got.blue.begin(), got.blue.begin() + n);
        }
        cv.close();
    }
    reader.Close();
    return c;
}

template <typename T>
T number(std::string_view token) {
    T value{};
    std::from_chars(token.data(), token.data() + token.size(), value);
    return value;
}

}  // namespace

// Scans of one block each, so the cloud crosses scan and block boundaries and the generator's
// double buffer is used; the xyz6 file of the same seed is the reference for every value.
TEST(DemoCloudE57, HoldsTheSamePointsAsTheXyzFileScanByScan) {
    TempDir dir;
    const std::uint64_t n = 70000;
    const std::string e57Path = (dir / "site.e57").string();
    const DemoCloudStats stats = writeDemoE57(e57Path, n, 5, 2, 1);
    DemoCloudStats xyzStats;
    std::string error;
    ASSERT_TRUE(
        writeDemoCloud((dir / "site.xyz").string(), DemoFormat::Xyz6, n, 5, &xyzStats, &error))
        << error;

    const E57Cloud c = readE57(e57Path);
    EXPECT_EQ(c.scanPoints, (std::vector<std::size_t>{32768, 32768, 4464}));
    EXPECT_EQ(c.guids, (std::vector<std::string>{"{demo-site-5-scan-0}", "{demo-site-5-scan-1}",
                                                 "{demo-site-5-scan-2}"}));
    EXPECT_FALSE(c.intensity);
    EXPECT_EQ(stats.points, n);
    EXPECT_EQ(stats.bytes, std::filesystem::file_size(e57Path));
    EXPECT_EQ(stats.minX, xyzStats.minX);
    EXPECT_EQ(stats.maxY, xyzStats.maxY);
    EXPECT_EQ(stats.minZ, xyzStats.minZ);
    ASSERT_EQ(c.x.size(), n);

    const std::string text = readFile(dir / "site.xyz");
    std::string_view rest = text;
    std::size_t mismatches = 0;
    double scanMinX = 1e300, scanMaxZ = -1e300;
    std::size_t scan = 0, inScan = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl + 1);
        std::string_view t[6];
        for (auto& token : t) {
            const auto sp = line.find(' ');
            token = line.substr(0, sp);
            line = sp == std::string_view::npos ? std::string_view() : line.substr(sp + 1);
        }
        // Bit for bit what a reader of the text gets.
        if (c.x[i] != number<double>(t[0]) || c.y[i] != number<double>(t[1]) ||
            c.z[i] != number<double>(t[2]) || c.red[i] != number<unsigned>(t[3]) ||
            c.green[i] != number<unsigned>(t[4]) || c.blue[i] != number<unsigned>(t[5]))
            ++mismatches;
        scanMinX = std::min(scanMinX, c.x[i]);
        scanMaxZ = std::max(scanMaxZ, c.z[i]);
        if (++inScan == c.scanPoints[scan]) {
            EXPECT_EQ(c.bounds[scan].xMinimum, scanMinX) << "scan " << scan;
            EXPECT_EQ(c.bounds[scan].zMaximum, scanMaxZ) << "scan " << scan;
            scanMinX = 1e300, scanMaxZ = -1e300;
            ++scan, inScan = 0;
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(DemoCloudE57, SameFileWhateverTheThreadCountAndNothingLeftOnFailure) {
    TempDir dir;
    DemoFormat format = DemoFormat::Xyz3;
    ASSERT_TRUE(parseDemoFormat("e57rgb", format));
    EXPECT_EQ(format, DemoFormat::E57Rgb);
    EXPECT_FALSE(isLasFormat(format));

    writeDemoE57((dir / "one.e57").string(), 100003, 42, 1, 1);
    writeDemoE57((dir / "three.e57").string(), 100003, 42, 3, 1);
    writeDemoE57((dir / "other.e57").string(), 100003, 43, 3, 1);
    EXPECT_EQ(readFile(dir / "one.e57"), readFile(dir / "three.e57"));
    EXPECT_NE(readFile(dir / "one.e57"), readFile(dir / "other.e57"));

    DemoCloudStats stats;
    std::string error;
    ASSERT_TRUE(
        writeDemoCloud((dir / "whole.e57").string(), DemoFormat::E57Rgb, 1000, 42, &stats, &error))
        << error;
    EXPECT_EQ(stats.points, 1000u);
    EXPECT_EQ(readE57((dir / "whole.e57").string()).scanPoints, std::vector<std::size_t>{1000});

    const std::string nowhere = (dir / "missing" / "x.e57").string();
    EXPECT_FALSE(writeDemoCloud(nowhere, DemoFormat::E57Rgb, 1000, 1, nullptr, &error));
    EXPECT_NE(error.find("x.e57.partial"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(nowhere + ".partial"));
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".partial") << entry.path();
}

// The posed formats: the same site through each scan's pose, a photo tied to every scan, and the
// spherical file the same scans as range and angles.
TEST(DemoCloudE57, PosedScansHoldTheSiteInTheirStationFrames) {
    TempDir dir;
    const std::uint64_t n = 8 * kBlockPoints - 5000;  // eight scans, the last one shorter
    writeDemoE57((dir / "plain.e57").string(), n, 9, 2, 1);
    writeDemoE57((dir / "posed.e57").string(), n, 9, 2, 1, DemoFormat::E57Scans);
    writeDemoE57((dir / "spherical.e57").string(), n, 9, 2, 1, DemoFormat::E57Spherical);
    const E57Cloud plain = readE57((dir / "plain.e57").string());
    const testsupport::ReadFile posed = testsupport::readE57File((dir / "posed.e57").string());
    const testsupport::ReadFile spherical =
        testsupport::readE57File((dir / "spherical.e57").string());

    ASSERT_EQ(posed.scans.size(), kE57Stations);
    ASSERT_EQ(posed.images.size(), kE57Stations);
    ASSERT_EQ(spherical.scans.size(), kE57Stations);
    std::size_t i = 0;
    double worst = 0;
    for (std::size_t s = 0; s < posed.scans.size(); ++s) {
        const testsupport::ReadScan& scan = posed.scans[s];
        EXPECT_EQ(posed.images[s].header.associatedData3DGuid, scan.header.guid);
        EXPECT_EQ(posed.images[s].blob.size(), 2048u);
        EXPECT_NE(scan.header.pose.rotation.z, 0.0);
        EXPECT_EQ(scan.intensity.size(), scan.x.size());
        EXPECT_FALSE(spherical.scans[s].header.pointFields.cartesianXField);
        EXPECT_TRUE(spherical.scans[s].header.pointFields.sphericalRangeField);
        EXPECT_EQ(spherical.scans[s].header.pointCount, scan.header.pointCount);
        for (std::size_t k = 0; k < scan.x.size(); ++k, ++i) {
            const auto w =
                testsupport::worldPoint(scan.header.pose, scan.x[k], scan.y[k], scan.z[k]);
            worst = std::max({worst, std::fabs(w[0] - plain.x[i]), std::fabs(w[1] - plain.y[i]),
                              std::fabs(w[2] - plain.z[i])});
            ASSERT_EQ(scan.red[k], plain.red[i]);
        }
    }
    EXPECT_EQ(i, n);
    EXPECT_LT(worst, 1e-6);
}
