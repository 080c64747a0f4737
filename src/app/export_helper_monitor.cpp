#include "app/export_helper_monitor.h"

#include <cstdint>
#include <iostream>
#include <chrono>
#include <thread>
#include <vector>

#include "points/input/exception_text.h"
#include "points/job/export_status.h"

bool launchExportHelperProcess(const std::filesystem::path& exe,
                               const std::filesystem::path& jobFile,
                               platform::ChildProcess* process, std::string* error) {
    try {
        // The helper starts in the program's folder: a relative job path would name another file.
        const std::vector<std::string> arguments{exe.string(), "--export-job",
                                                 std::filesystem::absolute(jobFile).string()};
        std::string reason;
        if (process->start(arguments, exe.parent_path(), &reason)) return true;
        if (error) *error = "Could not start helper process: " + reason;
        return false;
    } catch (const std::exception& e) {
        if (error) *error = exceptionText(e);
        return false;
    }
}

namespace {

void setText(ExportHelperStatus& status, std::string ExportHelperStatus::*field,
             const std::string& text) {
    std::lock_guard<std::mutex> lock(status.mutex);
    status.*field = text;
}

void noteRead(const HelperMonitorContext& context, bool afterEnd) {
    if (context.onStatusRead) context.onStatusRead(afterEnd);
}

void watchUntilEnd(const HelperMonitorContext& context) {
    ExportHelperStatus& status = *context.status;
    platform::ChildProcess& helper = *context.helperProcess;
    std::string state, message;
    for (;;) {
        const platform::ChildProcess::Wait wait = helper.waitFor(kHelperMonitorTurnMs);
        if (readExportStatusFile(context.statusPath, &state, &message))
            setText(status, &ExportHelperStatus::message, message);
        noteRead(context, false);
        if (wait == platform::ChildProcess::Wait::Ended) break;
        // A failed wait returns at once: the turn is slept out, so the loop never spins.
        if (wait == platform::ChildProcess::Wait::Failed) {
            if (context.onTurnSleep) context.onTurnSleep();
            std::this_thread::sleep_for(std::chrono::milliseconds(kHelperMonitorTurnMs));
        }
    }
    std::uint32_t exitCode = 1;
    helper.exitCode(&exitCode);
    readExportStatusFile(context.statusPath, &state, &message);
    noteRead(context, true);
    std::cout << "[EXPORT HELPER] process exited | exitCode=" << exitCode << " | state=" << state
              << " | message=" << message << std::endl;
    if (exitCode == 0 && state == "Success") {
        status.failed = false;
        std::lock_guard<std::mutex> lock(status.mutex);
        status.message = message.empty() ? "Export finished. You can close the window." : message;
        status.details.clear();
        return;
    }
    status.failed = true;
    std::lock_guard<std::mutex> lock(status.mutex);
    status.details = message.empty() ? "Helper export failed." : message;
    if (status.message.empty()) status.message = "Export failed.";
}

}  // namespace

void monitorExportHelper(std::unique_ptr<HelperMonitorContext> context) {
    ExportHelperStatus& status = *context->status;
    try {
        watchUntilEnd(*context);
    } catch (const std::exception& e) {
        status.failed = true;
        setText(status, &ExportHelperStatus::details, exceptionText(e));
    }
    status.running = false;
    status.finished = true;
    if (context->helperProcess && context->helperProcess->isOpen()) context->helperProcess->close();
}
