#include "points/job/export_job_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

struct LoadOutcome {
    bool ok = false;
    ExportJob job;
    std::string error;
};

LoadOutcome loadText(const std::string& text, std::vector<std::string>* notes = nullptr) {
    TempDir dir;
    const auto path = dir / "job.ini";
    writeFile(path, text);
    LoadOutcome outcome;
    outcome.ok = loadExportJobFile(path, outcome.job, &outcome.error, notes);
    return outcome;
}

// A valid [Job] section; `middle` goes between ExportMode and HasGlobalZBounds.
std::string jobSection(const std::string& middle = "",
                       const std::string& outputPath = "/out/cloud_cut.e57") {
    return "[Job]\nInputE57Path=/in/cloud.e57\nOutputE57Path=" + outputPath +
           "\nCoarseTileSize=5\nInputTotalPoints=1000\nEstimatedPointsToFilter=400\nOutputAreaM2="
           "25\n"
           "ExportMode=0\n" +
           middle + "HasGlobalZBounds=1\nGlobalMinZ=-1.5\nGlobalMaxZ=2\n";
}

const std::string kEmptyLists =
    "[SelectedCoarseTiles]\nCount=0\n[SelectedCoarseTileCounts]\nCount=0\n[SelectedHeightRanges]"
    "\nCount=0\n";

bool sameBits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

void expectSameJob(const ExportJob& a, const ExportJob& b) {
    EXPECT_EQ(a.inputE57Path, b.inputE57Path);
    EXPECT_EQ(a.outputE57Path, b.outputE57Path);
    EXPECT_TRUE(sameBits(a.coarseTileSize, b.coarseTileSize))
        << a.coarseTileSize << " vs " << b.coarseTileSize;
    EXPECT_EQ(a.inputTotalPoints, b.inputTotalPoints);
    EXPECT_EQ(a.estimatedPointsToFilter, b.estimatedPointsToFilter);
    EXPECT_TRUE(sameBits(a.outputAreaM2, b.outputAreaM2))
        << a.outputAreaM2 << " vs " << b.outputAreaM2;
    EXPECT_EQ(a.exportMode, b.exportMode);
    EXPECT_EQ(a.hasGlobalZBounds, b.hasGlobalZBounds);
    EXPECT_TRUE(sameBits(a.globalMinZ, b.globalMinZ)) << a.globalMinZ << " vs " << b.globalMinZ;
    EXPECT_TRUE(sameBits(a.globalMaxZ, b.globalMaxZ)) << a.globalMaxZ << " vs " << b.globalMaxZ;
    EXPECT_EQ(a.outputFormat, b.outputFormat);
    EXPECT_EQ(a.exportContent, b.exportContent);
    EXPECT_EQ(a.enablePhotoThirdPass, b.enablePhotoThirdPass);
    EXPECT_EQ(a.exportRGB, b.exportRGB);
    EXPECT_EQ(a.selectedCoarseTiles, b.selectedCoarseTiles);
    EXPECT_EQ(a.selectedCoarseTileCounts, b.selectedCoarseTileCounts);
    ASSERT_EQ(a.savedTileSelections.size(), b.savedTileSelections.size());
    for (std::size_t i = 0; i < a.savedTileSelections.size(); ++i)
        EXPECT_EQ(a.savedTileSelections[i].tiles, b.savedTileSelections[i].tiles)
            << "selection " << i;
    ASSERT_EQ(a.selectedHeightRanges.size(), b.selectedHeightRanges.size());
    for (std::size_t i = 0; i < a.selectedHeightRanges.size(); ++i) {
        EXPECT_TRUE(sameBits(a.selectedHeightRanges[i].zMin, b.selectedHeightRanges[i].zMin))
            << "range " << i;
        EXPECT_TRUE(sameBits(a.selectedHeightRanges[i].zMax, b.selectedHeightRanges[i].zMax))
            << "range " << i;
        EXPECT_EQ(a.selectedHeightRanges[i].tiles, b.selectedHeightRanges[i].tiles)
            << "range " << i;
    }
}

ExportJob roundTrip(const ExportJob& job) {
    TempDir dir;
    const auto path = dir / "job.ini";
    std::string error;
    EXPECT_TRUE(writeExportJobFile(path, job, &error)) << error;
    ExportJob back;
    EXPECT_TRUE(loadExportJobFile(path, back, &error)) << error;
    return back;
}

