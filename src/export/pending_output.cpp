#include "export/pending_output.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <system_error>
#include <utility>

#include "export/e57_route_support.h"
#include "export/output_naming.h"
#include "platform/file_io.h"
#include "points/input/exception_text.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void refuse(const char* prefix, const std::string& what) {
    throw std::runtime_error(std::string(prefix) + " failed: " + what);
}

constexpr const char* kWorkingMark = ".unfinished-";

std::string uniqueTemporaryPath(const std::string& outputPath) {
    static std::atomic<unsigned> made{0};
    const fs::path output(outputPath);
    const std::string tail = kWorkingMark + std::to_string(platform::processId()) + "-" +
                             std::to_string(++made) + ".tmp";
    return (output.parent_path() /
            fitFileName(output.parent_path(), output.filename().string(), tail))
        .string();
}

// Digits as std::to_string() writes a positive number: no sign, no leading zero.
bool countingDigits(const std::string& text, std::size_t from, std::size_t to) {
    if (from >= to || to - from > 18 || text[from] == '0') return false;
    for (std::size_t i = from; i < to; ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    return true;
}

// The writer's process id in a name ending as uniqueTemporaryPath() ends one,
// ".unfinished-<pid>-<n>.tmp", and that ending; 0 for any other name.
long workingNameWriter(const std::string& name, std::string* tail) {
    const std::size_t at = name.rfind(kWorkingMark);
    if (at == std::string::npos || name.size() < at + 4 || name.compare(name.size() - 4, 4, ".tmp"))
        return 0;
    const std::size_t end = name.size() - 4;
    const std::size_t pidFrom = at + std::char_traits<char>::length(kWorkingMark);
    const std::size_t dash = name.find('-', pidFrom);
    if (dash == std::string::npos || !countingDigits(name, pidFrom, dash) ||
        !countingDigits(name, dash + 1, end))
        return 0;
    *tail = name.substr(at);
    return std::stol(name.substr(pidFrom, dash - pidFrom));
}

// Removes the working files of the outputs that writers which no longer run left behind: the
// names uniqueTemporaryPath() gives one of them under a process id that no process has now,
// or under ours (left by an earlier holder of our id, in another pid namespace), which no process
// holds locked. A running writer's file stays (ours too: this process's own locks are held
// through other opens), and so does anything but a regular file, and the input. Each folder is
// read once.
void removeDeadWritersFiles(const std::string& inputPath,
                            const std::vector<std::string>& outputPaths) {
    std::map<fs::path, std::vector<std::string>> namesByFolder;
    for (const std::string& path : outputPaths) {
        const fs::path output(path);
        namesByFolder[output.parent_path()].push_back(output.filename().string());
    }
    for (const auto& [folder, outputNames] : namesByFolder) {
        std::error_code ec;
        for (fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec), end;
             !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            std::string tail;
            const long writer = workingNameWriter(name, &tail);
            if (writer == 0) continue;
            const bool ofAnOutput = std::any_of(
                outputNames.begin(), outputNames.end(),
                [&](const std::string& out) { return fitFileName(folder, out, tail) == name; });
            std::error_code statusError;
            if (!ofAnOutput || fs::equivalent(fs::path(inputPath), it->path(), statusError) ||
                !(platform::processGone(writer) || writer == platform::processId()))
                continue;
            platform::removeUnlockedFile(it->path().string());
        }
    }
}

