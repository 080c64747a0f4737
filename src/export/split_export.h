#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "export/export_result.h"
#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// One E57 file per saved selection: vertical selections first, then top selections. E57 input
// runs the native export once per output (or the photo split with the photo flag); XYZ input is
// read once and every point routed to every output that takes it. sweepEarlier as for
// removeOldSplitOutputs(): false for one combined output of XYZ input.
bool exportSplitSelections(const std::string& inputPath, const std::string& outputPath,
                           const std::vector<SelectedHeightRange>& verticalSelections,
                           const std::vector<SavedTileSelection>& topSelections,
                           const TileCountMap& tileCounts, double tileSize,
                           std::uint64_t inputTotalPoints, bool photo, ExportResult* result,
                           std::string* error, const std::filesystem::path* statusPath,
                           bool exportColour, bool sweepEarlier = true);

// One kind only, no status reports; outputAreaM2 goes into the result on success.
bool exportSplitVertical(const std::string& inputPath, const std::string& outputPath,
                         const std::vector<SelectedHeightRange>& verticalSelections,
                         double tileSize, std::uint64_t inputTotalPoints, double outputAreaM2,
                         const TileCountMap& tileCounts, bool photo, ExportResult* result,
                         std::string* error, bool exportColour);
bool exportSplitTop(const std::string& inputPath, const std::string& outputPath,
                    const std::vector<SavedTileSelection>& topSelections, double tileSize,
                    std::uint64_t inputTotalPoints, double outputAreaM2,
                    const TileCountMap& tileCounts, bool photo, ExportResult* result,
                    std::string* error, bool exportColour);

struct SplitOutputNaming {
    bool oneOutput = false;  // the single output is the job's output path itself
    std::string outputText;
    std::filesystem::path outputPath;
};

// folder / (stem + "_" + kind + "_" + number with at least two digits + extension).
std::string makeSplitOutputPath(const SplitOutputNaming& naming, const char* kind,
                                std::uint64_t number);

// Every file a split of that many selections writes, vertical ones first: the numbered names,
// or the output path itself for a lone output (the photo split numbers even that one). Without
// any selection the output path, which a refused split clears too.
std::vector<std::string> splitOutputPaths(const std::string& outputPath, std::size_t verticalCount,
                                          std::size_t topCount, bool photo);

// Every name in the output's folder that makeSplitOutputPath() gives an output of either kind,
// whatever its number: "<stem>_vertical_NN<extension>", "<stem>_top_NN<extension>", found as a
// file or as a working file's uncut name ("<stem>_top_NN<extension>.unfinished-<pid>-<n>.tmp").
std::vector<std::string> earlierSplitOutputs(const std::string& outputPath);

// True when an export to outputPath may write, replace or remove a file at `path`: a name in the
// output's folder that a split numbers after it ("<stem>_top_NN<extension>"), or a working name
// of any export there (".unfinished-<pid>-<n>.tmp", "_geom_tmp", "_with_photos_tmp"). The output
// path itself is the caller's to compare.
bool mayBeExportFile(const std::string& outputPath, const std::string& path);

// removeOldRegularOutputs() for all of the split's outputs at once, before the first one starts:
// refuses a folder, device or pipe at the output path or at any of them, the input at any of
// them (for the photo split, the input at any of its working files too), or a name too long,
// before removing anything. With sweepEarlier (a split by export mode) also removes the files
// at earlierSplitOutputs() and at the output path that this split does not write, and their
// dead writers' working files, except a folder, a device or pipe, or the input.
void removeOldSplitOutputs(const std::string& inputPath, const std::string& outputPath,
                           std::size_t verticalCount, std::size_t topCount, bool photo,
                           bool sweepEarlier);

// The split's own line grammar: 3, 4, 6 or 7 tokens, finite x y z, colour clamped to 0..255
// from tokens 4-6 of a 6- or 7-token line (0 otherwise); no intensity is read.
bool parseXyzSplitLine(const std::string& line, double* x, double* y, double* z, std::uint16_t* red,
                       std::uint16_t* green, std::uint16_t* blue);
