#include "export/las_binary_export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <utility>
#include <vector>

#include "export/export_test_util.h"
#include "export/output_file.h"
#include "points/input/las_test_file.h"
#include "points/selection/selection.h"

namespace fs = std::filesystem;
using exporttest::at;
using exporttest::failureOf;
using exporttest::jobWithTiles;
using exporttest::LasBack;
using exporttest::readLasBack;
using exporttest::runRoute;
using lastest::LasTestHeader;
using lastest::makeLasFile;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

using Ranges = std::vector<std::pair<std::size_t, std::size_t>>;

// Stands in for VLR or header bytes the route must copy untouched.
void fillPattern(std::string& bytes, std::size_t from, std::size_t to, int seed) {
    for (std::size_t i = from; i < to; ++i)
        bytes[i] = static_cast<char>((i * 7 + std::size_t(seed)) % 251);
}

void setReturnBytes(std::string& file, const LasTestHeader& h, std::size_t count,
                    const std::vector<std::uint8_t>& v) {
    for (std::size_t i = 0; i < count; ++i)
        file[h.offsetToPointData + i * h.recordLength + 14] = static_cast<char>(v[i % v.size()]);
}

std::vector<std::size_t> firstN(std::size_t n) {
    std::vector<std::size_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = i;
    return v;
}

struct Counts {
    std::array<std::uint64_t, 15> byReturn{};
    std::uint64_t points = 0;
    double bounds[6] = {};  // maxX, minX, maxY, minY, maxZ, minZ as the header stores them
};

// What the header must say about the kept records, worked out apart from the route.
Counts countsOf(const LasBack& d, const std::vector<std::size_t>& kept, unsigned returnMask) {
    Counts c;
    const double inf = std::numeric_limits<double>::infinity();
    double b[6] = {-inf, inf, -inf, inf, -inf, inf};
    for (std::size_t i : kept) {
        ++c.points;
        const unsigned r = static_cast<unsigned char>(d.records[i][14]) & returnMask;
        if (r > 0) ++c.byReturn[r - 1];
        const double v[3] = {d.points[i].x, d.points[i].y, d.points[i].z};
        for (int a = 0; a < 3; ++a) {
            b[2 * a] = std::max(b[2 * a], v[a]);
            b[2 * a + 1] = std::min(b[2 * a + 1], v[a]);
        }
    }
    if (c.points > 0) std::copy(b, b + 6, c.bounds);
    return c;
}

// The patched fields, and every other byte before the points as in the input.
// Point formats 6 to 10 leave the legacy counts zero.
void expectHeader(const std::string& in, const std::string& out, std::uint32_t dataOffset,
                  std::uint16_t headerSize, const Counts& c) {
    const unsigned format = static_cast<unsigned char>(in[104]) & 63U;
    const bool legacy = format < 6 || format > 10;
    EXPECT_EQ(at<std::uint32_t>(out, 107), legacy ? c.points : 0);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(at<std::uint32_t>(out, 111 + 4 * i), legacy ? c.byReturn[i] : 0) << i + 1;
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(at<double>(out, 179 + 8 * i), c.bounds[i]) << i;
    Ranges patched{{107, 131}, {179, 227}};
    // Past its version's header a file holds its writer's own bytes, copied as they are.
    const unsigned minor = static_cast<unsigned char>(in[25]);
    if (headerSize >= 235 && minor >= 3) {
        EXPECT_EQ(at<std::uint64_t>(out, 227), 0u);  // no waveform data is copied
        patched.push_back({227, 235});
    }
    if (headerSize >= 375 && minor >= 4) {
        EXPECT_EQ(at<std::uint64_t>(out, 235), 0u);  // nor extended VLRs after the points
        EXPECT_EQ(at<std::uint32_t>(out, 243), 0u);
        EXPECT_EQ(at<std::uint64_t>(out, 247), c.points);
        for (std::size_t i = 0; i < 15; ++i)
            EXPECT_EQ(at<std::uint64_t>(out, 255 + 8 * i), c.byReturn[i]) << i + 1;
        patched.push_back({235, 375});
    }
    ASSERT_GE(out.size(), dataOffset);
    for (std::size_t i = 0; i < dataOffset; ++i) {
        const bool inPatched = std::any_of(patched.begin(), patched.end(), [i](const auto& r) {
            return i >= r.first && i < r.second;
        });
        if (!inPatched && in[i] != out[i]) {
            ADD_FAILURE() << "byte " << i << " changed";
            return;
        }
    }
}

