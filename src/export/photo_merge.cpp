#include "export/photo_merge.h"

#include <cstdint>
#include <filesystem>
#include <iostream>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "export/e57_output_writer.h"
#include "export/e57_route_support.h"
#include "export/pending_output.h"
#include "points/input/e57_input_check.h"
#include "points/input/exception_text.h"

namespace {

constexpr std::size_t kCopyBlock = 262144;

// One geometry scan held whole for its write into the target.
struct FinalGeometryScanContext {
    const e57::Data3D& prepared;
    const e57::Data3D& geometry;
    std::vector<double>& x;
    std::vector<double>& y;
    std::vector<double>& z;
    std::vector<std::uint16_t>& red;
    std::vector<std::uint16_t>& green;
    std::vector<std::uint16_t>& blue;
    std::vector<double>& intensity;
    e57::Writer& writer;
};

bool intensityUsable(const FinalGeometryScanContext& ctx) {
    return ctx.geometry.pointFields.intensityField && ctx.intensity.size() == ctx.x.size();
}

bool writeFinalGeometryScan(FinalGeometryScanContext& ctx, bool rgb, bool intensity) {
    try {
        e57::Data3D header = ctx.prepared;
        e57::PointStandardizedFieldsAvailable& f = header.pointFields;
        const e57::PointStandardizedFieldsAvailable& g = ctx.geometry.pointFields;
        f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
        f.colorRedField = rgb && g.colorRedField;
        f.colorGreenField = rgb && g.colorGreenField;
        f.colorBlueField = rgb && g.colorBlueField;
        f.intensityField = intensity && intensityUsable(ctx);
        f.timeStampField = f.rowIndexField = f.columnIndexField = false;
        header.indexBounds = e57::IndexBounds{};
        header.pointGroupingSchemes = e57::PointGroupingSchemes{};

        const e57::Data3DPointsDouble buffers =
            bindPointColumns(f, ctx.x, ctx.y, ctx.z, ctx.red, ctx.green, ctx.blue, ctx.intensity);
        if (!libraryTakesFields(header, buffers)) return false;
        ctx.writer.WriteData3DData(header, buffers);
        return true;
    } catch (...) {
        return false;
    }
}

template <class T>
void appendBlock(std::vector<T>& to, const std::vector<T>& block, std::size_t n) {
    to.insert(to.end(), block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n));
}

// x, y, z, colour and intensity of a geometry scan: one block of the reader, or a whole scan.
// Cleared between scans but not freed, so the copy needs the largest scan's worth of memory
// without faulting every page in again for every scan.
struct CopyColumns {
    std::vector<double> x, y, z, intensity;
    std::vector<std::uint16_t> red, green, blue;

    void clear() {
        for (auto* v : {&x, &y, &z, &intensity}) v->clear();
        for (auto* v : {&red, &green, &blue}) v->clear();
    }
};

