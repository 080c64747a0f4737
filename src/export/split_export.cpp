#include "export/split_export.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include "export/e57_native_export.h"
#include "export/e57_route_support.h"
#include "export/output_naming.h"
#include "export/pending_output.h"
#include "export/photo_split_export.h"
#include "export/route_contract.h"
#include "export/xyz_split_export.h"
#include "points/input/exception_text.h"
#include "points/input/text_utils.h"
#include "points/job/export_status.h"

namespace fs = std::filesystem;

namespace {

// Standard exceptions become a false result with their text; others leave to the caller.
template <class Body>
bool runSplitEntry(ExportResult* result, std::string* error, Body&& body) {
    try {
        return body();
    } catch (const std::exception& e) {
        fillRouteFailure(result, error, exceptionText(e).c_str());
        return false;
    }
}

void writeNativeSplitStatus(const fs::path* statusPath, std::uint64_t outputNumber,
                            std::uint64_t outputCount, const std::string& selectionLabel) {
    if (!statusPath) return;
    writeExportStatusFile(*statusPath, "Running",
                          "Native E57 split export | output " + std::to_string(outputNumber) +
                              " / " + std::to_string(outputCount) + " | " + selectionLabel);
}

// Follows a failed output's text: which of the split's outputs failed, in the words the XYZ
// split uses.
std::string whichOutput(const char* kind, std::uint64_t number, const std::string& path) {
    return std::string(" | ") + kind + " #" + std::to_string(number) + " | output=" + path;
}

// E57 input: the native export once per output, each with that output's selection alone (the
// entry has removed every old output, none of them the input, before). A failed output is
// returned, not raised, and leaves the result's errorMessage empty.
bool exportNativeSplit(const std::string& inputPath, const std::string& outputPath,
                       const std::vector<SelectedHeightRange>& verticalSelections,
                       const std::vector<SavedTileSelection>& topSelections,
                       const TileCountMap& tileCounts, double tileSize,
                       std::uint64_t inputTotalPoints, ExportResult* result, std::string* error,
                       const fs::path* statusPath, bool exportColour) {
    if (result) {
        *result = ExportResult{};
        result->inputPoints = inputTotalPoints;
        result->outputPath = outputPath;
    }
    const std::uint64_t outputCount = verticalSelections.size() + topSelections.size();
    const SplitOutputNaming naming{outputCount == 1, outputPath, fs::path(outputPath)};

    std::uint64_t done = 0;
    double totalMB = 0.0;
    std::uint64_t writtenEstimate = 0;
    // Every output reads the whole input, so each meets the same non-finite points.
    std::uint64_t nonFinite = 0;
    for (std::uint64_t i = 1; i <= verticalSelections.size(); ++i) {
        const SelectedHeightRange& selection = verticalSelections[i - 1];
        const std::string path = makeSplitOutputPath(naming, "vertical", i);
        std::cout << "[NATIVE SPLIT] vertical #" << i << " | output=" << path
                  << " | tiles=" << selection.tiles.size() << " | zMin=" << selection.zMin
                  << " | zMax=" << selection.zMax << "\n";
        writeNativeSplitStatus(statusPath, done + 1, outputCount, "vertical #" + std::to_string(i));
        std::string nativeError;
        std::string method;
        const std::vector<SelectedHeightRange> ranges{selection};
        std::uint64_t outputNonFinite = 0;
        if (!exportE57Native(inputPath, path, TileSet{}, ranges, tileSize, &nativeError, &method,
                             statusPath, exportColour, &outputNonFinite)) {
            if (error)
                *error =
                    (nativeError.empty() ? "Native split vertical export failed." : nativeError) +
                    whichOutput("vertical", i, path);
            return false;
        }
        nonFinite = std::max(nonFinite, outputNonFinite);
        totalMB += fileSizeMB(path);
        ++done;
    }
    for (std::uint64_t j = 1; j <= topSelections.size(); ++j) {
        const std::string path = makeSplitOutputPath(naming, "top", j);
        TileSet tiles;
        tiles.max_load_factor(1.0f);
        tiles.insert(topSelections[j - 1].tiles.begin(), topSelections[j - 1].tiles.end());
        std::cout << "[NATIVE SPLIT] top #" << j << " | output=" << path
                  << " | tiles=" << tiles.size() << "\n";
        writeNativeSplitStatus(statusPath, done + 1, outputCount, "top #" + std::to_string(j));
        std::string nativeError;
        std::string method;
        std::uint64_t outputNonFinite = 0;
        if (!exportE57Native(inputPath, path, tiles, {}, tileSize, &nativeError, &method,
                             statusPath, exportColour, &outputNonFinite)) {
            if (error)
                *error =
                    (nativeError.empty() ? "Native split top-view export failed." : nativeError) +
                    whichOutput("top", j, path);
            return false;
        }
        nonFinite = std::max(nonFinite, outputNonFinite);
        totalMB += fileSizeMB(path);
        for (const TileIndex& tile : tiles) {
            const auto it = tileCounts.find(tile);
            if (it != tileCounts.end()) writtenEstimate += it->second;
        }
        ++done;
    }

    if (result) {
        result->success = true;
        result->outputPath = outputPath;
        result->writtenPoints = writtenEstimate;
        result->nonFinitePoints = nonFinite;
        result->outputSizeMB = totalMB;
    }
    if (statusPath)
        writeExportStatusFile(*statusPath, "Running",
                              "Exporting 100.0% | native E57 split export completed");
    std::cout << "[NATIVE SPLIT] completed | outputs=" << done << " | totalOutputSizeMB=" << totalMB
              << "\n";
    return true;
}

}  // namespace

