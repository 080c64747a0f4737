#pragma once

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

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);

}  // namespace testsupport