class RandomJobs {
public:
    explicit RandomJobs(std::uint32_t seed) : rng_(seed) {}

    ExportJob next() {
        ExportJob job;
        job.inputE57Path = path();
        job.outputE57Path = path();
        job.coarseTileSize = finiteDouble();
        job.inputTotalPoints = rng_();
        job.estimatedPointsToFilter =
            pick(3) == 0 ? std::numeric_limits<std::uint64_t>::max() : rng_();
        job.outputAreaM2 = finiteDouble();
        job.exportMode = static_cast<std::int32_t>(pick(4));
        job.hasGlobalZBounds = pick(2) == 1;
        job.globalMinZ = finiteDouble();
        job.globalMaxZ = finiteDouble();
        job.outputFormat = static_cast<std::int32_t>(pick(3));
        job.enablePhotoThirdPass = pick(2) == 1;
        job.exportRGB = job.enablePhotoThirdPass || pick(2) == 1;
        exportContentFromFlags(job);
        for (std::uint64_t n = pick(20); n > 0; --n) job.selectedCoarseTiles.insert(tile());
        for (std::uint64_t n = pick(20); n > 0; --n)
            job.selectedCoarseTileCounts.emplace(tile(), rng_());
        for (std::uint64_t n = pick(4); n > 0; --n) {
            SavedTileSelection selection;
            for (std::uint64_t k = pick(6); k > 0; --k) selection.tiles.push_back(tile());
            job.savedTileSelections.push_back(selection);
        }
        for (std::uint64_t n = pick(4); n > 0; --n) {
            SelectedHeightRange range;
            range.zMin = finiteDouble();
            range.zMax = finiteDouble();
            for (std::uint64_t k = pick(6); k > 0; --k) range.tiles.push_back(tile());
            job.selectedHeightRanges.push_back(range);
        }
        return job;
    }

private:
    std::uint64_t pick(std::uint64_t n) { return rng_() % n; }

    std::int64_t index() {
        switch (pick(6)) {
            case 0: return std::numeric_limits<std::int64_t>::min();
            case 1: return std::numeric_limits<std::int64_t>::max();
            case 2: return static_cast<std::int64_t>(pick(2001)) - 1000;
            default: return static_cast<std::int64_t>(rng_());
        }
    }
    TileIndex tile() { return TileIndex{index(), index()}; }

    double finiteDouble() {
        switch (pick(8)) {
            case 0: return -0.0;
            case 1:
                return std::numeric_limits<double>::denorm_min() *
                       static_cast<double>(pick(1000) + 1);
            case 2: return -std::numeric_limits<double>::max();
            case 3: return std::numeric_limits<double>::min();
            case 4:
                return static_cast<double>(static_cast<std::int64_t>(pick(200001)) - 100000) /
                       100.0;
            default: {
                double value;
                do {
                    value = std::bit_cast<double>(rng_());
                } while (!std::isfinite(value));
                return value;
            }
        }
    }

    // Blanks and '=' inside, never at the ends (values are trimmed on reading).
    std::string path() {
        static const char alphabet[] = "abcXYZ019 =._-/\\:,;#[]";
        std::string text = "/data/";
        for (std::uint64_t n = pick(24); n > 0; --n)
            text.push_back(alphabet[pick(sizeof alphabet - 1)]);
        text += "end.e57";
        return text;
    }

    std::mt19937_64 rng_;
};

}  // namespace

