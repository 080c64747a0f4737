#include "gui/window_size.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

WindowExtent initialWindowSize(std::optional<WindowExtent> videoMode) {
    if (!videoMode) return WindowExtent{1200, 800};
    return WindowExtent{std::max(videoMode->width / 2, 1100), std::max(videoMode->height / 2, 800)};
}

int measureWantedWindowHeight(float scrollMaxY, float panelHeight, float cursorY, float paddingY,
                              int windowHeight) {
    if (scrollMaxY > 4.0f) {
        return static_cast<int>(std::ceil(scrollMaxY)) + windowHeight + 48;
    }
    const float slack = panelHeight - (cursorY + paddingY + 16.0f);
    if (slack > 180.0f) return windowHeight - static_cast<int>(std::ceil(slack - 120.0f));
    return -1;
}

int autoResizeTarget(int wantedHeight, int currentHeight, std::optional<int> monitorHeight,
                     double now, double lastResizeTime, bool maximised) {
    if (wantedHeight <= 0 || maximised) return -1;
    const int limit = monitorHeight ? std::max(*monitorHeight - 80, 800) : 1600;
    const int target = std::clamp(wantedHeight, 800, limit);
    if (std::abs(target - currentHeight) < 32 || now - lastResizeTime <= 0.25) return -1;
    return target;
}
