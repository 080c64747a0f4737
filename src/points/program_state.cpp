#include "points/program_state.h"

#include <cstdlib>

std::string defaultOutputFolder() {
    const char* home = std::getenv("HOME");
    std::filesystem::path base = (home && *home) ? std::filesystem::path(home) : std::filesystem::path();
    return (base / "Brindlewick" / "OUTPUT").string();
}

ProgramState::ProgramState() : outputFolder(defaultOutputFolder()) {
    tileCounts.reserve(kBuildMapReserve);
    tileSamples.reserve(kBuildMapReserve);
    tileOffers.reserve(kBuildMapReserve);
}

ProgramState::~ProgramState() { joinBuildThread(*this); }

void joinBuildThread(ProgramState& state) {
    if (state.buildThread.joinable()) state.buildThread.join();
}