TEST(ExportJobFile, WriterProducesTheDocumentedLines) {
    ExportJob job;
    job.inputE57Path = "C:/scans/site.e57";
    job.outputE57Path = "C:/out/Project 1/site_cut.e57";
    job.coarseTileSize = 5.0;
    job.inputTotalPoints = 123456789;
    job.estimatedPointsToFilter = 42;
    job.outputAreaM2 = 0.1;
    job.exportMode = 1;
    job.outputFormat = 2;
    job.exportContent = 0;
    job.exportRGB = false;
    job.hasGlobalZBounds = true;
    job.globalMinZ = -2.5;
    job.globalMaxZ = 1e300;
    job.selectedCoarseTiles.insert({-3, 7});
    job.selectedCoarseTileCounts.emplace(TileIndex{-3, 7}, 250);
    job.savedTileSelections.push_back({{{1, 2}, {1, 2}}});
    job.selectedHeightRanges.push_back({{{4, -5}}, 5.0, 1.0});

    TempDir dir;
    std::string error = "untouched";
    ASSERT_TRUE(writeExportJobFile(dir / "job.ini", job, &error));
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(readFile(dir / "job.ini"),
              "[Job]\n"
              "InputE57Path=C:/scans/site.e57\n"
              "OutputE57Path=C:/out/Project 1/site_cut.e57\n"
              "CoarseTileSize=5\n"
              "InputTotalPoints=123456789\n"
              "EstimatedPointsToFilter=42\n"
              "OutputAreaM2=0.10000000000000001\n"
              "ExportMode=1\n"
              "OutputFormat=2\n"
              "ExportContent=0\n"
              "EnablePhotoThirdPass=0\n"
              "ExportRGB=0\n"
              "HasGlobalZBounds=1\n"
              "GlobalMinZ=-2.5\n"
              "GlobalMaxZ=1.0000000000000001e+300\n"
              "\n[SelectedCoarseTiles]\nCount=1\nTile0=-3,7\n"
              "\n[SelectedCoarseTileCounts]\nCount=1\nTile0=-3,7,250\n"
              "\n[SavedTileSelections]\nCount=1\n"
              "\n[SavedTileSelection0]\nTileCount=2\nTile0=1,2\nTile1=1,2\n"
              "\n[SelectedHeightRanges]\nCount=1\n"
              "\n[SelectedHeightRange0]\nZMin=5\nZMax=1\nTileCount=1\nTile0=4,-5\n");
    expectSameJob(roundTrip(job), job);
}

TEST(ExportJobFile, RandomJobsRoundTripBitForBit) {
    ExportJob plain;  // every field as it starts but the output, which must name a file
    plain.outputE57Path = "out.e57";
    expectSameJob(roundTrip(plain), plain);
    RandomJobs random(20261208u);
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE("job " + std::to_string(i));
        const ExportJob job = random.next();
        expectSameJob(roundTrip(job), job);
    }
}

TEST(ExportJobFile, LargeTileMapsRoundTrip) {
    ExportJob job;
    job.outputE57Path = "out.e57";
    for (std::int64_t i = 0; i < 20000; ++i) {
        job.selectedCoarseTiles.insert({i, -i});
        job.selectedCoarseTileCounts.emplace(TileIndex{-i, i * 7},
                                             static_cast<std::uint64_t>(i) * 250);
    }
    expectSameJob(roundTrip(job), job);
}

TEST(ExportJobFile, WriterFailuresAreReported) {
    ExportJob job;
    std::string error;
    EXPECT_FALSE(writeExportJobFile("/nonexistent-folder-for-test/job.ini", job, &error));
    EXPECT_EQ(error,
              "Cannot open export job file for writing: /nonexistent-folder-for-test/job.ini");

    // A full disk must not pass as a saved job.
    TempDir dir;
    const std::string full = (dir / "full").string();
    if (testsupport::makeFullDevice(full)) {
        error.clear();
        EXPECT_FALSE(writeExportJobFile(full, job, &error));
        EXPECT_EQ(error, "Error while writing export job file: " + full);
        EXPECT_FALSE(writeExportJobFile(full, job, nullptr));
    }
}

