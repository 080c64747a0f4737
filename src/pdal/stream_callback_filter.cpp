#include "pdal/filters/StreamCallbackFilter.hpp"

namespace pdal {

bool StreamCallbackFilter::processChunk(StreamPointTable& table, point_count_t count) {
    if (!callback_) return true;
    PointRef point(table, 0);
    for (point_count_t i = 0; i < count; ++i) {
        if (table.skip(i)) continue;
        point.setPointId(i);
        // As PDAL: false drops this one point from the later stages; the stream goes on.
        if (!callback_(point)) table.setSkip(i);
    }
    return true;
}

}  // namespace pdal
