#include <iostream>
#include <string>

#include "points/preview/preview_build.h"
#include "preview_build_paths.h"
#include "points/input/xyz_ascii_reader.h"

namespace {

std::uint64_t readPositionOf(const XyzAsciiPointReader& reader) {
    return reader.isOpen() ? reader.readPosition() : 0;
}

}  // namespace

bool buildXyzPreview(PreviewBuildSession& state, PreviewReadRun& run) {
    PreviewBuildState& bs = state.buildState;
    XyzAsciiPointReader reader(1.0);
    std::string error;
    if (!reader.open(state.buildInputPath.string(), &error)) {
        std::cerr << "ERROR: Could not open input XYZ file through XyzAsciiPointReader."
                  << " | error=" << error << std::endl;
        return false;
    }
    std::cout << "[XYZ PREVIEW - POINT IO] sampled preview"
              << " | skip=1/" << kSampledLineStep
              << " | coarse_tile_size_m=" << state.coarseTileSize
              << " | xyz_scale_to_meters=" << 1
              << " | requestedSamplesPerTile=" << state.previewSamplesPerTile << std::endl;

    SampledPublication publication{"[XYZ PREVIEW - POINT IO]", sampledOpeningThreshold(state.previewMode)};
    CloudPoint point;
    error.clear();

    bs.streaming = true;
    while (reader.readNextSampled(kSampledLineStep, point, &error)) {
        const std::uint64_t counter = reader.lineNumber();
        state.totalInputPoints = counter;
        const std::uint64_t cap = sampleCapPerTile(state.previewSamplesPerTile, state.tileCounts);
        const bool accepted = accumulatePreviewPoint(
            point, state.coarseTileSize, true, cap, globalPreviewSampleCap, run.sampledPoints,
            run.globalSamples, state.minX, state.maxX, state.minY, state.maxY, state.minZ,
            state.maxZ, state.tileCounts, state.tileSamples, state.tileOffers, state.generator,
            kSampledLineStep);

        if (accepted && run.sampledPoints % kSampledProgressEvery == 0) {
            bs.pointsRead = counter;
            bs.bytesRead = readPositionOf(reader);
        }
        if (counter % kProgressLineEvery == 0) {
            bs.pointsRead = counter;
            const auto now = std::chrono::steady_clock::now();
            std::cout << "Reading " << counter / 1000000
                      << "M pts | preview_ms=" << millisecondsSince(run.lastProgress, now)
                      << " | tiles=" << state.tileCounts.size()
                      << " | samples=" << run.globalSamples << " | sampleCapPerTile="
                      << sampleCapPerTile(state.previewSamplesPerTile, state.tileCounts)
                      << std::endl;
            run.lastProgress = now;
        }
        publication.step(state, run, counter);
    }

    if (!error.empty()) {
        std::cerr << "ERROR: XYZ PointIO reader stopped with error."
                  << " | error=" << error << std::endl;
        bs.streaming = false;
        reader.close();
        return false;
    }

    state.totalInputPoints = reader.lineNumber();
    publishPreviewSnapshot(state);
    bs.pointsRead = state.totalInputPoints;
    openSelectionStage(state);
    bs.bytesRead = readPositionOf(reader);
    std::cout << "[XYZ PREVIEW - POINT IO] completed"
              << " | rawLines=" << state.totalInputPoints << " | sampledPts=" << run.sampledPoints
              << " | badLines=" << reader.badLines() << " | tiles=" << state.tileCounts.size()
              << " | samples=" << run.globalSamples << " | sampleCapPerTile="
              << sampleCapPerTile(state.previewSamplesPerTile, state.tileCounts)
              << " | coarse_tile_size=" << state.coarseTileSize
              << " | boundsX=[" << state.minX << "," << state.maxX << "]"
              << " | boundsY=[" << state.minY << "," << state.maxY << "]"
              << " | boundsZ=[" << state.minZ << "," << state.maxZ << "]" << std::endl;
    bs.streaming = false;
    reader.close();
    return true;
}
