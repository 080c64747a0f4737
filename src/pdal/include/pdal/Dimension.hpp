#pragma once

#include <string>
#include <vector>

#include "pdal/DimUtil.hpp"

namespace pdal {
namespace Dimension {

// Numbered as the dimension table of PDAL 2.6 and later numbers them.
// Name the enumerators; apart from X, Y and Z the numbers moved between releases.
enum class Id {
    Unknown = 0,
    X = 1,
    Y = 2,
    Z = 3,
    W = 4,
    Intensity = 5,
    Classification = 12,
    Red = 16,
    Green = 17,
    Blue = 18,
    NormalX = 71,
    NormalY = 72,
    NormalZ = 73,
    Omit = 76,
    SphericalRange = 126,
    SphericalAzimuth = 127,
    SphericalElevation = 128,
};

using IdList = std::vector<Id>;

// "X", "Red", ...; empty for an id this library does not know.
std::string name(Id id);
// Double for coordinates, Unsigned16 for colour and intensity, ...; None when unknown.
Type defaultType(Id id);

}  // namespace Dimension
}  // namespace pdal
