#include "export/e57_native_export.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <E57SimpleWriter.h>

#include "export/e57_output_writer.h"
#include "export/e57_pdal_fallback_export.h"
#include "export/e57_route_support.h"
#include "export/finite_xyz.h"
#include "export/output_naming.h"
#include "export/pending_output.h"
#include "points/input/e57_input_check.h"
#include "points/input/exception_text.h"
#include "points/job/export_status.h"
#include "points/selection/selection.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kProgressMethod = "native libE57 plain export";
constexpr std::uint64_t kProgressEvery = 1000000;

[[noreturn]] void fail(const std::string& message) { throw std::runtime_error(message); }

bool hasCartesian(const e57::PointStandardizedFieldsAvailable& f) {
    return f.cartesianXField && f.cartesianYField && f.cartesianZField;
}
bool hasSpherical(const e57::PointStandardizedFieldsAvailable& f) {
    return f.sphericalRangeField && f.sphericalAzimuthField && f.sphericalElevationField;
}

// Read buffers, allocated once per export and bound per scan to the fields it declares.
struct ReadBlock {
    std::vector<double> x, y, z, intensity;
    std::vector<std::uint16_t> red, green, blue;
    std::vector<std::uint32_t> kept;  // numbers of the block's kept points
    ReadBlock() {
        for (auto* v : {&x, &y, &z, &intensity}) v->resize(kNativeE57ReadBlock);
        for (auto* v : {&red, &green, &blue}) v->resize(kNativeE57ReadBlock);
        kept.resize(kNativeE57ReadBlock);
    }
};

// The kept points of the current block of one scan; the vectors are sized once and filled by
// index, so the hot loop neither allocates nor checks capacity.
struct NativePart {
    std::vector<double> x, y, z, intensity;
    std::vector<std::uint16_t> red, green, blue;
    std::size_t count = 0;
    std::size_t intensityCount = 0;
    double bounds[6];

    NativePart() {
        for (auto* v : {&x, &y, &z, &intensity}) v->resize(kNativeE57PartPoints);
        for (auto* v : {&red, &green, &blue}) v->resize(kNativeE57PartPoints);
        reset();
    }
    void reset() {
        count = 0;
        intensityCount = 0;
        constexpr double kMax = std::numeric_limits<double>::max();
        for (int i = 0; i < 6; i += 2) {
            bounds[i] = kMax;
            bounds[i + 1] = std::numeric_limits<double>::lowest();
        }
    }
};

struct ExportCounters {
    std::uint64_t read = 0;
    std::uint64_t total = 0;
    std::uint64_t writtenPoints = 0;
    std::uint64_t writtenBlocks = 0;
    std::uint64_t skippedScans = 0;
    std::uint64_t skippedScanPoints = 0;
    std::uint64_t nonFinite = 0;
};

// What the whole export shares: the output, the selection, the buffers and the counters.
struct NativeExport {
    e57::Writer& writer;
    const std::string& outputPath;
    bool exportColour;
    std::size_t selectedTiles;
    std::size_t heightRanges;
    const fs::path* statusPath;
    ZDecidesSelectionTest& selection;
    ReadBlock& block;
    NativePart& part;
    ExportCounters counters;
};

// One source scan while its points are exported.
struct NativeScanState {
    NativeExport& route;
    const e57::Data3D& source;
    std::int64_t scanIndex;
    std::uint64_t partNumber = 0;  // blocks written of this scan
    bool hasColour[3];             // red, green, blue
    bool hasIntensity;
};

// A 32-bit intensity node is exact only for values that were 32-bit floats to begin with;
// anything else (doubles, integers above 2^24, scaled integers) is kept as 64-bit.
e57::NumericalNodeType intensityNodeTypeFor(const e57::Data3D& source) {
    return source.pointFields.intensityNodeType == e57::NumericalNodeType::Float
               ? e57::NumericalNodeType::Float
               : e57::NumericalNodeType::Double;
}

