#include "export/xyz_split_export.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <exception>
#include <iomanip>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <system_error>

#include "export/e57_route_support.h"
#include "export/output_naming.h"
#include "export/pending_output.h"
#include "export/split_export.h"
#include "export/xyz_split_lines.h"
#include "points/input/cloud_point.h"
#include "points/input/exception_text.h"
#include "points/input/xyz_line_grammar.h"
#include "points/job/export_status.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr const char* kSourceGuidBase = "xyz-split-export-source";
constexpr std::uint64_t kStreamTableCapacity = 65536;  // printed only

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message); }

void closeOutput(MultiSplitOutput& out) {
    std::string reason = "the E57 writer could not finish the file";
    bool closed = false;
    try {
        closed = out.writer->Close();
    } catch (const std::exception& e) {
        reason = exceptionText(e);
    }
    if (!closed)
        fail("Split export failed while writing output file: " + out.path + " (" + reason + ")");
    out.writer.reset();
}

[[gnu::noinline]] void reportMultiSplitProgress(const MultiSplitRouteContext& ctx, bool hasRgb) {
    const std::uint64_t read = ctx.pointsRead;
    std::uint64_t kept = 0;
    for (const MultiSplitOutput& out : ctx.outputs) kept += out.keptPoints;
    const double percent = ctx.inputTotal == 0 ? 0.0
                                               : 100.0 * static_cast<double>(read) /
                                                     static_cast<double>(ctx.inputTotal);
    if (ctx.statusPath) {
        std::ostringstream message;
        message << "Exporting " << read / 1000000 << "M / " << ctx.inputTotal / 1000000 << "M pts"
                << " | " << std::fixed << std::setprecision(1) << percent << "%"
                << " | kept=" << kept / 1000000 << "M"
                << " | outputs=" << ctx.outputs.size();
        writeExportStatusFile(*ctx.statusPath, "Running", message.str());
    }
    // The fixed one-decimal notation is set on the console stream itself and stays in force.
    std::cout << "[MULTI SPLIT] read=" << read << " | keptAcrossOutputs=" << kept
              << " | pointHasRGB=" << (hasRgb ? 1 : 0) << " | progress=" << std::fixed
              << std::setprecision(1) << percent << "%\n";
}

// One output's share of a point whose reach it is in: its selection decides.
inline void takePoint(MultiSplitRouteContext& ctx, MultiSplitOutput& out, double x, double y,
                      double z, std::uint16_t red, std::uint16_t green, std::uint16_t blue,
                      bool keepColour) {
    if (!out.selection->accepts(x, y, z)) return;
    out.x.push_back(x);
    out.y.push_back(y);
    out.z.push_back(z);
    if (keepColour) {
        out.red.push_back(red);
        out.green.push_back(green);
        out.blue.push_back(blue);
        out.partHasRgb = true;
    }
    std::array<double, 6>& b = out.bounds;
    b[0] = x < b[0] ? x : b[0];
    b[1] = x > b[1] ? x : b[1];
    b[2] = y < b[2] ? y : b[2];
    b[3] = y > b[3] ? y : b[3];
    b[4] = z < b[4] ? z : b[4];
    b[5] = z > b[5] ? z : b[5];
    ++out.keptPoints;
    if (out.x.size() >= ctx.pointsPerPart) [[unlikely]]
        flushMultiSplitPart(ctx.part, out, false);
}

