#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace testsupport {

std::filesystem::path sharedTestData() {
    // A worktree that does not lie beside shared/ names it.
    if (const char* dir = std::getenv("BRINDLEWICK_SHARED_TESTDATA"); dir && *dir) return dir;
    return std::filesystem::path(BRINDLEWICK_PROJECT_ROOT) / ".." / "shared" / "testdata";
}

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "test";
    for (char& c : name)
        if (c == '/') c = '_';
    dir_ = std::filesystem::temp_directory_path() / ("brindlewick-" + std::to_string(::getpid()) +
                                                     "-" + std::to_string(counter++) + "-" + name);
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

bool makeCharDevice(const std::filesystem::path& path, unsigned major, unsigned minor) {
    if (::mknod(path.c_str(), S_IFCHR | 0666, makedev(major, minor)) != 0) return false;
    // A folder mounted nodev takes the node but refuses to open it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        ::unlink(path.c_str());
        return false;
    }
    ::close(fd);
    return true;
}

namespace {

// The test process's own mount table, once: a mount made afterwards goes with the process,
// even when it is killed before unmounting.
bool privateMounts() {
    static const bool done = ::unshare(CLONE_NEWNS) == 0 &&
                             ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return done;
}

}  // namespace

SmallDisk::SmallDisk(const std::filesystem::path& folder, std::uint64_t bytes) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    if (!privateMounts()) return;
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV | MS_NOEXEC,
                       options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace testsupport
