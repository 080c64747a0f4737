#pragma once

#include <cstddef>
#include <string>

// The two "Browse" buttons' dialogs. True with the chosen path (UTF-8); false when cancelled
// or when no dialog can be shown, the path then empty.
bool browseOutputFolder(std::string& path);
bool browseInputPointCloudFile(std::string& path);

// Copies at most count - 1 characters of text and a terminator into buffer (count > 0).
void copyToTextBuffer(char* buffer, const std::string& text, std::size_t count);
