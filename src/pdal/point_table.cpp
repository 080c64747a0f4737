#include <algorithm>
#include <cstring>

#include "pdal/PointTable.hpp"

namespace pdal {

StreamPointTable::StreamPointTable(point_count_t capacity)
    : capacity_(std::max<point_count_t>(capacity, 1)),
      skips_(static_cast<std::size_t>(capacity_), 0) {}

void StreamPointTable::clear(point_count_t count) {
    count = std::min(count, capacity_);
    numPoints_ = count;
    reset();
    std::fill(skips_.begin(), skips_.begin() + static_cast<std::ptrdiff_t>(count), 0);
    numPoints_ = 0;
}

FixedPointTable::FixedPointTable(point_count_t capacity) : StreamPointTable(capacity) {}

void FixedPointTable::finalize() {
    if (layout_.finalized()) return;
    layout_.finalize();
    rowSize_ = layout_.pointSize();
    buffer_.assign((static_cast<std::size_t>(capacity_) + 1) * rowSize_, 0);
    rows_ = buffer_.empty() ? nullptr : buffer_.data();
}

void FixedPointTable::reset() {
    // Rows past numPoints() were not written in this chunk and are still zero.
    if (rows_) std::memset(rows_, 0, static_cast<std::size_t>(numPoints_) * rowSize_);
}

}  // namespace pdal
