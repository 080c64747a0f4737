#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// True when some scan of the file has spherical coordinates and another scan with points has
// not all three of them. PDAL's "readers.e57" computes every point of such a file from the
// spherical fields, so the Cartesian scans' points come out as zeros plus their pose. False
// when the file cannot be read: the stream then reports why.
bool e57MixesCoordinateKinds(const std::string& path);

// Points of one read, valid during the call only; red, green and blue are null without colour.
struct E57DirectBlock {
    const double* x;
    const double* y;
    const double* z;
    const std::uint16_t* red;
    const std::uint16_t* green;
    const std::uint16_t* blue;
    std::size_t n;
};

// Every point of the file through libE57Format, scan by scan in file order, as "readers.e57"
// gives a file of one kind: world x, y, z (from range, azimuth and elevation where a scan has all
// three, else the Cartesian fields with a missing one as 0, then the scan's pose) and colour
// rescaled to 16 bits by the scan's limits (0 in scans without colour). hasColour is set, before
// the first block, to whether any scan has red, green and blue. The library's errors pass through.
void readE57Directly(const std::string& path, bool& hasColour,
                     const std::function<void(const E57DirectBlock&)>& onBlock);