std::string makeSplitOutputPath(const SplitOutputNaming& naming, const char* kind,
                                std::uint64_t number) {
    if (naming.oneOutput) return naming.outputText;
    std::string digits = std::to_string(number);
    if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
    const fs::path name = naming.outputPath.stem().string() + "_" + kind + "_" + digits +
                          naming.outputPath.extension().string();
    return (naming.outputPath.parent_path() / name).string();
}

std::vector<std::string> splitOutputPaths(const std::string& outputPath, std::size_t verticalCount,
                                          std::size_t topCount, bool photo) {
    const std::size_t count = verticalCount + topCount;
    if (count == 0) return {outputPath};
    const SplitOutputNaming naming{count == 1 && !photo, outputPath, fs::path(outputPath)};
    std::vector<std::string> paths;
    paths.reserve(count);
    for (std::size_t i = 1; i <= verticalCount; ++i)
        paths.push_back(makeSplitOutputPath(naming, "vertical", i));
    for (std::size_t j = 1; j <= topCount; ++j)
        paths.push_back(makeSplitOutputPath(naming, "top", j));
    return paths;
}

namespace {

// True when `name` is one that makeSplitOutputPath() gives for some kind and number: "_top_01",
// "_top_100", never "_top_00" or "_top_001".
bool isNumberedSplitName(const SplitOutputNaming& naming, const std::string& name) {
    const std::string stem = naming.outputPath.stem().string() + "_";
    const std::string extension = naming.outputPath.extension().string();
    if (name.size() <= stem.size() + extension.size() || name.compare(0, stem.size(), stem) ||
        name.compare(name.size() - extension.size(), extension.size(), extension))
        return false;
    const std::string middle = name.substr(stem.size());
    const std::size_t digits = middle.size() - extension.size();
    for (const char* kind : {"vertical", "top"}) {
        const std::size_t from = std::char_traits<char>::length(kind) + 1;
        if (middle.rfind(std::string(kind) + "_", 0) != 0 || digits <= from || digits - from > 18 ||
            !std::all_of(middle.begin() + from, middle.begin() + digits,
                         [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const std::uint64_t number = std::stoull(middle.substr(from, digits - from));
        if (number != 0 && fs::path(makeSplitOutputPath(naming, kind, number)).filename() == name)
            return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> earlierSplitOutputs(const std::string& outputPath) {
    const SplitOutputNaming naming{false, outputPath, fs::path(outputPath)};
    const fs::path folder = naming.outputPath.parent_path();
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end;
         !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        // A writer killed before its output was finished leaves only its working file.
        if (isWorkingFileName(name)) name.resize(name.rfind(".unfinished-"));
        if (isNumberedSplitName(naming, name)) found.push_back((folder / name).string());
    }
    return found;
}

bool mayBeExportFile(const std::string& outputPath, const std::string& path) {
    const fs::path output(outputPath);
    const fs::path candidate(path);
    std::error_code ec;
    const fs::path here = fs::weakly_canonical(fs::absolute(output.parent_path(), ec), ec);
    const fs::path there = fs::weakly_canonical(fs::absolute(candidate.parent_path(), ec), ec);
    if (ec || here != there) return false;
    std::string name = candidate.filename().string();
    if (isNumberedSplitName({false, outputPath, output}, name) || isWorkingFileName(name))
        return true;
    const std::string extension = output.extension().string();
    if (!extension.empty() && name.ends_with(extension))
        name.resize(name.size() - extension.size());
    return name.ends_with("_geom_tmp") || name.ends_with("_with_photos_tmp");
}

void removeOldSplitOutputs(const std::string& inputPath, const std::string& outputPath,
                           std::size_t verticalCount, std::size_t topCount, bool photo,
                           bool sweepEarlier) {
    // Numbered outputs would be written beside a folder, device or pipe named as the output.
    std::error_code statusError;
    const fs::file_status status = fs::status(outputPath, statusError);
    const std::string refusal = std::string(kSplitOutputWords.prefix) + " failed: the output path ";
    if (fs::is_directory(status)) failExportRoute(refusal + "is a folder: " + outputPath);
    if (fs::exists(status) && !fs::is_regular_file(status))
        failExportRoute(refusal + "is not a regular file: " + outputPath);
    std::vector<std::string> paths = splitOutputPaths(outputPath, verticalCount, topCount, photo);
    // The photo split's working files would overwrite an input found there.
    if (photo)
        for (const std::string& path : paths)
            for (const std::string& working :
                 {makeGeometryTempPath(path), makeWithPhotosTempPath(path)})
                refuseOutputOnInput(inputPath, working, kSplitOutputWords.prefix);
    // A split by export mode owns every numbered name of its output and the lone output: an
    // earlier split with more selections, or with one, leaves none of its files beside this
    // one's, nor their dead writers' working files. Those this run does not write are left as
    // they are when they are not regular files (folders, devices, pipes, links to nothing) or
    // the input.
    std::vector<std::string> earlier;
    if (sweepEarlier) {
        earlier = earlierSplitOutputs(outputPath);
        earlier.push_back(outputPath);
    }
    for (std::string& path : earlier) {
        std::error_code ec;
        const bool nothingThere = !fs::exists(fs::symlink_status(path, ec));
        if (std::find(paths.begin(), paths.end(), path) == paths.end() &&
            (nothingThere || fs::is_regular_file(fs::status(path, ec))) &&
            !fs::equivalent(fs::path(inputPath), fs::path(path), ec))
            paths.push_back(std::move(path));
    }
    removeOldRegularOutputs(inputPath, paths, kSplitOutputWords.prefix);
}

bool exportSplitSelections(const std::string& inputPath, const std::string& outputPath,
                           const std::vector<SelectedHeightRange>& verticalSelections,
                           const std::vector<SavedTileSelection>& topSelections,
                           const TileCountMap& tileCounts, double tileSize,
                           std::uint64_t inputTotalPoints, bool photo, ExportResult* result,
                           std::string* error, const std::filesystem::path* statusPath,
                           bool exportColour, bool sweepEarlier) {
    return runSplitEntry(result, error, [&] {
        // Before any refusal: a refused or failed split leaves no file of an earlier one.
        removeOldSplitOutputs(inputPath, outputPath, verticalSelections.size(),
                              topSelections.size(), photo, sweepEarlier);
        if (verticalSelections.empty() && topSelections.empty())
            failExportRoute("Split export requires at least one saved vertical or top selection.");
        const bool xyzInput = hasXyzExtension(inputPath);
        const bool e57Input = hasE57Extension(inputPath);
        if (!xyzInput && !e57Input)
            failExportRoute("Split export supports only .e57 and .xyz input files.");
        if (photo) {
            if (xyzInput)
                failExportRoute(
                    "Photo third-pass export is not supported for XYZ input. Disable photo "
                    "preservation for XYZ files.");
            return exportPhotoMultiSplit(inputPath, outputPath, verticalSelections, topSelections,
                                         tileSize, inputTotalPoints, result, error);
        }
        if (e57Input)
            return exportNativeSplit(inputPath, outputPath, verticalSelections, topSelections,
                                     tileCounts, tileSize, inputTotalPoints, result, error,
                                     statusPath, exportColour);
        exportXyzSinglePassSplit(inputPath, outputPath, verticalSelections, topSelections, tileSize,
                                 inputTotalPoints, result, statusPath, exportColour);
        return true;
    });
}

bool exportSplitVertical(const std::string& inputPath, const std::string& outputPath,
                         const std::vector<SelectedHeightRange>& verticalSelections,
                         double tileSize, std::uint64_t inputTotalPoints, double outputAreaM2,
                         const TileCountMap& tileCounts, bool photo, ExportResult* result,
                         std::string* error, bool exportColour) {
    return runSplitEntry(result, error, [&] {
        const bool ok = photo ? exportPhotoMultiSplit(inputPath, outputPath, verticalSelections, {},
                                                      tileSize, inputTotalPoints, result, error)
                              : exportSplitSelections(inputPath, outputPath, verticalSelections, {},
                                                      tileCounts, tileSize, inputTotalPoints, false,
                                                      result, error, nullptr, exportColour);
        if (ok && result) result->outputAreaM2 = outputAreaM2;
        return ok;
    });
}

bool exportSplitTop(const std::string& inputPath, const std::string& outputPath,
                    const std::vector<SavedTileSelection>& topSelections, double tileSize,
                    std::uint64_t inputTotalPoints, double outputAreaM2,
                    const TileCountMap& tileCounts, bool photo, ExportResult* result,
                    std::string* error, bool exportColour) {
    return runSplitEntry(result, error, [&] {
        const bool ok = photo ? exportPhotoMultiSplit(inputPath, outputPath, {}, topSelections,
                                                      tileSize, inputTotalPoints, result, error)
                              : exportSplitSelections(inputPath, outputPath, {}, topSelections,
                                                      tileCounts, tileSize, inputTotalPoints, false,
                                                      result, error, nullptr, exportColour);
        if (ok && result) result->outputAreaM2 = outputAreaM2;
        return ok;
    });
}
