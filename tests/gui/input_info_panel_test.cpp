#include "gui/input_info_panel.h"

#include <gtest/gtest.h>

#include "startup_test_fixture.h"

namespace {

TEST(RetileEnabled, NeedsANewPairACallbackAndNoExport) {
    struct Case {
        bool callback;
        double newTileSize;
        int newSamples;
        bool exportRunning;
        bool enabled;
    };
    const Case cases[] = {
        {true, 5.0, 2000, false, false},       {true, 5.0 + 1e-10, 2000, false, false},
        {true, 5.0 + 1e-8, 2000, false, true}, {true, 5.0, 1000, false, true},
        {false, 2.0, 2000, false, false},      {true, 2.0, 2000, true, false},
        {true, 0.0, 1000, false, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(
            retileEnabled(c.callback, c.newTileSize, c.newSamples, 5.0, 2000, c.exportRunning),
            c.enabled)
            << c.newTileSize << " " << c.newSamples;
}

TEST(RetilePanel, ASuccessfulRetileReplacesTheMapsAndClearsSelections) {
    guitest::HeadlessImGui ui;
    guitest::StartupFixture fx;
    fx.counts[TileIndex{0, 0}] = 10;
    fx.selected.insert(TileIndex{0, 0});
    fx.top.emplace_back();
    fx.proc.highlightedTopSelection = 0;
    fx.proc.retileTileSize = 2.0;
    int calls = 0;
    fx.in.retileCallback = [&](double size, int samples, TileCountMap& counts, TileSampleMap&,
                               std::string*) {
        ++calls;
        EXPECT_EQ(size, 2.0);
        EXPECT_EQ(samples, 2000);
        counts[TileIndex{1, 1}] = 4;
        counts[TileIndex{1, 2}] = 6;
        return true;
    };
    const auto draw = fx.drawer([](GuiFrame& f) { drawInputInformation(f); });
    ui.frame(draw);
    ASSERT_TRUE(ui.click("Rebuild preview map from cache", draw));
    EXPECT_EQ(calls, 1);  // the same pair again: the button is off
    EXPECT_EQ(fx.tileSize, 2.0);
    EXPECT_TRUE(fx.gui.switchedToSelection);
    EXPECT_EQ(fx.gui.selectionTileCounts.size(), 2u);
    EXPECT_TRUE(fx.selected.empty() && fx.top.empty());
    EXPECT_EQ(fx.proc.highlightedTopSelection, -1);
    EXPECT_EQ(fx.proc.retileMessage,
              "Preview map rebuilt from cache. Previous selections were cleared.");

    fx.proc.retileTileSize = 3.0;
    fx.in.retileCallback = [](double, int, TileCountMap&, TileSampleMap&, std::string*) {
        return false;
    };
    ui.frame(draw);
    ASSERT_TRUE(ui.click("Rebuild preview map from cache", draw));
    EXPECT_EQ(fx.tileSize, 2.0);
    EXPECT_EQ(fx.gui.selectionTileCounts.size(), 2u);
    EXPECT_EQ(fx.proc.retileMessage, "Preview retile failed.");
}

}  // namespace