TEST(ExportJobFile, ReaderAcceptsCrLfBlanksAndIgnoresNoise) {
    const std::string lf = jobSection() + kEmptyLists;
    std::string crlf;
    for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const LoadOutcome a = loadText(lf);
    std::vector<std::string> notes;
    const LoadOutcome b = loadText(crlf, &notes);
    ASSERT_TRUE(a.ok) << a.error;
    ASSERT_TRUE(b.ok) << b.error;
    expectSameJob(a.job, b.job);
    EXPECT_EQ(notes, std::vector<std::string>{});  // a line end is no blank around a path
    EXPECT_EQ(b.job.outputE57Path, "/out/cloud_cut.e57");
    EXPECT_DOUBLE_EQ(b.job.globalMinZ, -1.5);

    // "[ Job ]" names Job; a header without ']' and a line without '=' change nothing.
    const LoadOutcome c =
        loadText("; comment\n[ Job ]\n" + jobSection().substr(6) +
                 "[SelectedCoarseTiles\nno equals here\nUnknownKey=1\n" + kEmptyLists);
    ASSERT_TRUE(c.ok) << c.error;
    EXPECT_EQ(c.job.inputTotalPoints, 1000u);

    // The line splits at its first '='; later ones belong to the path.
    const LoadOutcome d = loadText(jobSection("", "/out/a=b/c==d.xyz") + kEmptyLists);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.job.outputE57Path, "/out/a=b/c==d.xyz");
    EXPECT_EQ(d.job.outputFormat, 1);  // from the extension: no OutputFormat key
}

TEST(ExportJobFile, OutputFormatFromExtension) {
    const std::pair<const char*, int> cases[] = {
        {"a/b.E57", 0}, {"a/b.xyz", 1}, {"a/b.TXT", 1},     {"a/b.PTS", 1}, {"a/b.LaS", 2},
        {"a/b.laz", 0}, {"no_dot", 0},  {"/d.las/file", 0},  // the dot of the folder counts
    };
    for (const auto& [path, format] : cases)
        EXPECT_EQ(outputFormatFromExtension(path), format) << path;

    // Without an OutputFormat key the output path decides; a stored key wins.
    const std::tuple<std::string, std::string, int> loads[] = {
        {"", "/o/CUT.PTS", 1}, {"", "/o/cut.laz", 0}, {"OutputFormat=2\n", "/o/cut.xyz", 2}};
    for (const auto& [middle, path, format] : loads) {
        const LoadOutcome o = loadText(jobSection(middle, path) + kEmptyLists);
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_EQ(o.job.outputFormat, format) << path;
    }
}

TEST(ExportJobFile, ContentAndFlags) {
    struct Case {
        const char* middle;
        int content;
        bool rgb, photo;
    };
    const Case cases[] = {
        // A stored content decides, whatever the flag keys say.
        {"ExportContent=2\nExportRGB=0\nEnablePhotoThirdPass=0\n", 2, true, true},
        {"ExportContent=0\nExportRGB=1\n", 0, false, false},
        // Without a content key the flags decide, and the photo pass implies colour.
        {"EnablePhotoThirdPass=1\nExportRGB=0\n", 2, true, true},
        {"ExportRGB=0\n", 0, false, false},
        {"", 1, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.middle);
        const LoadOutcome o = loadText(jobSection(c.middle) + kEmptyLists);
        ASSERT_TRUE(o.ok) << o.error;
        EXPECT_EQ(o.job.exportContent, c.content);
        EXPECT_EQ(o.job.exportRGB, c.rgb);
        EXPECT_EQ(o.job.enablePhotoThirdPass, c.photo);
    }

    ExportJob job;
    job.exportContent = 1;
    job.enablePhotoThirdPass = true;
    applyExportContentToFlags(job);
    EXPECT_TRUE(job.exportRGB);
    EXPECT_FALSE(job.enablePhotoThirdPass);
    job.exportRGB = false;
    exportContentFromFlags(job);
    EXPECT_EQ(job.exportContent, 0);
}

