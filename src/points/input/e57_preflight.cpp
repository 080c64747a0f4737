#include "points/input/e57_preflight.h"

#include <E57SimpleReader.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "points/input/e57_input_check.h"
#include "points/input/exception_text.h"
#include "points/input/text_utils.h"

namespace {

constexpr std::size_t kMetadataPreviewChars = 4000;
constexpr double kBytesToMB = 1.0 / 1048576.0;

template <typename T>
T readLittleEndian(const unsigned char* p) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(p[i]) << (8 * i);
    return value;
}

void summarizeScan(std::int64_t index, const e57::Data3D& scan, E57PreflightAnalysis& out) {
    E57ScanSummary s;
    s.index = index;
    s.points = static_cast<std::int64_t>(scan.pointCount);
    const auto& f = scan.pointFields;
    s.cartesianX = f.cartesianXField;
    s.cartesianY = f.cartesianYField;
    s.cartesianZ = f.cartesianZField;
    s.colorRed = f.colorRedField;
    s.colorGreen = f.colorGreenField;
    s.colorBlue = f.colorBlueField;
    s.intensity = f.intensityField;
    s.timeStamp = f.timeStampField;
    s.rowIndex = f.rowIndexField;
    s.columnIndex = f.columnIndexField;
    s.translationX = scan.pose.translation.x;
    s.translationY = scan.pose.translation.y;
    s.translationZ = scan.pose.translation.z;
    s.guid = scan.guid;

    if (s.points >= 1) out.totalPoints += static_cast<std::uint64_t>(s.points);
    if (s.cartesianX && s.cartesianY && s.cartesianZ)
        ++out.cartesianScans;
    else
        ++out.nonCartesianScans;
    if (s.colorRed && s.colorGreen && s.colorBlue) ++out.rgbScans;
    if (s.intensity) ++out.intensityScans;
    if (s.timeStamp) ++out.timeScans;
    if (s.rowIndex || s.columnIndex) ++out.structuredScans;
    out.scans.push_back(std::move(s));
}

// False when the image pass has to stop at this block.
bool summarizeImage(const e57::Reader& reader, std::int64_t i, E57PreflightAnalysis& out) {
    e57::Image2D image;
    try {
        if (!reader.ReadImage2D(i, image)) {
            out.partial = true;
            out.firstFailedImage2DIndex = i;
            out.firstImage2DError =
                "ReadImage2D() returned false during preflight | imageIndex=" + std::to_string(i);
            return false;
        }
    } catch (const std::exception& e) {
        out.partial = true;
        out.firstFailedImage2DIndex = i;
        out.firstImage2DError =
            "ReadImage2D() threw during preflight | imageIndex=" + std::to_string(i) +
            " | what=" + exceptionText(e);
        return false;
    }

    E57ImageSummary s;
    s.index = i;
    s.assocGuid = image.associatedData3DGuid;

    e57::Image2DProjection proj = e57::ProjectionNone;
    e57::Image2DType type = e57::ImageNone;
    e57::Image2DType maskType = e57::ImageNone;
    e57::Image2DType visualType = e57::ImageNone;
    std::int64_t width = 0, height = 0, size = 0;
    bool sizesOk = false;
    try {
        sizesOk = reader.GetImage2DSizes(i, proj, type, width, height, size, maskType, visualType);
    } catch (const std::exception& e) {
        throw std::runtime_error(
            "GetImage2DSizes() threw during preflight | imageIndex=" + std::to_string(i) +
            " | assocGuid=" + s.assocGuid + " | what=" + exceptionText(e));
    }
    if (sizesOk) {
        s.proj = proj;
        s.imageType = type;
        s.maskType = maskType;
        s.visualType = visualType;
        s.width = width;
        s.height = height;
        s.size = size;
        s.hasMask = s.maskType != 0;
        s.hasVisualRef = s.visualType != 0;
        s.getSizesOk = true;
        ++out.imageTypeCounts[s.imageType];
        ++out.projectionTypeCounts[s.proj];
        if (s.hasMask) {
            ++out.imagesWithMasks;
            ++out.maskTypeCounts[s.maskType];
        }
        if (s.hasVisualRef) {
            ++out.imagesWithVisualRefs;
            ++out.visualTypeCounts[s.visualType];
        }
    } else {
        ++out.getImage2DSizesFailures;
    }
    out.images.push_back(std::move(s));
    return true;
}

