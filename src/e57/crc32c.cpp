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
        for (int j = 1; j < 8; ++j) s.t[j][i] = (s.t[j - 1][i] >> 8) ^ s.t[0][s.t[j - 1][i] & 0xFFu];
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
        crc = kTables.t[7][lo & 0xFF] ^ kTables.t[6][(lo >> 8) & 0xFF] ^ kTables.t[5][(lo >> 16) & 0xFF] ^
              kTables.t[4][lo >> 24] ^ kTables.t[3][hi & 0xFF] ^ kTables.t[2][(hi >> 8) & 0xFF] ^
              kTables.t[1][(hi >> 16) & 0xFF] ^ kTables.t[0][hi >> 24];
        p += 8;
        n -= 8;
    }
    while (n--) crc = (crc >> 8) ^ kTables.t[0][(crc ^ *p++) & 0xFFu];
    return crc;
}

#ifdef E57_HAVE_SSE42_PATH
__attribute__((target("sse4.2"))) std::uint32_t hardwareUpdate(std::uint32_t crc, const std::uint8_t* p,
                                                               std::size_t n) {
#if defined(__x86_64__)
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
    if (cpuHasSse42()) return ~hardwareUpdate(0xFFFFFFFFu, static_cast<const std::uint8_t*>(data), size);
#endif
    return crc32cPortable(data, size);
}

}  // namespace e57
