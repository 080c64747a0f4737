#include "points/ini_text.h"
#include "points/text_utils.h"

#include <gtest/gtest.h>

#include <sstream>
#include <tuple>
#include <vector>

TEST(TextUtils, ExtensionSearchesTheWholePath) {
    EXPECT_EQ(lowerExtension("C:/data.old/cloud"), ".old/cloud");
    EXPECT_EQ(lowerExtension("no_dot_here"), "");
    EXPECT_EQ(lowerExtension("scan.E57"), ".e57");
    EXPECT_TRUE(hasXyzExtension("A.XYZ"));
    EXPECT_TRUE(hasE57Extension("/x/y.e57"));
    EXPECT_TRUE(isLasPath("y.LaS"));
    EXPECT_FALSE(isLasPath("y.laz"));
}

TEST(TextUtils, TrimAndSmallInts) {
    EXPECT_EQ(trim(" \t\r\n"), "");
    EXPECT_EQ(trim("\t a b \r\n"), "a b");
    EXPECT_EQ(smallIntToText(0), "0");
    EXPECT_EQ(smallIntToText(5), "5");
    EXPECT_EQ(smallIntToText(-12), "-12");
    EXPECT_EQ(smallIntToText(123), "123");
}

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
