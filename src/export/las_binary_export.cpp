#include "export/las_binary_export.h"

#include <bit>
#include <cmath>
#include <fstream>
#include <iostream>
#include <limits>

#include "export/output_file.h"
#include "export/route_contract.h"
#include "points/input/cloud_point.h"
#include "points/job/export_status.h"
#include "points/input/las_header.h"
#include "points/input/las_reader.h"
#include "points/selection/selection.h"

namespace {

// Little-endian store of `bytes` bytes of value at offset, only when the field lies wholly
// below limit (limit never exceeds the vector's size).
void putLittleEndian(std::vector<std::uint8_t>& header, std::size_t limit, std::size_t offset, std::uint64_t value,
                     std::size_t bytes) {
    if (offset > limit || bytes > limit - offset) return;
    for (std::size_t i = 0; i < bytes; ++i) header[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putU32(std::vector<std::uint8_t>& header, std::size_t limit, std::size_t offset, std::uint32_t value) {
    putLittleEndian(header, limit, offset, value, 4);
}
void putU64(std::vector<std::uint8_t>& header, std::size_t limit, std::size_t offset, std::uint64_t value) {
    putLittleEndian(header, limit, offset, value, 8);
}
void putF64(std::vector<std::uint8_t>& header, std::size_t limit, std::size_t offset, double value) {
    putLittleEndian(header, limit, offset, std::bit_cast<std::uint64_t>(value), 8);
}

// The legacy 32-bit counts cannot hold larger values; LAS 1.4 readers then take the 64-bit ones.
std::uint32_t legacyCount(std::uint64_t value) {
    return value > std::numeric_limits<std::uint32_t>::max() ? 0U : static_cast<std::uint32_t>(value);
}

std::vector<std::uint8_t> readHeaderBytes(const std::string& path, std::uint32_t offsetToPointData) {
    std::ifstream in(path, std::ios::binary);
    if (!in) failExportRoute("Cannot reopen LAS input to copy header.");
    std::vector<std::uint8_t> header(offsetToPointData);
    in.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()));
    if (!in || in.gcount() != static_cast<std::streamsize>(header.size()))
        failExportRoute("Cannot read LAS header/VLR bytes.");
    return header;
}

struct Bounds {
    double minX = std::numeric_limits<double>::infinity();
    double maxX = -std::numeric_limits<double>::infinity();
    double minY = std::numeric_limits<double>::infinity();
    double maxY = -std::numeric_limits<double>::infinity();
    double minZ = std::numeric_limits<double>::infinity();
    double maxZ = -std::numeric_limits<double>::infinity();

    void widen(double x, double y, double z) {
        if (x < minX) minX = x;
        if (x > maxX) maxX = x;
        if (y < minY) minY = y;
        if (y > maxY) maxY = y;
        if (z < minZ) minZ = z;
        if (z > maxZ) maxZ = z;
    }
    bool finite() const {
        return std::isfinite(minX) && std::isfinite(maxX) && std::isfinite(minY) && std::isfinite(maxY) &&
               std::isfinite(minZ) && std::isfinite(maxZ);
    }
};

}  // namespace

void patchLasOutputHeader(std::vector<std::uint8_t>& header, std::uint64_t pointsWritten,
                          const std::array<std::uint64_t, 15>& pointsByReturn, bool boundsValid, double minX,
                          double maxX, double minY, double maxY, double minZ, double maxZ) {
    const std::size_t bytes = header.size();
    // Fields past the 1.2 header exist only in LAS 1.3 and 1.4 headers; in older files those
    // bytes already belong to the VLRs.
    std::size_t publicHeader = 0;
    if (bytes >= las::kHeaderSizeAt + 2)
        publicHeader = static_cast<std::size_t>(header[las::kHeaderSizeAt]) |
                       (static_cast<std::size_t>(header[las::kHeaderSizeAt + 1]) << 8);
    const std::size_t extended = publicHeader < bytes ? publicHeader : bytes;

    putU32(header, bytes, las::kLegacyPointCountAt, legacyCount(pointsWritten));
    for (std::size_t i = 0; i < las::kLegacyReturnCounts; ++i)
        putU32(header, bytes, las::kLegacyPointsByReturnAt + 4 * i, legacyCount(pointsByReturn[i]));
    putF64(header, bytes, las::kMaxXAt, boundsValid ? maxX : 0.0);
    putF64(header, bytes, las::kMinXAt, boundsValid ? minX : 0.0);
    putF64(header, bytes, las::kMaxYAt, boundsValid ? maxY : 0.0);
    putF64(header, bytes, las::kMinYAt, boundsValid ? minY : 0.0);
    putF64(header, bytes, las::kMaxZAt, boundsValid ? maxZ : 0.0);
    putF64(header, bytes, las::kMinZAt, boundsValid ? minZ : 0.0);
    putU64(header, extended, las::kPointCountAt, pointsWritten);
    for (std::size_t i = 0; i < las::kReturnCounts; ++i)
        putU64(header, extended, las::kPointsByReturnAt + 8 * i, pointsByReturn[i]);
    // Waveform data and extended VLRs after the points are not copied.
    putU64(header, extended, las::kWaveformDataStartAt, 0);
    putU64(header, extended, las::kFirstExtendedVlrAt, 0);
    putU32(header, extended, las::kExtendedVlrCountAt, 0);
}

