#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pdal/Stage.hpp"

namespace pdal {

// Makes stages by name; every stage made is owned by the factory.
class StageFactory {
public:
    // The argument is accepted for compatibility and has no effect.
    StageFactory(bool ignored = true);
    StageFactory(const StageFactory&) = delete;
    StageFactory& operator=(const StageFactory&) = delete;
    ~StageFactory();

    // "readers.e57" or "filters.streamcallback"; null for any other name.
    Stage* createStage(const std::string& type);
    void destroyStage(Stage* stage);

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<Stage>> stages_;
};

}  // namespace pdal