void copyOneGeometryScan(e57::Reader& reader, e57::Writer& writer, std::int64_t t,
                         const e57::Data3D& geometry, CopyColumns& block, CopyColumns& scan) {
    const e57::PointStandardizedFieldsAvailable& g = geometry.pointFields;
    auto bind = [](bool on, auto& v) {
        if (on && v.size() < kCopyBlock) v.resize(kCopyBlock);
        return on ? v.data() : nullptr;
    };
    e57::Data3DPointsDouble buffers;
    buffers.cartesianX = bind(true, block.x);
    buffers.cartesianY = bind(true, block.y);
    buffers.cartesianZ = bind(true, block.z);
    buffers.colorRed = bind(g.colorRedField, block.red);
    buffers.colorGreen = bind(g.colorGreenField, block.green);
    buffers.colorBlue = bind(g.colorBlueField, block.blue);
    buffers.intensity = bind(g.intensityField, block.intensity);

    const std::size_t count = geometry.pointCount;
    scan.clear();
    std::vector<double>&x = scan.x, &y = scan.y, &z = scan.z, &intensity = scan.intensity;
    std::vector<std::uint16_t>&red = scan.red, &green = scan.green, &blue = scan.blue;
    x.reserve(count);
    y.reserve(count);
    z.reserve(count);
    if (g.colorRedField) red.reserve(count);
    if (g.colorGreenField) green.reserve(count);
    if (g.colorBlueField) blue.reserve(count);
    if (g.intensityField) intensity.reserve(count);

    constexpr double kMax = std::numeric_limits<double>::max();
    double bounds[6] = {kMax, -kMax, kMax, -kMax, kMax, -kMax};
    e57::CompressedVectorReader points = reader.SetUpData3DPointsData(t, kCopyBlock, buffers);
    for (std::size_t n = points.read(); n > 0; n = points.read()) {
        appendBlock(x, block.x, n);
        appendBlock(y, block.y, n);
        appendBlock(z, block.z, n);
        if (g.colorRedField) appendBlock(red, block.red, n);
        if (g.colorGreenField) appendBlock(green, block.green, n);
        if (g.colorBlueField) appendBlock(blue, block.blue, n);
        if (g.intensityField) appendBlock(intensity, block.intensity, n);
        const double* axes[3] = {block.x.data(), block.y.data(), block.z.data()};
        for (int a = 0; a < 3; ++a) {
            double lo = bounds[2 * a], hi = bounds[2 * a + 1];
            for (std::size_t i = 0; i < n; ++i) {
                const double v = axes[a][i];
                lo = v < lo ? v : lo;
                hi = v > hi ? v : hi;
            }
            bounds[2 * a] = lo;
            bounds[2 * a + 1] = hi;
        }
    }
    points.close();

    e57::Data3D prepared = geometry;
    prepared.pointCount = x.size();
    setCartesianBounds(prepared.cartesianBounds, bounds);
    prepared.pointFields = e57::PointStandardizedFieldsAvailable{};
    // The default node type is a 32-bit float, which would round survey coordinates.
    prepared.pointFields.pointRangeNodeType = e57::NumericalNodeType::Double;
    // A 64-bit intensity of the geometry file stays 64-bit; the default node is 32-bit.
    if (g.intensityNodeType != e57::NumericalNodeType::Float)
        prepared.pointFields.intensityNodeType = e57::NumericalNodeType::Double;
    prepared.pointFields.cartesianXField = prepared.pointFields.cartesianYField =
        prepared.pointFields.cartesianZField = true;
    prepared.pointFields.colorRedField = g.colorRedField;
    prepared.pointFields.colorGreenField = g.colorGreenField;
    prepared.pointFields.colorBlueField = g.colorBlueField;
    prepared.indexBounds = e57::IndexBounds{};
    prepared.pointGroupingSchemes = e57::PointGroupingSchemes{};

    FinalGeometryScanContext ctx{prepared, geometry, x, y, z, red, green, blue, intensity, writer};
    prepared.pointFields.intensityField = intensityUsable(ctx);
    if (writeFinalGeometryScan(ctx, true, true) || writeFinalGeometryScan(ctx, true, false) ||
        writeFinalGeometryScan(ctx, false, false))
        return;
    const bool rgb = g.colorRedField && g.colorGreenField && g.colorBlueField;
    throw std::runtime_error(
        "Temp->final WriteData3DData failed | scanIndex=" + std::to_string(t) +
        " | guid=" + geometry.guid + " | pointCount=" + std::to_string(x.size()) +
        " | rgb=" + (rgb ? "1" : "0") + " | intensity=" + (intensityUsable(ctx) ? "1" : "0") +
        " | time=0 | row=0 | col=0");
}

}  // namespace

bool copyTempGeometryData3D(const std::string& geometryPath, e57::Writer& writer,
                            std::string* error) {
    try {
        e57::Reader reader(geometryPath, e57::ReaderOptions{});
        const std::int64_t scanCount = reader.GetData3DCount();
        if (scanCount < 1)
            throw std::runtime_error("Temporary geometry E57 contains no Data3D scans.");
        CopyColumns block, scan;
        for (std::int64_t t = 0; t < scanCount; ++t) {
            e57::Data3D geometry;
            if (!reader.ReadData3D(t, geometry))
                throw std::runtime_error("ReadData3D() failed while copying temp geometry.");
            if (geometry.pointCount == 0) continue;
            copyOneGeometryScan(reader, writer, t, geometry, block, scan);
        }
        reader.Close();
        return true;
    } catch (const std::exception& e) {
        if (error) *error = exceptionText(e);
        return false;
    }
}

