#include "export/e57_route_support.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

ScanPoseMatrix::ScanPoseMatrix(const e57::RigidBodyTransform& pose) {
    const e57::Quaternion& q = pose.rotation;
    r[0] = 1 - 2 * (q.y * q.y + q.z * q.z);
    r[1] = 2 * (q.x * q.y - q.w * q.z);
    r[2] = 2 * (q.x * q.z + q.w * q.y);
    r[3] = 2 * (q.x * q.y + q.w * q.z);
    r[4] = 1 - 2 * (q.x * q.x + q.z * q.z);
    r[5] = 2 * (q.y * q.z - q.w * q.x);
    r[6] = 2 * (q.x * q.z - q.w * q.y);
    r[7] = 2 * (q.y * q.z + q.w * q.x);
    r[8] = 1 - 2 * (q.x * q.x + q.y * q.y);
    t[0] = pose.translation.x;
    t[1] = pose.translation.y;
    t[2] = pose.translation.z;
}

void setCartesianBounds(e57::CartesianBounds& out, const double* b) {
    out.xMinimum = b[0];
    out.xMaximum = b[1];
    out.yMinimum = b[2];
    out.yMaximum = b[3];
    out.zMinimum = b[4];
    out.zMaximum = b[5];
}

void setEightBitColourLimits(e57::ColorLimits& limits) {
    limits.colorRedMinimum = limits.colorGreenMinimum = limits.colorBlueMinimum = 0.0;
    limits.colorRedMaximum = limits.colorGreenMaximum = limits.colorBlueMaximum = 255.0;
}

e57::WriterOptions writerOptionsFrom(const e57::E57Root& sourceRoot) {
    e57::WriterOptions options;
    options.guid = sourceRoot.guid;
    options.coordinateMetadata = sourceRoot.coordinateMetadata;
    return options;
}

e57::Data3DPointsDouble bindPointColumns(const e57::PointStandardizedFieldsAvailable& fields,
                                         std::vector<double>& x, std::vector<double>& y,
                                         std::vector<double>& z, std::vector<std::uint16_t>& red,
                                         std::vector<std::uint16_t>& green,
                                         std::vector<std::uint16_t>& blue,
                                         std::vector<double>& intensity) {
    e57::Data3DPointsDouble buffers;
    buffers.cartesianX = x.data();
    buffers.cartesianY = y.data();
    buffers.cartesianZ = z.data();
    if (fields.colorRedField) buffers.colorRed = red.data();
    if (fields.colorGreenField) buffers.colorGreen = green.data();
    if (fields.colorBlueField) buffers.colorBlue = blue.data();
    if (fields.intensityField) buffers.intensity = intensity.data();
    return buffers;
}

void removeFileQuietly(const std::string& path) {
    std::error_code ignored;
    // Never a folder, not even an empty one: the routes make only files.
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, ignored))) return;
    std::filesystem::remove(path, ignored);
}

double fileSizeMB(const std::string& path) {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(path, ec);
    return ec ? 0.0 : static_cast<double>(bytes) * 9.5367431640625e-07;
}

namespace {
bool boundsHoldZero(double lo, double hi) { return lo <= 0.0 && 0.0 <= hi; }
}  // namespace

bool colourChannelWritable(double limitMin, double limitMax, const std::uint16_t* values,
                           std::size_t count) {
    if (!std::isfinite(limitMin) || !std::isfinite(limitMax)) return false;
    const double lo = std::trunc(limitMin);
    const double hi = std::trunc(limitMax);
    if (!boundsHoldZero(lo, hi)) return false;
    unsigned mn = 0xFFFF, mx = 0;
    for (std::size_t i = 0; i < count; ++i) {
        mn = std::min<unsigned>(mn, values[i]);
        mx = std::max<unsigned>(mx, values[i]);
    }
    return count == 0 || (lo <= mn && mx <= hi);
}

bool intensityLimitsWritable(const e57::IntensityLimits& l) {
    return std::isfinite(l.intensityMinimum) && std::isfinite(l.intensityMaximum) &&
           boundsHoldZero(l.intensityMinimum, l.intensityMaximum);
}

bool libraryTakesFields(const e57::Data3D& h, const e57::Data3DPointsDouble& b) {
    const e57::PointStandardizedFieldsAvailable& f = h.pointFields;
    const e57::ColorLimits& c = h.colorLimits;
    const std::size_t n = h.pointCount;
    return (!f.colorRedField ||
            colourChannelWritable(c.colorRedMinimum, c.colorRedMaximum, b.colorRed, n)) &&
           (!f.colorGreenField ||
            colourChannelWritable(c.colorGreenMinimum, c.colorGreenMaximum, b.colorGreen, n)) &&
           (!f.colorBlueField ||
            colourChannelWritable(c.colorBlueMinimum, c.colorBlueMaximum, b.colorBlue, n)) &&
           (!f.intensityField || intensityLimitsWritable(h.intensityLimits));
}
