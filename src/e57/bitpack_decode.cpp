#include "bitpack_decode.h"

#include <algorithm>
#include <stdexcept>

namespace e57 {

std::size_t StringStreamDecoder::feed(const std::uint8_t* p, std::size_t n, std::size_t want,
                                      std::vector<std::string>& out) {
    std::size_t used = 0;
    std::size_t made = 0;
    while (made < want) {
        if (state_ == State::Body) {
            const std::size_t take =
                static_cast<std::size_t>(std::min<std::uint64_t>(remaining_, n - used));
            current_.append(reinterpret_cast<const char*>(p + used), take);
            used += take;
            remaining_ -= take;
            if (remaining_ != 0) break;  // input exhausted mid-string
            out.push_back(std::move(current_));
            current_.clear();
            state_ = State::Start;
            ++made;
            continue;
        }
        if (used == n) break;
        if (state_ == State::Start) {
            const std::uint8_t first = p[used];
            if ((first & 1u) == 0) {
                ++used;
                remaining_ = first >> 1;
                state_ = State::Body;
                continue;
            }
            state_ = State::LongPrefix;
            prefixHave_ = 0;
        }
        // Long form: 8-byte little-endian (length << 1) | 1.
        while (prefixHave_ < 8 && used < n) prefix_[prefixHave_++] = p[used++];
        if (prefixHave_ < 8) break;
        std::uint64_t word = 0;
        for (int i = 7; i >= 0; --i) word = (word << 8) | prefix_[i];
        remaining_ = word >> 1;
        if (remaining_ > kMaxStringBytes)
            throw std::length_error("string of " + std::to_string(remaining_) +
                                    " bytes in a String field");
        current_.reserve(static_cast<std::size_t>(remaining_));
        state_ = State::Body;
    }
    return used;
}

}  // namespace e57
