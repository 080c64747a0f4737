#include "export/route_contract.h"

#include <stdexcept>
#include <system_error>

#include "export/output_file.h"
#include "points/input/text_utils.h"

namespace fs = std::filesystem;

void failExportRoute(const std::string& message) { throw std::runtime_error(message); }

void removeOldRouteOutput(const ExportJob& job, const ExportRouteWords& words) {
    removeOldOutputs(job.inputE57Path, {job.outputE57Path}, words.prefix);
}

void checkRouteTileSize(const ExportJob& job, const ExportRouteWords& words) {
    if (!(job.coarseTileSize > 0.0))
        failExportRoute(std::string(words.prefix) + " failed: coarse tile size must be > 0.");
}

void requireE57OrXyzInput(const ExportJob& job, const ExportRouteWords& words) {
    const std::string& input = job.inputE57Path;
    if (input.empty())
        failExportRoute(std::string(words.prefix) +
                        " failed: the job names no input file (InputE57Path is empty).");
    if (!hasE57Extension(input) && !hasXyzExtension(input))
        failExportRoute(std::string(words.prefix) +
                        " failed: the input is not an .e57 or .xyz file: " + input);
}

PendingOutput prepareRouteOutput(const ExportJob& job, const ExportRouteWords& words) {
    return PendingOutput(job.inputE57Path, job.outputE57Path, {words.prefix, words.folderFailure});
}

ExportSelectionFilter compileRouteSelection(const ExportJob& job, const ExportRouteWords& words) {
    ExportSelectionFilter filter = buildExportSelectionFilter(job);
    requireRouteSelection(!filter.topSelections.empty() || !filter.heightRanges.empty() ||
                              !filter.selectedTiles.empty(),
                          words);
    return filter;
}

void requireRouteSelection(bool anySelection, const ExportRouteWords& words) {
    if (!anySelection)
        failExportRoute(std::string(words.prefix) + " failed: no selected tiles or height ranges.");
}

void openRouteOutput(OutputFile& out, const PendingOutput& output, const std::string& openFailure) {
    if (!out.open(output.temporaryPath(), output.outputPath()))
        failExportRoute(openFailure + output.outputPath() + " (" + out.reason() + ")");
}

void checkRouteOutput(const OutputFile& out, const ExportRouteWords& words) {
    if (!out.good())
        failExportRoute(std::string(words.prefix) + " failed while writing output file: " +
                        out.path() + " (" + out.reason() + ")");
}

void closeRouteOutput(OutputFile& out, PendingOutput& output, const ExportRouteWords& words) {
    out.close();
    checkRouteOutput(out, words);
    output.publish();
}

void requireRouteOutputPoints(std::uint64_t written, const ExportRouteWords& words) {
    if (written == 0) failExportRoute(std::string(words.prefix) + " produced zero output points.");
}

void fillRouteSuccess(ExportResult* result, const ExportJob& job, const RouteCounts& counts) {
    if (!result) return;
    *result = ExportResult{};
    result->success = true;
    result->inputPoints = counts.inputPoints;
    if (counts.reportsWritten) {
        result->writtenPoints = counts.writtenPoints;
        result->skippedPoints = counts.inputPoints > counts.writtenPoints
                                    ? counts.inputPoints - counts.writtenPoints
                                    : 0;
    }
    result->badLines = counts.badLines;
    result->nonFinitePoints = counts.nonFinitePoints;
    result->outsideGridPoints = counts.outsideGridPoints;
    result->outsideLasRangePoints = counts.outsideLasRangePoints;
    result->outputAreaM2 = job.outputAreaM2;
    result->outputPath = job.outputE57Path;
    std::error_code ec;
    const std::uintmax_t bytes = fs::file_size(fs::path(job.outputE57Path), ec);
    if (!ec) result->outputSizeMB = static_cast<double>(bytes) / 1048576.0;
}

void fillRouteFailure(ExportResult* result, std::string* error, const char* message) {
    if (result) {
        result->success = false;
        result->errorMessage = message;
    }
    if (error) *error = message;
}
