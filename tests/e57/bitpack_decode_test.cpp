#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "bitpack_decode.h"
#include "bitpack_encode.h"

// unpackBits has byte-wise paths for aligned 8/16/32-bit records and a shifting path for the
// rest; every width, start bit and a count past the 16-record blocks must give the bit-exact
// values.
TEST(BitpackDecode, UnpackBitsMatchesBitByBitReadAtEveryWidthAndStart) {
    std::mt19937_64 rng(5);
    std::vector<std::uint8_t> data(64 * 40 / 8 * 8 + 64);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    for (unsigned bits : {1u, 7u, 8u, 9u, 16u, 21u, 32u, 33u, 57u, 64u}) {
        for (std::uint64_t start : {0u, 1u, 3u, 8u, 13u, 16u, 64u}) {
            const std::size_t count = 37;
            std::vector<std::uint64_t> got(count);
            e57::unpackBits(data.data(), start, bits, count, got.data(),
                            [](std::uint64_t u) { return u; });
            for (std::size_t i = 0; i < count; ++i)
                ASSERT_EQ(got[i], e57::loadBitsExact(data.data(), start + i * bits, bits))
                    << "bits " << bits << " start " << start << " record " << i;
        }
    }
    // Narrowing conversion into a 16-bit buffer, as colour is read.
    std::vector<std::uint16_t> colour(40);
    e57::unpackBits(data.data(), 8, 8, colour.size(), colour.data(),
                    [](std::uint64_t u) { return static_cast<std::uint16_t>(u + 1); });
    for (std::size_t i = 0; i < colour.size(); ++i) EXPECT_EQ(colour[i], data[1 + i] + 1u);
}

// The writer's rounding avoids the floor() call; it must agree with floor(v / scale + 0.5)
// for negative values, exact halves and values next to them.
TEST(BitpackEncode, ScaleToRawRoundsLikeFloor) {
    const e57::bitpack::ScaleToRaw toRaw{0.001};
    for (double v : {0.0, -0.0, 0.0005, -0.0005, 1.2345, -1.2345, -0.0015, 2999.9995, -999.9995,
                     -1e-9, 1e12, -1e12}) {
        for (double w : {v, std::nextafter(v, 1e300), std::nextafter(v, -1e300)})
            EXPECT_EQ(toRaw(w), static_cast<std::int64_t>(std::floor(w / 0.001 + 0.5))) << w;
    }
}
