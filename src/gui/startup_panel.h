#pragma once

#include <cstddef>
#include <string>

#include "gui/file_browse.h"
#include "gui/gui_frame.h"

// The startup screen's configuration block (inside the guarded upper part of the left panel).
void drawStartupConfiguration(GuiFrame& f);
// The startup screen's action area: the load gating line, the load buttons and "Close".
void drawStartupActions(GuiFrame& f);

// The two "Browse" buttons open these (true with a chosen path): the native dialogs unless a
// test puts its own; while one is null its button does nothing.
struct StartupBrowseHooks {
    bool (*browseInput)(std::string& path) = browseInputPointCloudFile;
    bool (*browseOutput)(std::string& path) = browseOutputFolder;
};
void setStartupBrowseHooks(const StartupBrowseHooks& hooks);

// The values the startup fields accept: a tile size of 0 or below becomes 1.0, samples per
// tile are held to the build's range.
double acceptedStartupTileSize(double tileSize);
int acceptedSamplesPerTile(int samplesPerTile);
