#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace pdal {

using PointId = uint64_t;
using point_count_t = uint64_t;
using StringList = std::vector<std::string>;

// The one error type the library raises itself; what() is the message.
class pdal_error : public std::runtime_error {
public:
    explicit pdal_error(const std::string& msg) : std::runtime_error(msg) {}
};

}  // namespace pdal
