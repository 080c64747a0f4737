#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "points/job/export_job.h"
#include "points/tiles/tile_index.h"

// The job file carries an ExportJob from the interactive process to the export helper.
// Writer and reader agree field by field; doubles are written with 17 significant digits so
// every finite value reads back to the same bits.

// Returns false with a message in *error (when given) if the file cannot be opened or written.
// *error is left alone on success.
bool writeExportJobFile(const std::filesystem::path& jobPath, const ExportJob& job,
                        std::string* error);

// Reads into out; fields assigned before a failure keep their new values, so the caller
// discards the record on false. *error is left alone on success. A fault in the file is named:
// "Export job file: [Section] Key is missing", "... Key=value is not a number", and so on.
// A UTF-8 byte order mark and CRLF line ends are read as the plain form. Refused as well: a
// path holding a NUL byte, an OutputE57Path that is empty or ends in a folder's name, ExportMode,
// OutputFormat or ExportContent outside their choices, and text after a number that decides the
// export. `notes` receives a line for each path that was trimmed of blanks.
bool loadExportJobFile(const std::filesystem::path& jobPath, ExportJob& out, std::string* error,
                       std::vector<std::string>* notes = nullptr);

// The [Job] section's InputE57Path and OutputE57Path as loadExportJobFile() reads them, without
// building the rest of the job: a quick look before a large job is loaded. A path missing or
// holding a NUL byte is left empty; false when the file cannot be read.
bool readExportJobPaths(const std::filesystem::path& jobPath, std::string& input,
                        std::string& output);

// "x,y": two whole numbers, blanks around each allowed, nothing else. out is untouched on
// refusal.
bool parseTileIndexValue(const std::string& value, TileIndex& out);
// "x,y,count", read the same way. tile and count are untouched on refusal.
bool parseTileCountValue(const std::string& value, TileIndex& tile, std::uint64_t& count);

// exportContent from the two flags.
void exportContentFromFlags(ExportJob& job);
// The two flags from exportContent; a value outside 1..2 clears both and is itself kept.
void applyExportContentToFlags(ExportJob& job);

// 0 for ".e57", 1 for ".xyz", ".txt" and ".pts", 2 for ".las" (any case); anything else 0.
std::int32_t outputFormatFromExtension(const std::string& path);
