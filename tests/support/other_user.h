#pragma once

// Runs a piece of a test without root's rights, for tests of what a user is told when the system
// refuses access ("Permission denied"): root reads every file whatever its mode.

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>

namespace testsupport {

// body()'s text, run in this process when it is not root's, else in a child process switched to
// user and group 65534 (nobody); nullopt with *why set when that cannot be arranged. Once the
// switch succeeded, a child that throws, crashes or dies fails the calling test. The child ends
// with _exit, so no destructor of the test (a TempDir's, say) runs twice.
inline std::optional<std::string> runWithoutRoot(const std::function<std::string()>& body,
                                                 std::string* why) {
    if (::geteuid() != 0) return body();
    int fds[2];
    if (::pipe(fds) != 0) {
        *why = "cannot make a pipe to a child process";
        return std::nullopt;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        *why = "cannot start a child process";
        return std::nullopt;
    }
    if (pid == 0) {
        ::close(fds[0]);
        const auto send = [&](const std::string& text) {
            for (std::size_t done = 0; done < text.size();) {
                const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
                if (n <= 0) ::_exit(3);
                done += static_cast<std::size_t>(n);
            }
        };
        const bool switched =
            ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        // Told before body() runs, so that its failure is not taken for a refused switch.
        send(switched ? "+" : "-");
        if (!switched) ::_exit(0);
        try {
            send(body());
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const bool exited = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (text.empty() || (text[0] != '+' && !exited)) {
        *why = "the child process failed";
        return std::nullopt;
    }
    if (text[0] != '+') {
        *why = "cannot switch to user 65534 (not permitted here)";
        return std::nullopt;
    }
    if (!exited)
        ADD_FAILURE() << "the test's body failed as user 65534: "
                      << (WIFSIGNALED(status)
                              ? "signal " + std::to_string(WTERMSIG(status))
                              : "exit code " + std::to_string(WEXITSTATUS(status)) +
                                    (WEXITSTATUS(status) == 2 ? " (an exception)" : ""));
    return text.substr(1);
}

}  // namespace testsupport