// The block header: the source scan's header with this block's guid, count and bounds, and
// point fields from the library's defaults with only what is written turned on.
e57::Data3D prepareBlockHeader(const NativeScanState& s) {
    e57::Data3D h = s.source;
    const NativePart& p = s.route.part;
    h.guid = makePartStem(s.source.guid, s.scanIndex, s.partNumber + 1);
    h.pointCount = p.count;
    setCartesianBounds(h.cartesianBounds, p.bounds);
    h.indexBounds = e57::IndexBounds{};
    h.pointGroupingSchemes = e57::PointGroupingSchemes{};
    h.pointFields = e57::PointStandardizedFieldsAvailable{};
    e57::PointStandardizedFieldsAvailable& f = h.pointFields;
    // The default 32-bit node would round every coordinate to 24 bits (about 6 cm at 600 km).
    f.pointRangeNodeType = e57::NumericalNodeType::Double;
    f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
    const bool colour = s.route.exportColour;
    f.colorRedField = colour && s.hasColour[0];
    f.colorGreenField = colour && s.hasColour[1];
    f.colorBlueField = colour && s.hasColour[2];
    f.intensityField = s.hasIntensity && p.intensityCount == p.count;
    f.intensityNodeType = intensityNodeTypeFor(s.source);
    return h;
}

enum class Attempt { Written, Refused, Failed };

// One rung of the field ladder.
Attempt writeNativeE57Part(NativeScanState& s, const e57::Data3D& prepared, bool wantColour,
                           bool wantIntensity) {
    e57::Data3D h = prepared;
    e57::PointStandardizedFieldsAvailable& f = h.pointFields;
    NativePart& p = s.route.part;
    const bool colour = s.route.exportColour && wantColour;
    f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
    f.colorRedField = colour && s.hasColour[0];
    f.colorGreenField = colour && s.hasColour[1];
    f.colorBlueField = colour && s.hasColour[2];
    f.intensityField = wantIntensity && s.hasIntensity && p.intensityCount == p.count;
    f.timeStampField = f.rowIndexField = f.columnIndexField = false;

    const e57::ColorLimits& c = h.colorLimits;
    if ((f.colorRedField &&
         !colourChannelWritable(c.colorRedMinimum, c.colorRedMaximum, p.red.data(), p.count)) ||
        (f.colorGreenField && !colourChannelWritable(c.colorGreenMinimum, c.colorGreenMaximum,
                                                     p.green.data(), p.count)) ||
        (f.colorBlueField &&
         !colourChannelWritable(c.colorBlueMinimum, c.colorBlueMaximum, p.blue.data(), p.count)) ||
        (f.intensityField && !intensityLimitsWritable(h.intensityLimits)))
        return Attempt::Refused;

    e57::Data3DPointsDouble buffers;
    buffers.cartesianX = p.x.data();
    buffers.cartesianY = p.y.data();
    buffers.cartesianZ = p.z.data();
    if (f.colorRedField) buffers.colorRed = p.red.data();
    if (f.colorGreenField) buffers.colorGreen = p.green.data();
    if (f.colorBlueField) buffers.colorBlue = p.blue.data();
    if (f.intensityField) buffers.intensity = p.intensity.data();
    try {
        s.route.writer.WriteData3DData(h, buffers);
    } catch (const std::exception& e) {
        // The failure report names the ladder, not the cause; this line keeps the cause.
        std::cerr << "[E57 EXPORT] WriteData3DData error | scan=" << s.scanIndex
                  << " | part=" << (s.partNumber + 1) << " | what=" << exceptionText(e) << "\n";
        return Attempt::Failed;
    }
    return Attempt::Written;
}

const char* flag(bool on) { return on ? "1" : "0"; }

