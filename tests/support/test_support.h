#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace testsupport {

// ../shared/testdata seen from the project root.
std::filesystem::path sharedTestData();

// Skips the calling test with a clear message when the shared test data is absent.
#define REQUIRE_SHARED_TESTDATA()                                                                \
    do {                                                                                         \
        if (!std::filesystem::exists(::testsupport::sharedTestData()))                           \
            GTEST_SKIP() << "shared test data not found at " << ::testsupport::sharedTestData(); \
    } while (0)

// A fresh directory removed with its content when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return dir_; }
    std::filesystem::path operator/(const std::string& name) const { return dir_ / name; }

private:
    std::filesystem::path dir_;
};

// A character device of the test's own, made with mknod: never the machine's /dev nodes. False
// (the caller skips) when the process may not make device nodes or the folder's file system
// does not open them (nodev).
bool makeCharDevice(const std::filesystem::path& path, unsigned major, unsigned minor);
inline bool makeFullDevice(const std::filesystem::path& path) { return makeCharDevice(path, 1, 7); }
inline bool makeNullDevice(const std::filesystem::path& path) { return makeCharDevice(path, 1, 3); }
inline bool makeZeroDevice(const std::filesystem::path& path) { return makeCharDevice(path, 1, 5); }
#define REQUIRE_CHAR_DEVICE(made, path)                                                            \
    do {                                                                                           \
        if (!(made))                                                                               \
            GTEST_SKIP() << "cannot make the device node " << (path) << " (needs root, no nodev)"; \
    } while (0)

// A tmpfs of `bytes` mounted on a fresh folder inside the test's own folder while the object
// lives, for a disk that fills at a known size. The mount is made in the test process's own
// mount namespace, so the machine never sees it, even after a crash. mounted() is false (the
// caller skips) where the process may not mount.
class SmallDisk {
public:
    SmallDisk(const std::filesystem::path& folder, std::uint64_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    const std::filesystem::path& path() const { return folder_; }

private:
    std::filesystem::path folder_;
    bool mounted_ = false;
};

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);

}  // namespace testsupport
