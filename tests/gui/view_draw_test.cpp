#include "gui/view_draw.h"

#include <gtest/gtest.h>

#include "headless_imgui.h"

namespace {

// A captured outline drawn again elsewhere gives what ImGui's own call there gives: the same
// colours, texture coordinates and indices, positions to within a rounding.
TEST(DrawStamp, ReplaysAnOutlineAsImGuiDrawsIt) {
    guitest::HeadlessImGui ui;
    for (float thickness : {1.0f, 2.5f, 3.0f}) {
        ui.frame([&] {
            ImGui::Begin("stamp");
            ImDrawList* dl = ImGui::GetWindowDrawList();
            const ImU32 col = IM_COL32(90, 90, 90, 255);
            auto outline = [&](float x, float y) {
                dl->AddRect(ImVec2(x, y), ImVec2(x + 7.0f, y + 7.0f), col, 0.0f, 0, thickness);
            };
            DrawStamp stamp;
            stamp.capture(dl, 10.25f, 20.5f, [&] { outline(10.25f, 20.5f); });
            ASSERT_TRUE(stamp.ready());

            const int v0 = dl->VtxBuffer.Size;
            const int i0 = dl->IdxBuffer.Size;
            outline(613.75f, 41.5f);
            const unsigned directBase =
                dl->_VtxCurrentIdx - static_cast<unsigned>(stamp.vertices());
            const int v1 = dl->VtxBuffer.Size;
            const int i1 = dl->IdxBuffer.Size;
            QuadWriter writer(dl);
            QuadCursor out = writer.begin(stamp.vertices(), stamp.indices());
            const unsigned replayBase = out.base;
            out.put(stamp, 613.75f, 41.5f);
            writer.end(out);

            ASSERT_EQ(v1 - v0, stamp.vertices()) << thickness;
            ASSERT_EQ(dl->VtxBuffer.Size - v1, stamp.vertices()) << thickness;
            ASSERT_EQ(dl->IdxBuffer.Size - i1, i1 - i0) << thickness;
            for (int i = 0; i < stamp.vertices(); ++i) {
                const ImDrawVert& a = dl->VtxBuffer[v0 + i];
                const ImDrawVert& b = dl->VtxBuffer[v1 + i];
                EXPECT_NEAR(a.pos.x, b.pos.x, 1e-3f) << thickness << " vertex " << i;
                EXPECT_NEAR(a.pos.y, b.pos.y, 1e-3f) << thickness << " vertex " << i;
                EXPECT_EQ(a.uv.x, b.uv.x);
                EXPECT_EQ(a.uv.y, b.uv.y);
                EXPECT_EQ(a.col, b.col);
            }
            for (int i = 0; i < i1 - i0; ++i)
                EXPECT_EQ(dl->IdxBuffer[i0 + i] - directBase, dl->IdxBuffer[i1 + i] - replayBase)
                    << thickness << " index " << i;
            ImGui::End();
        });
    }
}

}  // namespace
