#pragma once

#include <cstddef>
#include <string>

inline bool isXyzSeparator(unsigned char c) { return c <= 32 && ((0x100002600ULL >> c) & 1U) != 0; }

// Collects a line longer than the reading block with every run of separators reduced to one
// blank, so that only the tokens take memory. A token longer than kMaxHeldTokenBytes is held as
// "#", which no number matches: no coordinate can reasonably be that long, and a file without
// line ends (a binary file named .xyz, say) is never gathered into memory whole; where a grammar
// does not look at a token the line stays acceptable. An eighth token sets tooManyTokens, since
// no line of eight or more tokens is accepted.
struct XyzLongLineCollector {
    static constexpr std::size_t kMaxHeldTokenBytes = std::size_t{4} << 20;

    std::string& held;
    int tokens = 0;
    bool inToken = false;
    bool tokenCut = false;
    std::size_t tokenStart = 0;
    bool tooManyTokens = false;

    void append(const char* p, const char* e) {
        while (p < e && !tooManyTokens) {
            if (isXyzSeparator(static_cast<unsigned char>(*p))) {
                inToken = false;
                ++p;
                continue;
            }
            if (!inToken) {
                if (tokens == 7) {
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
            while (p < e && !isXyzSeparator(static_cast<unsigned char>(*p))) ++p;
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
