// Loads the bytes as an export job; a job that loads must load again, the same, after our own
// writer has written it.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "memory_file.h"
#include "points/job/export_job_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzzfile::MemoryFile file(data, size);
    if (!file.ok()) return 0;
    ExportJob job;
    std::string error;
    if (!loadExportJobFile(file.path(), job, &error)) {
        if (error.empty()) __builtin_trap();
        return 0;
    }
    // Paths with a line break cannot be written as one line; the window refuses them.
    if (job.inputE57Path.find_first_of("\r\n") != std::string::npos ||
        job.outputE57Path.find_first_of("\r\n") != std::string::npos)
        return 0;
    const std::string copy = "/tmp/job-fuzz-" + std::to_string(::getpid()) + ".ini";
    if (!writeExportJobFile(copy, job, &error)) return 0;
    ExportJob back;
    const bool loaded = loadExportJobFile(copy, back, &error);
    std::remove(copy.c_str());
    if (!loaded || back.inputE57Path != job.inputE57Path ||
        back.outputE57Path != job.outputE57Path ||
        back.selectedCoarseTiles != job.selectedCoarseTiles ||
        back.selectedCoarseTileCounts != job.selectedCoarseTileCounts ||
        back.savedTileSelections.size() != job.savedTileSelections.size() ||
        back.selectedHeightRanges.size() != job.selectedHeightRanges.size())
        __builtin_trap();
    return 0;
}
