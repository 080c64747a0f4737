#include "export/las_binary_export.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>

#include "export/finite_xyz.h"
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
void putLittleEndian(std::vector<std::uint8_t>& header, std::size_t limit, std::size_t offset,
                     std::uint64_t value, std::size_t bytes) {
    if (offset > limit || bytes > limit - offset) return;
    for (std::size_t i = 0; i < bytes; ++i)
        header[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putU32(std::vector<std::uint8_t>& header, std::size_t limit, std::size_t offset,
            std::uint32_t value) {
    putLittleEndian(header, limit, offset, value, 4);
}
void putU64(std::vector<std::uint8_t>& header, std::size_t limit, std::size_t offset,
            std::uint64_t value) {
    putLittleEndian(header, limit, offset, value, 8);
}
void putF64(std::vector<std::uint8_t>& header, std::size_t limit, std::size_t offset,
            double value) {
    putLittleEndian(header, limit, offset, std::bit_cast<std::uint64_t>(value), 8);
}

// The legacy 32-bit counts cannot hold larger values; LAS 1.4 readers then take the 64-bit ones.
std::uint32_t legacyCount(std::uint64_t value) {
    return value > std::numeric_limits<std::uint32_t>::max() ? 0U
                                                             : static_cast<std::uint32_t>(value);
}

std::vector<std::uint8_t> readHeaderBytes(const std::string& path,
                                          std::uint32_t offsetToPointData) {
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
        return std::isfinite(minX) && std::isfinite(maxX) && std::isfinite(minY) &&
               std::isfinite(maxY) && std::isfinite(minZ) && std::isfinite(maxZ);
    }
};

// The raw copy's inner loop. Records are decided from their stored integers scaled as the
// reader scales them, and copied straight into the output buffer: every record is copied and
// the cursor moves past it only when it is kept, so a file in random order costs no mispredicted
// branch on the answer. Counts and bounds are taken afterwards from the kept records while they
// are still in cache. The buffer is flushed exactly where write() would flush it: when a kept
// record does not fit.
struct RecordCopy {
    RecordCopy(const LasBinaryPointReader& reader, unsigned mask, UnionSelectionTest& test,
               OutputFile& output)
        : scale(reader.scale()),
          offset(reader.offset()),
          length(reader.pointRecordLength()),
          returnMask(mask),
          selection(test),
          out(output) {}

    const std::array<double, 3>& scale;
    const std::array<double, 3>& offset;
    const std::size_t length;
    const unsigned returnMask;
    UnionSelectionTest& selection;
    OutputFile& out;

    std::uint64_t written = 0;
    std::uint64_t nonFinite = 0;  // records left out for a coordinate that overflows the double
    Bounds bounds;
    std::array<std::uint64_t, 16> byReturn{};  // [0] counts records without a return number

    // Every kept record of the run is in the output when this returns.
    void take(const std::uint8_t* records, std::size_t count) {
        if (length >= 16 && length <= 32) {
            takeWith(records, count, [](std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
                std::memcpy(dst, src, 16);  // two overlapping fixed-size copies
                std::memcpy(dst + n - 16, src + n - 16, 16);
            });
        } else if (length > 32 && length <= 64) {
            takeWith(records, count, [](std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
                std::memcpy(dst, src, 32);
                std::memcpy(dst + n - 32, src + n - 32, 32);
            });
        } else {
            takeWith(records, count, [](std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
                std::memcpy(dst, src, n);
            });
        }
    }

private:
    template <class Copy>
    void takeWith(const std::uint8_t* records, std::size_t count, Copy copyRecord) {
        const std::size_t n = length;
        const std::array<double, 3> s = scale;  // locals: the record stores cannot change them
        const std::array<double, 3> o = offset;
        std::uint8_t* from = reinterpret_cast<std::uint8_t*>(out.reserve(0));
        std::uint8_t* dst = from;
        std::size_t left = out.room();
        std::uint64_t infinite = 0;
        for (const std::uint8_t *rec = records, *end = records + count * n; rec != end; rec += n) {
            const double x = lasrecord::coordinate(rec, 0, s, o);
            const double y = lasrecord::coordinate(rec, 1, s, o);
            const double z = lasrecord::coordinate(rec, 2, s, o);
            // The selection refuses no infinite z.
            const bool finite = finite3(x, y, z);
            infinite += !finite;
            const bool keep = finite & selection.acceptsUnordered(x, y, z);
            if (left < n) [[unlikely]] {
                if (!keep) continue;
                account(from, dst);
                from = dst = reinterpret_cast<std::uint8_t*>(out.reserve(n));
                if (!out.good())
                    failExportRoute(withSystemReason(
                        "LAS binary export failed while writing point record.", out.reason()));
                left = out.room();
            }
            copyRecord(dst, rec, n);
            const std::size_t step = n & (0 - static_cast<std::size_t>(keep));  // not a branch
            dst += step;
            left -= step;
        }
        nonFinite += infinite;
        account(from, dst);
    }

    // Counts and bounds of the kept records in [from, to) of the buffer, then commits them.
    void account(const std::uint8_t* from, const std::uint8_t* to) {
        const std::size_t n = length;
        const std::array<double, 3> s = scale;
        const std::array<double, 3> o = offset;
        Bounds b = bounds;
        std::array<std::uint64_t, 16> returns = byReturn;
        for (const std::uint8_t* rec = from; rec != to; rec += n) {
            b.widen(lasrecord::coordinate(rec, 0, s, o), lasrecord::coordinate(rec, 1, s, o),
                    lasrecord::coordinate(rec, 2, s, o));
            ++returns[rec[14] & returnMask];
        }
        bounds = b;
        byReturn = returns;
        const auto bytes = static_cast<std::size_t>(to - from);
        written += bytes / n;
        out.commit(bytes);
    }
};

}  // namespace

