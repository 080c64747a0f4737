#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "export/export_result.h"
#include "points/input/cloud_point.h"
#include "points/input/las_header.h"
#include "points/job/export_job.h"
#include "points/selection/selection.h"

class OutputFile;

// E57 or XYZ ASCII input to a new LAS 1.2 file, point format 0 or 2, in two streaming passes.
bool exportSyntheticLas(const ExportJob& job, const std::string& statusPath, ExportResult* result,
                        std::string* error);

inline constexpr std::size_t kSyntheticLasHeaderSize = las::kHeaderSize12;

// Pass 1: what the selected points look like.
struct SyntheticLasBounds {
    std::uint64_t selectedPoints = 0;
    bool hasBounds = false;
    bool anyRgb = false;
    double minX = 0.0, maxX = 0.0, minY = 0.0, maxY = 0.0, minZ = 0.0, maxZ = 0.0;
};

// Pass 2: where and how the records go.
struct SyntheticLasRecordWriter {
    bool withRgb;
    OutputFile& out;
    double scaleX, scaleY, scaleZ;
    double offsetX, offsetY, offsetZ;
    std::uint64_t& written;
    std::uint64_t& lastProgress;
    const std::filesystem::path& statusPath;
    std::uint64_t expected;
};

// What one pass read: the points the reader handed out, the XYZ lines it could not read as
// points, and the points left out for a non-finite coordinate.
struct SyntheticLasPassCounts {
    std::uint64_t pointsRead = 0;
    std::uint64_t badLines = 0;
    std::uint64_t nonFinitePoints = 0;
    std::uint64_t outsideGridPoints = 0;
    std::uint64_t outsideLasRangePoints = 0;
};

// Streams every point of the input (".xyz" or ".e57"), counts it as read, skips and counts
// non-finite coordinates, tests the selection (counting points outside the tile grid), skips
// and counts a coordinate beyond +-2^43 (the LAS coordinate range), and hands the selected
// ones to the sink.
// Standard exceptions raised inside become false with their text in *error.
using SyntheticLasProgress = std::function<void(std::uint64_t pointsRead)>;
bool streamSelectedPoints(const ExportJob& job, const ExportSelectionFilter& filter,
                          SyntheticLasBounds& sink, SyntheticLasPassCounts* counts,
                          std::string* error, const SyntheticLasProgress& progress);
bool streamSelectedPoints(const ExportJob& job, const ExportSelectionFilter& filter,
                          SyntheticLasRecordWriter& sink, SyntheticLasPassCounts* counts,
                          std::string* error, const SyntheticLasProgress& progress);

// Scale that maps the axis span onto at most about 2.12e9 integer steps; 0.000001 at least.
double lasScaleForExtent(double min, double max);

// The 227-byte public header. Throws std::runtime_error above 4,294,967,295 points.
std::array<std::uint8_t, kSyntheticLasHeaderSize> buildSyntheticLasHeader(
    std::uint64_t count, bool withRgb, double scaleX, double scaleY, double scaleZ, double offsetX,
    double offsetY, double offsetZ, double minX, double maxX, double minY, double maxY, double minZ,
    double maxZ);

// One 20- or 26-byte record. Throws std::runtime_error (nothing written) when a coordinate
// does not fit i32 at the given scale and offset.
void writeLasPointRecord(OutputFile& out, const CloudPoint& point, bool withRgb, double scaleX,
                         double scaleY, double scaleZ, double offsetX, double offsetY,
                         double offsetZ);

// The pass-2 sink: the record, the count and the progress report.
void writeSyntheticLasPoint(SyntheticLasRecordWriter& writer, const CloudPoint& point);
// The pass-1 sink.
void accumulateSyntheticLasBounds(SyntheticLasBounds& bounds, const CloudPoint& point);
