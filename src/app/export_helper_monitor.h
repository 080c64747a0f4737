#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "app/export_helper_status.h"
#include "platform/child_process.h"

inline constexpr int kHelperMonitorTurnMs = 300;

// Starts `exe --export-job jobFile` in exe's folder, sharing this process's environment,
// standard output and error. On failure *error (when given) gets "Could not start helper
// process: " and the system's reason.
bool launchExportHelperProcess(const std::filesystem::path& exe,
                               const std::filesystem::path& jobFile,
                               platform::ChildProcess* process, std::string* error);

// The monitor thread's body: mirrors the status file into the status record about three
// times a second until the helper ends, then decides the outcome (success only for exit code
// 0 and state exactly "Success") and lets the helper's handle go.
void monitorExportHelper(std::unique_ptr<HelperMonitorContext> context);
