#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "fft.h"
#include "pitch.h"

namespace {

constexpr int sr = 44100;
constexpr double inf = std::numeric_limits<double>::infinity();

std::vector<double> sine(double hz, int n) {
    std::vector<double> x(static_cast<std::size_t>(n));
    for (int t = 0; t < n; t++)
        x[static_cast<std::size_t>(t)] = std::sin(2 * M_PI * hz * t / sr);
    return x;
}

double pitch(const std::vector<double> &x) {
    return dsp::estimate_pitch(x.data(), sr, static_cast<int>(x.size()));
}

TEST(EstimatePitch, WorkedValues) {
    // Silence: three zeros give the half-sample vertex, period 18.5.
    EXPECT_EQ(pitch(std::vector<double>(8192)), 44100 / 18.5);
    // Still falling from lag 0 at the first lag searched: pos 0, period 18.
    EXPECT_EQ(pitch(sine(100, 8192)), 2450.0);
    // Maximum at lag 44, vertex beyond the last of the three: period 42.
    EXPECT_EQ(pitch(sine(1000, 8192)), 1050.0);
    // Period 100 found at lag 100; the estimate is taken two samples short of it.
    EXPECT_EQ(pitch(sine(441, 2048)), 450.0);
    EXPECT_NEAR(pitch(sine(441, 8192)), 445.90, 0.005);
}

TEST(EstimatePitch, ScaleInvariantAndSamplesKept) {
    for (const double hz : {82.41, 196.0, 441.0, 1000.0}) {
        const std::vector<double> x = sine(hz, 4096);
        const std::vector<double> kept = x;
        const double f0 = pitch(x);
        EXPECT_EQ(x, kept);
        std::vector<double> y = x;
        // A power of two scales every rounding too, so the estimate is the same to the bit.
        for (double &v : y)
            v *= 0.125;
        EXPECT_EQ(pitch(y), f0) << hz;
        for (double &v : y)
            v *= -29.6;
        EXPECT_NEAR(pitch(y), f0, 1e-9 * f0) << hz;
    }
}

TEST(EstimatePitch, CaptureShorterThanLagRangeHasNoPitch) {
    // Lags 20..1490 at 44100 Hz need r[1490], so 1491 samples at least.
    for (const int n : {0, 1, 4, 8, 16, 256, 1024, 1490}) {
        const std::vector<double> x = sine(441, n);
        EXPECT_EQ(dsp::estimate_pitch(x.data(), sr, n), inf) << n;
    }
    // At the bound the last lag searched is circular lag -1, so the estimate is the lowest one.
    EXPECT_NEAR(pitch(sine(441, 1491)), 44100 / 1488.0, 0.1);
}

TEST(EstimatePitch, LengthTheTransformRefusesHasNoPitchAndKeepsTheProcess) {
    // 4 * 1031 and 2 * 1031 have a prime factor above 1024; 2 * 1021 does not.
    for (const int n : {4124, 2062}) {
        ASSERT_FALSE(dsp::fft_length_supported(n));
        EXPECT_EQ(dsp::estimate_pitch(sine(441, n).data(), sr, n), inf) << n;
    }
    EXPECT_TRUE(dsp::fft_length_supported(2042));
    EXPECT_TRUE(std::isfinite(dsp::estimate_pitch(sine(441, 2042).data(), sr, 2042)));
    EXPECT_FALSE(dsp::fft_length_supported(0));
    EXPECT_TRUE(dsp::fft_length_supported(1));
}

TEST(EstimatePitch, SampleRateWithoutLowestLagHasNoPitch) {
    // Below 2300 Hz the lowest lag is 0 and the refinement would read r[-1].
    const std::vector<double> x = sine(10, 4096);
    for (const int rate : {2299, 1, 0, -44100})
        EXPECT_EQ(dsp::estimate_pitch(x.data(), rate, 4096), inf) << rate;
    EXPECT_TRUE(std::isfinite(dsp::estimate_pitch(x.data(), 6900, 4096)));
}

TEST(EstimatePitch, PeriodOfZeroOrLessHasNoPitch) {
    // From 2300 to 4599 Hz the first lag searched is 2. A signal of period 2 has its maximum
    // there, and the period, taken two samples short of it, is 0 plus a rounding-sized offset:
    // over 768 samples it came out just below 0, for a frequency of about -1.5e19 Hz.
    for (const int rate : {2300, 3000, 4599}) {
        for (const int n : {512, 768, 1024, 2048}) {
            std::vector<double> x(static_cast<std::size_t>(n));
            for (std::size_t i = 0; i < x.size(); i += 2)
                x[i] = 0.5;
            const double f0 = dsp::estimate_pitch(x.data(), rate, n);
            EXPECT_GT(f0, 0.0) << rate << " Hz, " << n << " samples";
        }
    }
}

} // namespace
