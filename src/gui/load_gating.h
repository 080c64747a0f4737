#pragma once

#include <string>

#include "points/input/e57_preflight.h"

// The startup screen's one line on whether the input can be loaded, the first rule that applies.
std::string loadGatingLine(double tileSize, const char* inputText, const char* outputText,
                           const E57PreflightAnalysis& preflight);
// A positive tile size, both texts given, a supported input, and an E57 input analysed
// successfully for exactly this path.
bool isLoadReady(double tileSize, const char* inputText, const char* outputText,
                 const E57PreflightAnalysis& preflight);
