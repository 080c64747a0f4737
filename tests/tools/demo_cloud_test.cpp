#include "demo_cloud/demo_cloud.h"

#include "points/input/las_reader.h"
#include "points/input/xyz_ascii_reader.h"
#include "points/input/xyz_line_grammar.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

using namespace democloud;
using testsupport::readFile;
using testsupport::TempDir;

namespace {

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto nl = text.find('\n');
        lines.push_back(text.substr(0, nl));
        text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    }
    return lines;
}

std::vector<std::string_view> tokens(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
    }
    return out;
}

long long wholeNumber(std::string_view token) {
    long long value = -1;
    const auto r = std::from_chars(token.data(), token.data() + token.size(), value);
    return r.ec == std::errc() && r.ptr == token.data() + token.size() ? value : -1;
}

std::uint64_t le(const std::string& bytes, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

double leF64(const std::string& bytes, std::size_t at) {
    return std::bit_cast<double>(le(bytes, at, 8));
}

std::string write(const TempDir& dir, const std::string& name, DemoFormat format,
                  std::uint64_t count, std::uint64_t seed, DemoCloudStats* stats = nullptr,
                  unsigned threads = 0) {
    std::string error;
    const std::string path = (dir / name).string();
    EXPECT_TRUE(writeDemoCloud(path, format, count, seed, stats, &error, threads)) << error;
    return readFile(path);
}

}  // namespace

TEST(DemoCloud, XyzVariantsHaveTheirTokensAndStayOnTheSite) {
    TempDir dir;
    const std::uint64_t n = 70000;  // more than two blocks
    const struct {
        DemoFormat format;
        std::size_t tokens;
    } cases[] = {
        {DemoFormat::Xyz3, 3}, {DemoFormat::Xyz4, 4}, {DemoFormat::Xyz6, 6}, {DemoFormat::Xyz7, 7}};
    for (const auto& c : cases) {
        DemoCloudStats stats;
        const std::string text = write(dir, "v.xyz", c.format, n, 11, &stats);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        const auto lines = splitLines(text);
        ASSERT_EQ(lines.size(), n);
        EXPECT_EQ(stats.points, n);
        EXPECT_EQ(stats.bytes, text.size());
        std::size_t bad = 0;
        for (const auto line : lines) {
            const auto t = tokens(line);
            CloudPoint fields;
            if (t.size() != c.tokens || !parseXyzLine(line, fields)) {
                ++bad;
                continue;
            }
            // Millimetre resolution: three decimals on every coordinate.
            for (int k = 0; k < 3; ++k) {
                const auto dot = t[static_cast<std::size_t>(k)].find('.');
                if (dot == std::string_view::npos ||
                    t[static_cast<std::size_t>(k)].size() - dot != 4)
                    ++bad;
            }
            if (fields.x < 499995.0 || fields.x > 500065.0 || fields.y < 5399995.0 ||
                fields.y > 5400065.0 || fields.z < 100.0 || fields.z > 130.0)
                ++bad;
            if (c.tokens >= 6)
                for (std::size_t k = 3; k < 6; ++k)
                    if (wholeNumber(t[k]) < 0 || wholeNumber(t[k]) > 255) ++bad;
            if (c.tokens == 4 || c.tokens == 7)
                if (wholeNumber(t.back()) < 0 || wholeNumber(t.back()) > 65535) ++bad;
        }
        EXPECT_EQ(bad, 0u) << "format with " << c.tokens << " tokens";
        // The cloud covers the site, not a corner of it.
        EXPECT_GT(stats.maxX - stats.minX, 55000);
        EXPECT_GT(stats.maxY - stats.minY, 55000);
        EXPECT_GT(stats.maxZ - stats.minZ, 10000);
    }
}

TEST(DemoCloud, SameSeedSameFileWhateverTheThreadCount) {
    TempDir dir;
    const std::uint64_t n = 100003;
    const std::string one = write(dir, "a.xyz", DemoFormat::XyzMixed, n, 42, nullptr, 1);
    const std::string three = write(dir, "b.xyz", DemoFormat::XyzMixed, n, 42, nullptr, 3);
    const std::string other = write(dir, "c.xyz", DemoFormat::XyzMixed, n, 43, nullptr, 3);
    EXPECT_EQ(one, three);
    EXPECT_NE(one, other);
    EXPECT_EQ(write(dir, "a.las", DemoFormat::Las14Format6, n, 42, nullptr, 1),
              write(dir, "b.las", DemoFormat::Las14Format6, n, 42, nullptr, 4));
    // No ".partial" file is left beside the outputs.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".partial") << entry.path();
}