void flushNativeE57Part(NativeScanState& s) {
    NativeExport& route = s.route;
    NativePart& p = route.part;
    if (p.count == 0) return;
    const e57::Data3D prepared = prepareBlockHeader(s);

    // Only a rung refused before the call moves on to the next: after a failed call the file
    // already holds that call's broken scan entry, and another attempt would hide it behind a
    // success.
    Attempt result = Attempt::Refused;
    if (route.exportColour) {
        result = writeNativeE57Part(s, prepared, true, true);
        if (result == Attempt::Refused) result = writeNativeE57Part(s, prepared, true, false);
    }
    if (result == Attempt::Refused) result = writeNativeE57Part(s, prepared, false, false);

    if (result != Attempt::Written) {
        const e57::PointStandardizedFieldsAvailable& src = s.source.pointFields;
        const e57::PointStandardizedFieldsAvailable& tried = prepared.pointFields;
        const std::string report =
            "WriteData3DData failed for scan " + std::to_string(s.scanIndex) +
            " | output=" + route.outputPath + " | srcGuid=" + s.source.guid +
            " | part=" + std::to_string(s.partNumber + 1) +
            " | keptPoints=" + std::to_string(p.count) +
            " | sourcePointCount=" + std::to_string(s.source.pointCount) +
            " | selectedTiles=" + std::to_string(route.selectedTiles) +
            " | selectedHeightRanges=" + std::to_string(route.heightRanges) +
            " | sourceFields: cartesian=(" + flag(src.cartesianXField) + "," +
            flag(src.cartesianYField) + "," + flag(src.cartesianZField) + ") rgb=(" +
            flag(src.colorRedField) + "," + flag(src.colorGreenField) + "," +
            flag(src.colorBlueField) + ") intensity=" + flag(src.intensityField) +
            " row=" + flag(src.rowIndexField) + " col=" + flag(src.columnIndexField) +
            " | triedFields: xyz=1 rgb=" +
            flag(tried.colorRedField && tried.colorGreenField && tried.colorBlueField) +
            " intensity=" + flag(tried.intensityField) +
            " time=0 row=0 col=0 | what=E57 exception after fallback ladder";
        if (route.statusPath) writeExportStatusFile(*route.statusPath, "Failed", report);
        fail(report);
    }

    route.counters.writtenPoints += p.count;
    ++route.counters.writtenBlocks;
    ++s.partNumber;
    p.reset();
}

// x, y, z from range, azimuth and elevation as "readers.e57" computes them.
void sphericalToCartesian(const double* r, const double* az, const double* el, std::size_t n,
                          double* x, double* y, double* z) {
    for (std::size_t i = 0; i < n; ++i) {
        const double ce = std::cos(el[i]);
        x[i] = r[i] * ce * std::cos(az[i]);
        y[i] = r[i] * ce * std::sin(az[i]);
        z[i] = r[i] * std::sin(el[i]);
    }
}

struct Pose {
    double m[9];
    double t[3];
    explicit Pose(const e57::RigidBodyTransform& p) {
        // As stored, not normalised.
        const double w = p.rotation.w, a = p.rotation.x, b = p.rotation.y, c = p.rotation.z;
        m[0] = 1 - 2 * (b * b + c * c);
        m[1] = 2 * (a * b - w * c);
        m[2] = 2 * (a * c + w * b);
        m[3] = 2 * (a * b + w * c);
        m[4] = 1 - 2 * (a * a + c * c);
        m[5] = 2 * (b * c - w * a);
        m[6] = 2 * (a * c - w * b);
        m[7] = 2 * (b * c + w * a);
        m[8] = 1 - 2 * (a * a + b * b);
        t[0] = p.translation.x;
        t[1] = p.translation.y;
        t[2] = p.translation.z;
    }
};

