#include "export/las_to_e57_export.h"

#include <gtest/gtest.h>

#include <E57SimpleReader.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "export/export_test_util.h"
#include "points/input/las_test_file.h"

namespace fs = std::filesystem;
using exporttest::failureOf;
using exporttest::jobWithTiles;
using exporttest::runRoute;
using lastest::LasTestHeader;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

struct E57Part {
    e57::Data3D header;
    std::vector<double> x, y, z;
    std::vector<std::uint16_t> red, green, blue;
    bool hasColour() const {
        const auto& f = header.pointFields;
        return f.colorRedField && f.colorGreenField && f.colorBlueField;
    }
};

struct E57File {
    std::string guid;
    std::vector<E57Part> parts;
};

E57File readE57(const std::string& path) {
    E57File f;
    e57::Reader reader(path, e57::ReaderOptions{});
    e57::E57Root root;
    EXPECT_TRUE(reader.GetE57Root(root));
    f.guid = root.guid;
    for (std::int64_t i = 0; i < reader.GetData3DCount(); ++i) {
        E57Part part;
        EXPECT_TRUE(reader.ReadData3D(i, part.header));
        const std::size_t n = part.header.pointCount;
        e57::Data3DPointsDouble buffers;
        for (auto [v, slot] : {std::pair{&part.x, &buffers.cartesianX},
                               {&part.y, &buffers.cartesianY},
                               {&part.z, &buffers.cartesianZ}}) {
            v->resize(n);
            *slot = v->data();
        }
        if (part.hasColour()) {
            for (auto [v, slot] : {std::pair{&part.red, &buffers.colorRed},
                                   {&part.green, &buffers.colorGreen},
                                   {&part.blue, &buffers.colorBlue}}) {
                v->resize(n);
                *slot = v->data();
            }
        }
        if (n > 0) {
            e57::CompressedVectorReader points = reader.SetUpData3DPointsData(i, n, buffers);
            EXPECT_EQ(points.read(), n);
            points.close();
        }
        f.parts.push_back(std::move(part));
    }
    reader.Close();
    return f;
}

// Survey-sized coordinates: x = 500000.123 + i, y = 4000000.456, z = 100.001 * (i % 3); format 2
// has colour red = 1000 i, green = i, blue = 255.
std::string surveyLas(std::uint8_t format, std::size_t count) {
    LasTestHeader h;
    h.formatByte = format;
    h.recordLength = format == 2 ? 26 : 28;
    h.legacyCount = static_cast<std::uint32_t>(count);
    h.scale[0] = h.scale[1] = h.scale[2] = 0.001;
    h.offset[0] = 500000.0;
    h.offset[1] = 4000000.0;
    std::vector<lastest::LasTestRecord> records(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = static_cast<std::int32_t>(i);
        records[i] = {123 + 1000 * v,
                      456,
                      100001 * (v % 3),
                      0,
                      static_cast<std::uint16_t>(1000 * v),
                      static_cast<std::uint16_t>(v),
                      255};
    }
    return lastest::makeLasFile(h, records, format == 2 ? 20 : -1);
}

// Format 0 records with x = i, y = i % 1000, z = i % 7 at scale 1, built without a per-record copy.
std::string bigLas(std::size_t count) {
    LasTestHeader h;
    h.legacyCount = static_cast<std::uint32_t>(count);
    h.scale[0] = h.scale[1] = h.scale[2] = 1.0;
    std::string file = lastest::makeLasFile(h, {});
    file.resize(227 + 20 * count);
    char* p = file.data() + 227;
    for (std::size_t i = 0; i < count; ++i, p += 20) {
        const std::int32_t xyz[3] = {static_cast<std::int32_t>(i),
                                     static_cast<std::int32_t>(i % 1000),
                                     static_cast<std::int32_t>(i % 7)};
        std::memcpy(p, xyz, sizeof xyz);
    }
    return file;
}

std::string flushLine(std::size_t part, std::size_t points, bool rgb, bool final) {
    return "[LAS -> E57 EXPORT] flushing part | part=" + std::to_string(part) +
           " | points=" + std::to_string(points) + " | rgb=" + (rgb ? "1" : "0") +
           " | final=" + (final ? "1" : "0") + "\n";
}

std::string completedLine(std::size_t in, std::size_t written, std::size_t parts,
                          const std::string& out) {
    return "[LAS -> E57 EXPORT] completed | inputPoints=" + std::to_string(in) +
           " | writtenPoints=" + std::to_string(written) +
           " | partsWritten=" + std::to_string(parts) + " | output=" + out + "\n";
}

}  // namespace

