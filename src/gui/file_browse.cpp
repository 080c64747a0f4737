#include "gui/file_browse.h"

#include <cstring>
#include <iterator>

#include "platform/native_file_dialog.h"

namespace {

const platform::FileDialogFilter kPointCloudFilters[] = {
    {"Point cloud files", "*.e57;*.xyz;*.las;*.laz;*.ptx"},
    {"E57 files", "*.e57"},
    {"XYZ files", "*.xyz"},
    {"LAS / LAZ files", "*.las;*.laz"},
    {"PTX files", "*.ptx"},
    {"All files", "*.*"},
};

}  // namespace

bool browseOutputFolder(std::string& path) {
    return platform::showNativeFileDialog(path, true, "Select output folder", nullptr, 0);
}

bool browseInputPointCloudFile(std::string& path) {
    return platform::showNativeFileDialog(path, false, "Select input point cloud file",
                                          kPointCloudFilters,
                                          static_cast<int>(std::size(kPointCloudFilters)));
}

void copyToTextBuffer(char* buffer, const std::string& text, std::size_t count) {
    if (!buffer || count == 0) return;
    const std::size_t n = text.size() < count - 1 ? text.size() : count - 1;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}