// Streams one scan through the selection into blocks; the scan has points and x, y, z, or the
// spherical coordinates they are computed from when convertSpherical.
void exportScan(NativeExport& route, const e57::Reader& reader, std::int64_t scanIndex,
                const e57::Data3D& header, bool convertSpherical) {
    const e57::PointStandardizedFieldsAvailable& f = header.pointFields;
    NativeScanState state{route,
                          header,
                          scanIndex,
                          0,
                          {f.colorRedField, f.colorGreenField, f.colorBlueField},
                          f.intensityField};
    ReadBlock& block = route.block;
    NativePart& part = route.part;
    ExportCounters& counters = route.counters;
    const bool keepRed = route.exportColour && f.colorRedField;
    const bool keepGreen = route.exportColour && f.colorGreenField;
    const bool keepBlue = route.exportColour && f.colorBlueField;
    const bool hasIntensity = f.intensityField;
    // Intensity is written only with colour, but its non-finite values are counted always.
    const bool keepIntensity = route.exportColour && hasIntensity;

    // Time, row and column are never written, so they are not decoded; colour only for export.
    e57::Data3DPointsDouble buffers;
    std::vector<double> range, azimuth, elevation;
    if (convertSpherical) {
        for (auto* v : {&range, &azimuth, &elevation}) v->resize(kNativeE57ReadBlock);
        buffers.sphericalRange = range.data();
        buffers.sphericalAzimuth = azimuth.data();
        buffers.sphericalElevation = elevation.data();
    } else {
        buffers.cartesianX = block.x.data();
        buffers.cartesianY = block.y.data();
        buffers.cartesianZ = block.z.data();
    }
    if (keepRed) buffers.colorRed = block.red.data();
    if (keepGreen) buffers.colorGreen = block.green.data();
    if (keepBlue) buffers.colorBlue = block.blue.data();
    if (hasIntensity) buffers.intensity = block.intensity.data();

    part.reset();
    std::uint64_t nonFiniteXyz = 0;
    std::uint64_t nonFiniteIntensity = 0;
    const Pose pose(header.pose);
    const double* m = pose.m;
    const double* t = pose.t;
    const ZDecidesSelectionTest& selection = route.selection;
    std::uint64_t read = counters.read;
    std::uint64_t nextProgress = (read / kProgressEvery + 1) * kProgressEvery;

    double* px = part.x.data();
    double* py = part.y.data();
    double* pz = part.z.data();
    double* pi = part.intensity.data();
    std::uint16_t* pr = part.red.data();
    std::uint16_t* pg = part.green.data();
    std::uint16_t* pb = part.blue.data();
    std::size_t n = 0;
    std::size_t ni = 0;
    constexpr double kMax = std::numeric_limits<double>::max();
    double xl = kMax, xh = -kMax, yl = kMax, yh = -kMax, zl = kMax, zh = -kMax;
    const auto flush = [&] {
        part.count = n;
        part.intensityCount = ni;
        const double bounds[6] = {xl, xh, yl, yh, zl, zh};
        std::copy(bounds, bounds + 6, part.bounds);
        flushNativeE57Part(state);
        n = ni = 0;
        xl = yl = zl = kMax;
        xh = yh = zh = -kMax;
    };
    // Appends the block's points idx[0, count) to the part, which has room for them.
    const auto append = [&](const std::uint32_t* idx, std::size_t count, const double* bx,
                            const double* by, const double* bz, const double* bi,
                            const std::uint16_t* br, const std::uint16_t* bg,
                            const std::uint16_t* bb) {
        double* ox = px + n;
        double* oy = py + n;
        double* oz = pz + n;
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint32_t i = idx[k];
            const double x = bx[i], y = by[i], z = bz[i];
            ox[k] = x;
            oy[k] = y;
            oz[k] = z;
            xl = std::min(xl, x);
            xh = std::max(xh, x);
            yl = std::min(yl, y);
            yh = std::max(yh, y);
            zl = std::min(zl, z);
            zh = std::max(zh, z);
        }
        if (keepRed)
            for (std::size_t k = 0; k < count; ++k) pr[n + k] = br[idx[k]];
        if (keepGreen)
            for (std::size_t k = 0; k < count; ++k) pg[n + k] = bg[idx[k]];
        if (keepBlue)
            for (std::size_t k = 0; k < count; ++k) pb[n + k] = bb[idx[k]];
        if (hasIntensity) {
            // Only the finite values are packed, so a part holding a NaN has fewer values than
            // points and is written without intensity.
            std::size_t finite = 0;
            if (keepIntensity) {
                double* oi = pi + ni;
                for (std::size_t k = 0; k < count; ++k) {
                    const double v = bi[idx[k]];
                    oi[finite] = v;
                    finite += std::isfinite(v);
                }
            } else {
                for (std::size_t k = 0; k < count; ++k) finite += std::isfinite(bi[idx[k]]);
            }
            ni += finite;
            nonFiniteIntensity += count - finite;
        }
        n += count;
    };

    static_assert(kNativeE57ReadBlock <= kProgressEvery, "at most one progress point per block");
    std::vector<std::uint32_t>& kept = block.kept;
    e57::CompressedVectorReader points =
        reader.SetUpData3DPointsData(scanIndex, kNativeE57ReadBlock, buffers);
    for (;;) {
        const unsigned got = points.read();
        if (got == 0) break;
        if (convertSpherical)
            sphericalToCartesian(range.data(), azimuth.data(), elevation.data(), got,
                                 block.x.data(), block.y.data(), block.z.data());
        const double* bx = block.x.data();
        const double* by = block.y.data();
        const double* bz = block.z.data();

        // First the numbers of the kept points, without a branch on the selection's answer.
        std::uint32_t* idx = kept.data();
        std::size_t keptCount = 0;
        std::uint64_t nonFinite = 0;
        for (unsigned i = 0; i < got; ++i) {
            const double x = bx[i], y = by[i], z = bz[i];
            const double wx = m[0] * x + m[1] * y + m[2] * z + t[0];
            const double wy = m[3] * x + m[4] * y + m[5] * z + t[1];
            const double wz = m[6] * x + m[7] * y + m[8] * z + t[2];
            // A non-finite stored coordinate makes the world one non-finite too.
            const bool finite = finite3(wx, wy, wz);
            nonFinite += !finite;
            idx[keptCount] = i;
            keptCount += finite && selection.accepts(wx, wy, wz);
        }
        nonFiniteXyz += nonFinite;

        // The kept point whose read number is the next multiple of kProgressEvery, if any,
        // reports progress once it is in the part.
        const std::uint64_t blockStart = read;
        read += got;
        std::size_t progressAt = keptCount;  // none
        if (nextProgress <= read) {
            const auto at = static_cast<std::uint32_t>(nextProgress - blockStart - 1);
            const std::uint32_t* found = std::lower_bound(idx, idx + keptCount, at);
            if (found != idx + keptCount && *found == at)
                progressAt = static_cast<std::size_t>(found - idx);
            nextProgress += kProgressEvery;
        }

        // Then the columns gathered, in runs that end where a part is full or progress is due.
        std::size_t done = 0;
        while (done < keptCount) {
            std::size_t end = std::min(keptCount, done + (kNativeE57PartPoints - n));
            const bool progress = progressAt >= done && progressAt < end;
            if (progress) end = progressAt + 1;
            append(idx + done, end - done, bx, by, bz, block.intensity.data(), block.red.data(),
                   block.green.data(), block.blue.data());
            done = end;
            if (n == kNativeE57PartPoints) flush();
            if (progress)
                writeExportKeptProgressStatus(route.statusPath, blockStart + idx[progressAt] + 1,
                                              counters.total, counters.writtenPoints + n,
                                              kProgressMethod, 1);
        }
    }
    counters.read = read;
    counters.nonFinite += nonFiniteXyz;
    points.close();
    flush();
    if (nonFiniteXyz != 0 || nonFiniteIntensity != 0)
        std::cout << "[E57 EXPORT] scan " << scanIndex
                  << " | skipped_nonfinite_xyz=" << nonFiniteXyz
                  << " | skipped_nonfinite_intensity=" << nonFiniteIntensity << "\n";
}

