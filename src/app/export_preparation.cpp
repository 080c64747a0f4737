#include "app/export_preparation.h"

#include <iostream>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "app/export_helper_mode.h"
#include "app/export_helper_monitor.h"
#include "export/e57_route_support.h"
#include "export/output_naming.h"
#include "platform/program_path.h"
#include "points/input/exception_text.h"
#include "points/job/export_job.h"
#include "points/job/export_job_file.h"
#include "points/selection/selection.h"

namespace fs = std::filesystem;

namespace {

__extension__ typedef unsigned __int128 Wide;

Wide sumCounts(const TileCountMap& counts) {
    Wide sum = 0;
    for (const auto& entry : counts) sum += entry.second;
    return sum;
}

bool isSplitMode(int mode) { return mode == 1 || mode == 2 || mode == 3; }

std::string outputFileName(const std::string& stem, int outputFormat) {
    if (outputFormat == 1) return stem + "_cut.xyz";
    if (outputFormat == 2) return stem + "_cut.las";
    return stem + "_cut.e57";
}

void markFailed(ExportHelperStatus& status) {
    status.running = false;
    status.finished = true;
    status.failed = true;
}

void failPreparation(ExportHelperStatus& status, const std::string& details) {
    markFailed(status);
    std::lock_guard<std::mutex> lock(status.mutex);
    status.details = details;
}

struct PreparedJob {
    fs::path jobPath;
    fs::path program;
};

// The helper runs in the program's folder: a relative path in its job would name another file.
std::string absoluteText(const std::string& path) {
    return path.empty() ? path : fs::absolute(path).string();
}

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// Everything up to the launch; throws with the user's text on failure.
PreparedJob prepareJob(ExportPreparation& s, int outputFormat, bool exportRGB,
                       bool photoThirdPass) {
    // The job file holds one path a line: the text after a break would be read as another key.
    if (hasLineBreak(s.inputPathText) || hasLineBreak(s.inputFilePath.string()))
        throw std::runtime_error(
            "Cannot export: the input file path contains a line break. Rename the file or its "
            "folder.");
    if (hasLineBreak(s.outputFolder.string()))
        throw std::runtime_error(
            "Cannot export: the output folder path contains a line break. Choose another "
            "folder.");
    TileSet effective = buildTileHeightRanges(s.savedVerticalSelections).tiles;
    for (const SavedTileSelection& selection : s.savedTopSelections)
        effective.insert(selection.tiles.begin(), selection.tiles.end());

    std::cout << "[EXPORT PREP] saved height selections = " << s.savedVerticalSelections.size()
              << "\n[EXPORT PREP] buffered top-view tiles (not exported directly) = "
              << s.selectedTiles.size()
              << "\n[EXPORT PREP] effective coarse tiles for export = " << effective.size() << "\n";
    for (std::size_t i = 0; i < s.savedVerticalSelections.size(); ++i) {
        const SelectedHeightRange& r = s.savedVerticalSelections[i];
        std::cout << "[EXPORT PREP] height selection #" << i + 1 << " | tiles=" << r.tiles.size()
                  << " | zMin=" << r.zMin << " | zMax=" << r.zMax << "\n";
    }

    const std::string stem = s.inputFilePath.stem().string();
    const fs::path folder = fs::absolute(createExportProjectDirectory(s.outputFolder));
    s.outputFilePath = folder / outputFileName(stem, outputFormat);
    std::cout << "[EXPORT PREP] export project folder = " << folder.string() << "\n";

    const bool fullCoarseSelection = s.savedVerticalSelections.empty() &&
                                     !s.previewTileCounts.empty() &&
                                     effective.size() == s.previewTileCounts.size();
    if (fullCoarseSelection)
        std::cout << "[EXPORT PREP] full coarse selection detected -> skipping tile expression "
                     "filter.\n";

    const double tileArea = s.coarseTileSize * s.coarseTileSize;
    std::uint64_t estimate = 0;
    double area = 0.0;
    if (s.exportMode != 3) {
        estimate = estimateExportPointCount(s.inputTotalPoints, s.previewTileCounts, effective,
                                            s.savedVerticalSelections, s.inputInfo.boundsValid,
                                            s.inputInfo.minZ, s.inputInfo.maxZ);
        area = static_cast<double>(effective.size()) * tileArea;
    } else {
        for (const SavedTileSelection& selection : s.savedTopSelections) {
            const TileSet distinct(selection.tiles.begin(), selection.tiles.end());
            area += static_cast<double>(distinct.size()) * tileArea;
            estimate += estimateTopSelectionPoints(
                s.inputTotalPoints, collectSelectedTileCounts(selection.tiles, s.previewTileCounts),
                s.previewTileCounts);
        }
    }

    if (!isSplitMode(s.exportMode) && effective.empty() && s.savedVerticalSelections.empty() &&
        s.savedTopSelections.empty())
        throw std::runtime_error(
            "Single combined output file requires a saved vertical selection or a saved "
            "top-view selection.");

    ExportJob job;
    job.inputE57Path = absoluteText(s.inputPathText);
    job.outputE57Path = s.outputFilePath.string();
    job.coarseTileSize = s.coarseTileSize;
    job.inputTotalPoints = s.inputTotalPoints;
    job.estimatedPointsToFilter = estimate;
    job.outputAreaM2 = area;
    job.exportMode = isSplitMode(s.exportMode) ? s.exportMode : 0;
    job.hasGlobalZBounds = s.inputInfo.boundsValid;
    job.globalMinZ = s.inputInfo.minZ;
    job.globalMaxZ = s.inputInfo.maxZ;
    // The format the output was named for. The helper does not check it against the extension:
    // either one picks the route, so the two must agree.
    job.outputFormat = outputFormat == 1 || outputFormat == 2 ? outputFormat : 0;
    job.exportContent = photoThirdPass ? 2 : (exportRGB ? 1 : 0);
    job.enablePhotoThirdPass = photoThirdPass;
    job.exportRGB = exportRGB;
    if (!fullCoarseSelection) job.selectedCoarseTiles = std::move(effective);
    job.selectedHeightRanges = s.savedVerticalSelections;
    job.savedTileSelections = s.savedTopSelections;
    job.selectedCoarseTileCounts = s.previewTileCounts;

    // Cut for a long input name so that its status file, the job's name with ".status.ini"
    // appended, still fits.
    const std::string statusTail = ".status.ini";
    std::string jobName = fitFileName(folder, stem, "_export_job.ini" + statusTail);
    jobName.resize(jobName.size() - statusTail.size());
    const fs::path jobPath = folder / jobName;
    removeFileQuietly(jobPath.string());
    removeFileQuietly(helperStatusPath(jobPath).string());
    removeFileQuietly(s.outputFilePath.string());

    std::string error;
    if (!writeExportJobFile(jobPath, job, &error))
        throw std::runtime_error(error.empty() ? "Could not save export job file." : error);

    {
        std::lock_guard<std::mutex> lock(s.status.mutex);
        s.status.message = "Starting helper export process...";
        s.status.details.clear();
    }
    s.status.running = true;
    s.status.finished = false;
    s.status.failed = false;

    // The previous export's monitor ends when its helper has; at most one monitor exists.
    if (s.monitorThread.joinable()) s.monitorThread.join();
    if (s.helperProcess.isOpen()) s.helperProcess.close();

    PreparedJob prepared{jobPath, s.helperProgram.empty()
                                      ? platform::runningProgramPath("e57_brindlewick")
                                      : s.helperProgram};
    std::cout << "[EXPORT JOB] inputPath=" << job.inputE57Path << " | exportMode=" << job.exportMode
              << " | selectedTiles=" << job.selectedCoarseTiles.size()
              << " | coarseTileSize=" << job.coarseTileSize
              << " | totalPoints=" << job.inputTotalPoints
              << " | exportRGB=" << (job.exportRGB ? 1 : 0)
              << std::endl;  // before the helper, which shares the console, prints anything
    return prepared;
}

// The monitor thread for a started helper. Without a thread to be had, the monitor runs here:
// the helper is still watched, reaped and reported, at the cost of a window that waits.
void startMonitor(ExportPreparation& s, const fs::path& jobPath) {
    const auto makeContext = [&] {
        auto context = std::make_unique<HelperMonitorContext>();
        context->statusPath = helperStatusPath(jobPath);
        context->helperProcess = &s.helperProcess;
        context->status = &s.status;
        return context;
    };
    try {
        s.monitorThread = std::thread(monitorExportHelper, makeContext());
    } catch (const std::system_error&) {
        monitorExportHelper(makeContext());
    }
}

}  // namespace

