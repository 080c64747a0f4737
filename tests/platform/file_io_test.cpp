#include "platform/file_io.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "support/file_size_limit.h"
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

    EXPECT_EQ(platform::systemErrorText(ENOSPC), "No space left on device");
    testsupport::TempDir dir;
    const std::filesystem::path device = dir / "full";
    REQUIRE_CHAR_DEVICE(testsupport::makeFullDevice(device), device);
    platform::File full;
    ASSERT_TRUE(full.openWrite(device.string()));
    EXPECT_FALSE(full.writeAll("x", 1));
    EXPECT_EQ(full.lastError(), ENOSPC);
}

// The probe of why a file takes no data writes past the file's true end (a size limit that is
// no multiple of its 64 KiB step, reached by the file, still refuses it), removes a file it made,
// and never writes into a device.
TEST(PlatformFile, WriteRefusalWritesPastTheEndAndNeverIntoADevice) {
    testsupport::TempDir dir;
    const std::string path = (dir / "f.bin").string();
    const std::string fresh = (dir / "fresh.bin").string();
    {
        const testsupport::FileSizeLimit limit(100 * 1024);
        platform::File out;
        ASSERT_TRUE(out.openWrite(path));
        const std::string bytes(100 * 1024, 'x');
        ASSERT_TRUE(out.writeAll(bytes.data(), bytes.size()));
        ASSERT_TRUE(out.close());
        EXPECT_EQ(platform::systemErrorText(platform::writeRefusal(path)), "File too large");
        EXPECT_EQ(platform::writeRefusal(fresh), EFBIG);
    }
    EXPECT_FALSE(std::filesystem::exists(fresh));
    EXPECT_EQ(platform::writeRefusal(path), 0);
    EXPECT_EQ(platform::writeRefusal((dir / "no" / "f.bin").string()), 0);
    // A FIFO without a reader would refuse the open (ENXIO), which is no reason about the disk.
    const std::filesystem::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(platform::writeRefusal(fifo.string()), 0);

    const std::filesystem::path device = dir / "full";
    REQUIRE_CHAR_DEVICE(testsupport::makeFullDevice(device), device);
    EXPECT_EQ(platform::writeRefusal(device.string()), 0);  // a write there would say ENOSPC
}

// A link at the probed name (a fixed working name swapped for a link to the input) is never
// written through: the file it leads to keeps its size and content.
TEST(PlatformFile, WriteRefusalNeverWritesThroughALink) {
    testsupport::TempDir dir;
    const auto target = dir / "input.e57";
    testsupport::writeFile(target, "points");
    std::filesystem::create_symlink(target, dir / "out_with_photos_tmp.e57");
    EXPECT_EQ(platform::writeRefusal((dir / "out_with_photos_tmp.e57").string()), 0);
    EXPECT_EQ(testsupport::readFile(target), "points");
}

// A working file's lock: never taken through a link, exclusive between two opens, and held
// only while the name still leads to the locked file.
TEST(PlatformFile, LockableFilesRenamesAndNameLimits) {
    testsupport::TempDir dir;
    const std::string path = (dir / "w.lock").string();
    platform::File first, second;
    ASSERT_TRUE(first.openLockable(path));
    ASSERT_TRUE(first.tryLockExclusive());
    ASSERT_TRUE(second.openLockable(path));
    EXPECT_FALSE(second.tryLockExclusive());
    EXPECT_EQ(second.lastError(), EWOULDBLOCK);
    EXPECT_TRUE(first.isAt(path));
    ASSERT_EQ(platform::renameFile(path, (dir / "moved").string()), 0);
    EXPECT_FALSE(first.isAt(path));
    EXPECT_EQ(platform::renameFile(path, (dir / "x").string()), ENOENT);
    testsupport::writeFile(path, "another file on the same disk");
    EXPECT_FALSE(first.isAt(path));

    std::filesystem::create_symlink(dir / "moved", dir / "link");
    platform::File linked;
    EXPECT_FALSE(linked.openLockable((dir / "link").string()));
    EXPECT_EQ(linked.lastError(), ELOOP);
    // Never above 255 (FAT reports 1530); a smaller limit (eCryptfs: 143) is kept.
    const long reported = ::pathconf(dir.path().c_str(), _PC_NAME_MAX);
    EXPECT_EQ(platform::maxNameLength(dir.path().string()),
              reported > 0 ? std::min<std::size_t>(static_cast<std::size_t>(reported), 255) : 255u);
    EXPECT_EQ(platform::maxNameLength((dir / "not-yet").string()), 255u);
    // The same through the seam, for file systems this machine may not mount.
    const std::pair<long, std::size_t> reports[] = {{1530, 255}, {256, 255}, {143, 143}};
    for (const auto& [answer, taken] : reports) {
        platform::reportNameLimitForTesting(answer);
        EXPECT_EQ(platform::maxNameLength(dir.path().string()), taken) << answer;
    }
    platform::reportNameLimitForTesting(0);
}
