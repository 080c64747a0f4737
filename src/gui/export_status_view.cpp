#include "gui/export_status_view.h"

#include <mutex>

bool isExportRunning(const ExportHelperStatus* status) { return status && status->running.load(); }
bool isExportFinished(const ExportHelperStatus* status) {
    return status && status->finished.load();
}
bool isExportFailed(const ExportHelperStatus* status) { return status && status->failed.load(); }

std::string readExportStatusMessage(ExportHelperStatus* status) {
    if (!status) return {};
    std::lock_guard<std::mutex> lock(status->mutex);
    return status->message;
}

std::string readExportStatusDetails(ExportHelperStatus* status) {
    if (!status) return {};
    std::lock_guard<std::mutex> lock(status->mutex);
    return status->details;
}
