#include "export/xyz_split_lines.h"

namespace {

inline bool isSeparator(unsigned char c) { return c <= 32 && ((0x100002600ULL >> c) & 1U) != 0; }

// A token longer than this in a line longer than the block is held as "#", which no number
// matches: such a line cannot hold a coordinate there, and a file without line ends is never
// gathered into memory whole. Where the grammar does not look (the 4th of 4 tokens, the 7th of
// 7) the line stays acceptable.
constexpr std::size_t kMaxHeldTokenBytes = std::size_t{4} << 20;

// Collects a long line with every run of separators reduced to one blank.
struct LongLineCollector {
    std::string& held;
    int tokens = 0;
    bool inToken = false;
    bool tokenCut = false;
    std::size_t tokenStart = 0;
    bool tooManyTokens = false;

    void append(const char* p, const char* e) {
        while (p < e && !tooManyTokens) {
            if (isSeparator(static_cast<unsigned char>(*p))) {
                inToken = false;
                ++p;
                continue;
            }
            if (!inToken) {
                if (tokens == 7) {  // an eighth token rejects the line whatever follows
                    tooManyTokens = true;
                    return;
                }
                if (tokens > 0) held.push_back(' ');
                ++tokens;
                inToken = true;
                tokenCut = false;
                tokenStart = held.size();
            }
            const char* s = p;
            while (p < e && !isSeparator(static_cast<unsigned char>(*p))) ++p;
            if (tokenCut) continue;
            if (held.size() - tokenStart + static_cast<std::size_t>(p - s) > kMaxHeldTokenBytes) {
                held.resize(tokenStart);
                held.push_back('#');
                tokenCut = true;
                continue;
            }
            held.append(s, p);
        }
    }
};

}  // namespace

bool XyzSplitLines::open(const std::string& path) {
    if (!file_.openRead(path)) return false;
    // Zero-filled, so the parser's reads around a line never touch unset bytes.
    storage_ = std::make_unique<char[]>(kPadBefore + kBlockBytes + kPadAfter);
    pos_ = 0;
    end_ = 0;
    fileEnd_ = false;
    return true;
}

bool XyzSplitLines::refill() {
    if (pos_ > 0) {  // keep the unfinished line, drop what was consumed
        std::memmove(block(), block() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    const long long n = file_.readSome(block() + end_, kBlockBytes - end_);
    if (n < 0) return false;
    if (n == 0) fileEnd_ = true;
    end_ += static_cast<std::size_t>(n);
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
    LongLineCollector collector{held_};
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