bool copyScanImage2D(const e57::Reader& reader, e57::Writer& writer, const std::string& srcGuid,
                     const std::string& dstGuid, std::string* warning, std::uint64_t* matched,
                     std::uint64_t* copied, std::uint64_t* skipped, std::vector<bool>* unreadable) {
    try {
        const std::int64_t imageCount = reader.GetImage2DCount();
        if (unreadable && unreadable->size() < static_cast<std::size_t>(imageCount))
            unreadable->resize(static_cast<std::size_t>(imageCount));
        for (std::uint64_t* counter : {matched, copied, skipped})
            if (counter) *counter = 0;
        std::uint64_t nMatched = 0, nCopied = 0, nSkipped = 0;
        std::string firstSkip;
        const std::string pairText = " | srcGuid=" + srcGuid + " | dstGuid=" + dstGuid;
        std::cout << "[PHOTO MERGE] begin scan image copy" << pairText
                  << " | totalImagesInSource=" << imageCount << "\n";

        for (std::int64_t i = 0; i < imageCount; ++i) {
            const std::string index = std::to_string(i);
            bool headerRead = false;
            try {
                e57::Image2D image;
                if (!reader.ReadImage2D(i, image))
                    throw std::runtime_error("ReadImage2D() returned false | imageIndex=" + index);
                headerRead = true;
                if (image.associatedData3DGuid != srcGuid) continue;
                ++nMatched;
                std::cout << "[PHOTO MERGE] matched Image2D | imageIndex=" << i << pairText << "\n";
                e57::Image2DProjection projection = e57::ProjectionNone;
                e57::Image2DType imageType = e57::ImageNone, maskType = e57::ImageNone,
                                 visualType = e57::ImageNone;
                std::int64_t width = 0, height = 0, size = 0;
                if (!reader.GetImage2DSizes(i, projection, imageType, width, height, size, maskType,
                                            visualType))
                    throw std::runtime_error("GetImage2DSizes() failed | imageIndex=" + index +
                                             pairText);
                const auto number = [](int v) {
                    return std::to_string(v) + " (" + std::to_string(v) + ")";
                };
                std::cout << "[PHOTO MERGE] image metadata | imageIndex=" << i
                          << " | proj=" << number(projection)
                          << " | imageType=" << number(imageType)
                          << " | maskType=" << number(maskType)
                          << " | visualType=" << number(visualType) << " | width=" << width
                          << " | height=" << height << " | size=" << size << "\n";
                image.associatedData3DGuid = dstGuid;
                // One call writes one blob. A mask declared beside it would stay unfilled and
                // read back as all zero, which marks every pixel invalid; the copy goes
                // without it instead.
                if (imageType != e57::ImageMaskPNG) {
                    image.visualReferenceRepresentation.imageMaskSize = 0;
                    image.pinholeRepresentation.imageMaskSize = 0;
                    image.sphericalRepresentation.imageMaskSize = 0;
                    image.cylindricalRepresentation.imageMaskSize = 0;
                }
                std::vector<char> blob;
                if (size > 0) {
                    blob.resize(static_cast<std::size_t>(size));
                    const std::int64_t got =
                        reader.ReadImage2DData(i, projection, imageType, blob.data(), 0, size);
                    if (got != size)
                        throw std::runtime_error(
                            "ReadImage2DData() returned incomplete data | imageIndex=" + index +
                            " | got=" + std::to_string(got) +
                            " | expected=" + std::to_string(size));
                }
                writer.WriteImage2DData(image, imageType, projection, 0,
                                        size > 0 ? blob.data() : nullptr, size);
                ++nCopied;
                std::cout << "[PHOTO MERGE] Image2D copied successfully | imageIndex=" << i
                          << pairText << "\n";
            } catch (const std::exception& e) {
                if (!headerRead && unreadable) {
                    const auto at = static_cast<std::size_t>(i);
                    if ((*unreadable)[at]) continue;  // an earlier pair counted it
                    (*unreadable)[at] = true;
                }
                const std::string reason = exceptionText(e);
                ++nSkipped;
                if (firstSkip.empty())
                    firstSkip =
                        "Skipped Image2D | imageIndex=" + index + pairText + " | reason=" + reason;
                std::cerr << "[PHOTO MERGE] skipping unreadable Image2D | imageIndex=" << i
                          << pairText << " | reason=" << reason << "\n";
            }
        }

        std::cout << "[PHOTO MERGE] scan image copy summary" << pairText
                  << " | matched=" << nMatched << " | copied=" << nCopied
                  << " | skipped=" << nSkipped << "\n";
        if (matched) *matched = nMatched;
        if (copied) *copied = nCopied;
        if (skipped) *skipped = nSkipped;
        if (warning) {
            *warning = "Photo merge summary | matched=" + std::to_string(nMatched) +
                       " | copied=" + std::to_string(nCopied) +
                       " | skipped=" + std::to_string(nSkipped);
            if (!firstSkip.empty()) *warning += " | firstSkip=" + firstSkip;
        }
        return true;
    } catch (const std::exception& e) {
        const std::string reason = exceptionText(e);
        std::cerr << "[PHOTO MERGE] Image2D copy failure | srcGuid=" << srcGuid
                  << " | dstGuid=" << dstGuid << " | reason=" << reason << "\n";
        if (warning) *warning = reason;
        return false;
    }
}

