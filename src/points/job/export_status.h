#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// The status file is the helper's only channel back to the interactive process: four lines
// ("[Status]", "State=", "Message=", "Details=" repeating the message), rewritten whole at
// every report. Its path is the job file's path with ".status.ini" appended.

// Writes a new file beside the status file (never through a link found at its name) and
// renames it over the status file. Loses the report when that fails, and the export goes on:
// false then, with the system's error number in *error (when given).
bool writeExportStatusFile(const std::filesystem::path& statusPath, const std::string& state,
                           const std::string& message, int* error = nullptr);

// "Exporting 24.6% | read=12M / 50M | written=12000000 | method=XYZ ASCII export[ | extra]".
// The percentage maps pointsRead / totalPoints onto percentLo..percentHi, the share of the
// whole export that the current pass covers.
std::string exportProgressSentence(const std::string& method, std::uint64_t pointsRead,
                                   std::uint64_t totalPoints, std::uint64_t pointsWritten,
                                   const std::string& extra, double percentLo, double percentHi);

// "Exporting 37.5% | read=3M / 8M | kept=1M | outputs=1 | method=...", capped at 99.9% while
// the pass runs. A null method reads "export".
std::string exportKeptProgressSentence(std::uint64_t pointsRead, std::uint64_t totalPoints,
                                       std::uint64_t pointsKept, const char* method,
                                       std::uint64_t outputs);

// Both write state "Running".
void writeExportProgressStatus(const std::filesystem::path& statusPath, const std::string& method,
                               std::uint64_t pointsRead, std::uint64_t totalPoints,
                               std::uint64_t pointsWritten, const std::string& extra,
                               double percentLo, double percentHi);
// A null statusPath does nothing.
void writeExportKeptProgressStatus(const std::filesystem::path* statusPath,
                                   std::uint64_t pointsRead, std::uint64_t totalPoints,
                                   std::uint64_t pointsKept, const char* method,
                                   std::uint64_t outputs);

// Empties both strings, then takes State and Message of the "Status" section. True only when
// a non-empty State was read; a file caught mid-rewrite therefore reads as false.
bool readExportStatusFile(const std::filesystem::path& statusPath, std::string* state,
                          std::string* message);
