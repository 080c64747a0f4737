#include "points/preview/preview_build.h"

#include <cmath>
#include <filesystem>
#include <iostream>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "points/preview/point_io_self_tests.h"
#include "preview_build_paths.h"
#include "points/preview/preview_session_cache.h"
#include "points/input/exception_text.h"
#include "points/input/text_utils.h"

namespace fs = std::filesystem;

namespace {

const char* const kUnsupportedExtension =
    "Unsupported input file extension. Supported: .e57, .xyz and .las";

// Makes dst equal to src, reusing dst's nodes and sample vectors: between two publications
// of one build the tiles only grow, so in the steady state nothing is allocated.
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

std::size_t sampleCount(const TileSampleMap& map) {
    std::size_t n = 0;
    for (const auto& entry : map) n += entry.second.size();
    return n;
}

void setMessage(PreviewBuildState& buildState, std::string text) {
    std::lock_guard<std::mutex> lock(buildState.mutex);
    buildState.message = std::move(text);
}

// Step 11 of the thread body. Composing a text can itself run out of memory; the build is
// then still marked failed.
template <class MakeTexts>
void reportFailure(PreviewBuildSession& state, MakeTexts&& makeTexts) {
    try {
        std::pair<std::string, std::string> texts = makeTexts();
        setMessage(state.buildState, std::move(texts.first));
        std::cerr << texts.second << std::endl;
    } catch (...) {
    }
    state.buildState.failed = true;
}

std::string pointsAndTiles(const PreviewBuildSession& state) {
    return " | points=" + std::to_string(state.totalInputPoints) +
           " | tiles=" + std::to_string(state.tileCounts.size());
}

bool finishPreviewBuild(PreviewBuildSession& state, PreviewReadRun& run) {
    publishPreviewSnapshot(state);

    const auto now = std::chrono::steady_clock::now();
    state.inputInfo.totalPoints = state.totalInputPoints;
    state.buildState.pointsRead = state.totalInputPoints;
    state.readerMs = millisecondsSince(run.readingStart, now);
    state.buildWallMs = millisecondsSince(run.buildStart, std::chrono::steady_clock::now());

    if (std::isfinite(state.minX) && std::isfinite(state.maxX) && std::isfinite(state.minY) &&
        std::isfinite(state.maxY) && std::isfinite(state.minZ) && std::isfinite(state.maxZ)) {
        state.inputInfo.minX = state.minX;
        state.inputInfo.maxX = state.maxX;
        state.inputInfo.minY = state.minY;
        state.inputInfo.maxY = state.maxY;
        state.inputInfo.minZ = state.minZ;
        state.inputInfo.maxZ = state.maxZ;
        state.inputInfo.boundsValid = true;
    } else {
        state.inputInfo.boundsValid = false;
    }

    buildPreviewSessionCache(state.previewCache, state.tileSamples, state.coarseTileSize,
                             state.sampleOrigin.at);
    std::cout << "[PREVIEW CACHE] built"
              << " | samples=" << state.previewCache.samples.size()
              << " | sourceTileSize=" << state.coarseTileSize
              << " | sourceTiles=" << state.previewCache.sourceTiles
              << " | ready=" << (state.previewCache.ready ? "true" : "false") << std::endl;

    {
        TileCountMap rebuiltCounts;
        TileSampleMap rebuiltSamples;
        retilePreview(state.previewCache, state.coarseTileSize, state.previewSamplesPerTile,
                      rebuiltCounts, rebuiltSamples);
        std::cout << "[PREVIEW CACHE] rebuild test"
                  << " | tileSize=" << state.coarseTileSize
                  << " | originalTiles=" << state.tileSamples.size()
                  << " | rebuiltTiles=" << rebuiltSamples.size()
                  << " | originalSamples=" << state.previewCache.samples.size()
                  << " | rebuiltSamples=" << sampleCount(rebuiltSamples) << std::endl;
    }

    return !state.tileCounts.empty();
}

}  // namespace

