// libFuzzer target: the analyser's numeric core on its own. The first byte picks the routine:
//
//   0  fft_transform at a length from 1 to 8192 that the transform takes, checked against a
//      direct DFT (every bin for short lengths, a few bins and Parseval's sum for long ones)
//   1  estimate_pitch at any length and sample rate: +inf or a finite, positive frequency within
//      the search range, never NaN
//   2  the planner for any int length: radices that multiply to it, largest first
//   3  autocorr_direct against the plain sum, bit for bit; parabolic_offset and argmax_index
//
// Data come from a few shapes (raw doubles, 16-bit samples, impulses, single-bin carriers,
// noise, sprinkled non-finite values) decoded from the rest of the input; every routine must
// leave its input unchanged.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

#include "byte_reader.h"
#include "dsp/fft.h"
#include "dsp/numeric.h"
#include "dsp/pitch.h"
#include "invariant.h"
#include "pitch_scratch.h"

namespace {

using fuzz::ByteReader;

constexpr const char *target = "dsp";

constexpr double inf = std::numeric_limits<double>::infinity();

constexpr int fft_lengths[] = {1,    2,    3,    4,    5,    6,    7,    8,    9,   10,  11,
                               12,   13,   16,   20,   25,   27,   32,   48,   49,  56,  60,
                               64,   100,  121,  128,  169,  210,  256,  343,  500, 512, 1000,
                               1021, 1024, 1025, 2042, 2048, 4096, 5000, 6561, 8192};
constexpr int pitch_lengths[] = {1491, 1490, 1492, 2048, 4096, 8192, 4124, 2062, 6000, 1500,
                                 0,    -1,   1,    4,    1488, 2042, 3000, 7919, 8191, 16384};
constexpr int pitch_rates[] = {48000, 22050, 96000, 8000, 6900, 6899,   4600,   4599, 2300,
                               2299,  3000,  11025, 0,    -1,   -44100, 192000, 30,   1000000};

bool same_bits(const std::vector<double> &a, const std::vector<double> &b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0);
}

bool all_finite(const std::vector<double> &v) {
    for (double d : v)
        if (!std::isfinite(d))
            return false;
    return true;
}

// Fills v from one of a few shapes; `phase` varies a shape between the real and imaginary parts.
void fill(ByteReader &in, std::vector<double> &v, int phase) {
    const size_t n = v.size();
    const uint8_t kind = in.byte(), p1 = in.byte(), p2 = in.byte();
    std::fill(v.begin(), v.end(), 0.0);
    if (n == 0)
        return;
    switch (kind % 8) {
    case 0: // raw doubles, repeated
        in.repeat(v.data(), n, 1u + p1 % 16u, [&] { return in.raw_double(); });
        break;
    case 1: // 16-bit samples, repeated
        in.repeat(v.data(), n, 1u + p1, [&] { return static_cast<int16_t>(in.u16()) / 32768.0; });
        break;
    case 2: // an impulse
        v[(p1 * 256u + p2) % n] = 1.0 + phase;
        break;
    case 3: { // a single-bin carrier, exact in angle
        const uint64_t bin = p1 * 256u + p2;
        for (size_t i = 0; i < n; i++) {
            const long double a = 2.0L * 3.14159265358979323846264338327950288L *
                                  static_cast<long double>((bin * i) % n) / n;
            v[i] = static_cast<double>(phase ? -sinl(a) : cosl(a));
        }
        break;
    }
    case 4: // a constant
        std::fill(v.begin(), v.end(), fuzz::special_floats[p1 % std::size(fuzz::special_floats)]);
        break;
    case 5: { // noise, scaled by a power of two
        uint32_t state = p2 * 2654435761u + 1u + static_cast<uint32_t>(phase);
        const double scale = std::ldexp(1.0, p1 % 64 - 32);
        for (double &d : v) {
            state = state * 1664525u + 1013904223u;
            d = scale * (static_cast<double>(state >> 8) / 8388608.0 - 1.0);
        }
        break;
    }
    case 6:   // a decaying sine
    case 7: { // the same with a special value sprinkled in
        const double freq = 0.001 + p1 / 600.0;
        for (size_t i = 0; i < n; i++)
            v[i] = std::exp(-static_cast<double>(i) / (1.0 + p2 * 64.0)) *
                   std::sin(6.283185307179586 * freq * static_cast<double>(i));
        if (kind % 8 == 7) {
            const float special = fuzz::chosen_float(in);
            for (size_t i = p2 % n; i < n; i += 1 + p1 * 37u)
                v[i] = special;
        }
        break;
    }
    }
}

