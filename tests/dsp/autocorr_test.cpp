// The lag-parallel autocorrelation against the plain sum, bit for bit, on every vector unit.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "dsp/numeric.h"
#include "simd_levels.h"

namespace {

// Term by term in ascending order: the definition the fast versions must reproduce exactly.
std::vector<double> plain_autocorr(const std::vector<double> &x) {
    const int n = static_cast<int>(x.size());
    std::vector<double> r(x.size());
    for (int k = 0; k < n; k++)
        for (int j = 0; j < n - k; j++)
            r[size_t(k)] = x[size_t(j)] * x[size_t(j + k)] + r[size_t(k)];
    return r;
}

// Values spread over many binades, so that summing in any other order changes the rounding.
std::vector<double> random_values(int n, uint32_t seed) {
    std::vector<double> x(static_cast<size_t>(n));
    for (double &v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = std::ldexp(static_cast<double>(seed >> 8) / 8388608.0 - 1.0, int(seed % 13) - 6);
    }
    return x;
}

// A decaying string-like tone, the kind of segment the analysis hands in.
std::vector<double> plucked_values(int n) {
    std::vector<double> x(static_cast<size_t>(n));
    for (int t = 0; t < n; t++)
        x[size_t(t)] = std::exp(-t / 900.0) * (std::sin(t * 0.0427) + 0.3 * std::sin(t * 0.1281));
    return x;
}

void expect_same_bits(const std::vector<double> &x, const char *what) {
    const int n = static_cast<int>(x.size());
    const std::vector<double> expected = plain_autocorr(x);
    for (dsp::simd_level level : simd_levels_here()) {
        std::vector<double> r(x.size() + 1, -7.0);
        dsp::autocorr_direct_on(level, x.data(), r.data(), n);
        ASSERT_EQ(r[size_t(n)], -7.0) << "written past the end, n " << n;
        for (int k = 0; k < n; k++) {
            const double got = r[size_t(k)], want = expected[size_t(k)];
            if (std::isnan(want) && std::isnan(got))
                continue;
            ASSERT_EQ(std::bit_cast<uint64_t>(got), std::bit_cast<uint64_t>(want))
                << what << " on " << simd_level_name(level) << ", n " << n << ", lag " << k;
        }
    }
}

TEST(AutocorrDirect, BitIdenticalToPlainSumAtEveryLength) {
    std::vector<int> lengths;
    for (int n = 1; n <= 300; n++)
        lengths.push_back(n);
    for (int n = 311; n < 2970; n += 97)
        lengths.push_back(n);
    for (int n = 2970; n <= 3000; n++)
        lengths.push_back(n);
    for (int n : lengths) {
        expect_same_bits(random_values(n, static_cast<uint32_t>(n)), "random");
        expect_same_bits(plucked_values(n), "plucked");
    }
}

TEST(AutocorrDirect, SpecialValuesPropagateAsInThePlainSum) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int n : {7, 40, 129}) {
        for (double special : {-0.0, inf, -inf, nan, 4.9e-324, 1e300}) {
            std::vector<double> x = random_values(n, 99);
            x[size_t(n / 3)] = special;
            x[size_t(n - 1)] = -0.0;
            expect_same_bits(x, "special");
        }
    }
}

} // namespace
