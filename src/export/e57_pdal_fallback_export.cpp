#include "export/e57_pdal_fallback_export.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <iostream>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <E57SimpleReader.h>
#include <E57SimpleWriter.h>

#include "export/e57_native_export.h"
#include "export/e57_output_writer.h"
#include "export/finite_xyz.h"
#include "export/output_naming.h"
#include "export/pending_output.h"
#include "export/e57_route_support.h"
#include "points/input/e57_point_stream.h"
#include "points/input/e57_input_check.h"
#include "points/input/exception_text.h"
#include "points/job/export_status.h"
#include "points/selection/selection.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kProgressEvery = 10000000;
constexpr std::uint64_t kMillion = 1000000;

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message); }

// The route's state, shared with the stream's batch callback.
struct PdalFallbackState {
    std::uint64_t read = 0;
    std::uint64_t total = 0;
    std::uint64_t kept = 0;
    std::uint64_t nonFinite = 0;
    std::uint64_t writtenBlocks = 0;
    std::vector<double> x, y, z;           // sized once, filled by index
    std::vector<std::uint32_t> keptIndex;  // numbers of a slice's kept points
    std::size_t count = 0;
    double bounds[6];
    e57::E57Root root;
    e57::Writer* writer = nullptr;
    std::string outputPath;
    const TileSet* selectedTiles = nullptr;
    const std::vector<SelectedHeightRange>* heightRanges = nullptr;
    ZDecidesSelectionTest* selection = nullptr;
    const fs::path* statusPath = nullptr;

    void resetPart() {
        count = 0;
        constexpr double kMax = std::numeric_limits<double>::max();
        for (int i = 0; i < 6; i += 2) {
            bounds[i] = kMax;
            bounds[i + 1] = std::numeric_limits<double>::lowest();
        }
    }
};

void flushPdalStreamPart(PdalFallbackState& s, bool final) {
    const std::size_t n = s.count;
    if (n == 0) return;
    e57::Data3D h;
    h.guid = makePartStem(s.root.guid, 0, s.writtenBlocks + 1);
    h.pointCount = n;
    setCartesianBounds(h.cartesianBounds, s.bounds);
    h.pose = e57::RigidBodyTransform::identity();
    h.pointFields.cartesianXField = h.pointFields.cartesianYField = h.pointFields.cartesianZField =
        true;
    // The default 32-bit node would round world coordinates to 24 bits.
    h.pointFields.pointRangeNodeType = e57::NumericalNodeType::Double;

    std::cout << "[E57 PDAL STREAM] part=" << (s.writtenBlocks + 1) << " | kept=" << n
              << " | xyz=1 | rgb=0 | intensity=0 | final=" << (final ? 1 : 0) << "\n";
    e57::Data3DPointsDouble buffers;
    buffers.cartesianX = s.x.data();
    buffers.cartesianY = s.y.data();
    buffers.cartesianZ = s.z.data();
    try {
        s.writer->WriteData3DData(h, buffers);
    } catch (const std::exception& e) {
        std::ostringstream report;
        report << "PDAL streaming WriteData3DData failed | output=" << s.outputPath
               << " | part=" << (s.writtenBlocks + 1) << " | keptPoints=" << n
               << " | totalRead=" << s.read << " | totalKept=" << s.kept
               << " | selectedTiles=" << s.selectedTiles->size()
               << " | selectedHeightRanges=" << s.heightRanges->size()
               << " | xyz=1 rgb=0 intensity=0 | bounds.min=(" << s.bounds[0] << "," << s.bounds[2]
               << "," << s.bounds[4] << ") | bounds.max=(" << s.bounds[1] << "," << s.bounds[3]
               << "," << s.bounds[5] << ") | what=" << exceptionText(e);
        if (s.statusPath) writeExportStatusFile(*s.statusPath, "Failed", report.str());
        fail(report.str());
    }
    ++s.writtenBlocks;
    s.resetPart();
}

void reportPdalProgress(const PdalFallbackState& s) {
    std::cout << "[E57 PDAL STREAM] read=" << s.read << " | kept=" << s.kept
              << " | partsWritten=" << s.writtenBlocks << "\n";
    if (s.statusPath)
        writeExportStatusFile(
            *s.statusPath, "Running",
            pdalFallbackProgressSentence(s.read, s.total, s.kept, s.writtenBlocks));
}

