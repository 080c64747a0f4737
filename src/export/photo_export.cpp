#include "export/photo_export.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "export/e57_output_writer.h"
#include "export/e57_route_support.h"
#include "export/output_naming.h"
#include "export/pending_output.h"
#include "points/input/e57_input_check.h"
#include "points/input/exception_text.h"
#include "points/job/export_status.h"
#include "points/selection/selection.h"

namespace {

constexpr std::size_t kReadBlock = 262144;
constexpr std::uint64_t kProgressEvery = 10000000;

// Leaves the elements that resize() adds uninitialised: every one is written right after.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = UninitialisedAllocator<U>;
    };
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};
template <class T>
using Column = std::vector<T, UninitialisedAllocator<T>>;

// The columns of one scan: the kept points of a source scan in its own coordinates, or one
// block of the reader. Cleared between scans but not freed, so a pass needs the largest scan's
// worth of memory as before, without faulting every page in again for every scan.
struct ScanColumns {
    Column<double> x, y, z, intensity, time;
    Column<std::uint16_t> red, green, blue;
    Column<std::int32_t> row, column;

    void clear() {
        for (auto* v : {&x, &y, &z, &intensity, &time}) v->clear();
        for (auto* v : {&red, &green, &blue}) v->clear();
        for (auto* v : {&row, &column}) v->clear();
    }
};
using KeptScan = ScanColumns;

struct PhotoGeometryScanContext {
    const e57::Data3D& prepared;
    const e57::Data3DPointsDouble& buffers;
    const e57::Data3D& source;
    const KeptScan& kept;
    std::string& lastAttempt;
    e57::Writer& writer;
};

const char* flag(bool on) { return on ? "1" : "0"; }

// One rung of the field ladder.
bool writePhotoGeometryScan(PhotoGeometryScanContext& ctx, bool rgb, bool intensity, bool time,
                            bool rowColumn, bool indexBounds, bool grouping) {
    e57::Data3D header = ctx.prepared;
    e57::Data3DPointsDouble buffers = ctx.buffers;
    e57::PointStandardizedFieldsAvailable& f = header.pointFields;
    const e57::PointStandardizedFieldsAvailable& s = ctx.source.pointFields;
    const KeptScan& k = ctx.kept;
    const std::size_t n = k.x.size();
    f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
    f.colorRedField = rgb && s.colorRedField && k.red.size() == n;
    f.colorGreenField = rgb && s.colorGreenField && k.green.size() == n;
    f.colorBlueField = rgb && s.colorBlueField && k.blue.size() == n;
    f.intensityField = intensity && s.intensityField && k.intensity.size() == n;
    f.timeStampField = time && s.timeStampField && k.time.size() == n;
    f.rowIndexField = rowColumn && s.rowIndexField && k.row.size() == n;
    f.columnIndexField = rowColumn && s.columnIndexField && k.column.size() == n;
    if (!f.colorRedField) buffers.colorRed = nullptr;
    if (!f.colorGreenField) buffers.colorGreen = nullptr;
    if (!f.colorBlueField) buffers.colorBlue = nullptr;
    if (!f.intensityField) buffers.intensity = nullptr;
    if (!f.timeStampField) buffers.timeStamp = nullptr;
    if (!f.rowIndexField) buffers.rowIndex = nullptr;
    if (!f.columnIndexField) buffers.columnIndex = nullptr;
    header.indexBounds = indexBounds ? ctx.source.indexBounds : e57::IndexBounds{};
    header.pointGroupingSchemes =
        grouping ? ctx.prepared.pointGroupingSchemes : e57::PointGroupingSchemes{};

    ctx.lastAttempt =
        std::string("rgb=") + flag(f.colorRedField && f.colorGreenField && f.colorBlueField) +
        " | intensity=" + flag(f.intensityField) + " | time=" + flag(f.timeStampField) +
        " | row=" + flag(f.rowIndexField) + " | col=" + flag(f.columnIndexField) +
        " | indexBounds=" + flag(indexBounds) + " | grouping=" + flag(grouping);
    if (!libraryTakesFields(header, buffers)) return false;
    try {
        ctx.writer.WriteData3DData(header, buffers);
        return true;
    } catch (...) {
        return false;
    }
}

