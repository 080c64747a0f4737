#include "export/photo_split_export.h"

#include <cmath>
#include <exception>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include <E57SimpleReader.h>

#include "export/e57_output_writer.h"
#include "export/e57_route_support.h"
#include "export/finite_xyz.h"
#include "export/output_naming.h"
#include "export/pending_output.h"
#include "export/photo_merge.h"
#include "export/split_export.h"
#include "points/input/e57_input_check.h"
#include "points/input/exception_text.h"
#include "points/selection/selection.h"

namespace {

constexpr std::size_t kReadBlock = 262144;
constexpr std::uint64_t kProgressEvery = 10000000;
constexpr std::size_t kAccumulatorStart = 1024;

struct PhotoSplitOutput {
    std::string label;
    std::string finalPath;
    std::string geometryTempPath;
    std::string withPhotosTempPath;
    TileSet tiles;
    std::vector<SelectedHeightRange> heightRanges;
    E57WriterPtr writer;
    std::vector<ScanGuidPair> scanGuids;
    std::uint64_t keptPoints = 0;
    std::uint64_t scansWritten = 0;
};

// The kept points of the current source scan for one output, in the scan's own coordinates.
struct ScanAccumulator {
    std::vector<double> x, y, z, intensity;
    std::vector<std::uint16_t> red, green, blue;
    double bounds[6];  // xMin, xMax, yMin, yMax, zMin, zMax

    explicit ScanAccumulator(const e57::PointStandardizedFieldsAvailable& f) {
        constexpr double kMax = std::numeric_limits<double>::max();
        for (int i = 0; i < 6; i += 2) bounds[i] = kMax, bounds[i + 1] = -kMax;
        for (std::vector<double>* v : {&x, &y, &z}) v->reserve(kAccumulatorStart);
        if (f.colorRedField) red.reserve(kAccumulatorStart);
        if (f.colorGreenField) green.reserve(kAccumulatorStart);
        if (f.colorBlueField) blue.reserve(kAccumulatorStart);
        if (f.intensityField) intensity.reserve(kAccumulatorStart);
    }
};

void removeTemporaries(const PhotoSplitOutput& out) {
    removeFileQuietly(out.geometryTempPath);
    removeFileQuietly(out.withPhotosTempPath);
}

struct PhotoSplitScanWrite {
    const e57::Data3D& prepared;
    ScanAccumulator& points;
    bool intensityUsable;
    PhotoSplitOutput& output;
};

// One attempt of the write ladder on a copy of the prepared header.
bool writePhotoSplitScan(PhotoSplitScanWrite& ctx, bool wantColour, bool wantIntensity) {
    e57::Data3D header = ctx.prepared;
    e57::PointStandardizedFieldsAvailable& f = header.pointFields;
    f.colorRedField = wantColour && ctx.prepared.pointFields.colorRedField;
    f.colorGreenField = wantColour && ctx.prepared.pointFields.colorGreenField;
    f.colorBlueField = wantColour && ctx.prepared.pointFields.colorBlueField;
    f.intensityField = wantIntensity && ctx.intensityUsable;
    ScanAccumulator& p = ctx.points;
    const e57::Data3DPointsDouble buffers =
        bindPointColumns(f, p.x, p.y, p.z, p.red, p.green, p.blue, p.intensity);
    if (!libraryTakesFields(header, buffers)) return false;
    try {
        ctx.output.writer->WriteData3DData(header, buffers);
        return true;
    } catch (...) {
        return false;
    }
}

// Writes one output's kept points of source scan s as one scan under the source's header and
// guid; throws when not even the coordinates alone can be written.
void writeOutputScan(PhotoSplitOutput& out, ScanAccumulator& acc, const e57::Data3D& source,
                     std::int64_t s) {
    const std::size_t n = acc.x.size();
    e57::Data3D header = source;
    header.pointCount = n;
    setCartesianBounds(header.cartesianBounds, acc.bounds);
    header.guid = source.guid;
    header.indexBounds = e57::IndexBounds{};
    header.pointGroupingSchemes = e57::PointGroupingSchemes{};
    const e57::PointStandardizedFieldsAvailable& src = source.pointFields;
    e57::PointStandardizedFieldsAvailable& f = header.pointFields;
    f = e57::PointStandardizedFieldsAvailable{};
    // The default node type is a 32-bit float, which would round survey coordinates to
    // centimetres or worse; the buffers are doubles and are stored as such.
    f.pointRangeNodeType = e57::NumericalNodeType::Double;
    // Intensity that was not a 32-bit float to begin with would be rounded by the default.
    if (src.intensityNodeType != e57::NumericalNodeType::Float)
        f.intensityNodeType = e57::NumericalNodeType::Double;
    f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
    f.colorRedField = src.colorRedField && acc.red.size() == n;
    f.colorGreenField = src.colorGreenField && acc.green.size() == n;
    f.colorBlueField = src.colorBlueField && acc.blue.size() == n;
    const bool intensityUsable = src.intensityField && acc.intensity.size() == n;

    PhotoSplitScanWrite ctx{header, acc, intensityUsable, out};
    if (!writePhotoSplitScan(ctx, true, true) && !writePhotoSplitScan(ctx, true, false) &&
        !writePhotoSplitScan(ctx, false, false))
        throw std::runtime_error(
            "Photo multi split WriteData3DData failed | output=" + out.finalPath +
            " | scanIndex=" + std::to_string(s) + " | points=" + std::to_string(n));
    out.scanGuids.push_back({source.guid, source.guid});
    ++out.scansWritten;
}

}  // namespace