TEST(ExportJobFile, SectionsAndCounts) {
    // Only the saved top-view selections may be missing.
    LoadOutcome o = loadText(jobSection() + kEmptyLists);
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_TRUE(o.job.savedTileSelections.empty());

    o = loadText(jobSection() + kEmptyLists +
                 "[SavedTileSelections]\nCount=2\n[SavedTileSelection0]\nTileCount=0\n"
                 "[SavedTileSelection1]\nTileCount=2\nTile0=9,9\nTile1=-1,-1\n");
    ASSERT_TRUE(o.ok) << o.error;
    ASSERT_EQ(o.job.savedTileSelections.size(), 2u);
    EXPECT_TRUE(o.job.savedTileSelections[0].tiles.empty());
    EXPECT_EQ(o.job.savedTileSelections[1].tiles, (std::vector<TileIndex>{{9, 9}, {-1, -1}}));

    // A reversed pair stays reversed; a range without tiles is kept.
    o = loadText(jobSection() +
                 "[SelectedCoarseTiles]\nCount=0\n[SelectedCoarseTileCounts]\nCount=0\n"
                 "[SelectedHeightRanges]\nCount=2\n"
                 "[SelectedHeightRange0]\nZMin=5\nZMax=1\nTileCount=1\nTile0=2,3\n"
                 "[SelectedHeightRange1]\nZMin=0\nZMax=0\nTileCount=0\n");
    ASSERT_TRUE(o.ok) << o.error;
    ASSERT_EQ(o.job.selectedHeightRanges.size(), 2u);
    EXPECT_EQ(o.job.selectedHeightRanges[0].zMin, 5.0);
    EXPECT_EQ(o.job.selectedHeightRanges[0].zMax, 1.0);
    EXPECT_TRUE(o.job.selectedHeightRanges[1].tiles.empty());

    // The first count entry for a tile wins; a later duplicate key replaces the earlier line.
    o = loadText(jobSection() +
                 "[SelectedCoarseTiles]\nCount=0\n[SelectedCoarseTileCounts]\nCount=2\n"
                 "Tile0=1,1,10\nTile1=1,1,20\n[SelectedHeightRanges]\nCount=0\n"
                 "[Job]\nInputTotalPoints=77\n");
    ASSERT_TRUE(o.ok) << o.error;
    EXPECT_EQ(o.job.selectedCoarseTileCounts.at({1, 1}), 10u);
    EXPECT_EQ(o.job.inputTotalPoints, 77u);
}