// Returns the count of lines not read as points.
std::uint64_t readSplitInput(const std::string& inputPath, MultiSplitRouteContext& route) {
    XyzSplitLines lines;
    if (std::string reason; !lines.open(inputPath, &reason))
        fail("Could not open XYZ input for split export: " + inputPath + " (" + reason + ")");
    constexpr double kCoordScale = 1.0;
    std::uint64_t rawLines = 0;
    std::uint64_t badLines = 0;
    CloudPoint p;
    const char* b = nullptr;
    const char* e = nullptr;
    bool padded = true;
    for (;;) {
        const XyzSplitLines::Next status = lines.next(b, e, padded);
        if (status == XyzSplitLines::Next::End) break;
        // A stream that stops early must not pass for the end of the cloud.
        if (status == XyzSplitLines::Next::Error)
            fail("Error while reading XYZ input for split export: " + inputPath);
        ++rawLines;
        if (b == e) continue;
        const bool accepted = padded ? parseXyzLineInPaddedBufferIgnoringIntensity(b, e, p)
                                     : parseXyzLineIgnoringIntensity(
                                           std::string_view(b, static_cast<std::size_t>(e - b)), p);
        if (!accepted) {
            ++badLines;
            continue;
        }
        routeMultiSplitPoint(route, p.x * kCoordScale, p.y * kCoordScale, p.z * kCoordScale, p.red,
                             p.green, p.blue, true);
    }
    if (badLines > 0)
        std::cout << "[MULTI SPLIT] XYZ bad lines skipped=" << badLines
                  << " | rawLines=" << rawLines << "\n";
    return badLines;
}

}  // namespace

bool parseXyzSplitLine(const std::string& line, double* x, double* y, double* z, std::uint16_t* red,
                       std::uint16_t* green, std::uint16_t* blue) {
    *red = 0;
    *green = 0;
    *blue = 0;
    CloudPoint p;
    if (!parseXyzLineIgnoringIntensity(line, p)) return false;
    *x = p.x;
    *y = p.y;
    *z = p.z;
    *red = p.red;
    *green = p.green;
    *blue = p.blue;
    return true;
}

void resetMultiSplitBounds(std::array<double, 6>& bounds) {
    constexpr double kMax = std::numeric_limits<double>::max();
    for (std::size_t i = 0; i < 6; i += 2) {
        bounds[i] = kMax;
        bounds[i + 1] = -kMax;
    }
}

MultiSplitReach multiSplitReach(const TileSet& tiles,
                                const std::vector<SelectedHeightRange>& heightRanges) {
    constexpr double kInf = std::numeric_limits<double>::infinity();
    MultiSplitReach reach{{-kInf, -kInf}, {kInf, kInf}, {-kInf, -kInf}};
    if (tiles.empty() && heightRanges.empty()) return reach;  // takes every point
    // Only a tile of the set or one that a range lists can pass.
    std::array<std::int64_t, 2> low{std::numeric_limits<std::int64_t>::max(),
                                    std::numeric_limits<std::int64_t>::max()};
    std::array<std::int64_t, 2> high{std::numeric_limits<std::int64_t>::min(),
                                     std::numeric_limits<std::int64_t>::min()};
    const auto widen = [&low, &high](const TileIndex& t) {
        low = {std::min(low[0], t.ix), std::min(low[1], t.iy)};
        high = {std::max(high[0], t.ix), std::max(high[1], t.iy)};
    };
    for (const TileIndex& t : tiles) widen(t);
    for (const SelectedHeightRange& r : heightRanges)
        for (const TileIndex& t : r.tiles) widen(t);
    for (std::size_t k = 0; k < 2; ++k) {
        if (low[k] > high[k]) {  // no tile at all: nothing passes
            reach.quotientLow[k] = kInf;
            reach.quotientHigh[k] = -kInf;
            continue;
        }
        // Tiles that far out are beyond the quotient limit and so never tested here.
        reach.quotientLow[k] = static_cast<double>(low[k]) - 1.0;
        reach.quotientHigh[k] = static_cast<double>(high[k]) + 2.0;
    }
    // When every tile is listed by a range (a vertical output), Z decides each of them.
    TileSet listed;
    for (const SelectedHeightRange& r : heightRanges) listed.insert(r.tiles.begin(), r.tiles.end());
    const bool allTilesListed =
        std::all_of(tiles.begin(), tiles.end(),
                    [&listed](const TileIndex& t) { return listed.find(t) != listed.end(); });
    if (heightRanges.empty() || !allTilesListed) return reach;
    double zLow = kInf;
    double zHigh = -kInf;
    for (const SelectedHeightRange& r : heightRanges) {
        if (std::isnan(r.zMin) || std::isnan(r.zMax)) return reach;
        zLow = std::min({zLow, r.zMin, r.zMax});
        zHigh = std::max({zHigh, r.zMin, r.zMax});
    }
    reach.zLowNegatedHigh = {zLow, -zHigh};
    return reach;
}

