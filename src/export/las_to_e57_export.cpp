#include "export/las_to_e57_export.h"

#include <exception>
#include <iostream>
#include <limits>

#include "export/e57_output_writer.h"
#include "export/e57_route_support.h"
#include "export/finite_xyz.h"
#include "export/output_naming.h"
#include "export/route_contract.h"
#include "points/input/cloud_point.h"
#include "points/input/exception_text.h"
#include "points/job/export_status.h"
#include "points/input/las_reader.h"
#include "points/selection/selection.h"
#include "points/input/text_utils.h"

namespace {

void resetPartBounds(double (&bounds)[6]) {
    constexpr double kMax = std::numeric_limits<double>::max();
    for (int i = 0; i < 6; i += 2) {
        bounds[i] = kMax;
        bounds[i + 1] = -kMax;
    }
}

void closeWriter(e57::Writer& writer, const std::string& path) {
    std::string reason = "the E57 writer could not finish the file";
    bool closed = false;
    try {
        closed = writer.Close();
    } catch (const std::exception& e) {
        reason = exceptionText(e);
    }
    if (!closed)
        failExportRoute(std::string(kLasToE57Words.prefix) +
                        " failed while writing output file: " + path + " (" + reason + ")");
}

}  // namespace

void flushLasToE57Part(LasToE57PartContext& ctx, bool final) {
    const std::size_t count = ctx.x.size();
    if (count == 0) return;
    const std::uint64_t partNumber = ctx.partsWritten + 1;
    const bool rgb = ctx.job.exportRGB && ctx.partHasRgb && ctx.red.size() == count &&
                     ctx.green.size() == count && ctx.blue.size() == count;

    e57::Data3D header;
    header.guid = makePartStem("las-to-e57", 0, partNumber);
    header.pointCount = count;
    setCartesianBounds(header.cartesianBounds, ctx.bounds);
    header.pointFields.cartesianXField = true;
    header.pointFields.cartesianYField = true;
    header.pointFields.cartesianZField = true;
    // The default node type is a 32-bit float, which would round survey coordinates to
    // centimetres or worse; the buffers are doubles and are stored as such.
    header.pointFields.pointRangeNodeType = e57::NumericalNodeType::Double;

    e57::Data3DPointsDouble points;
    points.cartesianX = ctx.x.data();
    points.cartesianY = ctx.y.data();
    points.cartesianZ = ctx.z.data();
    if (rgb) {
        header.pointFields.colorRedField = true;
        header.pointFields.colorGreenField = true;
        header.pointFields.colorBlueField = true;
        setEightBitColourLimits(header.colorLimits);
        points.colorRed = ctx.red.data();
        points.colorGreen = ctx.green.data();
        points.colorBlue = ctx.blue.data();
    }

    const std::string partText = " | part=" + std::to_string(partNumber) +
                                 " | points=" + std::to_string(count) +
                                 " | rgb=" + (rgb ? "1" : "0");
    std::cout << "[LAS -> E57 EXPORT] flushing part" + partText +
                     " | final=" + (final ? "1" : "0") + "\n";
    try {
        ctx.writer.WriteData3DData(header, points);
    } catch (const std::exception& e) {
        failExportRoute("LAS -> E57 WriteData3DData failed" + partText +
                        " | what=" + exceptionText(e));
    }

    ++ctx.partsWritten;
    ctx.x.clear();
    ctx.y.clear();
    ctx.z.clear();
    ctx.red.clear();
    ctx.green.clear();
    ctx.blue.clear();
    ctx.partHasRgb = false;
    resetPartBounds(ctx.bounds);
}

