#include "dsp/pitch.h"

#include <limits>

#include "dsp/fft.h"
#include "dsp/numeric.h"

namespace dsp {

double estimate_pitch(const double *samples, int sr, int N, double *work, fft_workspace &ws) {
    constexpr double no_pitch = std::numeric_limits<double>::infinity();
    const int lo = pitch_lag_below(sr);
    const int width = pitch_lag_count(sr);
    // The search reads r[lo + 1 .. lo + width] and the refinement r[lo + pos - 1 ..]: both stay
    // inside r[0..N-1] only for lo >= 1 and N > lo + width.
    if (lo < 1 || N < pitch_min_samples(sr))
        return no_pitch;
    // Pd's blocks are powers of two, but a capture of any other length must not end the host
    // through the transform's fatal stop: it has no pitch to report either.
    if (!fft_length_supported(N))
        return no_pitch;

    const auto n = static_cast<std::size_t>(N);
    const fft_arrays a = fft_arrays_in(work, N);
    double *in_re = a.in_re, *in_im = a.in_im, *out_re = a.out_re, *out_im = a.out_im;

    for (std::size_t i = 0; i < n; i++) {
        in_re[i] = samples[i];
        in_im[i] = 0;
    }
    fft_transform(ws, N, in_re, in_im, out_re, out_im);
    for (std::size_t i = 0; i < n; i++) {
        in_re[i] = out_re[i] * out_re[i] + out_im[i] * out_im[i];
        in_im[i] = 0;
    }
    // r = out_re is N times the circular autocorrelation; the scale changes neither search.
    fft_transform(ws, N, in_re, in_im, out_re, out_im);
    const double *r = out_re;

    const int pos = argmax_index(r + lo + 1, width);
    // The three values end at the maximum (lag lo + 1 + pos) and the period is taken two samples
    // short of it: the estimate the shape ratio has always been computed from (see pitch.h).
    const double three[3] = {r[lo + pos - 1], r[lo + pos], r[lo + pos + 1]};
    const double delta = parabolic_offset(three);
    const double period = static_cast<double>(lo) + static_cast<double>(pos - 1) + delta;

    // At least lo - 2 samples, so positive from 6900 Hz up. Below, lo is 1 or 2 and a maximum at
    // the first lag searched can leave the period at 0 or, by rounding, just below it: a period
    // that is not positive measures nothing, and a negative frequency would pass every "above
    // 1500 Hz" test of the caller.
    if (!(period > 0))
        return no_pitch;
    return sr / period;
}

} // namespace dsp
