#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

#include "pdal/Dimension.hpp"
#include "pdal/PointTable.hpp"
#include "pdal/pdal_types.hpp"

namespace pdal {

namespace detail {

template <typename T>
constexpr Dimension::Type typeOf() {
    using Dimension::Type;
    if constexpr (std::is_same_v<T, double>)
        return Type::Double;
    else if constexpr (std::is_same_v<T, float>)
        return Type::Float;
    else if constexpr (std::is_integral_v<T> && std::is_signed_v<T> && sizeof(T) == 1)
        return Type::Signed8;
    else if constexpr (std::is_integral_v<T> && std::is_signed_v<T> && sizeof(T) == 2)
        return Type::Signed16;
    else if constexpr (std::is_integral_v<T> && std::is_signed_v<T> && sizeof(T) == 4)
        return Type::Signed32;
    else if constexpr (std::is_integral_v<T> && std::is_signed_v<T> && sizeof(T) == 8)
        return Type::Signed64;
    else if constexpr (std::is_integral_v<T> && sizeof(T) == 1)
        return Type::Unsigned8;
    else if constexpr (std::is_integral_v<T> && sizeof(T) == 2)
        return Type::Unsigned16;
    else if constexpr (std::is_integral_v<T> && sizeof(T) == 4)
        return Type::Unsigned32;
    else if constexpr (std::is_integral_v<T> && sizeof(T) == 8)
        return Type::Unsigned64;
    else
        return Type::None;
}

// The stored value of a field widened to double (64-bit integers beyond 2^53 lose digits).
double loadAsDouble(Dimension::Type type, const char* src);

// Converts v to T as PDAL does: integers are rounded half away from zero and range-checked,
// float is range-checked (NaN passes), double always succeeds. False when it does not fit.
template <typename T>
bool convertTo(double v, T& out) {
    if constexpr (std::is_same_v<T, double>) {
        out = v;
        return true;
    } else if constexpr (std::is_same_v<T, float>) {
        if (std::isnan(v)) {
            out = std::numeric_limits<float>::quiet_NaN();
            return true;
        }
        if (v < -static_cast<double>(std::numeric_limits<float>::max()) ||
            v > static_cast<double>(std::numeric_limits<float>::max()))
            return false;
        out = static_cast<float>(v);
        return true;
    } else {
        static_assert(std::is_integral_v<T>, "getFieldAs/setField need an arithmetic type");
        if (std::isnan(v)) return false;
        const double r = std::round(v);
        // The bounds are exact powers of two, so the comparison is exact for 64-bit types too.
        const double lo = static_cast<double>(std::numeric_limits<T>::lowest());
        const double hiExclusive = static_cast<double>(std::numeric_limits<T>::max() / 2 + 1) * 2.0;
        if (r < lo || r >= hiExclusive) return false;
        out = static_cast<T>(r);
        return true;
    }
}

// Throws the conversion error of getFieldAs.
[[noreturn]] void throwConversionError(Dimension::Id id, Dimension::Type from, double value,
                                       Dimension::Type to);

// Stores v into a field of the given type; false (nothing stored) when it does not fit.
bool storeFromDouble(Dimension::Type type, double v, char* dst);

}  // namespace detail

// A handle on one row of a point table.
class PointRef {
public:
    PointRef() = default;
    PointRef(PointTableRef table, PointId idx = 0)
        : table_(&table), layout_(table.layout()), idx_(idx), row_(table.getPoint(idx)) {}

    bool hasDim(Dimension::Id dim) const { return layout_ && layout_->hasDim(dim); }

    void setPointId(PointId idx) {
        idx_ = idx;
        row_ = table_ ? table_->getPoint(idx) : nullptr;
    }
    PointId pointId() const { return idx_; }

    // A dimension that is not in the layout gives T(0); a value that does not fit T throws
    // pdal_error.
    template <class T>
    T getFieldAs(Dimension::Id dim) const {
        if (!layout_) return T(0);
        const PointLayout::DimSlot& s = layout_->slot(dim);
        if (s.type == Dimension::Type::None) return T(0);
        const char* row = this->row();
        if (!row) return T(0);
        const char* src = row + s.offset;
        if (s.type == detail::typeOf<T>()) {
            T out;
            std::memcpy(&out, src, sizeof(T));
            return out;
        }
        const double v = detail::loadAsDouble(s.type, src);
        T out{};
        if (!detail::convertTo<T>(v, out))
            detail::throwConversionError(dim, s.type, v, detail::typeOf<T>());
        return out;
    }

    // Stores val converted to the dimension's type; a value that does not fit, or a dimension
    // not in the layout, leaves the point unchanged.
    template <typename T>
    void setField(Dimension::Id dim, T val) {
        if (!layout_) return;
        const PointLayout::DimSlot& s = layout_->slot(dim);
        if (s.type == Dimension::Type::None) return;
        char* row = this->row();
        if (!row) return;
        if (s.type == detail::typeOf<T>()) {
            std::memcpy(row + s.offset, &val, sizeof(T));
            return;
        }
        detail::storeFromDouble(s.type, static_cast<double>(val), row + s.offset);
    }

private:
    // The row is looked up once per point; a handle made before the table was finalized
    // finds it on first use.
    char* row() const {
        if (!row_ && table_) row_ = table_->getPoint(idx_);
        return row_;
    }

    BasePointTable* table_ = nullptr;
    PointLayout* layout_ = nullptr;
    PointId idx_ = 0;
    mutable char* row_ = nullptr;
};

}  // namespace pdal
