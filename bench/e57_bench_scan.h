#pragma once

// The scan header the E57 read and write benchmarks share: double or scaled-integer x, y, z,
// 8-bit colour and intensity.

#include <E57SimpleData.h>

#include <cstdint>
#include <string>

inline e57::Data3D benchScanHeader(const std::string& guid, std::int64_t points, bool scaled) {
    e57::Data3D h;
    h.guid = guid;
    h.pointCount = static_cast<std::size_t>(points);
    auto& f = h.pointFields;
    f.cartesianXField = f.cartesianYField = f.cartesianZField = true;
    f.colorRedField = f.colorGreenField = f.colorBlueField = true;
    f.intensityField = true;
    if (scaled) {
        f.pointRangeNodeType = e57::NumericalNodeType::ScaledInteger;
        f.pointRangeScale = 0.001;
        f.pointRangeMinimum = -1000.0;
        f.pointRangeMaximum = 3000.0;
    } else {
        f.pointRangeNodeType = e57::NumericalNodeType::Double;  // the default Float is 32-bit
    }
    h.colorLimits.colorRedMaximum = h.colorLimits.colorGreenMaximum =
        h.colorLimits.colorBlueMaximum = 255;
    h.intensityLimits.intensityMaximum = 1.0;
    return h;
}
