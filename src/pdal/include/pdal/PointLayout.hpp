#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "pdal/Dimension.hpp"

namespace pdal {

// Which dimensions a point has, their types and their byte offsets in a point row.
class PointLayout {
public:
    // Where one dimension sits in a row; type None when the dimension is not registered.
    struct DimSlot {
        Dimension::Type type = Dimension::Type::None;
        std::size_t offset = 0;
    };

    PointLayout() = default;
    PointLayout(const PointLayout&) = delete;
    PointLayout& operator=(const PointLayout&) = delete;
    virtual ~PointLayout() = default;

    // Registers with the default type. A dimension registered twice keeps its first slot.
    // Throws pdal_error once the layout is final.
    void registerDim(Dimension::Id id);
    void registerDim(Dimension::Id id, Dimension::Type type);

    bool hasDim(Dimension::Id id) const { return slot(id).type != Dimension::Type::None; }
    const Dimension::IdList& dims() const { return dims_; }
    Dimension::Type dimType(Dimension::Id id) const { return slot(id).type; }
    std::string dimName(Dimension::Id id) const { return Dimension::name(id); }
    std::size_t dimOffset(Dimension::Id id) const { return slot(id).offset; }
    std::size_t pointSize() const { return pointSize_; }

    void finalize() { finalized_ = true; }
    bool finalized() const { return finalized_; }

    // Unregistered and unknown ids give a slot of type None.
    const DimSlot& slot(Dimension::Id id) const {
        const auto i = static_cast<unsigned>(id);
        return i < slots_.size() ? slots_[i] : noSlot_;
    }

private:
    static constexpr std::size_t kSlots = 256;

    std::array<DimSlot, kSlots> slots_{};
    DimSlot noSlot_{};
    Dimension::IdList dims_;
    std::size_t pointSize_ = 0;
    bool finalized_ = false;
};

using PointLayoutPtr = PointLayout*;

}  // namespace pdal
