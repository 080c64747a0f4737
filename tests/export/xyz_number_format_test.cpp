#include "export/xyz_number_format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

namespace {

std::string ours(double v) {
    char buf[32];
    return std::string(buf, formatDouble10g(buf, v));
}

std::string printfs(double v) {
    char buf[64];
    const int n = std::snprintf(buf, sizeof buf, "%.10g", v);
    return std::string(buf, static_cast<std::size_t>(n));
}

void expectSame(double v) { ASSERT_EQ(ours(v), printfs(v)) << "value bits " << std::hexfloat << v; }

TEST(XyzNumberFormat, EdgeValuesMatchPrintf) {
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {0.0,
                     -0.0,
                     1.0,
                     -1.0,
                     2.5,
                     12.0,
                     0.00001,
                     0.0001,
                     0.00009999999999,
                     0.000099999999995,
                     123456789.123,
                     9999999999.0,
                     9999999999.4,
                     9999999999.5,
                     9999999998.5,
                     999999999.95,
                     999999999.9499999,
                     1e9,
                     1e10,
                     1e-4,
                     0.1,
                     0.3,
                     1.0 / 3.0,
                     2.0 / 3.0,
                     5e-5,
                     853535.43,
                     853535.4300000001,
                     5400000.0005,
                     0.00012345678905,
                     1.0000000005,
                     1.00000000049,
                     std::numeric_limits<double>::max(),
                     std::numeric_limits<double>::min(),
                     std::numeric_limits<double>::denorm_min(),
                     inf,
                     -inf,
                     std::numeric_limits<double>::quiet_NaN()})
        expectSame(v);
    for (int e = -6; e <= 11; ++e) {  // every power of ten and its neighbours
        const double p = std::pow(10.0, e);
        expectSame(p);
        expectSame(std::nextafter(p, 0.0));
        expectSame(std::nextafter(p, 2 * p));
        expectSame(-p);
    }
}

// Survey coordinates: integers at a LAS scale plus an offset, and plain random doubles of every
// magnitude the fixed notation covers, and values built to sit on a rounding tie.
TEST(XyzNumberFormat, RandomValuesMatchPrintf) {
    std::mt19937_64 gen(2026);
    std::uniform_int_distribution<std::int64_t> record(-2000000000, 2000000000);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double scales[] = {0.001, 0.01, 0.0001, 1e-6, 0.5};
    const double offsets[] = {0.0, 500000.0, 5400000.0, 100.0, -123.25};
    for (int i = 0; i < 300000; ++i) {
        const double v = static_cast<double>(record(gen)) * scales[i % 5] + offsets[(i / 5) % 5];
        expectSame(v);
        expectSame(std::ldexp(unit(gen), static_cast<int>(gen() % 60) - 20) * ((i & 1) ? -1 : 1));
        // d.ddddddddd5 at every decimal exponent: exactly between two 10-digit outputs in decimal
        const int e = static_cast<int>(gen() % 16) - 6;
        const double tie =
            (1e9 + static_cast<double>(gen() % 9000000000ULL) + 0.5) * std::pow(10.0, e - 9);
        expectSame(tie);
        expectSame(std::nextafter(tie, 0.0));
        expectSame(std::nextafter(tie, 1e300));
    }
}

}  // namespace
