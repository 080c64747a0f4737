#pragma once

// Small E57 inputs written with the E57 library (posed scans, spherical-only scans, images tied
// to scans), and a reader that hands back everything a file holds, for the E57 route tests.

#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <E57SimpleReader.h>
#include <E57SimpleWriter.h>

#include "support/e57_page_checksum.h"

namespace testsupport {

struct TestScan {
    std::string guid;
    std::string name;
    e57::RigidBodyTransform pose;  // identity unless set
    bool cartesian = true;         // false: stored as spherical range, azimuth, elevation only
    bool hasColour = false;
    bool hasIntensity = false;
    bool hasTime = false;
    bool hasRowColumn = false;
    std::vector<double> x, y, z, intensity, time;
    std::vector<std::uint16_t> red, green, blue;
    std::vector<std::int32_t> row, column;
    e57::IndexBounds indexBounds;        // written as given
    e57::PointGroupingSchemes grouping;  // written as given (the groups themselves are not)
    // Limits written with colour and intensity; the defaults are 8-bit colour and 0..1.
    double colourMinimum = 0.0, colourMaximum = 255.0;
    double intensityMinimum = 0.0, intensityMaximum = 1.0;

    std::size_t size() const { return x.size(); }
    // Appends one point; the optional columns get values derived from its number.
    void add(double px, double py, double pz) {
        const std::size_t i = x.size();
        x.push_back(px);
        y.push_back(py);
        z.push_back(pz);
        red.push_back(static_cast<std::uint16_t>(i % 256));
        green.push_back(static_cast<std::uint16_t>((i * 7) % 256));
        blue.push_back(static_cast<std::uint16_t>((i * 13) % 256));
        intensity.push_back(static_cast<double>(i % 1000) / 1000.0);
        time.push_back(1.0e9 + static_cast<double>(i) * 1.0e-6);
        row.push_back(static_cast<std::int32_t>(i / 1000));
        column.push_back(static_cast<std::int32_t>(i % 1000));
    }
};

struct TestImage {
    std::string guid;
    std::string associatedData3DGuid;
    std::string jpeg;           // the blob; a visual-reference JPEG of 4 x 3 pixels
    std::int64_t maskSize = 0;  // a mask declared beside it (the one call cannot fill it)
};

// Writes the scans (in order) and then the images into a new file.
inline void writeE57Source(const std::string& path, const std::string& fileGuid,
                           std::vector<TestScan> scans, const std::vector<TestImage>& images = {},
                           const std::string& coordinateMetadata = {}) {
    e57::WriterOptions options;
    options.guid = fileGuid;
    options.coordinateMetadata = coordinateMetadata;
    e57::Writer writer(path, options);
    for (TestScan& s : scans) {
        e57::Data3D h;
        h.guid = s.guid;
        h.name = s.name;
        h.pose = s.pose;
        h.pointCount = s.size();
        h.indexBounds = s.indexBounds;
        h.pointGroupingSchemes = s.grouping;
        e57::PointStandardizedFieldsAvailable& f = h.pointFields;
        e57::Data3DPointsDouble b;
        std::vector<double> range, azimuth, elevation;
        // libE57Format wants data behind every field's buffer, also for a scan of no points.
        for (auto* v : {&s.x, &s.y, &s.z, &s.intensity, &s.time, &range, &azimuth, &elevation})
            v->reserve(1);
        for (auto* v : {&s.red, &s.green, &s.blue}) v->reserve(1);
        for (auto* v : {&s.row, &s.column}) v->reserve(1);
        if (s.cartesian) {
            f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
            f.pointRangeNodeType = e57::NumericalNodeType::Double;
            b.cartesianX = s.x.data();
            b.cartesianY = s.y.data();
            b.cartesianZ = s.z.data();
        } else {
            f.sphericalRangeField = f.sphericalAzimuthField = f.sphericalElevationField = true;
            f.pointRangeNodeType = f.angleNodeType = e57::NumericalNodeType::Double;
            for (std::size_t i = 0; i < s.size(); ++i) {
                const double r = std::sqrt(s.x[i] * s.x[i] + s.y[i] * s.y[i] + s.z[i] * s.z[i]);
                range.push_back(r);
                azimuth.push_back(std::atan2(s.y[i], s.x[i]));
                elevation.push_back(r > 0 ? std::asin(s.z[i] / r) : 0.0);
            }
            b.sphericalRange = range.data();
            b.sphericalAzimuth = azimuth.data();
            b.sphericalElevation = elevation.data();
        }
        if (s.hasColour) {
            f.colorRedField = f.colorGreenField = f.colorBlueField = true;
            h.colorLimits.colorRedMaximum = h.colorLimits.colorGreenMaximum =
                h.colorLimits.colorBlueMaximum = s.colourMaximum;
            h.colorLimits.colorRedMinimum = h.colorLimits.colorGreenMinimum =
                h.colorLimits.colorBlueMinimum = s.colourMinimum;
            b.colorRed = s.red.data();
            b.colorGreen = s.green.data();
            b.colorBlue = s.blue.data();
        }
        if (s.hasIntensity) {
            f.intensityField = true;
            f.intensityNodeType = e57::NumericalNodeType::Double;
            h.intensityLimits.intensityMaximum = s.intensityMaximum;
            h.intensityLimits.intensityMinimum = s.intensityMinimum;
            b.intensity = s.intensity.data();
        }
        if (s.hasTime) {
            f.timeStampField = true;
            f.timeNodeType = e57::NumericalNodeType::Double;
            b.timeStamp = s.time.data();
        }
        if (s.hasRowColumn) {
            f.rowIndexField = f.columnIndexField = true;
            b.rowIndex = s.row.data();
            b.columnIndex = s.column.data();
        }
        writer.WriteData3DData(h, b);
    }
    for (const TestImage& im : images) {
        e57::Image2D h;
        h.guid = im.guid;
        h.name = "image " + im.guid;
        h.associatedData3DGuid = im.associatedData3DGuid;
        h.visualReferenceRepresentation.jpegImageSize = static_cast<std::int64_t>(im.jpeg.size());
        h.visualReferenceRepresentation.imageWidth = 4;
        h.visualReferenceRepresentation.imageHeight = 3;
        h.visualReferenceRepresentation.imageMaskSize = im.maskSize;
        std::string blob = im.jpeg;
        writer.WriteImage2DData(h, e57::ImageJPEG, e57::ProjectionVisual, 0, blob.data(),
                                static_cast<std::int64_t>(blob.size()));
    }
    writer.Close();
}

struct ReadScan {
    e57::Data3D header;
    std::vector<double> x, y, z, intensity, time;
    std::vector<std::uint16_t> red, green, blue;
    std::vector<std::int32_t> row, column;
};

struct ReadImage {
    e57::Image2D header;
    std::string blob;  // the blob GetImage2DSizes names
};

struct ReadFile {
    e57::E57Root root;
    std::vector<ReadScan> scans;
    std::vector<ReadImage> images;
};

// Everything the file holds; Cartesian scans only get their points read (each field the header
// declares). Throws what the library throws.
inline ReadFile readE57File(const std::string& path) {
    ReadFile out;
    e57::Reader reader(path, e57::ReaderOptions{});
    reader.GetE57Root(out.root);
    for (std::int64_t s = 0; s < reader.GetData3DCount(); ++s) {
        ReadScan scan;
        reader.ReadData3D(s, scan.header);
        const e57::PointStandardizedFieldsAvailable& f = scan.header.pointFields;
        const std::size_t n = scan.header.pointCount;
        if (f.cartesianXField && n > 0) {
            scan.x.resize(n);
            scan.y.resize(n);
            scan.z.resize(n);
            e57::Data3DPointsDouble b;
            b.cartesianX = scan.x.data();
            b.cartesianY = scan.y.data();
            b.cartesianZ = scan.z.data();
            auto bind = [n](bool on, auto& v) { return on ? (v.resize(n), v.data()) : nullptr; };
            b.intensity = bind(f.intensityField, scan.intensity);
            b.timeStamp = bind(f.timeStampField, scan.time);
            b.colorRed = bind(f.colorRedField, scan.red);
            b.colorGreen = bind(f.colorGreenField, scan.green);
            b.colorBlue = bind(f.colorBlueField, scan.blue);
            b.rowIndex = bind(f.rowIndexField, scan.row);
            b.columnIndex = bind(f.columnIndexField, scan.column);
            e57::CompressedVectorReader points = reader.SetUpData3DPointsData(s, n, b);
            const unsigned got = points.read();
            points.close();
            if (got != n) throw std::runtime_error("short scan in " + path);
        }
        out.scans.push_back(std::move(scan));
    }
    for (std::int64_t i = 0; i < reader.GetImage2DCount(); ++i) {
        ReadImage image;
        reader.ReadImage2D(i, image.header);
        e57::Image2DProjection projection;
        e57::Image2DType type, mask, visual;
        std::int64_t width = 0, height = 0, size = 0;
        if (reader.GetImage2DSizes(i, projection, type, width, height, size, mask, visual) &&
            size > 0) {
            image.blob.resize(static_cast<std::size_t>(size));
            reader.ReadImage2DData(i, projection, type, image.blob.data(), 0, size);
        }
        out.images.push_back(std::move(image));
    }
    reader.Close();
    return out;
}

// The stored spherical coordinates of scan `index` (empty when it has none), and x, y, z computed
// from them as "readers.e57" does, in the scan's own frame.
struct SphericalScan {
    std::vector<double> range, azimuth, elevation;
    std::vector<double> x, y, z;
};
inline SphericalScan readSphericalScan(const std::string& path, std::int64_t index) {
    SphericalScan out;
    e57::Reader reader(path, e57::ReaderOptions{});
    e57::Data3D h;
    reader.ReadData3D(index, h);
    const std::size_t n = h.pointCount;
    if (!h.pointFields.sphericalRangeField || n == 0) return out;
    for (auto* v : {&out.range, &out.azimuth, &out.elevation, &out.x, &out.y, &out.z}) v->resize(n);
    e57::Data3DPointsDouble b;
    b.sphericalRange = out.range.data();
    b.sphericalAzimuth = out.azimuth.data();
    b.sphericalElevation = out.elevation.data();
    e57::CompressedVectorReader points = reader.SetUpData3DPointsData(index, n, b);
    const unsigned got = points.read();
    points.close();
    reader.Close();
    if (got != n) throw std::runtime_error("short scan in " + path);
    for (std::size_t i = 0; i < n; ++i) {
        const double ce = std::cos(out.elevation[i]);
        out.x[i] = out.range[i] * ce * std::cos(out.azimuth[i]);
        out.y[i] = out.range[i] * ce * std::sin(out.azimuth[i]);
        out.z[i] = out.range[i] * std::sin(out.elevation[i]);
    }
    return out;
}

// A scan point in world coordinates: the pose's quaternion as stored (not normalised), then
// its translation.
inline std::array<double, 3> worldPoint(const e57::RigidBodyTransform& pose, double x, double y,
                                        double z) {
    const double w = pose.rotation.w, a = pose.rotation.x, b = pose.rotation.y, c = pose.rotation.z;
    return {(1 - 2 * (b * b + c * c)) * x + 2 * (a * b - w * c) * y + 2 * (a * c + w * b) * z +
                pose.translation.x,
            2 * (a * b + w * c) * x + (1 - 2 * (a * a + c * c)) * y + 2 * (b * c - w * a) * z +
                pose.translation.y,
            2 * (a * c - w * b) * x + 2 * (b * c + w * a) * y + (1 - 2 * (a * a + b * b)) * z +
                pose.translation.z};
}

// Replaces the first `from` in a written file's payload by `to` of the same length and reseals
// the pages. Makes headers the library refuses to write (limits without 0) that other writers
// produce.
inline void patchE57Payload(const std::string& path, const std::string& from,
                            const std::string& to) {
    if (from.size() != to.size()) throw std::invalid_argument("patch must keep the length");
    std::string file;
    {
        std::ifstream in(path, std::ios::binary);
        file.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::size_t pages = file.size() / 1024;
    std::string logical;
    for (std::size_t p = 0; p < pages; ++p) logical.append(file, p * 1024, 1020);
    const std::size_t at = logical.find(from);
    if (at == std::string::npos) throw std::runtime_error("patch text not found: " + from);
    for (std::size_t i = 0; i < to.size(); ++i)
        file[(at + i) / 1020 * 1024 + (at + i) % 1020] = to[i];
    for (std::size_t p = 0; p < pages; ++p)
        sealE57Page(reinterpret_cast<std::uint8_t*>(file.data() + p * 1024));
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(file.data(), std::streamsize(file.size()));
}

}  // namespace testsupport
