#include "points/input/e57_input_check.h"

#include <filesystem>
#include <stdexcept>
#include <system_error>

std::string e57InputRefusal(const std::string& path) {
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (ec || status.type() == std::filesystem::file_type::regular) return {};
    return "E57 input is not a regular file: " + path;
}

void requireRegularE57Input(const std::string& path) {
    if (std::string refusal = e57InputRefusal(path); !refusal.empty())
        throw std::runtime_error(refusal);
}