// Holds the lock of a new working file from its creation until it is published or removed, so
// that another export's clean-up leaves it whatever the process id in its name says there. The
// routes open the file by its name and truncate it, so the lock stays on the file they write.
// A file already at the name that nobody holds (a killed writer's that had our process id) is
// removed first; one a writer holds (ours in another pid namespace) keeps its name, and this
// output takes the next. The lock counts only on the file the name still leads to. Where the
// folder takes no file or no lock, the file goes unlocked and the route's own opening says why.
void lockNewWorkingFile(platform::File& lock, std::string& path, const std::string& inputPath,
                        const std::string& outputPath, const char* prefix) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (attempt > 0) {
            path = uniqueTemporaryPath(outputPath);
            refuseOutputOnInput(inputPath, path, prefix);
            refuseFolderAtWorkingFile(path, prefix);
        }
        // A process id in another pid namespace may be a live writer's: only its lock tells.
        platform::removeUnlockedFile(path);
        if (!lock.openLockable(path)) return;
        if (lock.tryLockExclusive()) {
            if (lock.isAt(path)) return;
        } else if (lock.lastError() != EWOULDBLOCK) {
            lock.close();
            return;
        }
        lock.close();
    }
    refuse(prefix, "another export is writing this output: " + path);
}

}  // namespace

bool isWorkingFileName(const std::string& name) {
    std::string tail;
    return workingNameWriter(name, &tail) != 0;
}

void refuseOutputOnInput(const std::string& inputPath, const std::string& path,
                         const char* prefix) {
    std::error_code ec;
    if (fs::equivalent(fs::path(inputPath), fs::path(path), ec))
        refuse(prefix, "the output file is the input file: " + path);
}

void createOutputFolder(const std::string& outputPath, const OutputWords& words) {
    const fs::path parent = fs::path(outputPath).parent_path();
    if (parent.empty()) return;
    std::error_code ec;
    fs::create_directories(parent, ec);
    if (ec) throw std::runtime_error(std::string(words.folderFailure) + ec.message());
}

namespace {

void removeOldOutputsOf(const std::string& inputPath, const std::vector<std::string>& outputPaths,
                        const char* prefix, bool regularOnly) {
    for (const std::string& path : outputPaths) {
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (fs::is_directory(status)) refuse(prefix, "the output path is a folder: " + path);
        if (regularOnly && fs::exists(status) && !fs::is_regular_file(status))
            refuse(prefix, "the output path is not a regular file: " + path);
        refuseOutputOnInput(inputPath, path, prefix);
        // Found now, not when the finished output is moved into place hours later.
        const fs::path output(path);
        if (output.filename().string().size() >
            platform::maxNameLength(output.parent_path().string()))
            refuse(prefix, "the output name is too long for the file system: " + path + " (" +
                               platform::systemErrorText(ENAMETOOLONG) + ")");
    }
    for (const std::string& path : outputPaths) {
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (!fs::exists(status) || fs::is_regular_file(status)) removeFileQuietly(path);
    }
    removeDeadWritersFiles(inputPath, outputPaths);
}

}  // namespace

void refuseFolderAtWorkingFile(const std::string& path, const char* prefix) {
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(path, ec)))
        refuse(prefix, "the working file path is a folder: " + path);
}

void removeOldOutputs(const std::string& inputPath, const std::vector<std::string>& outputPaths,
                      const char* prefix) {
    removeOldOutputsOf(inputPath, outputPaths, prefix, false);
}

void removeOldRegularOutputs(const std::string& inputPath,
                             const std::vector<std::string>& outputPaths, const char* prefix) {
    removeOldOutputsOf(inputPath, outputPaths, prefix, true);
}

PendingOutput::PendingOutput(const std::string& inputPath, const std::string& outputPath,
                             const OutputWords& words, const std::string& temporaryPath)
    : output_(outputPath),
      temporary_(temporaryPath.empty() ? uniqueTemporaryPath(outputPath) : temporaryPath),
      prefix_(words.prefix) {
    // A refusal below throws out of the constructor, so the destructor removes nothing.
    createOutputFolder(output_, words);
    removeOldOutputs(inputPath, {output_}, prefix_);
    std::error_code ec;
    const fs::file_status status = fs::status(output_, ec);
    // A device or pipe named as the output holds no file to replace: it is written directly.
    direct_ = fs::exists(status) && !fs::is_regular_file(status);
    if (direct_) {
        if (!temporaryPath.empty())
            refuse(prefix_, "the output path is not a regular file: " + output_);
        temporary_ = output_;
        return;
    }
    refuseOutputOnInput(inputPath, temporary_, prefix_);
    refuseFolderAtWorkingFile(temporary_, prefix_);
    // A fixed name (the photo routes') is guarded by the route's own WorkingFileLock.
    if (temporaryPath.empty())
        lockNewWorkingFile(lock_, temporary_, inputPath, output_, prefix_);
    else
        removeFileQuietly(temporary_);
}