// Length from the table or raw, moved down to the nearest length the transform takes.
int fft_length(ByteReader &in) {
    int n = in.pick(fft_lengths, 192, [&] { return 1 + in.u16() % 8192; });
    while (!dsp::fft_length_supported(n))
        n--;
    return n;
}

// The n-th roots of unity e^(-2 pi i j / n) in long double.
struct Roots {
    std::vector<long double> re, im;
    explicit Roots(size_t n) : re(n), im(n) {
        const long double two_pi = 2.0L * 3.14159265358979323846264338327950288L;
        for (size_t j = 0; j < n; j++) {
            const long double a = two_pi * static_cast<long double>(j) / n;
            re[j] = cosl(a);
            im[j] = -sinl(a);
        }
    }
};

// X[k] by a direct sum in long double, the angle reduced exactly as (m * k) mod n.
void direct_bin(const std::vector<double> &re, const std::vector<double> &im, const Roots &w,
                size_t k, long double &out_re, long double &out_im) {
    const size_t n = re.size();
    long double sr = 0, si = 0;
    for (size_t m = 0; m < n; m++) {
        const size_t j = (m * k) % n;
        sr += re[m] * w.re[j] - im[m] * w.im[j];
        si += re[m] * w.im[j] + im[m] * w.re[j];
    }
    out_re = sr;
    out_im = si;
}

void check_fft(ByteReader &in) {
    const int n = fft_length(in);
    const size_t count = static_cast<size_t>(n);
    std::vector<double> re(count), im(count);
    fill(in, re, 0);
    fill(in, im, 1);
    // Written everywhere: a leftover of this pattern would show an element never written. An
    // input holding the pattern itself (N = 1 copies it through) would pass for one.
    const double unwritten = std::bit_cast<double>(uint64_t{0x7ff4dead0000beefu});
    for (std::vector<double> *part : {&re, &im})
        for (double &v : *part)
            if (std::bit_cast<uint64_t>(v) == std::bit_cast<uint64_t>(unwritten))
                v = 0;
    const std::vector<double> re_kept = re, im_kept = im;
    std::vector<double> out_re(count, unwritten), out_im(count, unwritten);

    dsp::fft_transform(signals::test_workspace(), n, re.data(), im.data(), out_re.data(),
                       out_im.data());

    if (!same_bits(re, re_kept) || !same_bits(im, im_kept))
        fuzz::violated(target, "fft_transform(%d) changed its input", n);
    for (size_t k = 0; k < count; k++)
        if (std::bit_cast<uint64_t>(out_re[k]) == std::bit_cast<uint64_t>(unwritten) ||
            std::bit_cast<uint64_t>(out_im[k]) == std::bit_cast<uint64_t>(unwritten))
            fuzz::violated(target, "fft_transform(%d) left bin %zu unwritten", n, k);

    // Accuracy only where the sums cannot overflow.
    long double energy = 0;
    for (size_t m = 0; m < count; m++) {
        if (!std::isfinite(re[m]) || !std::isfinite(im[m]) || std::fabs(re[m]) > 1e150 ||
            std::fabs(im[m]) > 1e150)
            return;
        energy += static_cast<long double>(re[m]) * re[m] + static_cast<long double>(im[m]) * im[m];
    }
    if (!all_finite(out_re) || !all_finite(out_im))
        fuzz::violated(target, "fft_transform(%d) of finite input gave a non-finite bin", n);
    // The spectrum's norm is sqrt(n * energy) (Parseval). Rounding of an FFT grows with log n
    // and, for a prime radix R, with R; 1e-10 of the norm leaves room for both and still catches
    // any misplaced, mis-rotated or missing term of a bin that matters.
    const long double norm = sqrtl(static_cast<long double>(n) * energy);
    const long double tolerance = 1e-10L * norm + 1e-300L;
    const Roots roots(count);
    auto check_bin = [&](size_t k) {
        long double dr, di;
        direct_bin(re, im, roots, k, dr, di);
        const long double err = hypotl(out_re[k] - dr, out_im[k] - di);
        if (!(err <= tolerance))
            fuzz::violated(
                target,
                "fft_transform(%d) bin %zu is (%.17g, %.17g), direct DFT (%.17Lg, %.17Lg); "
                "error %.3Lg over norm %.3Lg",
                n, k, out_re[k], out_im[k], dr, di, err, norm);
    };
    if (n <= 256) {
        for (size_t k = 0; k < count; k++)
            check_bin(k);
    } else {
        check_bin(0);
        check_bin(count - 1);
        for (int i = 0; i < 4; i++)
            check_bin(in.u16() % count);
        long double spectrum = 0;
        for (size_t k = 0; k < count; k++)
            spectrum += static_cast<long double>(out_re[k]) * out_re[k] +
                        static_cast<long double>(out_im[k]) * out_im[k];
        const long double expected = static_cast<long double>(n) * energy;
        if (!(fabsl(spectrum - expected) <= 1e-9L * expected + 1e-300L))
            fuzz::violated(target,
                           "fft_transform(%d): spectrum energy %.17Lg, n times input energy %.17Lg",
                           n, spectrum, expected);
    }
}