// The kept input records, in order and byte for byte, and nothing after them.
void expectRecords(const std::string& out, std::uint32_t dataOffset, const LasBack& d,
                   const std::vector<std::size_t>& kept) {
    std::string bytes;
    for (std::size_t i : kept) bytes += d.records[i];
    ASSERT_EQ(out.size(), dataOffset + bytes.size());
    EXPECT_TRUE(out.compare(dataOffset, std::string::npos, bytes) == 0);
}

}  // namespace

TEST(LasBinaryExport, SharedFilesAreCopiedRecordForRecord) {
    REQUIRE_SHARED_TESTDATA();
    TempDir dir;
    int copied = 0;
    for (const auto& entry : fs::directory_iterator(testsupport::sharedTestData() / "las")) {
        if (entry.path().extension() != ".las") continue;
        const std::string input = entry.path().string();
        SCOPED_TRACE(input);
        LasBinaryPointReader probe;
        std::string error;
        if (!probe.open(input, &error)) {  // the header-only files
            EXPECT_EQ(failureOf(exportLasBinary,
                                jobWithTiles(input, (dir / "refused.las").string(), {{0, 0}})),
                      "Cannot open LAS input for binary export: " + error);
            continue;
        }
        probe.close();
        const LasBack d = readLasBack(input);
        const auto tiles = exporttest::tileBlock(-1, -1, 0, 0);  // tiles of 1e8: the whole file
        const std::string output = (dir / (entry.path().stem().string() + "_cut.las")).string();
        const std::string in = readFile(input);
        const auto r =
            runRoute(exportLasBinary, jobWithTiles(input, output, tiles, 1e8), dir / "status.ini");
        ASSERT_TRUE(r.ok) << r.error;
        ++copied;

        const std::string out = readFile(output);
        const auto all = firstN(d.records.size());
        expectRecords(out, d.offsetToPointData, d, all);
        expectHeader(in, out, d.offsetToPointData, d.headerSize,
                     countsOf(d, all, d.format >= 6 ? 0x0F : 0x07));
        EXPECT_EQ(r.result.inputPoints, d.records.size());
        EXPECT_EQ(r.result.writtenPoints, d.records.size());
        EXPECT_EQ(r.console, "[LAS EXPORT - BINARY] completed | inputPoints=" +
                                 std::to_string(d.records.size()) + " | writtenPoints=" +
                                 std::to_string(d.records.size()) + " | output=" + output + "\n");
        EXPECT_EQ(readFile(input), in);
    }
    EXPECT_GE(copied, 10);
}

