#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "export/export_result.h"
#include "export/route_contract.h"
#include "points/input/cloud_point.h"
#include "points/job/export_job.h"
#include "points/selection/selection.h"

class OutputFile;

// LAS input to XYZ ASCII text, one point per line.
bool exportLasToXyz(const ExportJob& job, const std::string& statusPath, ExportResult* result,
                    std::string* error);
// E57 (through "readers.e57") and XYZ ASCII input to XYZ ASCII text.
bool exportXyzAscii(const ExportJob& job, const std::string& statusPath, ExportResult* result,
                    std::string* error);

// Longest line formatXyzAsciiLine writes, newline included.
inline constexpr std::size_t kMaxXyzAsciiLine = 128;

// "x y z" or "x y z r g b" (the colour only with withRgb and point.hasRGB) and "\n"; numbers at
// 10 significant digits in the shortest of fixed and scientific notation, as printf's %.10g.
// Writes at most kMaxXyzAsciiLine bytes into out; returns the count.
std::size_t formatXyzAsciiLine(char* out, const CloudPoint& point, bool withRgb);

// What exportXyzAscii's per-point step works on.
struct XyzAsciiExportContext {
    std::uint64_t& pointsRead;
    RouteProgressCadence& progress;  // holds the points read at the last report
    const std::filesystem::path& statusPath;
    const ExportJob& job;
    std::uint64_t& pointsWritten;
    const std::vector<TileSet>& topSelections;
    const std::vector<HeightRangeFilter>& heightRanges;
    const TileSet& selectedTiles;
    OutputFile& out;
    UnionSelectionTest& selection;  // over the three parts above
    std::uint64_t& nonFinitePoints;
};

// Counting, progress, finiteness, selection and the line of one point.
void writeXyzAsciiPoint(XyzAsciiExportContext& ctx, const CloudPoint& point);
