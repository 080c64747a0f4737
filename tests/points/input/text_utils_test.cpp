#include "points/input/text_utils.h"

#include <gtest/gtest.h>

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
