#pragma once

#include <string>
#include <vector>

namespace platform {

// One entry of a file dialog's type list: its name and its patterns, ';'-separated
// ("*.las;*.laz").
struct FileDialogFilter {
    const char* name;
    const char* pattern;
};

// A modal native dialog (the desktop portal's when there is one, GTK's own otherwise) that
// picks an existing folder or file. True with the chosen path; false when cancelled or when
// no dialog can be shown (no display), the path then empty.
bool showNativeFileDialog(std::string& path, bool pickFolder, const char* title,
                          const FileDialogFilter* filters, int count);

// The globs one filter pattern stands for: split at ';' and trimmed, "*.*" as "*", and
// letters matching either case (file names from Windows scanners often carry ".E57").
std::vector<std::string> fileDialogGlobs(const char* pattern);

}  // namespace platform
