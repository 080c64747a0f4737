#pragma once

// The benchmarks' job over the demo site's tiles at 1 m.

#include <cmath>
#include <cstdint>
#include <string>

#include "demo_cloud/demo_cloud.h"
#include "points/job/export_job.h"

namespace benchsupport {

// Tiles of the demo site (absolute coordinates), with a margin of one tile for the few points
// that stray past its edges; percent 50 keeps the tiles west of the middle.
inline ExportJob siteJob(const std::string& input, const std::string& output, int percent) {
    ExportJob job;
    job.inputE57Path = input;
    job.outputE57Path = output;
    job.coarseTileSize = 1.0;
    job.exportMode = 0;
    job.exportRGB = true;
    job.exportContent = 1;
    const auto x0 = static_cast<std::int64_t>(std::floor(democloud::kOriginX));
    const auto y0 = static_cast<std::int64_t>(std::floor(democloud::kOriginY));
    const auto size = static_cast<std::int64_t>(democloud::kSiteSize);
    const std::int64_t xEnd = percent >= 100 ? x0 + size : x0 + size / 2 - 1;
    for (std::int64_t ix = x0 - 1; ix <= xEnd; ++ix)
        for (std::int64_t iy = y0 - 1; iy <= y0 + size; ++iy)
            job.selectedCoarseTiles.insert({ix, iy});
    job.outputAreaM2 = static_cast<double>((xEnd - x0 + 2) * (size + 2));
    return job;
}

}  // namespace benchsupport