void routeMultiSplitPoint(MultiSplitRouteContext& ctx, double x, double y, double z,
                          std::uint16_t red, std::uint16_t green, std::uint16_t blue, bool hasRgb) {
    const std::uint64_t read = ++ctx.pointsRead;
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
        ++ctx.nonFinite;
        return;
    }
    // Colour that no part will carry is not buffered.
    const bool keepColour = hasRgb && ctx.part.exportColour;
    // The reach tests of 64 outputs at a time give a mask without a branch per output (points
    // come in no order). Far-out quotients skip them.
    const double qx = x * ctx.inverseTileSize;
    const double qy = y * ctx.inverseTileSize;
    const bool testReach = std::fabs(qx) < kMultiSplitReachQuotientLimit &&
                           std::fabs(qy) < kMultiSplitReachQuotientLimit;
    std::vector<MultiSplitOutput>& outputs = ctx.outputs;
#if defined(__SSE2__)
    const __m128d quotient = _mm_set_pd(qy, qx);
    const __m128d zBoth = _mm_set_pd(-z, z);
#endif
    for (std::size_t first = 0; first < outputs.size(); first += 64) {
        const std::size_t count = std::min<std::size_t>(64, outputs.size() - first);
        std::uint64_t candidates =
            count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << count) - 1;
        if (testReach) [[likely]] {
            candidates = 0;
            for (std::size_t i = 0; i < count; ++i) {
                const MultiSplitReach& r = outputs[first + i].reach;
#if defined(__SSE2__)
                const __m128d outside = _mm_or_pd(
                    _mm_or_pd(_mm_cmplt_pd(quotient, _mm_loadu_pd(r.quotientLow.data())),
                              _mm_cmple_pd(_mm_loadu_pd(r.quotientHigh.data()), quotient)),
                    _mm_cmplt_pd(zBoth, _mm_loadu_pd(r.zLowNegatedHigh.data())));
                const bool inside = _mm_movemask_pd(outside) == 0;
#else
                const bool inside = !((qx < r.quotientLow[0]) | (qy < r.quotientLow[1]) |
                                      (r.quotientHigh[0] <= qx) | (r.quotientHigh[1] <= qy) |
                                      (z < r.zLowNegatedHigh[0]) | (-z < r.zLowNegatedHigh[1]));
#endif
                candidates |= static_cast<std::uint64_t>(inside) << i;
            }
        }
        for (; candidates != 0; candidates &= candidates - 1)
            takePoint(ctx, outputs[first + static_cast<std::size_t>(std::countr_zero(candidates))],
                      x, y, z, red, green, blue, keepColour);
    }
    if (read % kMultiSplitProgressEvery == 0) [[unlikely]]
        reportMultiSplitProgress(ctx, hasRgb);
}

