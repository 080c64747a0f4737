#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/file_io.h"

// Creates base (with its parents) and in it the first free "Project N", N = 1..9999; anything
// already standing under a name, a file included, takes that number. Throws std::runtime_error
// with the message for the user on failure.
std::filesystem::path createExportProjectDirectory(const std::filesystem::path& base);

// GUID of a written Data3D block: "abc_s2_p3"; an empty base gives "scan_s2_p3".
std::string makePartStem(const std::string& base, std::int64_t scanIndex, std::uint64_t partNumber);

// Shared with the status file's working name, which the platform layer cuts the same way.
using platform::fitFileName;

// Intermediate files of a photo-preserving export, beside the output:
// folder / (stem + "_geom_tmp" + extension) and folder / (stem + "_with_photos_tmp" + extension),
// the stem cut short by fitFileName() for a long name.
std::string makeGeometryTempPath(const std::string& outputPath);
std::string makeWithPhotosTempPath(const std::string& outputPath);