// Points per selection pass; small enough that a slice meets at most one progress point.
constexpr std::size_t kFallbackSlice = 65536;
static_assert(kFallbackSlice <= kProgressEvery);

// One slice of delivered points, in stream order; never ends the stream. The selection first
// numbers the kept points without a branch on its answer, then the coordinates are gathered in
// runs that end where a part is full or progress is due.
void exportPdalStreamSlice(PdalFallbackState& s, const double* x, const double* y, const double* z,
                           std::size_t n) {
    const ZDecidesSelectionTest& selection = *s.selection;
    std::uint32_t* idx = s.keptIndex.data();
    std::size_t keptCount = 0;
    std::uint64_t nonFinite = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const bool finite = finite3(x[i], y[i], z[i]);
        nonFinite += !finite;
        idx[keptCount] = static_cast<std::uint32_t>(i);
        keptCount += finite && selection.accepts(x[i], y[i], z[i]);
    }
    s.nonFinite += nonFinite;

    // A multiple of the cadence reached at a dropped point reports nothing.
    const std::uint64_t sliceStart = s.read;
    const std::uint64_t nextProgress = (sliceStart / kProgressEvery + 1) * kProgressEvery;
    std::size_t progressAt = keptCount;  // none
    if (nextProgress <= sliceStart + n) {
        const auto at = static_cast<std::uint32_t>(nextProgress - sliceStart - 1);
        const std::uint32_t* found = std::lower_bound(idx, idx + keptCount, at);
        if (found != idx + keptCount && *found == at)
            progressAt = static_cast<std::size_t>(found - idx);
    }

    double xl = s.bounds[0], xh = s.bounds[1], yl = s.bounds[2], yh = s.bounds[3], zl = s.bounds[4],
           zh = s.bounds[5];
    std::size_t done = 0;
    while (done < keptCount) {
        std::size_t end = std::min(keptCount, done + (kPdalFallbackPartPoints - s.count));
        const bool progress = progressAt >= done && progressAt < end;
        if (progress) end = progressAt + 1;
        double* ox = s.x.data() + s.count;
        double* oy = s.y.data() + s.count;
        double* oz = s.z.data() + s.count;
        for (std::size_t k = done; k < end; ++k) {
            const std::uint32_t i = idx[k];
            const double px = x[i], py = y[i], pz = z[i];
            *ox++ = px;
            *oy++ = py;
            *oz++ = pz;
            xl = std::min(xl, px);
            xh = std::max(xh, px);
            yl = std::min(yl, py);
            yh = std::max(yh, py);
            zl = std::min(zl, pz);
            zh = std::max(zh, pz);
        }
        s.count += end - done;
        s.kept += end - done;
        done = end;
        // The counters as they stood at the run's last point, for the flush and the report.
        s.read = sliceStart + idx[end - 1] + 1;
        const double b[6] = {xl, xh, yl, yh, zl, zh};
        std::copy(b, b + 6, s.bounds);
        // A part filled at the multiple itself is written before that report.
        if (s.count == kPdalFallbackPartPoints) {
            flushPdalStreamPart(s, false);
            xl = s.bounds[0], xh = s.bounds[1], yl = s.bounds[2], yh = s.bounds[3];
            zl = s.bounds[4], zh = s.bounds[5];
        }
        if (progress) reportPdalProgress(s);
    }
    s.read = sliceStart + n;
}

// The stream hands over its points a chunk at a time, in stream order.
void pdalFallbackPointCallback(PdalFallbackState& s, const double* x, const double* y,
                               const double* z, std::size_t n) {
    for (std::size_t first = 0; first < n; first += kFallbackSlice)
        exportPdalStreamSlice(s, x + first, y + first, z + first,
                              std::min(kFallbackSlice, n - first));
}