TEST(ExportJobFile, NumberConversionsFollowCAndNameTheirFailures) {
    // Replaces the value of `key` in a valid job and loads it.
    auto with = [](const std::string& key, const std::string& value) {
        std::string text = jobSection() + kEmptyLists;
        const auto at = text.find(key + "=");
        text.replace(at, text.find('\n', at) - at, key + "=" + value);
        return loadText(text);
    };
    EXPECT_EQ(with("ExportMode", "+3").job.exportMode, 3);
    EXPECT_EQ(with("CoarseTileSize", "2\t").job.coarseTileSize, 2.0);
    EXPECT_EQ(with("InputTotalPoints", "18446744073709551615").job.inputTotalPoints,
              std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(with("InputTotalPoints", "5 points").job.inputTotalPoints, 5u);
    EXPECT_EQ(with("InputTotalPoints", "-1").job.inputTotalPoints,
              std::numeric_limits<std::uint64_t>::max());  // C wraps
    EXPECT_EQ(with("OutputAreaM2", "2.5e3m2").job.outputAreaM2, 2500.0);
    EXPECT_EQ(with("OutputAreaM2", "0x10").job.outputAreaM2, 16.0);
    EXPECT_TRUE(std::isinf(with("OutputAreaM2", "inf").job.outputAreaM2));
    EXPECT_TRUE(std::isnan(with("OutputAreaM2", "nan").job.outputAreaM2));
    EXPECT_EQ(with("OutputAreaM2", "4.9406564584124654e-324").job.outputAreaM2,
              std::numeric_limits<double>::denorm_min());

    const std::tuple<const char*, const char*, const char*> failures[] = {
        {"ExportMode", "x1", "is not a whole number"},
        {"ExportMode", "1.9", "is not a whole number"},
        {"ExportMode", "+3abc", "is not a whole number"},
        {"ExportMode", "", "is not a whole number"},
        {"ExportMode", "2147483648", "is out of range"},
        {"ExportMode", "-2147483649", "is out of range"},
        {"ExportMode", "99999999999999999999", "is out of range"},
        {"HasGlobalZBounds", "-4294967296", "is out of range"},  // would wrap to 0
        {"InputTotalPoints", "many", "is not a whole number"},
        {"InputTotalPoints", "18446744073709551616", "is out of range"},
        {"OutputAreaM2", ".", "is not a number"},
        {"OutputAreaM2", "1e999", "is out of range"},
        {"OutputAreaM2", "-1e999", "is out of range"},
    };
    for (const auto& [key, value, fault] : failures) {
        const LoadOutcome o = with(key, value);
        EXPECT_FALSE(o.ok) << key << "=" << value;
        EXPECT_EQ(o.error,
                  std::string("Export job file: [Job] ") + key + "=" + value + " " + fault);
    }
}

TEST(ExportJobFile, LoadFailuresLeaveErrorsOnlyOnFailure) {
    ExportJob job;
    std::string error;
    EXPECT_FALSE(loadExportJobFile("/nonexistent-folder-for-test/job.ini", job, &error));
    EXPECT_EQ(error, "Cannot open export job file: /nonexistent-folder-for-test/job.ini");
    EXPECT_FALSE(loadExportJobFile("/nonexistent-folder-for-test/job.ini", job, nullptr));

    TempDir dir;
    writeFile(dir / "job.ini", jobSection() + kEmptyLists);
    error = "untouched";
    EXPECT_TRUE(loadExportJobFile(dir / "job.ini", job, &error));
    EXPECT_EQ(error, "untouched");

    // A folder in place of the file is no job.
    EXPECT_FALSE(loadExportJobFile(dir.path(), job, &error));
    EXPECT_NE(error, "untouched");
}

TEST(ExportJobFile, TileValueParsing) {
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    const std::pair<const char*, TileIndex> good[] = {
        {"3,4", {3, 4}},
        {" -3 , +4 ", {-3, 4}},
        {"\t-3\t,+4\t", {-3, 4}},
        {"-9223372036854775808,9223372036854775807", {kMin, kMax}}};
    for (const auto& [text, want] : good) {
        TileIndex tile{99, 99};
        EXPECT_TRUE(parseTileIndexValue(text, tile)) << text;
        EXPECT_EQ(tile, want) << text;
    }
    // A refused value leaves the outputs alone.
    for (const char* text :
         {"", "3", "a,4", "3,", "3,9223372036854775808", "3,4,5", "-3,+4x", "100002.9,1080002"}) {
        TileIndex tile{7, 7};
        EXPECT_FALSE(parseTileIndexValue(text, tile)) << text;
        EXPECT_EQ(tile, (TileIndex{7, 7})) << text;
    }

    TileIndex tile{7, 7};
    std::uint64_t count = 5;
    EXPECT_TRUE(parseTileCountValue("1,-2,30", tile, count));
    EXPECT_EQ(tile, (TileIndex{1, -2}));
    EXPECT_EQ(count, 30u);
    for (const char* text : {"1,2", "1,", "1,,3", "1,2,", "1,2,x", "1,2,18446744073709551616",
                             "1,2,3,4", "1.5,2,3", "1,2,3.5"}) {
        tile = {7, 7};
        count = 5;
        EXPECT_FALSE(parseTileCountValue(text, tile, count)) << text;
        EXPECT_EQ(tile, (TileIndex{7, 7})) << text;
        EXPECT_EQ(count, 5u) << text;
    }
}

// Every malformed form is refused, naming the section and key or the tile line.
TEST(ExportJobFile, MalformedJobsNameTheFault) {
    const std::string tilesWith = jobSection() +
                                  "[SelectedCoarseTileCounts]\nCount=0\n"
                                  "[SelectedHeightRanges]\nCount=0\n"
                                  "[SelectedCoarseTiles]\n";
    const std::string listsThen = jobSection() + kEmptyLists;
    const std::pair<std::string, std::string> cases[] = {
        {"", "section [Job] is missing"},
        {"\x89\x01\xff\xfe garbage\x13[\n\x7f==", "section [Job] is missing"},
        {kEmptyLists, "section [Job] is missing"},
        {"[Job]\nInputE57Path=/a.e57\n", "[Job] OutputE57Path is missing"},
        {"[Job]\nInputE57Path=/a.e57\nOutputE57Path=/data/..\n",
         "[Job] OutputE57Path=/data/.. names a folder, not a file"},
        {"[Job]\nInputE57Path=/a.e57\nOutputE57Path=.\n",
         "[Job] OutputE57Path=. names a folder, not a file"},
        {jobSection() + "[SelectedCoarseTiles]\nCount=0\n[SelectedHeightRanges]\nCount=0\n",
         "section [SelectedCoarseTileCounts] is missing"},
        {jobSection() + "[SelectedCoarseTiles]\nCount=0\n[SelectedCoarseTileCounts]\nCount=0\n",
         "section [SelectedHeightRanges] is missing"},
        {jobSection() + "[SelectedCoarseTiles]\nCount=0\n[SelectedCoarseTileCounts]\nCount=0\n"
                        "[SelectedHeightRanges]\nOther=1\n",
         "[SelectedHeightRanges] Count is missing"},
        {tilesWith + "Count=2\nTile0=abc\nTile1=1,2\n",
         "[SelectedCoarseTiles] Tile0=abc is not 'x,y'"},
        {tilesWith + "Count=2\nTile0=1,2\nTile1=100000;1080000\n",
         "[SelectedCoarseTiles] Tile1=100000;1080000 is not 'x,y'"},
        {tilesWith + "Count=1\nTile0=9223372036854775808,0\n",
         "[SelectedCoarseTiles] Tile0=9223372036854775808,0 is not 'x,y'"},
        {tilesWith + "Count=3\nTile0=1,2\nTile1=3,4\n", "[SelectedCoarseTiles] Tile2 is missing"},
        {tilesWith + "Count=-5\n", "[SelectedCoarseTiles] Count=-5 is not a count"},
        {tilesWith + "Count=-1\n", "[SelectedCoarseTiles] Count=-1 is not a count"},
        {tilesWith + "Count=3000000000\n",
         "[SelectedCoarseTiles] Count=3000000000 is out of range"},
        {jobSection() + "[SelectedCoarseTiles]\nCount=0\n[SelectedHeightRanges]\nCount=0\n"
                        "[SelectedCoarseTileCounts]\nCount=1\nTile0=1,2\n",
         "[SelectedCoarseTileCounts] Tile0=1,2 is not 'x,y,count'"},
        {listsThen + "[SavedTileSelections]\n", "[SavedTileSelections] Count is missing"},
        {listsThen + "[SavedTileSelections]\nCount=2\n[SavedTileSelection0]\nTileCount=0\n",
         "section [SavedTileSelection1] is missing"},
        {listsThen + "[SavedTileSelections]\nCount=1\n[SavedTileSelection0]\nTileCount=1\n"
                     "Tile0=1,x\n",
         "[SavedTileSelection0] Tile0=1,x is not 'x,y'"},
        {jobSection() + "[SelectedCoarseTiles]\nCount=0\n[SelectedCoarseTileCounts]\nCount=0\n"
                        "[SelectedHeightRanges]\nCount=1\n[SelectedHeightRange0]\nZMin=0\n",
         "[SelectedHeightRange0] ZMax is missing"},
    };
    for (const auto& [text, fault] : cases) {
        const LoadOutcome o = loadText(text);
        EXPECT_FALSE(o.ok);
        EXPECT_EQ(o.error, "Export job file: " + fault);
    }

    // A long damaged value is shown cut.
    const LoadOutcome o = loadText(tilesWith + "Count=1\nTile0=" + std::string(1000, 'z') + "\n");
    EXPECT_EQ(o.error, "Export job file: [SelectedCoarseTiles] Tile0=" + std::string(80, 'z') +
                           "... is not 'x,y'");
}

// Values that decide what is exported are refused when they would be read as something else:
// outside their documented choices, with text after the number, or a path cut at a NUL byte.
TEST(ExportJobFile, ValuesThatWouldChangeTheExportAreRefused) {
    const std::string lists =
        "[SelectedCoarseTileCounts]\nCount=1\nTile0=1,2,30\n"
        "[SelectedHeightRanges]\nCount=1\n[SelectedHeightRange0]\nZMin=0\n"
        "ZMax=108\nTileCount=0\n[SelectedCoarseTiles]\nCount=1\n";
    const auto job = [&](const std::string& middle, const std::string& tiles = "Tile0=3,4\n") {
        return jobSection(middle) + lists + tiles;
    };
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    ASSERT_TRUE(loadText(job("")).ok);
    const std::pair<std::string, std::string> cases[] = {
        {replaced(job(""), "ExportMode=0", "ExportMode=99"), "[Job] ExportMode=99 is out of range"},
        {replaced(job(""), "ExportMode=0", "ExportMode=-1"), "[Job] ExportMode=-1 is out of range"},
        {replaced(job(""), "ExportMode=0", "ExportMode=4"), "[Job] ExportMode=4 is out of range"},
        {job("OutputFormat=3\n"), "[Job] OutputFormat=3 is out of range"},
        {job("OutputFormat=7\n"), "[Job] OutputFormat=7 is out of range"},
        {job("OutputFormat=-1\n"), "[Job] OutputFormat=-1 is out of range"},
        {job("ExportContent=3\n"), "[Job] ExportContent=3 is out of range"},
        {job("ExportContent=9\n"), "[Job] ExportContent=9 is out of range"},
        {job("ExportContent=-1\n"), "[Job] ExportContent=-1 is out of range"},
        {job("ExportContent=1.5\n"), "[Job] ExportContent=1.5 is not a whole number"},
        {job("ExportRGB=0.9\n"), "[Job] ExportRGB=0.9 is not a whole number"},
        {job("EnablePhotoThirdPass=-2147483649\n"),
         "[Job] EnablePhotoThirdPass=-2147483649 is out of range"},  // would wrap to 2^31 - 1
        {replaced(job(""), "CoarseTileSize=5", "CoarseTileSize=2,5"),
         "[Job] CoarseTileSize=2,5 is not a number"},
        {replaced(job(""), "ZMin=0", "ZMin=1,5"),
         "[SelectedHeightRange0] ZMin=1,5 is not a number"},
        {replaced(job(""), "ZMax=108", "ZMax=108,5"),
         "[SelectedHeightRange0] ZMax=108,5 is not a number"},
        {replaced(job(""), "TileCount=0", "TileCount=0.5"),
         "[SelectedHeightRange0] TileCount=0.5 is not a whole number"},
        {job("", "Tile0=100002.9,1080002\n"),
         "[SelectedCoarseTiles] Tile0=100002.9,1080002 is not 'x,y'"},
        {job("", "Tile0=3,4,5\n"), "[SelectedCoarseTiles] Tile0=3,4,5 is not 'x,y'"},
        {replaced(job(""), "1,2,30", "1,2,30.5"),
         "[SelectedCoarseTileCounts] Tile0=1,2,30.5 is not 'x,y,count'"},
        {replaced(job(""), "/out/cloud_cut.e57", std::string("/out/cut.e57\0.tmp", 17)),
         "[Job] OutputE57Path holds a NUL byte"},
        {replaced(job(""), "/in/cloud.e57", std::string("/in/a\0b.e57", 11)),
         "[Job] InputE57Path holds a NUL byte"},
        {replaced(job(""), "ZMax=108", std::string("ZMax=108\0abc", 12)),
         "[SelectedHeightRange0] ZMax=108... is not a number"},
    };
    for (const auto& [text, fault] : cases) {
        const LoadOutcome o = loadText(text);
        EXPECT_FALSE(o.ok) << fault;
        EXPECT_EQ(o.error, "Export job file: " + fault);
    }
}

// What the writer writes always loads, at the limits of every field and list.
TEST(ExportJobFile, RoundTripAtTheExtremes) {
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    constexpr auto kU64 = std::numeric_limits<std::uint64_t>::max();
    ExportJob job;
    job.outputE57Path = "out.e57";
    job.inputTotalPoints = kU64;
    job.estimatedPointsToFilter = kU64;
    job.coarseTileSize = std::numeric_limits<double>::denorm_min();
    job.outputAreaM2 = std::numeric_limits<double>::max();
    job.globalMinZ = -std::numeric_limits<double>::max();
    job.exportMode = 3;
    job.selectedCoarseTiles = {{kMin, kMax}, {kMax, kMin}, {0, 0}};
    job.selectedCoarseTileCounts = {{{kMin, kMin}, kU64}, {{kMax, kMax}, 0}};
    job.savedTileSelections = {SavedTileSelection{}, SavedTileSelection{{{kMin, kMax}}}};
    job.selectedHeightRanges = {SelectedHeightRange{}};
    job.selectedHeightRanges[0].zMin = -std::numeric_limits<double>::infinity();
    job.selectedHeightRanges[0].zMax = std::numeric_limits<double>::infinity();
    for (std::int64_t i = 0; i < 10000; ++i)
        job.selectedHeightRanges[0].tiles.push_back({kMax - i, kMin + i});
    expectSameJob(roundTrip(job), job);
}