void patchLasOutputHeader(std::vector<std::uint8_t>& header, std::uint64_t pointsWritten,
                          const std::array<std::uint64_t, 15>& pointsByReturn, bool boundsValid,
                          double minX, double maxX, double minY, double maxY, double minZ,
                          double maxZ) {
    const std::size_t bytes = header.size();
    // Fields past the 1.2 header exist only in LAS 1.3 and 1.4 headers; in older files those
    // bytes belong to the VLRs, and a header longer than its version's holds a writer's own
    // bytes there.
    std::size_t publicHeader = 0;
    if (bytes >= las::kHeaderSizeAt + 2)
        publicHeader = static_cast<std::size_t>(header[las::kHeaderSizeAt]) |
                       (static_cast<std::size_t>(header[las::kHeaderSizeAt + 1]) << 8);
    const unsigned major = bytes > las::kVersionMajorAt ? header[las::kVersionMajorAt] : 0;
    const unsigned minor = bytes > las::kVersionMinorAt ? header[las::kVersionMinorAt] : 0;
    const std::size_t versionHeader = major > 1 || (major == 1 && minor >= 4) ? las::kHeaderSize14
                                      : major == 1 && minor == 3              ? las::kHeaderSize13
                                                                              : las::kHeaderSize12;
    const std::size_t extended = std::min({publicHeader, bytes, versionHeader});

    // Point formats 6 to 10 carry zeros there: the legacy fields are for readers that cannot
    // read those formats, and the LAS 1.4 standard requires them zero.
    const unsigned format = bytes > las::kPointFormatAt ? header[las::kPointFormatAt] & 63U : 0;
    const bool legacyFormat = format < 6 || format > 10;
    putU32(header, bytes, las::kLegacyPointCountAt, legacyFormat ? legacyCount(pointsWritten) : 0);
    for (std::size_t i = 0; i < las::kLegacyReturnCounts; ++i)
        putU32(header, bytes, las::kLegacyPointsByReturnAt + 4 * i,
               legacyFormat ? legacyCount(pointsByReturn[i]) : 0);
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
        removeOldRouteOutput(job, words);
        checkRouteTileSize(job, words);
        PendingOutput output = prepareRouteOutput(job, words);

        LasBinaryPointReader reader;
        std::string readError;
        if (!reader.open(job.inputE57Path, &readError))
            failExportRoute("Cannot open LAS input for binary export: " + readError);
        const std::uint64_t total = reader.pointCount();
        const std::size_t recordLength = reader.pointRecordLength();
        // The return number's width grew with the LAS 1.4 point formats.
        const std::uint8_t returnMask = reader.pointFormat() >= 6 ? 0x0F : 0x07;

        std::vector<std::uint8_t> header =
            readHeaderBytes(job.inputE57Path, reader.offsetToPointData());

        OutputFile out;
        openRouteOutput(out, output, "Cannot open output LAS file: ");
        out.write(header.data(), header.size());
        if (!out.good())
            failExportRoute(withSystemReason("Cannot write initial LAS header.", out.reason()));

        const ExportSelectionFilter filter = compileRouteSelection(job, words);
        UnionSelectionTest selection(filter, job.coarseTileSize);
        writeExportStatusFile(statusPath, "Running", "LAS binary export started.");

        RecordCopy copy(reader, returnMask, selection, out);
        RouteProgressCadence progress;
        std::uint64_t read = 0;  // records handed out before the current run
        const std::uint8_t* run = nullptr;
        std::size_t count = 0;
        while (reader.readRecords(run, count, &readError)) {
            for (std::size_t i = 0; i < count;) {
                // A report is due when record `at` has been read, before it is decided.
                const std::uint64_t at = read + i;
                if (progress.due(at + 1)) {
                    writeExportProgressStatus(statusPath, words.progressMethod, at + 1, total,
                                              copy.written, std::string(), 0.0, 99.9);
                    std::cout << "[LAS EXPORT - BINARY]"
                              << " read=" << at + 1 << " / " << total
                              << " | written=" << copy.written << "\n";
                }
                const std::uint64_t untilDue = progress.lastReport + kRouteProgressEvery - 1 - at;
                const std::size_t end =
                    untilDue < count - i ? i + static_cast<std::size_t>(untilDue) : count;
                copy.take(run + i * recordLength, end - i);
                i = end;
            }
            read += count;
        }
        const std::uint64_t written = copy.written;
        const Bounds& bounds = copy.bounds;
        std::array<std::uint64_t, 15> byReturn{};
        for (std::size_t r = 1; r < copy.byReturn.size(); ++r) byReturn[r - 1] = copy.byReturn[r];
        if (!readError.empty()) failExportRoute("LAS binary export read error: " + readError);
        requireRouteOutputPoints(written, words);

        const bool boundsValid = written > 0 && bounds.finite();
        patchLasOutputHeader(header, written, byReturn, boundsValid, bounds.minX, bounds.maxX,
                             bounds.minY, bounds.maxY, bounds.minZ, bounds.maxZ);
        out.writeAt(0, header.data(), header.size());
        if (!out.good())
            failExportRoute(withSystemReason(
                "LAS binary export failed while patching output header.", out.reason()));
        closeRouteOutput(out, output, words);
        reader.close();

        std::cout << "[LAS EXPORT - BINARY] completed"
                  << " | inputPoints=" << total << " | writtenPoints=" << written
                  << " | output=" << job.outputE57Path << "\n";
        const std::uint64_t outsideGrid = selection.outsideGrid();
        if (copy.nonFinite != 0 || outsideGrid != 0)
            std::cout << "[LAS EXPORT - BINARY] skipped_nonfinite_xyz=" << copy.nonFinite
                      << " | outside_tile_grid=" << outsideGrid << "\n";
        return RouteCounts{total, written, true, 0, copy.nonFinite, outsideGrid};
    });
}