// Closing an output that is about to be removed; its failure changes nothing.
void closeQuietly(E57WriterPtr& writer, e57::Reader& reader) {
    try {
        writer->Close();
    } catch (const std::exception&) {
    }
    writer.reset();
    try {
        reader.Close();
    } catch (const std::exception&) {
    }
}

// The export into output's temporary file, moved onto the output path at the end.
bool writeNativeExport(PendingOutput& output, e57::Reader& reader, const e57::E57Root& root,
                       std::uint64_t total, const std::string& inputPath,
                       const std::string& outputPath, const TileSet& selectedTiles,
                       const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                       std::string* method, const fs::path* statusPath, bool exportColour,
                       std::uint64_t* nonFinitePoints) {
    e57::WriterOptions options;
    options.guid = root.guid;
    options.coordinateMetadata = root.coordinateMetadata;
    E57WriterPtr writer = openE57Writer(output.temporaryPath(), options);

    const std::int64_t scanCount = reader.GetData3DCount();
    if (scanCount < 1) fail("Input E57 contains no Data3D scans.");

    // A file that holds points both in Cartesian and in spherical-only scans would lose the
    // spherical ones here (the fallback runs only when nothing was written, and its stage
    // gives the Cartesian scans of such a file zero coordinates), so those are converted here.
    bool cartesianWithPoints = false;
    bool sphericalWithPoints = false;
    for (std::int64_t s = 0; s < scanCount; ++s) {
        e57::Data3D h;
        try {
            if (!reader.ReadData3D(s, h) || h.pointCount == 0) continue;
        } catch (const std::exception&) {
            continue;  // the scan loop meets it in its turn
        }
        if (hasCartesian(h.pointFields))
            cartesianWithPoints = true;
        else if (hasSpherical(h.pointFields))
            sphericalWithPoints = true;
    }
    const bool convertSpherical = cartesianWithPoints && sphericalWithPoints;

    ZDecidesSelectionTest selection(selectedTiles, heightRanges, tileSize);
    ReadBlock block;
    NativePart part;
    NativeExport route{*writer,
                       outputPath,
                       exportColour,
                       selectedTiles.size(),
                       heightRanges.size(),
                       statusPath,
                       selection,
                       block,
                       part,
                       {}};
    ExportCounters& counters = route.counters;
    counters.total = total;
    for (std::int64_t s = 0; s < scanCount; ++s) {
        e57::Data3D header;
        if (!reader.ReadData3D(s, header)) fail("ReadData3D() failed.");
        if (header.pointCount == 0) continue;
        const bool cartesian = hasCartesian(header.pointFields);
        if (!cartesian && !(convertSpherical && hasSpherical(header.pointFields))) {
            ++counters.skippedScans;
            counters.skippedScanPoints += header.pointCount;
            continue;
        }
        exportScan(route, reader, s, header, !cartesian);
    }

    if (counters.writtenPoints != 0 && counters.writtenBlocks != 0) {
        writer->Close();
        writer.reset();
        reader.Close();
        if (statusPath)
            writeExportStatusFile(*statusPath, "Running",
                                  "Exporting 100.0% | finalizing output file");
        output.publish();
        if (method) *method = "libE57";
        if (nonFinitePoints) *nonFinitePoints = counters.nonFinite;
        return true;
    }

    closeQuietly(writer, reader);
    // The fallback makes the output its own way.
    output.discard();
    if (counters.skippedScans == 0)
        fail(
            "Export selection produced zero output points. Check tile indices / coarse tile size "
            "/ selection mode.");

    if (statusPath)
        writeExportStatusFile(*statusPath, "Running",
                              "libE57 path skipped all scans as non-Cartesian | skippedScans=" +
                                  std::to_string(counters.skippedScans) +
                                  " | skippedPoints=" + std::to_string(counters.skippedScanPoints) +
                                  " | switching to PDAL XYZ fallback");
    std::string fallbackError;
    if (!exportE57PdalXyzFallback(inputPath, outputPath, selectedTiles, heightRanges, tileSize,
                                  &fallbackError, method, statusPath, nonFinitePoints))
        fail(fallbackError.empty() ? std::string("PDAL XYZ fallback export failed.")
                                   : fallbackError);
    if (method) *method = "PDAL XYZ fallback";
    return true;
}