TEST(LasToE57Export, SelectedPointsKeepTheirExactCoordinatesAndColour) {
    TempDir dir;
    const std::string input = (dir / "survey.las").string();
    writeFile(input, surveyLas(2, 30));
    // Tiles of 10 m: records 0..9, 10..19 and 20..29 fall in x tiles 50000, 50001, 50002.
    const std::string output = (dir / "out" / "survey_cut.e57").string();
    const std::string status = (dir / "status.ini").string();
    const auto r =
        runRoute(exportLasToE57,
                 jobWithTiles(input, output, {{50000, 400000}, {50002, 400000}}, 10.0), status);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.result.inputPoints, 30u);
    EXPECT_EQ(r.result.writtenPoints, 20u);
    EXPECT_EQ(r.console, flushLine(1, 20, true, true) + completedLine(30, 20, 1, output));
    EXPECT_EQ(exporttest::readStatus(status).message, "Exporting 0.0% | method=LAS -> E57");

    const auto las = exporttest::readLasBack(input);
    const E57File f = readE57(output);
    EXPECT_EQ(f.guid, "brindlewick-las-to-e57");
    ASSERT_EQ(f.parts.size(), 1u);
    const E57Part& part = f.parts[0];
    EXPECT_EQ(part.header.guid, "las-to-e57_s0_p1");
    EXPECT_EQ(part.header.pointFields.pointRangeNodeType, e57::NumericalNodeType::Double);
    ASSERT_EQ(part.header.pointCount, 20u);
    ASSERT_TRUE(part.hasColour());
    EXPECT_EQ(part.header.colorLimits.colorRedMinimum, 0.0);
    EXPECT_EQ(part.header.colorLimits.colorRedMaximum, 255.0);
    EXPECT_EQ(part.header.colorLimits.colorBlueMaximum, 255.0);
    for (std::size_t k = 0; k < 20; ++k) {
        SCOPED_TRACE(k);
        const std::size_t i = k < 10 ? k : k + 10;
        EXPECT_EQ(part.x[k], las.points[i].x);  // bit for bit: no 32-bit rounding on the way
        EXPECT_EQ(part.y[k], las.points[i].y);
        EXPECT_EQ(part.z[k], las.points[i].z);
        const std::uint32_t red16 = (1000 * i) & 0xFFFF;  // 8 bits: v < 256 ? v : v >> 8
        EXPECT_EQ(part.red[k], red16 < 256 ? red16 : std::min<std::uint32_t>(red16 >> 8, 255));
        EXPECT_EQ(part.green[k], i);
        EXPECT_EQ(part.blue[k], 255);
    }
    EXPECT_NEAR(part.x[19], 500029.123, 1e-9);
    const auto& b = part.header.cartesianBounds;
    EXPECT_EQ(b.xMinimum, *std::min_element(part.x.begin(), part.x.end()));
    EXPECT_EQ(b.xMaximum, *std::max_element(part.x.begin(), part.x.end()));
    EXPECT_EQ(b.yMinimum, part.y[0]);
    EXPECT_EQ(b.yMaximum, part.y[0]);
    EXPECT_EQ(b.zMinimum, *std::min_element(part.z.begin(), part.z.end()));
    EXPECT_EQ(b.zMaximum, *std::max_element(part.z.begin(), part.z.end()));

    // No colour fields unless asked for and present in the records.
    writeFile(dir / "plain.las", surveyLas(1, 12));
    const struct {
        std::string input;
        bool rgb;
        std::size_t points;
    } cases[] = {{input, false, 20}, {(dir / "plain.las").string(), true, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        ExportJob job = jobWithTiles(c.input, (dir / "c.e57").string(),
                                     exporttest::tileBlock(50000, 400000, 50001, 400000), 10.0);
        job.exportRGB = c.rgb;
        const auto run = runRoute(exportLasToE57, job);
        ASSERT_TRUE(run.ok) << run.error;
        const E57File g = readE57(job.outputE57Path);
        ASSERT_EQ(g.parts.size(), 1u);
        EXPECT_EQ(g.parts[0].header.pointCount, c.points);
        EXPECT_FALSE(g.parts[0].header.pointFields.colorRedField ||
                     g.parts[0].header.pointFields.colorBlueField);
        EXPECT_EQ(g.parts[0].header.colorLimits.colorRedMaximum, 0.0);
        EXPECT_EQ(run.console.rfind(flushLine(1, c.points, false, true), 0), 0u);
    }
}