void check_pitch(ByteReader &in) {
    // Mostly the analyser's rate; other rates from a table, or raw.
    const uint8_t rate_sel = in.byte();
    const int sr = rate_sel < 128   ? 44100
                   : rate_sel < 240 ? pitch_rates[rate_sel % std::size(pitch_rates)]
                                    : static_cast<int>(in.u32());
    const int n = in.pick(pitch_lengths, 192, [&] { return in.u16() % 16385; });
    std::vector<double> samples(n > 0 ? static_cast<size_t>(n) : 0);
    fill(in, samples, 0);
    const std::vector<double> kept = samples;

    const double f0 = signals::estimate_pitch(samples.data(), sr, n);

    if (!same_bits(samples, kept))
        fuzz::violated(target, "estimate_pitch(sr %d, N %d) changed its samples", sr, n);
    if (std::isnan(f0))
        fuzz::violated(target, "estimate_pitch(sr %d, N %d) returned NaN", sr, n);
    if (f0 == inf)
        return;
    if (n < dsp::pitch_min_samples(sr) || !dsp::fft_length_supported(n))
        fuzz::violated(
            target, "estimate_pitch(sr %d, N %d) returned %.17g where it has no period to measure",
            sr, n, f0);
    // The period is lo + pos - 1 + offset with pos in 0..width-1 and the offset in [-1, 1].
    const int lo = dsp::pitch_lag_below(sr), width = dsp::pitch_lag_count(sr);
    const double lowest = sr / static_cast<double>(lo + width - 1);
    const double highest = lo > 2 ? sr / static_cast<double>(lo - 2) : inf;
    if (!(f0 > 0 && f0 >= lowest && f0 <= highest))
        fuzz::violated(target, "estimate_pitch(sr %d, N %d) returned %.17g, outside [%.17g, %.17g]",
                       sr, n, f0, lowest, highest);
}

