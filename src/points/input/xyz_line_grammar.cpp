#include "points/input/xyz_line_grammar.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int kMaxTokens = 8;

inline bool isSeparator(unsigned char c) {
    // ' ', '\t', '\n', '\r'
    return c <= 32 && ((0x100002600ULL >> c) & 1U) != 0;
}

// Powers of ten that are exact doubles.
constexpr double kExactPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Plain "[-]digits[.digits]" with at most 19 digits and a mantissa up to 2^53: the mantissa
// and the power of ten are exact doubles, so one IEEE division gives the correctly rounded
// value, the same one from_chars gives. Returns false when the token is not of that shape.
inline bool parsePlainDecimal(const char* p, const char* e, double& value) {
    const bool negative = (*p == '-');
    if (negative) ++p;
    std::uint64_t mantissa = 0;
    int digits = 0;
    const char* const intStart = p;
    while (p < e && static_cast<unsigned>(*p - '0') < 10U) {
        mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
        ++p;
        ++digits;
    }
    if (p == intStart || digits > 19) return false;
    int fraction = 0;
    if (p < e && *p == '.') {
        ++p;
        const char* const fracStart = p;
        while (p < e && static_cast<unsigned>(*p - '0') < 10U) {
            if (++digits > 19) return false;
            mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
        fraction = static_cast<int>(p - fracStart);
    }
    if (p != e || mantissa > (std::uint64_t{1} << 53) || fraction > 22) return false;
    double v = static_cast<double>(mantissa);
    if (fraction > 0) v /= kExactPow10[fraction];
    value = negative ? -v : v;
    return true;
}

// Whole-token, locale-independent floating-point conversion; finite values only.
inline bool parseFiniteDouble(const char* b, const char* e, double& value) {
    if (parsePlainDecimal(b, e, value)) return true;
    double v = 0.0;
    const auto result = std::from_chars(b, e, v, std::chars_format::general);
    if (result.ec != std::errc() || result.ptr != e || !std::isfinite(v)) return false;
    value = v;
    return true;
}

// Optional '-', decimal digits, 32-bit range; then clamped to 0..255.
inline bool parseColour(const char* b, const char* e, std::uint16_t& value) {
    std::int32_t v = 0;
    const auto result = std::from_chars(b, e, v, 10);
    if (result.ec != std::errc() || result.ptr != e) return false;
    value = static_cast<std::uint16_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    return true;
}

// Collects the token bounds of a line of any length.
int splitTokens(const char* p, const char* const e, const char** tokBegin, const char** tokEnd) {
    int count = 0;
    for (;;) {
        while (p < e && isSeparator(static_cast<unsigned char>(*p))) ++p;
        if (p == e) break;
        if (count == kMaxTokens)
            return kMaxTokens + 1;  // already too many; the rest is not examined
        tokBegin[count] = p;
        while (p < e && !isSeparator(static_cast<unsigned char>(*p))) ++p;
        tokEnd[count] = p;
        ++count;
    }
    return count;
}

// The parsed values into the point; colour and intensity only where the line had them.
inline void storeFields(CloudPoint& fields, double x, double y, double z, bool withColour,
                        std::uint16_t red, std::uint16_t green, std::uint16_t blue,
                        bool withIntensity, double intensity) {
    fields.x = x;
    fields.y = y;
    fields.z = z;
    if (withColour) {
        fields.red = red;
        fields.green = green;
        fields.blue = blue;
        fields.hasRGB = true;
    }
    if (withIntensity) {
        fields.intensity = intensity;
        fields.hasIntensity = true;
    }
}

// kReadIntensity false leaves the last token of a 4- or 7-token line unexamined.
template <bool kReadIntensity>
bool parseAnyLength(std::string_view line, CloudPoint& fields) {
    const char* tokBegin[kMaxTokens];
    const char* tokEnd[kMaxTokens];
    const int count = splitTokens(line.data(), line.data() + line.size(), tokBegin, tokEnd);
    if (count != 3 && count != 4 && count != 6 && count != 7) return false;

    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    if (!parseFiniteDouble(tokBegin[0], tokEnd[0], x) ||
        !parseFiniteDouble(tokBegin[1], tokEnd[1], y) ||
        !parseFiniteDouble(tokBegin[2], tokEnd[2], z))
        return false;

    std::uint16_t red = 0;
    std::uint16_t green = 0;
    std::uint16_t blue = 0;
    const bool withColour = count >= 6;
    if (withColour) {
        if (!parseColour(tokBegin[3], tokEnd[3], red) ||
            !parseColour(tokBegin[4], tokEnd[4], green) ||
            !parseColour(tokBegin[5], tokEnd[5], blue))
            return false;
    }

    double intensity = 0.0;
    const bool withIntensity = kReadIntensity && (count == 4 || count == 7);
    if (withIntensity && !parseFiniteDouble(tokBegin[count - 1], tokEnd[count - 1], intensity))
        return false;

    storeFields(fields, x, y, z, withColour, red, green, blue, withIntensity, intensity);
    return true;
}

#if defined(__SSE2__)
// Short lines (the usual case) take a branch-poor path: the line is copied into a padded
// block, byte classes come from SSE2 compares as bit masks, tokens are found from the masks
// and plain decimals are converted eight digits at a time. Anything unusual in a token goes
// to the same conversions as the general path, so both paths give identical results.
constexpr std::size_t kShortLine = kXyzLinePadAfter;
constexpr std::size_t kFrontPad = kXyzLinePadBefore;

struct ByteClasses {
    std::uint64_t sep, dot, digit;
};

// Adds the separator, '.' and digit bits of the 16 bytes at p, shifted by `at`.
[[gnu::always_inline]] inline void classifyChunk(const char* p, int at, ByteClasses& c) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i blankOrTab =
        _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\t')));
    const __m128i lineEnd = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\r')),
                                         _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
    const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
    const auto bits = [at](__m128i m) {
        return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(m))} << at;
    };
    c.sep |= bits(_mm_or_si128(blankOrTab, lineEnd));
    c.dot |= bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('.')));
    c.digit |= bits(digit);
}

