#include "points/input/e57_direct_read.h"

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include <E57SimpleReader.h>

#include "points/input/e57_input_check.h"

namespace {

constexpr std::size_t kDirectReadBlock = 4096;

bool hasSpherical(const e57::PointStandardizedFieldsAvailable& f) {
    return f.sphericalRangeField && f.sphericalAzimuthField && f.sphericalElevationField;
}

bool hasAnySpherical(const e57::PointStandardizedFieldsAvailable& f) {
    return f.sphericalRangeField || f.sphericalAzimuthField || f.sphericalElevationField;
}

// PDAL's colour rescale: 65535 over the width of the limits, in float; no limits, no rescale.
float colourFactor(double minimum, double maximum) {
    if (minimum == 0.0 && maximum == 0.0) return 1.0f;
    return static_cast<float>(65535.0 / (maximum - minimum));
}

// Rounded half away from zero; a value that does not fit 16 bits is 0, as PDAL leaves it.
std::uint16_t rescaled(std::uint16_t v, float factor) {
    const double s = static_cast<double>(v) * static_cast<double>(factor);
    if (!(s >= 0.0 && s < 65535.5)) return 0;
    auto u = static_cast<std::uint32_t>(s);
    if (s - static_cast<double>(u) >= 0.5) ++u;
    return static_cast<std::uint16_t>(u);
}

struct Columns {
    std::vector<double> x, y, z, range, azimuth, elevation;
    std::vector<std::uint16_t> red, green, blue;
};

// One scan's points, read block by block and handed on in world coordinates.
void readScan(const e57::Reader& reader, std::int64_t index, const e57::Data3D& h, bool hasColour,
              Columns& c, const std::function<void(const E57DirectBlock&)>& onBlock) {
    const e57::PointStandardizedFieldsAvailable& f = h.pointFields;
    const bool spherical = hasSpherical(f);
    e57::Data3DPointsDouble b;
    if (spherical) {
        b.sphericalRange = c.range.data();
        b.sphericalAzimuth = c.azimuth.data();
        b.sphericalElevation = c.elevation.data();
    } else {
        if (f.cartesianXField) b.cartesianX = c.x.data();
        if (f.cartesianYField) b.cartesianY = c.y.data();
        if (f.cartesianZField) b.cartesianZ = c.z.data();
    }
    if (hasColour && f.colorRedField) b.colorRed = c.red.data();
    if (hasColour && f.colorGreenField) b.colorGreen = c.green.data();
    if (hasColour && f.colorBlueField) b.colorBlue = c.blue.data();

    // The usual unit-quaternion matrix, as stored (not normalised), as "readers.e57" builds it.
    const auto& q = h.pose.rotation;
    const auto& t = h.pose.translation;
    const double w = q.w, qx = q.x, qy = q.y, qz = q.z;
    const double r[3][3] = {
        {1 - 2 * (qy * qy + qz * qz), 2 * (qx * qy - w * qz), 2 * (qx * qz + w * qy)},
        {2 * (qx * qy + w * qz), 1 - 2 * (qx * qx + qz * qz), 2 * (qy * qz - w * qx)},
        {2 * (qx * qz - w * qy), 2 * (qy * qz + w * qx), 1 - 2 * (qx * qx + qy * qy)}};
    const bool posed =
        !(w == 1 && qx == 0 && qy == 0 && qz == 0 && t.x == 0 && t.y == 0 && t.z == 0);
    const auto& lim = h.colorLimits;
    const float redFactor = colourFactor(lim.colorRedMinimum, lim.colorRedMaximum);
    const float greenFactor = colourFactor(lim.colorGreenMinimum, lim.colorGreenMaximum);
    const float blueFactor = colourFactor(lim.colorBlueMinimum, lim.colorBlueMaximum);

    e57::CompressedVectorReader points = reader.SetUpData3DPointsData(index, kDirectReadBlock, b);
    for (std::size_t n; (n = points.read()) != 0;) {
        for (std::size_t i = 0; i < n; ++i) {
            double x, y, z;
            if (spherical) {
                const double hz = c.range[i] * std::cos(c.elevation[i]);
                x = hz * std::cos(c.azimuth[i]);
                y = hz * std::sin(c.azimuth[i]);
                z = c.range[i] * std::sin(c.elevation[i]);
            } else {
                x = f.cartesianXField ? c.x[i] : 0.0;
                y = f.cartesianYField ? c.y[i] : 0.0;
                z = f.cartesianZField ? c.z[i] : 0.0;
            }
            if (posed) {
                const double px = x, py = y, pz = z;
                x = r[0][0] * px + r[0][1] * py + r[0][2] * pz + t.x;
                y = r[1][0] * px + r[1][1] * py + r[1][2] * pz + t.y;
                z = r[2][0] * px + r[2][1] * py + r[2][2] * pz + t.z;
            }
            c.x[i] = x;
            c.y[i] = y;
            c.z[i] = z;
            if (hasColour) {
                c.red[i] = f.colorRedField ? rescaled(c.red[i], redFactor) : 0;
                c.green[i] = f.colorGreenField ? rescaled(c.green[i], greenFactor) : 0;
                c.blue[i] = f.colorBlueField ? rescaled(c.blue[i], blueFactor) : 0;
            }
        }
        onBlock(E57DirectBlock{
            c.x.data(), c.y.data(), c.z.data(), hasColour ? c.red.data() : nullptr,
            hasColour ? c.green.data() : nullptr, hasColour ? c.blue.data() : nullptr, n});
    }
    points.close();
}

}  // namespace

