#include "points/preview/preview_session_cache.h"

#include <algorithm>
#include <random>

void clearPreviewSessionCache(PreviewSessionCache& cache) {
    cache.samples.clear();
    cache.ready = false;
    cache.sourceTileSize = 0.0;
    cache.sourceTiles = 0;
    cache.origin = SampleOrigin{};
    cache.sourceTileOfRun.clear();
    cache.sourceRunEnd.clear();
}

void buildPreviewSessionCache(PreviewSessionCache& cache, const TileSampleMap& tileSamples,
                              double tileSize, const SampleOrigin& origin) {
    cache.samples.clear();
    cache.sourceTileOfRun.clear();
    cache.sourceRunEnd.clear();
    std::size_t total = 0;
    for (const auto& entry : tileSamples) total += entry.second.size();
    cache.samples.reserve(total);
    cache.sourceTileOfRun.reserve(tileSamples.size());
    cache.sourceRunEnd.reserve(tileSamples.size());
    for (const auto& entry : tileSamples) {
        if (entry.second.empty()) continue;
        cache.samples.insert(cache.samples.end(), entry.second.begin(), entry.second.end());
        cache.sourceTileOfRun.push_back(entry.first);
        cache.sourceRunEnd.push_back(cache.samples.size());
    }
    cache.origin = origin;
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
    const bool sourceSize = tileSize == cache.sourceTileSize && !cache.sourceRunEnd.empty() &&
                            cache.sourceRunEnd.back() == cache.samples.size();
    std::size_t run = 0;

    for (std::size_t i = 0; i < cache.samples.size(); ++i) {
        const Sample2D& s = cache.samples[i];
        TileIndex tile;
        if (sourceSize) {
            while (cache.sourceRunEnd[run] <= i) ++run;
            tile = cache.sourceTileOfRun[run];
        } else if (!tryTileIndexFor(cache.origin.x + static_cast<double>(s.x),
                                    cache.origin.y + static_cast<double>(s.y), tileSize, tile)) {
            continue;  // a sample is finite, but a tiny tile size can push it out of range
        }
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
