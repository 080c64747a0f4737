#include "app/export_helper_monitor.h"

#include <gtest/gtest.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/test_support.h"

using testsupport::TempDir;

namespace {

// A stand-in helper: a shell script run as `script --export-job JOB`, whose status file is
// "$2.status.ini".
std::filesystem::path writeHelperScript(const TempDir& dir, const std::string& body) {
    const std::filesystem::path script = dir / "helper.sh";
    testsupport::writeFile(script, "#!/bin/sh\nstatus=\"$2.status.ini\"\n" + body + "\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    return script;
}

// One report into the status file.
std::string reportLine(const std::string& state, const std::string& message) {
    return "printf '%s\\n' '[Status]' 'State=" + state + "' 'Message=" + message +
           "' 'Details=" + message + "' > \"$status\"";
}

struct MonitorRun {
    bool failed = false;
    std::string message, details, console;
    int turnReads = 0, endReads = 0;
    bool closed = false, flagsSettled = false;
};

MonitorRun monitor(const std::string& scriptBody, const std::string& startMessage = {}) {
    TempDir dir;
    const std::filesystem::path job = dir / "a job.ini";
    platform::ChildProcess helper;
    std::string error;
    MonitorRun run;
    if (!launchExportHelperProcess(writeHelperScript(dir, scriptBody), job, &helper, &error)) {
        ADD_FAILURE() << error;
        return run;
    }
    ExportHelperStatus status;
    status.running = true;
    status.message = startMessage;
    auto context = std::make_unique<HelperMonitorContext>();
    context->statusPath = job.string() + ".status.ini";
    context->helperProcess = &helper;
    context->status = &status;
    context->onStatusRead = [&](bool afterEnd) { ++(afterEnd ? run.endReads : run.turnReads); };
    testing::internal::CaptureStdout();
    monitorExportHelper(std::move(context));
    run.console = testing::internal::GetCapturedStdout();
    run.failed = status.failed;
    run.message = status.message;
    run.details = status.details;
    run.closed = !helper.isOpen();
    run.flagsSettled = !status.running && status.finished;
    return run;
}

}  // namespace

// A helper that is over at once is still read in the loop's turn and once after its end.
TEST(ExportHelperMonitor, SuccessNeedsExitZeroAndStateSuccess) {
    MonitorRun ok = monitor(reportLine("Success", "All done.") + "\nexit 0", "Starting...");
    EXPECT_FALSE(ok.failed);
    EXPECT_EQ(ok.message, "All done.");
    EXPECT_EQ(ok.details, "");
    EXPECT_GE(ok.turnReads, 1);
    EXPECT_EQ(ok.endReads, 1);
    EXPECT_TRUE(ok.closed);
    EXPECT_TRUE(ok.flagsSettled);
    EXPECT_EQ(ok.console,
              "[EXPORT HELPER] process exited | exitCode=0 | state=Success | message=All done.\n");

    MonitorRun quiet = monitor(reportLine("Success", "") + "\nexit 0");
    EXPECT_FALSE(quiet.failed);
    EXPECT_EQ(quiet.message, "Export finished. You can close the window.");
}

TEST(ExportHelperMonitor, EverythingElseIsAFailure) {
    struct Case {
        const char* name;
        std::string body;
        std::string startMessage;
        std::string message, details, console;
    };
    const std::string progress = "Exporting 37.5% | read=3M / 8M | kept=1M | outputs=1";
    const std::vector<Case> cases{
        {"stopped without a final report", reportLine("Running", progress) + "\nexit 0", "",
         progress, progress, "exitCode=0 | state=Running | message=" + progress},
        {"lower-case success", reportLine("success", "done") + "\nexit 0", "", "done", "done",
         "exitCode=0 | state=success"},
        {"success with a failing exit code", reportLine("Success", "done") + "\nexit 5", "", "done",
         "done", "exitCode=5 | state=Success"},
        {"killed in the middle of an export", reportLine("Running", progress) + "\nkill -KILL $$",
         "", progress, progress, "exitCode=137 | state=Running"},
        {"no status file at all", "exit 3", "", "Export failed.", "Helper export failed.",
         "exitCode=3 | state= | message=\n"},
        // An empty State is no report: the shown message stays.
        {"empty state", reportLine("", "half") + "\nexit 1", "Starting helper export process...",
         "Starting helper export process...", "half", "exitCode=1 | state= | message=half\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MonitorRun run = monitor(c.body, c.startMessage);
        EXPECT_TRUE(run.failed);
        EXPECT_EQ(run.message, c.message);
        EXPECT_EQ(run.details, c.details);
        EXPECT_NE(run.console.find("[EXPORT HELPER] process exited | " + c.console),
                  std::string::npos)
            << run.console;
        EXPECT_TRUE(run.closed);
        EXPECT_TRUE(run.flagsSettled);
    }
}

// Each turn waits for the helper and then reads: a helper that keeps running is read once a
// turn with no sleep between (an extra sleep would halve the updates), a wait that fails
// sleeps out its turn instead of spinning. Counted through the hooks, not timed. The running
// helper is killed, the failing one left by a throw, after four reads.
TEST(ExportHelperMonitor, OneReadPerTurnWithoutSpinning) {
    platform::ChildProcess running, neverStarted;
    std::string error;
    ASSERT_TRUE(running.start({"/bin/sleep", "60"}, {}, &error)) << error;
    for (platform::ChildProcess* helper : {&running, &neverStarted}) {
        SCOPED_TRACE(helper == &running ? "running" : "failing waits");
        ExportHelperStatus status;
        int reads = 0, sleeps = 0;
        auto context = std::make_unique<HelperMonitorContext>();
        context->statusPath = "/nonexistent-brindlewick/job.ini.status.ini";
        context->helperProcess = helper;
        context->status = &status;
        context->onTurnSleep = [&] { ++sleeps; };
        context->onStatusRead = [&](bool afterEnd) {
            if (afterEnd || ++reads != 4) return;
            if (!helper->isOpen()) throw std::runtime_error("enough turns");
            ::kill(helper->id(), SIGKILL);
        };
        testing::internal::CaptureStdout();
        monitorExportHelper(std::move(context));
        testing::internal::GetCapturedStdout();
        ASSERT_GE(reads, 4);
        if (helper == &running)
            EXPECT_EQ(sleeps, 0);
        else
            EXPECT_EQ(sleeps, 3);  // after each of the first three reads
        EXPECT_TRUE(status.failed && status.finished);
    }
}

TEST(ExportHelperMonitor, LaunchFailureSaysWhy) {
    platform::ChildProcess helper;
    std::string error;
    EXPECT_FALSE(launchExportHelperProcess("/nonexistent-brindlewick/e57_brindlewick", "j.ini",
                                           &helper, &error));
    EXPECT_EQ(error, "Could not start helper process: No such file or directory");
    EXPECT_FALSE(helper.isOpen());
}
