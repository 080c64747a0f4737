#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "gui/tile_selection_gui.h"

namespace {

// Puts an environment variable back as it was when the test ends.
class EnvRestore {
public:
    explicit EnvRestore(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) value_ = v;
    }
    ~EnvRestore() {
        if (value_) {
            setenv(name_, value_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> value_;
};

TEST(TileSelectionGui, WithoutADisplayReturnsFalseWithTheReasonAndCallsNothing) {
    EnvRestore display("DISPLAY");
    EnvRestore wayland("WAYLAND_DISPLAY");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");

    TileCountMap counts;
    TileSampleMap samples;
    double tileSize = 5.0;
    int samplesPerTile = 2000;
    TileSet selected;
    std::vector<SelectedHeightRange> vertical;
    std::vector<SavedTileSelection> top;
    int exportMode = 0;
    int previewMode = 0;
    std::string inputPath = "scan.e57";
    std::string outputFolder = "/tmp/out";
    int calls = 0;
    std::string error = "stale";
    const bool result = runTileSelectionGui(
        counts, samples, tileSize, samplesPerTile, selected, vertical, top, exportMode, previewMode,
        inputPath, outputFolder, nullptr, nullptr, nullptr, [&](int) { ++calls; },
        [&](int, bool, bool) { ++calls; },
        [&](double, int, TileCountMap&, TileSampleMap&, std::string*) { return ++calls > 0; },
        &error);
    EXPECT_FALSE(result);
    const std::string prefix = "could not open the window: ";
    ASSERT_GT(error.size(), prefix.size()) << error;
    EXPECT_EQ(error.substr(0, prefix.size()), prefix);
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(inputPath, "scan.e57");
    EXPECT_EQ(tileSize, 5.0);
}

}  // namespace
