#include "export/synthetic_las_export.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include "export/finite_xyz.h"
#include "export/output_file.h"
#include "export/route_contract.h"
#include "export/xyz_number_format.h"
#include "points/input/e57_point_stream.h"
#include "points/input/exception_text.h"
#include "points/input/las_header.h"
#include "points/job/export_status.h"
#include "points/input/text_utils.h"
#include "points/input/xyz_ascii_reader.h"

namespace fs = std::filesystem;

// Header and records are assembled with memcpy of native values.
static_assert(std::endian::native == std::endian::little,
              "LAS is little-endian; this writer assumes the host is");

namespace {

constexpr const char* kOnlyE57OrXyz =
    "Synthetic LAS writer supports only E57 and XYZ input. LAS input uses the existing raw LAS "
    "copier.";
constexpr std::uint64_t kMaxLegacyPointCount = 4294967295ULL;
// The coarsest scale written: an extent needing more than this would blur every point of the
// axis, so the export fails instead.
constexpr double kCoarsestLasScale = 0.001;
// 2^43: from here on a double itself steps by more than 0.001, so no measured position lies
// there ("no return" values such as 3.4e38 do); such a point is dropped rather than failing
// the export. Within it any two coordinates differ by a finite amount.
constexpr double kLasCoordinateLimit = 8796093022208.0;
constexpr std::uint16_t kRecordLengthGeometry = 20;
constexpr std::uint16_t kRecordLengthColour = 26;

template <class T>
void put(std::uint8_t* at, T value) {
    std::memcpy(at, &value, sizeof value);
}

std::uint16_t recordLengthFor(bool withRgb) {
    return withRgb ? kRecordLengthColour : kRecordLengthGeometry;
}

// One coordinate as its i32 record value. llround of a value outside the range of long long is
// unspecified, so the range is tested on the quotient itself: exactly the values that round
// (half away from zero) into i32 lie strictly between -2^31 - 0.5 and 2^31 - 0.5. NaN fails too.
bool toRecordInt(double coordinate, double offset, double scale, std::int32_t& out) {
    const double q = (coordinate - offset) / scale;
    if (!(q > -2147483648.5 && q < 2147483647.5)) return false;
    // llround inline (it is a library call): truncate, then step away from zero on a fraction
    // of one half or more; q - t is exact for |q| < 2^31.
    std::int64_t t = static_cast<std::int64_t>(q);
    const double fraction = q - static_cast<double>(t);
    if (fraction >= 0.5)
        ++t;
    else if (fraction <= -0.5)
        --t;
    out = static_cast<std::int32_t>(t);
    return true;
}

std::uint16_t colourTimes257(std::uint16_t v) {
    return static_cast<std::uint16_t>((v < 255 ? v : 255) * 257);
}

// The sink each pass hands its selected points to.
void feedSink(SyntheticLasBounds& bounds, const CloudPoint& p) {
    accumulateSyntheticLasBounds(bounds, p);
}
void feedSink(SyntheticLasRecordWriter& writer, const CloudPoint& p) {
    writeSyntheticLasPoint(writer, p);
}

// The per-point step shared by both input paths and both passes.
template <class Sink>
class SelectedPointStep {
public:
    SelectedPointStep(const ExportJob& job, const ExportSelectionFilter& filter, Sink& sink,
                      const SyntheticLasProgress& progress)
        : sink_(sink),
          selection_(filter, job.coarseTileSize),
          progress_(progress),
          hasProgress_(bool(progress)) {}

    void operator()(const CloudPoint& p) {
        ++read_;
        if (hasProgress_ && read_ % kRouteProgressEvery == 0) progress_(read_);
        if (!finite3(p)) {
            ++nonFinite_;
            return;
        }
        if (!selection_.accepts(p.x, p.y, p.z)) return;
        if (!(std::fabs(p.x) <= kLasCoordinateLimit && std::fabs(p.y) <= kLasCoordinateLimit &&
              std::fabs(p.z) <= kLasCoordinateLimit)) [[unlikely]] {
            ++outsideLasRange_;
            return;
        }
        feedSink(sink_, p);
    }