// Each part decides its colour alone; the route cannot build parts with mixed or broken colour
// buffers below a million points, so those are handed in here.
TEST(LasToE57Export, PartFlushDecidesColourAndResetsThePart) {
    TempDir dir;
    const std::string output = (dir / "parts.e57").string();
    ExportJob job;
    std::vector<double> x, y, z;
    std::vector<std::uint16_t> red, green, blue;
    double bounds[6];
    std::uint64_t partsWritten = 0;
    bool partHasRgb = false;
    e57::Writer writer(output, e57::WriterOptions{"flush-test", ""});
    LasToE57PartContext ctx{x,     partsWritten, bounds, job, partHasRgb, red,
                            green, blue,         y,      z,   writer};
    testing::internal::CaptureStdout();
    // One coloured point colours the part; none does not; out-of-step buffers are not overread.
    for (const auto& [hasRgb, blueCount] : {std::pair{true, 3}, {false, 3}, {true, 2}}) {
        x = {0.5, 1.5, 2.5}, y = x, z = x;
        red = {0, 200, 0}, green = red;
        blue.assign(static_cast<std::size_t>(blueCount), 50);
        partHasRgb = hasRgb;
        std::fill(bounds, bounds + 6, 1.0);
        flushLasToE57Part(ctx, false);
        EXPECT_TRUE(x.empty() && y.empty() && z.empty() && red.empty() && green.empty() &&
                    blue.empty());
        EXPECT_FALSE(partHasRgb);
        EXPECT_EQ(bounds[0], std::numeric_limits<double>::max());
        EXPECT_EQ(bounds[5], -std::numeric_limits<double>::max());
    }
    flushLasToE57Part(ctx, true);  // nothing buffered: nothing written
    EXPECT_EQ(testing::internal::GetCapturedStdout(), flushLine(1, 3, true, false) +
                                                          flushLine(2, 3, false, false) +
                                                          flushLine(3, 3, false, false));
    ASSERT_TRUE(writer.Close());

    const E57File f = readE57(output);
    ASSERT_EQ(f.parts.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(f.parts[i].hasColour(), i == 0) << i;
    EXPECT_EQ(f.parts[0].red, (std::vector<std::uint16_t>{0, 200, 0}));
    EXPECT_EQ(f.parts[0].blue, (std::vector<std::uint16_t>{50, 50, 50}));
    EXPECT_EQ(f.parts[2].x, (std::vector<double>{0.5, 1.5, 2.5}));
}

// One point past a full part is the smallest input that needs two; exactly one full part is
// written as the buffer fills, and the final flush then finds nothing.
TEST(LasToE57Export, LargeSelectionsSplitIntoPartsOfAMillion) {
    TempDir dir;
    const std::string input = (dir / "big.las").string();
    writeFile(input, bigLas(1000001));
    // Tiles of a million metres: records 0..999,999 in x tile 0, record 1,000,000 in x tile 1.
    const struct {
        std::vector<TileIndex> tiles;
        std::vector<std::size_t> sizes;
    } cases[] = {{exporttest::tileBlock(0, 0, 1, 0), {1000000, 1}}, {{{0, 0}}, {1000000}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sizes.size());
        const std::string output = (dir / "out.e57").string();
        const auto r = runRoute(exportLasToE57, jobWithTiles(input, output, c.tiles, 1e6));
        ASSERT_TRUE(r.ok) << r.error;
        std::string console;
        std::size_t written = 0;
        for (std::size_t i = 0; i < c.sizes.size(); ++i) {
            console += flushLine(i + 1, c.sizes[i], false,
                                 i + 1 == c.sizes.size() && c.sizes[i] < 1000000);
            written += c.sizes[i];
        }
        EXPECT_EQ(r.console, console + completedLine(1000001, written, c.sizes.size(), output));
        EXPECT_EQ(r.result.writtenPoints, written);

        const E57File f = readE57(output);
        ASSERT_EQ(f.parts.size(), c.sizes.size());
        double next = 0.0;
        for (std::size_t i = 0; i < f.parts.size(); ++i) {
            const E57Part& part = f.parts[i];
            EXPECT_EQ(part.header.guid, "las-to-e57_s0_p" + std::to_string(i + 1));
            ASSERT_EQ(part.header.pointCount, c.sizes[i]);
            const auto& b = part.header.cartesianBounds;
            EXPECT_EQ(b.xMinimum, next);
            EXPECT_EQ(b.xMaximum, next + static_cast<double>(c.sizes[i]) - 1.0);
            EXPECT_EQ(b.yMaximum, c.sizes[i] > 1 ? 999.0 : std::fmod(next, 1000.0));
            EXPECT_EQ(b.zMaximum,
                      c.sizes[i] > 1 ? 6.0 : std::fmod(next, 7.0));  // reset between parts
            EXPECT_EQ(b.zMinimum, c.sizes[i] > 1 ? 0.0 : std::fmod(next, 7.0));
            std::size_t wrong = 0;
            for (std::size_t k = 0; k < part.x.size(); ++k, next += 1.0)
                wrong += part.x[k] != next || part.y[k] != std::fmod(next, 1000.0) ||
                         part.z[k] != std::fmod(next, 7.0);
            EXPECT_EQ(wrong, 0u) << "part " << i + 1;
        }
    }
}

TEST(LasToE57Export, RefusalsAndFailuresCarryTheirMessages) {
    TempDir dir;
    const std::string content = surveyLas(2, 5);
    const std::string input = (dir / "in.las").string();
    writeFile(input, content);
    writeFile(dir / "in.laz", content);
    writeFile(dir / "UPPER.LAS", content);
    writeFile(dir / "bigger.las", bigLas(60000));  // more than the writer buffers
    fs::create_directories(dir / "folder.e57");
    const std::vector<TileIndex> tiles{{50000, 400000}};
    const std::string fresh = (dir / "new" / "out.e57").string();

    const auto upper =
        jobWithTiles((dir / "UPPER.LAS").string(), (dir / "u.e57").string(), tiles, 10.0);
    EXPECT_TRUE(runRoute(exportLasToE57, upper).ok);  // the extension test is case-blind

    const std::string full = (dir / "full").string();
    const bool haveFull = testsupport::makeFullDevice(full);
    const struct {
        std::string input, output;
        std::vector<TileIndex> tiles;
        double tileSize;
        std::string want;
        bool prefix;
    } cases[] = {
        // These three come before the output folder.
        {input, fresh, tiles, 0.0, "LAS -> E57 export failed: coarse tile size must be > 0.",
         false},
        {(dir / "in.laz").string(), fresh, tiles, 10.0, "LAS -> E57 export requires LAS input.",
         false},
        {input,
         fresh,
         {},
         10.0,
         "LAS -> E57 export failed: no selected tiles or height ranges.",
         false},
        {(dir / "missing.las").string(), (dir / "m.e57").string(), tiles, 10.0,
         "Cannot open LAS input for E57 export: LasBinaryPointReader: cannot open LAS file (No "
         "such file or directory).",
         false},
        {input, (dir / "folder.e57").string(), tiles, 10.0,
         "LAS -> E57 export failed: the output path is a folder: " + (dir / "folder.e57").string(),
         false},
        // An E57 file is written with seeks and read back: a device is refused before the input
        // is read.
        {(dir / "missing.las").string(), full, tiles, 10.0,
         "LAS -> E57 export failed: the output path is not a regular file: " + full, false},
    };
    for (const auto& c : cases) {
        if (c.output == full && !haveFull) continue;  // no device node of our own
        SCOPED_TRACE(c.input + " -> " + c.output);
        exporttest::expectFailureText(
            failureOf(exportLasToE57, jobWithTiles(c.input, c.output, c.tiles, c.tileSize)), c.want,
            c.prefix);
    }
    EXPECT_FALSE(fs::exists(dir / "new"));
    // A full disk is never a success, whichever write finds it first.
    const testsupport::SmallDisk disk(dir / "disk", 256 * 1024);
    if (disk.mounted()) {
        const std::string e = failureOf(
            exportLasToE57, jobWithTiles((dir / "bigger.las").string(),
                                         (disk.path() / "out.e57").string(), {{0, 0}}, 1e6));
        EXPECT_NE(e.find("No space left on device"), std::string::npos) << e;
        EXPECT_TRUE(fs::is_empty(disk.path()));
    }

    // No selected point: fails, and leaves no file.
    const ExportJob job = jobWithTiles(input, (dir / "out.e57").string(), {{0, 0}}, 10.0);
    EXPECT_EQ(failureOf(exportLasToE57, job), "LAS -> E57 export produced zero output points.");
    EXPECT_FALSE(fs::exists(job.outputE57Path));
    EXPECT_TRUE(exporttest::unfinishedFiles(dir.path()).empty());
}
