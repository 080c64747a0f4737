#include "points/job/export_status.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "support/test_support.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

TEST(ExportStatus, ProgressSentenceFormA) {
    EXPECT_EQ(
        exportProgressSentence("XYZ ASCII export", 12300000, 50000000, 12000000, "", 0.0, 99.9),
        "Exporting 24.6% | read=12M / 50M | written=12000000 | method=XYZ ASCII export");
    // No total: the start of the range; a second pass starts at 50.
    EXPECT_EQ(exportProgressSentence("Synthetic LAS export", 0, 0, 0,
                                     "pass 2/2 writing LAS records", 50.0, 99.9),
              "Exporting 50.0% | read=0M / 0M | written=0 | method=Synthetic LAS export | "
              "pass 2/2 writing LAS records");
    // Too low an estimate clamps to the end of the range; counts below a million show 0M.
    EXPECT_EQ(exportProgressSentence("m", 999999, 10, 7, "", 0.0, 50.0),
              "Exporting 50.0% | read=0M / 0M | written=7 | method=m");
    EXPECT_EQ(exportProgressSentence("m", std::numeric_limits<std::uint64_t>::max(),
                                     std::numeric_limits<std::uint64_t>::max(), 0, "", 0.0, 99.9),
              "Exporting 99.9% | read=18446744073709M / 18446744073709M | written=0 | method=m");
    EXPECT_EQ(exportProgressSentence("m", 1, 4, 0, "x", 20.0, 60.0),
              "Exporting 30.0% | read=0M / 0M | written=0 | method=m | x");
}

TEST(ExportStatus, ProgressSentenceFormB) {
    EXPECT_EQ(
        exportKeptProgressSentence(3000000, 8000000, 1500000, "native libE57 plain export", 1),
        "Exporting 37.5% | read=3M / 8M | kept=1M | outputs=1 | method=native libE57 plain export");
    EXPECT_EQ(exportKeptProgressSentence(0, 0, 0, nullptr, 1),
              "Exporting 0.0% | read=0M / 0M | kept=0M | outputs=1 | method=export");
    // Never 100% while the pass runs.
    EXPECT_EQ(exportKeptProgressSentence(9000000, 8000000, 8000000, "m", 12),
              "Exporting 99.9% | read=9M / 8M | kept=8M | outputs=12 | method=m");
    EXPECT_EQ(exportKeptProgressSentence(8000000, 8000000, 0, "m", 1),
              "Exporting 99.9% | read=8M / 8M | kept=0M | outputs=1 | method=m");
}

TEST(ExportStatus, WriterRewritesTheWholeFile) {
    TempDir dir;
    const auto path = dir / "job.ini.status.ini";
    writeExportStatusFile(path, "Running", std::string(500, 'x'));
    writeExportStatusFile(path, "Failed", "Disk = full; try again");
    EXPECT_EQ(
        readFile(path),
        "[Status]\nState=Failed\nMessage=Disk = full; try again\nDetails=Disk = full; try again\n");

    writeExportProgressStatus(path, "LAS -> E57", 5000000, 10000000, 4000000, "", 0.0, 99.9);
    EXPECT_EQ(readFile(path),
              "[Status]\nState=Running\nMessage=Exporting 50.0% | read=5M / 10M | written=4000000 "
              "| method=LAS -> E57\n"
              "Details=Exporting 50.0% | read=5M / 10M | written=4000000 | method=LAS -> E57\n");

    writeExportKeptProgressStatus(&path, 1000000, 4000000, 2000000, "native libE57 plain export",
                                  1);
    std::string state, message;
    ASSERT_TRUE(readExportStatusFile(path, &state, &message));
    EXPECT_EQ(state, "Running");
    EXPECT_EQ(
        message,
        "Exporting 25.0% | read=1M / 4M | kept=2M | outputs=1 | method=native libE57 plain export");

    // A null path, or a folder that does not exist, loses the report without a word.
    writeExportKeptProgressStatus(nullptr, 1, 2, 3, "m", 1);
    writeExportStatusFile(dir / "missing" / "status.ini", "Running", "x");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    EXPECT_EQ(
        message,
        "Exporting 25.0% | read=1M / 4M | kept=2M | outputs=1 | method=native libE57 plain export");
}

