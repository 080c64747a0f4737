#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_io.h"

// An output file written through one large buffer. A failed write is
// remembered like a stream's bad state (later writes are dropped) together with the system's
// reason, so a route can tell a full disk from success and say why.
class OutputFile {
public:
    static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;

    OutputFile();
    ~OutputFile();  // closes without reporting; routes call close() themselves
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates or truncates. False with reason() filled when the file cannot be opened.
    // shownPath, when given, is the name path() reports (the output a temporary file becomes).
    bool open(const std::string& path, const std::string& shownPath = {});

    void write(const void* data, std::size_t bytes) {
        if (bytes <= kBufferBytes - used_) {
            copyIn(data, bytes);
            return;
        }
        writeSlow(data, bytes);
    }

    // Room for at least `bytes` (at most kBufferBytes) at the buffer's end; commit() what was
    // used. Lets callers format straight into the buffer.
    char* reserve(std::size_t bytes) {
        if (bytes > kBufferBytes - used_) flushBuffer();
        return buffer_ + used_;
    }
    void commit(std::size_t bytes) { used_ += bytes; }
    // Bytes that fit at the buffer's end before write() or reserve() would flush.
    std::size_t room() const { return kBufferBytes - used_; }

    // Writes the buffer out, then `bytes` at `offset` without moving the end of the file.
    void writeAt(std::uint64_t offset, const void* data, std::size_t bytes);

    // Flushes and closes; false when this or any earlier write or the close failed.
    bool close();

    bool good() const { return failed_.empty(); }
    // "No space left on device" and the like; empty while good.
    const std::string& reason() const { return failed_; }
    bool isOpen() const { return file_.isOpen(); }
    const std::string& path() const { return path_; }  // for messages
    // Bytes handed to write() and commit() so far.
    std::uint64_t bytesWritten() const { return flushed_ + used_; }

private:
    void copyIn(const void* data, std::size_t bytes);
    void writeSlow(const void* data, std::size_t bytes);
    void flushBuffer();
    void fail(int errnoValue);

    platform::File file_;
    std::string path_;
    std::string failed_;
    char* buffer_ = nullptr;
    std::size_t used_ = 0;
    std::uint64_t flushed_ = 0;
};
