#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/export_result.h"
#include "points/tiles/selection_types.h"

// One photo-preserving E57 file per saved selection (always numbered, _vertical_01 ...): one
// pass over the source writes a geometry file per output, then each is merged with its photos
// straight into its final path. Writes no status.
bool exportPhotoMultiSplit(const std::string& inputPath, const std::string& outputPath,
                           const std::vector<SelectedHeightRange>& verticalSelections,
                           const std::vector<SavedTileSelection>& topSelections, double tileSize,
                           std::uint64_t inputTotalPoints, ExportResult* result,
                           std::string* error);
