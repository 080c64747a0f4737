#pragma once

#include <cstdint>
#include <string>

// What an export route reports. A route that succeeds resets the record before filling it;
// a route that fails sets only success and errorMessage.
struct ExportResult {
    bool success = false;  // true only once the output is completely written
    std::uint64_t inputPoints = 0;
    std::uint64_t writtenPoints = 0;
    std::uint64_t skippedPoints =
        0;                      // inputPoints - writtenPoints, 0 when more were written than read
    double outputAreaM2 = 0.0;  // copied from the job
    double outputSizeMB = 0.0;  // bytes * 2^-20; split exports sum their outputs
    std::string outputPath;     // split exports: the job's output path
    std::string errorMessage;   // empty on success

    // What the route left out, reported in the helper's success message: input lines its
    // grammar did not read as points, points with a NaN or infinite coordinate, finite points
    // no coarse tile holds (their tile number does not fit in 64 bits) and, for LAS output,
    // points with a coordinate no LAS scale can hold.
    std::uint64_t badLines = 0;
    std::uint64_t nonFinitePoints = 0;
    std::uint64_t outsideGridPoints = 0;
    std::uint64_t outsideLasRangePoints = 0;
};
