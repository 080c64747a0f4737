#include "platform/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

std::atomic<int> injectedCloseFailure{0};
std::atomic<long> injectedNameLimit{0};

}  // namespace

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      error_(other.error_),
      writable_(std::exchange(other.writable_, false)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
        writable_ = std::exchange(other.writable_, false);
    }
    return *this;
}

bool File::failed(int errorNumber) {
    error_ = errorNumber;
    return false;
}

bool File::openRead(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) return failed(errno);
    // Reads block as usual again.
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) ::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

bool File::isRegular() const {
    struct stat st {};
    return fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

bool File::openWrite(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) return failed(errno);
    writable_ = true;
    return true;
}

bool File::openLockable(const std::string& path) {
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ < 0) return failed(errno);
    return true;
}

bool File::openExistingLockable(const std::string& path) {
    close();
    // Open for writing: an NFS client takes an exclusive lock only on such a file.
    fd_ = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return failed(errno);
    return true;
}

bool File::tryLockExclusive() {
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) return failed(errno);
    return true;
}

bool File::isAt(const std::string& path) const {
    struct stat held {};
    struct stat named {};
    return fd_ >= 0 && ::fstat(fd_, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

long long File::readSome(void* target, std::size_t bytes) {
    for (;;) {
        const ssize_t n = ::read(fd_, target, bytes);
        if (n >= 0) return n;
        if (errno != EINTR) {
            failed(errno);
            return -1;
        }
    }
}

std::size_t File::readAt(std::uint64_t offset, void* target, std::size_t bytes) {
    auto* out = static_cast<std::uint8_t*>(target);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t n = ::pread(fd_, out + done, bytes - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            failed(errno);
            break;
        }
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return done;
}

bool File::writeAll(const void* data, std::size_t bytes) {
    const auto* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::write(fd_, p, bytes);
        if (n < 0) {
            if (errno == EINTR) continue;
            return failed(errno);
        }
        if (n == 0) return failed(ENOSPC);  // a device that takes nothing says nothing itself
        p += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

bool File::writeAllAt(std::uint64_t offset, const void* data, std::size_t bytes) {
    const auto* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd_, p, bytes, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            return failed(errno);
        }
        if (n == 0) return failed(ENOSPC);
        p += n;
        offset += static_cast<std::uint64_t>(n);
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

long long File::size() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        failed(errno);
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

bool File::seek(std::uint64_t offset) {
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) return failed(errno);
    return true;
}

bool File::close() {
    if (fd_ < 0) return true;
    const bool writable = std::exchange(writable_, false);
    const int result = ::close(std::exchange(fd_, -1));
    if (result != 0) return failed(errno);
    if (writable && injectedCloseFailure.load(std::memory_order_relaxed) != 0)
        if (const int injected = injectedCloseFailure.exchange(0)) return failed(injected);
    return true;
}

std::string systemErrorText(int errorNumber) { return std::strerror(errorNumber); }

int writeRefusal(const std::string& path) {
    // Never through a link: a fixed working name may have been swapped for one to the input.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) return 0;
    bool created = false;
    // Non-blocking: something swapped in for a FIFO must not hold the probe up.
    int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC,
                    0600);
        created = fd >= 0;
    }
    if (fd < 0) return errno == ENOENT || errno == ELOOP ? 0 : errno;
    int code = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        // A fresh block wholly past the end: a full disk or a size limit refuses it, where a
        // write inside the file's last blocks could still succeed.
        const off_t at = (st.st_size / 65536 + 2) * 65536;
        static const char block[4096] = {};
        if (::pwrite(fd, block, sizeof block, at) < 0) code = errno;
    }
    if (::close(fd) != 0 && code == 0) code = errno;
    if (created) ::unlink(path.c_str());
    return code;
}

int renameFile(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::size_t maxNameLength(const std::string& folder) {
    // Linux reports 1530 for FAT and exFAT, which take 255 characters: no more is trusted.
    const long injected = injectedNameLimit.load(std::memory_order_relaxed);
    const long limit =
        injected != 0 ? injected : ::pathconf(folder.empty() ? "." : folder.c_str(), _PC_NAME_MAX);
    return limit > 0 && limit < NAME_MAX ? static_cast<std::size_t>(limit) : std::size_t{NAME_MAX};
}

std::string fitFileName(const std::string& folder, const std::string& head,
                        const std::string& tail) {
    const std::size_t limit = maxNameLength(folder);
    if (head.size() + tail.size() <= limit) return head + tail;
    std::uint32_t hash = 2166136261u;  // FNV-1a: the same name gives the same working name
    for (const unsigned char c : head) hash = (hash ^ c) * 16777619u;
    char mark[16];
    std::snprintf(mark, sizeof mark, "~%08x", static_cast<unsigned>(hash));
    const std::size_t room = limit > tail.size() + 9 ? limit - tail.size() - 9 : 0;
    std::size_t cut = std::min(room, head.size());
    while (cut > 0 && (static_cast<unsigned char>(head[cut]) & 0xC0) == 0x80) --cut;
    return head.substr(0, cut) + mark + tail;
}

bool removeUnlockedFile(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    File file;
    return file.openExistingLockable(path) && file.isRegular() && file.tryLockExclusive() &&
           file.isAt(path) && ::unlink(path.c_str()) == 0;
}

long processId() { return static_cast<long>(::getpid()); }

void raiseOpenFileLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool processGone(long pid) {
    // 0 and negative ids would name process groups.
    if (pid <= 0 || pid > INT_MAX) return false;
    return ::kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH;
}

void failNextWriteCloseForTesting(int errorNumber) { injectedCloseFailure = errorNumber; }

void reportNameLimitForTesting(long limit) { injectedNameLimit = limit; }

}  // namespace platform