TEST(LasBinaryExport, PartialSelectionKeepsExactlyThePassingRecordsInOrder) {
    TempDir dir;
    LasTestHeader h;
    h.formatByte = 1;
    h.recordLength = 28 + 3;  // extra bytes after the standard fields travel along
    h.offsetToPointData = 227 + 54;
    h.legacyCount = 40;
    h.scale[0] = h.scale[1] = h.scale[2] = 0.1;
    h.offset[0] = 1000.0;
    std::vector<lastest::LasTestRecord> records(40);
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i] = {
            static_cast<std::int32_t>(i), 5, static_cast<std::int32_t>(i % 10), 0, 0, 0, 0};
    std::string file = makeLasFile(h, records);
    fillPattern(file, 227, h.offsetToPointData, 3);
    setReturnBytes(file, h, 40,
                   {0x00, 0x01, 0x3A, 0x07, 0x0E, 0xFD, 0x05});  // low 3 bits: 0 1 2 7 6 5 5
    for (std::size_t i = 0; i < 40; ++i)
        file[h.offsetToPointData + i * h.recordLength + 30] = static_cast<char>(i);
    const std::string input = (dir / "in.las").string();
    writeFile(input, file);

    // x = 1000 + i/10 with tile size 1: tile 1000 whole, tile 1002 only for z from 0.3 to 0.6.
    ExportJob job = jobWithTiles(input, (dir / "sub" / "out.las").string(), {});
    job.savedTileSelections.push_back(SavedTileSelection{{{1000, 0}}});
    job.selectedHeightRanges.push_back(
        SelectedHeightRange{{{1002, 0}}, 0.65, 0.25});  // reversed on purpose
    const auto r = runRoute(exportLasBinary, job, dir / "status.ini");
    ASSERT_TRUE(r.ok) << r.error;

    std::vector<std::size_t> kept = firstN(10);
    for (std::size_t i = 23; i <= 26; ++i) kept.push_back(i);
    const LasBack d = readLasBack(input);
    const std::string out = readFile(job.outputE57Path);
    expectRecords(out, h.offsetToPointData, d, kept);
    const Counts c = countsOf(d, kept, 0x07);
    EXPECT_EQ(c.byReturn[0], 2u);  // the kept records do exercise returns 0, 6 and 7
    EXPECT_EQ(c.byReturn[5], 2u);
    EXPECT_EQ(c.byReturn[6], 2u);
    expectHeader(file, out, h.offsetToPointData, 227, c);
    EXPECT_EQ(r.result.writtenPoints, kept.size());
    EXPECT_EQ(r.result.inputPoints, 40u);
    EXPECT_EQ(exporttest::readStatus(dir / "status.ini").message, "LAS binary export started.");

    // No selected point: a failure that leaves no file, not a header-only LAS.
    job = jobWithTiles(input, job.outputE57Path, {{50, 50}});
    EXPECT_EQ(failureOf(exportLasBinary, job), "LAS binary export produced zero output points.");
    EXPECT_FALSE(fs::exists(job.outputE57Path));
}

// LAS 1.3 gets only its waveform field cleared (an early 1.3 header without it keeps the bytes
// after it); LAS 1.4 gets its 64-bit counts and loses its
// extended VLRs after the points. Formats 6 and up have 4-bit return numbers.
TEST(LasBinaryExport, NewerHeaders) {
    TempDir dir;
    const struct {
        std::uint8_t minor, format;
        std::uint16_t headerSize, recordLength;
        std::size_t topReturn;  // a return number the kept records reach
    } cases[] = {{3, 0, 235, 20, 7}, {3, 0, 227, 20, 7}, {4, 6, 375, 30, 15},
                 {4, 1, 375, 28, 7}, {2, 1, 375, 28, 7}, {3, 0, 375, 20, 7}};
    for (const auto& k : cases) {
        SCOPED_TRACE(static_cast<int>(k.minor) * 100 + k.format);
        LasTestHeader h;
        h.versionMinor = k.minor;
        h.headerSize = k.headerSize;
        h.offsetToPointData = k.headerSize + 90u;
        h.formatByte = k.format;
        h.recordLength = k.recordLength;
        h.legacyCount = k.format >= 6 ? 0 : 12;
        h.wideCount = k.minor == 4 ? 12 : 0;
        std::string file = makeLasFile(h, lastest::numberedRecords(12));
        fillPattern(file, k.headerSize, h.offsetToPointData, 5);
        setReturnBytes(file, h, 12, {0x0F, 0x08, 0x12, 0x0E, 0x00, 0x01});
        if (k.minor == 4) {  // one extended VLR after the points, announced in the header
            const std::uint64_t evlrStart = file.size();
            const std::uint32_t evlrCount = 1;
            file += std::string(60, '\x5A');
            std::memcpy(file.data() + 235, &evlrStart, 8);
            std::memcpy(file.data() + 243, &evlrCount, 4);
            std::memcpy(file.data() + 227, &evlrStart, 8);
        } else {
            std::memcpy(file.data() + 227, "waveform", 8);
        }
        const std::string input = (dir / "in.las").string();
        writeFile(input, file);

        // x = i/100, y = 2i/100 in tiles of 0.095: records 0..9 lie in tiles (0, 0..1).
        const std::string output = (dir / "out.las").string();
        const auto r = runRoute(
            exportLasBinary, jobWithTiles(input, output, exporttest::tileBlock(0, 0, 0, 1), 0.095));
        ASSERT_TRUE(r.ok) << r.error;
        const std::string out = readFile(output);
        const LasBack d = readLasBack(input);
        const auto kept = firstN(10);
        expectRecords(out, h.offsetToPointData, d, kept);
        const Counts c = countsOf(d, kept, k.format >= 6 ? 0x0F : 0x07);
        EXPECT_EQ(c.byReturn[k.topReturn - 1], 2u);
        expectHeader(file, out, h.offsetToPointData, k.headerSize, c);
        EXPECT_EQ(readLasBack(output).points.size(), 10u);
    }
}