bool mergePhotosIntoFinalE57(const std::string& inputPath, const std::string& geometryPath,
                             const std::string& targetPath,
                             const std::vector<ScanGuidPair>& scanGuids, std::string* error) {
    try {
        requireRegularE57Input(inputPath);
        e57::Reader reader(inputPath, e57::ReaderOptions{});
        e57::E57Root root;
        reader.GetE57Root(root);
        E57WriterPtr writer = openE57Writer(targetPath, writerOptionsFrom(root));

        std::cout << "[PHOTO MERGE] copying Data3D from temp geometry into final E57...\n";
        std::string copyError;
        if (!copyTempGeometryData3D(geometryPath, *writer, &copyError)) {
            throw std::runtime_error(
                "Final merge failed during Data3D copy from temporary geometry E57: " +
                (copyError.empty() ? std::string("unknown Data3D copy error") : copyError));
        }
        std::cout << "[PHOTO MERGE] Data3D copy finished. Copying associated Image2D blocks...\n";

        std::uint64_t totalMatched = 0, totalCopied = 0, totalSkipped = 0;
        std::string firstWarning;
        std::vector<bool> unreadable;  // each unreadable image is counted once, not per pair
        for (const ScanGuidPair& pair : scanGuids) {
            std::string warning;
            std::uint64_t matched = 0, copied = 0, skipped = 0;
            if (!copyScanImage2D(reader, *writer, pair.srcGuid, pair.dstGuid, &warning, &matched,
                                 &copied, &skipped, &unreadable)) {
                throw std::runtime_error(
                    "Final merge failed during Image2D copy | srcGuid=" + pair.srcGuid +
                    " | dstGuid=" + pair.dstGuid + " | reason=" +
                    (warning.empty() ? std::string("unknown Image2D copy error") : warning));
            }
            if (firstWarning.empty() && skipped > 0 && !warning.empty()) firstWarning = warning;
            totalMatched += matched;
            totalCopied += copied;
            totalSkipped += skipped;
        }

        const std::string counts = " | matched=" + std::to_string(totalMatched) +
                                   " | copied=" + std::to_string(totalCopied) +
                                   " | skipped=" + std::to_string(totalSkipped);
        std::cout << "[PHOTO MERGE] final image transfer summary" << counts << "\n";
        std::string summary = "Image transfer summary" + counts;
        if (!firstWarning.empty()) summary += " | firstWarning=" + firstWarning;

        writer->Close();
        reader.Close();
        if (error) *error = std::move(summary);
        return true;
    } catch (const std::exception& e) {
        // Asked while the failed target still fills the disk: once removed, the disk takes
        // data again and the reason is lost.
        const std::string reason = writeFailureReasonAt(targetPath);
        removeFileQuietly(targetPath);
        if (error) *error = withSystemReason(exceptionText(e), reason);
        return false;
    }
}