// A reader that opened the file before a rewrite keeps the whole earlier report: the new one
// arrives by rename, never by truncating the file under it.
TEST(ExportStatus, RewriteNeverTruncatesAnOpenReport) {
    TempDir dir;
    const auto path = dir / "job.ini.status.ini";
    writeExportStatusFile(path, "Running", "first");
    std::ifstream early(path, std::ios::binary);
    writeExportStatusFile(path, "Success", "second");
    const std::string earlier{std::istreambuf_iterator<char>(early),
                              std::istreambuf_iterator<char>()};
    EXPECT_EQ(earlier, "[Status]\nState=Running\nMessage=first\nDetails=first\n");
    EXPECT_EQ(readFile(path), "[Status]\nState=Success\nMessage=second\nDetails=second\n");
    EXPECT_FALSE(std::filesystem::exists(path.string() + ".tmp"));
}

TEST(ExportStatus, ReaderSectionAndLineRules) {
    TempDir dir;
    const auto path = dir / "status.ini";
    std::string state = "old", message = "old";
    EXPECT_FALSE(readExportStatusFile(dir / "none.ini", &state, &message));
    EXPECT_EQ(state, "");
    EXPECT_EQ(message, "");

    writeFile(path,
              "  [ Status ]  \r\n; note\r\n\tState = Success \r\nMessage= Done | written=5 "
              "\r\nDetails=other\r\n");
    ASSERT_TRUE(readExportStatusFile(path, &state, &message));
    EXPECT_EQ(state, "Success");
    EXPECT_EQ(message, "Done | written=5");

    writeFile(path, "[Status]\nState=\nMessage=half written\n");
    EXPECT_FALSE(readExportStatusFile(path, &state, &message));
    writeFile(path, "[status]\nState=Running\nMessage=m\n");
    EXPECT_FALSE(readExportStatusFile(path, &state, &message));
    writeFile(path, "State=Running\nMessage=m\n[Status]\n");
    EXPECT_FALSE(readExportStatusFile(path, &state, &message));
    EXPECT_EQ(message, "");
    writeFile(path, "[Status]\nstate=Running\n");
    EXPECT_FALSE(readExportStatusFile(path, &state, &message));

    // A later line wins; other sections do not leak in.
    writeFile(path,
              "[Status]\nState=Running\nMessage=first\n[Other]\nMessage=other\n[Status]\nMessage="
              "second\n");
    ASSERT_TRUE(readExportStatusFile(path, &state, &message));
    EXPECT_EQ(message, "second");
    EXPECT_TRUE(readExportStatusFile(path, nullptr, nullptr));
}

// Whatever stands at the temporary name (a link to the input, a hard link to it, a link to a
// file not there yet, another helper's report that it holds locked while it writes) is left as
// it is: the report goes to a file of its own. A plain file there, left by a writer killed before
// its rename, goes (for a hard link, only that name).
TEST(ExportStatus, ALinkAtTheTemporaryNameChangesNothing) {
    for (const char* kind : {"symlink", "hardlink", "dangling", "stale", "locked"}) {
        SCOPED_TRACE(kind);
        TempDir dir;
        const auto path = dir / "job.ini.status.ini";
        const auto input = dir / "site.e57";
        writeFile(input, "points");
        const std::filesystem::path temporary = path.string() + ".tmp";
        const std::string k = kind;
        if (k == "symlink")
            std::filesystem::create_symlink(input, temporary);
        else if (k == "hardlink")
            std::filesystem::create_hard_link(input, temporary);
        else if (k == "dangling")
            std::filesystem::create_symlink(dir / "absent.e57", temporary);
        else
            writeFile(temporary, "[Status]\nState=Run");
        const int writer = k == "locked" ? ::open(temporary.c_str(), O_RDONLY | O_CLOEXEC) : -1;
        if (writer >= 0) {
            ASSERT_EQ(::flock(writer, LOCK_EX), 0);
        }
        writeExportStatusFile(path, "Running", "first");
        writeExportStatusFile(path, "Failed", "second");
        EXPECT_EQ(readFile(path), "[Status]\nState=Failed\nMessage=second\nDetails=second\n");
        EXPECT_EQ(readFile(input), "points");
        EXPECT_FALSE(std::filesystem::exists(dir / "absent.e57"));
        if (writer >= 0) ::close(writer);
        const bool linkStays = k == "symlink" || k == "dangling" || k == "locked";
        EXPECT_EQ(std::filesystem::exists(std::filesystem::symlink_status(temporary)), linkStays);
        // Nothing else was added or left: the status file and the input, with the link.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                                std::filesystem::directory_iterator()),
                  linkStays ? 3 : 2);
    }
}
