#pragma once

// File-level inspection of written E57 files, independent of e57::Reader: page checksums,
// the logical stream, the header and the XML text.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "support/e57_page_checksum.h"
#include "support/test_support.h"

namespace writertest {

struct E57Bytes {
    std::string physical;
    std::string logical;  // payloads of all pages, checksums removed
    std::size_t badPages = 0;
    std::uint64_t filePhysicalLength = 0;
    std::uint64_t xmlPhysicalOffset = 0;
    std::uint64_t xmlLogicalLength = 0;
    std::uint64_t pageSize = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::string signature;
    std::string xml;
};

inline std::uint64_t le64(const std::string& s, std::uint64_t at) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}
inline std::uint32_t le32(const std::string& s, std::uint64_t at) {
    return static_cast<std::uint32_t>(le64(s, at) & 0xFFFFFFFFu);
}
inline std::uint32_t le16(const std::string& s, std::uint64_t at) {
    return static_cast<unsigned char>(s[at]) | (static_cast<unsigned char>(s[at + 1]) << 8);
}

inline std::uint64_t physicalToLogical(std::uint64_t physical) {
    return (physical / 1024) * 1020 + std::min<std::uint64_t>(physical % 1024, 1020);
}

inline E57Bytes loadE57(const std::filesystem::path& path) {
    E57Bytes f;
    f.physical = testsupport::readFile(path);
    const std::size_t pages = f.physical.size() / 1024;
    for (std::size_t p = 0; p < pages; ++p) {
        const auto* page = reinterpret_cast<const std::uint8_t*>(f.physical.data() + p * 1024);
        // The portable path on purpose: the writer uses the hardware one.
        const std::uint32_t crc = testsupport::crc32c(page, 1020);
        const std::uint32_t stored = (std::uint32_t(page[1020]) << 24) |
                                     (std::uint32_t(page[1021]) << 16) |
                                     (std::uint32_t(page[1022]) << 8) | std::uint32_t(page[1023]);
        if (crc != stored) ++f.badPages;
        f.logical.append(f.physical, p * 1024, 1020);
    }
    if (f.logical.size() >= 48) {
        f.signature = f.logical.substr(0, 8);
        f.major = le32(f.logical, 8);
        f.minor = le32(f.logical, 12);
        f.filePhysicalLength = le64(f.logical, 16);
        f.xmlPhysicalOffset = le64(f.logical, 24);
        f.xmlLogicalLength = le64(f.logical, 32);
        f.pageSize = le64(f.logical, 40);
        const std::uint64_t start = physicalToLogical(f.xmlPhysicalOffset);
        if (start + f.xmlLogicalLength <= f.logical.size())
            f.xml = f.logical.substr(start, f.xmlLogicalLength);
    }
    return f;
}

}  // namespace writertest
