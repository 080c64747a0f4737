#include "pdal/Dimension.hpp"

namespace pdal {
namespace Dimension {

std::string interpretationName(Type t) {
    switch (t) {
        case Type::Signed8: return "int8_t";
        case Type::Signed16: return "int16_t";
        case Type::Signed32: return "int32_t";
        case Type::Signed64: return "int64_t";
        case Type::Unsigned8: return "uint8_t";
        case Type::Unsigned16: return "uint16_t";
        case Type::Unsigned32: return "uint32_t";
        case Type::Unsigned64: return "uint64_t";
        case Type::Float: return "float";
        case Type::Double: return "double";
        case Type::None: break;
    }
    return "unknown";
}

std::string name(Id id) {
    switch (id) {
        case Id::X: return "X";
        case Id::Y: return "Y";
        case Id::Z: return "Z";
        case Id::W: return "W";
        case Id::Intensity: return "Intensity";
        case Id::Classification: return "Classification";
        case Id::Red: return "Red";
        case Id::Green: return "Green";
        case Id::Blue: return "Blue";
        case Id::NormalX: return "NormalX";
        case Id::NormalY: return "NormalY";
        case Id::NormalZ: return "NormalZ";
        case Id::Omit: return "Omit";
        case Id::SphericalRange: return "SphericalRange";
        case Id::SphericalAzimuth: return "SphericalAzimuth";
        case Id::SphericalElevation: return "SphericalElevation";
        case Id::Unknown: break;
    }
    return "";
}

Type defaultType(Id id) {
    switch (id) {
        case Id::X:
        case Id::Y:
        case Id::Z:
        case Id::W:
        case Id::NormalX:
        case Id::NormalY:
        case Id::NormalZ:
        case Id::SphericalRange:
        case Id::SphericalAzimuth:
        case Id::SphericalElevation: return Type::Double;
        case Id::Intensity:
        case Id::Red:
        case Id::Green:
        case Id::Blue: return Type::Unsigned16;
        case Id::Classification:
        case Id::Omit: return Type::Unsigned8;
        case Id::Unknown: break;
    }
    return Type::None;
}

}  // namespace Dimension
}  // namespace pdal