// Byte classes of the first 32 or 64 bytes at p.
[[gnu::always_inline]] inline ByteClasses classify(const char* p, bool wide) {
    ByteClasses c{0, 0, 0};
    classifyChunk(p, 0, c);
    classifyChunk(p + 16, 16, c);
    if (wide) {
        classifyChunk(p + 32, 32, c);
        classifyChunk(p + 48, 48, c);
    }
    return c;
}

// Bits s..last (s <= last <= 63).
inline std::uint64_t tokenBits(int s, int last) {
    return ((std::uint64_t{2} << last) - 1) & ~((std::uint64_t{1} << s) - 1);
}

// Sixteen zero bytes, then sixteen 0xFF: 16 bytes from kTail + n keep the last n.
alignas(16) constexpr unsigned char kTail[32] = {
    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

// The common token, "[-]digits[.digits]" with at most 16 digits and a mantissa up to 2^53, at
// buf[s..last], in one go: the digits, dot removed, are gathered right-aligned into one vector
// and converted by pairwise multiply-adds. Gives the same value as parsePlainDecimal; false
// leaves the token to the slower paths.
[[gnu::always_inline]] inline bool plainDecimal16(const char* buf, const ByteClasses& c,
                                                  bool negative, int s, int last, double& value) {
    const int body = s + (negative ? 1 : 0);
    const std::uint64_t other =
        tokenBits(s, last) & ~c.digit & ~(negative ? std::uint64_t{1} << s : 0);
    if ((other & (other - 1)) != 0 || (other & ~c.dot) != 0)
        return false;  // only one '.' besides digits
    const int dotAt = other ? std::countr_zero(other) : last + 1;
    const int fracLen = last + 1 - dotAt - (other ? 1 : 0);
    const int digits = dotAt - body + fracLen;
    if (dotAt == body || digits > 16) return false;

    // Byte j of the result is buf[last - 15 + j] after the dot and buf[last - 16 + j] up to it;
    // the digits fill its last `digits` bytes.
    const int afterDotBytes = other ? fracLen : 16;
    const __m128i afterDot =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(kTail + afterDotBytes));
    const __m128i used = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kTail + digits));
    const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + last - 15));
    const __m128i shifted = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + last - 16));
    const __m128i joined =
        _mm_or_si128(_mm_and_si128(afterDot, here), _mm_andnot_si128(afterDot, shifted));
    const __m128i d = _mm_and_si128(_mm_sub_epi8(joined, _mm_set1_epi8('0')), used);
    // Pairs, then fours, then eights of digits.
    const __m128i pairs =
        _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(d, _mm_set1_epi16(0xFF)), _mm_set1_epi16(10)),
                      _mm_srli_epi16(d, 8));
    const __m128i fours = _mm_madd_epi16(pairs, _mm_set1_epi32(100 + (1 << 16)));
    const __m128i eights =
        _mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(10000 + (1 << 16)));
    const auto high = static_cast<std::uint32_t>(_mm_cvtsi128_si32(eights));
    const auto low = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(eights, 4)));
    const std::uint64_t mantissa = std::uint64_t{high} * 100000000ULL + low;
    if (mantissa > (std::uint64_t{1} << 53)) return false;
    double v = static_cast<double>(mantissa);
    if (fracLen > 0) v /= kExactPow10[fracLen];
    value = negative ? -v : v;
    return true;
}

