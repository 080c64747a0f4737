#include "app/export_helper_mode.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/export_route_table.h"
#include "export/e57_native_export.h"
#include "export/e57_route_support.h"
#include "export/export_result.h"
#include "export/las_binary_export.h"
#include "export/las_to_e57_export.h"
#include "export/pending_output.h"
#include "export/photo_export.h"
#include "export/split_export.h"
#include "export/synthetic_las_export.h"
#include "export/xyz_ascii_export.h"
#include "platform/atomic_write.h"
#include "platform/file_io.h"
#include "points/input/exception_text.h"
#include "points/job/export_job_file.h"
#include "points/job/export_status.h"
#include "points/selection/selection.h"

namespace {

std::string chosenMethodMessage(const ExportRouteChoice& choice, const ExportJob& job) {
    std::string m = "Chosen export method: " + choice.method + " | input=" + job.inputE57Path +
                    " | output=" + job.outputE57Path +
                    " | selectedTiles=" + std::to_string(job.selectedCoarseTiles.size()) +
                    " | selectedHeightRanges=" + std::to_string(job.selectedHeightRanges.size()) +
                    " | savedTileSelections=" + std::to_string(job.savedTileSelections.size());
    if (choice.route == ExportRoute::XyzCombinedThroughSplit)
        m += " | note=XYZ single-combined is routed through XYZ-aware saved-selection writer";
    return m;
}

// The single combined routes fill no result of their own. The count is taken by reference, so
// it is read after the route has filled it.
bool combinedResult(bool ok, const ExportJob& job, ExportResult& result,
                    const std::uint64_t& nonFinitePoints) {
    if (!ok) return false;
    result = ExportResult{};
    result.success = true;
    result.nonFinitePoints = nonFinitePoints;
    result.outputPath = job.outputE57Path;
    result.inputPoints = job.inputTotalPoints;
    result.outputAreaM2 = job.outputAreaM2;
    result.outputSizeMB = fileSizeMB(job.outputE57Path);
    return true;
}

// The tests set BRINDLEWICK_TEST_ROUTE_THROWS to make the route throw: "bad_alloc", or any
// other text as a standard exception's message.
void throwWhenTestAsks() {
    const char* what = std::getenv("BRINDLEWICK_TEST_ROUTE_THROWS");
    if (what == nullptr || *what == '\0') return;
    if (std::strcmp(what, "bad_alloc") == 0) throw std::bad_alloc();
    throw std::runtime_error(what);
}

// The selections a split route writes one output each for.
struct SplitPlan {
    const std::vector<SelectedHeightRange>* vertical = nullptr;  // null: not a split route
    const std::vector<SavedTileSelection>* top = nullptr;
    // A split by export mode owns every earlier numbered name; one combined output of XYZ
    // input only the names it writes.
    bool sweepEarlier = true;
};

SplitPlan splitPlan(const ExportRouteChoice& choice, const ExportJob& job) {
    static const std::vector<SelectedHeightRange> noRanges;
    static const std::vector<SavedTileSelection> noTiles;
    static const std::vector<SavedTileSelection> allTiles(1);
    switch (choice.route) {
        case ExportRoute::SplitAllSelections:
            return {&job.selectedHeightRanges, &job.savedTileSelections};
        case ExportRoute::SplitVertical: return {&job.selectedHeightRanges, &noTiles};
        case ExportRoute::SplitTop: return {&noRanges, &job.savedTileSelections};
        // Refused for its photos: the outputs of the same job without them.
        case ExportRoute::XyzPhotosRefused: {
            ExportJob plain = job;
            plain.enablePhotoThirdPass = false;
            return splitPlan(chooseExportRoute(plain), job);
        }
        case ExportRoute::XyzCombinedThroughSplit:
            // A full coarse selection is one output of every point (a selection without tiles
            // keeps all): the saved tiles would lose those the sampled preview never showed.
            if (isFullCoarseSelection(job)) return {&noRanges, &allTiles, false};
            return {&job.selectedHeightRanges, &job.savedTileSelections, false};
        default: return {};
    }
}

// What an earlier export left at the job's outputs, removed before main refuses the job itself.
// An output that is the input or a folder keeps main's refusal text: nothing is removed then,
// and the route would refuse it in its own words.
void removeOldJobOutputs(const ExportRouteChoice& choice, const ExportJob& job) {
    const SplitPlan plan = splitPlan(choice, job);
    try {
        if (plan.vertical == nullptr) {
            removeOldOutputs(job.inputE57Path, {job.outputE57Path}, "Export");
            return;
        }
        removeOldSplitOutputs(
            job.inputE57Path, job.outputE57Path, plan.vertical->size(), plan.top->size(),
            job.enablePhotoThirdPass && choice.route != ExportRoute::XyzPhotosRefused,
            plan.sweepEarlier);
    } catch (const std::exception&) {
    }
}

// What the route left out of the input, for the success message: empty when nothing.
std::string droppedInputNote(const ExportResult& result) {
    std::string note;
    if (result.badLines != 0)
        note = std::to_string(result.badLines) + (result.badLines == 1 ? " line" : " lines") +
               " skipped: not read as points";
    const auto dropped = [&note](std::uint64_t points, const char* reason) {
        if (points == 0) return;
        if (!note.empty()) note += "; ";
        note +=
            std::to_string(points) + (points == 1 ? " point" : " points") + " dropped: " + reason;
    };
    dropped(result.nonFinitePoints, "non-finite coordinates");
    dropped(result.outsideGridPoints, "outside the tile grid");
    dropped(result.outsideLasRangePoints, "outside the LAS coordinate range");
    return note;
}

// Runs the chosen route; `text` receives its error, or a photo route's summary on success.
bool runRoute(const ExportRouteChoice& choice, const ExportJob& job,
              const std::filesystem::path& statusPath, std::string& method, std::string& text,
              ExportResult& result) {
    throwWhenTestAsks();
    const std::string statusText = statusPath.string();
    const std::string& in = job.inputE57Path;
    const std::string& out = job.outputE57Path;
    const bool photo = job.enablePhotoThirdPass;
    std::uint64_t nonFinite = 0;
    switch (choice.route) {
        case ExportRoute::LasRawCopy: return exportLasBinary(job, statusText, &result, &text);
        case ExportRoute::LasToE57: return exportLasToE57(job, statusText, &result, &text);
        case ExportRoute::LasToXyz: return exportLasToXyz(job, statusText, &result, &text);
        case ExportRoute::SyntheticLas: return exportSyntheticLas(job, statusText, &result, &text);
        case ExportRoute::XyzAscii: return exportXyzAscii(job, statusText, &result, &text);
        case ExportRoute::SplitAllSelections:
        case ExportRoute::XyzCombinedThroughSplit: {
            const SplitPlan plan = splitPlan(choice, job);
            return exportSplitSelections(in, out, *plan.vertical, *plan.top,
                                         job.selectedCoarseTileCounts, job.coarseTileSize,
                                         job.inputTotalPoints, photo, &result, &text, &statusPath,
                                         job.exportRGB, plan.sweepEarlier);
        }
        // These two take colour whatever the job says.
        case ExportRoute::SplitVertical:
            return exportSplitVertical(in, out, job.selectedHeightRanges, job.coarseTileSize,
                                       job.inputTotalPoints, job.outputAreaM2,
                                       job.selectedCoarseTileCounts, photo, &result, &text, true);
        case ExportRoute::SplitTop:
            return exportSplitTop(in, out, job.savedTileSelections, job.coarseTileSize,
                                  job.inputTotalPoints, job.outputAreaM2,
                                  job.selectedCoarseTileCounts, photo, &result, &text, true);
        case ExportRoute::PhotoCombined:
            return combinedResult(
                exportE57WithPhotos(in, out, job.selectedCoarseTiles, job.selectedHeightRanges,
                                    job.coarseTileSize, &text, &method, &statusPath, &nonFinite),
                job, result, nonFinite);
        case ExportRoute::NativeCombined:
            return combinedResult(
                exportE57Native(in, out, job.selectedCoarseTiles, job.selectedHeightRanges,
                                job.coarseTileSize, &text, &method, &statusPath, job.exportRGB,
                                &nonFinite),
                job, result, nonFinite);
        case ExportRoute::XyzPhotosRefused: break;
    }
    return false;
}

int dispatch(const ExportJob& job, const std::filesystem::path& statusPath) {
    const ExportRouteChoice choice = chooseExportRoute(job);
    if (choice.route == ExportRoute::XyzPhotosRefused) {
        removeOldJobOutputs(choice, job);
        writeExportStatusFile(statusPath, "Failed", choice.failureText);
        return choice.failureExit;
    }
    const bool e57Output = choice.successPrefix == nullptr;
    std::string method = choice.method;
    if (e57Output) {
        writeExportStatusFile(statusPath, "Running", chosenMethodMessage(choice, job));
        // Flushed: a helper that is killed must not take its method line with it.
        std::cout << choice.consoleLine << "\n" << std::flush;
        if (choice.route == ExportRoute::PhotoCombined)
            writeExportStatusFile(statusPath, "Running",
                                  "Starting photo-preserving export via temporary geometry E57...");
    }
    // The E57 output routes would give a zero-point or garbage export; the others check this
    // themselves.
    if (e57Output && !(job.coarseTileSize > 0.0)) {
        removeOldJobOutputs(choice, job);
        writeExportStatusFile(statusPath, "Failed",
                              "E57 export failed: coarse tile size must be > 0.");
        return choice.failureExit;
    }
    std::string text;
    ExportResult result;
    if (!runRoute(choice, job, statusPath, method, text, result)) {
        writeExportStatusFile(statusPath, "Failed",
                              text.empty() ? std::string(choice.failureText) : text);
        return choice.failureExit;
    }
    const std::string dropped = droppedInputNote(result);
    if (!e57Output) {
        writeExportStatusFile(statusPath, "Success",
                              choice.successPrefix + job.outputE57Path +
                                  (dropped.empty() ? "" : " (" + dropped + ")"));
        return kHelperExitSuccess;
    }
    std::string message = "Export finished successfully. Method: " + method + ".";
    if (job.enablePhotoThirdPass) {
        if (!text.empty())
            message += " " + text + ".";
        else
            message += " Photo transfer stage ran, but no detailed image summary is available.";
    }
    if (!dropped.empty()) message += " " + dropped + ".";
    writeExportStatusFile(statusPath, "Success", message);
    return kHelperExitSuccess;
}

// Both name one file: the same file (through a symbolic or hard link too), or, while one is
// missing, the same path once the folders' links are resolved.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::equivalent(a, b, ec)) return true;
    const fs::path first = fs::weakly_canonical(fs::absolute(a, ec), ec);
    if (ec) return false;
    const fs::path second = fs::weakly_canonical(fs::absolute(b, ec), ec);
    return !ec && first == second;
}

