#pragma once

#include "points/input/cloud_point.h"

#include <cstddef>
#include <string_view>

// One XYZ ASCII line: 3, 4, 6 or 7 tokens separated by runs of ' ', '\t', '\r', '\n'
// (x y z, x y z i, x y z r g b, x y z r g b i). Numbers must be whole tokens read in the
// C locale; colours are 32-bit signed decimals clamped to 0..255.
// On acceptance fills x, y, z (unscaled), colour and intensity with their flags; every other
// field of `fields` is reset. Returns false for a rejected line.
bool parseXyzLine(std::string_view line, CloudPoint& fields);

// The same grammar, faster, for a line held in a buffer that stays readable from
// kXyzLinePadBefore bytes before `begin` to kXyzLinePadAfter bytes after it (whatever lies
// there besides the line is ignored). The XYZ reader keeps such padding around its block.
inline constexpr std::size_t kXyzLinePadBefore = 16;
inline constexpr std::size_t kXyzLinePadAfter = 64;
bool parseXyzLineInPaddedBuffer(const char* begin, const char* end, CloudPoint& fields);

// Both with the token read as intensity (the 4th of 4, the 7th of 7) left unexamined: it may
// hold any text, and `fields` never carries an intensity. The split export's lines.
bool parseXyzLineIgnoringIntensity(std::string_view line, CloudPoint& fields);
bool parseXyzLineInPaddedBufferIgnoringIntensity(const char* begin, const char* end,
                                                 CloudPoint& fields);

// Widens the summary's bounds with one point (the first point sets them).
inline void expandBounds(PointReaderSummary& summary, double x, double y, double z) {
    if (!summary.hasBounds) {
        summary.minX = summary.maxX = x;
        summary.minY = summary.maxY = y;
        summary.minZ = summary.maxZ = z;
        summary.hasBounds = true;
    } else {
        if (x < summary.minX) summary.minX = x;
        if (x > summary.maxX) summary.maxX = x;
        if (y < summary.minY) summary.minY = y;
        if (y > summary.maxY) summary.maxY = y;
        if (z < summary.minZ) summary.minZ = z;
        if (z > summary.maxZ) summary.maxZ = z;
    }
    summary.boundsValid = true;
}
