#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

// The numbers of std::mt19937_64, same seed, same order. The state is refilled without a
// branch on its bits (libstdc++'s refill mispredicts half the time on them), and a whole
// block is tempered at once, so that both loops vectorise and a draw is a load.
class MersenneTwister64 {
public:
    using result_type = std::uint64_t;
    static constexpr std::size_t state_size = 312;
    static constexpr result_type default_seed = 5489u;

    explicit MersenneTwister64(result_type value = default_seed) { seed(value); }

    void seed(result_type value) {
        x_[0] = value;
        for (std::size_t i = 1; i < n; ++i)
            x_[i] = 6364136223846793005ULL * (x_[i - 1] ^ (x_[i - 1] >> 62)) + i;
        next_ = n;
    }

    static constexpr result_type min() { return 0; }
    static constexpr result_type max() { return std::numeric_limits<result_type>::max(); }

    result_type operator()() {
        if (next_ == n) refill();
        return out_[next_++];
    }

    // count numbers at once, as count calls give them.
    void generate(result_type* to, std::size_t count) {
        while (count != 0) {
            if (next_ == n) refill();
            const std::size_t k = count < n - next_ ? count : n - next_;
            std::memcpy(to, out_ + next_, k * sizeof(result_type));  // a loop here stays scalar
            next_ += k;
            to += k;
            count -= k;
        }
    }

    void discard(unsigned long long z) {
        for (; z != 0; --z) (*this)();
    }

private:
    static constexpr std::size_t n = state_size;
    static constexpr std::size_t m = 156;
    static constexpr std::uint64_t kUpper = ~std::uint64_t{0} << 31;
    static constexpr std::uint64_t kLower = ~kUpper;
    static constexpr std::uint64_t kMatrix = 0xb5026f5aa96619e9ULL;

    static std::uint64_t twist(std::uint64_t hiWord, std::uint64_t loWord, std::uint64_t far) {
        const std::uint64_t y = (hiWord & kUpper) | (loWord & kLower);
        return far ^ (y >> 1) ^ ((std::uint64_t{0} - (y & 1)) & kMatrix);
    }

    // Even trip counts throughout, so that -O2's vectoriser needs no scalar tail. Built for
    // wider vectors too, taken where the CPU has them; the integer steps are the same.
    [[gnu::noinline, gnu::target_clones("avx512f", "avx2", "default")]] void refill() {
        std::size_t i = 0;
        for (; i < n - m; ++i) x_[i] = twist(x_[i], x_[i + 1], x_[i + m]);
        for (; i < n - 2; ++i) x_[i] = twist(x_[i], x_[i + 1], x_[i + m - n]);
        x_[n - 2] = twist(x_[n - 2], x_[n - 1], x_[m - 2]);
        x_[n - 1] = twist(x_[n - 1], x_[0], x_[m - 1]);
        for (i = 0; i < n; ++i) {
            std::uint64_t z = x_[i];
            z ^= (z >> 29) & 0x5555555555555555ULL;
            z ^= (z << 17) & 0x71d67fffeda60000ULL;
            z ^= (z << 37) & 0xfff7eee000000000ULL;
            z ^= z >> 43;
            out_[i] = z;
        }
        next_ = 0;
    }

    std::uint64_t x_[n];
    std::uint64_t out_[n];
    std::size_t next_;
};
