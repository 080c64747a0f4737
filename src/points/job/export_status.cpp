#include "points/job/export_status.h"

#include <charconv>
#include <fstream>

#include "platform/atomic_write.h"
#include "points/job/ini_text.h"

namespace {

// One fixed decimal, independent of the locale.
void appendPercent(std::string& out, double percent) {
    char digits[64];
    const auto r =
        std::to_chars(digits, digits + sizeof digits, percent, std::chars_format::fixed, 1);
    out.append(digits, r.ptr);
}

void appendCount(std::string& out, std::uint64_t value) {
    char digits[32];
    const auto r = std::to_chars(digits, digits + sizeof digits, value);
    out.append(digits, r.ptr);
}

constexpr std::uint64_t kMillion = 1000000;

}  // namespace

bool writeExportStatusFile(const std::filesystem::path& statusPath, const std::string& state,
                           const std::string& message, int* error) {
    std::string text;
    text.reserve(40 + state.size() + 2 * message.size());
    text.append("[Status]\nState=").append(state);
    text.append("\nMessage=").append(message);
    text.append("\nDetails=").append(message).append("\n");

    // POSIX has no share modes: the report goes to a new file beside the status file and is
    // renamed over it, so a reader sees the previous report or this one, never a partial one.
    // A path that names a device or a pipe is written in place, never replaced.
    return platform::replaceFileWhole(statusPath.string(), text, false, error);
}

std::string exportProgressSentence(const std::string& method, std::uint64_t pointsRead,
                                   std::uint64_t totalPoints, std::uint64_t pointsWritten,
                                   const std::string& extra, double percentLo, double percentHi) {
    double percent = percentLo;
    if (totalPoints != 0) {
        percent = percentLo + (static_cast<double>(pointsRead) / static_cast<double>(totalPoints)) *
                                  (percentHi - percentLo);
        if (percent > percentHi) percent = percentHi;
        if (percent < percentLo) percent = percentLo;
    }
    std::string text = "Exporting ";
    appendPercent(text, percent);
    text.append("% | read=");
    appendCount(text, pointsRead / kMillion);
    text.append("M / ");
    appendCount(text, totalPoints / kMillion);
    text.append("M | written=");
    appendCount(text, pointsWritten);
    text.append(" | method=").append(method);
    if (!extra.empty()) text.append(" | ").append(extra);
    return text;
}

std::string exportKeptProgressSentence(std::uint64_t pointsRead, std::uint64_t totalPoints,
                                       std::uint64_t pointsKept, const char* method,
                                       std::uint64_t outputs) {
    double percent = 0.0;
    if (totalPoints != 0) {
        percent = 100.0 * static_cast<double>(pointsRead) / static_cast<double>(totalPoints);
        // Never 100% while the pass still runs.
        if (percent > 99.9) percent = 99.9;
        if (percent < 0.0) percent = 0.0;
    }
    std::string text = "Exporting ";
    appendPercent(text, percent);
    text.append("% | read=");
    appendCount(text, pointsRead / kMillion);
    text.append("M / ");
    appendCount(text, totalPoints / kMillion);
    text.append("M | kept=");
    appendCount(text, pointsKept / kMillion);
    text.append("M | outputs=");
    appendCount(text, outputs);
    text.append(" | method=").append(method ? method : "export");
    return text;
}

void writeExportProgressStatus(const std::filesystem::path& statusPath, const std::string& method,
                               std::uint64_t pointsRead, std::uint64_t totalPoints,
                               std::uint64_t pointsWritten, const std::string& extra,
                               double percentLo, double percentHi) {
    writeExportStatusFile(statusPath, "Running",
                          exportProgressSentence(method, pointsRead, totalPoints, pointsWritten,
                                                 extra, percentLo, percentHi));
}

void writeExportKeptProgressStatus(const std::filesystem::path* statusPath,
                                   std::uint64_t pointsRead, std::uint64_t totalPoints,
                                   std::uint64_t pointsKept, const char* method,
                                   std::uint64_t outputs) {
    if (!statusPath) return;
    writeExportStatusFile(
        *statusPath, "Running",
        exportKeptProgressSentence(pointsRead, totalPoints, pointsKept, method, outputs));
}

bool readExportStatusFile(const std::filesystem::path& statusPath, std::string* state,
                          std::string* message) {
    std::string localState;
    std::string localMessage;
    std::string& stateOut = state ? *state : localState;
    std::string& messageOut = message ? *message : localMessage;
    stateOut.clear();
    messageOut.clear();

    // Opened without any lock, like the writer; a half-written file simply lacks its State.
    std::ifstream in(statusPath);
    if (!in.is_open()) return false;
    forEachIniEntry(
        in, [&](const std::string& section, const std::string& key, const std::string& value) {
            if (section != "Status") return;
            if (key == "State")
                stateOut = value;
            else if (key == "Message")
                messageOut = value;
        });
    return !stateOut.empty();
}
