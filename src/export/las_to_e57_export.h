#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <E57SimpleWriter.h>

#include "export/export_result.h"
#include "points/job/export_job.h"

// LAS input to one E57 file of Data3D parts of at most 1,000,000 points.
bool exportLasToE57(const ExportJob& job, const std::string& statusPath, ExportResult* result,
                    std::string* error);

inline constexpr std::size_t kLasToE57PartPoints = 1000000;

// The route's buffers and counters that one part flush works on.
struct LasToE57PartContext {
    std::vector<double>& x;
    std::uint64_t& partsWritten;
    double (&bounds)[6];  // xMin, xMax, yMin, yMax, zMin, zMax
    const ExportJob& job;
    bool& partHasRgb;
    std::vector<std::uint16_t>& red;
    std::vector<std::uint16_t>& green;
    std::vector<std::uint16_t>& blue;
    std::vector<double>& y;
    std::vector<double>& z;
    e57::Writer& writer;
};

// Writes the buffered points as the next part (nothing when the buffer is empty), then empties
// the buffers and resets the part's bounds and colour flag. final only marks the console line.
void flushLasToE57Part(LasToE57PartContext& ctx, bool final);
