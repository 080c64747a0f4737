#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// The points "readers.e57" delivers (world x, y, z), tested as delivered and written as
// coordinates only, in blocks of at most 200,000 points under an identity pose. True when at
// least one block was written; method is left to the caller. On success nonFinitePoints (when
// given) receives the count of points left out for a NaN or infinite coordinate.
bool exportE57PdalXyzFallback(const std::string& inputPath, const std::string& outputPath,
                              const TileSet& selectedTiles,
                              const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                              std::string* error, std::string* method,
                              const std::filesystem::path* statusPath,
                              std::uint64_t* nonFinitePoints = nullptr);

inline constexpr std::size_t kPdalFallbackTablePoints = 65536;
inline constexpr std::size_t kPdalFallbackPartPoints = 200000;

// The fallback's progress report: "Exporting 37.5% | read=3M / 8M | kept=1M | parts=2 |
// method=PDAL XYZ fallback", the percentage capped at 99.9 and 0 when the total is 0.
std::string pdalFallbackProgressSentence(std::uint64_t read, std::uint64_t total,
                                         std::uint64_t kept, std::uint64_t parts);
