#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "crc32c.h"
#include "support/test_support.h"

TEST(Crc32c, KnownValuesAndBothImplementationsAgree) {
    const std::string check = "123456789";
    EXPECT_EQ(e57::crc32c(check.data(), check.size()), 0xE3069283u);
    EXPECT_EQ(e57::crc32cPortable(check.data(), check.size()), 0xE3069283u);
    EXPECT_EQ(e57::crc32c(nullptr, 0), 0u);

    // Every length and misalignment up to a few words, against the table path.
    std::mt19937 rng(7);
    std::vector<unsigned char> data(4096);
    for (auto& c : data) c = static_cast<unsigned char>(rng());
    for (std::size_t off = 0; off < 9; ++off)
        for (std::size_t n = 0; n < 70; ++n)
            EXPECT_EQ(e57::crc32c(data.data() + off, n), e57::crc32cPortable(data.data() + off, n)) << off << " " << n;
    EXPECT_EQ(e57::crc32c(data.data(), data.size()), e57::crc32cPortable(data.data(), data.size()));
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
    const std::string file = testsupport::readFile(testsupport::sharedTestData() / "e57" / "empty.e57");
    ASSERT_EQ(file.size(), 1024u);
    const auto* page = reinterpret_cast<const std::uint8_t*>(file.data());
    EXPECT_EQ(e57::pageChecksum(page), 0x800F6081u);
    EXPECT_EQ(e57::storedPageChecksum(page), 0x800F6081u);
}