    void finish() {
        if (hasProgress_) progress_(read_);
    }
    SyntheticLasPassCounts counts() const {
        return {read_, badLines, nonFinite_, selection_.outsideGrid(), outsideLasRange_};
    }
    std::uint64_t badLines = 0;  // set by the XYZ input at its end

private:
    Sink& sink_;
    UnionSelectionTest selection_;
    const SyntheticLasProgress& progress_;
    bool hasProgress_;
    std::uint64_t read_ = 0;
    std::uint64_t nonFinite_ = 0;
    std::uint64_t outsideLasRange_ = 0;
};

template <class Sink>
void streamXyz(const std::string& path, SelectedPointStep<Sink>& step) {
    XyzAsciiPointReader reader(1.0);
    std::string readError;
    if (!reader.open(path, &readError))
        throw std::runtime_error("Cannot open XYZ input for synthetic LAS export: " + readError);
    CloudPoint p;
    while (reader.readNext(p, &readError)) step(p);
    step.badLines = reader.badLines();
    reader.close();
    if (!readError.empty())
        throw std::runtime_error("XYZ read error during synthetic LAS export: " + readError);
}

template <class Sink>
void streamE57(const std::string& path, SelectedPointStep<Sink>& step) {
    bool hasColour = false;
    const bool streamed = streamE57File(path, hasColour, [&](pdal::PointRef& ref) {
        step(cloudPointFromStream(ref, hasColour, ColourReadErrors::LeaveWithoutColour));
        return true;
    });
    if (!streamed)
        throw std::runtime_error(
            "Could not create PDAL readers.e57 stage for synthetic LAS export.");
}

template <class Sink>
bool streamSelectedPointsTo(const ExportJob& job, const ExportSelectionFilter& filter, Sink& sink,
                            SyntheticLasPassCounts* counts, std::string* error,
                            const SyntheticLasProgress& progress) {
    try {
        SelectedPointStep<Sink> step(job, filter, sink, progress);
        const std::string& path = job.inputE57Path;
        if (hasXyzExtension(path))
            streamXyz(path, step);
        else if (hasE57Extension(path))
            streamE57(path, step);
        else
            throw std::runtime_error(kOnlyE57OrXyz);
        step.finish();
        if (counts) *counts = step.counts();
        return true;
    } catch (const std::exception& e) {
        if (error) *error = exceptionText(e);
        return false;
    }
}

std::string formatted(double v) {
    char buf[32];
    return std::string(buf, formatDouble10g(buf, v));
}

// Fails when the axis' extent needs a scale coarser than kCoarsestLasScale.
void requireFineLasScale(const char* axis, double min, double max, double scale) {
    if (scale <= kCoarsestLasScale) return;
    failExportRoute(std::string(kSyntheticLasWords.prefix) + " failed: the selected points' " +
                    axis + " extent, " + formatted(min) + " to " + formatted(max) +
                    ", needs a LAS scale of " + formatted(scale) + "; the coarsest it writes is " +
                    formatted(kCoarsestLasScale) + ".");
}

void reportSyntheticLasPass1Progress(const fs::path& statusPath, const ExportJob& job,
                                     const SyntheticLasBounds& bounds, std::uint64_t read) {
    writeExportProgressStatus(statusPath, "Synthetic LAS export", read, job.inputTotalPoints,
                              bounds.selectedPoints, "pass 1/2 scanning bounds", 0.0, 50.0);
}

}  // namespace

bool streamSelectedPoints(const ExportJob& job, const ExportSelectionFilter& filter,
                          SyntheticLasBounds& sink, SyntheticLasPassCounts* counts,
                          std::string* error, const SyntheticLasProgress& progress) {
    return streamSelectedPointsTo(job, filter, sink, counts, error, progress);
}

bool streamSelectedPoints(const ExportJob& job, const ExportSelectionFilter& filter,
                          SyntheticLasRecordWriter& sink, SyntheticLasPassCounts* counts,
                          std::string* error, const SyntheticLasProgress& progress) {
    return streamSelectedPointsTo(job, filter, sink, counts, error, progress);
}

double lasScaleForExtent(double min, double max) {
    const double d = max - min;
    if (!std::isfinite(d) || d <= 0.0) return 0.000001;
    const double scale = d / 2140000000.0 * 1.01;
    return scale > 0.000001 ? scale : 0.000001;
}

std::array<std::uint8_t, kSyntheticLasHeaderSize> buildSyntheticLasHeader(
    std::uint64_t count, bool withRgb, double scaleX, double scaleY, double scaleZ, double offsetX,
    double offsetY, double offsetZ, double minX, double maxX, double minY, double maxY, double minZ,
    double maxZ) {
    if (count > kMaxLegacyPointCount)
        throw std::runtime_error(
            "Synthetic LAS 1.2 writer cannot write more than 4,294,967,295 points. LAS 1.4 "
            "extended count writer is "
            "planned later.");
    std::array<std::uint8_t, kSyntheticLasHeaderSize> h{};
    std::uint8_t* b = h.data();
    std::memcpy(b, "LASF", 4);
    b[las::kVersionMajorAt] = 1;
    b[las::kVersionMinorAt] = 2;
    std::memcpy(b + las::kSystemIdentifierAt, "Brindlewick", 11);
    std::memcpy(b + las::kGeneratingSoftwareAt, "Brindlewick synthetic LAS", 25);
    put<std::uint16_t>(b + las::kHeaderSizeAt, static_cast<std::uint16_t>(kSyntheticLasHeaderSize));
    put<std::uint32_t>(b + las::kOffsetToPointDataAt,
                       static_cast<std::uint32_t>(kSyntheticLasHeaderSize));
    put<std::uint32_t>(b + las::kVlrCountAt, 0);
    b[las::kPointFormatAt] = withRgb ? 2 : 0;
    put<std::uint16_t>(b + las::kPointRecordLengthAt, recordLengthFor(withRgb));
    put<std::uint32_t>(b + las::kLegacyPointCountAt, static_cast<std::uint32_t>(count));
    put<std::uint32_t>(b + las::kLegacyPointsByReturnAt, static_cast<std::uint32_t>(count));
    // Scale, offset and bounds follow each other from the scale on.
    const double tail[] = {scaleX, scaleY, scaleZ, offsetX, offsetY, offsetZ,
                           maxX,   minX,   maxY,   minY,    maxZ,    minZ};
    for (std::size_t i = 0; i < std::size(tail); ++i)
        put<double>(b + las::kScaleAt + 8 * i, tail[i]);
    return h;
}