bool e57MixesCoordinateKinds(const std::string& path) {
    try {
        requireRegularE57Input(path);
        e57::Reader reader(path, e57::ReaderOptions{});
        bool anySpherical = false, pointsWithoutSpherical = false;
        const std::int64_t scans = reader.GetData3DCount();
        for (std::int64_t i = 0; i < scans; ++i) {
            e57::Data3D h;
            if (!reader.ReadData3D(i, h)) return false;
            anySpherical |= hasAnySpherical(h.pointFields);
            pointsWithoutSpherical |= h.pointCount > 0 && !hasSpherical(h.pointFields);
        }
        reader.Close();
        return anySpherical && pointsWithoutSpherical;
    } catch (...) {
        return false;
    }
}

void readE57Directly(const std::string& path, bool& hasColour,
                     const std::function<void(const E57DirectBlock&)>& onBlock) {
    requireRegularE57Input(path);
    e57::Reader reader(path, e57::ReaderOptions{});
    const std::int64_t scans = reader.GetData3DCount();
    std::vector<e57::Data3D> headers(static_cast<std::size_t>(scans));
    bool red = false, green = false, blue = false;
    for (std::int64_t i = 0; i < scans; ++i) {
        e57::Data3D& h = headers[static_cast<std::size_t>(i)];
        if (!reader.ReadData3D(i, h))
            throw std::runtime_error("Unable to read the header of scan " + std::to_string(i) +
                                     ".");
        red |= h.pointFields.colorRedField;
        green |= h.pointFields.colorGreenField;
        blue |= h.pointFields.colorBlueField;
    }
    hasColour = red && green && blue;

    Columns c;
    for (auto* v : {&c.x, &c.y, &c.z, &c.range, &c.azimuth, &c.elevation})
        v->resize(kDirectReadBlock);
    for (auto* v : {&c.red, &c.green, &c.blue}) v->resize(kDirectReadBlock);
    for (std::int64_t i = 0; i < scans; ++i) {
        const e57::Data3D& h = headers[static_cast<std::size_t>(i)];
        const auto& f = h.pointFields;
        const bool coordinates =
            hasSpherical(f) || f.cartesianXField || f.cartesianYField || f.cartesianZField;
        // A scan of no points, or with nothing to place them by, adds no point here.
        if (h.pointCount == 0 || !coordinates) continue;
        readScan(reader, i, h, hasColour, c, onBlock);
    }
    reader.Close();
}
