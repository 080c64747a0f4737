#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <E57SimpleData.h>

namespace testsupport {

// Point columns of one E57 scan (double coordinates and intensity, colour in 16-bit slots) and
// the buffer set that hands them to an e57::Reader or e57::Writer.
struct E57Columns {
    explicit E57Columns(std::size_t n)
        : x(n), y(n), z(n), intensity(n), red(n), green(n), blue(n) {}

    // x, y and z always; intensity and colour only where asked.
    e57::Data3DPointsDouble buffers(bool withIntensity, bool withColour) {
        e57::Data3DPointsDouble b;
        b.cartesianX = x.data();
        b.cartesianY = y.data();
        b.cartesianZ = z.data();
        if (withIntensity) b.intensity = intensity.data();
        if (withColour) {
            b.colorRed = red.data();
            b.colorGreen = green.data();
            b.colorBlue = blue.data();
        }
        return b;
    }

    std::vector<double> x, y, z, intensity;
    std::vector<std::uint16_t> red, green, blue;
};

}  // namespace testsupport
