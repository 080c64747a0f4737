#include "pdal/Options.hpp"

namespace pdal {

std::vector<Option> Options::getOptions(const std::string& name) const {
    std::vector<Option> out;
    if (name.empty()) {
        for (const auto& entry : options_) out.push_back(entry.second);
        return out;
    }
    const auto range = options_.equal_range(name);
    for (auto it = range.first; it != range.second; ++it) out.push_back(it->second);
    return out;
}

StringList Options::getKeys() const {
    StringList keys;
    for (const auto& entry : options_)
        if (keys.empty() || keys.back() != entry.first) keys.push_back(entry.first);
    return keys;
}

}  // namespace pdal
