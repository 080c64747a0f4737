#include "gui/input_kind.h"

#include "points/input/text_utils.h"

InputKind inputKindOf(const std::string& path) {
    if (hasE57Extension(path)) return InputKind::E57;
    if (hasXyzExtension(path)) return InputKind::Xyz;
    if (isLasPath(path)) return InputKind::Las;
    if (isLazPath(path)) return InputKind::Laz;
    if (isPtxPath(path)) return InputKind::Ptx;
    return InputKind::Unknown;
}

bool isLazPath(const std::string& path) { return lowerExtension(path) == ".laz"; }
bool isPtxPath(const std::string& path) { return lowerExtension(path) == ".ptx"; }

std::string trimmedText(const char* text) { return trim(text ? text : ""); }

bool preflightAttemptedFor(const E57PreflightAnalysis& preflight, const std::string& trimmedPath) {
    return preflight.attempted && preflight.inputPath == trimmedPath;
}

bool preflightMatchesInput(const E57PreflightAnalysis& preflight, const std::string& trimmedPath) {
    return preflightAttemptedFor(preflight, trimmedPath) && preflight.ok;
}

bool photoPassAvailable(const E57PreflightAnalysis& preflight, const std::string& trimmedPath) {
    return preflightMatchesInput(preflight, trimmedPath) && preflight.data3DScans >= 1 &&
           preflight.image2DBlocks >= 1 && preflight.nonCartesianScans == 0;
}
