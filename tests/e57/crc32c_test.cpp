#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "crc32c.h"
#include "support/test_support.h"

// The hardware path has word loops, unaligned heads and tails, and three interleaved streams for
// blocks of 1008 bytes and more: every one of those must agree with the table path.
TEST(Crc32c, KnownValueAndBothPathsAgreeAtEveryLengthAndAlignment) {
    const std::string check = "123456789";
    EXPECT_EQ(e57::crc32c(check.data(), check.size()), 0xE3069283u);
    EXPECT_EQ(e57::crc32cPortable(check.data(), check.size()), 0xE3069283u);
    EXPECT_EQ(e57::crc32c(nullptr, 0), 0u);

    std::mt19937 rng(7);
    std::vector<unsigned char> data(8 * 1024 + 16);
    for (auto& c : data) c = static_cast<unsigned char>(rng());
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n < 70; ++n) lengths.push_back(n);
    for (std::size_t block = 1; block <= 6; ++block)
        for (std::size_t n = block * 1008 - 9; n <= block * 1008 + 9; ++n) lengths.push_back(n);
    for (std::size_t n : lengths)
        for (std::size_t off = 0; off < 9 && off + n <= data.size(); ++off)
            ASSERT_EQ(e57::crc32c(data.data() + off, n), e57::crc32cPortable(data.data() + off, n))
                << "offset " << off << " length " << n;
    const std::vector<unsigned char> zeros(4096, 0);
    EXPECT_EQ(e57::crc32c(zeros.data(), zeros.size()),
              e57::crc32cPortable(zeros.data(), zeros.size()));
    EXPECT_EQ(e57::crc32c(data.data(), data.size()), e57::crc32cPortable(data.data(), data.size()));
    for (std::size_t page = 0; page + 1024 <= data.size(); page += 1024)
        EXPECT_EQ(e57::pageChecksum(data.data() + page),
                  e57::crc32cPortable(data.data() + page, 1020));
}

TEST(Crc32c, PageChecksumIsStoredBigEndian) {
    std::vector<std::uint8_t> page(1024, 0);
    for (int i = 0; i < 1020; ++i) page[i] = static_cast<std::uint8_t>(i * 31);
    e57::sealPage(page.data());
    const std::uint32_t c = e57::crc32c(page.data(), 1020);
    EXPECT_EQ(page[1020], c >> 24);
    EXPECT_EQ(page[1023], c & 0xFF);
    EXPECT_TRUE(e57::pageChecksumMatches(page.data()));
    page[500] ^= 1;
    EXPECT_FALSE(e57::pageChecksumMatches(page.data()));
}

TEST(Crc32c, SamplePageZeroOfEmptyFile) {
    REQUIRE_SHARED_TESTDATA();
    const std::string file =
        testsupport::readFile(testsupport::sharedTestData() / "e57" / "empty.e57");
    ASSERT_EQ(file.size(), 1024u);
    const auto* page = reinterpret_cast<const std::uint8_t*>(file.data());
    EXPECT_EQ(e57::pageChecksum(page), 0x800F6081u);
    EXPECT_EQ(e57::storedPageChecksum(page), 0x800F6081u);
}
