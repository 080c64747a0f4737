#include "points/preview/preview_retile.h"

#include <algorithm>
#include <iostream>
#include <stdexcept>

#include "points/input/exception_text.h"
#include "points/preview/preview_build.h"

namespace {

void retileOrThrow(PreviewBuildSession& state, double newTileSize, int newSamplesPerTile,
                   TileCountMap& tileCounts, TileSampleMap& tileSamples) {
    // The cache is complete only once the build has said ready; the flag is read first so
    // that the cache written by the build thread is seen whole.
    if (!state.buildState.ready.load() || !state.previewCache.ready)
        throw std::runtime_error("PreviewSessionCache is not ready yet.");
    if (!(newTileSize > 0.0)) throw std::runtime_error("New preview tile size must be > 0.");
    const int cap = std::clamp(newSamplesPerTile, PreviewBuildSession::kMinSamplesPerTile,
                               PreviewBuildSession::kMaxSamplesPerTile);

    retilePreview(state.previewCache, newTileSize, cap, tileCounts, tileSamples);
    if (tileCounts.empty()) {
        tileSamples.clear();
        throw std::runtime_error("Retile produced an empty preview map.");
    }

    state.tileCounts = tileCounts;
    state.tileSamples = tileSamples;
    state.previewSamplesPerTile = cap;
    publishPreviewMaps(state.buildState, tileCounts, tileSamples, state.publishSpare,
                       &state.previewCache.origin);

    std::size_t samples = 0;
    for (const auto& entry : tileSamples) samples += entry.second.size();
    std::cout << "[PREVIEW CACHE] retile"
              << " | newTileSize=" << newTileSize << " | newSamplesPerTile=" << cap
              << " | tiles=" << tileCounts.size() << " | samples=" << samples << std::endl;
}

}  // namespace

bool retilePreviewSessionCache(PreviewBuildSession& state, double newTileSize,
                               int newSamplesPerTile, TileCountMap& tileCounts,
                               TileSampleMap& tileSamples, std::string* error) {
    try {
        retileOrThrow(state, newTileSize, newSamplesPerTile, tileCounts, tileSamples);
        if (error) error->clear();
        return true;
    } catch (const std::exception& e) {
        if (error) *error = exceptionText(e);
    } catch (...) {
        if (error) *error = "Unknown exception during retile";
    }
    return false;
}
