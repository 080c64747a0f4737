#include "pdal/StageFactory.hpp"

#include <algorithm>

#include "e57_reader_stage.h"
#include "pdal/filters/StreamCallbackFilter.hpp"

namespace pdal {

StageFactory::StageFactory(bool) {}

StageFactory::~StageFactory() = default;

Stage* StageFactory::createStage(const std::string& type) {
    std::unique_ptr<Stage> stage;
    if (type == "readers.e57")
        stage = std::make_unique<E57ReaderStage>();
    else if (type == "filters.streamcallback")
        stage = std::make_unique<StreamCallbackFilter>();
    else
        return nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    stages_.push_back(std::move(stage));
    return stages_.back().get();
}

void StageFactory::destroyStage(Stage* stage) {
    std::lock_guard<std::mutex> lock(mutex_);
    stages_.erase(
        std::remove_if(stages_.begin(), stages_.end(),
                       [stage](const std::unique_ptr<Stage>& s) { return s.get() == stage; }),
        stages_.end());
}

}  // namespace pdal
