#pragma once

#include <functional>
#include <string>

#include "pdal/PointRef.hpp"
#include "pdal/Streamable.hpp"

namespace pdal {

// Hands every streamed point to a callback; the callback's false skips that one point (later
// stages do not see it) and the stream goes on.
class StreamCallbackFilter : public Streamable {
public:
    using CallbackFunc = std::function<bool(PointRef&)>;

    StreamCallbackFilter() = default;

    void setCallback(CallbackFunc cb) { callback_ = std::move(cb); }
    std::string getName() const override { return "filters.streamcallback"; }

protected:
    bool processChunk(StreamPointTable& table, point_count_t count) override;

private:
    CallbackFunc callback_;
};

}  // namespace pdal