// A file of the job's that the reports would replace (the status file) or remove (a file at
// its working name): "the status file is the input file: <path>"; empty when none.
std::string statusClash(const std::filesystem::path& statusPath,
                        const std::filesystem::path& jobPath, const std::string& input,
                        const std::string& output) {
    const std::filesystem::path working = platform::replaceWorkingName(statusPath.string());
    const std::pair<const char*, const std::filesystem::path*> ours[] = {
        {"the status file", &statusPath}, {"the status file's working file", &working}};
    const std::pair<const char*, std::string> theirs[] = {
        {"input", input}, {"output", output}, {"job", jobPath.string()}};
    for (const auto& [name, path] : ours)
        for (const auto& [what, other] : theirs)
            if (!other.empty() && sameFile(*path, other))
                return std::string(name) + " is the " + what + " file: " + path->string();
    return {};
}

// The job's or status file that the export would replace or remove: it is the output, or has a
// name the export writes or clears beside it (a split's numbered output, a working file).
std::string exportFileClash(const std::filesystem::path& statusPath,
                            const std::filesystem::path& jobPath, const std::string& output) {
    if (output.empty()) return {};
    if (sameFile(output, jobPath))
        return "Export job refused: the output file is the job file: " + output;
    std::error_code ec;
    const std::pair<const char*, std::string> ours[] = {
        {"job file", jobPath.string()},
        {"job file", std::filesystem::weakly_canonical(jobPath, ec).string()},
        {"status file", statusPath.string()},
        {"status file's working file", platform::replaceWorkingName(statusPath.string())}};
    for (const auto& [what, path] : ours)
        if (mayBeExportFile(output, path))
            return std::string("Export job refused: the ") + what +
                   " has the name of one of the export's own files: " + path;
    return {};
}

