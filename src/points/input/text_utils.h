#pragma once

#include <string>
#include <string_view>

// Lower-cased text from the last '.' of the whole path string; "" without a dot.
std::string lowerExtension(const std::string& path);
bool hasE57Extension(const std::string& path);
bool hasXyzExtension(const std::string& path);
bool isLasPath(const std::string& path);

// Strips ' ', '\t', '\r' and '\n' at both ends.
std::string trim(std::string_view text);
std::string_view trimView(std::string_view text);

std::string smallIntToText(int value);

// Puts an optional error text: cleared on success, filled on failure.
inline void setError(std::string* error, const std::string& message) {
    if (error) *error = message;
}
inline void clearError(std::string* error) {
    if (error) error->clear();
}