// The k (1..8) bytes that end at p + 8 must all be decimal digits; gives their value.
// The bytes before them may be anything.
[[gnu::always_inline]] inline bool digitRun8(const char* p, int k, std::uint64_t& value) {
    std::uint64_t chunk = 0;
    std::memcpy(&chunk, p, 8);
    const std::uint64_t low = (std::uint64_t{1} << (8 * (8 - k))) - 1;  // bytes before the digits
    chunk = (chunk & ~low) | (0x3030303030303030ULL & low);
    if (((chunk & 0xF0F0F0F0F0F0F0F0ULL) |
         (((chunk + 0x0606060606060606ULL) & 0xF0F0F0F0F0F0F0F0ULL) >> 4)) != 0x3333333333333333ULL)
        return false;
    std::uint64_t v = chunk - 0x3030303030303030ULL;
    v = (v * 10) + (v >> 8);
    value = (((v & 0x000000FF000000FFULL) * (100 + (1000000ULL << 32))) +
             (((v >> 16) & 0x000000FF000000FFULL) * (1 + (10000ULL << 32)))) >>
            32;
    return true;
}

// The k (1..16) bytes from p must be digits; needs 8 readable bytes before p.
[[gnu::always_inline]] inline bool digitRun(const char* p, int k, std::uint64_t& value) {
    if (k <= 8) return digitRun8(p + k - 8, k, value);
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    if (!digitRun8(p + k - 16, k - 8, high) || !digitRun8(p + k - 8, 8, low)) return false;
    value = high * 100000000ULL + low;
    return true;
}

constexpr std::uint64_t kPow10U[] = {1ULL,
                                     10ULL,
                                     100ULL,
                                     1000ULL,
                                     10000ULL,
                                     100000ULL,
                                     1000000ULL,
                                     10000000ULL,
                                     100000000ULL,
                                     1000000000ULL,
                                     10000000000ULL,
                                     100000000000ULL,
                                     1000000000000ULL,
                                     10000000000000ULL,
                                     100000000000000ULL,
                                     1000000000000000ULL,
                                     10000000000000000ULL};

// What plainDecimal16 leaves: "[-]digits[.digits]" of up to 19 digits by 8-digit runs, anything
// else by the general conversion. Out of line, so that the common path stays small.
[[gnu::noinline]] bool otherTokenDouble(const char* buf, std::uint64_t dotMask, int s, int last,
                                        double& value) {
    const bool negative = buf[s] == '-';
    const int body = s + (negative ? 1 : 0);
    const std::uint64_t dots = dotMask & tokenBits(s, last);  // a leading '-' is no dot
    const int dotAt = dots ? std::countr_zero(dots) : last + 1;
    const int intLen = dotAt - body;
    const int fracLen = dots ? last - dotAt : 0;
    std::uint64_t whole = 0;
    std::uint64_t fraction = 0;
    if (intLen >= 1 && intLen <= 16 && fracLen <= 16 && intLen + fracLen <= 19 &&
        digitRun(buf + body, intLen, whole) &&
        (fracLen == 0 || digitRun(buf + dotAt + 1, fracLen, fraction))) {
        const std::uint64_t mantissa = whole * kPow10U[fracLen] + fraction;
        if (mantissa <= (std::uint64_t{1} << 53)) {
            double v = static_cast<double>(mantissa);
            if (fracLen > 0) v /= kExactPow10[fracLen];
            value = negative ? -v : v;
            return true;
        }
    }
    return parseFiniteDouble(buf + s, buf + last + 1, value);
}

[[gnu::always_inline]] inline bool shortTokenDouble(const char* buf, const ByteClasses& c, int s,
                                                    int last, double& value) {
    const bool negative = buf[s] == '-';
    return plainDecimal16(buf, c, negative, s, last, value) ||
           otherTokenDouble(buf, c.dot, s, last, value);
}

// Colours that are not 1 to 3 plain digits.
[[gnu::noinline]] bool otherTokenColour(const char* buf, int s, int last, std::uint16_t& value) {
    const bool negative = buf[s] == '-';
    const int body = s + (negative ? 1 : 0);
    const int k = last - body + 1;
    std::uint64_t v = 0;
    if (k >= 1 && k <= 8 && digitRun8(buf + body + k - 8, k, v)) {
        value = static_cast<std::uint16_t>(negative ? 0 : (v > 255 ? 255 : v));
        return true;
    }
    return parseColour(buf + s, buf + last + 1, value);
}

