#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/file_io.h"
#include "points/input/xyz_line_end.h"
#include "points/input/xyz_line_grammar.h"

// The lines of a text file, read in large blocks: each line up to its '\n', a last line
// without one included. A line that fits the block is handed out in place, with the padding
// the XYZ line grammar needs around it; a longer one is gathered with its separator runs
// reduced to one blank, and is never handed out empty.
class XyzSplitLines {
public:
    enum class Next { Line, End, Error };
    static constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

    // False also for anything but a regular file; `reason` then says why. A UTF-8 byte order
    // mark at the file's start is skipped.
    bool open(const std::string& path, std::string* reason = nullptr);

    // padded: the line lies in the block (parseXyzLineInPaddedBuffer may read around it).
    Next next(const char*& begin, const char*& end, bool& padded) {
        const char* const data = block();
        if (const char* hit = findXyzLineEnd(data + pos_, data + end_)) {
            begin = data + pos_;
            end = hit;
            pos_ = static_cast<std::size_t>(hit - data) + 1;
            padded = true;
            return Next::Line;
        }
        return nextAfterRefill(begin, end, padded);
    }

private:
    static constexpr std::size_t kPadBefore = 16;
    static constexpr std::size_t kPadAfter = 64;
    static_assert(kPadBefore >= kXyzLinePadBefore && kPadAfter >= kXyzLinePadAfter);

    char* block() { return storage_.get() + kPadBefore; }
    bool refill();
    Next nextAfterRefill(const char*& begin, const char*& end, bool& padded);
    Next longLine(const char*& begin, const char*& end, bool& padded);

    platform::File file_;
    std::unique_ptr<char[]> storage_;
    std::size_t pos_ = 0;  // [pos_, end_) of the block is read but not consumed
    std::size_t end_ = 0;
    bool fileEnd_ = false;
    bool atFileStart_ = true;  // nothing consumed yet: a byte order mark is still to be skipped
    std::string held_;         // the last long line
};
