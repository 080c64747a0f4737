#include "gui/item_probe.h"

#include "imgui.h"

namespace {
ItemProbe* activeProbe = nullptr;
}

void setItemProbe(ItemProbe* probe) { activeProbe = probe; }

void probeLastItem(const char* label) {
    if (!activeProbe) return;
    const ImVec2 a = ImGui::GetItemRectMin();
    const ImVec2 b = ImGui::GetItemRectMax();
    activeProbe->items[label] = ItemRect{a.x, a.y, b.x, b.y};
}
