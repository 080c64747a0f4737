#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/test_support.h"

// Writes go where they are asked to, reads stop at the end, and the size follows the writes.
TEST(PlatformFile, WritesReadsAndSizes) {
    testsupport::TempDir dir;
    const std::string path = (dir / "f.bin").string();
    platform::File out;
    ASSERT_TRUE(out.openWrite(path));
    ASSERT_TRUE(out.writeAll("abcdef", 6));
    ASSERT_TRUE(out.writeAllAt(1, "XY", 2));  // the current position stays at the end
    ASSERT_TRUE(out.writeAll("g", 1));
    EXPECT_EQ(out.size(), 7);
    ASSERT_TRUE(out.close());
    EXPECT_TRUE(out.close());  // closing twice is harmless

    platform::File in;
    ASSERT_TRUE(in.openRead(path));
    char buffer[16] = {};
    EXPECT_EQ(in.readAt(5, buffer, 8), 2u);  // short at the end of the file
    EXPECT_EQ(std::string(buffer, 2), "fg");
    ASSERT_TRUE(in.seek(3));
    EXPECT_EQ(in.readSome(buffer, sizeof buffer), 4);
    EXPECT_EQ(std::string(buffer, 4), "defg");
    EXPECT_EQ(in.readSome(buffer, sizeof buffer), 0);
    EXPECT_EQ(testsupport::readFile(path), "aXYdefg");
}

// Failures keep the system's reason.
TEST(PlatformFile, FailuresKeepTheirErrorNumber) {
    platform::File missing;
    EXPECT_FALSE(missing.openRead("/nonexistent-brindlewick/x"));
    EXPECT_EQ(missing.lastError(), ENOENT);
    EXPECT_FALSE(missing.isOpen());

    platform::File full;
    ASSERT_TRUE(full.openWrite("/dev/full"));
    EXPECT_FALSE(full.writeAll("x", 1));
    EXPECT_EQ(full.lastError(), ENOSPC);
    EXPECT_EQ(platform::systemErrorText(ENOSPC), "No space left on device");
}
