#include "paged_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "reader_error.h"

namespace e57 {
namespace {
// Pages per large read: 1 MiB of physical file.
constexpr std::uint64_t kPagesPerRead = 1024;
}  // namespace

PagedReader::PagedReader(const std::string& path, int checksumPolicy)
    : path_(path), policy_(checksumPolicy) {
    // O_NONBLOCK: a FIFO without a writer must be refused below, not waited for. Regular
    // files ignore the flag.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        const int err = errno;
        E57_THROW(ErrorOpenFailed, "errno=" + std::to_string(err) + " error='" +
                                       std::strerror(err) + "' fileName=" + path);
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        E57_THROW(ErrorOpenFailed, "not a regular file: fileName=" + path);
    }
    physicalSize_ = static_cast<std::uint64_t>(st.st_size);
    if (physicalSize_ == 0 || physicalSize_ % kPhysicalPageSize != 0) {
        ::close(fd_);
        fd_ = -1;
        E57_THROW(ErrorBadInputDataSize,
                  "file size " + std::to_string(physicalSize_) +
                      " is not a positive multiple of the 1024-byte page size: fileName=" + path);
    }
    pageCount_ = physicalSize_ / kPhysicalPageSize;
    verified_.assign((pageCount_ + 63) / 64, 0);
    if (policy_ > 0 && policy_ < 100) {
        verifyInterval_ = static_cast<std::uint64_t>(std::lround(100.0 / policy_));
        if (verifyInterval_ == 0) verifyInterval_ = 1;
    }
}

PagedReader::~PagedReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool PagedReader::shouldVerify(std::uint64_t page) const {
    if (policy_ <= 0) return false;
    if (policy_ >= 100) return true;
    return page % verifyInterval_ == 0 || page + 1 == pageCount_;
}

void PagedReader::readPages(std::uint64_t firstPage, std::uint64_t count) {
    const std::size_t bytes = static_cast<std::size_t>(count * kPhysicalPageSize);
    if (scratch_.size() < bytes) scratch_.resize(bytes);
    std::size_t done = 0;
    const off_t base = static_cast<off_t>(firstPage * kPhysicalPageSize);
    while (done < bytes) {
        const ssize_t got =
            ::pread(fd_, scratch_.data() + done, bytes - done, base + static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            E57_THROW(ErrorReadFailed, "errno=" + std::to_string(err) + " error='" +
                                           std::strerror(err) + "' fileName=" + path_ +
                                           " physicalOffset=" + std::to_string(base + done));
        }
        if (got == 0)
            E57_THROW(ErrorReadFailed,
                      "file ended early (was it truncated while open?): fileName=" + path_ +
                          " physicalOffset=" + std::to_string(base + done));
        done += static_cast<std::size_t>(got);
    }
}

void PagedReader::verifyPage(std::uint64_t page) {
    std::uint64_t& word = verified_[page >> 6];
    const std::uint64_t bit = 1ull << (page & 63);
    if ((word & bit) != 0) return;
    if (shouldVerify(page)) {
        const std::uint8_t* p = scratch_.data() + (page - windowFirstPage_) * kPhysicalPageSize;
        const std::uint32_t computed = pageChecksum(p);
        const std::uint32_t stored = storedPageChecksum(p);
        if (computed != stored)
            E57_THROW(ErrorBadChecksum,
                      "fileName=" + path_ + " computedChecksum=" + std::to_string(computed) +
                          " storedChecksum=" + std::to_string(stored) + " page=" +
                          std::to_string(page) + " length=" + std::to_string(kPhysicalPageSize));
    }
    word |= bit;
}

void PagedReader::fillWindow(std::uint64_t logical) {
    const std::uint64_t firstPage = logical / kLogicalPageSize;
    const std::uint64_t count = std::min<std::uint64_t>(kPagesPerRead, pageCount_ - firstPage);
    windowPages_ = 0;  // scratch_ is overwritten below
    readPages(firstPage, count);
    windowFirstPage_ = firstPage;
    windowPages_ = count;
}

void PagedReader::readLogical(std::uint64_t logical, void* dst, std::size_t n) {
    if (n == 0) return;
    const std::uint64_t end = logical + n;
    if (end < logical || end > logicalSize())
        E57_THROW(ErrorReadFailed, "read of " + std::to_string(n) + " bytes at logical offset " +
                                       std::to_string(logical) +
                                       " leaves the file (logical length " +
                                       std::to_string(logicalSize()) + "): fileName=" + path_);
    auto* out = static_cast<std::uint8_t*>(dst);
    // Payloads are copied straight out of the verified physical pages.
    while (n > 0) {
        const std::uint64_t page = logical / kLogicalPageSize;
        if (page < windowFirstPage_ || page >= windowFirstPage_ + windowPages_) fillWindow(logical);
        verifyPage(page);  // once per page, when its bytes are first used
        const std::size_t inPage = static_cast<std::size_t>(logical - page * kLogicalPageSize);
        const std::size_t take = std::min<std::size_t>(n, kLogicalPageSize - inPage);
        std::memcpy(out, scratch_.data() + (page - windowFirstPage_) * kPhysicalPageSize + inPage,
                    take);
        out += take;
        logical += take;
        n -= take;
    }
}

}  // namespace e57
