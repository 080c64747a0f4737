#pragma once

#include <functional>
#include <string>

#include "gui/item_probe.h"
#include "imgui.h"

namespace guitest {

// A window-less Dear ImGui context: fonts built, no renderer. frame() runs one frame with the
// current mouse and key state; click() presses and releases the left button over an item
// that the previous frame recorded through the item probe.
class HeadlessImGui {
public:
    explicit HeadlessImGui(float width = 1600.0f, float height = 1000.0f);
    ~HeadlessImGui();
    HeadlessImGui(const HeadlessImGui&) = delete;
    HeadlessImGui& operator=(const HeadlessImGui&) = delete;

    // One frame: NewFrame, draw(), Render.
    void frame(const std::function<void()>& draw);
    // Moves the mouse over the item and clicks it (three frames: hover, press, release).
    // False (and no click) when the last frame recorded no item of that label.
    bool click(const std::string& label, const std::function<void()>& draw, bool ctrl = false);
    // Clicks at a position (three frames).
    void clickAt(float x, float y, const std::function<void()>& draw, bool ctrl = false);
    bool has(const std::string& label) const { return probe_.items.count(label) != 0; }
    const ItemRect& item(const std::string& label) const { return probe_.items.at(label); }
    ImGuiIO& io() { return ImGui::GetIO(); }

private:
    ImGuiContext* context_ = nullptr;
    ItemProbe probe_;
};

}  // namespace guitest