bool writeMultiSplitE57Part(const MultiSplitWriteContext& ctx, bool wantColour) {
    try {
        e57::Data3D header = ctx.header;
        MultiSplitOutput& out = ctx.output;
        const bool colour = wantColour && ctx.colourDecision;
        e57::PointStandardizedFieldsAvailable& f = header.pointFields;
        f.colorRedField = f.colorGreenField = f.colorBlueField = colour;
        if (!colour) header.colorLimits = e57::ColorLimits{};
        f.intensityField = false;
        f.timeStampField = false;
        f.rowIndexField = false;
        f.columnIndexField = false;
        header.pointGroupingSchemes = e57::PointGroupingSchemes{};

        e57::Data3DPointsDouble points;
        points.cartesianX = out.x.data();
        points.cartesianY = out.y.data();
        points.cartesianZ = out.z.data();
        if (colour) {
            points.colorRed = out.red.data();
            points.colorGreen = out.green.data();
            points.colorBlue = out.blue.data();
        }
        out.writer->WriteData3DData(header, points);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void flushMultiSplitPart(MultiSplitPartContext& ctx, MultiSplitOutput& out, bool final) {
    const std::size_t count = out.x.size();
    if (count == 0) return;
    const std::uint64_t partNumber = out.partsWritten + 1;
    const bool colour = ctx.exportColour && out.partHasRgb && out.red.size() == count &&
                        out.green.size() == count && out.blue.size() == count;

    e57::Data3D header;
    header.guid = makePartStem(ctx.sourceGuid, 0, partNumber);
    header.pointCount = count;
    setCartesianBounds(header.cartesianBounds, out.bounds.data());
    header.pose = e57::RigidBodyTransform{};
    header.pointFields.cartesianXField = true;
    header.pointFields.cartesianYField = true;
    header.pointFields.cartesianZField = true;
    // The default node type is a 32-bit float, which would round survey coordinates.
    header.pointFields.pointRangeNodeType = e57::NumericalNodeType::Double;
    if (colour) {
        header.pointFields.colorRedField = true;
        header.pointFields.colorGreenField = true;
        header.pointFields.colorBlueField = true;
        setEightBitColourLimits(header.colorLimits);
    }

    std::cout << "[MULTI SPLIT] flushing part | " << out.label << " | output=" << out.path
              << " | part=" << partNumber << " | points=" << count << " | rgb=" << (colour ? 1 : 0)
              << (final ? " | final=1" : " | final=0") << "\n";

    // One attempt only: a failed write can leave its half-made Data3D block in the file, and a
    // second attempt on the same writer would hide that block behind a success.
    const MultiSplitWriteContext write{colour, header, out};
    if (!writeMultiSplitE57Part(write, colour)) {
        std::ostringstream message;
        message << "Multi-split WriteData3DData failed"
                << " | output=" << out.path << " | label=" << out.label << " | part=" << partNumber
                << " | keptPoints=" << count << " | selectedTiles=" << out.tiles.size()
                << " | selectedHeightRanges=" << out.heightRanges.size() << " | xyz=1"
                << " | rgbRequested=" << (colour ? 1 : 0) << " | bounds.min=(" << out.bounds[0]
                << "," << out.bounds[2] << "," << out.bounds[4] << ")"
                << " | bounds.max=(" << out.bounds[1] << "," << out.bounds[3] << ","
                << out.bounds[5] << ")"
                << " | what=E57 exception in multi-split writer";
        fail(message.str());
    }

    ++out.partsWritten;
    out.x.clear();
    out.y.clear();
    out.z.clear();
    out.red.clear();
    out.green.clear();
    out.blue.clear();
    out.partHasRgb = false;
    resetMultiSplitBounds(out.bounds);
    if (final)
        std::cout << "[MULTI SPLIT] final part | " << out.label << " | part=" << out.partsWritten
                  << " | points=" << count << "\n";
}

void exportXyzSinglePassSplit(const std::string& inputPath, const std::string& outputPath,
                              const std::vector<SelectedHeightRange>& verticalSelections,
                              const std::vector<SavedTileSelection>& topSelections, double tileSize,
                              std::uint64_t inputTotalPoints, ExportResult* result,
                              const std::filesystem::path* statusPath, bool exportColour) {
    if (result) {
        *result = ExportResult{};
        result->inputPoints = inputTotalPoints;
    }
    const std::string sourceGuid = makePartStem(kSourceGuidBase, 0, 1);
    e57::WriterOptions options;
    options.guid = sourceGuid;

    std::cout << "[MULTI SPLIT] XYZ input detected | coordScaleToMeters=1 | input=" << inputPath
              << "\n";

    const std::size_t count = verticalSelections.size() + topSelections.size();
    const SplitOutputNaming naming{count == 1, outputPath, fs::path(outputPath)};
    std::vector<MultiSplitOutput> outputs;
    outputs.reserve(count);
    for (std::size_t i = 0; i < verticalSelections.size(); ++i) {
        const SelectedHeightRange& selection = verticalSelections[i];
        MultiSplitOutput out;
        out.label = "vertical #" + std::to_string(i + 1);
        out.path = makeSplitOutputPath(naming, "vertical", i + 1);
        out.tiles.max_load_factor(1.0f);
        out.tiles.insert(selection.tiles.begin(), selection.tiles.end());
        out.heightRanges.push_back(selection);
        outputs.push_back(std::move(out));
    }
    for (std::size_t j = 0; j < topSelections.size(); ++j) {
        const SavedTileSelection& selection = topSelections[j];
        MultiSplitOutput out;
        out.label = "top #" + std::to_string(j + 1);
        out.path = makeSplitOutputPath(naming, "top", j + 1);
        out.tiles.max_load_factor(1.0f);
        out.tiles.insert(selection.tiles.begin(), selection.tiles.end());
        outputs.push_back(std::move(out));
    }
    // The split's entry has refused an output that is the input, before removing anything.
    for (MultiSplitOutput& out : outputs) {
        resetMultiSplitBounds(out.bounds);
        out.selection.emplace(out.tiles, out.heightRanges, tileSize);
        out.reach = multiSplitReach(out.tiles, out.heightRanges);
    }

    // Each output is written to its own temporary file and moved into place once closed;
    // outputs not yet moved leave nothing behind on a failure.
    std::vector<PendingOutput> pending;
    pending.reserve(outputs.size());
    for (const MultiSplitOutput& out : outputs)
        pending.emplace_back(inputPath, out.path, kSplitOutputWords);
    std::uint64_t pointsRead = 0;
    std::uint64_t nonFinite = 0;
    std::uint64_t badLines = 0;
    std::uint64_t keptAcrossOutputs = 0;
    double totalMB = 0.0;
    try {
        for (std::size_t o = 0; o < outputs.size(); ++o) {
            MultiSplitOutput& out = outputs[o];
            out.writer = openE57Writer(pending[o].temporaryPath(), options);
            for (std::vector<double>* v : {&out.x, &out.y, &out.z})
                v->reserve(kMultiSplitPartPoints);
            // Colour buffers only when a part can carry colour.
            if (exportColour)
                for (std::vector<std::uint16_t>* v : {&out.red, &out.green, &out.blue})
                    v->reserve(kMultiSplitPartPoints);
            std::cout << "[MULTI SPLIT] output prepared | " << out.label
                      << " | tiles=" << out.tiles.size()
                      << " | heightRanges=" << out.heightRanges.size() << " | path=" << out.path
                      << "\n";
        }
        std::cout << "[MULTI SPLIT] single-pass export started | outputs=" << outputs.size()
                  << " | streamTableCapacity=" << kStreamTableCapacity
                  << " | pointsPerPart=" << kMultiSplitPartPoints << " | inputIsXYZ=1"
                  << " | coordScaleToMeters=1\n";

        const std::uint64_t pointsPerPart = kMultiSplitPartPoints;
        const double inverseTileSize = 1.0 / tileSize;
        MultiSplitPartContext part{sourceGuid, exportColour};
        MultiSplitRouteContext route{pointsRead, nonFinite,        outputs,
                                     tileSize,   inverseTileSize,  pointsPerPart,
                                     part,       inputTotalPoints, statusPath};
        badLines = readSplitInput(inputPath, route);

        for (std::size_t o = 0; o < outputs.size(); ++o) {
            MultiSplitOutput& out = outputs[o];
            flushMultiSplitPart(part, out, true);
            if (out.keptPoints == 0 || out.partsWritten == 0)
                fail("Single-pass split produced zero points for " + out.label +
                     " | output=" + out.path);
            closeOutput(out);
            pending[o].publish();
            totalMB += fileSizeMB(out.path);
            std::cout << "[MULTI SPLIT] completed | " << out.label << " | kept=" << out.keptPoints
                      << " | partsWritten=" << out.partsWritten << " | output=" << out.path << "\n";
            keptAcrossOutputs += out.keptPoints;
        }
    } catch (const std::exception& e) {
        fail(withSystemReason(exceptionText(e), writeFailureReason(pending)));
    }
    if (nonFinite > 0) std::cout << "[MULTI SPLIT] skipped_nonfinite_xyz=" << nonFinite << "\n";

    if (result) {
        result->success = true;
        result->outputPath = outputPath;
        result->writtenPoints = keptAcrossOutputs;
        result->badLines = badLines;
        result->nonFinitePoints = nonFinite;
        result->outputSizeMB = totalMB;
    }
    std::cout << "[MULTI SPLIT] single-pass export completed | read=" << pointsRead
              << " | outputs=" << outputs.size() << " | keptAcrossOutputs=" << keptAcrossOutputs
              << "\n";
}
