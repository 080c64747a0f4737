#include "app/program_state.h"

#include <cstdlib>

std::string defaultOutputFolder() {
    const char* home = std::getenv("HOME");
    std::filesystem::path base =
        (home && *home) ? std::filesystem::path(home) : std::filesystem::path();
    return (base / "Brindlewick" / "OUTPUT").string();
}

ProgramState::ProgramState() { outputFolder = defaultOutputFolder(); }

ProgramState::~ProgramState() { joinExportMonitorThread(*this); }

void joinExportMonitorThread(ProgramState& state) {
    if (state.exportMonitorThread.joinable()) state.exportMonitorThread.join();
}