struct PassCounters {
    std::uint64_t pointsRead = 0;
    std::uint64_t keptTotal = 0;
    std::uint64_t scansWritten = 0;
    std::uint64_t nonFinite = 0;
};

// Reads scan s whole and keeps its selected points; true when any point was kept.
bool keepScanPoints(const e57::Reader& reader, std::int64_t s, const e57::Data3D& source,
                    ZDecidesSelectionTest& selection, PassCounters& pass,
                    const std::filesystem::path* statusPath, ScanColumns& block, KeptScan& kept,
                    bool& intensityUsable, bool& timeUsable, double (&bounds)[6]) {
    const e57::PointStandardizedFieldsAvailable& f = source.pointFields;
    const bool hasRed = f.colorRedField, hasGreen = f.colorGreenField, hasBlue = f.colorBlueField,
               hasIntensity = f.intensityField, hasTime = f.timeStampField,
               hasRow = f.rowIndexField, hasColumn = f.columnIndexField;

    auto bind = [](bool on, auto& v) {
        if (on && v.size() < kReadBlock) v.resize(kReadBlock);
        return on ? v.data() : nullptr;
    };
    e57::Data3DPointsDouble buffers;
    double* const bx = bind(true, block.x);
    double* const by = bind(true, block.y);
    double* const bz = bind(true, block.z);
    buffers.cartesianX = bx;
    buffers.cartesianY = by;
    buffers.cartesianZ = bz;
    const std::uint16_t* const br = buffers.colorRed = bind(hasRed, block.red);
    const std::uint16_t* const bg = buffers.colorGreen = bind(hasGreen, block.green);
    const std::uint16_t* const bb = buffers.colorBlue = bind(hasBlue, block.blue);
    const double* const bi = buffers.intensity = bind(hasIntensity, block.intensity);
    const double* const bt = buffers.timeStamp = bind(hasTime, block.time);
    const std::int32_t* const brow = buffers.rowIndex = bind(hasRow, block.row);
    const std::int32_t* const bcol = buffers.columnIndex = bind(hasColumn, block.column);

    const std::size_t count = source.pointCount;
    kept.clear();
    kept.x.reserve(count);
    kept.y.reserve(count);
    kept.z.reserve(count);
    if (hasRed) kept.red.reserve(count);
    if (hasGreen) kept.green.reserve(count);
    if (hasBlue) kept.blue.reserve(count);
    if (hasIntensity) kept.intensity.reserve(count);
    if (hasTime) kept.time.reserve(count);
    if (hasRow) kept.row.reserve(count);
    if (hasColumn) kept.column.reserve(count);

    intensityUsable = hasIntensity;
    timeUsable = hasTime;
    std::uint64_t skippedNonfiniteXyz = 0, skippedNonfiniteIntensity = 0;
    constexpr double kMax = std::numeric_limits<double>::max();
    double xmin = kMax, xmax = -kMax, ymin = kMax, ymax = -kMax, zmin = kMax, zmax = -kMax;

    const ScanPoseMatrix pose(source.pose);

    // Per block: first the numbers of the points that pass, then each column gathered by them.
    std::vector<std::uint32_t> keep(kReadBlock);
    std::uint64_t nextProgress = (pass.pointsRead / kProgressEvery + 1) * kProgressEvery;
    e57::CompressedVectorReader points = reader.SetUpData3DPointsData(s, kReadBlock, buffers);
    for (std::size_t n = points.read(); n > 0; n = points.read()) {
        pass.pointsRead += n;
        for (; nextProgress <= pass.pointsRead; nextProgress += kProgressEvery)
            if (statusPath)
                writeExportStatusFile(*statusPath, "Running",
                                      "Photo geometry export: " +
                                          std::to_string(nextProgress / 1000000) + "M pts read");

        std::size_t m = 0;
        std::uint64_t nonfinite = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double x = bx[i], y = by[i], z = bz[i];
            double wx, wy, wz;
            pose.apply(x, y, z, wx, wy, wz);
            // x - x is 0 for a finite x and NaN otherwise; one test covers all six.
            const bool finite =
                (x - x) + (y - y) + (z - z) + (wx - wx) + (wy - wy) + (wz - wz) == 0;
            nonfinite += !finite;
            keep[m] = static_cast<std::uint32_t>(i);
            m += finite && selection.accepts(wx, wy, wz);
        }
        skippedNonfiniteXyz += nonfinite;
        if (m == 0) continue;

        const std::uint32_t* const idx = keep.data();
        const auto gather = [idx, m](auto& column, const auto* from) {
            const std::size_t old = column.size();
            column.resize(old + m);
            auto* out = column.data() + old;
            for (std::size_t k = 0; k < m; ++k) out[k] = from[idx[k]];
            return old;
        };
        // A value that is not finite is left out; its column then no longer matches the
        // points, so the scan is written without that field.
        const auto dropNonfinite = [](auto& column, std::size_t from) {
            const auto first = column.begin() + static_cast<std::ptrdiff_t>(from);
            const auto end =
                std::remove_if(first, column.end(), [](double v) { return !std::isfinite(v); });
            const auto dropped = static_cast<std::uint64_t>(column.end() - end);
            column.erase(end, column.end());
            return dropped;
        };
        const std::size_t from = gather(kept.x, bx);
        gather(kept.y, by);
        gather(kept.z, bz);
        if (hasRed) gather(kept.red, br);
        if (hasGreen) gather(kept.green, bg);
        if (hasBlue) gather(kept.blue, bb);
        if (hasIntensity) {
            const std::size_t at = gather(kept.intensity, bi);
            bool allFinite = true;
            for (std::size_t k = at; k < kept.intensity.size(); ++k)
                allFinite &= std::isfinite(kept.intensity[k]);
            if (!allFinite) [[unlikely]] {
                skippedNonfiniteIntensity += dropNonfinite(kept.intensity, at);
                intensityUsable = false;
            }
        }
        if (hasTime) {
            const std::size_t at = gather(kept.time, bt);
            bool allFinite = true;
            for (std::size_t k = at; k < kept.time.size(); ++k)
                allFinite &= std::isfinite(kept.time[k]);
            if (!allFinite) [[unlikely]] {
                dropNonfinite(kept.time, at);
                timeUsable = false;
            }
        }
        if (hasRow) gather(kept.row, brow);
        if (hasColumn) gather(kept.column, bcol);
        const auto widen = [from](const Column<double>& column, double& lo, double& hi) {
            for (std::size_t k = from; k < column.size(); ++k) {
                const double v = column[k];
                lo = v < lo ? v : lo;
                hi = v > hi ? v : hi;
            }
        };
        widen(kept.x, xmin, xmax);
        widen(kept.y, ymin, ymax);
        widen(kept.z, zmin, zmax);
    }
    points.close();
    pass.nonFinite += skippedNonfiniteXyz;
    if (skippedNonfiniteXyz != 0 || skippedNonfiniteIntensity != 0)
        std::cout << "[E57 EXPORT] scan " << s << " | skipped_nonfinite_xyz=" << skippedNonfiniteXyz
                  << " | skipped_nonfinite_intensity=" << skippedNonfiniteIntensity << "\n";
    bounds[0] = xmin;
    bounds[1] = xmax;
    bounds[2] = ymin;
    bounds[3] = ymax;
    bounds[4] = zmin;
    bounds[5] = zmax;
    return !kept.x.empty();
}