void check_plan(ByteReader &in) {
    const int n = static_cast<int>(in.u32());
    int radices[dsp::fft_max_stages + 1];
    const int count = dsp::fft_split_length(n, radices);
    if (n < 1) {
        if (count != 0 || dsp::fft_length_supported(n))
            fuzz::violated(target, "length %d planned with %d stages", n, count);
        return;
    }
    if (count < 1 || count > dsp::fft_max_stages)
        fuzz::violated(target, "length %d planned with %d stages", n, count);
    int64_t product = 1;
    int largest = 0;
    for (int i = 0; i < count; i++) {
        if (radices[i] < 1 || (radices[i] == 1 && n != 1))
            fuzz::violated(target, "length %d: radix %d in stage %d", n, radices[i], i + 1);
        product *= radices[i];
        if (product > n)
            fuzz::violated(target, "length %d: radices multiply past it", n);
        largest = std::max(largest, radices[i]);
    }
    if (product != n)
        fuzz::violated(target, "length %d: radices multiply to %" PRId64, n, product);
    if (largest > 10 && radices[0] != largest)
        fuzz::violated(target, "length %d: radix %d runs before the largest, %d", n, radices[0],
                       largest);
    // Supported exactly when no prime factor is above the limit.
    int m = n, biggest_prime = 1;
    for (int k = 2; k <= m / k; k++)
        while (m % k == 0) {
            biggest_prime = k;
            m /= k;
        }
    if (m > 1)
        biggest_prime = std::max(biggest_prime, m);
    if (dsp::fft_length_supported(n) != (biggest_prime <= dsp::maxPrimeFactor))
        fuzz::violated(target, "length %d (largest prime factor %d): supported says %d", n,
                       biggest_prime, dsp::fft_length_supported(n));
}

void check_numeric(ByteReader &in) {
    const int n = in.byte() % 64 + (in.byte() % 4 == 0 ? in.u16() % 3000 : 0);
    std::vector<double> x(static_cast<size_t>(n));
    fill(in, x, 0);
    const std::vector<double> kept = x;
    std::vector<double> r(static_cast<size_t>(n) + 1, 12345.0);
    dsp::autocorr_direct(x.data(), r.data(), n);
    if (!same_bits(x, kept))
        fuzz::violated(target, "autocorr_direct(%d) changed its input", n);
    if (r[static_cast<size_t>(n)] != 12345.0)
        fuzz::violated(target, "autocorr_direct(%d) wrote past its output", n);
    for (int k = 0; k < n; k++) {
        double sum = 0;
        for (int j = 0; j < n - k; j++)
            sum = x[static_cast<size_t>(j)] * x[static_cast<size_t>(j + k)] + sum;
        const double got = r[static_cast<size_t>(k)];
        if (std::bit_cast<uint64_t>(sum) != std::bit_cast<uint64_t>(got) &&
            !(std::isnan(sum) && std::isnan(got)))
            fuzz::violated(target, "autocorr_direct(%d) lag %d: %.17g, plain sum %.17g", n, k, got,
                           sum);
    }

    const int index = dsp::argmax_index(x.data(), n);
    if (n > 0) {
        if (index < 0 || index >= n)
            fuzz::violated(target, "argmax_index(%d) = %d", n, index);
        for (int i = 0; i < n; i++)
            if (x[static_cast<size_t>(i)] > x[static_cast<size_t>(index)] &&
                !std::isnan(x[static_cast<size_t>(index)]))
                fuzz::violated(target, "argmax_index(%d) = %d, but x[%d] is larger", n, index, i);
    } else if (index != 0) {
        fuzz::violated(target, "argmax_index(%d) = %d", n, index);
    }

    for (int i = 0; i + 3 <= n; i++) {
        const double p = dsp::parabolic_offset(x.data() + i);
        if (!(p >= -1 && p <= 1))
            fuzz::violated(target, "parabolic_offset(%.17g, %.17g, %.17g) = %.17g",
                           x[static_cast<size_t>(i)], x[static_cast<size_t>(i + 1)],
                           x[static_cast<size_t>(i + 2)], p);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    ByteReader in(data, size);
    switch (in.byte() % 4) {
    case 0:
        check_fft(in);
        break;
    case 1:
        check_pitch(in);
        break;
    case 2:
        check_plan(in);
        break;
    default:
        check_numeric(in);
        break;
    }
    return 0;
}