// "[-]d", "[-]dd" or "[-]ddd" from the word that ends at the token's last byte; anything else
// by the longer paths.
[[gnu::always_inline]] inline bool shortTokenColour(const char* buf, const ByteClasses& c, int s,
                                                    int last, std::uint16_t& value) {
    const bool negative = buf[s] == '-';
    const int body = s + (negative ? 1 : 0);
    const int k = last - body + 1;
    const std::uint64_t other =
        tokenBits(s, last) & ~c.digit & ~(negative ? std::uint64_t{1} << s : 0);
    if (k < 1 || k > 3 || other != 0) return otherTokenColour(buf, s, last, value);
    std::uint32_t word = 0;
    std::memcpy(&word, buf + last - 3, 4);
    const std::uint32_t keep = ~std::uint32_t{0} << (8 * (4 - k));  // the token's bytes
    word = (word & keep) - (0x30303030U & keep);
    const std::uint32_t v = ((word >> 8) & 0xFF) * 100 + ((word >> 16) & 0xFF) * 10 + (word >> 24);
    value = static_cast<std::uint16_t>(negative ? 0 : (v > 255 ? 255 : v));
    return true;
}

// buf points at the line; [buf - kFrontPad, buf + kShortLine) is readable and the bytes from
// buf + length on are ignored.
template <bool kReadIntensity>
bool parseShort(const char* const buf, std::size_t length, CloudPoint& fields) {
    ByteClasses c = classify(buf, length > 32);
    const std::uint64_t inLine = length >= 64 ? ~0ULL : ((std::uint64_t{1} << length) - 1);
    const std::uint64_t word = ~c.sep & inLine;
    c.dot &= inLine;
    std::uint64_t starts = word & ~(word << 1);
    std::uint64_t lasts = word & ~(word >> 1);
    int count = 0;
    for (std::uint64_t r = starts; r != 0; r &= r - 1)
        if (++count == 8) return false;  // an eighth token
    if (count != 3 && count != 4 && count != 6 && count != 7) return false;
    // Token bounds in line order, taken from the masks as they are needed.
    int first = 0;
    int last = 0;
    const auto nextToken = [&] {
        first = std::countr_zero(starts);
        last = std::countr_zero(lasts);
        starts &= starts - 1;
        lasts &= lasts - 1;
    };
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    nextToken();
    if (!shortTokenDouble(buf, c, first, last, x)) return false;
    nextToken();
    if (!shortTokenDouble(buf, c, first, last, y)) return false;
    nextToken();
    if (!shortTokenDouble(buf, c, first, last, z)) return false;
    std::uint16_t red = 0;
    std::uint16_t green = 0;
    std::uint16_t blue = 0;
    const bool withColour = count >= 6;
    if (withColour) {
        nextToken();
        if (!shortTokenColour(buf, c, first, last, red)) return false;
        nextToken();
        if (!shortTokenColour(buf, c, first, last, green)) return false;
        nextToken();
        if (!shortTokenColour(buf, c, first, last, blue)) return false;
    }
    double intensity = 0.0;
    const bool withIntensity = kReadIntensity && (count == 4 || count == 7);
    if (withIntensity) {
        nextToken();
        if (!shortTokenDouble(buf, c, first, last, intensity)) return false;
    }

    storeFields(fields, x, y, z, withColour, red, green, blue, withIntensity, intensity);
    return true;
}
#endif

template <bool kReadIntensity>
bool parseLineAnyBuffer(std::string_view line, CloudPoint& fields) {
    fields = CloudPoint{};
#if defined(__SSE2__)
    if (line.size() <= kShortLine) {
        alignas(16) char block[kFrontPad + kShortLine];
        std::memset(block, ' ', sizeof block);
        std::memcpy(block + kFrontPad, line.data(), line.size());
        return parseShort<kReadIntensity>(block + kFrontPad, line.size(), fields);
    }
#endif
    return parseAnyLength<kReadIntensity>(line, fields);
}

template <bool kReadIntensity>
bool parseLinePadded(const char* begin, const char* end, CloudPoint& fields) {
    fields = CloudPoint{};
    const auto length = static_cast<std::size_t>(end - begin);
#if defined(__SSE2__)
    if (length <= kShortLine) return parseShort<kReadIntensity>(begin, length, fields);
#endif
    return parseAnyLength<kReadIntensity>(std::string_view(begin, length), fields);
}

}  // namespace

bool parseXyzLine(std::string_view line, CloudPoint& fields) {
    return parseLineAnyBuffer<true>(line, fields);
}

bool parseXyzLineInPaddedBuffer(const char* begin, const char* end, CloudPoint& fields) {
    return parseLinePadded<true>(begin, end, fields);
}

bool parseXyzLineIgnoringIntensity(std::string_view line, CloudPoint& fields) {
    return parseLineAnyBuffer<false>(line, fields);
}

bool parseXyzLineInPaddedBufferIgnoringIntensity(const char* begin, const char* end,
                                                 CloudPoint& fields) {
    return parseLinePadded<false>(begin, end, fields);
}
