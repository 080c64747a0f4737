#include "platform/program_path.h"

#include <system_error>
#include <unistd.h>
#include <vector>

namespace platform {

std::filesystem::path runningProgramPath(const std::string& fallbackName, const char* procSelfExe) {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink(procSelfExe, buffer.data(), buffer.size());
        if (n < 0) break;
        if (static_cast<std::size_t>(n) < buffer.size())
            return std::filesystem::path(std::string(buffer.data(), static_cast<std::size_t>(n)));
        if (buffer.size() >= (1u << 20)) break;
        buffer.resize(buffer.size() * 2);  // a truncated target: try a longer buffer
    }
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::current_path(ec);
    return folder / fallbackName;
}

}  // namespace platform
