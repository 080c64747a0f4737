#pragma once

#include <cstddef>
#include <vector>

#include "pdal/PointLayout.hpp"
#include "pdal/pdal_types.hpp"

namespace pdal {

class BasePointTable {
public:
    BasePointTable(const BasePointTable&) = delete;
    BasePointTable& operator=(const BasePointTable&) = delete;
    virtual ~BasePointTable() = default;

    virtual PointLayoutPtr layout() const = 0;
    virtual void finalize() = 0;

    // Start of point row idx; null before the table is finalized. Rows are contiguous.
    char* getPoint(PointId idx) const {
        return rows_ ? rows_ + static_cast<std::size_t>(idx) * rowSize_ : nullptr;
    }

protected:
    BasePointTable() = default;

    char* rows_ = nullptr;
    std::size_t rowSize_ = 0;
};

using PointTableRef = BasePointTable&;

// A table that holds a bounded number of rows and is refilled chunk by chunk while streaming.
class StreamPointTable : public BasePointTable {
public:
    point_count_t capacity() const { return capacity_; }
    // While reset() runs: the rows the chunk filled (skipped ones included).
    point_count_t numPoints() const { return numPoints_; }
    void setNumPoints(point_count_t n) { numPoints_ = n; }

    bool skip(PointId idx) const { return skips_[static_cast<std::size_t>(idx)] != 0; }
    void setSkip(PointId idx) { skips_[static_cast<std::size_t>(idx)] = 1; }

    // Ends a chunk of count rows: reset() sees them as numPoints(), then the skips are cleared.
    void clear(point_count_t count);

protected:
    explicit StreamPointTable(point_count_t capacity);
    // Called by clear() at the end of each chunk, before the next is read.
    virtual void reset() {}

    point_count_t capacity_;
    point_count_t numPoints_ = 0;
    std::vector<char> skips_;
};

// Stream table with a fixed capacity that owns its layout and row buffer.
class FixedPointTable : public StreamPointTable {
public:
    // A capacity of 0 is taken as 1: a chunk must hold at least one point.
    FixedPointTable(point_count_t capacity);  // not explicit, as in PDAL

    PointLayoutPtr layout() const override { return const_cast<PointLayout*>(&layout_); }
    // Freezes the layout and allocates (capacity + 1) zeroed rows; later calls do nothing.
    void finalize() override;

protected:
    // Zeroes the chunk's rows: a dimension a point does not write reads back as 0.
    void reset() override;

private:
    PointLayout layout_;
    std::vector<char> buffer_;
};

}  // namespace pdal
