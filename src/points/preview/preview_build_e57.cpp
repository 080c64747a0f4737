#include <cmath>
#include <functional>
#include <iostream>
#include <string>

#include <E57SimpleReader.h>

#include <pdal/Dimension.hpp>
#include <pdal/PointRef.hpp>
#include <pdal/StageFactory.hpp>

#include "points/input/e57_input_check.h"
#include "points/input/e57_point_stream.h"
#include "points/preview/preview_build.h"
#include "preview_build_paths.h"

namespace {

constexpr std::uint64_t kStreamPublishEvery = 10000000;

// Sum of the scans' point counts from the file's metadata; 0 when anything about it fails,
// which only moves the opening to the end of the stream.
std::uint64_t metadataPointTotal(const std::string& path) {
    try {
        requireRegularE57Input(path);
        e57::Reader reader(path, e57::ReaderOptions{});
        std::uint64_t total = 0;
        const std::int64_t scans = reader.GetData3DCount();
        for (std::int64_t i = 0; i < scans; ++i) {
            e57::Data3D header;
            if (reader.ReadData3D(i, header) && header.pointCount > 0)
                total += static_cast<std::uint64_t>(header.pointCount);
        }
        reader.Close();
        return total;
    } catch (...) {
        return 0;
    }
}

}  // namespace

E57StreamRun makeE57StreamRun(PreviewBuildSession& state, PreviewReadRun& run, bool quick,
                              std::uint64_t targetPoints) {
    E57StreamRun stream{
        PreviewStreamContext{state.minX, state.maxX, state.minY, state.maxY, state.minZ, state.maxZ,
                             state.totalInputPoints, run.sampledPoints, state.coarseTileSize,
                             state.tileCounts, state.tileSamples, state.previewSamplesPerTile,
                             run.globalSamples, run.capReported, state.generator,
                             state.buildState.pointsRead, run.lastProgress, state.previewMode},
        quick, targetPoints, false};
    stream.ctx.origin = &state.sampleOrigin;
    stream.ctx.sampleFrom = state.sampleOrigin.at;  // a second stream keeps the first's origin
    return stream;
}

bool isPdalStageAvailable(const std::string& stageName) {
    try {
        pdal::StageFactory factory(true);
        return factory.createStage(stageName) != nullptr;
    } catch (...) {
        return false;
    }
}

namespace {

// The exact stream's callback body: the point joins the run, which is passed on when full.
inline void queueE57StreamPoint(E57StreamRun& stream, const pdal::PointRef& point) {
    const std::size_t i = stream.pending;
    stream.xs[i] = point.getFieldAs<double>(pdal::Dimension::Id::X);
    stream.ys[i] = point.getFieldAs<double>(pdal::Dimension::Id::Y);
    stream.zs[i] = point.getFieldAs<double>(pdal::Dimension::Id::Z);
    if (++stream.pending == E57StreamRun::kRun) flushE57StreamPoints(stream);
}

}  // namespace

bool acceptE57StreamPoint(PreviewBuildSession& state, E57StreamRun& stream, pdal::PointRef& point) {
    if (!stream.quick) {
        queueE57StreamPoint(stream, point);
        return true;
    }
    const double x = point.getFieldAs<double>(pdal::Dimension::Id::X);
    const double y = point.getFieldAs<double>(pdal::Dimension::Id::Y);
    const double z = point.getFieldAs<double>(pdal::Dimension::Id::Z);
    acceptPreviewPoint(stream.ctx, x, y, z, true);

    PreviewBuildState& bs = state.buildState;
    const std::uint64_t realPoints = state.totalInputPoints;
    if (!stream.selectionOpened && stream.targetPoints > 0 && realPoints >= stream.targetPoints &&
        !state.tileCounts.empty()) {
        bs.pointsRead = realPoints;
        publishPreviewSnapshot(state);
        openSelectionStage(state);
        stream.selectionOpened = true;
        std::cout << "[QUICK REAL PREVIEW] selection stage opened"
                  << " | targetPoints=" << stream.targetPoints << " | realPoints=" << realPoints
                  << " | realTiles=" << state.tileCounts.size() << std::endl;
    }
    if (realPoints % kStreamPublishEvery == 0) {
        bs.pointsRead = realPoints;
        publishPreviewSnapshot(state);
        if (stream.selectionOpened)
            std::cout << "[QUICK REAL PREVIEW] progressive update"
                      << " | realPoints=" << realPoints
                      << " | realTiles=" << state.tileCounts.size() << std::endl;
    }
    return true;
}

void flushE57StreamPoints(E57StreamRun& stream) {
    const std::size_t n = stream.pending;
    stream.pending = 0;
    acceptPreviewPoints(stream.ctx, stream.xs.data(), stream.ys.data(), stream.zs.data(), n, true);
}

bool runE57PointStreamPreview(PreviewBuildSession& state, E57StreamRun& stream) {
    bool created = false;
    if (!stream.quick) {
        // The exact stream takes whole chunks; nothing is left pending when it ends or throws.
        created = streamE57FileInBatches(
            state.buildInputPath.string(),
            [&stream](const double* x, const double* y, const double* z, std::size_t n) {
                acceptPreviewPoints(stream.ctx, x, y, z, n, true);
            });
    } else {
        bool hasColour = false;  // the preview keeps geometry only
        created = streamE57File(state.buildInputPath.string(), hasColour,
                                [&state, &stream](pdal::PointRef& point) {
                                    return acceptE57StreamPoint(state, stream, point);
                                });
    }
    if (!created) {
        std::cerr << "ERROR: Could not create readers.e57 stage." << std::endl;
        return false;
    }
    return true;
}

bool buildE57ExactPreview(PreviewBuildSession& state, PreviewReadRun& run) {
    E57StreamRun stream = makeE57StreamRun(state, run, false, 0);
    return runE57PointStreamPreview(state, stream);
}

bool buildE57QuickPreview(PreviewBuildSession& state, PreviewReadRun& run) {
    PreviewBuildState& bs = state.buildState;
    const std::string path = state.buildInputPath.string();
    const std::uint64_t total = metadataPointTotal(path);

    double pct = state.quickPreview.selectionOpenPercent;
    if (pct > 95.0) pct = 95.0;
    if (!(pct >= 1.0)) pct = 1.0;  // also catches NaN
    const std::uint64_t target =
        total != 0 ? static_cast<std::uint64_t>(std::ceil(static_cast<double>(total) * pct / 100.0))
                   : 0;
    std::cout << "[QUICK REAL PREVIEW] starting real E57 point-stream preview"
              << " | selectionOpenPercent=" << pct << " | metadataTotalPoints=" << total
              << " | targetPoints=" << target << std::endl;

    E57StreamRun stream = makeE57StreamRun(state, run, true, target);
    bs.streaming = true;
    const bool ok = runE57PointStreamPreview(state, stream);
    bs.streaming = false;
    if (!ok) return false;

    publishPreviewSnapshot(state);
    openSelectionStage(state);
    std::cout << "[QUICK REAL PREVIEW] exact point-stream finished"
              << " | realPoints=" << state.totalInputPoints
              << " | exactTiles=" << state.tileCounts.size() << std::endl;
    return true;
}
