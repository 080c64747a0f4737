#include "headless_imgui.h"

#include <gtest/gtest.h>

namespace {

TEST(HeadlessImGui, ClicksAProbedButtonOnceAndCtrlReachesTheFrame) {
    guitest::HeadlessImGui ui;
    int clicks = 0;
    bool ctrlSeen = false;
    auto draw = [&] {
        ImGui::Begin("probe test");
        if (ImGui::Button("Press me")) {
            ++clicks;
            ctrlSeen = ImGui::GetIO().KeyCtrl;
        }
        probeLastItem("Press me");
        ImGui::End();
    };
    ui.frame(draw);
    ASSERT_TRUE(ui.has("Press me"));
    ASSERT_TRUE(ui.click("Press me", draw, true));
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(ctrlSeen);
    EXPECT_FALSE(ui.click("Missing", draw));
}

}  // namespace
