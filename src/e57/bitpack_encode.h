#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

// Encoders of the bitpack codec: each call encodes a run of records of one field into a packet
// buffer. Runs start on a record index that is a multiple of 8, so every run begins on a byte
// boundary and can be packed with a fresh bit register.
namespace e57::bitpack {

// Bits per record of an Integer/ScaledInteger field with raw bounds [minimum, maximum].
unsigned bitsForRange(std::int64_t minimum, std::int64_t maximum);

// Bytes a run of `count` records of `bits` bits occupies (the last byte zero-padded).
inline std::size_t packedBytes(std::size_t count, unsigned bits) {
    return static_cast<std::size_t>((static_cast<std::uint64_t>(count) * bits + 7) / 8);
}

inline void store32(std::uint8_t* out, std::uint32_t v) {
    out[0] = std::uint8_t(v);
    out[1] = std::uint8_t(v >> 8);
    out[2] = std::uint8_t(v >> 16);
    out[3] = std::uint8_t(v >> 24);
}

// Float fields: IEEE binary32 or binary64, little-endian.
template <class Src>
std::size_t encodeSingle(const Src* src, std::size_t count, std::uint8_t* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const float v = static_cast<float>(src[i]);
        std::uint32_t bits;
        std::memcpy(&bits, &v, 4);
        store32(out + 4 * i, bits);
    }
    return 4 * count;
}

template <class Src>
std::size_t encodeDouble(const Src* src, std::size_t count, std::uint8_t* out) {
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if constexpr (std::is_same_v<Src, double>) {
        std::memcpy(out, src, 8 * count);  // already little-endian binary64
        return 8 * count;
    }
#endif
    for (std::size_t i = 0; i < count; ++i) {
        const double v = static_cast<double>(src[i]);
        std::uint64_t bits;
        std::memcpy(&bits, &v, 8);
        store32(out + 8 * i, std::uint32_t(bits));
        store32(out + 8 * i + 4, std::uint32_t(bits >> 32));
    }
    return 8 * count;
}

// Raw integer of a value: integers as they are, floating values truncated toward zero (Integer
// nodes) or rounded half up after division by the scale (ScaledInteger nodes). The caller has
// checked every value against the bounds, so these conversions are in range.
struct TruncateToRaw {
    template <class Src>
    std::int64_t operator()(Src v) const {
        return static_cast<std::int64_t>(v);
    }
};

struct ScaleToRaw {
    double scale;
    template <class Src>
    std::int64_t operator()(Src v) const {
        // floor() by truncation and a correction step: the same result as std::floor for every
        // value in range, without the library call that -O2 makes of std::floor on x86-64.
        const double r = static_cast<double>(v) / scale + 0.5;
        const std::int64_t t = static_cast<std::int64_t>(r);
        return static_cast<double>(t) > r ? t - 1 : t;
    }
};

// LSB-first bit packing of u = raw - minimum, `bits` (1..64) bits per record.
template <class Src, class ToRaw>
std::size_t encodeBits(const Src* src, std::size_t count, unsigned bits, std::int64_t minimum,
                       ToRaw toRaw, std::uint8_t* out) {
    const std::uint64_t base = static_cast<std::uint64_t>(minimum);
    auto u = [&](std::size_t i) { return static_cast<std::uint64_t>(toRaw(src[i])) - base; };
    if (bits == 8) {
        // Fixed-length inner blocks over unaliased pointers let -O2 vectorise this.
        const Src* __restrict s = src;
        std::uint8_t* __restrict o = out;
        std::size_t i = 0;
        for (; i + 16 <= count; i += 16)
            for (std::size_t j = 0; j < 16; ++j)
                o[i + j] = std::uint8_t(static_cast<std::uint64_t>(toRaw(s[i + j])) - base);
        for (; i < count; ++i) o[i] = std::uint8_t(u(i));
        return count;
    }
    if (bits == 16) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t v = u(i);
            out[2 * i] = std::uint8_t(v);
            out[2 * i + 1] = std::uint8_t(v >> 8);
        }
        return 2 * count;
    }
    if (bits == 32) {
        for (std::size_t i = 0; i < count; ++i) store32(out + 4 * i, std::uint32_t(u(i)));
        return 4 * count;
    }
    std::uint8_t* const start = out;
    std::uint64_t acc = 0;
    unsigned filled = 0;
    // Adds up to 32 bits; the register never holds more than 63.
    auto put = [&](std::uint64_t v, unsigned n) {
        acc |= v << filled;
        filled += n;
        if (filled >= 32) {
            store32(out, std::uint32_t(acc));
            out += 4;
            acc >>= 32;
            filled -= 32;
        }
    };
    if (bits <= 32) {
        for (std::size_t i = 0; i < count; ++i) put(u(i), bits);
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t v = u(i);
            put(v & 0xFFFFFFFFu, 32);
            put(v >> 32, bits - 32);
        }
    }
    while (filled > 0) {
        *out++ = std::uint8_t(acc);
        acc >>= 8;
        filled = filled > 8 ? filled - 8 : 0;
    }
    return static_cast<std::size_t>(out - start);
}

}  // namespace e57::bitpack
