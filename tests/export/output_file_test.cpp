#include "export/output_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace {

using testsupport::readFile;
using testsupport::TempDir;

// Bytes that show their own position, so a lost or doubled block is visible.
std::string pattern(std::size_t n, std::size_t seed) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 131 + seed) % 251);
    return s;
}

TEST(OutputFile, WritesAcrossBufferBoundariesInOrder) {
    TempDir dir;
    const std::string path = (dir / "out.bin").string();
    OutputFile out;
    ASSERT_TRUE(out.open(path));
    std::string expected;
    // Small, buffer-straddling, larger-than-buffer and formatted writes, mixed.
    const std::size_t sizes[] = {
        3, OutputFile::kBufferBytes - 1, 5, 2 * OutputFile::kBufferBytes + 7, 1, 0, 4096};
    std::size_t seed = 0;
    for (std::size_t n : sizes) {
        const std::string part = pattern(n, seed++);
        out.write(part.data(), part.size());
        expected += part;
        char* p = out.reserve(16);
        std::memcpy(p, "line\n", 5);
        out.commit(5);
        expected += "line\n";
    }
    EXPECT_EQ(out.bytesWritten(), expected.size());
    ASSERT_TRUE(out.close());
    EXPECT_TRUE(out.good());
    EXPECT_EQ(readFile(path), expected);
}

TEST(OutputFile, WriteAtPatchesWithoutMovingTheEnd) {
    TempDir dir;
    const std::string path = (dir / "out.bin").string();
    OutputFile out;
    ASSERT_TRUE(out.open(path));
    out.write("0123456789", 10);
    out.writeAt(2, "ab", 2);
    out.write("XY", 2);
    out.writeAt(10, "Z", 1);
    ASSERT_TRUE(out.close());
    EXPECT_EQ(readFile(path), "01ab456789ZY");
}

TEST(OutputFile, OpenTruncatesAndReportsWhyItCannotOpen) {
    TempDir dir;
    const std::string path = (dir / "out.bin").string();
    testsupport::writeFile(path, "old content that is longer");
    OutputFile out;
    ASSERT_TRUE(out.open(path));
    out.write("new", 3);
    ASSERT_TRUE(out.close());
    EXPECT_EQ(readFile(path), "new");

    OutputFile missing;
    EXPECT_FALSE(missing.open((dir / "no" / "such" / "folder" / "x").string()));
    EXPECT_FALSE(missing.good());
    EXPECT_EQ(missing.reason(), "No such file or directory");
}

// A full disk must surface, whether the failing write is buffered, large, a patch or the flush
// at close, and nothing after it may claim success.
TEST(OutputFile, FullDiskIsStickyAndNamed) {
    TempDir dir;
    const std::string full = (dir / "full").string();
    REQUIRE_CHAR_DEVICE(testsupport::makeFullDevice(full), full);
    {
        OutputFile out;
        ASSERT_TRUE(out.open(full));
        out.write("abc", 3);
        EXPECT_TRUE(out.good());  // still in the buffer
        EXPECT_FALSE(out.close());
        EXPECT_EQ(out.reason(), "No space left on device");
    }
    {
        OutputFile out;
        ASSERT_TRUE(out.open(full));
        const std::string big = pattern(OutputFile::kBufferBytes + 10, 1);
        out.write(big.data(), big.size());
        EXPECT_FALSE(out.good());
        out.write("more", 4);
        EXPECT_FALSE(out.close());
        EXPECT_EQ(out.reason(), "No space left on device");
    }
    {
        OutputFile out;
        ASSERT_TRUE(out.open(full));
        out.writeAt(0, "x", 1);
        EXPECT_FALSE(out.good());
    }
}

}  // namespace
