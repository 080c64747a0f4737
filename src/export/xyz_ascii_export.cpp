#include "export/xyz_ascii_export.h"

#include <charconv>
#include <iostream>

#include <pdal/PointRef.hpp>

#include "export/finite_xyz.h"
#include "export/output_file.h"
#include "export/xyz_number_format.h"
#include "points/input/e57_point_stream.h"
#include "points/job/export_status.h"
#include "points/input/las_reader.h"
#include "points/input/text_utils.h"
#include "points/input/xyz_ascii_reader.h"

namespace fs = std::filesystem;

namespace {

// The widest number at 10 significant digits is "-1.234567891e-308" (17 characters) and a
// colour value is at most 5 digits, so a line never exceeds 3 * 17 + 2 + 3 * 6 + 1 = 72 bytes.
constexpr std::size_t kMaxXyzAsciiNumber = 17;
static_assert(3 * kMaxXyzAsciiNumber + 2 + 3 * 6 + 1 <= kMaxXyzAsciiLine);

inline char* putCoordinate(char* at, char*, double value) { return formatDouble10g(at, value); }

inline char* putColour(char* at, char* end, std::uint16_t value) {
    *at++ = ' ';
    return std::to_chars(at, end, static_cast<unsigned>(value)).ptr;
}

// One selected point's line straight into the output buffer, then a check that the output
// still takes data: a full disk ends the route at once instead of after the whole input.
inline void writePointLine(OutputFile& out, const CloudPoint& point, bool withRgb,
                           const ExportRouteWords& words) {
    char* line = out.reserve(kMaxXyzAsciiLine);
    out.commit(formatXyzAsciiLine(line, point, withRgb));
    if (!out.good()) checkRouteOutput(out, words);
}

}  // namespace

std::size_t formatXyzAsciiLine(char* out, const CloudPoint& point, bool withRgb) {
    char* const end = out + kMaxXyzAsciiLine;
    char* at = putCoordinate(out, end, point.x);
    *at++ = ' ';
    at = putCoordinate(at, end, point.y);
    *at++ = ' ';
    at = putCoordinate(at, end, point.z);
    if (withRgb && point.hasRGB) {
        at = putColour(at, end, point.red);
        at = putColour(at, end, point.green);
        at = putColour(at, end, point.blue);
    }
    *at++ = '\n';
    return static_cast<std::size_t>(at - out);
}

void writeXyzAsciiPoint(XyzAsciiExportContext& ctx, const CloudPoint& point) {
    ++ctx.pointsRead;
    if (ctx.progress.due(ctx.pointsRead)) {
        writeExportProgressStatus(ctx.statusPath, kXyzAsciiWords.progressMethod, ctx.pointsRead,
                                  ctx.job.inputTotalPoints, ctx.pointsWritten, std::string(), 0.0,
                                  99.9);
        std::cout << "[XYZ ASCII EXPORT]"
                  << " read=" << ctx.pointsRead << " | written=" << ctx.pointsWritten << "\n";
    }
    // The selection refuses a non-finite x or y, not a z; a "nan" line is no point.
    if (!finite3(point)) {
        ++ctx.nonFinitePoints;
        return;
    }
    if (ctx.selection.accepts(point.x, point.y, point.z)) {
        writePointLine(ctx.out, point, ctx.job.exportRGB, kXyzAsciiWords);
        ++ctx.pointsWritten;
    }
}

bool exportLasToXyz(const ExportJob& job, const std::string& statusPath, ExportResult* result,
                    std::string* error) {
    return runExportRoute(job, result, error, [&] {
        const ExportRouteWords& words = kLasToXyzWords;
        removeOldRouteOutput(job, words);
        checkRouteTileSize(job, words);
        PendingOutput output = prepareRouteOutput(job, words);

        LasBinaryPointReader reader;
        std::string readError;
        if (!reader.open(job.inputE57Path, &readError))
            failExportRoute("Cannot open LAS input for export: " + readError);

        OutputFile out;
        openRouteOutput(out, output, "Cannot open output XYZ file: ");

        const ExportSelectionFilter filter = compileRouteSelection(job, words);
        UnionSelectionTest selection(filter, job.coarseTileSize);

        const fs::path status(statusPath);
        writeExportStatusFile(status, "Running", "LAS XYZ export started.");

        const std::uint64_t total = reader.pointCount();
        std::uint64_t written = 0;
        std::uint64_t nonFinite = 0;
        RouteProgressCadence progress;
        CloudPoint point;
        readError.clear();
        while (reader.readNext(point, &readError)) {
            const std::uint64_t read = reader.nextPointIndex();
            if (progress.due(read)) {
                writeExportProgressStatus(status, words.progressMethod, read, total, written,
                                          std::string(), 0.0, 99.9);
                std::cout << "[LAS EXPORT - XYZ]"
                          << " read=" << read << " / " << total << " | written=" << written << "\n";
            }
            // A huge scale can overflow a stored integer to infinity.
            if (!finite3(point)) {
                ++nonFinite;
                continue;
            }
            if (selection.accepts(point.x, point.y, point.z)) {
                writePointLine(out, point, job.exportRGB, words);
                ++written;
            }
        }
        if (!readError.empty()) failExportRoute("LAS export read error: " + readError);
        requireRouteOutputPoints(written, words);

        closeRouteOutput(out, output, words);
        reader.close();

        std::cout << "[LAS EXPORT - XYZ] completed"
                  << " | inputPoints=" << total << " | writtenPoints=" << written
                  << " | output=" << job.outputE57Path << "\n";
        const std::uint64_t outsideGrid = selection.outsideGrid();
        if (nonFinite != 0 || outsideGrid != 0)
            std::cout << "[LAS EXPORT - XYZ] skipped_nonfinite_xyz=" << nonFinite
                      << " | outside_tile_grid=" << outsideGrid << "\n";
        return RouteCounts{total, written, true, 0, nonFinite, outsideGrid};
    });
}

