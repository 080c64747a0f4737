#pragma once

// Builds small LAS files in memory for reader tests, with freely chosen (also invalid) headers.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace lastest {

struct LasTestRecord {
    std::int32_t x = 0, y = 0, z = 0;
    std::uint16_t intensity = 0;
    std::uint16_t red = 0, green = 0, blue = 0;
};

struct LasTestHeader {
    std::uint8_t versionMajor = 1;
    std::uint8_t versionMinor = 2;
    std::uint16_t headerSize = 227;
    std::uint32_t offsetToPointData = 227;  // 0 means: headerSize
    std::uint8_t formatByte = 0;
    std::uint16_t recordLength = 20;
    std::uint32_t legacyCount = 0;
    std::uint64_t wideCount = 0;  // written at 247 when the header area reaches it
    double scale[3] = {0.01, 0.01, 0.01};
    double offset[3] = {0.0, 0.0, 0.0};
};

template <typename T>
inline void put(std::string& bytes, std::size_t at, T value) {
    if (bytes.size() < at + sizeof value) bytes.resize(at + sizeof value, '\0');
    std::memcpy(bytes.data() + at, &value, sizeof value);  // little-endian host
}

// Colour goes at `colourOffset` (-1: none) when it fits in the record.
inline std::string makeLasFile(const LasTestHeader& h, const std::vector<LasTestRecord>& records,
                               int colourOffset = -1) {
    const std::uint32_t dataOffset = h.offsetToPointData;
    std::string bytes(std::max<std::size_t>(dataOffset, 255), '\0');
    std::memcpy(bytes.data(), "LASF", 4);
    put<std::uint8_t>(bytes, 24, h.versionMajor);
    put<std::uint8_t>(bytes, 25, h.versionMinor);
    put<std::uint16_t>(bytes, 94, h.headerSize);
    put<std::uint32_t>(bytes, 96, dataOffset);
    put<std::uint8_t>(bytes, 104, h.formatByte);
    put<std::uint16_t>(bytes, 105, h.recordLength);
    put<std::uint32_t>(bytes, 107, h.legacyCount);
    for (int i = 0; i < 3; ++i) {
        put<double>(bytes, 131 + 8 * static_cast<std::size_t>(i), h.scale[i]);
        put<double>(bytes, 155 + 8 * static_cast<std::size_t>(i), h.offset[i]);
    }
    put<std::uint64_t>(bytes, 247, h.wideCount);
    bytes.resize(dataOffset);
    for (const LasTestRecord& r : records) {
        std::string rec(h.recordLength, '\0');
        put<std::int32_t>(rec, 0, r.x);
        put<std::int32_t>(rec, 4, r.y);
        put<std::int32_t>(rec, 8, r.z);
        put<std::uint16_t>(rec, 12, r.intensity);
        if (colourOffset >= 0 && static_cast<std::size_t>(colourOffset) + 6 <= h.recordLength) {
            put<std::uint16_t>(rec, static_cast<std::size_t>(colourOffset), r.red);
            put<std::uint16_t>(rec, static_cast<std::size_t>(colourOffset) + 2, r.green);
            put<std::uint16_t>(rec, static_cast<std::size_t>(colourOffset) + 4, r.blue);
        }
        rec.resize(h.recordLength);
        bytes += rec;
    }
    return bytes;
}

// Records numbered i: x = i, y = 2i, z = -i, intensity = i mod 65536, colour from i.
inline std::vector<LasTestRecord> numberedRecords(std::size_t count) {
    std::vector<LasTestRecord> out(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto v = static_cast<std::int32_t>(i);
        out[i] = {v,
                  2 * v,
                  -v,
                  static_cast<std::uint16_t>(i),
                  static_cast<std::uint16_t>(i),
                  static_cast<std::uint16_t>(i * 7),
                  static_cast<std::uint16_t>(i * 300)};
    }
    return out;
}

}  // namespace lastest
