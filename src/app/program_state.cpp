#include "app/program_state.h"

#include <cstdlib>
#include <filesystem>

std::string defaultOutputFolder() {
    const char* home = std::getenv("HOME");
    std::filesystem::path base =
        (home && *home) ? std::filesystem::path(home) : std::filesystem::path();
    return (base / "Brindlewick" / "OUTPUT").string();
}

ProgramState::ProgramState() { outputFolder = defaultOutputFolder(); }
