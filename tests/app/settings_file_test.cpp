#include "app/settings_file.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace fs = std::filesystem;

TEST(SettingsFile, LoadTakesOnlyTheNamedKeysOfPaths) {
    struct Case {
        const char* text;
        const char* paths;
    };
    const Case cases[] = {
        {"; x\r\n [ Paths ] \r\nInputE57Path = /d/a.e57 \r\n# y\r\nOutputFolder=/o\r\n",
         "/d/a.e57|/o"},
        {"[paths]\nInputE57Path=/x\nOutputFolder=/y\n", "cmd|default"},
        {"InputE57Path=/x\n[Paths]\nOutputFolder=/a\noutputfolder=/b\nOutputFolder=/c\n[B]\n"
         "OutputFolder=/d\n",
         "cmd|/c"},
    };
    for (const Case& c : cases) {
        testsupport::TempDir dir;
        testsupport::writeFile(dir / "settings.ini", c.text);
        std::string input = "cmd", output = "default";
        EXPECT_TRUE(loadSettings(dir / "settings.ini", &input, &output));
        EXPECT_EQ(input + "|" + output, c.paths) << c.text;
    }
    std::string input = "kept";
    EXPECT_FALSE(loadSettings("/no/such/settings.ini", &input, nullptr));
    EXPECT_EQ(input, "kept");
}

// The text replaces the file whole, also through a link, and never writes through a link at
// its temporary name; a failure warns and keeps the file.
TEST(SettingsFile, SaveReplacesTheFileWhole) {
    testsupport::TempDir dir;
    const fs::path file = dir / "settings.ini";
    fs::create_symlink("real.ini", file);
    testsupport::writeFile(dir / "real.ini", "[Paths]\nInputE57Path=/a much longer old path\n");
    testsupport::writeFile(dir / "site.las", "points");
    fs::create_symlink("site.las", dir / "real.ini.tmp");
    EXPECT_TRUE(saveSettings(file, "/in/site.las", "/out"));
    const std::string saved = "[Paths]\nInputE57Path=/in/site.las\nOutputFolder=/out\n";
    EXPECT_EQ(testsupport::readFile(dir / "real.ini"), saved);
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_EQ(testsupport::readFile(dir / "site.las"), "points");

    // A line break or a lone carriage return in either path is refused.
    const struct {
        fs::path target;
        const char* input;
        const char* output;
    } refused[] = {{dir / "no folder" / "settings.ini", "/in", "/out"},
                   {file, "/in\nOutputFolder=/etc", "/out"},
                   {file, "/in\r", "/out"},
                   {file, "/in", "/out\r"}};
    for (const auto& r : refused) {
        testing::internal::CaptureStderr();
        EXPECT_FALSE(saveSettings(r.target, r.input, r.output));
        EXPECT_EQ(testing::internal::GetCapturedStderr(),
                  "WARNING: could not save settings.ini to " + r.target.string() + "\n");
    }
    EXPECT_EQ(testsupport::readFile(file), saved);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4);
}
