#include "platform/file_io.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

File::~File() {
    if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)), error_(other.error_) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
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
    return true;
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
    const int result = ::close(std::exchange(fd_, -1));
    if (result != 0) return failed(errno);
    return true;
}

std::string systemErrorText(int errorNumber) { return std::strerror(errorNumber); }

}  // namespace platform