// Writes the kept points of scan s as one output scan, down the ladder until a rung succeeds.
void writeKeptScan(e57::Writer& writer, std::int64_t s, const e57::Data3D& source, KeptScan& kept,
                   bool intensityUsable, bool timeUsable, const double (&bounds)[6]) {
    const e57::PointStandardizedFieldsAvailable& sf = source.pointFields;
    const std::size_t n = kept.x.size();
    e57::Data3D prepared = source;
    prepared.guid = source.guid;
    prepared.pointCount = n;
    setCartesianBounds(prepared.cartesianBounds, bounds);
    prepared.indexBounds = source.indexBounds;
    // A line grouping without group records describes nothing, and the writer refuses it;
    // carried along it would cost the scan its intensity and time on the way down the ladder.
    if (source.pointGroupingSchemes.groupingByLine.groupsSize < 1)
        prepared.pointGroupingSchemes = e57::PointGroupingSchemes{};
    e57::PointStandardizedFieldsAvailable& f = prepared.pointFields;
    f = e57::PointStandardizedFieldsAvailable{};
    // The defaults are 32-bit floats: coordinates would lose centimetres far from the origin
    // and GPS-second time stamps whole seconds.
    f.pointRangeNodeType = e57::NumericalNodeType::Double;
    f.timeNodeType = e57::NumericalNodeType::Double;
    // Intensities that are not 32-bit floats in the source (64-bit, integer or scaled) would
    // be rounded by the default 32-bit node.
    if (sf.intensityNodeType != e57::NumericalNodeType::Float)
        f.intensityNodeType = e57::NumericalNodeType::Double;
    f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
    f.colorRedField = sf.colorRedField && kept.red.size() == n;
    f.colorGreenField = sf.colorGreenField && kept.green.size() == n;
    f.colorBlueField = sf.colorBlueField && kept.blue.size() == n;
    f.intensityField = intensityUsable && sf.intensityField && kept.intensity.size() == n;
    f.timeStampField = timeUsable && sf.timeStampField && kept.time.size() == n;
    f.rowIndexField = sf.rowIndexField && kept.row.size() == n;
    f.columnIndexField = sf.columnIndexField && kept.column.size() == n;

    auto data = [](auto& v) { return v.data(); };
    e57::Data3DPointsDouble buffers;
    buffers.cartesianX = data(kept.x);
    buffers.cartesianY = data(kept.y);
    buffers.cartesianZ = data(kept.z);
    if (f.colorRedField) buffers.colorRed = data(kept.red);
    if (f.colorGreenField) buffers.colorGreen = data(kept.green);
    if (f.colorBlueField) buffers.colorBlue = data(kept.blue);
    if (f.intensityField) buffers.intensity = data(kept.intensity);
    if (f.timeStampField) buffers.timeStamp = data(kept.time);
    if (f.rowIndexField) buffers.rowIndex = data(kept.row);
    if (f.columnIndexField) buffers.columnIndex = data(kept.column);

    std::cout << "[PHOTO GEOMETRY] scan " << s << " | guid=" << prepared.guid
              << " | keptPoints=" << n
              << " | rgb=" << flag(f.colorRedField && f.colorGreenField && f.colorBlueField)
              << " | row=" << flag(f.rowIndexField) << " | col=" << flag(f.columnIndexField)
              << " | intensity=" << flag(f.intensityField) << " | time=" << flag(f.timeStampField)
              << "\n";

    std::string lastAttempt;
    PhotoGeometryScanContext ctx{prepared, buffers, source, kept, lastAttempt, writer};
    static constexpr bool kLadder[7][6] = {
        {true, true, true, true, true, true},       {true, false, true, true, true, true},
        {true, false, false, true, true, true},     {true, false, false, true, true, false},
        {true, false, false, true, false, false},   {true, false, false, false, false, false},
        {false, false, false, false, false, false},
    };
    for (const auto& r : kLadder)
        if (writePhotoGeometryScan(ctx, r[0], r[1], r[2], r[3], r[4], r[5])) return;
    throw std::runtime_error(
        "Photo geometry export failed for scan " + std::to_string(s) + " | guid=" + source.guid +
        " | keptPoints=" + std::to_string(n) + " | structuredRow=" + flag(f.rowIndexField) +
        " | structuredCol=" + flag(f.columnIndexField) + " | lastAttempt={" + lastAttempt + "}");
}

}  // namespace

