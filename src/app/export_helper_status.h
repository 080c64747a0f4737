#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "platform/child_process.h"

// How the current export is going, shared by the window, the export preparation and the
// monitor thread. The mutex guards the two strings only; the flags are read without it.
struct ExportHelperStatus {
    std::mutex mutex;
    std::atomic<bool> running{false};
    std::atomic<bool> finished{false};
    std::atomic<bool> failed{false};
    std::string message;  // the latest progress or outcome sentence
    std::string details;  // the error text; empty on success
};

// One export's monitor: made by the export preparation, owned by the monitor thread.
struct HelperMonitorContext {
    std::filesystem::path statusPath;
    platform::ChildProcess* helperProcess = nullptr;  // main's handle; closed at the end
    ExportHelperStatus* status = nullptr;
    // Called after each read of the status file (afterEnd: the read once the helper has
    // ended), so tests see the monitor's turns without timing them.
    std::function<void(bool afterEnd)> onStatusRead;
    // Called when a failed wait's turn is about to be slept out (tests count them).
    std::function<void()> onTurnSleep;
};
