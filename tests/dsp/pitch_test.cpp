#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "dsp/fft.h"
#include "dsp/pitch.h"
#include "fft_reference.h"
#include "pitch_scratch.h"

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
    return signals::estimate_pitch(x.data(), sr, static_cast<int>(x.size()));
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
        EXPECT_EQ(signals::estimate_pitch(x.data(), sr, n), inf) << n;
    }
    // At the bound the last lag searched is circular lag -1, so the estimate is the lowest one.
    EXPECT_NEAR(pitch(sine(441, 1491)), 44100 / 1488.0, 0.1);
}

TEST(EstimatePitch, LengthTheTransformRefusesHasNoPitchAndKeepsTheProcess) {
    // 4 * 1031 and 2 * 1031 have a prime factor above 1024; 2 * 1021 does not.
    for (const int n : {4124, 2062}) {
        ASSERT_FALSE(dsp::fft_length_supported(n));
        EXPECT_EQ(signals::estimate_pitch(sine(441, n).data(), sr, n), inf) << n;
    }
    EXPECT_TRUE(dsp::fft_length_supported(2042));
    EXPECT_TRUE(std::isfinite(signals::estimate_pitch(sine(441, 2042).data(), sr, 2042)));
    EXPECT_FALSE(dsp::fft_length_supported(0));
    EXPECT_TRUE(dsp::fft_length_supported(1));
}

TEST(EstimatePitch, SampleRateWithoutLowestLagHasNoPitch) {
    // Below 2300 Hz the lowest lag is 0 and the refinement would read r[-1].
    const std::vector<double> x = sine(10, 4096);
    for (const int rate : {2299, 1, 0, -44100})
        EXPECT_EQ(signals::estimate_pitch(x.data(), rate, 4096), inf) << rate;
    EXPECT_TRUE(std::isfinite(signals::estimate_pitch(x.data(), 6900, 4096)));
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
            const double f0 = signals::estimate_pitch(x.data(), rate, n);
            EXPECT_GT(f0, 0.0) << rate << " Hz, " << n << " samples";
        }
    }
}

} // namespace

namespace {

// The estimate written out plainly on the plain transform: separate vectors, a fresh transform
// every time, the search and the parabola inline.
double plain_pitch(const std::vector<double> &x) {
    const int n = static_cast<int>(x.size());
    const auto size = x.size();
    std::vector<double> zero(size), re(size), im(size), power(size);
    EXPECT_TRUE(fft_reference::fft_transform(n, x.data(), zero.data(), re.data(), im.data()));
    for (std::size_t i = 0; i < size; i++)
        power[i] = re[i] * re[i] + im[i] * im[i];
    EXPECT_TRUE(fft_reference::fft_transform(n, power.data(), zero.data(), re.data(), im.data()));
    const int lo = dsp::pitch_lag_below(sr), width = dsp::pitch_lag_count(sr);
    int pos = 0;
    for (int i = 0; i < width; i++)
        if (re[std::size_t(lo + 1 + i)] > re[std::size_t(lo + 1 + pos)])
            pos = i;
    double y0 = re[std::size_t(lo + pos - 1)];
    const double y1 = re[std::size_t(lo + pos)], y2 = re[std::size_t(lo + pos + 1)];
    double d = (y0 - 2 * y1) + y2;
    if (d == 0) {
        y0 += 1.0 / 2147483647.0;
        d = (y0 - 2 * y1) + y2;
    }
    double p = ((y0 - y2) / d) * 0.5;
    if (!std::isfinite(p) || p < -1 || p > 1)
        p = 0;
    return sr / (static_cast<double>(lo) + static_cast<double>(pos - 1) + p);
}

// Captures of four blocks of every power-of-two size that has a pitch, and other lengths; plucked
// notes over the guitar range and noise, with and without the caller's scratch.
TEST(EstimatePitch, BitIdenticalToThePlainEstimate) {
    std::vector<int> lengths = {1491, 1500, 2048, 3000, 4096, 5000, 8192};
    uint32_t seed = 7;
    for (const int n : lengths) {
        std::vector<std::vector<double>> captures;
        for (double hz : {82.41, 110.0, 196.0, 329.63, 659.26, 1318.5}) {
            std::vector<double> x = sine(hz, n);
            for (int t = 0; t < n; t++)
                x[std::size_t(t)] *= std::exp(-3.0 * t / n) * (0.5 + 0.1 * std::sin(0.001 * t));
            captures.push_back(x);
        }
        std::vector<double> noise(static_cast<std::size_t>(n));
        for (double &v : noise) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
        }
        captures.push_back(noise);
        std::vector<double> work(dsp::pitch_work_size(n) + 3);
        for (const auto &x : captures) {
            const double expected = plain_pitch(x);
            EXPECT_EQ(std::bit_cast<uint64_t>(pitch(x)), std::bit_cast<uint64_t>(expected)) << n;
            // The scratch may start anywhere.
            const double with_work = dsp::estimate_pitch(x.data(), sr, n, work.data() + (n % 4),
                                                         signals::test_workspace());
            EXPECT_EQ(std::bit_cast<uint64_t>(with_work), std::bit_cast<uint64_t>(expected)) << n;
        }
    }
}

} // namespace
