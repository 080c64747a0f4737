#include "platform/program_path.h"

#include <string_view>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace platform {

std::filesystem::path runningProgramPath(const std::string& fallbackName, const char* procSelfExe) {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = ::readlink(procSelfExe, buffer.data(), buffer.size());
        if (n < 0) break;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            std::string target(buffer.data(), static_cast<std::size_t>(n));
            // A program file replaced while running (an upgrade, a rebuild) reads
            // "<path> (deleted)": the new file at that path is the program to start.
            constexpr std::string_view kDeleted = " (deleted)";
            if (target.ends_with(kDeleted)) target.resize(target.size() - kDeleted.size());
            return std::filesystem::path(target);
        }
        if (buffer.size() >= (1u << 20)) break;
        buffer.resize(buffer.size() * 2);  // a truncated target: try a longer buffer
    }
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::current_path(ec);
    return folder / fallbackName;
}

}  // namespace platform