namespace {

// The route's reading and writing, into output's temporary file, moved onto the output path at
// the end.
RouteCounts writeLasToE57(const ExportJob& job, const std::string& statusPath,
                          const ExportRouteWords& words, const ExportSelectionFilter& filter,
                          PendingOutput& output) {
    LasBinaryPointReader reader;
    std::string readError;
    if (!reader.open(job.inputE57Path, &readError))
        failExportRoute("Cannot open LAS input for E57 export: " + readError);
    const std::uint64_t total = reader.pointCount();

    e57::WriterOptions options;
    options.guid = "brindlewick-las-to-e57";
    // A failure below leaves the file open; the disposer closes it without ending the
    // process from the library's destructor.
    const E57WriterPtr writer = openE57Writer(output.temporaryPath(), options);

    std::vector<double> x, y, z;
    std::vector<std::uint16_t> red, green, blue;
    for (std::vector<double>* v : {&x, &y, &z}) v->reserve(kLasToE57PartPoints);
    for (std::vector<std::uint16_t>* v : {&red, &green, &blue}) v->reserve(kLasToE57PartPoints);
    double bounds[6];
    resetPartBounds(bounds);
    std::uint64_t partsWritten = 0;
    bool partHasRgb = false;
    std::uint64_t written = 0;
    LasToE57PartContext part{x,     partsWritten, bounds, job, partHasRgb, red,
                             green, blue,         y,      z,   *writer};

    writeExportStatusFile(statusPath, "Running", "Exporting 0.0% | method=LAS -> E57");

    UnionSelectionTest selection(filter, job.coarseTileSize);
    const bool withRgb = job.exportRGB;
    RouteProgressCadence progress;
    std::uint64_t nonFinite = 0;
    CloudPoint p;
    while (reader.readNext(p, &readError)) {
        if (!finite3(p)) {
            ++nonFinite;
            continue;
        }
        if (!selection.accepts(p.x, p.y, p.z)) continue;
        x.push_back(p.x);
        y.push_back(p.y);
        z.push_back(p.z);
        if (withRgb) {
            red.push_back(p.hasRGB ? p.red : 0);
            green.push_back(p.hasRGB ? p.green : 0);
            blue.push_back(p.hasRGB ? p.blue : 0);
            partHasRgb = partHasRgb || p.hasRGB;
        }
        if (p.x < bounds[0]) bounds[0] = p.x;
        if (p.x > bounds[1]) bounds[1] = p.x;
        if (p.y < bounds[2]) bounds[2] = p.y;
        if (p.y > bounds[3]) bounds[3] = p.y;
        if (p.z < bounds[4]) bounds[4] = p.z;
        if (p.z > bounds[5]) bounds[5] = p.z;
        if (x.size() >= kLasToE57PartPoints) flushLasToE57Part(part, false);
        ++written;
        const std::uint64_t read = reader.nextPointIndex();
        if (progress.due(read))
            writeExportProgressStatus(statusPath, words.progressMethod, read, total, written,
                                      std::string(), 0.0, 99.9);
    }
    if (!readError.empty()) failExportRoute("LAS -> E57 read error: " + readError);

    flushLasToE57Part(part, true);
    reader.close();
    closeWriter(*writer, job.outputE57Path);
    if (written == 0 || partsWritten == 0)
        failExportRoute("LAS -> E57 export produced zero output points.");
    output.publish();

    std::cout << "[LAS -> E57 EXPORT] completed"
              << " | inputPoints=" << total << " | writtenPoints=" << written
              << " | partsWritten=" << partsWritten << " | output=" << job.outputE57Path << "\n";
    const std::uint64_t outsideGrid = selection.outsideGrid();
    if (nonFinite != 0 || outsideGrid != 0)
        std::cout << "[LAS -> E57 EXPORT] skipped_nonfinite_xyz=" << nonFinite
                  << " | outside_tile_grid=" << outsideGrid << "\n";
    return RouteCounts{total, written, true, 0, nonFinite, outsideGrid};
}

}  // namespace

bool exportLasToE57(const ExportJob& job, const std::string& statusPath, ExportResult* result,
                    std::string* error) {
    return runExportRoute(job, result, error, [&] {
        const ExportRouteWords& words = kLasToE57Words;
        removeOldRegularOutputs(job.inputE57Path, {job.outputE57Path}, words.prefix);
        checkRouteTileSize(job, words);
        if (!isLasPath(job.inputE57Path)) failExportRoute("LAS -> E57 export requires LAS input.");
        const ExportSelectionFilter filter = compileRouteSelection(job, words);
        // Also refuses an output that is the input, before anything is written.
        PendingOutput output = prepareRouteOutput(job, words);
        return runForPendingOutput(
            output, [&] { return writeLasToE57(job, statusPath, words, filter, output); });
    });
}
