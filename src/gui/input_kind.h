#pragma once

#include <string>

#include "points/input/e57_preflight.h"

enum class InputKind { Unknown, E57, Xyz, Las, Laz, Ptx };

// By the lower-cased extension of the path as given (callers trim where they must).
InputKind inputKindOf(const std::string& path);
bool isLazPath(const std::string& path);
bool isPtxPath(const std::string& path);
inline bool isRecognisedInput(InputKind k) { return k != InputKind::Unknown; }
inline bool isSupportedInput(InputKind k) {
    return k == InputKind::E57 || k == InputKind::Xyz || k == InputKind::Las;
}

// The buffer's text trimmed of blanks, tabs, CR and LF at both ends.
std::string trimmedText(const char* text);

// The preflight record was analysed for exactly this (trimmed) path; `ok` not required.
bool preflightAttemptedFor(const E57PreflightAnalysis& preflight, const std::string& trimmedPath);
// Attempted, ok, and for exactly this (trimmed) path.
bool preflightMatchesInput(const E57PreflightAnalysis& preflight, const std::string& trimmedPath);
// A matching record of an all-Cartesian file with scans and Image2D blocks.
bool photoPassAvailable(const E57PreflightAnalysis& preflight, const std::string& trimmedPath);
