#include "platform/child_process.h"

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <system_error>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "platform/file_io.h"

extern char** environ;

namespace platform {

namespace {

int openProcessDescriptor(pid_t pid) {
    // The tests set BRINDLEWICK_TEST_NO_PIDFD to run the wait that kernels or seccomp filters
    // without process descriptors leave.
    static const bool withoutDescriptors = [] {
        const char* off = std::getenv("BRINDLEWICK_TEST_NO_PIDFD");
        return off && *off;
    }();
    if (withoutDescriptors) return -1;
#ifdef SYS_pidfd_open
    const long fd = ::syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? static_cast<int>(fd) : -1;
#else
    (void)pid;
    return -1;
#endif
}

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ChildProcess::~ChildProcess() { close(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_),
      pidfd_(other.pidfd_),
      ended_(other.ended_),
      codeKnown_(other.codeKnown_),
      code_(other.code_) {
    other.pid_ = -1;
    other.pidfd_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        close();
        pid_ = other.pid_;
        pidfd_ = other.pidfd_;
        ended_ = other.ended_;
        codeKnown_ = other.codeKnown_;
        code_ = other.code_;
        other.pid_ = -1;
        other.pidfd_ = -1;
    }
    return *this;
}

bool ChildProcess::start(const std::vector<std::string>& arguments,
                         const std::filesystem::path& workingFolder, std::string* error) {
    close();
    if (arguments.empty()) {
        if (error) *error = systemErrorText(EINVAL);
        return false;
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    // The change of folder comes before the exec: a relative program path must not follow it.
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::absolute(arguments[0], ec);
    if (ec) {
        if (error) *error = systemErrorText(ec.value());
        return false;
    }
    posix_spawn_file_actions_t actions;
    int rc = posix_spawn_file_actions_init(&actions);
    if (rc != 0) {
        if (error) *error = systemErrorText(rc);
        return false;
    }
    if (!workingFolder.empty())
        rc = posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str());
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Only the standard streams are shared: a file this process holds open stays its own.
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
    // The child starts with no signal blocked and every signal at its default, whatever the
    // calling thread had.
    posix_spawnattr_t attributes;
    bool haveAttributes = false;
    if (rc == 0) rc = posix_spawnattr_init(&attributes);
    if (rc == 0) {
        haveAttributes = true;
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        rc = posix_spawnattr_setsigmask(&attributes, &none);
        if (rc == 0) rc = posix_spawnattr_setsigdefault(&attributes, &all);
        if (rc == 0)
            rc = posix_spawnattr_setflags(&attributes,
                                          POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    pid_t pid = -1;
    if (rc == 0)
        rc = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    if (haveAttributes) posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        if (error) *error = systemErrorText(rc);
        return false;
    }
    pid_ = pid;
    pidfd_ = openProcessDescriptor(pid);
    ended_ = false;
    codeKnown_ = false;
    code_ = 0;
    return true;
}

ChildProcess::Wait ChildProcess::reapIfEnded() {
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return Wait::TimedOut;
    if (r < 0 && errno != ECHILD) return Wait::Failed;
    ended_ = true;
    if (r < 0) return Wait::Ended;  // reaped elsewhere: nothing left to wait for, the code is lost
    if (WIFEXITED(status)) {
        code_ = static_cast<std::uint32_t>(WEXITSTATUS(status));
        codeKnown_ = true;
    } else if (WIFSIGNALED(status)) {
        code_ = 128u + static_cast<std::uint32_t>(WTERMSIG(status));
        codeKnown_ = true;
    }
    return Wait::Ended;
}

ChildProcess::Wait ChildProcess::waitFor(int milliseconds) {
    if (pid_ <= 0) return Wait::Failed;
    if (ended_) return Wait::Ended;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    if (pidfd_ >= 0) {
        for (;;) {
            pollfd p{pidfd_, POLLIN, 0};
            const int n = ::poll(&p, 1, millisecondsLeft(deadline));
            if (n > 0) return reapIfEnded() == Wait::Ended ? Wait::Ended : Wait::Failed;
            if (n == 0) return Wait::TimedOut;
            if (errno != EINTR) return Wait::Failed;
        }
    }
    // Without a process descriptor: look every few milliseconds.
    for (;;) {
        if (reapIfEnded() == Wait::Ended) return Wait::Ended;
        const int left = millisecondsLeft(deadline);
        if (left == 0) return Wait::TimedOut;
        std::this_thread::sleep_for(std::chrono::milliseconds(left < 5 ? left : 5));
    }
}

bool ChildProcess::exitCode(std::uint32_t* code) const {
    if (!ended_ || !codeKnown_) return false;
    if (code) *code = code_;
    return true;
}

void ChildProcess::close() {
    if (pid_ > 0 && !ended_) reapIfEnded();
    if (pidfd_ >= 0) ::close(pidfd_);
    pid_ = -1;
    pidfd_ = -1;
}

}  // namespace platform