bool exportPhotoGeometryE57(const std::string& inputPath, const std::string& geometryPath,
                            const TileSet& selectedTiles,
                            const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                            std::vector<ScanGuidPair>* scanGuids, std::string* error,
                            std::string* method, const std::filesystem::path* statusPath,
                            std::uint64_t* nonFinitePoints) {
    try {
        if (scanGuids) scanGuids->clear();
        requireRegularE57Input(inputPath);
        e57::Reader reader(inputPath, e57::ReaderOptions{});
        e57::E57Root root;
        reader.GetE57Root(root);
        E57WriterPtr writer = openE57Writer(geometryPath, writerOptionsFrom(root));
        std::cout << "[PHOTO GEOMETRY] preserving one scan per source scan with structured "
                     "metadata.\n";

        const std::int64_t scanCount = reader.GetData3DCount();
        if (scanCount < 1) throw std::runtime_error("Input E57 contains no Data3D scans.");
        ZDecidesSelectionTest selection(selectedTiles, heightRanges, tileSize);
        PassCounters pass;
        ScanColumns block;
        KeptScan kept;
        for (std::int64_t s = 0; s < scanCount; ++s) {
            e57::Data3D source;
            if (!reader.ReadData3D(s, source))
                throw std::runtime_error("ReadData3D() failed in photo geometry export.");
            const e57::PointStandardizedFieldsAvailable& f = source.pointFields;
            if (source.pointCount == 0 || !f.cartesianXField || !f.cartesianYField ||
                !f.cartesianZField)
                continue;
            bool intensityUsable = false, timeUsable = false;
            double bounds[6];
            if (!keepScanPoints(reader, s, source, selection, pass, statusPath, block, kept,
                                intensityUsable, timeUsable, bounds))
                continue;
            writeKeptScan(*writer, s, source, kept, intensityUsable, timeUsable, bounds);
            if (scanGuids) scanGuids->push_back({source.guid, source.guid});
            pass.keptTotal += kept.x.size();
            pass.scansWritten += 1;
        }
        writer->Close();
        reader.Close();
        if (pass.scansWritten == 0 || pass.keptTotal == 0)
            throw std::runtime_error("Photo geometry export produced zero output points.");
        if (method) *method = "libE57 structured photo geometry";
        if (nonFinitePoints) *nonFinitePoints = pass.nonFinite;
        return true;
    } catch (const std::exception& e) {
        if (error) *error = exceptionText(e);
        return false;
    }
}