// The tests set BRINDLEWICK_STOP_BEFORE_JOB_LOAD to find the helper stopped where a large job
// would keep it loading.
void stopWhenTestAsks() {
    if (std::getenv("BRINDLEWICK_STOP_BEFORE_JOB_LOAD") != nullptr) std::raise(SIGSTOP);
}

}  // namespace

bool isHelperModeCommandLine(int argc, const char* const* argv) {
    return argc >= 3 && std::strcmp(argv[1], "--export-job") == 0;
}

std::filesystem::path helperStatusPath(const std::filesystem::path& jobPath) {
    return std::filesystem::path(jobPath.string() + ".status.ini");
}

int runHelperExport(const ExportJob& job, const std::filesystem::path& statusPath) {
    try {
        writeExportStatusFile(statusPath, "Running", "Export job loaded. Starting export...");
        return dispatch(job, statusPath);
    } catch (const std::bad_alloc&) {
        writeExportStatusFile(statusPath, "Failed", "Out of memory during helper export.");
        return kHelperExitOutOfMemory;
    } catch (const std::exception& e) {
        writeExportStatusFile(statusPath, "Failed",
                              "Helper export failed | what=" + exceptionText(e));
        return kHelperExitStandardException;
    } catch (...) {
        writeExportStatusFile(statusPath, "Failed", "Unknown helper export error.");
        return kHelperExitUnknownException;
    }
}

