#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "crc32c.h"

// The hardware path splits blocks of 1008 bytes and more into three interleaved streams; check
// lengths around every multiple of that block, misaligned starts and whole pages.
TEST(Crc32c, InterleavedStreamsMatchTablePath) {
    std::mt19937 rng(11);
    std::vector<unsigned char> data(8 * 1024 + 16);
    for (auto& c : data) c = static_cast<unsigned char>(rng());
    for (std::size_t block = 1; block <= 6; ++block)
        for (std::size_t n = block * 1008 - 9; n <= block * 1008 + 9 && n + 8 <= data.size(); ++n)
            for (std::size_t off : {0u, 1u, 3u, 7u})
                EXPECT_EQ(e57::crc32c(data.data() + off, n), e57::crc32cPortable(data.data() + off, n))
                    << "offset " << off << " length " << n;
    for (std::size_t page = 0; page + 1024 <= data.size(); page += 1024)
        EXPECT_EQ(e57::pageChecksum(data.data() + page), e57::crc32cPortable(data.data() + page, 1020));
    const std::vector<unsigned char> zeros(4096, 0);
    EXPECT_EQ(e57::crc32c(zeros.data(), zeros.size()), e57::crc32cPortable(zeros.data(), zeros.size()));
    EXPECT_EQ(e57::crc32c(data.data(), data.size()), e57::crc32cPortable(data.data(), data.size()));
}