bool exportE57WithPhotos(const std::string& inputPath, const std::string& outputPath,
                         const TileSet& selectedTiles,
                         const std::vector<SelectedHeightRange>& heightRanges, double tileSize,
                         std::string* error, std::string* method,
                         const std::filesystem::path* statusPath, std::uint64_t* nonFinitePoints) {
    // Outside the try: a failure removes the geometry file only while this export holds its
    // lock, and asks the output why it failed before removing it.
    std::string geometryPath;
    std::optional<WorkingFileLock> lock;
    std::optional<PendingOutput> output;
    try {
        geometryPath = makeGeometryTempPath(outputPath);
        const std::string withPhotosPath = makeWithPhotosTempPath(outputPath);
        // Nothing is removed or written before each of the route's files is known not to be
        // the input.
        for (const std::string* path : {&std::as_const(geometryPath), &withPhotosPath, &outputPath})
            refuseOutputOnInput(inputPath, *path, kE57OutputWords.prefix);
        createOutputFolder(outputPath, kE57OutputWords);
        // The fixed working names are this export's alone while it runs, so the stale files
        // removed next are no other export's.
        lock.emplace(geometryPath, kE57OutputWords.prefix);
        // The with-photos file is the one moved onto the output.
        output.emplace(inputPath, outputPath, kE57OutputWords, withPhotosPath);
        if (statusPath)
            writeExportStatusFile(
                *statusPath, "Running",
                "Starting geometry export to temporary E57 for photo-preserving output...");

        std::vector<ScanGuidPair> scanGuids;
        std::string geometryMethod;
        if (!exportPhotoGeometryE57(inputPath, geometryPath, selectedTiles, heightRanges, tileSize,
                                    &scanGuids, error, &geometryMethod, statusPath,
                                    nonFinitePoints))
            throw std::runtime_error(
                error && !error->empty() ? *error : "Temporary photo geometry export failed.");
        if (statusPath)
            writeExportStatusFile(
                *statusPath, "Running",
                "Geometry export finished. Rebuilding final E57 with associated photos...");

        if (!mergePhotosIntoFinalE57(inputPath, geometryPath, withPhotosPath, scanGuids, error))
            throw std::runtime_error(error && !error->empty()
                                         ? *error
                                         : "Could not rebuild final E57 with associated photos.");
        output->publish("Could not move final photo-preserving E57 into place: ");
        removeFileQuietly(geometryPath);
        if (method) *method = "libE57 + temp-merge photos";
        return true;
    } catch (const std::exception& e) {
        const std::string reason = output ? output->writeFailureReason() : std::string();
        if (lock) removeFileQuietly(geometryPath);
        output.reset();
        if (error) *error = withSystemReason(exceptionText(e), reason);
        return false;
    }
}
