#include "points/preview/point_io_self_tests.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <utility>
#include <vector>

#include "points/tiles/preview_tiles.h"
#include "points/input/text_utils.h"
#include "points/input/xyz_ascii_reader.h"

namespace {

const char* boolText(bool v) { return v ? "true" : "false"; }

void appendBounds(std::ostringstream& line, double minX, double maxX, double minY, double maxY,
                  double minZ, double maxZ) {
    line << " | boundsX=[" << minX << "," << maxX << "]"
         << " | boundsY=[" << minY << "," << maxY << "]"
         << " | boundsZ=[" << minZ << "," << maxZ << "]";
}

// Each line is formatted in a fresh stream, so whatever state std::cout carries, numbers come
// out in the default format.
void emit(const std::ostringstream& line) { std::cout << line.str() << std::endl; }

}  // namespace

XyzSampledReadAhead::XyzSampledReadAhead() = default;

XyzSampledReadAhead::~XyzSampledReadAhead() = default;

void XyzSampledReadAhead::keep(const std::string& path, double coordScaleToMeters,
                               std::uint64_t lineStep, std::vector<Sampled> points,
                               std::unique_ptr<XyzAsciiPointReader> reader) {
    path_ = path;
    scale_ = coordScaleToMeters;
    lineStep_ = lineStep;
    points_ = std::move(points);
    reader_ = std::move(reader);
}

bool XyzSampledReadAhead::take(const std::string& path, double coordScaleToMeters,
                               std::uint64_t lineStep, std::vector<Sampled>& points,
                               std::unique_ptr<XyzAsciiPointReader>& reader) {
    if (!reader_ || path_ != path || scale_ != coordScaleToMeters || lineStep_ != lineStep)
        return false;
    points = std::move(points_);
    reader = std::move(reader_);
    points_.clear();
    return true;
}

void pointIoTestXyzAsciiPointReader(const std::string& inputPath, double coordScaleToMeters) {
    if (!hasXyzExtension(inputPath)) return;
    {
        std::ostringstream line;
        line << "[POINT IO TEST] testing XyzAsciiPointReader"
             << " | input=" << inputPath << " | coordScaleToMeters=" << coordScaleToMeters;
        emit(line);
    }
    XyzAsciiPointReader reader(coordScaleToMeters);
    std::string error;
    if (!reader.open(inputPath, &error)) {
        std::ostringstream line;
        line << "[POINT IO TEST] XyzAsciiPointReader open failed"
             << " | error=" << error;
        emit(line);
        return;
    }
    int printed = 0;
    CloudPoint p;
    while (printed < 5) {
        if (!reader.readNext(p, &error)) {
            if (!error.empty()) {
                std::ostringstream line;
                line << "[POINT IO TEST] XyzAsciiPointReader read stopped with error"
                     << " | error=" << error;
                emit(line);
            }
            break;
        }
        ++printed;
        std::ostringstream line;
        line << "[POINT IO TEST] point #" << printed << " | x=" << p.x << " | y=" << p.y
             << " | z=" << p.z << " | hasRGB=" << boolText(p.hasRGB);
        if (p.hasRGB) line << " | rgb=(" << p.red << "," << p.green << "," << p.blue << ")";
        if (p.hasIntensity) line << " | intensity=" << p.intensity;
        emit(line);
    }
    const PointReaderSummary s = reader.summary();
    std::ostringstream line;
    line << "[POINT IO TEST] XyzAsciiPointReader summary"
         << " | printed=" << printed << " | acceptedSoFar=" << reader.acceptedPoints()
         << " | badLinesSoFar=" << reader.badLines() << " | hasBounds=" << boolText(s.hasBounds);
    if (s.hasBounds) appendBounds(line, s.minX, s.maxX, s.minY, s.maxY, s.minZ, s.maxZ);
    emit(line);
    reader.close();
}

void pointIoTestGenericPreviewProcessor(const std::string& inputPath, double coordScaleToMeters,
                                        double tileSize, int requestedSamplesPerTile,
                                        XyzSampledReadAhead* readAhead) {
    if (!hasXyzExtension(inputPath)) return;
    constexpr std::uint64_t lineStep = 250;
    constexpr std::uint64_t maxAccepted = 100000;
    {
        std::ostringstream line;
        line << "[POINT IO TEST] testing generic CloudPoint preview processor"
             << " | input=" << inputPath << " | coordScaleToMeters=" << coordScaleToMeters
             << " | coarseTileSize=" << tileSize
             << " | previewSamplesPerTile=" << requestedSamplesPerTile
             << " | sampledRawLineStep=" << lineStep;
        emit(line);
    }
    auto readerHolder = std::make_unique<XyzAsciiPointReader>(coordScaleToMeters);
    XyzAsciiPointReader& reader = *readerHolder;
    std::string error;
    if (!reader.open(inputPath, &error)) {
        std::ostringstream line;
        line << "[POINT IO TEST] generic preview processor open failed"
             << " | error=" << error;
        emit(line);
        return;
    }

    TileCountMap counts;
    TileOfferMap offers;
    TileSampleMap samples;
    constexpr double inf = std::numeric_limits<double>::infinity();
    double minX = inf, maxX = -inf, minY = inf, maxY = -inf, minZ = inf, maxZ = -inf;
    // Fixed for the whole pass: no lowering by the number of tiles here.
    const auto cap = static_cast<std::uint64_t>(std::clamp(requestedSamplesPerTile, 4, 5000));
    std::uint64_t sampleCount = 0;
    std::uint64_t accepted = 0;
    std::mt19937_64 generator(1234567);
    // What the build will need of this read. Points the accumulation refuses (a tile size that
    // is not positive, say) do not count towards maxAccepted: past a bound, the build rereads.
    constexpr std::size_t maxKept = 2 * maxAccepted;
    std::vector<XyzSampledReadAhead::Sampled> kept;
    bool keeping = readAhead != nullptr;
    bool readFailed = false;

    CloudPoint p;
    while (accepted < maxAccepted) {
        if (!reader.readNextSampled(lineStep, p, &error)) {
            if (!error.empty()) {
                readFailed = true;
                std::ostringstream line;
                line << "[POINT IO TEST] generic preview processor read stopped with error"
                     << " | error=" << error;
                emit(line);
            }
            break;
        }
        if (keeping) {
            if (kept.size() == maxKept) {
                keeping = false;
                std::vector<XyzSampledReadAhead::Sampled>().swap(kept);
            } else {
                kept.push_back({p, reader.lineNumber(), reader.readPosition()});
            }
        }
        // Skips a non-positive tile size and non-finite coordinates by itself.
        accumulatePreviewPoint(p, tileSize, true, cap, globalPreviewSampleCap, accepted,
                               sampleCount, minX, maxX, minY, maxY, minZ, maxZ, counts, samples,
                               offers, generator, lineStep);
    }

    std::ostringstream line;
    line << "[POINT IO TEST] generic CloudPoint preview summary"
         << " | accepted=" << accepted << " | readerBadLines=" << reader.badLines()
         << " | tiles=" << counts.size() << " | sampleTiles=" << samples.size()
         << " | samples=" << sampleCount << " | sampleCapPerTile=" << cap;
    if (std::isfinite(minX) && std::isfinite(maxX) && std::isfinite(minY) && std::isfinite(maxY) &&
        std::isfinite(minZ) && std::isfinite(maxZ))
        appendBounds(line, minX, maxX, minY, maxY, minZ, maxZ);
    emit(line);
    if (keeping && !readFailed)
        readAhead->keep(inputPath, coordScaleToMeters, lineStep, std::move(kept),
                        std::move(readerHolder));
    else
        reader.close();
}