void runAnalysis(const std::string& path, E57PreflightAnalysis& out) {
    if (path.empty()) throw std::runtime_error("Input E57 path is empty.");
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        throw std::runtime_error("Input E57 file does not exist.");
    requireRegularE57Input(path);  // the header read would wait on a FIFO as well
    const auto bytes = std::filesystem::file_size(path, ec);
    if (!ec) out.fileSizeMB = static_cast<double>(bytes) * kBytesToMB;

    std::string headerError;
    if (!readE57BinaryHeader(path, out, &headerError)) out.error = headerError;

    e57::Reader reader(path, e57::ReaderOptions{});
    e57::E57Root root;
    reader.GetE57Root(root);
    out.rootGuid = root.guid;
    out.xmlPreview = cutCoordinateMetadata(root.coordinateMetadata);
    out.data3DScans = reader.GetData3DCount();
    out.image2DBlocks = reader.GetImage2DCount();

    out.scans.clear();
    out.scans.reserve(static_cast<std::size_t>(std::max<std::int64_t>(out.data3DScans, 0)));
    for (std::int64_t i = 0; i < out.data3DScans; ++i) {
        e57::Data3D scan;
        if (!reader.ReadData3D(i, scan))
            throw std::runtime_error("ReadData3D() failed during preflight analysis.");
        summarizeScan(i, scan, out);
    }

    out.images.clear();
    out.images.reserve(static_cast<std::size_t>(std::max<std::int64_t>(out.image2DBlocks, 0)));
    for (std::int64_t i = 0; i < out.image2DBlocks; ++i)
        if (!summarizeImage(reader, i, out)) break;

    reader.Close();
    out.ok = true;
    if (out.error.empty() && out.partial) out.error = out.firstImage2DError;
}

const char* flag(bool b) { return b ? "1" : "0"; }

std::string kindText(std::int32_t kind) {
    return smallIntToText(kind) + " (" + std::to_string(kind) + ")";
}

void writeKindCounts(std::ostringstream& os, const char* heading, const char* key,
                     const std::map<std::int32_t, std::int64_t>& counts) {
    os << heading << "\n";
    if (counts.empty()) {
        os << "<empty>\n";
        return;
    }
    for (const auto& [kind, count] : counts)
        os << "  " << key << kindText(kind) << " | count=" << count << "\n";
}

}  // namespace

std::string printableSignature(const unsigned char* bytes, std::size_t count) {
    std::string text(count, '.');
    for (std::size_t i = 0; i < count; ++i)
        if (bytes[i] >= 32 && bytes[i] <= 126) text[i] = static_cast<char>(bytes[i]);
    return text;
}

std::string cutCoordinateMetadata(const std::string& metadata) {
    if (metadata.size() <= kMetadataPreviewChars) return metadata;
    return metadata.substr(0, kMetadataPreviewChars) + "\n...[truncated]...";
}

bool readE57BinaryHeader(const std::string& path, E57PreflightAnalysis& out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        setError(error, "Cannot open E57 file for header read.");
        return false;
    }
    unsigned char raw[48];
    in.read(reinterpret_cast<char*>(raw), sizeof raw);
    if (in.gcount() != static_cast<std::streamsize>(sizeof raw)) {
        setError(error, "Could not read the 48-byte E57 header.");
        return false;
    }
    E57FileHeader& h = out.header;
    h.headerRead = true;
    h.signature = printableSignature(raw, 8);
    h.versionMajor = readLittleEndian<std::uint32_t>(raw + 8);
    h.versionMinor = readLittleEndian<std::uint32_t>(raw + 12);
    h.physicalLength = readLittleEndian<std::uint64_t>(raw + 16);
    h.xmlPhysicalOffset = readLittleEndian<std::uint64_t>(raw + 24);
    h.xmlLogicalLength = readLittleEndian<std::uint64_t>(raw + 32);
    h.pageSize = readLittleEndian<std::uint64_t>(raw + 40);
    return true;
}

bool analyzeE57Preflight(const std::string& path, E57PreflightAnalysis& out, std::string* error) {
    out = E57PreflightAnalysis{};
    out.inputPath = path;
    out.attempted = true;
    try {
        runAnalysis(path, out);
    } catch (const std::exception& e) {
        out.ok = false;
        out.error = exceptionText(e);
        setError(error, out.error);
        return false;
    }
    if (error) *error = out.error;
    return true;
}