void writeLasPointRecord(OutputFile& out, const CloudPoint& point, bool withRgb, double scaleX,
                         double scaleY, double scaleZ, double offsetX, double offsetY,
                         double offsetZ) {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t z = 0;
    if (!toRecordInt(point.x, offsetX, scaleX, x) || !toRecordInt(point.y, offsetY, scaleY, y) ||
        !toRecordInt(point.z, offsetZ, scaleZ, z))
        throw std::runtime_error(
            "Synthetic LAS coordinate is outside int32 range. A larger LAS scale is needed.");
    std::uint8_t rec[kRecordLengthColour] = {};
    put<std::int32_t>(rec + 0, x);
    put<std::int32_t>(rec + 4, y);
    put<std::int32_t>(rec + 8, z);
    rec[14] = 9;  // return 1 of 1
    if (withRgb) {
        put<std::uint16_t>(rec + 20, colourTimes257(point.red));
        put<std::uint16_t>(rec + 22, colourTimes257(point.green));
        put<std::uint16_t>(rec + 24, colourTimes257(point.blue));
    }
    out.write(rec, recordLengthFor(withRgb));
}

void accumulateSyntheticLasBounds(SyntheticLasBounds& b, const CloudPoint& p) {
    if (!b.hasBounds) {
        b.minX = b.maxX = p.x;
        b.minY = b.maxY = p.y;
        b.minZ = b.maxZ = p.z;
        b.hasBounds = true;
    } else {
        if (p.x < b.minX) b.minX = p.x;
        if (p.x > b.maxX) b.maxX = p.x;
        if (p.y < b.minY) b.minY = p.y;
        if (p.y > b.maxY) b.maxY = p.y;
        if (p.z < b.minZ) b.minZ = p.z;
        if (p.z > b.maxZ) b.maxZ = p.z;
    }
    if (p.hasRGB) b.anyRgb = true;
    ++b.selectedPoints;
}

void writeSyntheticLasPoint(SyntheticLasRecordWriter& w, const CloudPoint& point) {
    CloudPoint copy = point;
    if (w.withRgb && !copy.hasRGB) copy.red = copy.green = copy.blue = 0;
    writeLasPointRecord(w.out, copy, w.withRgb, w.scaleX, w.scaleY, w.scaleZ, w.offsetX, w.offsetY,
                        w.offsetZ);
    // A full disk ends the pass at once instead of streaming the rest of the source for nothing.
    if (!w.out.good()) checkRouteOutput(w.out, kSyntheticLasWords);
    ++w.written;
    if (w.written >= w.lastProgress + kRouteProgressEvery) {
        w.lastProgress = w.written;
        writeExportProgressStatus(w.statusPath, "Synthetic LAS export", w.written, w.expected,
                                  w.written, "pass 2/2 writing LAS records", 50.0, 99.9);
    }
}

