#include "platform/atomic_write.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "support/other_user.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

// A replace that fails, whether it cannot create its new file, write it or move it into place,
// says the system's reason, keeps the old file and leaves no new file beside it.
TEST(ReplaceFileWhole, AFailureSaysWhyAndLeavesNoTemporary) {
    const testsupport::TempDir dir;
    int error = 0;
    EXPECT_FALSE(platform::replaceFileWhole((dir / "gone" / "s.ini").string(), "x", false, &error));
    EXPECT_EQ(error, ENOENT);

    // As another user: a folder it may not write, and a sticky folder that refuses the rename
    // onto a file it does not own.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    fs::create_directory(dir / "closed");
    fs::create_directory(dir / "sticky");
    fs::permissions(dir / "sticky", fs::perms::all | fs::perms::sticky_bit);
    const fs::path owned = dir / "sticky" / "status.ini";
    testsupport::writeFile(owned, "old");
    std::string why;
    const auto errors = testsupport::runWithoutRoot(
        [&] {
            std::string numbers;
            for (const fs::path& path : {dir / "closed" / "status.ini", owned}) {
                int code = 0;
                platform::replaceFileWhole(path.string(), "new", false, &code);
                numbers += std::to_string(code) + " ";
            }
            return numbers;
        },
        &why);
    if (!errors) GTEST_SKIP() << why;
    EXPECT_EQ(*errors, std::to_string(EACCES) + " " + std::to_string(EPERM) + " ");
    EXPECT_EQ(testsupport::readFile(owned), "old");
    EXPECT_FALSE(fs::exists(owned.string() + ".tmp"));

    const testsupport::SmallDisk disk(dir / "disk", 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a small tmpfs (needs root)";
    const fs::path settings = disk.path() / "settings.ini";
    testsupport::writeFile(settings, "old");
    EXPECT_FALSE(
        platform::replaceFileWhole(settings.string(), std::string(256 * 1024, 'x'), true, &error));
    EXPECT_EQ(error, ENOSPC);
    EXPECT_EQ(testsupport::readFile(settings), "old");
    EXPECT_FALSE(fs::exists(settings.string() + ".tmp"));
}
