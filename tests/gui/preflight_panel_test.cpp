#include "gui/preflight_panel.h"

#include <gtest/gtest.h>

#include <cstring>

#include "headless_imgui.h"
#include "support/test_support.h"

namespace {

struct PanelFixture {
    char path[1024] = {};
    E57PreflightAnalysis analysis;
    bool busy = false;
    PreflightPanelContext context{path, analysis, busy};
    std::function<void()> drawer(bool startup) {
        return [this, startup] {
            ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f));
            ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
            ImGui::Begin(startup ? "startup test" : "persistent test", nullptr,
                         ImGuiWindowFlags_NoSavedSettings);
            drawE57PreflightPanel(context, startup ? "startup" : "persistent", startup);
            ImGui::End();
        };
    }
};

TEST(PreflightPanel, ReadsTheHeaderOnlyOnceOpenedAndMatchesATrimmedPath) {
    REQUIRE_SHARED_TESTDATA();
    const std::string file = (testsupport::sharedTestData() / "e57/ColouredCubeFloat.e57").string();
    guitest::HeadlessImGui ui;
    PanelFixture fx;
    std::snprintf(fx.path, sizeof(fx.path), "%s  ", file.c_str());
    const auto draw = fx.drawer(true);
    ui.frame(draw);
    EXPECT_FALSE(ui.has("Read E57 header + metadata"));
    ASSERT_TRUE(ui.click("E57 header / XML metadata preview", draw));
    ASSERT_TRUE(ui.has("Read E57 header + metadata"));
    EXPECT_FALSE(ui.has("Copy analysis to clipboard"));
    ASSERT_TRUE(ui.click("Read E57 header + metadata", draw));
    EXPECT_TRUE(fx.analysis.attempted && fx.analysis.ok);
    EXPECT_EQ(fx.analysis.inputPath, file);
    EXPECT_GE(fx.analysis.data3DScans, 1);
    ui.frame(draw);
    EXPECT_TRUE(ui.has("Copy analysis to clipboard"));  // the record matches the padded path

    PanelFixture persistent;  // the tile-selection panel never starts an analysis
    persistent.analysis = fx.analysis;
    std::snprintf(persistent.path, sizeof(persistent.path), "%s", file.c_str());
    const auto drawPersistent = persistent.drawer(false);
    ui.frame(drawPersistent);
    ASSERT_TRUE(ui.click("E57 header / XML metadata preview", drawPersistent));
    EXPECT_FALSE(ui.has("Read E57 header + metadata"));
    EXPECT_TRUE(ui.has("Copy analysis to clipboard"));
    std::strcat(persistent.path, "x");  // an edited path hides the record
    ui.frame(drawPersistent);
    EXPECT_FALSE(ui.has("Copy analysis to clipboard"));
}

TEST(PreflightPanel, SummaryWordsForScansAndImages) {
    E57PreflightAnalysis noScans;
    EXPECT_STREQ(cartesianSummaryLine(noScans).text, "Cartesian scans: unknown");
    EXPECT_STREQ(photoPreservationNote(noScans).first.text,
                 "This file contains no Image2D photo blocks.");
    noScans.image2DBlocks = 1;
    EXPECT_STREQ(photoPreservationNote(noScans).first.text,
                 "For this type of file, photos cannot be safely saved in a third pass.");
    E57PreflightAnalysis cartesian = noScans;
    cartesian.data3DScans = 2;
    EXPECT_STREQ(photoPreservationNote(cartesian).first.text,
                 "For this type of file, photos can be saved in a third pass.");

    E57ImageSummary image;
    image.index = 3;
    EXPECT_EQ(imageListLine(image), "Image 3 | assocGuid=<empty> | GetImage2DSizes FAILED");
    image.getSizesOk = true;
    image.assocGuid = "g";
    image.proj = 1;
    image.width = 4;
    image.height = 3;
    image.size = 12;
    image.hasVisualRef = true;
    EXPECT_EQ(imageListLine(image),
              "Image 3 | assocGuid=g | proj=1 (1) | imageType=0 (0) | mask=0 | visual=1 | 4 x 3 | "
              "size=12");
}

}  // namespace
