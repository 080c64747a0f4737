#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace e57 {

// The physical page layer for writing: callers append logical bytes, this class cuts them into
// 1024-byte pages (1020 payload bytes + CRC-32C), computes each page's checksum once when the
// page is full and writes many pages per system call. Bytes already appended can be rewritten
// (section headers, the file header); that re-seals only the pages touched.
class PagedWriter {
public:
    // Creates or truncates the file. Throws E57Exception(ErrorOpenFailed).
    explicit PagedWriter(const std::string& path);
    ~PagedWriter();
    PagedWriter(const PagedWriter&) = delete;
    PagedWriter& operator=(const PagedWriter&) = delete;

    const std::string& path() const { return path_; }

    // Number of logical bytes appended so far (the next byte's logical offset).
    std::uint64_t logicalPosition() const {
        return (firstPage_ + pageInBuffer_) * kPayload + posInPage_;
    }
    std::uint64_t physicalPosition() const { return logicalToPhysical(logicalPosition()); }

    void append(const void* data, std::size_t size);
    void appendZeros(std::size_t size);

    // Overwrites `size` bytes at `logicalOffset`; the range must lie inside what was appended.
    void patch(std::uint64_t logicalOffset, const void* data, std::size_t size);

    // Zero-fills the rest of the last page, seals and writes every pending page and closes the
    // file. Returns the physical file length. Throws E57Exception on an I/O error.
    std::uint64_t finish();

    // Closes the file without completing it (used when the writer is dropped after an error).
    void abandon() noexcept;

    static constexpr std::uint64_t kPage = 1024;
    static constexpr std::uint64_t kPayload = 1020;
    static std::uint64_t logicalToPhysical(std::uint64_t logical) {
        return (logical / kPayload) * kPage + logical % kPayload;
    }

private:
    void ensureUsable() const;
    void flushFullPages();
    void writeAt(std::uint64_t physicalOffset, const std::uint8_t* data, std::size_t size);
    void readAt(std::uint64_t physicalOffset, std::uint8_t* data, std::size_t size);
    [[noreturn]] void fail(const char* what);

    std::string path_;
    std::fstream file_;
    bool broken_ = false;
    bool finished_ = false;
    // Pages [0, firstPage_) are on disk; the buffer holds pages firstPage_ .. firstPage_ +
    // pageInBuffer_, the last of them filled up to posInPage_ and not yet sealed.
    std::vector<std::uint8_t> buffer_;
    std::uint64_t firstPage_ = 0;
    std::uint64_t pageInBuffer_ = 0;
    std::uint64_t posInPage_ = 0;
};

}  // namespace e57
