#include "points/input/e57_preflight.h"

#include <gtest/gtest.h>

#include "points/input/e57_input_check.h"
#include "support/test_support.h"

namespace {

std::string sharedE57(const char* name) {
    return (testsupport::sharedTestData() / "e57" / name).string();
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(E57Preflight, SignatureAndMetadataCut) {
    const unsigned char sig[8] = {'A', 'S', 'T', 'M', 0, 0x7f, ' ', '~'};
    EXPECT_EQ(printableSignature(sig, 8), "ASTM.. ~");

    const std::string exact(4000, 'm');
    EXPECT_EQ(cutCoordinateMetadata(exact), exact);
    const std::string longer = exact + "X";
    EXPECT_EQ(cutCoordinateMetadata(longer), exact + "\n...[truncated]...");
}

TEST(E57Preflight, PathFailures) {
    E57PreflightAnalysis a;
    std::string error;
    EXPECT_FALSE(analyzeE57Preflight("", a, &error));
    EXPECT_TRUE(a.attempted);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(error, "Input E57 path is empty.");

    testsupport::TempDir dir;
    EXPECT_FALSE(analyzeE57Preflight((dir / "missing.e57").string(), a, &error));
    EXPECT_EQ(error, "Input E57 file does not exist.");
    EXPECT_EQ(a.error, error);

    // Refused before the library opens it, which would wait on a FIFO.
    const auto folder = dir / "folder.e57";
    std::filesystem::create_directory(folder);
    EXPECT_FALSE(analyzeE57Preflight(folder.string(), a, &error));
    EXPECT_EQ(error, "E57 input is not a regular file: " + folder.string());

    // A missing input is the library's to name; a link to a file is read.
    EXPECT_EQ(e57InputRefusal((dir / "missing.e57").string()), "");
    testsupport::writeFile(dir / "file.e57", "x");
    std::filesystem::create_symlink(dir / "file.e57", dir / "link.e57");
    EXPECT_EQ(e57InputRefusal((dir / "link.e57").string()), "");
}

TEST(E57Preflight, ShortFileReportsTheLibraryFailure) {
    testsupport::TempDir dir;
    const auto path = (dir / "short.e57").string();
    testsupport::writeFile(path, "ASTM-E57");

    E57PreflightAnalysis a;
    std::string error;
    EXPECT_FALSE(readE57BinaryHeader(path, a, &error));
    EXPECT_EQ(error, "Could not read the 48-byte E57 header.");
    EXPECT_FALSE(a.header.headerRead);

    EXPECT_FALSE(analyzeE57Preflight(path, a, &error));
    EXPECT_FALSE(a.ok);
    EXPECT_FALSE(error.empty());
    EXPECT_NE(error, "Could not read the 48-byte E57 header.");
    EXPECT_EQ(a.error, error);
}

TEST(E57Preflight, ScanFileWithoutImages) {
    REQUIRE_SHARED_TESTDATA();
    E57PreflightAnalysis a;
    std::string error = "stale";
    ASSERT_TRUE(analyzeE57Preflight(sharedE57("bunnyDouble.e57"), a, &error)) << error;
    EXPECT_TRUE(error.empty());
    EXPECT_TRUE(a.ok);
    EXPECT_FALSE(a.partial);
    EXPECT_TRUE(a.header.headerRead);
    EXPECT_EQ(a.header.signature, "ASTM-E57");
    EXPECT_EQ(a.header.versionMajor, 1u);
    EXPECT_EQ(a.header.pageSize, 1024u);
    EXPECT_EQ(a.header.physicalLength, 743424u);
    EXPECT_EQ(a.data3DScans, 1);
    EXPECT_EQ(a.image2DBlocks, 0);
    EXPECT_EQ(a.totalPoints, 30571u);
    EXPECT_EQ(a.cartesianScans, 1);
    EXPECT_EQ(a.nonCartesianScans, 0);
    EXPECT_EQ(a.rgbScans, 0);
    ASSERT_EQ(a.scans.size(), 1u);
    EXPECT_EQ(a.scans[0].points, 30571);

    const std::string report = formatPreflightReport(a);
    EXPECT_EQ(report.rfind("E57 preflight analysis\nInput file: ", 0), 0u);
    EXPECT_TRUE(contains(
        report,
        "\nAnalysis OK: 1\nAnalysis partial: 0\n\nBinary file header\nSignature: ASTM-E57\n"));
    EXPECT_TRUE(
        contains(report, "\nScan 0 | points=30571 | xyz=(1,1,1) | rgb=(0,0,0) | intensity=0"));
    EXPECT_TRUE(
        contains(report,
                 "Image2D types by count\n<empty>\nProjection types by count\n<empty>\n"
                 "Mask types by count\n<empty>\nVisual reference types by count\n<empty>\n"));
    EXPECT_TRUE(report.ends_with("\nPer-Image2D summary\n"));
    EXPECT_FALSE(contains(report, "Error: "));
}

TEST(E57Preflight, PinholeImages) {
    REQUIRE_SHARED_TESTDATA();
    E57PreflightAnalysis a;
    std::string error;
    ASSERT_TRUE(
        analyzeE57Preflight(sharedE57("PinholeImageWithDistortionParameters.e57"), a, &error))
        << error;
    EXPECT_EQ(a.rootGuid, "Pinhole image with distortion parameters GUID");
    EXPECT_EQ(a.data3DScans, 0);
    EXPECT_EQ(a.image2DBlocks, 3);
    ASSERT_EQ(a.images.size(), 3u);
    for (const auto& im : a.images) {
        EXPECT_TRUE(im.getSizesOk);
        EXPECT_EQ(im.proj, 2);       // pinhole
        EXPECT_EQ(im.imageType, 1);  // JPEG
        EXPECT_EQ(im.size, 375);
        EXPECT_EQ(im.width, 1);
        EXPECT_FALSE(im.hasMask);
    }
    EXPECT_EQ(a.imageTypeCounts, (std::map<std::int32_t, std::int64_t>{{1, 3}}));
    EXPECT_EQ(a.projectionTypeCounts, (std::map<std::int32_t, std::int64_t>{{2, 3}}));
    EXPECT_TRUE(a.maskTypeCounts.empty());

    const std::string report = formatPreflightReport(a);
    EXPECT_TRUE(contains(report, "Image2D types by count\n  type=1 (1) | count=3\n"));
    EXPECT_TRUE(contains(report,
                         "Image 1 | assocGuid=<empty> | getSizesOk=1 | proj=2 (2) | imageType=1 (1)"
                         " | maskType=0 (0) | visualType=0 (0) | width=1 | height=1 | size=375"
                         " | hasMask=0 | hasVisualRef=0\n"));
}

TEST(E57Preflight, DamagedFilesFailCleanly) {
    REQUIRE_SHARED_TESTDATA();
    for (const char* name : {"bad-crc.e57"}) {
        E57PreflightAnalysis a;
        std::string error;
        EXPECT_FALSE(analyzeE57Preflight(sharedE57(name), a, &error)) << name;
        EXPECT_FALSE(a.ok);
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(a.header.headerRead);
    }
    E57PreflightAnalysis a;
    std::string error;
    ASSERT_TRUE(analyzeE57Preflight(sharedE57("empty.e57"), a, &error)) << error;
    EXPECT_EQ(a.data3DScans, 0);
    EXPECT_EQ(a.image2DBlocks, 0);
    EXPECT_TRUE(formatPreflightReport(a).ends_with(
        "Per-scan summary\n\nImage2D grouped summary\n"
        "GetImage2DSizes failures: 0\nImages with masks: 0\n"
        "Images with visual references: 0\nImage2D types by count\n<empty>\n"
        "Projection types by count\n<empty>\nMask types by count\n<empty>\n"
        "Visual reference types by count\n<empty>\n\nPer-Image2D summary\n"));
}

TEST(E57Preflight, ReportOfAPartialImagePass) {
    // A record as the analysis leaves it when the third image could not be read.
    E57PreflightAnalysis a;
    a.attempted = a.ok = a.partial = true;
    a.inputPath = "site.e57";
    a.firstFailedImage2DIndex = 2;
    a.firstImage2DError = "ReadImage2D() returned false during preflight | imageIndex=2";
    a.error = a.firstImage2DError;
    a.scans.push_back(E57ScanSummary{});
    a.scans[0].points = -5;
    a.scans[0].rowIndex = true;
    a.scans[0].translationX = 1.5;
    const std::string report = formatPreflightReport(a);
    EXPECT_TRUE(contains(
        report,
        "Analysis partial: 1\nError: ReadImage2D() returned false during preflight | imageIndex=2\n"
        "First Image2D read error: ReadImage2D() returned false during preflight | imageIndex=2\n"
        "First failed Image2D index: 2\n\n"));
    EXPECT_TRUE(
        contains(report, "| row=1 | col=0\n    pose.t = (1.5, 0, 0)\n\nImage2D grouped summary"));
    EXPECT_TRUE(contains(report, "Coordinate / XML metadata preview\n<empty>\n"));
}