bool exportSyntheticLas(const ExportJob& job, const std::string& statusPath, ExportResult* result,
                        std::string* error) {
    return runExportRoute(job, result, error, [&] {
        const ExportRouteWords& words = kSyntheticLasWords;
        const fs::path status(statusPath);
        removeOldRouteOutput(job, words);
        checkRouteTileSize(job, words);
        requireE57OrXyzInput(job, words);
        const ExportSelectionFilter filter = compileRouteSelection(job, words);
        PendingOutput output = prepareRouteOutput(job, words);
        writeExportStatusFile(
            status, "Running",
            "Synthetic LAS export pass 1/2: scanning selected points and bounds...");

        SyntheticLasBounds bounds;
        SyntheticLasPassCounts pass1;
        std::string passError;
        const SyntheticLasProgress pass1Progress = [&status, &job, &bounds](std::uint64_t read) {
            reportSyntheticLasPass1Progress(status, job, bounds, read);
        };
        if (!streamSelectedPoints(job, filter, bounds, &pass1, &passError, pass1Progress))
            failExportRoute(passError.empty() ? "Synthetic LAS pass 1 failed." : passError);
        if (bounds.selectedPoints == 0)
            failExportRoute("Synthetic LAS export produced zero selected points.");

        const bool withRgb = job.exportRGB && bounds.anyRgb;
        const double scaleX = lasScaleForExtent(bounds.minX, bounds.maxX);
        const double scaleY = lasScaleForExtent(bounds.minY, bounds.maxY);
        const double scaleZ = lasScaleForExtent(bounds.minZ, bounds.maxZ);
        requireFineLasScale("X", bounds.minX, bounds.maxX, scaleX);
        requireFineLasScale("Y", bounds.minY, bounds.maxY, scaleY);
        requireFineLasScale("Z", bounds.minZ, bounds.maxZ, scaleZ);
        const double spanX = bounds.maxX - bounds.minX;
        const double spanY = bounds.maxY - bounds.minY;
        const double spanZ = bounds.maxZ - bounds.minZ;
        std::cout << "[SYNTHETIC LAS EXPORT] bounds and scale"
                  << " | spanX=" << spanX << " | spanY=" << spanY << " | spanZ=" << spanZ
                  << " | scaleX=" << scaleX << " | scaleY=" << scaleY << " | scaleZ=" << scaleZ
                  << " | rawSpanX=" << spanX / scaleX << " | rawSpanY=" << spanY / scaleY
                  << " | rawSpanZ=" << spanZ / scaleZ << "\n";

        const auto header =
            buildSyntheticLasHeader(bounds.selectedPoints, withRgb, scaleX, scaleY, scaleZ,
                                    bounds.minX, bounds.minY, bounds.minZ, bounds.minX, bounds.maxX,
                                    bounds.minY, bounds.maxY, bounds.minZ, bounds.maxZ);
        OutputFile out;
        openRouteOutput(out, output, "Cannot open output synthetic LAS file: ");
        out.write(header.data(), header.size());
        if (!out.good())
            failExportRoute(withSystemReason("Synthetic LAS export failed while writing header.",
                                             out.reason()));

        writeExportStatusFile(status, "Running",
                              "Synthetic LAS export pass 2/2: writing LAS records...");
        std::uint64_t written = 0;
        std::uint64_t lastProgress = 0;
        SyntheticLasRecordWriter writer{withRgb, out,          scaleX,      scaleY,
                                        scaleZ,  bounds.minX,  bounds.minY, bounds.minZ,
                                        written, lastProgress, status,      bounds.selectedPoints};
        passError.clear();
        if (!streamSelectedPoints(job, filter, writer, nullptr, &passError, SyntheticLasProgress{}))
            failExportRoute(passError.empty() ? "Synthetic LAS pass 2 failed." : passError);
        if (written != bounds.selectedPoints)
            failExportRoute("Synthetic LAS export point count mismatch: expected " +
                            std::to_string(bounds.selectedPoints) + ", written " +
                            std::to_string(written));
        closeRouteOutput(out, output, words);

        const std::uint16_t recordLength = recordLengthFor(withRgb);
        std::error_code ec;
        const std::uintmax_t actualBytes = fs::file_size(fs::path(job.outputE57Path), ec);
        if (!ec)
            std::cout << "[SYNTHETIC LAS EXPORT] file size check"
                      << " | expectedBytes=" << kSyntheticLasHeaderSize + recordLength * written
                      << " | actualBytes=" << actualBytes << " | recordLength=" << recordLength
                      << "\n";
        std::cout << "[SYNTHETIC LAS EXPORT] completed"
                  << " | input=" << job.inputE57Path << " | output=" << job.outputE57Path
                  << " | selectedPoints=" << written << " | pointFormat=" << (withRgb ? 2 : 0)
                  << " | rgb=" << (withRgb ? 1 : 0) << " | scale=(" << scaleX << "," << scaleY
                  << "," << scaleZ << ")\n";
        if (pass1.badLines != 0 || pass1.nonFinitePoints != 0 || pass1.outsideGridPoints != 0 ||
            pass1.outsideLasRangePoints != 0)
            std::cout << "[SYNTHETIC LAS EXPORT] left out | badLines=" << pass1.badLines
                      << " | skipped_nonfinite_xyz=" << pass1.nonFinitePoints
                      << " | outside_tile_grid=" << pass1.outsideGridPoints
                      << " | outside_las_range=" << pass1.outsideLasRangePoints << "\n";
        return RouteCounts{pass1.pointsRead,
                           written,
                           true,
                           pass1.badLines,
                           pass1.nonFinitePoints,
                           pass1.outsideGridPoints,
                           pass1.outsideLasRangePoints};
    });
}
