#include "export/route_contract.h"

#include <stdexcept>
#include <system_error>

#include "export/output_file.h"

namespace fs = std::filesystem;

void failExportRoute(const std::string& message) { throw std::runtime_error(message); }

void checkRouteTileSize(const ExportJob& job, const ExportRouteWords& words) {
    if (!(job.coarseTileSize > 0.0))
        failExportRoute(std::string(words.prefix) + " failed: coarse tile size must be > 0.");
}

void prepareRouteOutputFolder(const ExportJob& job, const ExportRouteWords& words) {
    const fs::path output(job.outputE57Path);
    const fs::path parent = output.parent_path();
    if (!parent.empty()) {
        std::error_code ec;
        fs::create_directories(parent, ec);
        if (ec) failExportRoute(std::string(words.folderFailure) + ec.message());
    }
    std::error_code ec;
    if (fs::equivalent(fs::path(job.inputE57Path), output, ec))
        failExportRoute(std::string(words.prefix) +
                        " failed: the output file is the input file: " + job.outputE57Path);
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

void openRouteOutput(OutputFile& out, const std::string& path, const std::string& openFailure) {
    if (!out.open(path)) failExportRoute(openFailure + path);
}

void checkRouteOutput(const OutputFile& out, const ExportRouteWords& words) {
    if (!out.good())
        failExportRoute(std::string(words.prefix) + " failed while writing output file: " +
                        out.path() + " (" + out.reason() + ")");
}

void closeRouteOutput(OutputFile& out, const ExportRouteWords& words) {
    out.close();
    checkRouteOutput(out, words);
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
