#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "dsp/fft.h"
#include "fft_reference.h"
#include "fft_workspace_for_tests.h"
#include "simd_levels.h"

namespace {

// Lengths whose stage orders are fixed, plus the prime and near-limit lengths.
const std::vector<int> table_lengths = {1,   16,   20,   48,   56,   128,  256,
                                        512, 1000, 1024, 1025, 2048, 4096, 8192};

struct Signal {
    std::vector<double> re, im;
};

Signal random_signal(int n, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    Signal s{std::vector<double>(static_cast<std::size_t>(n)),
             std::vector<double>(static_cast<std::size_t>(n))};
    for (int i = 0; i < n; i++) {
        s.re[static_cast<std::size_t>(i)] = dist(rng);
        s.im[static_cast<std::size_t>(i)] = dist(rng);
    }
    return s;
}

Signal transform(const Signal &x) {
    const int n = static_cast<int>(x.re.size());
    Signal y{std::vector<double>(x.re.size()), std::vector<double>(x.re.size())};
    dsp::fft_transform(signals::test_workspace(), n, x.re.data(), x.im.data(), y.re.data(),
                       y.im.data());
    return y;
}

// ||X - DFT(x)|| / ||DFT(x)||, with the DFT summed in long double from long-double roots.
double relative_error(const Signal &x, const Signal &y) {
    const std::size_t n = x.re.size();
    const long double two_pi = 6.283185307179586476925286766559005768L;
    std::vector<long double> w_re(n), w_im(n);
    for (std::size_t k = 0; k < n; k++) {
        w_re[k] = std::cos(two_pi * static_cast<long double>(k) / static_cast<long double>(n));
        w_im[k] = -std::sin(two_pi * static_cast<long double>(k) / static_cast<long double>(n));
    }
    long double err = 0, norm = 0;
    for (std::size_t k = 0; k < n; k++) {
        long double s_re = 0, s_im = 0;
        std::size_t idx = 0; // m * k mod n
        for (std::size_t m = 0; m < n; m++) {
            s_re += x.re[m] * w_re[idx] - x.im[m] * w_im[idx];
            s_im += x.re[m] * w_im[idx] + x.im[m] * w_re[idx];
            idx += k;
            if (idx >= n)
                idx -= n;
        }
        const long double d_re = y.re[k] - s_re, d_im = y.im[k] - s_im;
        err += d_re * d_re + d_im * d_im;
        norm += s_re * s_re + s_im * s_im;
    }
    return static_cast<double>(std::sqrt(err / norm));
}

std::vector<int> stage_radices(int n) {
    std::vector<int> radices(dsp::fft_max_stages);
    radices.resize(static_cast<std::size_t>(dsp::fft_split_length(n, radices.data())));
    return radices;
}

std::uint64_t bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

TEST(FftPlan, StageOrders) {
    using V = std::vector<int>;
    EXPECT_EQ(stage_radices(1), V({1}));
    EXPECT_EQ(stage_radices(2), V({2}));
    EXPECT_EQ(stage_radices(16), V({4, 4}));
    EXPECT_EQ(stage_radices(20), V({2, 10}));
    EXPECT_EQ(stage_radices(48), V({4, 3, 4}));
    EXPECT_EQ(stage_radices(56), V({7, 8}));
    EXPECT_EQ(stage_radices(128), V({4, 4, 8}));
    EXPECT_EQ(stage_radices(256), V({4, 8, 8}));
    EXPECT_EQ(stage_radices(512), V({8, 8, 8}));
    EXPECT_EQ(stage_radices(1000), V({10, 10, 10}));
    EXPECT_EQ(stage_radices(1024), V({4, 4, 8, 8}));
    EXPECT_EQ(stage_radices(1025), V({41, 5, 5}));
    EXPECT_EQ(stage_radices(2048), V({4, 8, 8, 8}));
    EXPECT_EQ(stage_radices(4096), V({8, 8, 8, 8}));
    EXPECT_EQ(stage_radices(8192), V({4, 4, 8, 8, 8}));
    // Trial division: repeated and mixed primes, largest last found and so first to run.
    EXPECT_EQ(stage_radices(49 * 11 * 6), V({11, 7, 7, 2, 3}));
    EXPECT_EQ(stage_radices(2062), V({1031, 2}));
    EXPECT_EQ(stage_radices(2147483647), V({2147483647}));
    EXPECT_EQ(stage_radices(1 << 30), V({8, 8, 8, 8, 8, 8, 8, 8, 8, 8}));
    // The deepest plan of any int length: 3^19 fills every stage table entry.
    EXPECT_EQ(stage_radices(1162261467), V(dsp::fft_max_stages, 3));
}

TEST(FftPlan, EveryLengthFactorsIntoItsRadices) {
    for (int n = 2; n <= 20000; n++) {
        const std::vector<int> radices = stage_radices(n);
        long long product = 1;
        for (const int r : radices) {
            product *= r;
            EXPECT_GE(r, 2) << "N=" << n;
        }
        ASSERT_EQ(product, n);
        // Radices above 10 come from trial division and are prime; stage 1 holds the largest,
        // so the limit is checked on stage 1 alone.
        const int largest = *std::max_element(radices.begin(), radices.end());
        if (largest > 10) {
            ASSERT_EQ(radices.front(), largest) << "N=" << n;
        }
        for (const int r : radices) {
            for (int k = 2; r > 10 && k * k <= r; k++)
                ASSERT_NE(r % k, 0) << "N=" << n << " radix " << r;
        }
        if ((n & (n - 1)) == 0 && n >= 4) {
            for (const int r : radices)
                ASSERT_TRUE(r == 4 || r == 8) << "N=" << n;
        }
    }
}

TEST(FftTransform, MatchesDirectDft) {
    std::vector<int> lengths;
    for (int n = 1; n <= 300; n++)
        lengths.push_back(n);
    lengths.insert(lengths.end(), table_lengths.begin(), table_lengths.end());
    lengths.insert(lengths.end(), {1021, 2042, 4096, 8192});
    double worst = 0;
    for (const int n : lengths) {
        const Signal x = random_signal(n, static_cast<std::uint64_t>(n));
        const double err = relative_error(x, transform(x));
        EXPECT_LT(err, 1e-13) << "N=" << n;
        worst = std::max(worst, err);
    }
    std::printf("worst relative error: %.3g\n", worst);
}

TEST(FftTransform, SignConventionAndNoScaling) {
    for (const int n : {1, 2, 3, 7, 10, 16, 48, 1021}) {
        Signal impulse{std::vector<double>(static_cast<std::size_t>(n)),
                       std::vector<double>(static_cast<std::size_t>(n))};
        impulse.re[static_cast<std::size_t>(n > 1 ? 1 : 0)] = 1;
        const Signal y = transform(impulse);
        for (int k = 0; k < n; k++) {
            const double w = 2 * M_PI * k / n * (n > 1 ? 1 : 0);
            EXPECT_NEAR(y.re[static_cast<std::size_t>(k)], std::cos(w), 1e-12) << n << ":" << k;
            EXPECT_NEAR(y.im[static_cast<std::size_t>(k)], -std::sin(w), 1e-12) << n << ":" << k;
        }
        const Signal ones{std::vector<double>(static_cast<std::size_t>(n), 1.0),
                          std::vector<double>(static_cast<std::size_t>(n), 0.0)};
        const Signal s = transform(ones);
        EXPECT_NEAR(s.re[0], n, 1e-12 * n);
        for (int k = 1; k < n; k++) {
            EXPECT_NEAR(s.re[static_cast<std::size_t>(k)], 0, 1e-12 * n) << n << ":" << k;
            EXPECT_NEAR(s.im[static_cast<std::size_t>(k)], 0, 1e-12 * n) << n << ":" << k;
        }
    }
    // Lengths 1 and 2 are exact.
    const Signal one{{-0.75}, {2.5}};
    EXPECT_EQ(transform(one).re, one.re);
    EXPECT_EQ(transform(one).im, one.im);
    const Signal two = transform({{3, 0.5}, {-1, 2}});
    EXPECT_EQ(two.re, (std::vector<double>{3.5, 2.5}));
    EXPECT_EQ(two.im, (std::vector<double>{1, -3}));
}

// A decaying tone with harmonics, real-valued as the pitch estimator passes it.
Signal plucked_signal(int n) {
    Signal s{std::vector<double>(static_cast<std::size_t>(n)),
             std::vector<double>(static_cast<std::size_t>(n))};
    for (int t = 0; t < n; t++)
        s.re[static_cast<std::size_t>(t)] =
            std::exp(-t / 2000.0) * (std::sin(t * 0.0279) + 0.4 * std::sin(t * 0.0837));
    return s;
}

// The production transform must equal the plain transcription to the bit, for every radix mix
// and on every vector unit; it also leaves its inputs alone and writes every output (pre-filled
// with a NaN sentinel).
TEST(FftTransform, BitIdenticalToReferenceInputsKeptOutputsWritten) {
    std::vector<int> lengths;
    for (int n = 1; n <= 400; n++)
        lengths.push_back(n);
    lengths.insert(lengths.end(), table_lengths.begin(), table_lengths.end());
    lengths.insert(lengths.end(), {1001, 1021, 1491, 2042, 3000, 5120, 6561, 7776, 8190, 16384});
    const double sentinel = std::nan("0x5ad");
    for (const int n : lengths) {
        for (std::uint64_t seed = 0; seed < 4; seed++) {
            Signal x = seed == 3 ? plucked_signal(n)
                                 : random_signal(n, 1000 * seed + static_cast<std::uint64_t>(n));
            if (seed == 2) {
                // Signed zeros and real-only input, as the pitch estimator passes: a rotation
                // by (1, 0) would turn some -0 into +0.
                for (std::size_t i = 0; i < x.re.size(); i++) {
                    x.im[i] = (i % 3 == 0) ? -0.0 : 0.0;
                    if (i % 5 == 0)
                        x.re[i] = -0.0;
                }
            }
            const Signal kept = x;
            const std::size_t size = static_cast<std::size_t>(n);
            Signal ref{std::vector<double>(size), std::vector<double>(size)};
            ASSERT_TRUE(fft_reference::fft_transform(n, x.re.data(), x.im.data(), ref.re.data(),
                                                     ref.im.data()));
            for (dsp::simd_level level : simd_levels_here()) {
                Signal y{std::vector<double>(size, sentinel), std::vector<double>(size, sentinel)};
                dsp::fft_transform_on(level, signals::test_workspace(), n, x.re.data(), x.im.data(),
                                      y.re.data(), y.im.data());
                ASSERT_TRUE(same_bits(x.re, kept.re) && same_bits(x.im, kept.im)) << "N=" << n;
                for (std::size_t i = 0; i < size; i++) {
                    ASSERT_NE(bits(y.re[i]), bits(sentinel)) << "N=" << n << " re[" << i << "]";
                    ASSERT_NE(bits(y.im[i]), bits(sentinel)) << "N=" << n << " im[" << i << "]";
                }
                ASSERT_TRUE(same_bits(y.re, ref.re) && same_bits(y.im, ref.im))
                    << "N=" << n << " seed " << seed << " on " << simd_level_name(level);
            }
        }
    }
}

// Lengths up to 8192 keep their rotations between calls: after switching lengths back and forth,
// every call must still match the plain transcription.
TEST(FftTransform, KeptRotationsFollowTheLength) {
    const std::vector<int> lengths = {8192, 4096, 8192, 1000, 8192, 16384, 8192, 2048};
    for (const int n : lengths) {
        const Signal x = random_signal(n, 77);
        const Signal y = transform(x);
        Signal ref{std::vector<double>(y.re.size()), std::vector<double>(y.re.size())};
        ASSERT_TRUE(fft_reference::fft_transform(n, x.re.data(), x.im.data(), ref.re.data(),
                                                 ref.im.data()));
        ASSERT_TRUE(same_bits(y.re, ref.re) && same_bits(y.im, ref.im)) << "N=" << n;
    }
}

TEST(FftTransform, NonPositiveLengthTouchesNothing) {
    std::vector<double> in(4, 1.0), out_re(4, 7.0), out_im(4, 7.0);
    for (const int n : {0, -1, -2147483647 - 1}) {
        dsp::fft_transform(signals::test_workspace(), n, in.data(), in.data(), out_re.data(),
                           out_im.data());
        EXPECT_EQ(out_re, std::vector<double>(4, 7.0));
        EXPECT_EQ(out_im, std::vector<double>(4, 7.0));
    }
}

struct StopOutcome {
    int status = -1;
    std::string out;
    bool outputs_untouched = false;
};

// Runs the transform in a child process whose standard output is a pipe; the outputs live in
// shared memory so that the parent can see whether the child wrote to them.
StopOutcome run_until_stop(int n) {
    const std::size_t size = static_cast<std::size_t>(n);
    void *map = mmap(nullptr, 2 * size * sizeof(double), PROT_READ | PROT_WRITE,
                     MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (map == MAP_FAILED)
        return {};
    auto *out = static_cast<double *>(map);
    std::fill(out, out + 2 * size, 42.0);
    const std::vector<double> in(size, 1.0);
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[1]);
        dsp::fft_transform(signals::test_workspace(), n, in.data(), in.data(), out, out + size);
        _exit(99);
    }
    close(fds[1]);
    StopOutcome outcome;
    char buf[256];
    for (ssize_t got; (got = read(fds[0], buf, sizeof buf)) > 0;)
        outcome.out.append(buf, static_cast<std::size_t>(got));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    outcome.outputs_untouched = std::all_of(out, out + 2 * size, [](double v) { return v == 42; });
    munmap(map, 2 * size * sizeof(double));
    return outcome;
}

