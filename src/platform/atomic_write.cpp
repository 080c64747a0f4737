#include "platform/atomic_write.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
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

bool sameInode(int fd, const std::string& path) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           open.st_dev == named.st_dev && open.st_ino == named.st_ino;
}

// A new file of our own, locked until it is renamed or removed: O_EXCL fails on anything
// already at the name, a link included.
int createExclusive(const std::string& path, std::string& temporary, bool reclaim) {
    static std::atomic<unsigned> made{0};
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    temporary = replaceWorkingName(path);
    int fd = ::open(temporary.c_str(), kFlags, 0666);
    // A plain file there that no writer holds is what a writer killed before its rename left:
    // its name goes (a hard link's other names stay). A held file, a link or anything else stays.
    if (fd < 0 && errno == EEXIST && reclaim) {
        removeUnlockedFile(temporary);
        fd = ::open(temporary.c_str(), kFlags, 0666);
    }
    for (int attempt = 0; attempt < 100 && fd < 0 && errno == EEXIST; ++attempt) {
        std::string tail = ".";
        tail += std::to_string(::getpid());
        tail += '-';
        tail += std::to_string(++made);
        tail += ".tmp";
        temporary = workingName(path, tail);
        fd = ::open(temporary.c_str(), kFlags, 0666);
    }
    if (fd >= 0) ::flock(fd, LOCK_EX);
    return fd;
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
    int problem = 0;
    // A second try, under a name of its own, when another writer took the working name away
    // between its creation and its lock.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = createExclusive(path, temporary, attempt == 0);
        if (fd < 0) return failed(error, errno);
        // The duplicate holds the lock once the text's descriptor is closed, until the rename.
        const int lock = ::dup(fd);
        if (lock < 0) {
            problem = errno;
            if (sameInode(fd, temporary)) ::unlink(temporary.c_str());
            ::close(fd);
            break;
        }
        const bool written = writeAndClose(fd, text, durable, &problem);
        const bool ours = sameInode(lock, temporary);
        if (written && !ours) {
            ::close(lock);
            problem = EEXIST;
            continue;
        }
        if (written && ::rename(temporary.c_str(), path.c_str()) == 0) {
            ::close(lock);
            return true;
        }
        if (written) problem = errno;
        if (ours) ::unlink(temporary.c_str());
        ::close(lock);
        break;
    }
    return failed(error, problem);
}

}  // namespace platform
