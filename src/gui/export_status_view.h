#pragma once

#include <string>

#include "app/export_helper_status.h"

// The window's reads of the export record: flags without the lock, texts copied under it;
// false and "" without a record.
bool isExportRunning(const ExportHelperStatus* status);
bool isExportFinished(const ExportHelperStatus* status);
bool isExportFailed(const ExportHelperStatus* status);
std::string readExportStatusMessage(ExportHelperStatus* status);
std::string readExportStatusDetails(ExportHelperStatus* status);
