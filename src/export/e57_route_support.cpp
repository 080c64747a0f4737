#include "export/e57_route_support.h"

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
    std::filesystem::remove(path, ignored);
}

double fileSizeMB(const std::string& path) {
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(path, ec);
    return ec ? 0.0 : static_cast<double>(bytes) * 9.5367431640625e-07;
}
