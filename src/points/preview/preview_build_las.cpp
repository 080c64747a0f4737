#include <algorithm>
#include <array>
#include <cmath>
#include <iostream>
#include <mutex>
#include <string>

#include "points/input/las_reader.h"
#include "points/preview/preview_build.h"
#include "preview_build_paths.h"

namespace {

void printBounds(const PreviewBuildSession& state) {
    std::cout << " | boundsX=[" << state.minX << "," << state.maxX << "]"
              << " | boundsY=[" << state.minY << "," << state.maxY << "]"
              << " | boundsZ=[" << state.minZ << "," << state.maxZ << "]";
}

// The sampled read misses most points, the highest and lowest among them: the bounds take in
// the header's, axis by axis where the header's pair is finite and ordered.
void widenByHeaderBounds(PreviewBuildSession& state, const std::array<double, 6>& v) {
    if (!(state.minX <= state.maxX)) return;  // no point was taken
    // Writers that leave the bounds unset write zeros, which would stretch the bounds to 0.
    if (std::all_of(v.begin(), v.end(), [](double d) { return d == 0.0; })) return;
    double* lo[3] = {&state.minX, &state.minY, &state.minZ};
    double* hi[3] = {&state.maxX, &state.maxY, &state.maxZ};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const double max = v[2 * axis];
        const double min = v[2 * axis + 1];
        if (!std::isfinite(min) || !std::isfinite(max) || !(min <= max)) continue;
        *lo[axis] = std::min(*lo[axis], min);
        *hi[axis] = std::max(*hi[axis], max);
    }
}

}  // namespace

bool buildLasPreview(PreviewBuildSession& state, PreviewReadRun& run) {
    PreviewBuildState& bs = state.buildState;
    LasBinaryPointReader reader;
    std::string error;
    // The preview shows what a truncated file holds; the export refuses it.
    if (!reader.open(state.buildInputPath.string(), &error, true)) {
        std::cerr << "ERROR: Could not open input LAS file through LasBinaryPointReader."
                  << " | error=" << error << std::endl;
        return false;
    }
    if (reader.truncated()) {
        const std::string warning =
            "Warning: " + lasTruncationText(reader.headerPointCount(), reader.pointCount()) +
            " The preview shows the points there are; an export will be refused.";
        std::cerr << warning << std::endl;
        std::lock_guard<std::mutex> lock(bs.mutex);
        bs.warning = warning;
        bs.hasWarning = true;
    }

    const std::uint64_t total = reader.pointCount();
    const std::uint64_t dataOffset = reader.offsetToPointData();
    const std::uint64_t recordLength = reader.pointRecordLength();
    std::cout << "[LAS PREVIEW - STREAM] sampled preview"
              << " | skip=1/" << kSampledLineStep
              << " | coarse_tile_size_m=" << state.coarseTileSize
              << " | requestedSamplesPerTile=" << state.previewSamplesPerTile
              << " | totalPointCount=" << total
              << " | LAS version=" << static_cast<int>(reader.versionMajor()) << "."
              << static_cast<int>(reader.versionMinor())
              << " | pointFormat=" << static_cast<int>(reader.pointFormat())
              << " | pointRecordLength=" << recordLength
              << " | hasRGB=" << (reader.hasRGB() ? "true" : "false")
              << " | hasIntensity=" << (reader.hasIntensity() ? "true" : "false") << std::endl;

    SampledPublication publication{"[LAS PREVIEW - STREAM]",
                                   sampledOpeningThreshold(state.previewMode)};
    std::uint64_t index = 0;  // next record to read
    CloudPoint point;
    error.clear();

    bs.streaming = true;
    for (;;) {
        if (!reader.isOpen()) {
            error = "LasBinaryPointReader: reader is not open.";
            break;
        }
        if (index >= total) break;
        if (!reader.seekToRecord(index)) {
            error = "LasBinaryPointReader: failed to seek to sampled point.";
            break;
        }
        if (!reader.readNext(point, &error)) break;

        index = std::min(index + kSampledLineStep, total);
        state.totalInputPoints = index;
        const std::uint64_t counter = index;

        const std::uint64_t cap = sampleCapPerTile(state.previewSamplesPerTile, state.tileCounts);
        const bool accepted = accumulatePreviewPoint(
            point, state.coarseTileSize, true, cap, globalPreviewSampleCap, run.sampledPoints,
            run.globalSamples, state.minX, state.maxX, state.minY, state.maxY, state.minZ,
            state.maxZ, state.tileCounts, state.tileSamples, state.tileOffers, state.generator,
            kSampledLineStep, &state.sampleOrigin);

        if (accepted && run.sampledPoints % kSampledProgressEvery == 0) {
            bs.pointsRead = counter;
            bs.bytesRead = dataOffset + index * recordLength;
        }
        if (counter % kProgressLineEvery == 0) {
            bs.pointsRead = counter;
            const auto now = std::chrono::steady_clock::now();
            std::cout << "Reading " << counter / 1000000
                      << "M LAS pts | preview_ms=" << millisecondsSince(run.lastProgress, now)
                      << " | sampledPts=" << run.sampledPoints
                      << " | tiles=" << state.tileCounts.size()
                      << " | samples=" << run.globalSamples << " | sampleCapPerTile="
                      << sampleCapPerTile(state.previewSamplesPerTile, state.tileCounts)
                      << std::endl;
            run.lastProgress = now;
        }
        publication.step(state, run, counter);
    }

    if (!error.empty()) {
        std::cerr << "ERROR: LAS streaming reader stopped with error."
                  << " | error=" << error << std::endl;
        bs.streaming = false;
        reader.close();
        return false;
    }

    state.totalInputPoints = total;
    widenByHeaderBounds(state, reader.headerBounds());
    publishPreviewSnapshot(state);
    bs.pointsRead = state.totalInputPoints;
    openSelectionStage(state);
    bs.bytesRead = reader.fileSize() > 0 ? static_cast<std::uint64_t>(reader.fileSize()) : 0;
    std::cout << "[LAS PREVIEW - STREAM] completed"
              << " | totalPts=" << state.totalInputPoints << " | sampledPts=" << run.sampledPoints
              << " | tiles=" << state.tileCounts.size() << " | samples=" << run.globalSamples
              << " | sampleCapPerTile="
              << sampleCapPerTile(state.previewSamplesPerTile, state.tileCounts)
              << " | coarse_tile_size=" << state.coarseTileSize;
    printBounds(state);
    std::cout << std::endl;
    bs.streaming = false;
    reader.close();
    return true;
}