std::string formatPreflightReport(const E57PreflightAnalysis& a) {
    std::ostringstream os;
    os << "E57 preflight analysis\n";
    os << "Input file: " << a.inputPath << "\n";
    os << "File size (MB): " << a.fileSizeMB << "\n";
    os << "Analysis OK: " << flag(a.ok) << "\n";
    os << "Analysis partial: " << flag(a.partial) << "\n";
    if (!a.error.empty()) os << "Error: " << a.error << "\n";
    if (!a.firstImage2DError.empty())
        os << "First Image2D read error: " << a.firstImage2DError << "\n";
    if (a.firstFailedImage2DIndex >= 0)
        os << "First failed Image2D index: " << a.firstFailedImage2DIndex << "\n";

    const E57FileHeader& h = a.header;
    os << "\nBinary file header\n";
    os << "Signature: " << h.signature << "\n";
    os << "Version: " << h.versionMajor << "." << h.versionMinor << "\n";
    os << "Physical length: " << h.physicalLength << "\n";
    os << "XML physical offset: " << h.xmlPhysicalOffset << "\n";
    os << "XML logical length: " << h.xmlLogicalLength << "\n";
    os << "Page size: " << h.pageSize << "\n";

    os << "\nRoot / file metadata\n";
    os << "Root GUID: " << a.rootGuid << "\n";
    os << "Data3D scans: " << a.data3DScans << "\n";
    os << "Image2D blocks: " << a.image2DBlocks << "\n";
    os << "Total points across scans: " << a.totalPoints << "\n";
    os << "Cartesian scans: " << a.cartesianScans << "\n";
    os << "Non-cartesian scans: " << a.nonCartesianScans << "\n";
    os << "RGB scans: " << a.rgbScans << "\n";
    os << "Intensity scans: " << a.intensityScans << "\n";
    os << "Time scans: " << a.timeScans << "\n";
    os << "Structured scans: " << a.structuredScans << "\n";

    os << "\nCoordinate / XML metadata preview\n";
    os << (a.xmlPreview.empty() ? std::string("<empty>") : a.xmlPreview) << "\n";

    os << "\nPer-scan summary\n";
    for (const auto& s : a.scans) {
        os << "Scan " << s.index << " | points=" << s.points << " | xyz=(" << flag(s.cartesianX)
           << "," << flag(s.cartesianY) << "," << flag(s.cartesianZ) << ")"
           << " | rgb=(" << flag(s.colorRed) << "," << flag(s.colorGreen) << ","
           << flag(s.colorBlue) << ")"
           << " | intensity=" << flag(s.intensity) << " | time=" << flag(s.timeStamp)
           << " | row=" << flag(s.rowIndex) << " | col=" << flag(s.columnIndex) << "\n";
        os << "    pose.t = (" << s.translationX << ", " << s.translationY << ", " << s.translationZ
           << ")\n";
        if (!s.guid.empty()) os << "    guid = " << s.guid << "\n";
    }

    os << "\nImage2D grouped summary\n";
    os << "GetImage2DSizes failures: " << a.getImage2DSizesFailures << "\n";
    os << "Images with masks: " << a.imagesWithMasks << "\n";
    os << "Images with visual references: " << a.imagesWithVisualRefs << "\n";
    writeKindCounts(os, "Image2D types by count", "type=", a.imageTypeCounts);
    writeKindCounts(os, "Projection types by count", "proj=", a.projectionTypeCounts);
    writeKindCounts(os, "Mask types by count", "maskType=", a.maskTypeCounts);
    writeKindCounts(os, "Visual reference types by count", "visualType=", a.visualTypeCounts);

    os << "\nPer-Image2D summary\n";
    for (const auto& im : a.images) {
        os << "Image " << im.index
           << " | assocGuid=" << (im.assocGuid.empty() ? std::string("<empty>") : im.assocGuid)
           << " | getSizesOk=" << flag(im.getSizesOk);
        if (im.getSizesOk) {
            os << " | proj=" << kindText(im.proj) << " | imageType=" << kindText(im.imageType)
               << " | maskType=" << kindText(im.maskType)
               << " | visualType=" << kindText(im.visualType) << " | width=" << im.width
               << " | height=" << im.height << " | size=" << im.size
               << " | hasMask=" << flag(im.hasMask) << " | hasVisualRef=" << flag(im.hasVisualRef);
        }
        os << "\n";
    }
    return os.str();
}
