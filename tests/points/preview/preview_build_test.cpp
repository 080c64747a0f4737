#include "points/preview/preview_build.h"

#include <gtest/gtest.h>

#include <atomic>
#include <charconv>
#include <cmath>
#include <fstream>
#include <thread>

#include "points/input/las_test_file.h"
#include "pdal/pdal_test_util.h"
#include "points/preview/preview_build_session.h"
#include "support/test_support.h"

namespace {

using testsupport::TempDir;

struct BuildResult {
    std::string out;
    std::string err;
};

// Runs the whole build on its own thread and returns what it printed.
BuildResult buildOnThread(PreviewBuildSession& state, int mode) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_TRUE(startBuildThread(state, mode));
    joinBuildThread(state);
    BuildResult r;
    r.out = testing::internal::GetCapturedStdout();
    r.err = testing::internal::GetCapturedStderr();
    return r;
}

std::string buildMessage(PreviewBuildSession& state) {
    std::lock_guard<std::mutex> lock(state.buildState.mutex);
    return state.buildState.message;
}

std::uint64_t countTotal(const TileCountMap& m) {
    std::uint64_t n = 0;
    for (const auto& e : m) n += e.second;
    return n;
}

std::size_t sampleTotal(const TileSampleMap& m) {
    std::size_t n = 0;
    for (const auto& e : m) n += e.second.size();
    return n;
}

void prepare(PreviewBuildSession& state, const TempDir& dir, const std::filesystem::path& input) {
    state.inputPath = input.string();
    state.outputFolder = (dir / "out").string();
}

void expectFailed(PreviewBuildSession& state, const std::string& message) {
    EXPECT_TRUE(state.buildState.failed);
    EXPECT_FALSE(state.buildState.ready);
    EXPECT_FALSE(state.buildState.running);
    EXPECT_EQ(buildMessage(state), message);
}

// Line i: "x y z" with x cycling through 40 tiles of 5 m and y through 3.
void writeXyz(const std::filesystem::path& path, std::uint64_t lines) {
    std::string buf;
    buf.reserve(std::size_t{1} << 24);
    std::ofstream f(path, std::ios::binary);
    char num[32];
    for (std::uint64_t i = 1; i <= lines; ++i) {
        auto put = [&](std::uint64_t v) {
            auto res = std::to_chars(num, num + sizeof num, v);
            buf.append(num, res.ptr);
        };
        put(i % 200);
        buf += ' ';
        put(i % 15);
        buf += " 1\n";
        if (buf.size() > (std::size_t{1} << 24) - 64) {
            f.write(buf.data(), static_cast<std::streamsize>(buf.size()));
            buf.clear();
        }
    }
    f.write(buf.data(), static_cast<std::streamsize>(buf.size()));
}

}  // namespace

