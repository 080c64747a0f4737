#include "points/preview_session_cache.h"

#include <algorithm>
#include <iostream>
#include <random>
#include <stdexcept>

#include "points/preview_build.h"
#include "points/program_state.h"

void clearPreviewSessionCache(PreviewSessionCache& cache) {
    cache.samples.clear();
    cache.ready = false;
    cache.sourceTileSize = 0.0;
    cache.sourceTiles = 0;
}

void buildPreviewSessionCache(PreviewSessionCache& cache, const TileSampleMap& tileSamples,
                              double tileSize) {
    cache.samples.clear();
    std::size_t total = 0;
    for (const auto& entry : tileSamples) total += entry.second.size();
    cache.samples.reserve(total);
    for (const auto& entry : tileSamples)
        cache.samples.insert(cache.samples.end(), entry.second.begin(), entry.second.end());
    cache.ready = !cache.samples.empty();
    cache.sourceTileSize = tileSize;
    cache.sourceTiles = tileSamples.size();
}

void retilePreview(const PreviewSessionCache& cache, double tileSize, int samplesPerTile,
                   TileCountMap& tileCounts, TileSampleMap& tileSamples) {
    tileCounts.clear();
    tileSamples.clear();
    if (!cache.ready || !(tileSize > 0.0)) return;

    const auto cap = static_cast<std::uint64_t>(std::clamp(samplesPerTile, 4, 5000));
    tileCounts.reserve(cache.samples.size());
    tileSamples.reserve(cache.sourceTiles == 0 ? 1024 : cache.sourceTiles);
    std::mt19937_64 generator(987654321);

    for (const Sample2D& s : cache.samples) {
        TileIndex tile;
        // A sample is finite, but a tiny tile size can push its quotient out of range.
        if (!tryTileIndexFor(static_cast<double>(s.x), static_cast<double>(s.y), tileSize, tile))
            continue;
        const std::uint64_t count = ++tileCounts[tile];
        std::vector<Sample2D>& list = tileSamples[tile];
        if (list.size() < cap) {
            list.push_back(s);
        } else {
            const std::uint64_t r = generator() % std::max<std::uint64_t>(count, 1);
            if (r < cap) list[r % list.size()] = s;
        }
    }
}

namespace {

void retileOrThrow(ProgramState& state, double newTileSize, int newSamplesPerTile,
                   TileCountMap& tileCounts, TileSampleMap& tileSamples) {
    // The cache is complete only once the build has said ready; the flag is read first so
    // that the cache written by the build thread is seen whole.
    if (!state.buildState.ready.load() || !state.previewCache.ready)
        throw std::runtime_error("PreviewSessionCache is not ready yet.");
    if (!(newTileSize > 0.0)) throw std::runtime_error("New preview tile size must be > 0.");
    const int cap = std::clamp(newSamplesPerTile, ProgramState::kMinSamplesPerTile,
                               ProgramState::kMaxSamplesPerTile);

    retilePreview(state.previewCache, newTileSize, cap, tileCounts, tileSamples);
    if (tileCounts.empty()) {
        tileSamples.clear();
        throw std::runtime_error("Retile produced an empty preview map.");
    }

    state.tileCounts = tileCounts;
    state.tileSamples = tileSamples;
    state.previewSamplesPerTile = cap;
    publishPreviewMaps(state.buildState, tileCounts, tileSamples, state.publishSpare);

    std::size_t samples = 0;
    for (const auto& entry : tileSamples) samples += entry.second.size();
    std::cout << "[PREVIEW CACHE] retile"
              << " | newTileSize=" << newTileSize << " | newSamplesPerTile=" << cap
              << " | tiles=" << tileCounts.size() << " | samples=" << samples << std::endl;
}

}  // namespace

bool retilePreviewSessionCache(ProgramState& state, double newTileSize, int newSamplesPerTile,
                               TileCountMap& tileCounts, TileSampleMap& tileSamples,
                               std::string* error) {
    try {
        retileOrThrow(state, newTileSize, newSamplesPerTile, tileCounts, tileSamples);
        if (error) error->clear();
        return true;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
    } catch (...) {
        if (error) *error = "Unknown exception during retile";
    }
    return false;
}
