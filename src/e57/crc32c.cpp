#include "crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <nmmintrin.h>
#define E57_HAVE_SSE42_PATH 1
#endif

namespace e57 {
namespace {

constexpr std::uint32_t kPolyReflected = 0x82F63B78u;

struct SliceTables {
    std::uint32_t t[8][256];
};

constexpr SliceTables makeTables() {
    SliceTables s{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? (c >> 1) ^ kPolyReflected : (c >> 1);
        s.t[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i) {
        for (int j = 1; j < 8; ++j)
            s.t[j][i] = (s.t[j - 1][i] >> 8) ^ s.t[0][s.t[j - 1][i] & 0xFFu];
    }
    return s;
}

constexpr SliceTables kTables = makeTables();

std::uint32_t portableUpdate(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    // Slicing-by-8: eight table look-ups per 8 input bytes.
    while (n >= 8) {
        std::uint32_t lo;
        std::uint32_t hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        lo = __builtin_bswap32(lo);
        hi = __builtin_bswap32(hi);
#endif
        lo ^= crc;
        crc = kTables.t[7][lo & 0xFF] ^ kTables.t[6][(lo >> 8) & 0xFF] ^
              kTables.t[5][(lo >> 16) & 0xFF] ^ kTables.t[4][lo >> 24] ^ kTables.t[3][hi & 0xFF] ^
              kTables.t[2][(hi >> 8) & 0xFF] ^ kTables.t[1][(hi >> 16) & 0xFF] ^
              kTables.t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--) crc = (crc >> 8) ^ kTables.t[0][(crc ^ *p++) & 0xFFu];
    return crc;
}

#ifdef E57_HAVE_SSE42_PATH
#if defined(__x86_64__)
// The crc32 instruction has a latency of three cycles but issues every cycle, so three
// independent streams over thirds of a block run three times as fast as one. The stream
// registers are joined by "appending zeros" to the earlier ones: a linear map over GF(2), done
// with four byte tables for a fixed stream length.
constexpr std::size_t kStreamBytes =
    336;  // 42 words; three streams cover 1008 of a page's 1020 bytes

struct ShiftTables {
    std::uint32_t t[4][256];
};

// Register after feeding `bytes` zero bytes to `crc` (no pre/post inversion).
std::uint32_t shiftByZeros(std::uint32_t crc, std::size_t bytes) {
    while (bytes--) crc = (crc >> 8) ^ kTables.t[0][crc & 0xFFu];
    return crc;
}

ShiftTables makeShiftTables() {
    std::uint32_t bit[32];
    for (int b = 0; b < 32; ++b) bit[b] = shiftByZeros(1u << b, kStreamBytes);
    ShiftTables s{};
    for (int k = 0; k < 4; ++k)
        for (std::uint32_t v = 0; v < 256; ++v) {
            std::uint32_t r = 0;
            for (int b = 0; b < 8; ++b)
                if ((v >> b) & 1u) r ^= bit[8 * k + b];
            s.t[k][v] = r;
        }
    return s;
}

const ShiftTables& shiftTables() {
    static const ShiftTables tables = makeShiftTables();
    return tables;
}

inline std::uint32_t shiftStream(const ShiftTables& s, std::uint32_t c) {
    return s.t[0][c & 0xFFu] ^ s.t[1][(c >> 8) & 0xFFu] ^ s.t[2][(c >> 16) & 0xFFu] ^
           s.t[3][c >> 24];
}
#endif

__attribute__((target("sse4.2"))) std::uint32_t hardwareUpdate(std::uint32_t crc,
                                                               const std::uint8_t* p,
                                                               std::size_t n) {
#if defined(__x86_64__)
    if (n >= 3 * kStreamBytes) {
        const ShiftTables& shift = shiftTables();
        while (n >= 3 * kStreamBytes) {
            std::uint64_t a = crc, b = 0, c = 0;
            for (std::size_t i = 0; i < kStreamBytes; i += 8) {
                std::uint64_t va, vb, vc;
                std::memcpy(&va, p + i, 8);
                std::memcpy(&vb, p + kStreamBytes + i, 8);
                std::memcpy(&vc, p + 2 * kStreamBytes + i, 8);
                a = _mm_crc32_u64(a, va);
                b = _mm_crc32_u64(b, vb);
                c = _mm_crc32_u64(c, vc);
            }
            const std::uint32_t ab =
                shiftStream(shift, static_cast<std::uint32_t>(a)) ^ static_cast<std::uint32_t>(b);
            crc = shiftStream(shift, ab) ^ static_cast<std::uint32_t>(c);
            p += 3 * kStreamBytes;
            n -= 3 * kStreamBytes;
        }
    }
    std::uint64_t c = crc;
    while (n >= 8) {
        std::uint64_t v;
        std::memcpy(&v, p, 8);
        c = _mm_crc32_u64(c, v);
        p += 8;
        n -= 8;
    }
    crc = static_cast<std::uint32_t>(c);
#endif
    while (n >= 4) {
        std::uint32_t v;
        std::memcpy(&v, p, 4);
        crc = _mm_crc32_u32(crc, v);
        p += 4;
        n -= 4;
    }
    while (n--) crc = _mm_crc32_u8(crc, *p++);
    return crc;
}

bool cpuHasSse42() {
    static const bool has = __builtin_cpu_supports("sse4.2");
    return has;
}
#endif

}  // namespace

std::uint32_t crc32cPortable(const void* data, std::size_t size) {
    return ~portableUpdate(0xFFFFFFFFu, static_cast<const std::uint8_t*>(data), size);
}

std::uint32_t crc32c(const void* data, std::size_t size) {
#ifdef E57_HAVE_SSE42_PATH
    if (cpuHasSse42())
        return ~hardwareUpdate(0xFFFFFFFFu, static_cast<const std::uint8_t*>(data), size);
#endif
    return crc32cPortable(data, size);
}

}  // namespace e57