bool exportPhotoMultiSplit(const std::string& inputPath, const std::string& outputPath,
                           const std::vector<SelectedHeightRange>& verticalSelections,
                           const std::vector<SavedTileSelection>& topSelections, double tileSize,
                           std::uint64_t inputTotalPoints, ExportResult* result,
                           std::string* error) {
    std::vector<PhotoSplitOutput> outputs;
    // Outside the try: a failure removes working files while their locks are still held, and
    // only those of outputs whose locks this export holds.
    std::vector<WorkingFileLock> locks;
    std::vector<PendingOutput> pending;
    try {
        // Every output is numbered, also a single one.
        const std::vector<std::string> finals =
            splitOutputPaths(outputPath, verticalSelections.size(), topSelections.size(), true);
        // Nothing is removed or written before each of the route's files is known not to be
        // the input; then no file of an earlier split stays, whatever fails next.
        removeOldSplitOutputs(inputPath, outputPath, verticalSelections.size(),
                              topSelections.size(), true, true);
        if (verticalSelections.empty() && topSelections.empty())
            throw std::runtime_error(
                "Photo split export requires at least one saved vertical or top selection.");
        if (result) {
            *result = ExportResult{};
            result->inputPoints = inputTotalPoints;
            result->outputPath = outputPath;
        }

        const auto addOutput = [&](std::string label, std::string path,
                                   const std::vector<TileIndex>& tiles,
                                   std::vector<SelectedHeightRange> ranges) {
            PhotoSplitOutput out;
            out.label = std::move(label);
            out.finalPath = std::move(path);
            out.geometryTempPath = makeGeometryTempPath(out.finalPath);
            out.withPhotosTempPath = makeWithPhotosTempPath(out.finalPath);
            out.tiles.insert(tiles.begin(), tiles.end());
            out.heightRanges = std::move(ranges);
            outputs.push_back(std::move(out));
        };
        const std::size_t verticalCount = verticalSelections.size();
        for (std::size_t i = 0; i < verticalCount; ++i)
            addOutput("vertical #" + std::to_string(i + 1), finals[i], verticalSelections[i].tiles,
                      {verticalSelections[i]});
        for (std::size_t j = 0; j < topSelections.size(); ++j)
            addOutput("top #" + std::to_string(j + 1), finals[verticalCount + j],
                      topSelections[j].tiles, {});
        createOutputFolder(outputPath, kSplitOutputWords);
        locks.reserve(outputs.size());
        pending.reserve(outputs.size());
        for (const PhotoSplitOutput& out : outputs) {
            locks.emplace_back(out.geometryTempPath, kSplitOutputWords.prefix);
            refuseFolderAtWorkingFile(out.withPhotosTempPath, kSplitOutputWords.prefix);
            removeFileQuietly(out.withPhotosTempPath);
            pending.emplace_back(inputPath, out.finalPath, kSplitOutputWords);
        }

        requireRegularE57Input(inputPath);
        e57::Reader reader(inputPath, e57::ReaderOptions{});
        e57::E57Root root;
        reader.GetE57Root(root);
        const e57::WriterOptions options = writerOptionsFrom(root);
        for (PhotoSplitOutput& out : outputs) {
            out.writer = openE57Writer(out.geometryTempPath, options);
            std::cout << "[PHOTO MULTI SPLIT] temp geometry prepared"
                      << " | " << out.label << " | tiles=" << out.tiles.size()
                      << " | heightRanges=" << out.heightRanges.size()
                      << " | temp=" << out.geometryTempPath << " | final=" << out.finalPath << "\n";
        }

        const std::int64_t scanCount = reader.GetData3DCount();
        if (scanCount <= 0) throw std::runtime_error("Input E57 contains no Data3D scans.");
        std::cout << "[PHOTO MULTI SPLIT] native libE57 geometry pass started"
                  << " | scans=" << scanCount << " | outputs=" << outputs.size() << "\n";

        std::vector<ZDecidesSelectionTest> tests;
        tests.reserve(outputs.size());
        for (const PhotoSplitOutput& out : outputs)
            tests.emplace_back(out.tiles, out.heightRanges, tileSize);

        std::vector<double> x(kReadBlock), y(kReadBlock), z(kReadBlock), intensity;
        std::vector<std::uint16_t> red, green, blue;
        std::uint64_t pointsRead = 0;
        std::uint64_t nonFinite = 0;
        for (std::int64_t s = 0; s < scanCount; ++s) {
            e57::Data3D header;
            if (!reader.ReadData3D(s, header))
                throw std::runtime_error("ReadData3D() failed during photo multi split.");
            if (header.pointCount == 0) continue;
            const e57::PointStandardizedFieldsAvailable& f = header.pointFields;
            if (!f.cartesianXField || !f.cartesianYField || !f.cartesianZField) {
                std::cout << "[PHOTO MULTI SPLIT] scan skipped: non-cartesian"
                          << " | scanIndex=" << s << " | points=" << header.pointCount << "\n";
                continue;
            }
            e57::Data3DPointsDouble buffers;
            buffers.cartesianX = x.data();
            buffers.cartesianY = y.data();
            buffers.cartesianZ = z.data();
            const auto bind = [](bool on, auto& v) {
                if (!on) return static_cast<decltype(v.data())>(nullptr);
                v.resize(kReadBlock);
                return v.data();
            };
            buffers.intensity = bind(f.intensityField, intensity);
            buffers.colorRed = bind(f.colorRedField, red);
            buffers.colorGreen = bind(f.colorGreenField, green);
            buffers.colorBlue = bind(f.colorBlueField, blue);

            std::vector<ScanAccumulator> scanPoints;
            scanPoints.reserve(outputs.size());
            for (std::size_t o = 0; o < outputs.size(); ++o) scanPoints.emplace_back(f);
            const ScanPoseMatrix pose(header.pose);

            e57::CompressedVectorReader points =
                reader.SetUpData3DPointsData(s, kReadBlock, buffers);
            while (const unsigned n = points.read()) {
                for (unsigned i = 0; i < n; ++i) {
                    ++pointsRead;
                    const double px = x[i], py = y[i], pz = z[i];
                    double wx, wy, wz;
                    pose.apply(px, py, pz, wx, wy, wz);
                    if (!finite3(wx, wy, wz)) {
                        ++nonFinite;
                        continue;
                    }
                    for (std::size_t o = 0; o < outputs.size(); ++o) {
                        if (!tests[o].accepts(wx, wy, wz)) continue;
                        ScanAccumulator& acc = scanPoints[o];
                        acc.x.push_back(px);
                        acc.y.push_back(py);
                        acc.z.push_back(pz);
                        if (f.colorRedField) acc.red.push_back(red[i]);
                        if (f.colorGreenField) acc.green.push_back(green[i]);
                        if (f.colorBlueField) acc.blue.push_back(blue[i]);
                        if (f.intensityField && std::isfinite(intensity[i]))
                            acc.intensity.push_back(intensity[i]);
                        if (px < acc.bounds[0]) acc.bounds[0] = px;
                        if (px > acc.bounds[1]) acc.bounds[1] = px;
                        if (py < acc.bounds[2]) acc.bounds[2] = py;
                        if (py > acc.bounds[3]) acc.bounds[3] = py;
                        if (pz < acc.bounds[4]) acc.bounds[4] = pz;
                        if (pz > acc.bounds[5]) acc.bounds[5] = pz;
                        ++outputs[o].keptPoints;
                    }
                }
                if (pointsRead % kProgressEvery == 0) {
                    std::uint64_t kept = 0;
                    for (const PhotoSplitOutput& out : outputs) kept += out.keptPoints;
                    std::cout << "[PHOTO MULTI SPLIT] read=" << pointsRead
                              << " | keptAcrossOutputs=" << kept << "\n";
                }
            }
            points.close();
            for (std::size_t o = 0; o < outputs.size(); ++o)
                if (!scanPoints[o].x.empty()) writeOutputScan(outputs[o], scanPoints[o], header, s);
        }

        reader.Close();
        for (PhotoSplitOutput& out : outputs) out.writer->Close();

        double totalMB = 0.0;
        std::uint64_t keptAcross = 0;
        for (std::size_t o = 0; o < outputs.size(); ++o) {
            PhotoSplitOutput& out = outputs[o];
            if (out.keptPoints == 0 || out.scansWritten == 0)
                throw std::runtime_error("Photo multi split produced zero points for " + out.label);
            std::string message;
            if (!mergePhotosIntoFinalE57(inputPath, out.geometryTempPath,
                                         pending[o].temporaryPath(), out.scanGuids, &message))
                throw std::runtime_error("Photo multi split final photo merge failed | " +
                                         out.label + " | reason=" + message);
            pending[o].publish();
            removeTemporaries(out);
            totalMB += fileSizeMB(out.finalPath);
            std::cout << "[PHOTO MULTI SPLIT] completed"
                      << " | " << out.label << " | kept=" << out.keptPoints
                      << " | scansWritten=" << out.scansWritten << " | output=" << out.finalPath
                      << "\n";
            keptAcross += out.keptPoints;
        }
        if (result) {
            result->success = true;
            result->outputPath = outputPath;
            result->writtenPoints = keptAcross;
            result->nonFinitePoints = nonFinite;
            result->outputSizeMB = totalMB;
        }
        if (nonFinite != 0)
            std::cout << "[PHOTO MULTI SPLIT] skipped_nonfinite_xyz=" << nonFinite << "\n";
        std::cout << "[PHOTO MULTI SPLIT] completed"
                  << " | read=" << pointsRead << " | outputs=" << outputs.size()
                  << " | keptAcrossOutputs=" << keptAcross << "\n";
        return true;
    } catch (const std::exception& e) {
        // Outputs merged before the failure keep their final files; no temporary file stays.
        const std::string reason = writeFailureReason(pending);
        for (std::size_t o = 0; o < outputs.size(); ++o) {
            outputs[o].writer.reset();
            if (o < locks.size()) removeTemporaries(outputs[o]);
        }
        pending.clear();
        const std::string text = withSystemReason(exceptionText(e), reason);
        if (result) {
            result->success = false;
            result->errorMessage = text;
        }
        if (error) *error = text;
        return false;
    }
}
