#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace e57 {

// Bits per record of an Integer or ScaledInteger field: the bit length of (maximum - minimum).
inline unsigned bitWidthFor(std::int64_t minimum, std::int64_t maximum) {
    const std::uint64_t span =
        static_cast<std::uint64_t>(maximum) - static_cast<std::uint64_t>(minimum);
    return span == 0 ? 0u : 64u - static_cast<unsigned>(__builtin_clzll(span));
}

inline std::uint64_t maskFor(unsigned bits) { return bits >= 64 ? ~0ull : ((1ull << bits) - 1); }

inline std::uint64_t load64le(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// The `bits`-bit value at stream bit `bitPos` (LSB-first). Reads up to 9 bytes from byte bitPos/8,
// so the caller keeps readable slack after the data.
inline std::uint64_t loadBits(const std::uint8_t* p, std::uint64_t bitPos, unsigned bits) {
    const std::uint8_t* q = p + (bitPos >> 3);
    const unsigned shift = static_cast<unsigned>(bitPos & 7);
    std::uint64_t v = load64le(q) >> shift;
    if (bits + shift > 64) v |= static_cast<std::uint64_t>(q[8]) << (64 - shift);
    return v & maskFor(bits);
}

// The same, reading only the bytes that hold the value (no slack needed). For records that
// straddle buffers.
inline std::uint64_t loadBitsExact(const std::uint8_t* p, std::uint64_t bitPos, unsigned bits) {
    std::uint64_t v = 0;
    unsigned have = 0;
    while (have < bits) {
        const std::uint64_t pos = bitPos + have;
        const unsigned inByte = static_cast<unsigned>(pos & 7);
        unsigned take = 8 - inByte;
        if (take > bits - have) take = bits - have;
        const std::uint64_t chunk =
            (static_cast<std::uint64_t>(p[pos >> 3]) >> inByte) & maskFor(take);
        v |= chunk << have;
        have += take;
    }
    return v;
}

// Unpacks `count` records of `bits` bits starting at stream bit `bitPos` and stores conv(u) for
// each. Needs 9 bytes of readable slack after the last record's byte. bits must be 1..64.
template <class Out, class Conv>
inline void unpackBits(const std::uint8_t* p, std::uint64_t bitPos, unsigned bits,
                       std::size_t count, Out* out, Conv conv) {
    const std::uint64_t mask = maskFor(bits);
    // Byte-aligned 8/16/32-bit records (colour, intensity) are plain little-endian arrays: a
    // straight loop the compiler vectorises.
    if ((bitPos & 7) == 0 && (bits == 8 || bits == 16 || bits == 32)) {
        const std::uint8_t* q = p + (bitPos >> 3);
        if (bits == 8) {
            // Fixed-length inner blocks let -O2 vectorise without a remainder loop.
            const std::uint8_t* __restrict src = q;
            Out* __restrict dst = out;
            std::size_t i = 0;
            for (; i + 16 <= count; i += 16)
                for (std::size_t j = 0; j < 16; ++j)
                    dst[i + j] = conv(static_cast<std::uint64_t>(src[i + j]));
            for (; i < count; ++i) dst[i] = conv(static_cast<std::uint64_t>(src[i]));
        } else if (bits == 16) {
            for (std::size_t i = 0; i < count; ++i) {
                std::uint16_t v;
                std::memcpy(&v, q + 2 * i, 2);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
                v = __builtin_bswap16(v);
#endif
                out[i] = conv(static_cast<std::uint64_t>(v));
            }
        } else {
            for (std::size_t i = 0; i < count; ++i) {
                std::uint32_t v;
                std::memcpy(&v, q + 4 * i, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
                v = __builtin_bswap32(v);
#endif
                out[i] = conv(static_cast<std::uint64_t>(v));
            }
        }
        return;
    }
    if (bits <= 56) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t pos = bitPos + static_cast<std::uint64_t>(i) * bits;
            out[i] = conv((load64le(p + (pos >> 3)) >> (pos & 7)) & mask);
        }
    } else {
        for (std::size_t i = 0; i < count; ++i)
            out[i] = conv(loadBits(p, bitPos + std::uint64_t(i) * bits, bits));
    }
}

// Conversion of a Float field's value into a buffer of the same type: nothing to do.
struct SameFloat {
    template <class T>
    T operator()(T v) const {
        return v;
    }
};

// Unpacks `count` little-endian IEEE floats (T = float or double) from byte-aligned data.
template <class T, class Out, class Conv>
inline void unpackFloats(const std::uint8_t* p, std::size_t count, Out* out, Conv conv) {
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if constexpr (std::is_same_v<Conv, SameFloat> && std::is_same_v<T, Out>) {
        std::memcpy(out, p, count * sizeof(T));
        return;
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        T v;
        std::memcpy(&v, p + i * sizeof(T), sizeof(T));
        out[i] = conv(v);
    }
}

// Decodes the String codec (length prefix, then bytes) from a stream delivered in arbitrary chunks.
class StringStreamDecoder {
public:
    // Largest string accepted: anything bigger cannot come from a sane file and would be an
    // unbounded allocation.
    static constexpr std::uint64_t kMaxStringBytes = 64ull << 20;

    // Consumes bytes from [p, p+n) until `want` more strings are complete or the input runs out.
    // Appends the completed strings to out. Returns the bytes consumed. Throws std::length_error
    // for a string longer than kMaxStringBytes.
    std::size_t feed(const std::uint8_t* p, std::size_t n, std::size_t want,
                     std::vector<std::string>& out);

    bool midRecord() const { return state_ != State::Start; }

private:
    enum class State { Start, LongPrefix, Body };
    State state_ = State::Start;
    std::uint8_t prefix_[8] = {};
    unsigned prefixHave_ = 0;
    std::uint64_t remaining_ = 0;
    std::string current_;
};

}  // namespace e57
