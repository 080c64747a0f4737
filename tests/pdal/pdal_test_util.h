#pragma once

// Writes small E57 files with our own writer and streams them through "readers.e57".

#include <cstdint>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "E57SimpleWriter.h"
#include "pdal/Options.hpp"
#include "pdal/PointTable.hpp"
#include "pdal/StageFactory.hpp"
#include "pdal/filters/StreamCallbackFilter.hpp"

namespace pdaltest {

struct ScanSpec {
    std::vector<double> x, y, z;                    // cartesian, empty for none
    std::vector<double> range, azimuth, elevation;  // spherical, empty for none
    std::vector<uint16_t> red, green, blue;
    double colourMax = 255;
    std::vector<double> intensity;
    double intensityMin = 0, intensityMax = 1;
    std::vector<int8_t> cartesianInvalid;
    e57::RigidBodyTransform pose;
};

inline void writeE57(const std::string& path, std::vector<ScanSpec> scans) {
    e57::WriterOptions options;
    options.guid = "pdal-test-file";
    e57::Writer writer(path, options);
    int n = 0;
    for (ScanSpec& s : scans) {
        e57::Data3D h;
        h.guid = "scan-" + std::to_string(n++);
        h.pose = s.pose;
        auto& f = h.pointFields;
        e57::Data3DPointsDouble b;
        if (!s.x.empty()) {
            h.pointCount = s.x.size();
            f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
            f.pointRangeNodeType = e57::NumericalNodeType::Double;
            b.cartesianX = s.x.data();
            b.cartesianY = s.y.data();
            b.cartesianZ = s.z.data();
        }
        if (!s.range.empty()) {
            h.pointCount = s.range.size();
            f.sphericalRangeField = f.sphericalAzimuthField = f.sphericalElevationField = true;
            f.pointRangeNodeType = e57::NumericalNodeType::Double;
            f.angleNodeType = e57::NumericalNodeType::Double;
            b.sphericalRange = s.range.data();
            b.sphericalAzimuth = s.azimuth.data();
            b.sphericalElevation = s.elevation.data();
        }
        if (!s.red.empty()) {
            f.colorRedField = f.colorGreenField = f.colorBlueField = true;
            h.colorLimits.colorRedMaximum = h.colorLimits.colorGreenMaximum =
                h.colorLimits.colorBlueMaximum = s.colourMax;
            b.colorRed = s.red.data();
            b.colorGreen = s.green.data();
            b.colorBlue = s.blue.data();
        }
        if (!s.intensity.empty()) {
            f.intensityField = true;
            h.intensityLimits.intensityMinimum = s.intensityMin;
            h.intensityLimits.intensityMaximum = s.intensityMax;
            b.intensity = s.intensity.data();
        }
        if (!s.cartesianInvalid.empty()) {
            f.cartesianInvalidStateField = true;
            b.cartesianInvalidState = s.cartesianInvalid.data();
        }
        writer.WriteData3DData(h, b);
    }
    writer.Close();
}

struct Xyz {
    double x, y, z;
};

inline ScanSpec cartesianScan(const std::vector<Xyz>& pts) {
    ScanSpec s;
    for (const Xyz& p : pts) {
        s.x.push_back(p.x);
        s.y.push_back(p.y);
        s.z.push_back(p.z);
    }
    return s;
}

// The message of a caught error. The released library's E57Exception::what() is the fixed
// "E57 exception", its detail in errorStr() and context().
inline std::string errorText(const std::exception& e) {
    if (const auto* e57Error = dynamic_cast<const e57::E57Exception*>(&e))
        return e57Error->errorStr() + ": " + e57Error->context();
    return e.what();
}

// Streams a file the way the program does; returns the number of callback calls.
inline uint64_t streamE57(
    const std::string& path, pdal::point_count_t capacity,
    const std::function<bool(pdal::PointRef&, pdal::PointLayoutPtr)>& perPoint) {
    pdal::StageFactory factory(true);
    pdal::Stage* reader = factory.createStage("readers.e57");
    if (!reader) return 0;
    pdal::Options options;
    options.add("filename", path);
    reader->setOptions(options);
    pdal::FixedPointTable table(capacity);
    pdal::StreamCallbackFilter filter;
    filter.setInput(*reader);
    uint64_t calls = 0;
    filter.setCallback([&](pdal::PointRef& p) {
        ++calls;
        return perPoint(p, table.layout());
    });
    filter.prepare(table);
    filter.execute(table);
    return calls;
}

inline std::vector<Xyz> collectXyz(const std::string& path, pdal::point_count_t capacity = 100000) {
    std::vector<Xyz> out;
    streamE57(path, capacity, [&](pdal::PointRef& p, pdal::PointLayoutPtr) {
        out.push_back({p.getFieldAs<double>(pdal::Dimension::Id::X),
                       p.getFieldAs<double>(pdal::Dimension::Id::Y),
                       p.getFieldAs<double>(pdal::Dimension::Id::Z)});
        return true;
    });
    return out;
}

// Streams the reader alone, with no stage after it; returns the number of points it delivered.
inline uint64_t streamReaderAlone(const std::string& path) {
    pdal::StageFactory factory(true);
    pdal::Stage* reader = factory.createStage("readers.e57");
    if (!reader) return 0;
    pdal::Options options;
    options.add("filename", path);
    reader->setOptions(options);
    struct CountingTable : pdal::FixedPointTable {
        CountingTable() : pdal::FixedPointTable(1000) {}
        void reset() override {
            points += numPoints();
            pdal::FixedPointTable::reset();
        }
        uint64_t points = 0;
    } table;
    reader->prepare(table);
    reader->execute(table);
    return table.points;
}

}  // namespace pdaltest
