#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "export/photo_merge.h"
#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// Single combined E57 export that keeps each scan whole (one output scan per source scan that
// kept points, structured fields where the writer takes them) and carries the scans' photos:
// a geometry pass into a temporary file beside the output, the photo merge into a second one,
// then a rename onto the output. On success method is "libE57 + temp-merge photos" and error
// holds the merge's "Image transfer summary"; after any failure no temporary file is left. A
// second export of the same output refuses while the first runs (they share the file names).
// nonFinitePoints (when given) receives the count of points left out for a NaN or infinite
// coordinate.
bool exportE57WithPhotos(const std::string& inputPath, const std::string& outputPath,
                         const TileSet& selectedTiles,
                         const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                         std::string* error, std::string* method,
                         const std::filesystem::path* statusPath,
                         std::uint64_t* nonFinitePoints = nullptr);

// The geometry pass: one scan per source scan that kept a point, under the source's guid;
// scanGuids receives one (guid, guid) pair per written scan.
bool exportPhotoGeometryE57(const std::string& inputPath, const std::string& geometryPath,
                            const TileSet& selectedTiles,
                            const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                            std::vector<ScanGuidPair>* scanGuids, std::string* error,
                            std::string* method, const std::filesystem::path* statusPath,
                            std::uint64_t* nonFinitePoints = nullptr);