bool runNativeExport(const std::string& inputPath, const std::string& outputPath,
                     const TileSet& selectedTiles,
                     const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                     std::string* method, const fs::path* statusPath, bool exportColour,
                     std::uint64_t* nonFinitePoints) {
    // An input that cannot be read leaves no earlier export's file either.
    removeOldRegularOutputs(inputPath, {outputPath}, kE57OutputWords.prefix);
    requireRegularE57Input(inputPath);
    e57::Reader reader(inputPath, e57::ReaderOptions{});
    e57::E57Root root;
    reader.GetE57Root(root);
    const std::uint64_t total = countE57Points(reader);
    writeExportKeptProgressStatus(statusPath, 0, total, 0, kProgressMethod, 1);

    PendingOutput output(inputPath, outputPath, kE57OutputWords);
    return runForPendingOutput(output, [&] {
        return writeNativeExport(output, reader, root, total, inputPath, outputPath, selectedTiles,
                                 heightRanges, tileSize, method, statusPath, exportColour,
                                 nonFinitePoints);
    });
}

}  // namespace

std::uint64_t countE57Points(const e57::Reader& reader) {
    std::uint64_t total = 0;
    const std::int64_t count = reader.GetData3DCount();
    for (std::int64_t s = 0; s < count; ++s) {
        e57::Data3D h;
        try {
            if (reader.ReadData3D(s, h)) total += h.pointCount;
        } catch (const std::exception&) {
            // a scan whose header cannot be read adds nothing
        }
    }
    return total;
}

bool exportE57Native(const std::string& inputPath, const std::string& outputPath,
                     const TileSet& selectedTiles,
                     const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                     std::string* error, std::string* method,
                     const std::filesystem::path* statusPath, bool exportColour,
                     std::uint64_t* nonFinitePoints) {
    try {
        return runNativeExport(inputPath, outputPath, selectedTiles, heightRanges, tileSize, method,
                               statusPath, exportColour, nonFinitePoints);
    } catch (const std::exception& e) {
        if (error) *error = exceptionText(e);
        return false;
    }
}
