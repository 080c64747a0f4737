#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "export/export_result.h"
#include "points/job/export_job.h"

// LAS input to a LAS file of the same version and point format: header and VLR bytes copied,
// selected records copied byte for byte, counts and bounds patched at the end.
bool exportLasBinary(const ExportJob& job, const std::string& statusPath, ExportResult* result,
                     std::string* error);

// Rewrites the point counts, per-return counts and bounds of a copied header in place. Each
// field is written only when it lies wholly inside the bytes, and fields from offset 227 on
// only when they also lie inside the header size stored at bytes 94-95. Never resizes.
void patchLasOutputHeader(std::vector<std::uint8_t>& header, std::uint64_t pointsWritten,
                          const std::array<std::uint64_t, 15>& pointsByReturn, bool boundsValid,
                          double minX, double maxX, double minY, double maxY, double minZ,
                          double maxZ);
