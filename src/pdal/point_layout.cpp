#include "pdal/PointLayout.hpp"

#include "pdal/pdal_types.hpp"

namespace pdal {

void PointLayout::registerDim(Dimension::Id id) { registerDim(id, Dimension::defaultType(id)); }

void PointLayout::registerDim(Dimension::Id id, Dimension::Type type) {
    const auto i = static_cast<unsigned>(id);
    if (id == Dimension::Id::Unknown || i >= slots_.size() || type == Dimension::Type::None)
        throw pdal_error("Can't register dimension " + std::to_string(i) + ": unknown id or type.");
    if (slots_[i].type != Dimension::Type::None) return;
    if (finalized_)
        throw pdal_error("Can't register dimension '" + Dimension::name(id) +
                         "' after the layout is final.");
    slots_[i] = DimSlot{type, pointSize_};
    pointSize_ += Dimension::size(type);
    dims_.push_back(id);
}

}  // namespace pdal
