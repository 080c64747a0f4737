#pragma once

#include "pdal/Stage.hpp"

namespace pdal {

// A stage that can run in stream mode: points pass chunk by chunk through a StreamPointTable.
class Streamable : public virtual Stage {
public:
    // Finalizes the table, then repeats: the source fills a chunk, every later stage handles
    // it in order, the table is cleared. A filter's false stops the stream.
    void execute(StreamPointTable& table) override;
    bool pipelineStreamable() const override;

protected:
    Streamable() = default;
    bool streamable() const override { return true; }
};

}  // namespace pdal
