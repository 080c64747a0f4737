#pragma once

#include <cstddef>
#include <cstdint>

namespace e57 {

// Page layout of the physical file: 1020 payload bytes followed by their 4-byte checksum.
constexpr std::size_t kPhysicalPageSize = 1024;
constexpr std::size_t kLogicalPageSize = 1020;

// Standard CRC-32C (Castagnoli): reflected, initial value and final xor 0xFFFFFFFF.
// Uses the SSE4.2 crc32 instruction when the CPU has it.
std::uint32_t crc32c(const void* data, std::size_t size);

// The table implementation, always available (tests compare the two paths).
std::uint32_t crc32cPortable(const void* data, std::size_t size);

// Checksum of one physical page: CRC-32C of its payload.
inline std::uint32_t pageChecksum(const std::uint8_t* page) {
    return crc32c(page, kLogicalPageSize);
}

// The checksum word is stored most-significant byte first in page bytes 1020..1023.
inline std::uint32_t storedPageChecksum(const std::uint8_t* page) {
    const std::uint8_t* p = page + kLogicalPageSize;
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

// Computes the payload checksum and stores it into page bytes 1020..1023.
inline void sealPage(std::uint8_t* page) {
    const std::uint32_t c = pageChecksum(page);
    std::uint8_t* p = page + kLogicalPageSize;
    p[0] = std::uint8_t(c >> 24);
    p[1] = std::uint8_t(c >> 16);
    p[2] = std::uint8_t(c >> 8);
    p[3] = std::uint8_t(c);
}

inline bool pageChecksumMatches(const std::uint8_t* page) {
    return pageChecksum(page) == storedPageChecksum(page);
}

}  // namespace e57
