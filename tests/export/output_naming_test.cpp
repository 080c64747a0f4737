#include "export/output_naming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "export/export_result.h"
#include "platform/file_io.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;

namespace {

std::string failureOf(const fs::path& base) {
    try {
        createExportProjectDirectory(base);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "(no error)";
}

std::size_t entriesIn(const fs::path& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir)) ++n;
    return n;
}

}  // namespace

TEST(OutputNaming, ProjectFolderTakesTheFirstFreeNumber) {
    TempDir dir;
    const fs::path base = dir / "out";
    EXPECT_EQ(createExportProjectDirectory(dir / "out" / "deeper"), base / "deeper" / "Project 1");
    EXPECT_TRUE(fs::is_directory(base / "deeper" / "Project 1"));

    fs::create_directories(base / "Project 1");
    fs::create_directories(base / "Project 3");
    EXPECT_EQ(createExportProjectDirectory(base), base / "Project 2");
    EXPECT_EQ(createExportProjectDirectory(base), base / "Project 4");
    EXPECT_TRUE(fs::is_empty(base / "Project 2"));

    // A file holds its number and is left alone; so does a dangling link.
    const fs::path other = dir / "other";
    fs::create_directories(other);
    writeFile(other / "Project 1", "keep");
    fs::create_symlink(dir / "nowhere", other / "Project 2");
    EXPECT_EQ(createExportProjectDirectory(other), other / "Project 3");
    EXPECT_EQ(readFile(other / "Project 1"), "keep");
}

TEST(OutputNaming, ProjectFolderFailures) {
    TempDir dir;
    EXPECT_EQ(failureOf(""), "Cannot create base output directory:  | " +
                                 std::make_error_code(std::errc::invalid_argument).message());
    writeFile(dir / "file", "x");
    EXPECT_EQ(
        failureOf(dir / "file")
            .rfind("Cannot create base output directory: " + (dir / "file").string() + " | ", 0),
        0u);
    EXPECT_EQ(readFile(dir / "file"), "x");

    // A base just short of the path limit: the base exists but no candidate can be made.
    fs::path longBase = dir.path();
    while (longBase.string().size() < 4090) {
        const std::size_t room = 4090 - longBase.string().size() - 1;
        longBase /= std::string(room > 200 ? 200 : (room < 1 ? 1 : room), 'd');
    }
    const std::string message = failureOf(longBase);
    EXPECT_EQ(message.rfind("Cannot create export project directory: " +
                                (longBase / "Project 1").string() + " | ",
                            0),
              0u)
        << message;
}

TEST(OutputNaming, AllNumbersTakenCreatesNothing) {
    TempDir dir;
    for (int n = 1; n <= 9999; ++n) fs::create_directory(dir / ("Project " + std::to_string(n)));
    EXPECT_EQ(failureOf(dir.path()),
              "Could not create a new Project N folder. Too many existing project folders.");
    EXPECT_EQ(entriesIn(dir.path()), 9999u);
}

TEST(OutputNaming, PartStemsAndTemporaryNames) {
    EXPECT_EQ(makePartStem("abc", 2, 3), "abc_s2_p3");
    EXPECT_EQ(makePartStem("", 0, 1), "scan_s0_p1");
    EXPECT_EQ(makePartStem("g", 0, 12), "g_s0_p12");
    EXPECT_EQ(makePartStem("{A-B}", -1, 18446744073709551615ull),
              "{A-B}_s-1_p18446744073709551615");

    EXPECT_EQ(makeGeometryTempPath("/out/Project 1/cloud_cut.e57"),
              "/out/Project 1/cloud_cut_geom_tmp.e57");
    EXPECT_EQ(makeWithPhotosTempPath("/out/Project 1/cloud_cut.e57"),
              "/out/Project 1/cloud_cut_with_photos_tmp.e57");
    EXPECT_EQ(makeGeometryTempPath("/out/cloud"), "/out/cloud_geom_tmp");
    EXPECT_EQ(makeWithPhotosTempPath("/out/cloud"), "/out/cloud_with_photos_tmp");
    EXPECT_EQ(makeGeometryTempPath("cloud.v2.e57"), "cloud.v2_geom_tmp.e57");
    EXPECT_EQ(makeWithPhotosTempPath("/a.b/cloud"), "/a.b/cloud_with_photos_tmp");

    // A name cut to the folder's limit: the tail whole, no character cut in two, and two names
    // that differ only past the cut stay apart.
    const TempDir dir;
    std::string head(2, 'a');  // the cut falls inside a character
    while (head.size() < 300) head += "\u00e9";
    const std::string cut = fitFileName(dir.path(), head + "1", ".unfinished-7-1.tmp");
    EXPECT_LE(cut.size(), 255u);
    EXPECT_EQ(cut.substr(cut.size() - 19), ".unfinished-7-1.tmp");
    EXPECT_NE(cut.find("\u00e9~"), std::string::npos) << cut;
    EXPECT_NE(cut, fitFileName(dir.path(), head + "2", ".unfinished-7-1.tmp"));
    EXPECT_EQ(fitFileName(dir.path(), "cloud", "_geom_tmp.e57"), "cloud_geom_tmp.e57");
    // Exactly the folder's limit is kept whole.
    const std::size_t limit = platform::maxNameLength(dir.path().string());
    const std::string fits(limit - 13, 'a');
    EXPECT_EQ(fitFileName(dir.path(), fits, "_geom_tmp.e57"), fits + "_geom_tmp.e57");
    // An extension that nearly fills the limit goes with the cut part, once, and the working
    // names still fit the folder.
    for (const std::size_t extension : {limit - 19, limit - 12}) {
        const fs::path output = dir / ("cloud." + std::string(extension - 1, 'x'));
        for (const std::string& working :
             {makeGeometryTempPath(output.string()), makeWithPhotosTempPath(output.string())}) {
            SCOPED_TRACE(working);
            const std::string name = fs::path(working).filename().string();
            EXPECT_EQ(fs::path(working).parent_path(), dir.path());
            EXPECT_LE(name.size(), limit);
            EXPECT_EQ(name.rfind("cloud", 0), 0u);
            EXPECT_EQ(std::count(name.begin(), name.end(), '.'), 1);
            EXPECT_NO_THROW(writeFile(working, "w"));
        }
    }

    static_assert(std::is_copy_assignable_v<ExportResult>);
    const ExportResult fresh;
    EXPECT_FALSE(fresh.success);
    EXPECT_EQ(fresh.outputSizeMB, 0.0);
}