PendingOutput::~PendingOutput() { discard(); }

PendingOutput::PendingOutput(PendingOutput&& other) noexcept
    : output_(std::move(other.output_)),
      temporary_(std::move(other.temporary_)),
      prefix_(other.prefix_),
      lock_(std::move(other.lock_)),
      direct_(other.direct_),
      open_(std::exchange(other.open_, false)) {}

void PendingOutput::publish() {
    publish(std::string(prefix_) +
                " failed: cannot move the finished output into place: " + output_ + " (",
            ")");
}

void PendingOutput::publish(const std::string& failureText) { publish(failureText, ""); }

void PendingOutput::publish(const std::string& failureText, const char* afterReason) {
    if (!open_) refuse(prefix_, "the output was already given up: " + output_);
    if (direct_) {
        open_ = false;
        return;
    }
    // Lets a test stop a helper at its last moment before the output exists.
    if (std::getenv("BRINDLEWICK_STOP_BEFORE_PUBLISH") != nullptr) std::raise(SIGSTOP);
    if (const int code = platform::renameFile(temporary_, output_); code != 0) {
        discard();
        throw std::runtime_error(failureText + platform::systemErrorText(code) + afterReason);
    }
    open_ = false;
    lock_.close();
}

void PendingOutput::discard() noexcept {
    if (!open_) return;
    open_ = false;
    if (!direct_) removeFileQuietly(temporary_);
    lock_.close();  // only once the file is gone
}

std::string PendingOutput::writeFailureReason() const {
    return open_ ? writeFailureReasonAt(temporary_) : std::string();
}

std::string writeFailureReasonAt(const std::string& path) {
    const int code = platform::writeRefusal(path);
    return code == 0 ? std::string() : platform::systemErrorText(code);
}

void PendingOutput::fail(const std::exception& e) {
    std::string text = withSystemReason(exceptionText(e), writeFailureReason());
    discard();
    throw std::runtime_error(text);
}

std::string writeFailureReason(const std::vector<PendingOutput>& outputs) {
    for (const PendingOutput& output : outputs)
        if (std::string reason = output.writeFailureReason(); !reason.empty()) return reason;
    return {};
}

std::string withSystemReason(std::string text, const std::string& reason) {
    if (!reason.empty() && text.find(reason) == std::string::npos) text += " | " + reason;
    return text;
}

WorkingFileLock::WorkingFileLock(const std::string& path, const char* prefix) {
    refuseFolderAtWorkingFile(path, prefix);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (!file_.openLockable(path) && file_.lastError() == ELOOP) {
            removeFileQuietly(path);  // a link left there; the input was ruled out before
            continue;
        }
        if (!file_.isOpen())
            refuse(prefix, "cannot create " + path + " (" +
                               platform::systemErrorText(file_.lastError()) + ")");
        if (!file_.tryLockExclusive()) {
            const int code = file_.lastError();
            file_.close();
            if (code == EWOULDBLOCK)
                refuse(prefix, "another export is writing this output: " + path);
            refuse(prefix, "cannot lock " + path + " (" + platform::systemErrorText(code) + ")");
        }
        // The holder before us may have removed the file meanwhile: the lock counts only
        // while the name still leads to the locked file.
        if (file_.isAt(path)) return;
        file_.close();
    }
    refuse(prefix, "cannot lock " + path);
}