TEST(DemoCloud, EveryFormatCarriesTheSamePoints) {
    TempDir dir;
    const std::uint64_t n = 40000;
    const std::string text3 = write(dir, "p3.xyz", DemoFormat::Xyz3, n, 5);
    const std::string text7 = write(dir, "p7.xyz", DemoFormat::Xyz7, n, 5);
    const auto xyz3 = splitLines(text3);
    const auto xyz7 = splitLines(text7);
    const std::string las2 = write(dir, "p2.las", DemoFormat::Las12Format2, n, 5);
    const std::string las6 = write(dir, "p6.las", DemoFormat::Las14Format6, n, 5);
    ASSERT_EQ(xyz7.size(), n);
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < n; i += 997) {
        const auto t7 = tokens(xyz7[i]);
        if (tokens(xyz3[i]) != std::vector<std::string_view>(t7.begin(), t7.begin() + 3))
            ++mismatches;
        CloudPoint p;
        ASSERT_TRUE(parseXyzLine(xyz7[i], p));
        const std::size_t r2 = 227 + i * 26;
        const std::size_t r6 = 375 + i * 30;
        const auto stored = [](const std::string& b, std::size_t at) {
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(le(b, at, 4)));
        };
        if (std::llround((p.x - kOriginX) * 1000.0) != stored(las2, r2) ||
            std::llround((p.y - kOriginY) * 1000.0) != stored(las2, r2 + 4) ||
            std::llround((p.z - kOriginZ) * 1000.0) != stored(las2, r2 + 8))
            ++mismatches;
        if (le(las2, r2, 12) != le(las6, r6, 12))
            ++mismatches;  // X, Y, Z the same in both LAS files
        if (p.intensity != static_cast<double>(le(las2, r2 + 12, 2))) ++mismatches;
        if (p.red * 257u != le(las2, r2 + 20, 2) || p.green * 257u != le(las2, r2 + 22, 2) ||
            p.blue * 257u != le(las2, r2 + 24, 2))
            ++mismatches;
    }
    EXPECT_EQ(mismatches, 0u);
}

TEST(DemoCloud, MixedFileHoldsEveryVariantAndCountedBadLines) {
    TempDir dir;
    const std::uint64_t n = 50000;
    DemoCloudStats stats;
    const std::string text = write(dir, "mixed.xyz", DemoFormat::XyzMixed, n, 9, &stats);
    const auto lines = splitLines(text);
    ASSERT_EQ(lines.size(), n + stats.badLines);
    EXPECT_EQ(std::string(lines[0]) + "\n", kMixedHeaderLine);
    std::set<std::size_t> variants;
    std::uint64_t good = 0;
    std::uint64_t bad = 0;
    bool sawTab = false;
    bool sawCr = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        CloudPoint p;
        if (parseXyzLine(lines[i], p)) {
            ++good;
            variants.insert(tokens(lines[i]).size());
        } else {
            ++bad;
            // Bad lines sit at the header and every 1000th physical line, nowhere else.
            EXPECT_TRUE(i == 0 || (i + 1) % 1000 == 0) << "line " << i + 1 << ": " << lines[i];
        }
        sawTab = sawTab || lines[i].find('\t') != std::string_view::npos;
        sawCr = sawCr || (!lines[i].empty() && lines[i].back() == '\r');
    }
    EXPECT_EQ(good, n);
    EXPECT_EQ(bad, stats.badLines);
    EXPECT_EQ(bad, 1 + (n + 1 + bad - 1) / 1000);
    EXPECT_EQ(variants, (std::set<std::size_t>{3, 4, 6, 7}));
    EXPECT_TRUE(sawTab);
    EXPECT_TRUE(sawCr);

    // The project's reader sees the same points, bad lines and bounds.
    XyzAsciiPointReader reader(1.0);
    std::string error;
    ASSERT_TRUE(reader.open((dir / "mixed.xyz").string(), &error)) << error;
    CloudPoint p;
    while (reader.readNext(p, &error)) {
    }
    EXPECT_EQ(error, "");
    EXPECT_EQ(reader.acceptedPoints(), n);
    EXPECT_EQ(reader.badLines(), stats.badLines);
    const PointReaderSummary s = reader.summary();
    EXPECT_DOUBLE_EQ(s.minX, kOriginX + stats.minX * 0.001);
    EXPECT_DOUBLE_EQ(s.maxZ, kOriginZ + stats.maxZ * 0.001);
}

