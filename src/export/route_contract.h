#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>

#include "export/export_result.h"
#include "export/pending_output.h"
#include "points/input/exception_text.h"
#include "points/job/export_job.h"
#include "points/selection/selection.h"

class OutputFile;

// What the LAS and XYZ export routes share: their words, the common checks, progress
// cadence, result filling and the failure boundary.

struct ExportRouteWords {
    const char* prefix;         // "LAS export": "<prefix> failed: ..."
    const char* folderFailure;  // followed by the system's text
    const char* progressMethod;
};

inline constexpr ExportRouteWords kLasToXyzWords{
    "LAS export", "Cannot create LAS export output folder: ", "LAS -> XYZ ASCII"};
inline constexpr ExportRouteWords kXyzAsciiWords{
    "XYZ ASCII export", "Cannot create XYZ ASCII output folder: ", "XYZ ASCII export"};
inline constexpr ExportRouteWords kSyntheticLasWords{
    "Synthetic LAS export", "Cannot create synthetic LAS output folder: ", "Synthetic LAS export"};
inline constexpr ExportRouteWords kLasBinaryWords{
    "LAS binary export", "Cannot create LAS export output folder: ", "LAS -> LAS full record"};
inline constexpr ExportRouteWords kLasToE57Words{
    "LAS -> E57 export", "Cannot create LAS -> E57 output folder: ", "LAS -> E57"};

inline constexpr std::uint64_t kRouteProgressEvery = 5000000;

// Throws std::runtime_error carrying the message.
[[noreturn]] void failExportRoute(const std::string& message);

// The route's first step: removeOldOutputs() for the job's output, so that no refusal or failure
// of this export leaves an earlier one's file there.
void removeOldRouteOutput(const ExportJob& job, const ExportRouteWords& words);

// "<prefix> failed: coarse tile size must be > 0." when the size is not positive (NaN too).
void checkRouteTileSize(const ExportJob& job, const ExportRouteWords& words);

// For the routes that read E57 or XYZ input: "<prefix> failed: the job names no input file
// (InputE57Path is empty)." or "<prefix> failed: the input is not an .e57 or .xyz file:
// <path>" (LAS input has routes of its own), before the input is opened.
void requireE57OrXyzInput(const ExportJob& job, const ExportRouteWords& words);

// The job's output, made the shared way (see PendingOutput): creates the output's folder,
// refuses a folder at the output path and an output that is the input (through a link too).
PendingOutput prepareRouteOutput(const ExportJob& job, const ExportRouteWords& words);

// "<prefix> failed: no selected tiles or height ranges." when the compiled selection is empty.
ExportSelectionFilter compileRouteSelection(const ExportJob& job, const ExportRouteWords& words);
void requireRouteSelection(bool anySelection, const ExportRouteWords& words);

// Opens the output's temporary file or fails with openFailure followed by the output path and
// the system's reason.
void openRouteOutput(OutputFile& out, const PendingOutput& output, const std::string& openFailure);
// Fails with "<prefix> failed while writing output file: <path> (<reason>)" once the output has
// seen a failed write.
void checkRouteOutput(const OutputFile& out, const ExportRouteWords& words);
// close() with the same failure, then the temporary file moved onto the output path.
void closeRouteOutput(OutputFile& out, PendingOutput& output, const ExportRouteWords& words);
// "<prefix> produced zero output points." when nothing was written.
void requireRouteOutputPoints(std::uint64_t written, const ExportRouteWords& words);

// The first report at 5,000,000 points read, then each further 5,000,000.
struct RouteProgressCadence {
    std::uint64_t lastReport = 0;
    bool due(std::uint64_t pointsRead) {
        if (pointsRead < lastReport + kRouteProgressEvery) return false;
        lastReport = pointsRead;
        return true;
    }
};

// What a successful route hands to the result.
struct RouteCounts {
    std::uint64_t inputPoints = 0;
    std::uint64_t writtenPoints = 0;
    bool reportsWritten = true;  // false: writtenPoints and skippedPoints stay 0
    std::uint64_t badLines = 0;
    std::uint64_t nonFinitePoints = 0;
    std::uint64_t outsideGridPoints = 0;
    std::uint64_t outsideLasRangePoints = 0;
};

// Resets the result, then fills success, the counts, area, output path and size in MB.
void fillRouteSuccess(ExportResult* result, const ExportJob& job, const RouteCounts& counts);
void fillRouteFailure(ExportResult* result, std::string* error, const char* message);

// Runs body() -> RouteCounts inside the failure boundary: standard exceptions become a false
// result with their text; any other kind leaves to the caller.
template <class Body>
bool runExportRoute(const ExportJob& job, ExportResult* result, std::string* error, Body&& body) {
    try {
        const RouteCounts counts = body();
        fillRouteSuccess(result, job, counts);
        return true;
    } catch (const std::exception& e) {
        fillRouteFailure(result, error, exceptionText(e).c_str());
        return false;
    }
}
