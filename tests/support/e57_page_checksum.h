#pragma once

// E57 page checksums for tests that build or inspect files byte by byte. Written here rather
// than taken from our E57 library, so the same tests run against an installed libE57Format.

#include <cstddef>
#include <cstdint>

namespace testsupport {

// CRC-32C (Castagnoli), reflected, initial value and final xor 0xFFFFFFFF; bit by bit.
inline std::uint32_t crc32c(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0x82F63B78u & (0u - (crc & 1u)));
    }
    return crc ^ 0xFFFFFFFFu;
}

// Stores the checksum of a 1024-byte page's 1020 payload bytes into its last four bytes,
// most significant byte first.
inline void sealE57Page(std::uint8_t* page) {
    const std::uint32_t c = crc32c(page, 1020);
    page[1020] = std::uint8_t(c >> 24);
    page[1021] = std::uint8_t(c >> 16);
    page[1022] = std::uint8_t(c >> 8);
    page[1023] = std::uint8_t(c);
}

}  // namespace testsupport
