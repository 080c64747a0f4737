#include "points/preview/preview_build_session.h"

PreviewBuildSession::PreviewBuildSession() {
    tileCounts.reserve(kBuildMapReserve);
    tileSamples.reserve(kBuildMapReserve);
    tileOffers.reserve(kBuildMapReserve);
}

PreviewBuildSession::~PreviewBuildSession() { joinBuildThread(*this); }

void joinBuildThread(PreviewBuildSession& session) {
    if (session.buildThread.joinable()) session.buildThread.join();
}
