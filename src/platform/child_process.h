#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

// One child process owned by one object: started with an argument vector (no shell, no
// quoting), waited for with a time-out and reaped exactly once.
class ChildProcess {
public:
    enum class Wait { Ended, TimedOut, Failed };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Runs arguments[0] with the whole vector as its argv, in workingFolder, with this
    // process's environment and standard streams; no other open file is passed on. On failure
    // *error (when given) gets the system's reason and *this is left empty.
    bool start(const std::vector<std::string>& arguments,
               const std::filesystem::path& workingFolder, std::string* error);

    // True from a successful start until close().
    bool isOpen() const { return pid_ > 0; }
    pid_t id() const { return pid_; }

    // Waits at most `milliseconds` for the child to end and reaps it when it has. Ended stays
    // the answer once given. A child that can no longer be waited for (reaped elsewhere)
    // counts as ended without an exit code.
    Wait waitFor(int milliseconds);

    // After Ended: the child's exit status, or 128 + the signal's number for a child killed by
    // a signal. False when it is not known.
    bool exitCode(std::uint32_t* code) const;

    // Lets the child go: reaped when it has ended, otherwise left running on its own.
    void close();

private:
    Wait reapIfEnded();

    pid_t pid_ = -1;
    int pidfd_ = -1;  // -1 where the kernel has no process descriptors
    bool ended_ = false;
    bool codeKnown_ = false;
    std::uint32_t code_ = 0;
};

}  // namespace platform