// A LAS 1.4 reader of its own, apart from the route's header layout: format, legacy count and
// legacy by-return counts, 64-bit count.
struct Las14Counts {
    unsigned format = 0;
    std::uint32_t legacy[6] = {};  // count, then returns 1 to 5
    std::uint64_t count = 0;
};

Las14Counts readLas14Counts(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char h[375] = {};
    in.read(reinterpret_cast<char*>(h), sizeof h);
    EXPECT_EQ(in.gcount(), 375) << path;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(h), 4), "LASF");
    EXPECT_EQ(h[24] * 10 + h[25], 14);
    Las14Counts c;
    c.format = h[104] & 63U;
    for (int i = 0; i < 6; ++i)
        for (int b = 3; b >= 0; --b) c.legacy[i] = (c.legacy[i] << 8) | h[107 + 4 * i + b];
    for (int b = 7; b >= 0; --b) c.count = (c.count << 8) | h[247 + b];
    return c;
}

TEST(LasBinaryExport, Las14PointFormatsSixToTenWriteZeroLegacyCounts) {
    TempDir dir;
    std::vector<std::pair<std::string, std::uint64_t>> inputs;  // path, points kept
    for (std::uint8_t format : {6, 1}) {
        LasTestHeader h;
        h.versionMinor = 4;
        h.headerSize = 375;
        h.offsetToPointData = 375;
        h.formatByte = format;
        h.recordLength = format == 6 ? 30 : 28;
        h.legacyCount = 12;  // as some writers leave it, also for format 6
        h.wideCount = 12;
        std::string file = makeLasFile(h, lastest::numberedRecords(12));
        setReturnBytes(file, h, 12, {0x11, 0x12});
        inputs.push_back({(dir / (format == 6 ? "f6.las" : "f1.las")).string(), 12});
        writeFile(inputs.back().first, file);
    }
    const fs::path shared = testsupport::sharedTestData() / "las" / "test1_4.las";
    if (fs::exists(shared)) inputs.push_back({shared.string(), 1000});  // format 6, legacy 1000

    for (const auto& [input, points] : inputs) {
        SCOPED_TRACE(input);
        const std::string output = (dir / "out.las").string();
        const auto r =
            runRoute(exportLasBinary, jobWithTiles(input, output, {TileIndex{0, 0}}, 1e8));
        ASSERT_TRUE(r.ok) << r.error;
        const Las14Counts c = readLas14Counts(output);
        EXPECT_EQ(c.count, points);
        const bool legacy = c.format < 6;
        EXPECT_EQ(c.legacy[0], legacy ? points : 0u);
        EXPECT_EQ(c.legacy[1] + c.legacy[2] + c.legacy[3] + c.legacy[4] + c.legacy[5],
                  legacy ? points : 0u);
    }
}

// Counts past 32 bits, an odd header size, invalid bounds: no field is written past its room.
TEST(LasBinaryExport, HeaderPatchStaysInsideItsBytes) {
    std::array<std::uint64_t, 15> byReturn{};
    for (std::size_t i = 0; i < 15; ++i) byReturn[i] = 100 + i;
    byReturn[2] = 0x100000000ULL;  // too large for the legacy field
    std::vector<std::uint8_t> bytes(400, 0xCC);
    const std::uint16_t headerSize = 240;  // 227 and 235 fit, 243 does not
    std::memcpy(bytes.data() + 94, &headerSize, 2);
    patchLasOutputHeader(bytes, 0x100000005ULL, byReturn, false, -1.5, 2.5, -3.5, 4.5, -5.5, 6.5);
    const std::string b(bytes.begin(), bytes.end());
    ASSERT_EQ(b.size(), 400u);
    EXPECT_EQ(at<std::uint32_t>(b, 107), 0u);  // the count needs 64 bits
    EXPECT_EQ(at<std::uint32_t>(b, 111), 100u);
    EXPECT_EQ(at<std::uint32_t>(b, 119), 0u);
    for (std::size_t i = 179; i < 227; i += 8) EXPECT_EQ(at<double>(b, i), 0.0);
    EXPECT_EQ(at<std::uint64_t>(b, 227), 0u);
    EXPECT_EQ(b.substr(235), std::string(165, '\xCC'));

    std::vector<std::uint8_t> shortHeader(110, 0xCC);  // 107..110 is not whole
    patchLasOutputHeader(shortHeader, 7, byReturn, true, 1, 2, 3, 4, 5, 6);
    EXPECT_EQ(shortHeader, std::vector<std::uint8_t>(110, 0xCC));
}

