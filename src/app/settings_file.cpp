#include "app/settings_file.h"

#include <fstream>
#include <iostream>
#include <system_error>

#include "platform/atomic_write.h"
#include "points/job/ini_text.h"

namespace fs = std::filesystem;

namespace {

bool replaceFile(const fs::path& file, const std::string& text) {
    std::error_code ec;
    // A linked settings file is updated where it lies (a dangling link included); the link
    // stays.
    fs::path target = file;
    for (int hop = 0; hop < 40 && fs::is_symlink(fs::symlink_status(target, ec)); ++hop) {
        const fs::path next = fs::read_symlink(target, ec);
        if (ec) return false;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return platform::replaceFileWhole(target.string(), text, true);
}

}  // namespace

bool loadSettings(const fs::path& file, std::string* inputPath, std::string* outputFolder) {
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) return false;
    forEachIniEntry(
        in, [&](const std::string& section, const std::string& key, const std::string& value) {
            if (section != "Paths") return;
            if (key == "InputE57Path" && inputPath) *inputPath = value;
            if (key == "OutputFolder" && outputFolder) *outputFolder = value;
        });
    return true;
}

bool saveSettings(const fs::path& file, const std::string& inputPath,
                  const std::string& outputFolder) {
    // A line break inside a value would come back as another path, or as a key of its own.
    const bool representable = inputPath.find_first_of("\r\n") == std::string::npos &&
                               outputFolder.find_first_of("\r\n") == std::string::npos;
    if (representable && replaceFile(file, "[Paths]\nInputE57Path=" + inputPath +
                                               "\nOutputFolder=" + outputFolder + "\n"))
        return true;
    std::cerr << "WARNING: could not save settings.ini to " << file.string() << std::endl;
    return false;
}
