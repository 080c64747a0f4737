#include "gui/live_snapshot.h"

#include <mutex>

namespace {

template <class Map, class Assign>
void copyInto(Map& dst, const Map& src, Assign assign) {
    if (dst.size() > src.size()) dst.clear();
    if (dst.empty()) dst.reserve(src.size());
    for (const auto& entry : src) assign(dst[entry.first], entry.second);
    if (dst.size() != src.size()) {  // dst held tiles that src no longer has
        dst.clear();
        for (const auto& entry : src) assign(dst[entry.first], entry.second);
    }
}

}  // namespace

void copyTileMaps(TileCountMap& dstCounts, TileSampleMap& dstSamples, const TileCountMap& counts,
                  const TileSampleMap& samples) {
    copyInto(dstCounts, counts, [](std::uint64_t& d, std::uint64_t v) { d = v; });
    copyInto(dstSamples, samples, [](std::vector<Sample2D>& d, const std::vector<Sample2D>& v) {
        d.assign(v.begin(), v.end());
    });
}

bool refreshLiveSnapshot(PreviewBuildState& build, GuiProcessState& proc,
                         std::chrono::steady_clock::time_point now) {
    using std::chrono::duration_cast;
    using std::chrono::milliseconds;
    const std::uint64_t generation = build.generation.load();
    if (generation == proc.lastSnapshotGeneration) return false;
    if (proc.lastSnapshotTime &&
        duration_cast<milliseconds>(now - *proc.lastSnapshotTime) < kLiveSnapshotInterval) {
        return false;
    }
    std::lock_guard<std::mutex> lock(build.mutex);
    copyTileMaps(proc.liveSnapshotTileCounts, proc.liveSnapshotTileSamples, build.liveTileCounts,
                 build.liveTileSamples);
    proc.lastSnapshotGeneration = build.generation.load();
    proc.lastSnapshotTime = now;
    return true;
}
