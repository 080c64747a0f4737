#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <E57SimpleData.h>
#include <E57SimpleWriter.h>

// Small pieces the E57 export routes share.

// A scan's pose as a rotation matrix and translation, with the quaternion taken as stored (not
// normalised), so the selection sees the coordinates the file's pose describes.
struct ScanPoseMatrix {
    explicit ScanPoseMatrix(const e57::RigidBodyTransform& pose);
    double r[9];
    double t[3];
    void apply(double x, double y, double z, double& wx, double& wy, double& wz) const {
        wx = r[0] * x + r[1] * y + r[2] * z + t[0];
        wy = r[3] * x + r[4] * y + r[5] * z + t[1];
        wz = r[6] * x + r[7] * y + r[8] * z + t[2];
    }
};

// Bounds kept as xMin, xMax, yMin, yMax, zMin, zMax.
void setCartesianBounds(e57::CartesianBounds& out, const double* bounds);
// 0 to 255 for each colour channel.
void setEightBitColourLimits(e57::ColorLimits& limits);

// The output carries the source file's guid and coordinate metadata.
e57::WriterOptions writerOptionsFrom(const e57::E57Root& sourceRoot);

// x, y and z always, and each colour channel and intensity whose field is on.
e57::Data3DPointsDouble bindPointColumns(const e57::PointStandardizedFieldsAvailable& fields,
                                         std::vector<double>& x, std::vector<double>& y,
                                         std::vector<double>& z, std::vector<std::uint16_t>& red,
                                         std::vector<std::uint16_t>& green,
                                         std::vector<std::uint16_t>& blue,
                                         std::vector<double>& intensity);

// Whether the library takes the colour and intensity fields the header turns on for these
// buffers: limits that hold 0 (it builds every prototype node holding 0) and colour values
// within their limits. A call the real library refuses still leaves a scan entry without valid
// points in its file, so a write ladder passes over a rung that would be refused instead of
// calling the library for it.
bool colourChannelWritable(double limitMin, double limitMax, const std::uint16_t* values,
                           std::size_t count);
bool intensityLimitsWritable(const e57::IntensityLimits& limits);
bool libraryTakesFields(const e57::Data3D& header, const e57::Data3DPointsDouble& buffers);

// A file the route made or is about to replace; a failure to remove it changes nothing. A folder
// there stays.
void removeFileQuietly(const std::string& path);

// The file's size in MiB (bytes * 2^-20), 0 when it cannot be read.
double fileSizeMB(const std::string& path);