TEST(PreviewBuild, PathAndEnvironmentFailures) {
    TempDir dir;
    testsupport::writeFile(dir / "cloud.ptx", "1 2 3\n");
    testsupport::writeFile(dir / "blocker", "x");
    testsupport::writeFile(dir / "bad.las", "not a las file at all");
    std::string garbage;
    for (int i = 0; i < 600; ++i) garbage += "garbage line\n";
    testsupport::writeFile(dir / "bad.xyz", garbage);
    const std::string out = (dir / "out").string();
    struct Case {
        std::string input, outputFolder, message, stderrPart;
    };
    const Case cases[] = {
        {"", (dir / "unused").string(), "Input .e57 path is empty. | points=0 | tiles=0", ""},
        {(dir / "a.las").string(), "", "Output directory is empty. | points=0 | tiles=0",
         "[STARTUP BUILD] exception | what=Output directory is empty. | points=0 | tiles=0"},
        {(dir / "cloud.ptx").string(), out,
         "Unsupported input file extension. Supported: .e57, .xyz and .las | points=0 | tiles=0",
         ""},
        {(dir / "missing.las").string(), out,
         "Input file does not exist: " + (dir / "missing.las").string() + " | points=0 | tiles=0",
         ""},
        // Reader failures and inputs without a usable point.
        {(dir / "bad.las").string(), out, "Build returned false.",
         "ERROR: Could not open input LAS file through LasBinaryPointReader. | error="},
        {(dir / "bad.xyz").string(), out, "Build returned false.", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        PreviewBuildSession state;
        state.inputPath = c.input;
        state.outputFolder = c.outputFolder;
        const BuildResult r = buildOnThread(state, 0);
        expectFailed(state, c.message);
        EXPECT_NE(r.err.find(c.stderrPart), std::string::npos) << r.err;
        EXPECT_FALSE(state.inputInfo.boundsValid);
        if (!c.input.ends_with(".xyz")) {
            EXPECT_EQ(state.inputInfo.totalPoints, 0u);
        }
        // The output folder is made before the extension check.
        if (c.input.ends_with(".ptx")) {
            EXPECT_TRUE(std::filesystem::is_directory(dir / "out"));
        }
    }

    PreviewBuildSession blocked;
    blocked.inputPath = (dir / "a.las").string();
    blocked.outputFolder = (dir / "blocker" / "sub").string();
    buildOnThread(blocked, 0);
    const std::string m = buildMessage(blocked);
    EXPECT_EQ(
        m.rfind("Cannot create output directory: " + (dir / "blocker" / "sub").string() + " | ", 0),
        0u)
        << m;
    EXPECT_TRUE(blocked.buildState.failed);

    // A second start of the same run is refused.
    PreviewBuildSession again;
    buildOnThread(again, 0);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(startBuildThread(again, 1));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(again.previewMode, 0);
}

TEST(PreviewBuild, LasThousandRecordsSampledEvery250th) {
    TempDir dir;
    lastest::LasTestHeader h;
    h.legacyCount = 1000;
    const std::string bytes = lastest::makeLasFile(h, lastest::numberedRecords(1000));
    testsupport::writeFile(dir / "a.las", bytes);

    PreviewBuildSession state;
    prepare(state, dir, dir / "a.las");
    const BuildResult r = buildOnThread(state, 0);
    const PreviewBuildState& bs = state.buildState;
    ASSERT_TRUE(bs.ready) << buildMessage(state) << r.err;
    EXPECT_FALSE(bs.failed);
    EXPECT_FALSE(bs.running);
    EXPECT_FALSE(bs.streaming);
    EXPECT_TRUE(bs.selectionStageOpen);
    EXPECT_EQ(bs.pointsRead.load(), 1000u);
    EXPECT_EQ(bs.bytesRead.load(), bytes.size());
    EXPECT_EQ(bs.inputFileBytes.load(), bytes.size());
    EXPECT_DOUBLE_EQ(state.inputInfo.fileSizeMB, static_cast<double>(bytes.size()) / 1048576.0);
    EXPECT_EQ(state.inputInfo.totalPoints, 1000u);
    EXPECT_EQ(state.totalInputPoints, 1000u);

    // Records 0, 250, 500, 750: x = i/100, y = 2i/100 -> four tiles of 250 each.
    const TileCountMap expected{{TileIndex{0, 0}, 250},
                                {TileIndex{0, 1}, 250},
                                {TileIndex{1, 2}, 250},
                                {TileIndex{1, 3}, 250}};
    EXPECT_EQ(state.tileCounts, expected);
    EXPECT_EQ(sampleTotal(state.tileSamples), 4u);
    ASSERT_TRUE(state.inputInfo.boundsValid);
    EXPECT_DOUBLE_EQ(state.inputInfo.minX, 0.0);
    EXPECT_DOUBLE_EQ(state.inputInfo.maxX, 7.5);
    EXPECT_DOUBLE_EQ(state.inputInfo.maxY, 15.0);
    EXPECT_DOUBLE_EQ(state.inputInfo.minZ, -7.5);

    // Published twice: end of data and the common end.
    EXPECT_EQ(bs.generation.load(), 2u);
    {
        std::lock_guard<std::mutex> lock(state.buildState.mutex);
        EXPECT_EQ(state.buildState.liveTileCounts, expected);
    }
    EXPECT_TRUE(state.previewCache.ready);
    EXPECT_EQ(state.previewCache.samples.size(), 4u);
    EXPECT_EQ(state.previewCache.sourceTiles, 4u);

    EXPECT_NE(
        r.out.find("[LAS PREVIEW - STREAM] sampled preview | skip=1/250 | coarse_tile_size_m=5 | "
                   "requestedSamplesPerTile=2000 | totalPointCount=1000 | LAS version=1.2 | "
                   "pointFormat=0 | pointRecordLength=20 | hasRGB=false | hasIntensity=true"),
        std::string::npos)
        << r.out;
    EXPECT_NE(
        r.out.find("[LAS PREVIEW - STREAM] completed | totalPts=1000 | sampledPts=4 | tiles=4 | "
                   "samples=4 | sampleCapPerTile=2000 | coarse_tile_size=5 | boundsX=[0,7.5] | "
                   "boundsY=[0,15] | boundsZ=[-7.5,0]"),
        std::string::npos)
        << r.out;
    EXPECT_NE(
        r.out.find(
            "[PREVIEW CACHE] built | samples=4 | sourceTileSize=5 | sourceTiles=4 | ready=true"),
        std::string::npos);
    EXPECT_NE(
        r.out.find("[PREVIEW CACHE] rebuild test | tileSize=5 | originalTiles=4 | rebuiltTiles=4 | "
                   "originalSamples=4 | rebuiltSamples=4"),
        std::string::npos);
    EXPECT_EQ(r.out.find("quick preview opened"), std::string::npos);
    EXPECT_FALSE(bs.hasWarning);
}

// A truncated file still gives a preview of what it holds, with a warning for the window.
TEST(PreviewBuild, TruncatedLasIsPreviewedWithAWarning) {
    TempDir dir;
    lastest::LasTestHeader h;
    h.legacyCount = 1000;
    testsupport::writeFile(dir / "a.las", lastest::makeLasFile(h, lastest::numberedRecords(600)));
    PreviewBuildSession state;
    prepare(state, dir, dir / "a.las");
    const BuildResult r = buildOnThread(state, 0);
    ASSERT_TRUE(state.buildState.ready) << buildMessage(state) << r.err;
    EXPECT_EQ(state.totalInputPoints, 600u);
    const std::string warning =
        "Warning: LAS file is truncated: the header says 1000 points, the file holds 600. The "
        "preview shows the points there are; an export will be refused.";
    EXPECT_TRUE(state.buildState.hasWarning);
    EXPECT_EQ(state.buildState.warning, warning);
    EXPECT_NE(r.err.find(warning + "\n"), std::string::npos) << r.err;
    // Compressed records take fewer bytes than their count promises: refused, not previewed.
    h.formatByte = 0x80;
    testsupport::writeFile(dir / "b.las", lastest::makeLasFile(h, lastest::numberedRecords(600)));
    PreviewBuildSession compressed;
    prepare(compressed, dir, dir / "b.las");
    const BuildResult refused = buildOnThread(compressed, 0);
    EXPECT_TRUE(compressed.buildState.failed);
    EXPECT_NE(refused.err.find("compressed (LAZ) point data is not supported."), std::string::npos)
        << refused.err;
}

// Header bounds left at zero are unset: they must not stretch the bounds of points far from 0.
TEST(PreviewBuild, LasWithUnsetHeaderBoundsKeepsThePointsOwnBounds) {
    TempDir dir;
    lastest::LasTestHeader h;
    h.legacyCount = 1000;
    h.offset[0] = h.offset[1] = h.offset[2] = 1000.0;
    testsupport::writeFile(dir / "a.las", lastest::makeLasFile(h, lastest::numberedRecords(1000)));
    PreviewBuildSession state;
    prepare(state, dir, dir / "a.las");
    const BuildResult r = buildOnThread(state, 0);
    ASSERT_TRUE(state.buildState.ready) << buildMessage(state) << r.err;
    const InputCloudInfo& info = state.inputInfo;
    ASSERT_TRUE(info.boundsValid);
    EXPECT_DOUBLE_EQ(info.minX, 1000.0);
    EXPECT_DOUBLE_EQ(info.maxX, 1007.5);
    EXPECT_DOUBLE_EQ(info.minY, 1000.0);
    EXPECT_DOUBLE_EQ(info.maxY, 1015.0);
    EXPECT_DOUBLE_EQ(info.minZ, 992.5);
    EXPECT_DOUBLE_EQ(info.maxZ, 1000.0);
}

TEST(PreviewBuild, Xyz499LinesGivesOneSample) {
    TempDir dir;
    writeXyz(dir / "a.xyz", 499);
    PreviewBuildSession state;
    prepare(state, dir, dir / "a.xyz");
    const BuildResult r = buildOnThread(state, 1);
    ASSERT_TRUE(state.buildState.ready) << buildMessage(state);
    EXPECT_EQ(state.inputInfo.totalPoints, 499u);
    EXPECT_EQ(state.buildState.pointsRead.load(), 499u);
    ASSERT_EQ(state.tileCounts.size(), 1u);
    EXPECT_EQ(state.tileCounts.begin()->second, 250u);
    // Line 250: x = 50, y = 10.
    EXPECT_EQ(state.tileCounts.begin()->first, (TileIndex{10, 2}));
    EXPECT_DOUBLE_EQ(state.inputInfo.minX, 50.0);
    EXPECT_EQ(state.buildState.bytesRead.load(), std::filesystem::file_size(dir / "a.xyz"));
    EXPECT_NE(r.out.find(
                  "[XYZ PREVIEW - POINT IO] completed | rawLines=499 | sampledPts=1 | badLines=0 | "
                  "tiles=1 | samples=1 | sampleCapPerTile=2000 | coarse_tile_size=5"),
              std::string::npos)
        << r.out;
}

// Both preview modes on a 6,000,000-line file, observed at the moment the selection stage opens.
TEST(PreviewBuild, XyzSixMillionLinesOpensByMode) {
    TempDir dir;
    writeXyz(dir / "big.xyz", 6000000);
    for (int mode : {1, 0}) {
        SCOPED_TRACE(mode);
        PreviewBuildSession state;
        prepare(state, dir, dir / "big.xyz");
        int opened = 0;
        bool openedEarly = false, openedWhileStreaming = false, openedBeforeReady = false;
        state.onSelectionStageOpen = [&](const PreviewBuildState& bs) {
            ++opened;
            openedEarly = bs.pointsRead.load() < 6000000u;
            openedWhileStreaming = bs.streaming;
            openedBeforeReady = bs.running && !bs.ready;
        };
        const BuildResult r = buildOnThread(state, mode);

        ASSERT_TRUE(state.buildState.ready) << buildMessage(state);
        EXPECT_EQ(state.inputInfo.totalPoints, 6000000u);
        EXPECT_EQ(countTotal(state.tileCounts), 6000000u);  // 24,000 sampled lines x 250
        EXPECT_EQ(opened, 1);
        EXPECT_TRUE(openedWhileStreaming);
        EXPECT_TRUE(openedBeforeReady);
        EXPECT_TRUE(state.buildState.selectionStageOpen);
        EXPECT_FALSE(state.buildState.streaming);
        if (mode == 1) {
            EXPECT_NE(r.out.find("[XYZ PREVIEW - POINT IO] quick preview opened | pts=5000000 | "
                                 "sampledPts=20000 | tiles="),
                      std::string::npos)
                << r.out;
            EXPECT_TRUE(openedEarly);
            EXPECT_EQ(state.buildState.generation.load(), 3u);
        } else {
            EXPECT_EQ(r.out.find("quick preview opened"), std::string::npos);
            EXPECT_FALSE(openedEarly);
            EXPECT_EQ(state.buildState.generation.load(), 2u);
        }
        EXPECT_EQ(r.out.find("progressive refresh"), std::string::npos);
        EXPECT_EQ(r.out.find("Reading 10M"), std::string::npos);
    }
}

TEST(PreviewBuild, PublicationCopiesAndCountsGenerations) {
    PreviewBuildState bs;
    TileCountMap counts{{TileIndex{1, 2}, 7}, {TileIndex{-3, 4}, 250}};
    TileSampleMap samples{{TileIndex{1, 2}, {Sample2D{1, 2, 3}}}};
    publishPreviewMaps(bs, counts, samples);
    counts[TileIndex{9, 9}] = 1;  // the live maps are copies
    {
        std::lock_guard<std::mutex> lock(bs.mutex);
        EXPECT_EQ(bs.generation.load(), 1u);
        EXPECT_EQ(bs.liveTileCounts.size(), 2u);
        ASSERT_EQ(bs.liveTileSamples.at(TileIndex{1, 2}).size(), 1u);
        EXPECT_EQ(bs.liveTileSamples.at(TileIndex{1, 2})[0].z, 3.0f);
    }
    // Through a reused spare: fewer tiles, new tiles, same size with other tiles.
    PreviewMapBuffers spare;
    const std::vector<TileCountMap> rounds{
        {{TileIndex{0, 0}, 1}, {TileIndex{1, 0}, 2}, {TileIndex{2, 0}, 3}},
        {{TileIndex{0, 0}, 10}, {TileIndex{5, 5}, 20}},
        {{TileIndex{0, 0}, 10}, {TileIndex{5, 5}, 20}, {TileIndex{6, 6}, 30}},
        {{TileIndex{7, 0}, 1}, {TileIndex{8, 0}, 1}, {TileIndex{9, 0}, 1}},
    };
    for (std::size_t round = 0; round < rounds.size(); ++round) {
        SCOPED_TRACE(round);
        TileSampleMap roundSamples;
        for (const auto& [tile, n] : rounds[round])
            roundSamples[tile].assign(n, Sample2D{static_cast<float>(round), 0, 0});
        publishPreviewMaps(bs, rounds[round], roundSamples, spare);
        std::lock_guard<std::mutex> lock(bs.mutex);
        EXPECT_EQ(bs.generation.load(), round + 2);
        EXPECT_EQ(bs.liveTileCounts, rounds[round]);
        ASSERT_EQ(bs.liveTileSamples.size(), roundSamples.size());
        for (const auto& [tile, list] : roundSamples) {
            ASSERT_EQ(bs.liveTileSamples.at(tile).size(), list.size());
            EXPECT_EQ(bs.liveTileSamples.at(tile)[0].x, static_cast<float>(round));
        }
    }
}

TEST(PreviewBuild, SharedLasFile) {
    REQUIRE_SHARED_TESTDATA();
    TempDir dir;
    PreviewBuildSession state;
    prepare(state, dir, testsupport::sharedTestData() / "las" / "simple.las");
    buildOnThread(state, 0);
    ASSERT_TRUE(state.buildState.ready) << buildMessage(state);
    EXPECT_EQ(state.inputInfo.totalPoints, 1065u);
    EXPECT_EQ(countTotal(state.tileCounts), 5u * 250u);  // records 0, 250, ..., 1000
    EXPECT_EQ(state.buildState.bytesRead.load(), 36437u);
    ASSERT_TRUE(state.inputInfo.boundsValid);
    EXPECT_GE(state.inputInfo.minX, 635619.85 - 1e-6);
    EXPECT_LE(state.inputInfo.maxX, 638982.55 + 1e-6);
    EXPECT_GE(state.inputInfo.minZ, 406.59 - 1e-6);
}

// ---- E57 through PDAL ----

namespace {

// Cartesian scans: x cycles 0..19, y 0..6, z 0.25. Spherical: range 1..10 at azimuth and elevation
// 0.
pdaltest::ScanSpec scan(std::size_t points, bool spherical, e57::Translation translation = {}) {
    pdaltest::ScanSpec s;
    for (std::size_t i = 0; i < points; ++i) {
        if (spherical) {
            s.range.push_back(1.0 + static_cast<double>(i % 10));
            s.azimuth.push_back(0.0);
            s.elevation.push_back(0.0);
        } else {
            s.x.push_back(static_cast<double>(i % 20));
            s.y.push_back(static_cast<double>(i % 7));
            s.z.push_back(0.25);
        }
    }
    s.pose.translation = translation;
    return s;
}

void writeE57(const std::filesystem::path& path, std::vector<pdaltest::ScanSpec> scans) {
    pdaltest::writeE57(path.string(), std::move(scans));
}

#define REQUIRE_PDAL_E57()                                                     \
    do {                                                                       \
        if (!isPdalStageAvailable("readers.e57"))                              \
            GTEST_SKIP() << "PDAL readers.e57 is not available in this build"; \
    } while (0)

}  // namespace

TEST(PreviewBuildE57, MissingStageFailsTheBuild) {
    if (isPdalStageAvailable("readers.e57")) GTEST_SKIP() << "readers.e57 is available";
    TempDir dir;
    testsupport::writeFile(dir / "a.e57", "x");
    PreviewBuildSession state;
    prepare(state, dir, dir / "a.e57");
    const BuildResult r = buildOnThread(state, 0);
    expectFailed(state, "PDAL readers.e57 is not available. | points=0 | tiles=0");
    EXPECT_NE(r.out.find("[PDAL] readers.e57: MISSING"), std::string::npos);
}

TEST(PreviewBuildE57, ExactAndQuickOnPosedScans) {
    REQUIRE_PDAL_E57();
    TempDir dir;
    writeE57(dir / "posed.e57",
             {scan(3000, false), scan(2000, false, {100, 0, 10}), scan(1000, false, {0, 50, 0})});
    {
        PreviewBuildSession state;
        prepare(state, dir, dir / "posed.e57");
        const BuildResult r = buildOnThread(state, 0);
        ASSERT_TRUE(state.buildState.ready) << buildMessage(state) << r.err;
        EXPECT_EQ(state.inputInfo.totalPoints, 6000u);
        EXPECT_EQ(countTotal(state.tileCounts), 6000u);
        EXPECT_FALSE(state.buildState.selectionStageOpen);  // exact: the GUI waits for ready
        EXPECT_DOUBLE_EQ(state.inputInfo.maxX, 119.0);      // translated second scan
        EXPECT_DOUBLE_EQ(state.inputInfo.maxY, 56.0);
        EXPECT_DOUBLE_EQ(state.inputInfo.maxZ, 10.25);
        EXPECT_EQ(state.buildState.generation.load(), 1u);  // exact: only the common end
        EXPECT_EQ(state.buildState.bytesRead.load(), 0u);
        EXPECT_NE(r.out.find("[PDAL] readers.e57: OK"), std::string::npos);
    }
    for (double pct : {30.0, 0.5, 120.0}) {
        PreviewBuildSession state;
        prepare(state, dir, dir / "posed.e57");
        state.quickPreview.selectionOpenPercent = pct;
        const BuildResult r = buildOnThread(state, 1);
        ASSERT_TRUE(state.buildState.ready) << buildMessage(state) << r.err;
        const double used = pct < 1 ? 1 : (pct > 95 ? 95 : pct);
        const auto target = static_cast<std::uint64_t>(std::ceil(6000 * used / 100));
        std::ostringstream head;
        head
            << "[QUICK REAL PREVIEW] starting real E57 point-stream preview | selectionOpenPercent="
            << used << " | metadataTotalPoints=6000 | targetPoints=" << target;
        EXPECT_NE(r.out.find(head.str()), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("[QUICK REAL PREVIEW] selection stage opened | targetPoints=" +
                             std::to_string(target) + " | realPoints=" + std::to_string(target)),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("[QUICK REAL PREVIEW] exact point-stream finished | realPoints=6000"),
                  std::string::npos);
        EXPECT_EQ(state.buildState.generation.load(), 3u);
        EXPECT_EQ(state.inputInfo.totalPoints, 6000u);
    }
}

TEST(PreviewBuildE57, SphericalAndMixedFiles) {
    REQUIRE_PDAL_E57();
    TempDir dir;
    writeE57(dir / "sph.e57", {scan(500, true)});
    writeE57(dir / "mixed.e57", {scan(400, false), scan(300, true, {1000, 0, 0})});
    {
        PreviewBuildSession state;
        prepare(state, dir, dir / "sph.e57");
        buildOnThread(state, 0);
        ASSERT_TRUE(state.buildState.ready) << buildMessage(state);
        EXPECT_EQ(state.inputInfo.totalPoints, 500u);
        // Azimuth and elevation 0: x = range 1..10, y = z = 0.
        EXPECT_NEAR(state.inputInfo.minX, 1.0, 1e-12);
        EXPECT_NEAR(state.inputInfo.maxX, 10.0, 1e-12);
        EXPECT_NEAR(state.inputInfo.maxY, 0.0, 1e-12);
    }
    {
        PreviewBuildSession state;
        prepare(state, dir, dir / "mixed.e57");
        buildOnThread(state, 1);
        ASSERT_TRUE(state.buildState.ready) << buildMessage(state);
        EXPECT_EQ(state.inputInfo.totalPoints, 700u);
        EXPECT_EQ(countTotal(state.tileCounts), 700u);
        EXPECT_NEAR(state.inputInfo.maxX, 1010.0, 1e-9);
    }
}

// A file whose /data3D holds no scan reads as no points: the build fails as for an XYZ file
// without a usable point, in either mode, and says so.
TEST(PreviewBuildE57, FileWithoutScansFailsWithNoTiles) {
    REQUIRE_SHARED_TESTDATA();
    REQUIRE_PDAL_E57();
    TempDir dir;
    for (const int mode : {0, 1}) {
        SCOPED_TRACE(mode);
        PreviewBuildSession state;
        prepare(state, dir, testsupport::sharedTestData() / "e57" / "empty.e57");
        buildOnThread(state, mode);
        expectFailed(state, "Build returned false.");
        EXPECT_EQ(state.inputInfo.totalPoints, 0u);
        EXPECT_FALSE(state.inputInfo.boundsValid);
        EXPECT_FALSE(state.previewCache.ready);
    }
}

TEST(PreviewBuildE57, SharedBunnyAndUnreadableMetadata) {
    REQUIRE_SHARED_TESTDATA();
    REQUIRE_PDAL_E57();
    TempDir dir;
    PreviewBuildSession state;
    prepare(state, dir, testsupport::sharedTestData() / "e57" / "bunnyDouble.e57");
    state.coarseTileSize = 0.01;
    buildOnThread(state, 1);
    ASSERT_TRUE(state.buildState.ready) << buildMessage(state);
    EXPECT_EQ(state.inputInfo.totalPoints, 30571u);
    EXPECT_NEAR(state.inputInfo.minX, -0.094689, 1e-9);
    EXPECT_NEAR(state.inputInfo.maxY, 0.187321, 1e-9);

    PreviewBuildSession broken;
    std::string bytes =
        testsupport::readFile(testsupport::sharedTestData() / "e57" / "bad-crc.e57");
    testsupport::writeFile(dir / "bad.e57", bytes);
    prepare(broken, dir, dir / "bad.e57");
    buildOnThread(broken, 1);
    EXPECT_TRUE(broken.buildState.failed);
}
