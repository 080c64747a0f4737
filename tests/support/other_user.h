#pragma once

// Runs a piece of a test without root's rights, for tests of what a user is told when the system
// refuses access ("Permission denied"): root reads every file whatever its mode.

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>

namespace testsupport {

// body()'s text, run in this process when it is not root's, else in a child process switched to
// user and group 65534 (nobody); nullopt with *why set when that cannot be arranged. The child
// ends with _exit, so no destructor of the test (a TempDir's, say) runs twice.
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
        const bool switched =
            ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
        const std::string text = switched ? "+" + body() : std::string("-");
        for (std::size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(fds[1], text.data() + done, text.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
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
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || text.empty()) {
        *why = "the child process failed";
        return std::nullopt;
    }
    if (text[0] != '+') {
        *why = "cannot switch to user 65534 (not permitted here)";
        return std::nullopt;
    }
    return text.substr(1);
}

}  // namespace testsupport
