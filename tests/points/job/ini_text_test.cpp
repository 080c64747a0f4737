#include "points/job/ini_text.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <vector>

TEST(IniText, SectionsKeysAndSkippedLines) {
    std::istringstream in(
        "orphan=1\r\n"
        "; comment\n"
        "# comment\n"
        "[ Job ]\r\n"
        "  Key = a=b \r\n"
        "no equals sign\n"
        "[Broken\n"
        "Empty=\n"
        "[]\n"
        "K=v\n");
    std::vector<std::tuple<std::string, std::string, std::string>> got;
    forEachIniEntry(in, [&](const std::string& s, const std::string& k, const std::string& v) {
        got.emplace_back(s, k, v);
    });
    const std::vector<std::tuple<std::string, std::string, std::string>> want = {
        {"", "orphan", "1"}, {"Job", "Key", "a=b"}, {"Job", "Empty", ""}, {"", "K", "v"}};
    EXPECT_EQ(got, want);
}
