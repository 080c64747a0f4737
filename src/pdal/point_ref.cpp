#include <sstream>

#include "pdal/PointRef.hpp"

namespace pdal {
namespace detail {

namespace {

template <typename T>
double load(const char* src) {
    T v;
    std::memcpy(&v, src, sizeof(T));
    return static_cast<double>(v);
}

template <typename T>
bool store(double v, char* dst) {
    T out{};
    if (!convertTo<T>(v, out)) return false;
    std::memcpy(dst, &out, sizeof(T));
    return true;
}

}  // namespace

double loadAsDouble(Dimension::Type type, const char* src) {
    using Dimension::Type;
    switch (type) {
        case Type::Signed8: return load<int8_t>(src);
        case Type::Signed16: return load<int16_t>(src);
        case Type::Signed32: return load<int32_t>(src);
        case Type::Signed64: return load<int64_t>(src);
        case Type::Unsigned8: return load<uint8_t>(src);
        case Type::Unsigned16: return load<uint16_t>(src);
        case Type::Unsigned32: return load<uint32_t>(src);
        case Type::Unsigned64: return load<uint64_t>(src);
        case Type::Float: return load<float>(src);
        case Type::Double: return load<double>(src);
        case Type::None: break;
    }
    return 0.0;
}

bool storeFromDouble(Dimension::Type type, double v, char* dst) {
    using Dimension::Type;
    switch (type) {
        case Type::Signed8: return store<int8_t>(v, dst);
        case Type::Signed16: return store<int16_t>(v, dst);
        case Type::Signed32: return store<int32_t>(v, dst);
        case Type::Signed64: return store<int64_t>(v, dst);
        case Type::Unsigned8: return store<uint8_t>(v, dst);
        case Type::Unsigned16: return store<uint16_t>(v, dst);
        case Type::Unsigned32: return store<uint32_t>(v, dst);
        case Type::Unsigned64: return store<uint64_t>(v, dst);
        case Type::Float: return store<float>(v, dst);
        case Type::Double: return store<double>(v, dst);
        case Type::None: break;
    }
    return false;
}

void throwConversionError(Dimension::Id id, Dimension::Type from, double value,
                          Dimension::Type to) {
    std::ostringstream msg;
    msg << "Unable to fetch data and convert as requested: " << Dimension::name(id) << ":"
        << Dimension::interpretationName(from) << "(" << value << ") -> "
        << Dimension::interpretationName(to);
    throw pdal_error(msg.str());
}

}  // namespace detail
}  // namespace pdal
