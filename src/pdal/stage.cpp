#include <algorithm>

#include "pdal/Stage.hpp"

namespace pdal {

void Stage::collect(std::vector<Stage*>& out) {
    if (std::find(out.begin(), out.end(), this) != out.end()) return;
    for (Stage* in : inputs_) in->collect(out);
    out.push_back(this);
}

void Stage::prepare(PointTableRef table) {
    std::vector<Stage*> stages;
    collect(stages);
    for (Stage* s : stages) {
        s->processOptions(s->options_);
        s->initialize();
        s->addDimensions(table.layout());
    }
}

void Stage::execute(StreamPointTable&) {
    throw pdal_error("Attempting to use stream mode with a non-streamable stage.");
}

bool Stage::pipelineStreamable() const {
    if (!streamable()) return false;
    for (const Stage* in : inputs_)
        if (!in->pipelineStreamable()) return false;
    return true;
}

void Stage::processOptions(const Options& options) {
    for (const Option& o : options.getOptions())
        throwError("Unexpected argument '" + o.getName() + "'.");
}

void Stage::throwError(const std::string& message) const {
    throw pdal_error(getName() + ": " + message);
}

}  // namespace pdal
