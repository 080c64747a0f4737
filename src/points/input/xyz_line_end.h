#pragma once

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The first '\n' in [p, e), or null. Lines are mostly short: the first 64 bytes are searched
// inline, the rest by memchr.
inline const char* findXyzLineEnd(const char* p, const char* e) {
#if defined(__SSE2__)
    const __m128i nl = _mm_set1_epi8('\n');
    for (int i = 0; i < 4 && e - p >= 16; ++i, p += 16) {
        const int mask = _mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), nl));
        if (mask != 0) return p + std::countr_zero(static_cast<unsigned>(mask));
    }
#endif
    return static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(e - p)));
}
