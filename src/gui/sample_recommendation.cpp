#include "gui/sample_recommendation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "gui/input_kind.h"

int recommendedPreviewSamplesPerTile(double tileSize, const E57PreflightAnalysis& preflight,
                                     const InputCloudInfo* info, int retileSamplesPerTile) {
    std::uint64_t total = 0;
    if (preflight.attempted && preflight.ok && preflight.totalPoints != 0) {
        total = preflight.totalPoints;
    } else if (info && info->totalPoints != 0) {
        total = info->totalPoints;
    }
    if (tileSize > 0.0 && info && info->boundsValid) {
        const double dx = std::max(info->maxX - info->minX, 0.0);
        const double dy = std::max(info->maxY - info->minY, 0.0);
        if (dx > 0.0 && dy > 0.0 &&
            std::isfinite(std::ceil(dy / tileSize) * std::ceil(dx / tileSize))) {
            return std::clamp(retileSamplesPerTile, PreviewBuildSession::kMinSamplesPerTile,
                              PreviewBuildSession::kMaxSamplesPerTile);
        }
    }
    if (total == 0) return 32;
    if (total <= 50000000ull) return 128;
    if (total <= 250000000ull) return 64;
    if (total <= 1000000000ull) return 32;
    return 16;
}

int recommendedPreviewSamplesPerTile(const GuiFrame& f, double tileSize) {
    return recommendedPreviewSamplesPerTile(tileSize, f.gui.preflight, readableInputInfo(f),
                                            f.proc.retileSamplesPerTile);
}

int recommendedPreviewSamplesPerTileForCurrent(const GuiFrame& f) {
    return recommendedPreviewSamplesPerTile(f, f.in.coarseTileSize);
}

std::string readerMethodNote(const char* inputPathText, const E57PreflightAnalysis& preflight) {
    if (preflightMatchesInput(preflight, trimmedText(inputPathText))) {
        if (preflight.data3DScans >= 1 && preflight.nonCartesianScans == 0)
            return "libE57 reader will be used for the reading stage.";
        return "PDAL reader will be assigned for the reading stage.";
    }
    return "Reader method will be determined after E57 header analysis.";
}