bool exportLasBinary(const ExportJob& job, const std::string& statusPath, ExportResult* result,
                     std::string* error) {
    return runExportRoute(job, result, error, [&] {
        const ExportRouteWords& words = kLasBinaryWords;
        checkRouteTileSize(job, words);
        prepareRouteOutputFolder(job, words);

        LasBinaryPointReader reader;
        std::string readError;
        if (!reader.open(job.inputE57Path, &readError))
            failExportRoute("Cannot open LAS input for binary export: " + readError);
        const std::uint64_t total = reader.pointCount();
        const std::size_t recordLength = reader.pointRecordLength();
        // The return number's width grew with the LAS 1.4 point formats.
        const std::uint8_t returnMask = reader.pointFormat() >= 6 ? 0x0F : 0x07;

        std::vector<std::uint8_t> header = readHeaderBytes(job.inputE57Path, reader.offsetToPointData());

        OutputFile out;
        openRouteOutput(out, job.outputE57Path, "Cannot open output LAS file: ");
        out.write(header.data(), header.size());
        if (!out.good()) failExportRoute("Cannot write initial LAS header.");

        const ExportSelectionFilter filter = compileRouteSelection(job, words);
        UnionSelectionTest selection(filter, job.coarseTileSize);
        writeExportStatusFile(statusPath, "Running", "LAS binary export started.");

        std::array<std::uint64_t, 15> byReturn{};
        Bounds bounds;
        std::uint64_t written = 0;
        RouteProgressCadence progress;
        CloudPoint point;
        while (reader.readNext(point, &readError)) {
            const std::uint64_t read = reader.nextPointIndex();
            if (progress.due(read)) {
                writeExportProgressStatus(statusPath, words.progressMethod, read, total, written, std::string(), 0.0,
                                          99.9);
                std::cout << "[LAS EXPORT - BINARY]" << " read=" << read << " / " << total
                          << " | written=" << written << "\n";
            }
            if (!selection.accepts(point.x, point.y, point.z)) continue;

            const std::uint8_t* record = reader.record().data();
            out.write(record, recordLength);
            if (!out.good()) failExportRoute("LAS binary export failed while writing point record.");
            ++written;
            bounds.widen(point.x, point.y, point.z);
            const unsigned returnNumber = record[14] & returnMask;
            if (returnNumber >= 1) ++byReturn[returnNumber - 1];
        }
        if (!readError.empty()) failExportRoute("LAS binary export read error: " + readError);

        const bool boundsValid = written > 0 && bounds.finite();
        patchLasOutputHeader(header, written, byReturn, boundsValid, bounds.minX, bounds.maxX, bounds.minY,
                             bounds.maxY, bounds.minZ, bounds.maxZ);
        out.writeAt(0, header.data(), header.size());
        if (!out.good()) failExportRoute("LAS binary export failed while patching output header.");
        closeRouteOutput(out, words);
        reader.close();

        std::cout << "[LAS EXPORT - BINARY] completed" << " | inputPoints=" << total
                  << " | writtenPoints=" << written << " | output=" << job.outputE57Path << "\n";
        return RouteCounts{total, written, true};
    });
}
