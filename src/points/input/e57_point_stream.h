#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include <pdal/PointRef.hpp>

#include "points/input/cloud_point.h"

// 16-bit and 8-bit colour alike to 0..255: a value of 256 and more is taken as 16-bit.
inline std::uint16_t colourTo8Bits(unsigned int v) {
    const unsigned int r = v < 256 ? v : v >> 8;
    return static_cast<std::uint16_t>(r < 255 ? r : 255);
}

// Streams every point of an E57 file through "readers.e57" in file order: the factory, the
// stage with the one option "filename", a fixed table of 100,000 points, a stream callback
// filter, prepare, then execute. False, before anything is read, when the stage cannot be made.
// hasColour is set after prepare, before the first point, to whether the stream's layout has
// Red, Green and Blue. PDAL's and the library's errors pass through as they are.
// A file that mixes Cartesian and spherical scans (e57MixesCoordinateKinds) is read through
// libE57Format instead, with the same points and values, in rows of x, y, z and colour.
bool streamE57File(const std::string& path, bool& hasColour,
                   const std::function<bool(pdal::PointRef&)>& callback);

// Receives the x, y and z of points n in stream order; the arrays are valid during the call only.
using E57PointBatchFunc =
    std::function<void(const double* x, const double* y, const double* z, std::size_t n)>;

// Table of the chunked stream when the caller names none: small enough that a chunk's rows are
// still in cache when they are handed on.
inline constexpr std::size_t kE57BatchTableCapacity = 4096;

// The same points as streamE57File, in the same order, without a callback per point: the reader
// runs alone in stream mode, in a table of tableCapacity points, and each chunk's coordinates
// are handed on at once, before the next chunk is read. False, before anything is read, when
// the stage cannot be made. Errors pass through as they are; the points of the chunk being read
// when one occurs are not handed on. A mixed file is read through libE57Format, as above.
bool streamE57FileInBatches(const std::string& path, const E57PointBatchFunc& onPoints,
                            std::size_t tableCapacity = kE57BatchTableCapacity);

enum class ColourReadErrors { EndTheStream, LeaveWithoutColour };

// A fresh point with x, y, z as delivered and, when hasColour, the colour in 8 bits.
CloudPoint cloudPointFromStream(pdal::PointRef& ref, bool hasColour, ColourReadErrors onError);
