#include "points/preview/point_io_self_tests.h"

#include <gtest/gtest.h>

#include <iomanip>
#include <iostream>
#include <string>

#include "support/test_support.h"

namespace {

std::string runReaderTest(const std::string& path, double scale = 1.0) {
    testing::internal::CaptureStdout();
    pointIoTestXyzAsciiPointReader(path, scale);
    return testing::internal::GetCapturedStdout();
}

std::string runProcessorTest(const std::string& path, double tileSize, int samples) {
    testing::internal::CaptureStdout();
    pointIoTestGenericPreviewProcessor(path, 1.0, tileSize, samples);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(PointIoSelfTests, OtherExtensionsPrintNothing) {
    testsupport::TempDir dir;
    const std::string las = (dir / "cloud.las").string();
    testsupport::writeFile(las, "1 2 3\n");
    EXPECT_EQ(runReaderTest(las), "");
    EXPECT_EQ(runProcessorTest(las, 5.0, 2000), "");
    EXPECT_EQ(runReaderTest((dir / "missing.e57").string()), "");
    EXPECT_EQ(runProcessorTest((dir / "missing.e57").string(), 5.0, 2000), "");
}

TEST(PointIoSelfTests, MissingFileOnlyReportsTheOpenFailure) {
    testsupport::TempDir dir;
    const std::string path = (dir / "missing.XYZ").string();
    EXPECT_EQ(runReaderTest(path),
              "[POINT IO TEST] testing XyzAsciiPointReader | input=" + path +
                  " | coordScaleToMeters=1\n"
                  "[POINT IO TEST] XyzAsciiPointReader open failed | error=Could not open XYZ "
                  "ASCII file: " +
                  path + " (No such file or directory)\n");
    EXPECT_EQ(runProcessorTest(path, 5.0, 2000),
              "[POINT IO TEST] testing generic CloudPoint preview processor | input=" + path +
                  " | coordScaleToMeters=1 | coarseTileSize=5 | previewSamplesPerTile=2000 | "
                  "sampledRawLineStep=250\n"
                  "[POINT IO TEST] generic preview processor open failed | error=Could not open "
                  "XYZ ASCII file: " +
                  path + " (No such file or directory)\n");
}

TEST(PointIoSelfTests, ReaderTestShowsTheFirstPointAfterAByteOrderMark) {
    testsupport::TempDir dir;
    const std::string path = (dir / "marked.xyz").string();
    testsupport::writeFile(path,
                           "\xEF\xBB\xBF"
                           "1 2 3\n4 5 6\n");
    const std::string out = runReaderTest(path);
    EXPECT_NE(out.find("[POINT IO TEST] point #1 | x=1 | y=2 | z=3 | hasRGB=false\n"),
              std::string::npos)
        << out;
}

TEST(PointIoSelfTests, ReaderTestPrintsFiveGoodPointsAfterHeaders) {
    testsupport::TempDir dir;
    const std::string path = (dir / "cloud.xyz").string();
    testsupport::writeFile(path,
                           "# header\n"
                           "x y z\n"
                           "1 2 3\n"
                           "1.5 -2.25 3e3 10 300 -5\n"
                           "0.1234567 2 3 7.5\n"
                           "1 2 3 1 2 3 0.5\n"
                           "4\t5\t6\r\n"
                           "7 8 9\n");
    // Whatever the console stream was left with, the lines use the default format.
    std::cout << std::fixed << std::setprecision(2);
    const std::string out = runReaderTest(path, 1.0);
    std::cout << std::defaultfloat << std::setprecision(6);
    EXPECT_EQ(out,
              "[POINT IO TEST] testing XyzAsciiPointReader | input=" + path +
                  " | coordScaleToMeters=1\n"
                  "[POINT IO TEST] point #1 | x=1 | y=2 | z=3 | hasRGB=false\n"
                  "[POINT IO TEST] point #2 | x=1.5 | y=-2.25 | z=3000 | hasRGB=true | "
                  "rgb=(10,255,0)\n"
                  "[POINT IO TEST] point #3 | x=0.123457 | y=2 | z=3 | hasRGB=false | "
                  "intensity=7.5\n"
                  "[POINT IO TEST] point #4 | x=1 | y=2 | z=3 | hasRGB=true | rgb=(1,2,3) | "
                  "intensity=0.5\n"
                  "[POINT IO TEST] point #5 | x=4 | y=5 | z=6 | hasRGB=false\n"
                  "[POINT IO TEST] XyzAsciiPointReader summary | printed=5 | acceptedSoFar=5 | "
                  "badLinesSoFar=2 | hasBounds=true | boundsX=[0.123457,4] | "
                  "boundsY=[-2.25,5] | boundsZ=[3,3000]\n");
}

TEST(PointIoSelfTests, ReaderTestOnAFileWithoutPoints) {
    testsupport::TempDir dir;
    const std::string path = (dir / "bad.xyz").string();
    testsupport::writeFile(path, "a b c\n\n1 2\n");
    const std::string out = runReaderTest(path, 2.5);
    EXPECT_EQ(out,
              "[POINT IO TEST] testing XyzAsciiPointReader | input=" + path +
                  " | coordScaleToMeters=2.5\n"
                  "[POINT IO TEST] XyzAsciiPointReader summary | printed=0 | acceptedSoFar=0 | "
                  "badLinesSoFar=3 | hasBounds=false\n");
}

TEST(PointIoSelfTests, ProcessorOnAShortFileFindsNothing) {
    testsupport::TempDir dir;
    const std::string path = (dir / "short.xyz").string();
    std::string text;
    for (int i = 1; i <= 249; ++i) text += std::to_string(i) + " 0 0\n";
    testsupport::writeFile(path, text);
    EXPECT_EQ(runProcessorTest(path, 5.0, 2000),
              "[POINT IO TEST] testing generic CloudPoint preview processor | input=" + path +
                  " | coordScaleToMeters=1 | coarseTileSize=5 | previewSamplesPerTile=2000 | "
                  "sampledRawLineStep=250\n"
                  "[POINT IO TEST] generic CloudPoint preview summary | accepted=0 | "
                  "readerBadLines=0 | tiles=0 | sampleTiles=0 | samples=0 | "
                  "sampleCapPerTile=2000\n");
}

TEST(PointIoSelfTests, ProcessorSamplesEvery250thLine) {
    testsupport::TempDir dir;
    const std::string path = (dir / "sampled.xyz").string();
    std::string text;
    for (int i = 1; i <= 1000; ++i) {
        if (i == 251 || i == 750)
            text += "not a point\n";  // 251 is skipped unparsed, 750 is sampled and bad
        else
            text += std::to_string(i / 100.0) + " 0 " + std::to_string(i) + "\n";
    }
    testsupport::writeFile(path, text);
    EXPECT_EQ(runProcessorTest(path, 5.0, 3),
              "[POINT IO TEST] testing generic CloudPoint preview processor | input=" + path +
                  " | coordScaleToMeters=1 | coarseTileSize=5 | previewSamplesPerTile=3 | "
                  "sampledRawLineStep=250\n"
                  "[POINT IO TEST] generic CloudPoint preview summary | accepted=3 | "
                  "readerBadLines=1 | tiles=3 | sampleTiles=3 | samples=3 | sampleCapPerTile=4 | "
                  "boundsX=[2.5,10] | boundsY=[0,0] | boundsZ=[250,1000]\n");
    // A tile size that is not positive skips every point.
    const std::string zeroTile = runProcessorTest(path, 0.0, 9000);
    EXPECT_NE(zeroTile.find("| coarseTileSize=0 | previewSamplesPerTile=9000 |"),
              std::string::npos);
    EXPECT_NE(zeroTile.find("summary | accepted=0 | readerBadLines=1 | tiles=0 | sampleTiles=0 | "
                            "samples=0 | sampleCapPerTile=5000\n"),
              std::string::npos)
        << zeroTile;
}

TEST(PointIoSelfTests, ProcessorStopsAfter100000SampledPoints) {
    testsupport::TempDir dir;
    const std::string path = (dir / "long.xyz").string();
    // 100,001 sampled lines; the 249 lines between them are empty and never parsed.
    const std::string block = std::string(249, '\n') + "1 2 3\n";
    std::string text;
    text.reserve(block.size() * 100001);
    for (int i = 0; i < 100001; ++i) text += block;
    testsupport::writeFile(path, text);
    const std::string out = runProcessorTest(path, 5.0, 2000);
    EXPECT_NE(out.find("summary | accepted=100000 | readerBadLines=0 | tiles=1 | sampleTiles=1 | "
                       "samples=2000 | sampleCapPerTile=2000 | boundsX=[1,1] | boundsY=[2,2] | "
                       "boundsZ=[3,3]\n"),
              std::string::npos)
        << out;
}
