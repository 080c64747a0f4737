#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <E57SimpleReader.h>

#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// E57 input to one combined E57 file: every scan read again in blocks of kNativeE57ReadBlock,
// the points that pass the Z-decides rule (tested in world coordinates through the scan's pose)
// written bit for bit in their scan's own coordinates under its copied pose, in Data3D blocks
// of at most 1,000,000 points. Spherical-only scans of a file that also has Cartesian ones are
// converted to x, y, z; when the scans that hold points are all non-Cartesian the export is
// handed to exportE57PdalXyzFallback. method is "libE57" or "PDAL XYZ fallback"; no final
// status is written. The output appears only when complete: after any failure nothing stands
// at outputPath, and the failure text ends with the system's reason when there is one. On
// success nonFinitePoints (when given) receives the count of points left out for a NaN or
// infinite coordinate.
bool exportE57Native(const std::string& inputPath, const std::string& outputPath,
                     const TileSet& selectedTiles,
                     const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                     std::string* error, std::string* method,
                     const std::filesystem::path* statusPath, bool exportColour,
                     std::uint64_t* nonFinitePoints = nullptr);

// Sum of pointCount over the scans; a scan whose header cannot be read adds nothing.
std::uint64_t countE57Points(const e57::Reader& reader);

// Points per library read call.
inline constexpr std::size_t kNativeE57ReadBlock = 262144;
inline constexpr std::size_t kNativeE57PartPoints = 1000000;
