#include "platform/atomic_write.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_io.h"

namespace platform {

namespace {

bool failed(int* error, int errorNumber) {
    if (error) *error = errorNumber;
    return false;
}

bool writeAndClose(int fd, std::string_view text, bool durable, int* error) {
    std::size_t done = 0;
    int problem = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            problem = n < 0 ? errno : ENOSPC;  // a device that takes nothing says nothing itself
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (problem == 0 && durable && ::fsync(fd) != 0) problem = errno;
    if (::close(fd) != 0 && problem == 0) problem = errno;
    return problem == 0 || failed(error, problem);
}

// path's name + tail beside it, the name cut short where the whole would pass the limit.
std::string workingName(const std::string& path, const std::string& tail) {
    const std::size_t slash = path.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::string folder = path.substr(0, start);
    return folder + fitFileName(folder, path.substr(start), tail);
}

// A new file of our own: O_EXCL fails on anything already at the name, a link included.
int createExclusive(const std::string& path, std::string& temporary) {
    static std::atomic<unsigned> made{0};
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    temporary = replaceWorkingName(path);
    int fd = ::open(temporary.c_str(), kFlags, 0666);
    // A plain file there is what a writer killed before its rename left: removing the name
    // takes nothing else along (a hard link's other names stay). A link or anything else stays.
    struct stat st {};
    if (fd < 0 && errno == EEXIST) {
        if (::lstat(temporary.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            ::unlink(temporary.c_str()) == 0)
            fd = ::open(temporary.c_str(), kFlags, 0666);
        else
            errno = EEXIST;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (fd >= 0 || errno != EEXIST) return fd;
        temporary = workingName(
            path, "." + std::to_string(::getpid()) + "-" + std::to_string(++made) + ".tmp");
        fd = ::open(temporary.c_str(), kFlags, 0666);
    }
    return -1;
}

// A device or pipe holds no file to replace: it is written where it lies.
bool writeFileInPlace(const std::string& path, std::string_view text, bool durable, int* error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return failed(error, errno);
    return writeAndClose(fd, text, durable, error);
}

}  // namespace

std::string replaceWorkingName(const std::string& path) { return workingName(path, ".tmp"); }

bool replaceFileWhole(const std::string& path, std::string_view text, bool durable, int* error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return writeFileInPlace(path, text, durable, error);
    std::string temporary;
    const int fd = createExclusive(path, temporary);
    if (fd < 0) return failed(error, errno);
    int problem = 0;
    if (writeAndClose(fd, text, durable, &problem)) {
        if (::rename(temporary.c_str(), path.c_str()) == 0) return true;
        problem = errno;
    }
    ::unlink(temporary.c_str());
    return failed(error, problem);
}

}  // namespace platform
