#include "points/preview/point_io_self_tests.h"

#include <gtest/gtest.h>

#include <string>

#include "points/preview/preview_build.h"
#include "points/preview/preview_build_session.h"
#include "support/test_support.h"

namespace {

std::string completedLine(const std::string& out) {
    const auto at = out.find("[XYZ PREVIEW - POINT IO] completed");
    return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
}

}  // namespace

// The self-test stops after 100,000 sampled points, mid-file; the build that goes on with its
// read must end exactly as a build that reads the file itself.
TEST(XyzReadAhead, BuildAfterTheSelfTestsEqualsABuildOnItsOwn) {
    testsupport::TempDir dir;
    const std::string path = (dir / "cloud.xyz").string();
    std::string text;
    const std::string gap(249, '\n');  // never parsed
    for (int i = 0; i < 100700; ++i) {
        text += gap;
        if (i % 997 == 0)
            text += "bad\n";
        else
            text += std::to_string(i % 113) + "." + std::to_string(i % 7) + " " +
                    std::to_string(i % 29) + " " + std::to_string(i) + "\n";
    }
    text += gap + "500 500 1";  // a tile of its own, after the self-test's stop, without '\n'
    testsupport::writeFile(path, text);

    PreviewBuildSession withSelfTests;
    withSelfTests.inputPath = path;
    withSelfTests.outputFolder = (dir / "out").string();
    withSelfTests.previewSamplesPerTile = 40;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(startBuildThread(withSelfTests, 0));
    joinBuildThread(withSelfTests);
    const std::string outA = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(withSelfTests.buildState.ready);
    ASSERT_NE(outA.find("summary | accepted=100000 |"), std::string::npos) << outA;

    PreviewBuildSession alone;
    alone.buildInputPath = path;
    alone.previewSamplesPerTile = 40;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(buildPreviewFromInput(alone));
    const std::string outB = testing::internal::GetCapturedStdout();

    EXPECT_EQ(completedLine(outA), completedLine(outB));
    EXPECT_NE(completedLine(outA).find("rawLines=25175250 | sampledPts=100599 | badLines=102"),
              std::string::npos)
        << outA;
    EXPECT_EQ(withSelfTests.buildState.bytesRead.load(), text.size());
    EXPECT_EQ(withSelfTests.tileCounts, alone.tileCounts);
    EXPECT_EQ(withSelfTests.tileSamples.size(), alone.tileSamples.size());
    EXPECT_TRUE(withSelfTests.tileSamples == alone.tileSamples);
}
