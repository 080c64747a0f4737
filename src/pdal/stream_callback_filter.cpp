#include "pdal/filters/StreamCallbackFilter.hpp"

namespace pdal {

bool StreamCallbackFilter::processChunk(StreamPointTable& table, point_count_t count) {
    if (!callback_) return true;
    PointRef point(table, 0);
    for (point_count_t i = 0; i < count; ++i) {
        if (table.skip(i)) continue;
        point.setPointId(i);
        if (!callback_(point)) return false;
    }
    return true;
}

}  // namespace pdal
