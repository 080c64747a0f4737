#pragma once

#include <string>
#include <vector>

#include "pdal/Options.hpp"
#include "pdal/PointLayout.hpp"
#include "pdal/PointTable.hpp"
#include "pdal/pdal_types.hpp"

namespace pdal {

class Streamable;

// One step of a pipeline: a reader (no inputs) or a filter fed by its inputs.
class Stage {
public:
    Stage(const Stage&) = delete;
    Stage& operator=(const Stage&) = delete;
    virtual ~Stage() = default;

    // Adds an input; the stage does not own it.
    void setInput(Stage& input) { inputs_.push_back(&input); }
    // Replaces every option set before.
    void setOptions(Options options) { options_ = std::move(options); }

    // From the sources to this stage: reads the options, initializes, registers dimensions.
    void prepare(PointTableRef table);
    // Stream mode. Throws pdal_error here; streamable stages override it.
    virtual void execute(StreamPointTable& table);

    virtual bool pipelineStreamable() const;
    virtual std::string getName() const = 0;

protected:
    Stage() = default;

    const Options& options() const { return options_; }
    const std::vector<Stage*>& inputs() const { return inputs_; }

    // Takes the options; the default accepts none ("<stage>: Unexpected argument '<name>'.").
    virtual void processOptions(const Options& options);
    virtual void initialize() {}
    virtual void addDimensions(PointLayoutPtr) {}
    virtual void ready(PointTableRef) {}
    virtual void done(PointTableRef) {}
    virtual bool streamable() const { return false; }

    // Stream hooks, called once per chunk, never per point.
    // A source fills rows 0..k-1 of the table (k <= capacity) and returns k; 0 ends the data.
    virtual point_count_t fillChunk(StreamPointTable&) { return 0; }
    // A filter handles the non-skipped rows 0..count-1; false stops the stream.
    virtual bool processChunk(StreamPointTable&, point_count_t) { return true; }

    [[noreturn]] void throwError(const std::string& message) const;

private:
    friend class Streamable;

    // This stage and everything upstream, sources first.
    void collect(std::vector<Stage*>& out);

    std::vector<Stage*> inputs_;
    Options options_;
};

}  // namespace pdal
