#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <E57SimpleWriter.h>

#include "export/e57_output_writer.h"
#include "export/export_result.h"
#include "points/selection/selection.h"
#include "points/tiles/selection_types.h"
#include "points/tiles/tile_index.h"

// The single-pass split of an XYZ input: the text is read once, every point goes to every
// output whose selection holds it, and each output is written through its own E57 writer in
// parts of at most kMultiSplitPartPoints points.

inline constexpr std::uint64_t kMultiSplitPartPoints = 1000000;
inline constexpr std::uint64_t kMultiSplitProgressEvery = 10000000;

// What an output's selection can take at most: the box of its tiles and, when Z decides every
// tile, the span of its ranges. A point outside is refused without asking the selection; the
// selection decides the rest. With no limit the bounds are infinite.
struct MultiSplitReach {
    // x / tileSize and y / tileSize of a point the box holds lie in [low, high); the box is one
    // tile wider on each side than the tiles, so that a quotient taken by multiplying with
    // 1 / tileSize, a few ulps off, still falls inside it.
    std::array<double, 2> quotientLow;
    std::array<double, 2> quotientHigh;
    std::array<double, 2> zLowNegatedHigh;  // lowest z and minus the highest, for one compare
};

// One output of the single-pass split.
struct MultiSplitOutput {
    std::string label;  // "vertical #1", "top #2"
    std::string path;
    TileSet tiles;
    std::vector<SelectedHeightRange> heightRanges;  // the vertical selection; empty for top
    E57WriterPtr writer;                            // released once the file is closed
    std::vector<double> x, y, z;                    // the current part
    std::vector<std::uint16_t> red, green, blue;    // kept only when colour is exported
    bool partHasRgb = false;
    std::array<double, 6> bounds{};  // xMin, xMax, yMin, yMax, zMin, zMax of the current part
    std::uint64_t keptPoints = 0;    // all parts
    std::uint64_t partsWritten = 0;
    // Z-decides rule over tiles and heightRanges, built once the record has its place.
    std::optional<ZDecidesSelectionTest> selection;
    MultiSplitReach reach;
};

void resetMultiSplitBounds(std::array<double, 6>& bounds);

MultiSplitReach multiSplitReach(const TileSet& tiles,
                                const std::vector<SelectedHeightRange>& heightRanges);

// Quotients of this size and more (or NaN) are left to the selections: the margin of the reach
// box covers the error of the multiplied quotient only below it.
inline constexpr double kMultiSplitReachQuotientLimit = 1125899906842624.0;  // 2^50

struct MultiSplitPartContext {
    const std::string& sourceGuid;  // file guid; the parts are named after it
    const bool& exportColour;
};

struct MultiSplitRouteContext {
    std::uint64_t& pointsRead;
    std::uint64_t& nonFinite;
    std::vector<MultiSplitOutput>& outputs;
    const double& tileSize;
    const double& inverseTileSize;  // 1 / tileSize, for the reach tests only
    const std::uint64_t& pointsPerPart;
    MultiSplitPartContext& part;
    const std::uint64_t& inputTotal;
    const std::filesystem::path* statusPath;  // null: no status reports
};

struct MultiSplitWriteContext {
    bool colourDecision;
    const e57::Data3D& header;
    MultiSplitOutput& output;
};

// Counts the point, hands it to every output that takes it (a full part is written at once)
// and reports progress every kMultiSplitProgressEvery points read.
void routeMultiSplitPoint(MultiSplitRouteContext& ctx, double x, double y, double z,
                          std::uint16_t red, std::uint16_t green, std::uint16_t blue, bool hasRgb);

// Writes the buffered points as the output's next part; nothing when none is buffered.
// Throws std::runtime_error when the part cannot be written.
void flushMultiSplitPart(MultiSplitPartContext& ctx, MultiSplitOutput& output, bool final);

// One write attempt on a copy of the header: true when the writer took the part.
bool writeMultiSplitE57Part(const MultiSplitWriteContext& ctx, bool wantColour);

// The whole single-pass split, after removeOldSplitOutputs() has checked every output against
// the input; fills the result on success and throws on failure. Outputs finished before a
// failure stay; the others leave no file.
void exportXyzSinglePassSplit(const std::string& inputPath, const std::string& outputPath,
                              const std::vector<SelectedHeightRange>& verticalSelections,
                              const std::vector<SavedTileSelection>& topSelections, double tileSize,
                              std::uint64_t inputTotalPoints, ExportResult* result,
                              const std::filesystem::path* statusPath, bool exportColour);
