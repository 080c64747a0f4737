#include "gui/load_gating.h"

#include "gui/input_kind.h"

namespace {
// Blanks only count as empty: the load takes the trimmed text.
bool isEmptyText(const char* text) { return trimmedText(text).empty(); }
}  // namespace

std::string loadGatingLine(double tileSize, const char* inputText, const char* outputText,
                           const E57PreflightAnalysis& preflight) {
    if (!(tileSize > 0.0)) return "Coarse tile size must be > 0.";
    if (isEmptyText(inputText)) return "Enter the input .e57 or .xyz file path.";
    if (isEmptyText(outputText)) return "Enter the output folder path.";
    const std::string path = trimmedText(inputText);
    switch (inputKindOf(path)) {
        case InputKind::Unknown: return "Supported input files: .e57, .xyz, .las, .laz, .ptx";
        case InputKind::Laz:
        case InputKind::Ptx:
            return "This format is recognized, but the reader is not connected yet. Phase 9A.2 "
                   "will enable LAS/LAZ first.";
        case InputKind::Las: return "Ready: the preview map will be built from the input LAS.";
        case InputKind::Xyz: return "Ready: the preview map will be built from the input XYZ.";
        case InputKind::E57:
            if (!preflightAttemptedFor(preflight, path)) return "Read E57 header / metadata first.";
            if (!preflight.ok) return "Preflight analysis failed. Fix the input file/path first.";
            return "Ready: choose Fast load or Regular load below.";
    }
    return {};
}

bool isLoadReady(double tileSize, const char* inputText, const char* outputText,
                 const E57PreflightAnalysis& preflight) {
    if (!(tileSize > 0.0) || isEmptyText(inputText) || isEmptyText(outputText)) return false;
    const std::string path = trimmedText(inputText);
    const InputKind kind = inputKindOf(path);
    if (!isSupportedInput(kind)) return false;
    return kind != InputKind::E57 || preflightMatchesInput(preflight, path);
}