// The export into output's temporary file, moved onto the output path at the end.
bool writeFallback(PendingOutput& output, PdalFallbackState& s, const std::string& inputPath,
                   const std::string& outputPath, const TileSet& selectedTiles,
                   const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                   const fs::path* statusPath) {
    e57::WriterOptions options;
    options.guid = s.root.guid;
    options.coordinateMetadata = s.root.coordinateMetadata;
    E57WriterPtr writer = openE57Writer(output.temporaryPath(), options);

    if (statusPath) {
        std::ostringstream message;
        message << "Starting PDAL XYZ fallback export | input=" << inputPath
                << " | output=" << outputPath << " | selectedTiles=" << selectedTiles.size()
                << " | selectedHeightRanges=" << heightRanges.size()
                << " | coarseTileSize=" << tileSize;
        writeExportStatusFile(*statusPath, "Running", message.str());
    }

    for (auto* v : {&s.x, &s.y, &s.z}) v->resize(kPdalFallbackPartPoints);
    s.keptIndex.resize(kFallbackSlice);
    s.resetPart();
    ZDecidesSelectionTest selection(selectedTiles, heightRanges, tileSize);
    s.writer = writer.get();
    s.outputPath = outputPath;
    s.selectedTiles = &selectedTiles;
    s.heightRanges = &heightRanges;
    s.selection = &selection;
    s.statusPath = statusPath;

    const bool streamed = streamE57FileInBatches(
        inputPath,
        [&s](const double* x, const double* y, const double* z, std::size_t n) {
            pdalFallbackPointCallback(s, x, y, z, n);
        },
        kPdalFallbackTablePoints);
    if (!streamed) fail("PDAL readers.e57 is not available for streaming fallback export.");

    flushPdalStreamPart(s, true);
    if (s.nonFinite != 0)
        std::cout << "[E57 PDAL STREAM] skipped_nonfinite_xyz=" << s.nonFinite << "\n";
    if (s.kept != 0 && s.writtenBlocks != 0) {
        std::cout << "[E57 PDAL STREAM] completed | read=" << s.read << " | kept=" << s.kept
                  << " | partsWritten=" << s.writtenBlocks << "\n";
        writer->Close();
        output.publish();
        return true;
    }
    try {
        writer->Close();  // the file is removed, so its close cannot matter
    } catch (const std::exception&) {
    }
    fail(
        "PDAL streaming fallback produced zero output points. Check tile indices / coarse tile "
        "size / selection mode.");
}

bool runFallback(const std::string& inputPath, const std::string& outputPath,
                 const TileSet& selectedTiles, const std::vector<SelectedHeightRange>& heightRanges,
                 double tileSize, const fs::path* statusPath, std::uint64_t* nonFinitePoints) {
    // An input that cannot be read leaves no earlier export's file either.
    removeOldRegularOutputs(inputPath, {outputPath}, kE57OutputWords.prefix);
    PdalFallbackState s;
    {
        requireRegularE57Input(inputPath);
        e57::Reader reader(inputPath, e57::ReaderOptions{});
        reader.GetE57Root(s.root);
        s.total = countE57Points(reader);
        reader.Close();
    }

    // The stage reads the input after the output is begun.
    PendingOutput output(inputPath, outputPath, kE57OutputWords);
    const bool written = runForPendingOutput(output, [&] {
        return writeFallback(output, s, inputPath, outputPath, selectedTiles, heightRanges,
                             tileSize, statusPath);
    });
    if (written && nonFinitePoints) *nonFinitePoints = s.nonFinite;
    return written;
}

}  // namespace

std::string pdalFallbackProgressSentence(std::uint64_t read, std::uint64_t total,
                                         std::uint64_t kept, std::uint64_t parts) {
    double percent = 0.0;
    if (total != 0) {
        percent = static_cast<double>(read) * 100.0 / static_cast<double>(total);
        if (percent > 99.9) percent = 99.9;
        if (percent < 0.0) percent = 0.0;
    }
    char digits[64];
    const auto end =
        std::to_chars(digits, digits + sizeof digits, percent, std::chars_format::fixed, 1).ptr;
    return "Exporting " + std::string(digits, end) + "% | read=" + std::to_string(read / kMillion) +
           "M / " + std::to_string(total / kMillion) +
           "M | kept=" + std::to_string(kept / kMillion) + "M | parts=" + std::to_string(parts) +
           " | method=PDAL XYZ fallback";
}

bool exportE57PdalXyzFallback(const std::string& inputPath, const std::string& outputPath,
                              const TileSet& selectedTiles,
                              const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                              std::string* error, std::string* /*method*/,
                              const std::filesystem::path* statusPath,
                              std::uint64_t* nonFinitePoints) {
    try {
        return runFallback(inputPath, outputPath, selectedTiles, heightRanges, tileSize, statusPath,
                           nonFinitePoints);
    } catch (const std::exception& e) {
        if (error) *error = exceptionText(e);
        return false;
    }
}
