#include "gui/file_browse.h"

#include <cstring>

// Placeholder until the native file chooser is connected.
bool browseOutputFolder(std::string& path) {
    path.clear();
    return false;
}

bool browseInputPointCloudFile(std::string& path) {
    path.clear();
    return false;
}

void copyToTextBuffer(char* buffer, const std::string& text, std::size_t count) {
    if (!buffer || count == 0) return;
    const std::size_t n = text.size() < count - 1 ? text.size() : count - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}
