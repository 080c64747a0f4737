#include "platform/child_process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdint>
#include <string>
#include <unistd.h>

#include "platform/program_path.h"
#include "support/test_support.h"

using platform::ChildProcess;
using testsupport::TempDir;

namespace {

std::uint32_t waitForExit(ChildProcess& child) {
    while (child.waitFor(1000) != ChildProcess::Wait::Ended) {
    }
    std::uint32_t code = 12345;
    EXPECT_TRUE(child.exitCode(&code));
    return code;
}

}  // namespace

// The argument vector arrives untouched (blanks and quotes need no quoting), in the folder
// asked for, and the exit status comes back; a relative program path is taken from where the
// caller stands, not from the child's folder.
TEST(ChildProcess, RunsInItsFolderWithItsArgumentsAndReportsTheExitCode) {
    TempDir dir;
    const std::string odd = "a \"quoted\" 'word' \\ $HOME";
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.start(
        {"/bin/sh", "-c", "printf %s \"$1\" > arg.txt; pwd > pwd.txt; exit 7", "sh", odd},
        dir.path(), &error))
        << error;
    EXPECT_TRUE(child.isOpen());
    EXPECT_EQ(waitForExit(child), 7u);
    EXPECT_EQ(child.waitFor(0), ChildProcess::Wait::Ended);  // stays ended, reaped once
    EXPECT_EQ(testsupport::readFile(dir / "arg.txt"), odd);
    EXPECT_EQ(testsupport::readFile(dir / "pwd.txt"),
              std::filesystem::canonical(dir.path()).string() + "\n");
    child.close();
    EXPECT_FALSE(child.isOpen());

    // A file this process holds open is not passed on.
    const int held = ::open((dir / "arg.txt").c_str(), O_RDONLY);
    ASSERT_GE(held, 3);
    ChildProcess probe;
    const std::string fd = "/proc/self/fd/" + std::to_string(held);
    ASSERT_TRUE(probe.start({"/bin/sh", "-c", "test -e " + fd}, {}, &error));
    EXPECT_EQ(waitForExit(probe), 1u);
    ::close(held);

    testsupport::writeFile(dir / "tool.sh", "#!/bin/sh\nexit 3\n");
    std::filesystem::permissions(dir / "tool.sh", std::filesystem::perms::owner_all);
    const std::filesystem::path relative =
        std::filesystem::relative(dir / "tool.sh", std::filesystem::current_path());
    ChildProcess tool;
    ASSERT_TRUE(tool.start({relative.string()}, "/", &error)) << error;
    EXPECT_EQ(waitForExit(tool), 3u);
}

// A running child times out; killed by a signal it reports 128 + the signal.
TEST(ChildProcess, TimesOutWhileRunningAndReportsASignal) {
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.start({"/bin/sleep", "60"}, {}, &error)) << error;
    EXPECT_EQ(child.waitFor(0), ChildProcess::Wait::TimedOut);
    std::uint32_t code = 0;
    EXPECT_FALSE(child.exitCode(&code));
    ASSERT_EQ(::kill(child.id(), SIGKILL), 0);
    EXPECT_EQ(waitForExit(child), 128u + SIGKILL);

    // Moving hands the child over whole.
    ChildProcess other;
    ASSERT_TRUE(other.start({"/bin/sh", "-c", "exit 0"}, {}, &error));
    ChildProcess moved = std::move(other);
    EXPECT_FALSE(other.isOpen());
    EXPECT_EQ(waitForExit(moved), 0u);
}

TEST(ChildProcess, StartFailureSaysWhy) {
    ChildProcess child;
    std::string error;
    EXPECT_FALSE(child.start({"/nonexistent-brindlewick/helper", "--export-job", "j"}, {}, &error));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_FALSE(child.isOpen());
    EXPECT_EQ(child.waitFor(0), ChildProcess::Wait::Failed);
    TempDir dir;
    EXPECT_FALSE(child.start({"/bin/true"}, dir / "missing", &error));
    EXPECT_EQ(error, "No such file or directory");
}

TEST(ProgramPath, FromTheLinkOrTheWorkingFolder) {
    EXPECT_EQ(platform::runningProgramPath("e57_brindlewick"),
              std::filesystem::read_symlink("/proc/self/exe"));
    EXPECT_EQ(platform::runningProgramPath("e57_brindlewick", "/nonexistent-brindlewick/exe"),
              std::filesystem::current_path() / "e57_brindlewick");
    // A program file replaced while it runs: the file now at its path.
    TempDir dir;
    std::filesystem::create_symlink("/opt/b/e57_brindlewick (deleted)", dir / "exe");
    EXPECT_EQ(platform::runningProgramPath("e57_brindlewick", (dir / "exe").c_str()),
              "/opt/b/e57_brindlewick");
}
