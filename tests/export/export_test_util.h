#pragma once

// Jobs, runs and output readers for the export route tests.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "export/export_result.h"
#include "points/job/export_job.h"
#include "points/job/export_status.h"
#include "points/input/las_reader.h"
#include "points/input/xyz_ascii_reader.h"
#include "support/test_support.h"

namespace exporttest {

// A job over input -> output with tile size 1 that selects the given coarse tiles (the plain
// tile set, no saved selection).
inline ExportJob jobWithTiles(const std::string& input, const std::string& output,
                              const std::vector<TileIndex>& tiles, double tileSize = 1.0) {
    ExportJob job;
    job.inputE57Path = input;
    job.outputE57Path = output;
    job.coarseTileSize = tileSize;
    job.selectedCoarseTiles.insert(tiles.begin(), tiles.end());
    job.outputAreaM2 = 12.5;
    return job;
}

// Unfinished temporary outputs ("*.unfinished-*") left in dir.
inline std::vector<std::string> unfinishedFiles(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename().string().find(".unfinished-") != std::string::npos)
            names.push_back(e.path().filename().string());
    return names;
}

// Every tile from (x0, y0) to (x1, y1), both ends included.
inline std::vector<TileIndex> tileBlock(std::int64_t x0, std::int64_t y0, std::int64_t x1,
                                        std::int64_t y1) {
    std::vector<TileIndex> out;
    for (std::int64_t ix = x0; ix <= x1; ++ix)
        for (std::int64_t iy = y0; iy <= y1; ++iy) out.push_back({ix, iy});
    return out;
}

struct StatusSeen {
    std::string state;
    std::string message;
};

inline StatusSeen readStatus(const std::filesystem::path& statusPath) {
    StatusSeen s;
    readExportStatusFile(statusPath, &s.state, &s.message);
    return s;
}

// A little-endian value at a byte offset.
template <class T>
T at(const std::string& bytes, std::size_t offset) {
    T v{};
    if (offset + sizeof v <= bytes.size())
        std::memcpy(&v, bytes.data() + offset, sizeof v);
    else
        ADD_FAILURE() << "offset " << offset << " past " << bytes.size() << " bytes";
    return v;
}

using RouteFunction = bool (*)(const ExportJob&, const std::string&, ExportResult*, std::string*);

struct RouteRun {
    bool ok = false;
    ExportResult result;
    std::string error;
    std::string console;
};

// Runs a route with its console captured.
inline RouteRun runRoute(RouteFunction route, const ExportJob& job,
                         const std::filesystem::path& status = {}) {
    RouteRun r;
    testing::internal::CaptureStdout();
    r.ok = route(job, status.string(), &r.result, &r.error);
    r.console = testing::internal::GetCapturedStdout();
    return r;
}

// The error of a run that must fail, with the result marked as failed.
inline std::string failureOf(RouteFunction route, const ExportJob& job,
                             const std::filesystem::path& status = {}) {
    const RouteRun r = runRoute(route, job, status);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.result.success);
    EXPECT_EQ(r.result.errorMessage, r.error);
    return r.error;
}

// A failure text: exactly want, or with prefix set want followed by the system's own reason.
inline void expectFailureText(const std::string& got, const std::string& want, bool prefix) {
    if (!prefix) {
        EXPECT_EQ(got, want);
        return;
    }
    EXPECT_EQ(got.rfind(want, 0), 0u) << got;
    EXPECT_GT(got.size(), want.size()) << got;
}

inline std::vector<CloudPoint> readXyzBack(const std::filesystem::path& path) {
    XyzAsciiPointReader reader(1.0);
    std::vector<CloudPoint> out;
    std::string error;
    if (!reader.open(path.string(), &error)) {
        ADD_FAILURE() << error;
        return out;
    }
    CloudPoint p;
    while (reader.readNext(p, &error)) out.push_back(p);
    EXPECT_EQ(error, "");
    EXPECT_EQ(reader.badLines(), 0u);
    return out;
}

// A LAS file read back with our reader: header facts, decoded points and raw records.
struct LasBack {
    std::uint8_t format = 255;
    std::uint16_t recordLength = 0;
    std::uint16_t headerSize = 0;
    std::uint32_t offsetToPointData = 0;
    std::array<double, 3> scale{}, offset{};
    std::vector<CloudPoint> points;
    std::vector<std::string> records;
};

inline LasBack readLasBack(const std::filesystem::path& path) {
    LasBack back;
    LasBinaryPointReader reader;
    std::string err;
    if (!reader.open(path.string(), &err)) {
        ADD_FAILURE() << err;
        return back;
    }
    back.format = reader.pointFormat();
    back.recordLength = reader.pointRecordLength();
    back.headerSize = reader.headerSize();
    back.offsetToPointData = reader.offsetToPointData();
    back.scale = reader.scale();
    back.offset = reader.offset();
    CloudPoint p;
    while (reader.readNext(p, &err)) {
        back.points.push_back(p);
        back.records.emplace_back(reinterpret_cast<const char*>(reader.record().data()),
                                  reader.record().size());
    }
    EXPECT_EQ(err, "");
    EXPECT_EQ(back.points.size(), reader.pointCount());
    return back;
}

}  // namespace exporttest