TEST(FftTransform, PrimeFactorAboveLimitStopsTheProcess) {
    const char *tail = "\nPlease modify the value of maxPrimeFactor in the FFT module";
    const StopOutcome a = run_until_stop(2062);
    EXPECT_EQ(a.status, 1);
    EXPECT_EQ(a.out, std::string("\nPrime factor of FFT length too large :   1031") + tail);
    EXPECT_TRUE(a.outputs_untouched);
    const StopOutcome b = run_until_stop(1031 * 1033);
    EXPECT_EQ(b.status, 1);
    EXPECT_EQ(b.out, std::string("\nPrime factor of FFT length too large :   1033") + tail);
    EXPECT_TRUE(b.outputs_untouched);
}

} // namespace

namespace {

// The spaced layout for the pitch estimator's transforms: on cache lines, apart, inside the block,
// wherever the block starts.
TEST(FftArrays, AlignedApartAndInsideTheirBlock) {
    for (const int n : {1, 7, 1491, 8192}) {
        for (std::size_t shift = 0; shift < 8; shift++) {
            std::vector<double> block(dsp::fft_arrays_size(n) + shift);
            double *start = block.data() + shift;
            const dsp::fft_arrays a = dsp::fft_arrays_in(start, n);
            double *const arrays[] = {a.in_re, a.in_im, a.out_re, a.out_im};
            for (std::size_t k = 0; k < 4; k++) {
                EXPECT_EQ(reinterpret_cast<std::uintptr_t>(arrays[k]) % 64, 0u) << n;
                EXPECT_GE(arrays[k], start);
                EXPECT_LE(arrays[k] + n, start + dsp::fft_arrays_size(n)) << n << " " << k;
                if (k > 0) {
                    EXPECT_GE(arrays[k], arrays[k - 1] + n);
                }
            }
        }
    }
}

} // namespace
