#pragma once

#include <cstdint>
#include <string>

// The one point record every reader hands out.
struct CloudPoint {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    std::uint16_t red = 0;  // always 0..255
    std::uint16_t green = 0;
    std::uint16_t blue = 0;
    double intensity = 0.0;
    bool hasRGB = false;
    bool hasIntensity = false;
};

// What a reader has seen so far.
struct PointReaderSummary {
    std::uint64_t acceptedPoints = 0;
    double minX = 0.0;
    double maxX = 0.0;
    double minY = 0.0;
    double maxY = 0.0;
    double minZ = 0.0;
    double maxZ = 0.0;
    bool hasBounds = false;
    bool complete = false;
    bool boundsValid = false;
    bool sawRGB = false;
    bool sawIntensity = false;
};

// A sequential point reader. A false result with an empty error text is the end of the data;
// with a text it is a failure. The error pointer may be null.
class IPointReader {
public:
    virtual ~IPointReader() = default;
    virtual bool open(const std::string& path, std::string* error) = 0;
    virtual bool readNext(CloudPoint& out, std::string* error) = 0;
    virtual void close() = 0;
    virtual PointReaderSummary summary() const = 0;
    virtual std::string formatName() const = 0;
};
