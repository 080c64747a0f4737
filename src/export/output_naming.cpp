#include "export/output_naming.h"

#include <cstdint>
#include <stdexcept>
#include <system_error>

#include "platform/file_io.h"

namespace fs = std::filesystem;

namespace {

constexpr int kMaxProjectNumber = 9999;

// Anything standing under the name counts, a dangling link included; a failed query counts
// as free and the creation below then decides.
bool nameTaken(const fs::path& candidate) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(candidate, ec);
    return !ec && fs::exists(status);
}

std::string tempPathWithSuffix(const std::string& outputPath, const char* suffix) {
    const fs::path output(outputPath);
    const fs::path folder = output.parent_path();
    std::string head = output.stem().string();
    std::string tail = suffix + output.extension().string();
    // An extension too long to keep goes with the part that is cut.
    if (tail.size() + 9 >= platform::maxNameLength(folder.string())) {
        head = output.filename().string();
        tail = suffix;
    }
    return (folder / fitFileName(folder, head, tail)).string();
}

}  // namespace

fs::path createExportProjectDirectory(const fs::path& base) {
    std::error_code ec;
    if (base.empty())
        ec = std::make_error_code(std::errc::invalid_argument);
    else
        fs::create_directories(base, ec);
    if (ec)
        throw std::runtime_error("Cannot create base output directory: " + base.string() + " | " +
                                 ec.message());

    for (int n = 1; n <= kMaxProjectNumber; ++n) {
        const fs::path candidate = base / ("Project " + std::to_string(n));
        if (nameTaken(candidate)) continue;
        std::error_code createError;
        const bool created = fs::create_directory(candidate, createError);
        if (createError)
            throw std::runtime_error("Cannot create export project directory: " +
                                     candidate.string() + " | " + createError.message());
        if (created) return candidate;
        // Someone else made it meanwhile: try the next number.
    }
    throw std::runtime_error(
        "Could not create a new Project N folder. Too many existing project folders.");
}

std::string makePartStem(const std::string& base, std::int64_t scanIndex,
                         std::uint64_t partNumber) {
    std::string stem = base.empty() ? std::string("scan_") : base + "_";
    stem += "s";
    stem += std::to_string(scanIndex);
    stem += "_p";
    stem += std::to_string(partNumber);
    return stem;
}

std::string makeGeometryTempPath(const std::string& outputPath) {
    return tempPathWithSuffix(outputPath, "_geom_tmp");
}

std::string makeWithPhotosTempPath(const std::string& outputPath) {
    return tempPathWithSuffix(outputPath, "_with_photos_tmp");
}
