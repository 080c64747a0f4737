#pragma once

#include <cstddef>
#include <string>

namespace pdal {
namespace Dimension {

namespace BaseType {
constexpr int None = 0x000;
constexpr int Signed = 0x100;
constexpr int Unsigned = 0x200;
constexpr int Floating = 0x400;
}  // namespace BaseType

enum class Type {
    None = 0,
    Unsigned8 = BaseType::Unsigned | 1,
    Signed8 = BaseType::Signed | 1,
    Unsigned16 = BaseType::Unsigned | 2,
    Signed16 = BaseType::Signed | 2,
    Unsigned32 = BaseType::Unsigned | 4,
    Signed32 = BaseType::Signed | 4,
    Unsigned64 = BaseType::Unsigned | 8,
    Signed64 = BaseType::Signed | 8,
    Float = BaseType::Floating | 4,
    Double = BaseType::Floating | 8,
};

constexpr int COUNT = 1024;
constexpr int PROPRIETARY = 0x200;

// Bytes one value of the type takes.
constexpr std::size_t size(Type t) { return static_cast<std::size_t>(static_cast<int>(t) & 0xff); }

// C spelling of the type ("uint16_t", "double"), as used in conversion messages.
std::string interpretationName(Type t);

}  // namespace Dimension
}  // namespace pdal