void copyTileMaps(TileCountMap& dstCounts, TileSampleMap& dstSamples, const TileCountMap& counts,
                  const TileSampleMap& samples) {
    copyInto(dstCounts, counts, [](std::uint64_t& d, std::uint64_t v) { d = v; });
    copyInto(dstSamples, samples, [](std::vector<Sample2D>& d, const std::vector<Sample2D>& v) {
        d.assign(v.begin(), v.end());
    });
}

void publishPreviewMaps(PreviewBuildState& buildState, const TileCountMap& tileCounts,
                        const TileSampleMap& tileSamples, PreviewMapBuffers& spare,
                        const SampleOrigin* origin) {
    copyTileMaps(spare.counts, spare.samples, tileCounts, tileSamples);
    {
        std::lock_guard<std::mutex> lock(buildState.mutex);
        if (origin) buildState.liveOrigin = *origin;
        buildState.liveTileCounts.swap(spare.counts);
        buildState.liveTileSamples.swap(spare.samples);
        buildState.generation.fetch_add(1);
    }
    // spare now holds the previous live maps, kept for the next copy.
}

void publishPreviewMaps(PreviewBuildState& buildState, const TileCountMap& tileCounts,
                        const TileSampleMap& tileSamples) {
    PreviewMapBuffers spare;
    publishPreviewMaps(buildState, tileCounts, tileSamples, spare);
}

void publishPreviewSnapshot(PreviewBuildSession& state) {
    publishPreviewMaps(state.buildState, state.tileCounts, state.tileSamples, state.publishSpare,
                       &state.sampleOrigin.at);
}

bool startBuildThread(PreviewBuildSession& state, int previewMode) {
    if (state.buildStarted || state.buildThread.joinable()) {
        std::cerr << "WARNING: the preview build of this run has already been started."
                  << std::endl;
        return false;
    }
    state.previewMode = previewMode;
    state.buildStarted = true;
    state.buildThread = std::thread([&state] { runStartupBuild(state); });
    return true;
}

void runStartupBuild(PreviewBuildSession& state) {
    PreviewBuildState& bs = state.buildState;
    bs.running = true;
    bs.ready = false;
    bs.failed = false;
    bs.selectionStageOpen = false;
    bs.streaming = false;
    bs.pointsRead = 0;
    bs.bytesRead = 0;
    bs.inputFileBytes = 0;
    clearPreviewSessionCache(state.previewCache);

    try {
        if (state.inputPath.empty()) throw std::runtime_error("Input .e57 path is empty.");
        if (state.outputFolder.empty()) throw std::runtime_error("Output directory is empty.");

        const fs::path input(state.inputPath);
        const fs::path output(state.outputFolder);
        state.buildInputPath = input;

        std::error_code ec;
        fs::create_directories(output, ec);
        if (ec)
            throw std::runtime_error("Cannot create output directory: " + output.string() + " | " +
                                     ec.message());

        const bool pdalOk = isPdalStageAvailable("readers.e57");
        std::cout << "[PDAL] readers.e57: " << (pdalOk ? "OK" : "MISSING") << std::endl;
        std::cout << "[E57] export writer: libE57Format / E57SimpleWriter.h" << std::endl;

        XyzSampledReadAhead xyzReadAhead;  // the XYZ build goes on with the self-test's read
        if (hasE57Extension(state.inputPath)) {
            if (!pdalOk) throw std::runtime_error("PDAL readers.e57 is not available.");
        } else if (hasXyzExtension(state.inputPath)) {
            pointIoTestXyzAsciiPointReader(state.inputPath, 1.0);
            pointIoTestGenericPreviewProcessor(state.inputPath, 1.0, state.coarseTileSize,
                                               state.previewSamplesPerTile, &xyzReadAhead);
        } else if (!isLasPath(state.inputPath)) {
            throw std::runtime_error(kUnsupportedExtension);
        }

        if (!fs::exists(input))  // the throwing form: a status error fails with its own text
            throw std::runtime_error("Input file does not exist: " + input.string());

        const std::uintmax_t size = fs::file_size(input, ec);
        if (!ec) {
            state.inputInfo.fileSizeMB = static_cast<double>(size) * 9.5367431640625e-07;
            bs.inputFileBytes = static_cast<std::uint64_t>(size);
        } else {
            state.inputInfo.fileSizeMB = 0.0;
            bs.inputFileBytes = 0;
        }

        std::cout << "Reading file: " << input.string() << std::endl;
        std::cout << "Output dir:   " << output.string() << std::endl;

        if (buildPreviewFromInput(state, &xyzReadAhead)) {
            bs.ready = true;
        } else {
            setMessage(bs, "Build returned false.");
            bs.failed = true;
        }
    } catch (const std::bad_alloc&) {
        reportFailure(state, [&] {
            return std::make_pair("Out of memory during startup preview build" +
                                      pointsAndTiles(state) +
                                      " | sampleTiles=" + std::to_string(state.tileSamples.size()),
                                  "[STARTUP BUILD] bad_alloc" + pointsAndTiles(state));
        });
    } catch (const std::exception& e) {
        reportFailure(state, [&] {
            const std::string what = exceptionText(e);
            return std::make_pair(
                what + pointsAndTiles(state),
                "[STARTUP BUILD] exception | what=" + what + pointsAndTiles(state));
        });
    } catch (...) {
        reportFailure(state, [&] {
            return std::make_pair("Unknown exception during build" + pointsAndTiles(state),
                                  "[STARTUP BUILD] unknown exception" + pointsAndTiles(state));
        });
    }
    bs.running = false;
}

