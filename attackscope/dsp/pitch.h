// Fundamental-frequency estimate from the circular autocorrelation of a capture.
#pragma once

#include <cstddef>

#include "dsp/fft.h"

namespace dsp {

// The lags the estimator searches, from the sample rate: periods of pitch_highest_hz down to
// pitch_lowest_hz.
// Well above the 1500 Hz beyond which the analyser drops events, so pitches near that limit
// still have lags on both sides of their maximum.
inline constexpr int pitch_highest_hz = 2300;
// Just below the lowest plucked note there is (a five-string bass's low B, 30.9 Hz).
inline constexpr int pitch_lowest_hz = 30;
// The lag below the first one searched: lo in the estimate below.
constexpr int pitch_lag_below(int sr) {
    return sr / pitch_highest_hz;
}
// How many lags are searched: width in the estimate below.
constexpr int pitch_lag_count(int sr) {
    return sr / pitch_lowest_hz + 1;
}

// Estimates the fundamental frequency, in Hz, of samples[0..N-1] taken at sr Hz, from the largest
// circular autocorrelation value (two transforms, no window, no zero padding) over the lags
// lo + 1 .. lo + width (lo = pitch_lag_below(sr), width = pitch_lag_count(sr): 20..1490 samples at
// 44100 Hz), refined by a parabola through the three values that end at that maximum; the period
// used is lo + pos - 1 + offset samples, pos counting from lag lo + 1. That is two samples short
// of the maximum's lag, so the estimate runs high (450 Hz for a 441 Hz tone): the shape ratio is
// computed from exactly this estimate, and bit-exact with tests/dsp/pitch_test.cpp's plain one.
// No measurable period gives +infinity, above any pitch the analyser accepts: captures too short
// for the lag range (N < lo + width + 1; 1491 at 44100 Hz), sample rates below 2300 Hz (no lag
// below the search to refine with), a period of 0 samples or less (possible only below 6900 Hz),
// and lengths the transform cannot take (a prime factor above 1024; four blocks of a power-of-two
// length never have one).
// Reads samples only; the caller owns them. work holds pitch_work_size(N) doubles of scratch and
// ws is the transforms' workspace, both owned by the caller. Allocates nothing and may run on the
// audio thread; calls with their own work and ws may run at once in any threads.
double estimate_pitch(const double *samples, int sr, int N, double *work, fft_workspace &ws);

// Doubles of scratch estimate_pitch needs for N samples: the four arrays of its transforms.
constexpr std::size_t pitch_work_size(int N) {
    return fft_arrays_size(N);
}

// The shortest capture, in samples, in which estimate_pitch searches for a period at rate sr:
// lo + width + 1 (1491 at 44100 Hz).
constexpr int pitch_min_samples(int sr) {
    return pitch_lag_below(sr) + pitch_lag_count(sr) + 1;
}

} // namespace dsp
