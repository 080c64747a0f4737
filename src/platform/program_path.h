#pragma once

#include <filesystem>
#include <string>

namespace platform {

// The running program's file, read from the link at procSelfExe; when the link cannot be
// read, the working folder / fallbackName.
std::filesystem::path runningProgramPath(const std::string& fallbackName,
                                         const char* procSelfExe = "/proc/self/exe");

}  // namespace platform
