#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "points/preview/point_io_self_tests.h"
#include "points/preview/preview_build.h"
#include "preview_build_paths.h"
#include "points/input/xyz_ascii_reader.h"

namespace {

std::uint64_t readPositionOf(const XyzAsciiPointReader& reader) {
    return reader.isOpen() ? reader.readPosition() : 0;
}

// The build's sampled lines: first those the self-test already read, then the reader's own.
class SampledLines {
public:
    SampledLines(XyzAsciiPointReader& reader, std::vector<XyzSampledReadAhead::Sampled> readAhead)
        : reader_(reader), readAhead_(std::move(readAhead)) {}

    bool next(CloudPoint& point, std::string* error) {
        if (next_ < readAhead_.size()) {
            const XyzSampledReadAhead::Sampled& s = readAhead_[next_++];
            point = s.point;
            lineNumber_ = s.lineNumber;
            readPosition_ = s.readPosition;
            error->clear();
            return true;
        }
        if (!readAhead_.empty()) std::vector<XyzSampledReadAhead::Sampled>().swap(readAhead_);
        const bool ok = reader_.readNextSampled(kSampledLineStep, point, error);
        lineNumber_ = reader_.lineNumber();
        readPosition_ = readPositionOf(reader_);
        return ok;
    }
    std::uint64_t lineNumber() const { return lineNumber_; }
    std::uint64_t readPosition() const { return readPosition_; }

private:
    XyzAsciiPointReader& reader_;
    std::vector<XyzSampledReadAhead::Sampled> readAhead_;
    std::size_t next_ = 0;
    std::uint64_t lineNumber_ = 0;
    std::uint64_t readPosition_ = 0;
};

}  // namespace

bool buildXyzPreview(PreviewBuildSession& state, PreviewReadRun& run) {
    PreviewBuildState& bs = state.buildState;
    const std::string path = state.buildInputPath.string();
    std::vector<XyzSampledReadAhead::Sampled> readAhead;
    std::unique_ptr<XyzAsciiPointReader> heldReader;
    std::string error;
    if (!run.xyzReadAhead ||
        !run.xyzReadAhead->take(path, 1.0, kSampledLineStep, readAhead, heldReader)) {
        heldReader = std::make_unique<XyzAsciiPointReader>(1.0);
        if (!heldReader->open(path, &error)) {
            std::cerr << "ERROR: Could not open input XYZ file through XyzAsciiPointReader."
                      << " | error=" << error << std::endl;
            return false;
        }
    }
    XyzAsciiPointReader& reader = *heldReader;
    std::cout << "[XYZ PREVIEW - POINT IO] sampled preview"
              << " | skip=1/" << kSampledLineStep
              << " | coarse_tile_size_m=" << state.coarseTileSize << " | xyz_scale_to_meters=" << 1
              << " | requestedSamplesPerTile=" << state.previewSamplesPerTile << std::endl;

    SampledPublication publication{"[XYZ PREVIEW - POINT IO]",
                                   sampledOpeningThreshold(state.previewMode)};
    CloudPoint point;
    error.clear();
    SampledLines lines(reader, std::move(readAhead));

    bs.streaming = true;
    while (lines.next(point, &error)) {
        const std::uint64_t counter = lines.lineNumber();
        state.totalInputPoints = counter;
        const std::uint64_t cap = sampleCapPerTile(state.previewSamplesPerTile, state.tileCounts);
        const bool accepted = accumulatePreviewPoint(
            point, state.coarseTileSize, true, cap, globalPreviewSampleCap, run.sampledPoints,
            run.globalSamples, state.minX, state.maxX, state.minY, state.maxY, state.minZ,
            state.maxZ, state.tileCounts, state.tileSamples, state.tileOffers, state.generator,
            kSampledLineStep, &state.sampleOrigin);

        if (accepted && run.sampledPoints % kSampledProgressEvery == 0) {
            bs.pointsRead = counter;
            bs.bytesRead = lines.readPosition();
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
              << " | coarse_tile_size=" << state.coarseTileSize << " | boundsX=[" << state.minX
              << "," << state.maxX << "]"
              << " | boundsY=[" << state.minY << "," << state.maxY << "]"
              << " | boundsZ=[" << state.minZ << "," << state.maxZ << "]" << std::endl;
    bs.streaming = false;
    reader.close();
    return true;
}
