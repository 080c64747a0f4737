#pragma once

#include <algorithm>
#include <cstddef>

#include "imgui.h"

// Whole labels at any panel width: a button is never narrower than its label, and an item
// that would run past the window's content edge starts the next line instead.

// The width a button needs for its whole label (the text before any "##").
inline float buttonWidthFor(const char* label) {
    return ImGui::CalcTextSize(label, nullptr, true).x + 2.0f * ImGui::GetStyle().FramePadding.x;
}

// The width a checkbox needs with its whole label.
inline float checkboxWidthFor(const char* label) {
    return ImGui::GetFrameHeight() + ImGui::GetStyle().ItemInnerSpacing.x +
           ImGui::CalcTextSize(label, nullptr, true).x;
}

// Pushes an item width (PopItemWidth after) at which widgets whose labels stand to their right
// keep every one of the given labels within the content edge.
template <std::size_t N>
void pushItemWidthForLabels(const char* const (&labels)[N]) {
    float widest = 0.0f;
    for (const char* label : labels) widest = std::max(widest, ImGui::CalcTextSize(label).x);
    const float room =
        ImGui::GetContentRegionAvail().x - ImGui::GetStyle().ItemInnerSpacing.x - widest;
    ImGui::PushItemWidth(std::max(std::min(ImGui::CalcItemWidth(), room), 40.0f));
}

// Before the next item of the given width: keeps it on the last item's line when it ends
// within the content edge, else leaves it on a line of its own.
inline void sameLineIfFits(float nextWidth) {
    const float end = ImGui::GetItemRectMax().x + ImGui::GetStyle().ItemSpacing.x + nextWidth;
    const float edge = ImGui::GetWindowPos().x + ImGui::GetWindowContentRegionMax().x;
    if (end <= edge) ImGui::SameLine();
}
