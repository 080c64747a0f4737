#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "crc32c.h"

namespace e57 {

inline std::uint64_t logicalToPhysical(std::uint64_t logical) {
    const std::uint64_t page = logical / kLogicalPageSize;
    return page * kPhysicalPageSize + (logical - page * kLogicalPageSize);
}

// An offset inside a checksum word maps to the first logical byte of the next page.
inline std::uint64_t physicalToLogical(std::uint64_t physical) {
    const std::uint64_t page = physical >> 10;
    std::uint64_t rem = physical & (kPhysicalPageSize - 1);
    if (rem > kLogicalPageSize) rem = kLogicalPageSize;
    return page * kLogicalPageSize + rem;
}

// Reads the logical byte stream of an E57 file: whole pages are read in large chunks, the CRC
// words are stripped, and each page's checksum is verified once (as the policy asks).
class PagedReader {
public:
    // Throws ErrorOpenFailed, ErrorBadInputDataSize.
    PagedReader(const std::string& path, int checksumPolicy);
    ~PagedReader();
    PagedReader(const PagedReader&) = delete;
    PagedReader& operator=(const PagedReader&) = delete;

    std::uint64_t physicalSize() const { return physicalSize_; }
    std::uint64_t logicalSize() const { return pageCount_ * kLogicalPageSize; }
    const std::string& path() const { return path_; }

    // Copies n logical bytes starting at logical offset `logical`. Throws ErrorReadFailed when the
    // range leaves the file, ErrorBadChecksum when a page is corrupt.
    void readLogical(std::uint64_t logical, void* dst, std::size_t n);

private:
    bool shouldVerify(std::uint64_t page) const;
    void readPages(std::uint64_t firstPage, std::uint64_t count);  // into scratch_
    void verifyPage(std::uint64_t page);                           // page must be in the window
    void fillWindow(std::uint64_t logical);

    std::string path_;
    int fd_ = -1;
    int policy_ = 100;
    std::uint64_t physicalSize_ = 0;
    std::uint64_t pageCount_ = 0;
    std::uint64_t verifyInterval_ = 1;
    std::vector<std::uint64_t> verified_;  // one bit per page
    std::vector<std::uint8_t> scratch_;    // verified physical pages of the current window
    std::uint64_t windowFirstPage_ = 0;
    std::uint64_t windowPages_ = 0;
};

}  // namespace e57
