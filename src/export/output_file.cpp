#include "export/output_file.h"

#include <cstring>

OutputFile::OutputFile() : buffer_(new char[kBufferBytes]) {}

OutputFile::~OutputFile() {
    if (file_.isOpen()) {
        flushBuffer();
        file_.close();
    }
    delete[] buffer_;
}

bool OutputFile::open(const std::string& path, const std::string& shownPath) {
    if (file_.isOpen()) close();
    path_ = shownPath.empty() ? path : shownPath;
    failed_.clear();
    used_ = 0;
    flushed_ = 0;
    if (!file_.openWrite(path)) {
        fail(file_.lastError());
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
    if (good() && file_.isOpen() && !file_.writeAll(data, bytes)) fail(file_.lastError());
    flushed_ += bytes;
}

void OutputFile::flushBuffer() {
    if (used_ == 0) return;
    if (good() && file_.isOpen() && !file_.writeAll(buffer_, used_)) fail(file_.lastError());
    flushed_ += used_;
    used_ = 0;
}

void OutputFile::writeAt(std::uint64_t offset, const void* data, std::size_t bytes) {
    flushBuffer();
    if (!good() || !file_.isOpen()) return;
    if (!file_.writeAllAt(offset, data, bytes)) fail(file_.lastError());
}

bool OutputFile::close() {
    if (!file_.isOpen()) return good();
    flushBuffer();
    // A network or quota file system may report a lost write only here.
    if (!file_.close() && good()) fail(file_.lastError());
    return good();
}

void OutputFile::fail(int errnoValue) {
    if (failed_.empty()) failed_ = platform::systemErrorText(errnoValue);
    if (failed_.empty()) failed_ = "write failed";
}
