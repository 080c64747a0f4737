#pragma once

#include <cstddef>
#include <string>

#include "gui/gui_frame.h"

// The startup screen's configuration block (inside the guarded upper part of the left panel).
void drawStartupConfiguration(GuiFrame& f);
// The startup screen's action area: the load gating line, the load buttons and "Close".
void drawStartupActions(GuiFrame& f);

// The two "Browse" buttons open these (true with a chosen path); while one is null its button
// does nothing. The window sets them when it starts.
struct StartupBrowseHooks {
    bool (*browseInput)(std::string& path) = nullptr;
    bool (*browseOutput)(std::string& path) = nullptr;
};
void setStartupBrowseHooks(const StartupBrowseHooks& hooks);

// The values the startup fields accept: a tile size of 0 or below becomes 1.0, samples per
// tile are held to the build's range.
double acceptedStartupTileSize(double tileSize);
int acceptedSamplesPerTile(int samplesPerTile);

// Copies at most size - 1 characters and terminates; nothing when size is 0.
void copyPathToBuffer(char* buffer, const std::string& text, std::size_t size);