int runExportHelperMode(const std::filesystem::path& jobPath) {
    platform::raiseOpenFileLimit();
    const std::filesystem::path statusPath = helperStatusPath(jobPath);
    // The first report replaces the status file and removes a file at its working name: the
    // job's paths are checked first, by a quick look, so that a kill while a large job loads
    // leaves this run's report, not the previous run's.
    std::string input;
    std::string output;
    readExportJobPaths(jobPath, input, output);
    std::string refusal = statusClash(statusPath, jobPath, input, output);
    int error = 0;
    // A job whose status cannot be written (a name past the limit, a folder there) would run
    // without a word.
    if (refusal.empty() &&
        !writeExportStatusFile(statusPath, "Running", "Helper process started.", &error))
        refusal = "the status file cannot be written: " + statusPath.string() + " (" +
                  platform::systemErrorText(error) + ")";
    if (!refusal.empty()) {
        // No earlier run's report stays for the reader; a clash leaves the file it names alone.
        std::error_code ec;
        if (error != 0 &&
            std::filesystem::is_regular_file(std::filesystem::symlink_status(statusPath, ec)))
            std::filesystem::remove(statusPath, ec);
        std::cerr << "Export job refused: " << refusal << std::endl;
        return kHelperExitJobNotLoaded;
    }
    if (const std::string text = exportFileClash(statusPath, jobPath, output); !text.empty()) {
        std::cerr << text << std::endl;
        writeExportStatusFile(statusPath, "Failed", text);
        return kHelperExitJobNotLoaded;
    }
    stopWhenTestAsks();
    ExportJob job;
    std::string loadError;
    std::vector<std::string> notes;
    if (!loadExportJobFile(jobPath, job, &loadError, &notes)) {
        writeExportStatusFile(statusPath, "Failed",
                              loadError.empty() ? "Could not load export job." : loadError);
        return kHelperExitJobNotLoaded;
    }
    for (const std::string& note : notes) std::cout << "[EXPORT JOB] " << note << "\n";
    std::cout << "[EXPORT JOB] coordScaleToMeters=" << 1 << " | input=" << job.inputE57Path << "\n"
              << std::flush;
    return runHelperExport(job, statusPath);
}
