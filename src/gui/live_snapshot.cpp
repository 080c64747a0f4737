#include "gui/live_snapshot.h"

#include <mutex>

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
    proc.liveSnapshotOrigin = build.liveOrigin;
    proc.lastSnapshotGeneration = build.generation.load();
    proc.lastSnapshotTime = now;
    return true;
}
