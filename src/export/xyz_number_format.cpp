#include "export/xyz_number_format.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

// std::to_chars with precision 10 converts exactly but slowly (big-number arithmetic each time).
// Most survey coordinates take fixed notation, so those are done here: the value times 10^k
// lies in [1e9, 1e10) with an error below 1e-6, so rounding that product to an integer gives
// the digits to_chars would give unless the product sits within kMargin of a rounding
// boundary or a power of ten, or outside fixed notation; those cases go to to_chars.

namespace {

// Exact doubles. The product a * 10^k below 2^34 is off by at most half its ulp, 2^-20.
constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6, 1e7,
                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14};
constexpr double kMargin = 4e-6;

char* slowFormat(char* at, double value) {
    return std::to_chars(at, at + 24, value, std::chars_format::general, 10).ptr;
}

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The 10 digits of n (1e9 <= n < 1e10) into out[0..9].
inline void tenDigits(char* out, std::uint64_t n) {
    for (int i = 8; i >= 0; i -= 2) {
        std::memcpy(out + i, kDigitPairs + 2 * (n % 100), 2);
        n /= 100;
    }
}

}  // namespace

char* formatDouble10g(char* at, double value) {
    const double a = std::fabs(value);
    // Fixed notation holds for decimal exponents -4..9 after rounding to 10 digits.
    if (!(a >= 1e-4 && a < 9.9999999e9)) return slowFormat(at, value);

    // Decimal exponent e: the shift gives floor(b * log10(2)) exactly for the binary exponents
    // b = -14..33 of this range, so 10^e <= 2^b <= a and s >= 1e9; a can still reach 10^(e+1),
    // which the product check below corrects.
    std::uint64_t bits;
    std::memcpy(&bits, &a, sizeof bits);
    const int binaryExponent = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
    int e = (binaryExponent * 1233) >> 12;
    int k = 9 - e;  // digits after the point
    if (k < 0 || k > 14) return slowFormat(at, value);
    double s = a * kPow10[k];
    if (s >= 1e10) {
        --k;
        ++e;
        if (k < 0) return slowFormat(at, value);
        s = a * kPow10[k];
    }
    if (s < 1e9 + kMargin || s >= 1e10 - 0.5 - kMargin) return slowFormat(at, value);
    const std::int64_t whole = static_cast<std::int64_t>(s);  // s > 0: truncation is floor
    const double frac = s - static_cast<double>(whole);
    if (frac > 0.5 - kMargin && frac < 0.5 + kMargin) return slowFormat(at, value);
    std::uint64_t n = static_cast<std::uint64_t>(whole);
    if (frac > 0.5) ++n;
    if (n >= 10000000000ULL || n < 1000000000ULL) return slowFormat(at, value);

    char digits[10];
    tenDigits(digits, n);
    if (value < 0) *at++ = '-';
    int last = 9;  // last significant digit after stripping trailing zeros of the fraction
    const int intDigits = e + 1;  // digits before the point (<= 0: "0." and zeros)
    const int firstFraction = intDigits > 0 ? intDigits : 0;
    while (last >= firstFraction && digits[last] == '0') --last;
    if (intDigits > 0) {
        std::memcpy(at, digits, static_cast<std::size_t>(intDigits));
        at += intDigits;
        if (last >= intDigits) {
            *at++ = '.';
            const int count = last - intDigits + 1;
            std::memcpy(at, digits + intDigits, static_cast<std::size_t>(count));
            at += count;
        }
    } else {
        *at++ = '0';
        *at++ = '.';
        for (int i = 0; i < -intDigits; ++i) *at++ = '0';
        const int count = last + 1;
        std::memcpy(at, digits, static_cast<std::size_t>(count));
        at += count;
    }
    return at;
}