bool exportXyzAscii(const ExportJob& job, const std::string& statusPath, ExportResult* result,
                    std::string* error) {
    return runExportRoute(job, result, error, [&] {
        const ExportRouteWords& words = kXyzAsciiWords;
        removeOldRouteOutput(job, words);
        checkRouteTileSize(job, words);
        if (job.exportMode != 0)
            failExportRoute(
                "XYZ ASCII split export is not connected yet. Use single combined output for this "
                "patch.");
        requireE57OrXyzInput(job, words);
        PendingOutput output = prepareRouteOutput(job, words);

        OutputFile out;
        openRouteOutput(out, output, "Cannot open output XYZ ASCII file: ");

        std::vector<TileSet> topSelections;
        std::vector<HeightRangeFilter> heightRanges;
        TileSet selectedTiles;
        requireRouteSelection(
            buildXyzExportSelectionFilter(job, topSelections, heightRanges, selectedTiles), words);
        UnionSelectionTest selection(topSelections, heightRanges, selectedTiles, job.coarseTileSize,
                                     isFullCoarseSelection(job));

        const fs::path status(statusPath);
        writeExportStatusFile(status, "Running", "XYZ ASCII export started.");

        std::uint64_t pointsRead = 0;
        std::uint64_t pointsWritten = 0;
        std::uint64_t nonFinite = 0;
        std::uint64_t badLines = 0;
        RouteProgressCadence progress;
        XyzAsciiExportContext ctx{pointsRead,    progress,      status,       job,
                                  pointsWritten, topSelections, heightRanges, selectedTiles,
                                  out,           selection,     nonFinite};

        const std::string& input = job.inputE57Path;
        if (hasXyzExtension(input)) {
            // Scale 1.0: coordinates go out as they stand in the file.
            XyzAsciiPointReader reader(1.0);
            std::string readError;
            if (!reader.open(input, &readError))
                failExportRoute("Cannot open XYZ input for XYZ ASCII export: " + readError);
            CloudPoint point;
            readError.clear();
            while (reader.readNext(point, &readError)) writeXyzAsciiPoint(ctx, point);
            if (!readError.empty()) failExportRoute("XYZ ASCII export read error: " + readError);
            badLines = reader.badLines();
            reader.close();
        } else if (hasE57Extension(input)) {
            bool hasColour = false;
            // Colour reads are not guarded: a value PDAL cannot convert ends the route.
            const auto exportXyzAsciiPointRef = [&ctx, &hasColour](pdal::PointRef& ref) {
                writeXyzAsciiPoint(
                    ctx, cloudPointFromStream(ref, hasColour, ColourReadErrors::EndTheStream));
                return true;
            };
            if (!streamE57File(input, hasColour, exportXyzAsciiPointRef))
                failExportRoute("Could not create PDAL readers.e57 stage for XYZ ASCII export.");
        } else {
            failExportRoute(
                "XYZ ASCII export route supports E57 and XYZ here. LAS uses the existing "
                "LAS-specific route.");
        }

        requireRouteOutputPoints(pointsWritten, words);
        closeRouteOutput(out, output, words);

        std::cout << "[XYZ ASCII EXPORT] completed"
                  << " | inputPoints=" << pointsRead << " | writtenPoints=" << pointsWritten
                  << " | output=" << job.outputE57Path << "\n";
        const std::uint64_t outsideGrid = selection.outsideGrid();
        if (badLines != 0 || nonFinite != 0 || outsideGrid != 0)
            std::cout << "[XYZ ASCII EXPORT] left out | badLines=" << badLines
                      << " | skipped_nonfinite_xyz=" << nonFinite
                      << " | outside_tile_grid=" << outsideGrid << "\n";
        return RouteCounts{pointsRead, pointsWritten, true, badLines, nonFinite, outsideGrid};
    });
}