TEST(LasBinaryExport, FailuresCarryTheirMessages) {
    TempDir dir;
    LasTestHeader h;
    h.offsetToPointData = 227 + 20;
    h.legacyCount = 4;
    std::string file = makeLasFile(h, lastest::numberedRecords(4));
    fillPattern(file, 227, h.offsetToPointData, 9);
    const std::string input = (dir / "in.las").string();
    writeFile(input, file);
    const std::string output = (dir / "out.las").string();
    fs::create_directories(dir / "folder.las");
    writeFile(dir / "big.las", [] {
        LasTestHeader big;  // 1.2 MB of records at (0, 0): more than the output buffers
        big.legacyCount = 60000;
        return makeLasFile(big, std::vector<lastest::LasTestRecord>(60000));
    }());

    const std::string full = (dir / "full").string();
    const bool haveFull = testsupport::makeFullDevice(full);
    const struct {
        std::string input, output;
        std::vector<TileIndex> tiles;
        double tileSize;
        std::string want;
    } cases[] = {
        {input, output, {{0, 0}}, 0.0, "LAS binary export failed: coarse tile size must be > 0."},
        {(dir / "missing.las").string(),
         output,
         {{0, 0}},
         1.0,
         "Cannot open LAS input for binary export: LasBinaryPointReader: cannot open LAS file (No "
         "such file or directory)."},
        {input,
         (dir / "folder.las").string(),
         {{0, 0}},
         1.0,
         "LAS binary export failed: the output path is a folder: " + (dir / "folder.las").string()},
        // A small output fails at the header patch, a larger one at a record.
        {input,
         full,
         {{0, 0}},
         1.0,
         "LAS binary export failed while patching output header. | No space left on device"},
        {(dir / "big.las").string(),
         full,
         {{0, 0}},
         1.0,
         "LAS binary export failed while writing point record. | No space left on device"},
        // Found after the header went out: still nothing at the output path.
        {input, output, {}, 1.0, "LAS binary export failed: no selected tiles or height ranges."},
    };
    for (const auto& c : cases) {
        if (c.output == full && !haveFull) continue;  // no device node of our own
        SCOPED_TRACE(c.want);
        EXPECT_EQ(failureOf(exportLasBinary, jobWithTiles(c.input, c.output, c.tiles, c.tileSize)),
                  c.want);
        EXPECT_FALSE(fs::exists(output));
    }
    EXPECT_TRUE(fs::is_directory(dir / "folder.las"));
}

