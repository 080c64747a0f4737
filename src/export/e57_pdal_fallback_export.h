#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// The points "readers.e57" delivers (world x, y, z), tested as delivered and written as
// coordinates only, in blocks of at most 200,000 points under an identity pose. True when at
// least one block was written; method is left to the caller.
bool exportE57PdalXyzFallback(const std::string& inputPath, const std::string& outputPath,
                              const TileSet& selectedTiles,
                              const std::vector<SelectedHeightRange>& heightRanges,
                              double tileSize, std::string* error, std::string* method,
                              const std::filesystem::path* statusPath);

inline constexpr std::size_t kPdalFallbackTablePoints = 65536;
inline constexpr std::size_t kPdalFallbackPartPoints = 200000;
