#include "points/input/text_utils.h"

#include <cctype>

std::string lowerExtension(const std::string& path) {
    const auto dot = path.rfind('.');
    if (dot == std::string::npos) return {};
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool hasE57Extension(const std::string& path) { return lowerExtension(path) == ".e57"; }
bool hasXyzExtension(const std::string& path) { return lowerExtension(path) == ".xyz"; }
bool isLasPath(const std::string& path) { return lowerExtension(path) == ".las"; }

namespace {
bool isTrimmed(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

std::string_view trimView(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isTrimmed(text[begin])) ++begin;
    while (end > begin && isTrimmed(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::string trim(std::string_view text) { return std::string(trimView(text)); }

std::string smallIntToText(int value) {
    static const char* const small[] = {"0", "1", "2", "3", "4", "5"};
    if (value >= 0 && value <= 5) return small[value];
    return std::to_string(value);
}
