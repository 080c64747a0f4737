#include "export/output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

OutputFile::OutputFile() : buffer_(new char[kBufferBytes]) {}

OutputFile::~OutputFile() {
    if (fd_ >= 0) {
        flushBuffer();
        ::close(fd_);
    }
    delete[] buffer_;
}

bool OutputFile::open(const std::string& path) {
    if (fd_ >= 0) close();
    path_ = path;
    failed_.clear();
    used_ = 0;
    flushed_ = 0;
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        fail(errno);
        return false;
    }
    return true;
}

void OutputFile::copyIn(const void* data, std::size_t bytes) {
    std::memcpy(buffer_ + used_, data, bytes);
    used_ += bytes;
}

void OutputFile::writeSlow(const void* data, std::size_t bytes) {
    flushBuffer();
    if (bytes <= kBufferBytes) {
        copyIn(data, bytes);
        return;
    }
    if (good() && fd_ >= 0) writeAll(static_cast<const char*>(data), bytes);
    flushed_ += bytes;
}

void OutputFile::flushBuffer() {
    if (used_ == 0) return;
    if (good() && fd_ >= 0) writeAll(buffer_, used_);
    flushed_ += used_;
    used_ = 0;
}

bool OutputFile::writeAll(const char* data, std::size_t bytes) {
    while (bytes > 0) {
        const ssize_t n = ::write(fd_, data, bytes);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
            return false;
        }
        if (n == 0) {  // a device that takes nothing reports no error of its own
            fail(ENOSPC);
            return false;
        }
        data += n;
        bytes -= static_cast<std::size_t>(n);
    }
    return true;
}

void OutputFile::writeAt(std::uint64_t offset, const void* data, std::size_t bytes) {
    flushBuffer();
    if (!good() || fd_ < 0) return;
    const char* p = static_cast<const char*>(data);
    while (bytes > 0) {
        const ssize_t n = ::pwrite(fd_, p, bytes, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(errno);
            return;
        }
        if (n == 0) {
            fail(ENOSPC);
            return;
        }
        p += n;
        offset += static_cast<std::uint64_t>(n);
        bytes -= static_cast<std::size_t>(n);
    }
}

bool OutputFile::close() {
    if (fd_ < 0) return good();
    flushBuffer();
    // A network or quota file system may report a lost write only here.
    if (::close(fd_) != 0 && good()) fail(errno);
    fd_ = -1;
    return good();
}

void OutputFile::fail(int errnoValue) {
    if (failed_.empty()) failed_ = std::strerror(errnoValue);
    if (failed_.empty()) failed_ = "write failed";
}