// The copy decides raw records on a path of its own: it must keep exactly the records the union
// rule keeps, at tile edges on both sides of zero, outside the selection's box, in tiles with
// vertical selections, with tile sizes whose inverse is exact and ones whose inverse is not, and
// with more kept bytes than the output buffer holds.
TEST(LasBinaryExport, KeepsWhatTheUnionRuleKeepsAtTileEdges) {
    TempDir dir;
    const struct {
        double tileSize;
        std::uint16_t recordLength;
    } cases[] = {{0.5, 20}, {0.1, 34}, {0.125, 70}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.tileSize);
        LasTestHeader h;
        h.recordLength = k.recordLength;
        h.scale[0] = h.scale[1] = 0.001;
        h.offset[0] = -2.0;
        h.offset[1] = -1.5;
        std::vector<lastest::LasTestRecord> records(130000);
        std::uint32_t lcg = 12345;
        for (std::size_t i = 0; i < records.size(); ++i) {
            lcg = lcg * 1664525u + 1013904223u;
            // x from -3 to 3 in steps of 1 mm: every tile edge and its neighbours.
            records[i] = {static_cast<std::int32_t>(i % 6000) - 1000,
                          static_cast<std::int32_t>(lcg % 5000) - 1500,
                          static_cast<std::int32_t>(i % 400),
                          0,
                          0,
                          0,
                          0};
        }
        records[17].x = std::numeric_limits<std::int32_t>::min();
        records[18].y = std::numeric_limits<std::int32_t>::max();
        std::string file = makeLasFile(h, records);
        setReturnBytes(file, h, records.size(), {0x01, 0x02, 0x00, 0x0B});
        const std::string input = (dir / "edges.las").string();
        writeFile(input, file);

        // Tiles for x and y from -2.5 to 2.5: a checkerboard kept at any z, and every third
        // other tile for z from 1 to 2.5.
        const auto lo = static_cast<std::int64_t>(std::floor(-2.5 / k.tileSize));
        const auto hi = static_cast<std::int64_t>(std::floor(2.5 / k.tileSize));
        ExportJob job = jobWithTiles(input, (dir / "edges_out.las").string(), {}, k.tileSize);
        SavedTileSelection top;
        SelectedHeightRange vertical{{}, 2.5, 1.0};
        for (std::int64_t ix = lo; ix <= hi; ++ix)
            for (std::int64_t iy = lo; iy <= hi; ++iy) {
                if ((ix + iy) % 2 == 0)
                    top.tiles.push_back({ix, iy});
                else if (ix % 3 == 0)
                    vertical.tiles.push_back({ix, iy});
            }
        job.savedTileSelections.push_back(top);
        job.selectedHeightRanges.push_back(vertical);
        const auto r = runRoute(exportLasBinary, job);
        ASSERT_TRUE(r.ok) << r.error;

        const LasBack d = readLasBack(input);
        const ExportSelectionFilter filter = buildExportSelectionFilter(job);
        std::vector<std::size_t> kept;
        for (std::size_t i = 0; i < d.points.size(); ++i) {
            TileIndex tile;
            if (tryTileIndexFor(d.points[i].x, d.points[i].y, k.tileSize, tile) &&
                isPointSelected(d.points[i], tile, filter))
                kept.push_back(i);
        }
        ASSERT_GT(kept.size() * k.recordLength, OutputFile::kBufferBytes);
        const std::string out = readFile(job.outputE57Path);
        expectRecords(out, h.offsetToPointData, d, kept);
        expectHeader(file, out, h.offsetToPointData, 227, countsOf(d, kept, 0x07));
    }
}

// The report at the 5,000,000th record comes before that record is decided.
TEST(LasBinaryExport, ProgressEveryFiveMillionRecords) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "5,000,000-record input: optimised build only";
#endif
    TempDir dir;
    const fs::path input = dir / "zeros.las";
    LasTestHeader h;
    h.legacyCount = 5000000;
    writeFile(input, makeLasFile(h, {}));
    fs::resize_file(input, 227 + std::uintmax_t{5000000} * 20);
    std::string kept(20, '\0');
    const std::int32_t z = 150;  // 1.5 at scale 0.01: inside the range
    std::memcpy(kept.data() + 8, &z, sizeof z);
    {
        std::fstream f(input, std::ios::binary | std::ios::in | std::ios::out);
        for (const std::streamoff record : {4999998, 4999999}) {
            f.seekp(227 + record * 20);
            f.write(kept.data(), 20);
        }
        ASSERT_TRUE(f.good());
    }
    const fs::path status = dir / "status.ini";
    const fs::path output = dir / "out.las";
    ExportJob job = jobWithTiles(input.string(), output.string(), {{0, 0}});
    job.selectedHeightRanges.push_back(
        SelectedHeightRange{{{0, 0}}, 1.0, 2.0});  // z = 0 is outside
    const auto r = runRoute(exportLasBinary, job, status);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.console,
              "[LAS EXPORT - BINARY] read=5000000 / 5000000 | written=1\n"
              "[LAS EXPORT - BINARY] completed | inputPoints=5000000 | writtenPoints=2 | output=" +
                  output.string() + "\n");
    EXPECT_EQ(exporttest::readStatus(status).message,
              "Exporting 99.9% | read=5M / 5M | written=1 | method=LAS -> LAS full record");
    EXPECT_EQ(readFile(output).substr(227), kept + kept);
}
