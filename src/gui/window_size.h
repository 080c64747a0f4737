#pragma once

#include <optional>

struct WindowExtent {
    int width = 0;
    int height = 0;
};

// The window's first size: half the primary monitor's video mode, at least 1100 x 800;
// 1200 x 800 without a monitor.
WindowExtent initialWindowSize(std::optional<WindowExtent> videoMode);

// The left panel's measurement: the window height that shows the whole panel without
// scrolling and without more than 120 px of empty space below it, or -1 when the height fits.
int measureWantedWindowHeight(float scrollMaxY, float panelHeight, float cursorY, float paddingY,
                              int windowHeight);

// What the window's height is set to after the frame, or -1 to leave it: the wanted height
// clamped to [800, monitor height - 80] (1600 without a monitor), only when it moves by at
// least 32 px, at most once per 0.25 s and never while the window is maximised.
int autoResizeTarget(int wantedHeight, int currentHeight, std::optional<int> monitorHeight,
                     double now, double lastResizeTime, bool maximised);
