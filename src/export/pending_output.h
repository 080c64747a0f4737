#pragma once

#include <exception>
#include <string>
#include <vector>

#include "platform/file_io.h"

// How every export route creates an output file: the data goes to a temporary file in the
// output's own folder, named "<output name>.unfinished-<process id>-<n>.tmp", which is moved
// onto the output path only once it is complete and closed. A failure, an exception or a
// cancellation removes it; a killed helper leaves at most that file, never a file at the
// output path. Two helpers writing one output each write their own file; the last move wins.
// The writer holds an exclusive lock on that file from its creation until it is moved or
// removed; the kernel drops it when the writer dies.

// The words a route's refusals use.
struct OutputWords {
    const char* prefix;         // "<prefix> failed: ..."
    const char* folderFailure;  // followed by the system's text
};

inline constexpr OutputWords kE57OutputWords{"E57 export", "Cannot create E57 output folder: "};
inline constexpr OutputWords kSplitOutputWords{"Split export", "Cannot create E57 output folder: "};

// Throws std::runtime_error "<prefix> failed: the output file is the input file: <path>" when
// path names the input file (through a symbolic or hard link too). Asked before anything at
// path is written, truncated, moved or removed.
void refuseOutputOnInput(const std::string& inputPath, const std::string& path, const char* prefix);

// Creates the output's folder with its ancestors; throws std::runtime_error with the words'
// folder failure followed by the system's text.
void createOutputFolder(const std::string& outputPath, const OutputWords& words);

// True for a name that ends as an output's working file does: ".unfinished-<pid>-<n>.tmp".
bool isWorkingFileName(const std::string& name);

// Removes what an earlier export left at the outputs, before any refusal of this export, so
// that a failed export leaves none of it: the files at the paths, and the working files of the
// paths whose writers no longer run (the process id in the name is no running process's and no
// process holds the file's lock; a running or locked writer's file stays). Refuses (as
// PendingOutput does) a folder at one of the paths and a path that names the input, and "<prefix>
// failed: the output name is too long for the file system: <path> (File name too long)", before
// removing anything. A device or pipe stays.
void removeOldOutputs(const std::string& inputPath, const std::vector<std::string>& outputPaths,
                      const char* prefix);
// The same for outputs that must be regular files (an E57 file is written with seeks and read
// back): a device or pipe at one of the paths is refused first, "<prefix> failed: the output
// path is not a regular file: <path>", and left as it is.
void removeOldRegularOutputs(const std::string& inputPath,
                             const std::vector<std::string>& outputPaths, const char* prefix);

// Throws std::runtime_error "<prefix> failed: the working file path is a folder: <path>": a
// route removes only files, and a folder there would fail it only once its data is written.
void refuseFolderAtWorkingFile(const std::string& path, const char* prefix);

class PendingOutput {
public:
    // Creates the output's folder, runs removeOldOutputs() for the output (the export replaces
    // it; until it succeeds nothing stands at the output path) and refuses a temporary file
    // that is the input or a folder. temporaryPath empty: the unique
    // name above, its output name part cut short (fitFileName) where the whole would pass the
    // folder's name limit, created empty and locked here (the route opens it by that name and
    // truncates it); otherwise that file is the one moved onto the output. A device or pipe
    // at the output path (/dev/null) is written in place, never removed.
    PendingOutput(const std::string& inputPath, const std::string& outputPath,
                  const OutputWords& words, const std::string& temporaryPath = {});
    ~PendingOutput();  // removes the temporary file unless it was published
    PendingOutput(PendingOutput&& other) noexcept;
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    PendingOutput& operator=(PendingOutput&&) = delete;

    const std::string& temporaryPath() const { return temporary_; }
    const std::string& outputPath() const { return output_; }

    // Moves the finished, closed temporary file onto the output path. Throws std::runtime_error
    // "<prefix> failed: cannot move the finished output into place: <path> (<reason>)".
    void publish();
    // The same with the route's own failure text, followed by the system's reason.
    void publish(const std::string& failureText);

    // Removes the temporary file now; later calls and the destructor do nothing.
    void discard() noexcept;

    // Why the output's folder does not take data now ("No space left on device", "File too
    // large", "Read-only file system", "Permission denied"), found by writing one block past
    // the temporary file's end; empty when the write succeeds or the file is gone, and for a
    // device or pipe, which is never written for this. Asked after a failure and before
    // discard(), while the failed file still fills the disk.
    std::string writeFailureReason() const;

    // Throws std::runtime_error with the exception's text followed by writeFailureReason(),
    // and removes the temporary file.
    [[noreturn]] void fail(const std::exception& e);

private:
    // The failure text is failureText, the system's reason, then afterReason.
    void publish(const std::string& failureText, const char* afterReason);

    std::string output_;
    std::string temporary_;
    const char* prefix_;
    platform::File lock_;  // on a working file with a unique name, while it is open
    bool direct_ = false;  // the output is a device or pipe, written in place
    bool open_ = true;     // neither published nor discarded
};

// The same question for any file a route writes (a merge's target): platform::writeRefusal()'s
// error as text, empty when there is none.
std::string writeFailureReasonAt(const std::string& path);

// The first non-empty writeFailureReason() of outputs, asked in order.
std::string writeFailureReason(const std::vector<PendingOutput>& outputs);

// text, then " | <reason>" when there is a reason the text does not already carry.
std::string withSystemReason(std::string text, const std::string& reason);

// Runs body() for output: a standard exception leaves through output.fail().
template <class Body>
auto runForPendingOutput(PendingOutput& output, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const std::exception& e) {
        output.fail(e);
    }
}

// Holds an exclusive lock on a working file with a fixed name (a photo route's "_geom_tmp"
// file), so that a second export of the same output refuses while the first runs instead of
// removing or overwriting the first one's file. The file is created when missing (a symbolic
// link there is removed first); the lock goes with the object.
class WorkingFileLock {
public:
    // Throws std::runtime_error "<prefix> failed: another export is writing this output: <path>"
    // while another process holds the lock, refuseFolderAtWorkingFile()'s refusal, or
    // "<prefix> failed: cannot create <path> (<reason>)".
    WorkingFileLock(const std::string& path, const char* prefix);

private:
    platform::File file_;
};