bool buildPreviewFromInput(PreviewBuildSession& state, XyzSampledReadAhead* xyzReadAhead) {
    PreviewReadRun run;
    run.xyzReadAhead = xyzReadAhead;
    run.buildStart = std::chrono::steady_clock::now();
    state.tileCounts.clear();
    state.tileSamples.clear();
    state.tileOffers.clear();
    state.sampleOrigin = PreviewSampleOrigin{};
    {
        TileCountMap oldCounts;
        TileSampleMap oldSamples;
        {
            std::lock_guard<std::mutex> lock(state.buildState.mutex);
            oldCounts.swap(state.buildState.liveTileCounts);
            oldSamples.swap(state.buildState.liveTileSamples);
            state.buildState.message.clear();
            state.buildState.warning.clear();
            state.buildState.hasWarning = false;
        }
    }

    constexpr double inf = std::numeric_limits<double>::infinity();
    state.minX = state.minY = state.minZ = inf;
    state.maxX = state.maxY = state.maxZ = -inf;
    state.totalInputPoints = 0;
    run.sampledPoints = 0;
    run.globalSamples = 0;
    run.capReported = false;
    run.readingStart = run.lastProgress = std::chrono::steady_clock::now();

    const std::string pathText = state.buildInputPath.string();
    bool ok = false;
    if (hasE57Extension(pathText)) {
        ok = state.previewMode == QUICK_THEN_EXACT_BACKGROUND ? buildE57QuickPreview(state, run)
                                                              : buildE57ExactPreview(state, run);
    } else if (hasXyzExtension(pathText)) {
        ok = buildXyzPreview(state, run);
    } else if (isLasPath(pathText)) {
        ok = buildLasPreview(state, run);
    } else {
        throw std::runtime_error(kUnsupportedExtension);
    }
    if (!ok) return false;
    return finishPreviewBuild(state, run);
}

void SampledPublication::step(PreviewBuildSession& state, const PreviewReadRun& run,
                              std::uint64_t counter) {
    const char* event = nullptr;
    if (!opened) {
        if (counter < threshold) return;
        event = " quick preview opened";
    } else if (counter - lastPublished >= kSampledRefreshPoints) {
        event = " progressive refresh";
    } else {
        return;
    }
    publishPreviewSnapshot(state);
    lastPublished = counter;
    state.buildState.pointsRead = counter;
    if (!opened) {
        opened = true;
        openSelectionStage(state);  // only once the opening maps are published
    }
    std::cout << tag << event << " | pts=" << state.totalInputPoints
              << " | sampledPts=" << run.sampledPoints << " | tiles=" << state.tileCounts.size()
              << " | samples=" << run.globalSamples << std::endl;
}
