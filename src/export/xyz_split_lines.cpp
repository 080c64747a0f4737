#include "export/xyz_split_lines.h"

#include "points/input/xyz_byte_order_mark.h"
#include "points/input/xyz_long_line.h"

bool XyzSplitLines::open(const std::string& path, std::string* reason) {
    if (!file_.openRead(path)) {
        if (reason) *reason = platform::systemErrorText(file_.lastError());
        return false;
    }
    if (!file_.isRegular()) {  // a device or FIFO would be read for ever
        file_.close();
        if (reason) *reason = "not a regular file";
        return false;
    }
    // Zero-filled, so the parser's reads around a line never touch unset bytes.
    storage_ = std::make_unique<char[]>(kPadBefore + kBlockBytes + kPadAfter);
    pos_ = 0;
    end_ = 0;
    fileEnd_ = false;
    atFileStart_ = true;
    return true;
}

bool XyzSplitLines::refill() {
    if (pos_ > 0) {  // keep the unfinished line, drop what was consumed
        atFileStart_ = false;
        std::memmove(block(), block() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    const long long n = file_.readSome(block() + end_, kBlockBytes - end_);
    if (n < 0) return false;
    if (n == 0) fileEnd_ = true;
    end_ += static_cast<std::size_t>(n);
    // Decided once the block holds enough bytes to tell, before any line is handed out.
    if (atFileStart_ && (end_ >= kUtf8ByteOrderMarkBytes || fileEnd_)) {
        atFileStart_ = false;
        pos_ = utf8ByteOrderMarkLength(block(), end_);
    }
    return true;
}

XyzSplitLines::Next XyzSplitLines::nextAfterRefill(const char*& begin, const char*& end,
                                                   bool& padded) {
    for (;;) {
        const char* const data = block();
        if (const char* hit = findXyzLineEnd(data + pos_, data + end_)) {
            begin = data + pos_;
            end = hit;
            pos_ = static_cast<std::size_t>(hit - data) + 1;
            padded = true;
            return Next::Line;
        }
        if (fileEnd_) {
            if (pos_ == end_) return Next::End;
            begin = data + pos_;  // the last line, without '\n'
            end = data + end_;
            pos_ = end_;
            padded = true;
            return Next::Line;
        }
        if (pos_ == 0 && end_ == kBlockBytes) return longLine(begin, end, padded);
        if (!refill()) return Next::Error;
    }
}

XyzSplitLines::Next XyzSplitLines::longLine(const char*& begin, const char*& end, bool& padded) {
    held_.clear();
    XyzLongLineCollector collector{held_};
    for (;;) {
        const char* const data = block();
        const void* hit = std::memchr(data + pos_, '\n', end_ - pos_);
        const char* stop = hit ? static_cast<const char*>(hit) : data + end_;
        collector.append(data + pos_, stop);
        if (hit) {
            pos_ = static_cast<std::size_t>(stop - data) + 1;
            break;
        }
        pos_ = end_;
        if (fileEnd_) break;
        if (!refill()) return Next::Error;
    }
    // Blanks only, or eight tokens: a bad line, which must not read as an empty one.
    if (collector.tooManyTokens || held_.empty()) held_.assign("#");
    begin = held_.data();
    end = begin + held_.size();
    padded = false;
    return Next::Line;
}
