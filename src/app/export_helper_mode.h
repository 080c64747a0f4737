#pragma once

#include <filesystem>

#include "points/job/export_job.h"

// The export helper: `e57_brindlewick --export-job JOB.ini` loads the job, runs the one route
// it asks for and reports through JOB.ini.status.ini. Its exit codes:
inline constexpr int kHelperExitSuccess = 0;
inline constexpr int kHelperExitJobNotLoaded = 100;
// A LAS-input, XYZ ASCII or E57-output route failed, or photos were asked for XYZ input.
inline constexpr int kHelperExitRouteFailed = 101;
// The synthetic LAS route failed, or memory ran out anywhere in the export.
inline constexpr int kHelperExitSyntheticLasFailed = 102;
inline constexpr int kHelperExitOutOfMemory = 102;
inline constexpr int kHelperExitStandardException = 103;
inline constexpr int kHelperExitUnknownException = 104;

// argc >= 3 and argv[1] exactly "--export-job".
bool isHelperModeCommandLine(int argc, const char* const* argv);

// The status file of a job: the job path's text with ".status.ini" appended.
std::filesystem::path helperStatusPath(const std::filesystem::path& jobPath);

// The whole helper mode; returns the process's exit code. Before the first report, a job whose
// status file cannot be made, or whose status file or its working file is its input, output
// or job file, is refused (100) without any report; an output that is the job file is refused
// before anything else is written.
int runExportHelperMode(const std::filesystem::path& jobPath);

// Everything after the job has been loaded: the route, its reports and the exit code.
// Exceptions do not leave it.
int runHelperExport(const ExportJob& job, const std::filesystem::path& statusPath);
