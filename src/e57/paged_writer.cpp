#include "paged_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "E57Exception.h"
#include "crc32c.h"

namespace e57 {

namespace {

// 1 MiB of physical pages per write call.
constexpr std::uint64_t kBufferPages = 1024;

std::string errnoText() {
    const int e = errno;
    if (e == 0) return "unknown";
    return std::string(std::strerror(e)) + " (errno=" + std::to_string(e) + ")";
}

}  // namespace

PagedWriter::PagedWriter(const std::string& path) : path_(path), buffer_(kBufferPages * kPage, 0) {
    errno = 0;
    file_.open(path, std::ios::in | std::ios::out | std::ios::trunc | std::ios::binary);
    if (!file_.is_open()) {
        throw E57Exception(ErrorOpenFailed, "cannot create file=" + path + " error=" + errnoText(),
                           __FILE__, __LINE__, __func__);
    }
}

PagedWriter::~PagedWriter() { abandon(); }

void PagedWriter::abandon() noexcept {
    if (file_.is_open()) {
        try {
            file_.close();
        } catch (...) {
        }
    }
    finished_ = true;
}

void PagedWriter::ensureUsable() const {
    if (broken_ || finished_) {
        throw E57Exception(
            ErrorWriteFailed,
            "file=" + path_ +
                (broken_ ? " is unusable after an earlier write error" : " is closed"),
            __FILE__, __LINE__, __func__);
    }
}

void PagedWriter::fail(const char* what) {
    broken_ = true;
    const std::string text =
        std::string(what) + " failed for file=" + path_ + " error=" + errnoText();
    throw E57Exception(ErrorWriteFailed, text, __FILE__, __LINE__, __func__);
}

void PagedWriter::writeAt(std::uint64_t physicalOffset, const std::uint8_t* data,
                          std::size_t size) {
    errno = 0;
    file_.seekp(static_cast<std::streamoff>(physicalOffset));
    if (!file_) fail("seek");
    file_.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!file_) fail("write");
}

void PagedWriter::readAt(std::uint64_t physicalOffset, std::uint8_t* data, std::size_t size) {
    errno = 0;
    file_.seekg(static_cast<std::streamoff>(physicalOffset));
    if (!file_) fail("seek");
    file_.read(reinterpret_cast<char*>(data), static_cast<std::streamsize>(size));
    if (!file_ || file_.gcount() != static_cast<std::streamsize>(size)) fail("read back of a page");
}

void PagedWriter::flushFullPages() {
    writeAt(firstPage_ * kPage, buffer_.data(), static_cast<std::size_t>(pageInBuffer_ * kPage));
    firstPage_ += pageInBuffer_;
    pageInBuffer_ = 0;
}

void PagedWriter::append(const void* data, std::size_t size) {
    ensureUsable();
    const auto* src = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        std::uint8_t* page = buffer_.data() + pageInBuffer_ * kPage;
        const std::size_t take = std::min<std::size_t>(size, kPayload - posInPage_);
        std::memcpy(page + posInPage_, src, take);
        src += take;
        size -= take;
        posInPage_ += take;
        if (posInPage_ == kPayload) {
            sealPage(page);
            posInPage_ = 0;
            if (++pageInBuffer_ == kBufferPages) flushFullPages();
        }
    }
}

void PagedWriter::appendZeros(std::size_t size) {
    ensureUsable();
    while (size > 0) {
        std::uint8_t* page = buffer_.data() + pageInBuffer_ * kPage;
        const std::size_t take = std::min<std::size_t>(size, kPayload - posInPage_);
        std::memset(page + posInPage_, 0, take);
        size -= take;
        posInPage_ += take;
        if (posInPage_ == kPayload) {
            sealPage(page);
            posInPage_ = 0;
            if (++pageInBuffer_ == kBufferPages) flushFullPages();
        }
    }
}

void PagedWriter::patch(std::uint64_t logicalOffset, const void* data, std::size_t size) {
    ensureUsable();
    if (logicalOffset + size > logicalPosition()) {
        throw E57Exception(ErrorInternal, "patch beyond the written end of file=" + path_, __FILE__,
                           __LINE__, __func__);
    }
    const auto* src = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const std::uint64_t pageIndex = logicalOffset / kPayload;
        const std::uint64_t inPage = logicalOffset % kPayload;
        const std::size_t take = std::min<std::size_t>(size, kPayload - inPage);
        if (pageIndex >= firstPage_) {
            std::uint8_t* page = buffer_.data() + (pageIndex - firstPage_) * kPage;
            std::memcpy(page + inPage, src, take);
            if (pageIndex - firstPage_ < pageInBuffer_)
                sealPage(page);  // the open page is sealed later
        } else {
            std::uint8_t page[kPage];
            readAt(pageIndex * kPage, page, kPage);
            std::memcpy(page + inPage, src, take);
            sealPage(page);
            writeAt(pageIndex * kPage, page, kPage);
        }
        src += take;
        size -= take;
        logicalOffset += take;
    }
}

std::uint64_t PagedWriter::finish() {
    ensureUsable();
    if (posInPage_ > 0) {
        std::uint8_t* page = buffer_.data() + pageInBuffer_ * kPage;
        std::memset(page + posInPage_, 0, kPayload - posInPage_);
        sealPage(page);
        posInPage_ = 0;
        ++pageInBuffer_;
    }
    if (pageInBuffer_ > 0) flushFullPages();
    errno = 0;
    file_.flush();
    if (!file_) fail("flush");
    file_.close();
    if (file_.fail()) fail("close");
    finished_ = true;
    buffer_.clear();
    buffer_.shrink_to_fit();
    return firstPage_ * kPage;
}

}  // namespace e57