TEST(DemoCloud, LasHeadersMatchTheirRecords) {
    TempDir dir;
    const std::uint64_t n = 33000;
    const struct {
        DemoFormat format;
        unsigned minor, headerSize, pointFormat, recordLength;
    } cases[] = {{DemoFormat::Las12Format0, 2, 227, 0, 20},
                 {DemoFormat::Las12Format2, 2, 227, 2, 26},
                 {DemoFormat::Las14Format6, 4, 375, 6, 30}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pointFormat);
        const std::string b = write(dir, "h.las", c.format, n, 3);
        ASSERT_EQ(b.size(), c.headerSize + n * c.recordLength);
        EXPECT_EQ(b.substr(0, 4), "LASF");
        EXPECT_EQ(le(b, 24, 1), 1u);
        EXPECT_EQ(le(b, 25, 1), c.minor);
        EXPECT_EQ(le(b, 94, 2), c.headerSize);
        EXPECT_EQ(le(b, 96, 4), c.headerSize);
        EXPECT_EQ(le(b, 100, 4), 0u);
        EXPECT_EQ(le(b, 104, 1), c.pointFormat);
        EXPECT_EQ(le(b, 105, 2), c.recordLength);
        const std::uint64_t legacy = c.minor < 4 ? n : 0;
        EXPECT_EQ(le(b, 107, 4), legacy);
        EXPECT_EQ(le(b, 111, 4), legacy);
        for (std::size_t at = 131; at < 155; at += 8) EXPECT_EQ(leF64(b, at), 0.001);
        EXPECT_EQ(leF64(b, 155), kOriginX);
        EXPECT_EQ(leF64(b, 163), kOriginY);
        EXPECT_EQ(leF64(b, 171), kOriginZ);
        if (c.minor >= 4) {
            EXPECT_EQ(le(b, 227, 8), 0u);
            EXPECT_EQ(le(b, 235, 8), 0u);
            EXPECT_EQ(le(b, 243, 4), 0u);
            EXPECT_EQ(le(b, 247, 8), n);
            EXPECT_EQ(le(b, 255, 8), n);
            EXPECT_EQ(le(b, 263, 8), 0u);
        }
        // Bounds in the header are those of the records.
        std::int32_t lo[3] = {INT32_MAX, INT32_MAX, INT32_MAX};
        std::int32_t hi[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
        std::set<unsigned> classes;
        std::size_t badReturns = 0;
        for (std::uint64_t i = 0; i < n; ++i) {
            const std::size_t r = c.headerSize + i * c.recordLength;
            for (int a = 0; a < 3; ++a) {
                const auto v = static_cast<std::int32_t>(
                    static_cast<std::uint32_t>(le(b, r + 4 * static_cast<std::size_t>(a), 4)));
                lo[a] = std::min(lo[a], v);
                hi[a] = std::max(hi[a], v);
            }
            if (le(b, r + 14, 1) != (c.pointFormat == 6 ? 0x11u : 0x09u)) ++badReturns;
            classes.insert(static_cast<unsigned>(le(b, r + (c.pointFormat == 6 ? 16 : 15), 1)));
            if (c.pointFormat == 2 && le(b, r + 20, 2) % 257 != 0) ++badReturns;
        }
        EXPECT_EQ(badReturns, 0u);
        EXPECT_EQ(classes, (std::set<unsigned>{kClassGround, kClassVegetation, kClassBuilding,
                                               kClassNoise}));
        const double origin[3] = {kOriginX, kOriginY, kOriginZ};
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(leF64(b, 179 + 16 * static_cast<std::size_t>(a)), origin[a] + hi[a] * 0.001)
                << "max axis " << a;
            EXPECT_EQ(leF64(b, 187 + 16 * static_cast<std::size_t>(a)), origin[a] + lo[a] * 0.001)
                << "min axis " << a;
        }
        // The project's LAS reader takes the file as written.
        LasBinaryPointReader reader;
        std::string error;
        ASSERT_TRUE(reader.open((dir / "h.las").string(), &error)) << error;
        EXPECT_EQ(reader.pointCount(), n);
        EXPECT_EQ(reader.hasRGB(), c.pointFormat == 2);
        CloudPoint p;
        std::uint64_t read = 0;
        double minZ = 1e300;
        while (reader.readNext(p, &error)) {
            ++read;
            minZ = std::min(minZ, p.z);
        }
        EXPECT_EQ(error, "");
        EXPECT_EQ(read, n);
        EXPECT_NEAR(minZ, leF64(b, 219), 1e-9);
    }
}

TEST(DemoCloud, RefusesWhatItCannotWrite) {
    TempDir dir;
    DemoFormat format = DemoFormat::Xyz3;
    EXPECT_TRUE(parseDemoFormat("las14-6", format));
    EXPECT_EQ(format, DemoFormat::Las14Format6);
    EXPECT_FALSE(parseDemoFormat("xyz5", format));
    EXPECT_FALSE(parseDemoFormat("LAS12-0", format));

    std::string error;
    const std::string big = (dir / "big.las").string();
    EXPECT_FALSE(
        writeDemoCloud(big, DemoFormat::Las12Format2, std::uint64_t{1} << 32, 1, nullptr, &error));
    EXPECT_NE(error.find("LAS 1.2"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(big));

    const std::string nowhere = (dir / "missing" / "x.xyz").string();
    EXPECT_FALSE(writeDemoCloud(nowhere, DemoFormat::Xyz3, 10, 1, nullptr, &error));
    EXPECT_NE(error.find("cannot create"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));

    // A rerun replaces an existing file whole.
    testsupport::writeFile(dir / "old.xyz", std::string(1000000, 'x'));
    DemoCloudStats stats;
    ASSERT_TRUE(writeDemoCloud((dir / "old.xyz").string(), DemoFormat::Xyz3, 5, 1, &stats, &error))
        << error;
    EXPECT_EQ(std::filesystem::file_size(dir / "old.xyz"), stats.bytes);
    EXPECT_EQ(stats.bytes, 5u * 31u);
}
