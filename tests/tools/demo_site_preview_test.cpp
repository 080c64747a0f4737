#include "demo_cloud/demo_cloud.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "points/preview/preview_build.h"
#include "points/preview/preview_retile.h"
#include "support/test_support.h"

using testsupport::TempDir;

namespace {

// Every sample's point (origin + sample) lies in the tile it is kept under.
std::size_t samplesOutsideTheirTile(const TileSampleMap& m, const SampleOrigin& o,
                                    double tileSize) {
    std::size_t outside = 0;
    for (const auto& [tile, list] : m)
        for (const Sample2D& s : list)
            outside += !(tileIndexFor(o.x + s.x, o.y + s.y, tileSize) == tile);
    return outside;
}

}  // namespace

// The demo site (60 m square at survey coordinates, 12 x 12 tiles of 5 m) read exactly from an
// E57 file and sampled from a LAS file: the rebuild test finds the build's tiles and samples,
// every sample lies in its own tile, and 5 m -> 2.5 m -> 5 m gives the build's maps back.
TEST(DemoSitePreview, RetileFromTheCacheGivesTheBuildsMapsBack) {
    TempDir dir;
    const struct {
        const char* name;
        democloud::DemoFormat format;
    } inputs[] = {{"site.e57", democloud::DemoFormat::E57Rgb},
                  {"site.las", democloud::DemoFormat::Las12Format0}};
    for (const auto& input : inputs) {
        SCOPED_TRACE(input.name);
        const std::string path = (dir / input.name).string();
        std::string error;
        ASSERT_TRUE(democloud::writeDemoCloud(path, input.format, 300000, 7, nullptr, &error, 2))
            << error;
        PreviewBuildSession state;
        state.inputPath = path;
        state.outputFolder = (dir / "out").string();
        testing::internal::CaptureStdout();
        ASSERT_TRUE(startBuildThread(state, EXACT_POINT_STREAM));
        joinBuildThread(state);
        const std::string out = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(state.buildState.ready.load());

        const std::size_t tiles = state.tileSamples.size();
        EXPECT_GE(tiles, 144u);  // a few noise points lie outside the site
        const std::size_t samples = state.previewCache.samples.size();
        EXPECT_NE(out.find("[PREVIEW CACHE] rebuild test | tileSize=5 | originalTiles=" +
                           std::to_string(tiles) + " | rebuiltTiles=" + std::to_string(tiles) +
                           " | originalSamples=" + std::to_string(samples) +
                           " | rebuiltSamples=" + std::to_string(samples)),
                  std::string::npos)
            << out;
        const SampleOrigin origin = state.previewCache.origin;
        EXPECT_EQ(std::fmod(origin.x, 5.0), 0.0);  // the first point's tile corner
        EXPECT_NEAR(origin.y, democloud::kOriginY + 30.0, 40.0);
        EXPECT_EQ(samplesOutsideTheirTile(state.tileSamples, origin, 5.0), 0u);

        const TileSampleMap built = state.tileSamples;
        TileCountMap counts;
        TileSampleMap retiled;
        ASSERT_TRUE(retilePreviewSessionCache(state, 2.5, 2000, counts, retiled, &error)) << error;
        EXPECT_EQ(samplesOutsideTheirTile(retiled, origin, 2.5), 0u);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(retilePreviewSessionCache(state, 5.0, 2000, counts, retiled, &error)) << error;
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(retiled == built);
        for (const auto& [tile, list] : built) EXPECT_EQ(counts.at(tile), list.size());
    }
}
