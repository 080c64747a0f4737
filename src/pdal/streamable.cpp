#include "pdal/Streamable.hpp"

namespace pdal {

bool Streamable::pipelineStreamable() const { return Stage::pipelineStreamable(); }

void Streamable::execute(StreamPointTable& table) {
    std::vector<Stage*> stages;
    collect(stages);
    for (Stage* s : stages) {
        if (!s->streamable())
            throwError(
                "Attempting to use stream mode with a stage that doesn't support streaming.");
        if (s->inputs_.size() > 1) throwError("Stream mode supports one input per stage.");
    }

    table.finalize();
    for (Stage* s : stages) s->ready(table);

    Stage* source = stages.front();
    try {
        bool go = true;
        while (go) {
            const point_count_t n = source->fillChunk(table);
            if (n == 0) break;
            table.setNumPoints(n);
            for (std::size_t i = 1; i < stages.size() && go; ++i)
                go = stages[i]->processChunk(table, n);
            table.clear(n);
        }
    } catch (...) {
        // No clear(): a table's reset() may hand the rows on, and this chunk is not complete.
        for (Stage* s : stages) {
            try {
                s->done(table);
            } catch (...) {
                // The first error is the one to report.
            }
        }
        throw;
    }
    for (Stage* s : stages) s->done(table);
}

}  // namespace pdal
