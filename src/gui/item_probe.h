#pragma once

#include <string>
#include <unordered_map>

// Where widgets were drawn, for tests that click them in a window-less frame. Nothing is
// recorded unless a probe is installed; the program never installs one.
struct ItemRect {
    float minX = 0.0f;
    float minY = 0.0f;
    float maxX = 0.0f;
    float maxY = 0.0f;
    float centreX() const { return (minX + maxX) * 0.5f; }
    float centreY() const { return (minY + maxY) * 0.5f; }
};

struct ItemProbe {
    std::unordered_map<std::string, ItemRect> items;  // by label, the last frame's rectangle
};

void setItemProbe(ItemProbe* probe);
// Records the last drawn item's rectangle under the label when a probe is installed.
void probeLastItem(const char* label);