TileCountMap collectSelectedTileCounts(const std::vector<TileIndex>& tiles,
                                       const TileCountMap& previewCounts) {
    TileCountMap out;
    out.reserve(tiles.size());
    for (const TileIndex& tile : tiles) {
        const auto it = previewCounts.find(tile);
        if (it != previewCounts.end()) out.emplace(tile, it->second);
    }
    return out;
}

std::uint64_t estimateTopSelectionPoints(std::uint64_t totalPoints,
                                         const TileCountMap& selectionCounts,
                                         const TileCountMap& previewCounts) {
    if (totalPoints == 0) return 0;
    const Wide all = sumCounts(previewCounts);
    if (all == 0) return totalPoints;
    const Wide covered = sumCounts(selectionCounts);
    if (covered >= all) return totalPoints;
    const Wide product = covered * totalPoints;
    const Wide quotient = product / all;
    const Wide remainder = product % all;
    return static_cast<std::uint64_t>(quotient + (remainder * 2 >= all ? 1 : 0));
}

void launchExportJob(ExportPreparation& state, int outputFormat, bool exportRGB,
                     bool photoThirdPass) {
    ExportHelperStatus& status = state.status;
    PreparedJob prepared;
    try {
        prepared = prepareJob(state, outputFormat, exportRGB, photoThirdPass);
    } catch (const std::exception& e) {
        failPreparation(status, exceptionText(e));
        return;
    }
    try {
        std::string error;
        if (!launchExportHelperProcess(prepared.program, prepared.jobPath, &state.helperProcess,
                                       &error)) {
            failPreparation(status,
                            error.empty() ? "Could not start helper export process." : error);
            return;
        }
        startMonitor(state, prepared.jobPath);
    } catch (...) {
        // Memory ran out on the way: nothing may reach the window. The helper, if it runs,
        // is let go by the next export or at the end of the run.
        markFailed(status);
    }
}

StartExportCallback makeStartExportCallback(ExportPreparation& state) {
    return [&state](int outputFormat, bool exportRGB, bool photoThirdPass) {
        launchExportJob(state, outputFormat, exportRGB, photoThirdPass);
    };
}
